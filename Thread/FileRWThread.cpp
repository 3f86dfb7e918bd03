#include "Thread/FileRWThread.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTimer>

#include <new>

#include "FileRW/FileReaderWriter.h"
#include "FileRW/ProjectFile.h"
#include "app/QsLog.h"
#include "platform/Platform.h"
#include "scene/AppData.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/MeshModel.h"
#include "scene/SceneBudget.h"

std::atomic<bool> g_saveDone{false};

namespace {
FileRWThread::PrintTaskReader& printTaskReader()
{
    static FileRWThread::PrintTaskReader reader;
    return reader;
}

QString lowerSuffix(const QString& path)
{
    return QFileInfo(path).suffix().toLower();
}

bool isPicture(const QString& suffix)
{
    return suffix == QLatin1String("bmp") || suffix == QLatin1String("png") || suffix == QLatin1String("jpg");
}
} // namespace

// What a request produced on the worker, waiting to be committed on the GUI thread.
struct FileRWThread::Result
{
    bool success = false;
    QString reason; // a failed load's reason for the user
    bool modelLimit = false; // refused for the number of models it adds
    std::vector<LoadedModel> loaded;
    std::unique_ptr<ProjectData> project;
};

FileRWThread::FileRWThread(QObject* parent)
    : QThread(parent)
{
    timer = new QTimer(this);
    rw = new FileReaderWriter;
    connect(timer, &QTimer::timeout, this, &FileRWThread::reportProgress);
    connect(rw, &FileReaderWriter::signPrintMessage, this, &FileRWThread::signPrintMessage);
    connect(rw, &FileReaderWriter::signSendGcodeReady, this, &FileRWThread::signSendGcodeReady);
}

FileRWThread::~FileRWThread()
{
    stopThread();
    delete rw;
}

void FileRWThread::setPrintTaskReader(PrintTaskReader reader)
{
    printTaskReader() = std::move(reader);
}

std::string FileRWThread::modelName(const QString& path)
{
    QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return name.toLocal8Bit().toStdString();
}

quint64 FileRWThread::enqueue(Request r)
{
    quint64 id = 0;
    {
        QMutexLocker lock(&mutex);
        if (quitting)
            return 0;
        id = r.id = nextId++;
        queue.push_back(std::move(r));
        wake.wakeOne();
    }
    startWork();
    return id;
}

void FileRWThread::startWork()
{
    if (!timer->isActive())
        timer->start(Platform::scaledMs(100));
    if (!isRunning())
        start(QThread::InheritPriority);
}

void FileRWThread::loadFile(const QString& path, bool replacesScene)
{
    Request r;
    r.status.filePath = path;
    r.status.load = true;
    r.replacesScene = replacesScene;
    r.reliefParams = AppData::instance()->getReliefParameters();
    enqueue(std::move(r));
}

void FileRWThread::loadFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        loadFile(path);
        if (path.right(3).compare(QLatin1String("BVT"), Qt::CaseInsensitive) == 0)
            break; // a print-task file replaces the scene: nothing after it
    }
}

quint64 FileRWThread::saveFile(const QString& path, quint64 mesh)
{
    Request r;
    r.status.filePath = path;
    r.status.load = false;
    r.status.mesh = mesh;
    // The save works on its own copy: the scene may change or free the mesh meanwhile.
    if (lowerSuffix(path) == QLatin1String("brev")) {
        r.project = std::make_shared<ProjectData>();
        ProjectFile::snapshot(*r.project);
    } else if (mesh) {
        const auto* m = reinterpret_cast<const MeshData*>(mesh);
        r.mesh = std::make_shared<MeshData>();
        r.mesh->vertices = m->vertices;
        r.mesh->faces = m->faces;
    }
    return enqueue(std::move(r));
}

bool FileRWThread::saveFileAndWait(const QString& path, quint64 mesh)
{
    QEventLoop loop;
    bool result = false;
    quint64 id = 0;
    // Connected before queuing: the finished report comes through this thread's event loop.
    auto c = connect(this, &FileRWThread::signRequestDone, &loop, [&](quint64 done, bool ok) {
        if (done == id) {
            result = ok;
            loop.quit();
        }
    });
    id = saveFile(path, mesh);
    if (id != 0)
        loop.exec();
    disconnect(c);
    return result;
}

void FileRWThread::cancelLoads()
{
    std::vector<Request> dropped;
    {
        QMutexLocker lock(&mutex);
        for (auto it = queue.begin(); it != queue.end();) {
            if (it->status.load) {
                dropped.push_back(std::move(*it));
                it = queue.erase(it);
            } else {
                ++it;
            }
        }
        if (busy && current.load)
            rw->cancelled = true;
    }
    for (const Request& r : dropped)
        finish(r, std::make_shared<Result>());
}

void FileRWThread::stopThread()
{
    {
        QMutexLocker lock(&mutex);
        quitting = true;
        for (auto it = queue.begin(); it != queue.end();)
            it = it->status.load ? queue.erase(it) : it + 1;
        if (busy && current.load)
            rw->cancelled = true;
        wake.wakeAll();
    }
    wait();
    stopped = true;
    timer->stop();
}

void FileRWThread::run()
{
    for (;;) {
        Request r;
        {
            QMutexLocker lock(&mutex);
            while (queue.empty() && !quitting)
                wake.wait(&mutex);
            if (queue.empty())
                return;
            r = std::move(queue.front());
            queue.pop_front();
            busy = true;
            startReported = false;
            currentId = r.id;
            current = r.status;
            rw->cancelled = false;
            rw->progress = 0;
        }
        rw->models.clear();
        const FileRWStatus startStatus = r.status;
        const quint64 id = r.id;
        QMetaObject::invokeMethod(this, [this, id, startStatus]() { started(id, startStatus); }, Qt::QueuedConnection);

        auto result = std::make_shared<Result>();
        try {
            process(r, *result);
        } catch (const std::bad_alloc&) {
            QLOG_INFO() << "Thread\\FileRWThread@" << __LINE__ << "out of memory with" << r.status.filePath;
            *result = Result();
            result->reason = FileReaderWriter::outOfMemoryReason();
        }
        {
            QMutexLocker lock(&mutex);
            busy = false;
        }
        auto request = std::make_shared<Request>(std::move(r));
        QMetaObject::invokeMethod(this, [this, request, result]() { finish(*request, result); }, Qt::QueuedConnection);
    }
}

void FileRWThread::process(const Request& r, Result& out)
{
    const QString& path = r.status.filePath;
    const QString suffix = lowerSuffix(path);
    if (!r.status.load) {
        if (suffix == QLatin1String("brev"))
            out.success = r.project && rw->saveProject(path, *r.project);
        else
            out.success = r.mesh && rw->saveMesh(path, r.mesh.get());
        if (!out.success)
            out.reason = rw->failureReason;
        return;
    }
    rw->failureReason.clear();
    rw->overModelLimit = false;
    if (suffix == QLatin1String("3mf")) {
        out.success = rw->load3mf(path, out.loaded);
    } else if (suffix == QLatin1String("brev")) {
        out.project = std::make_unique<ProjectData>();
        out.success = rw->loadProject(path, *out.project);
    } else if (suffix == QLatin1String("bvt")) {
        const PrintTaskReader& reader = printTaskReader();
        try {
            out.success = reader && reader(*rw, path);
        } catch (...) {
            out.success = false;
        }
        if (!reader) {
            QLOG_INFO() << "Thread\\FileRWThread@" << __LINE__ << "no print-task reader for" << path;
        }
    } else {
        rw->reliefParams = r.reliefParams;
        auto mesh = std::make_unique<MeshData>();
        if (rw->loadMesh(path, mesh.get()) && !rw->cancelled) {
            rw->progress = 9950; // the face tree
            out.loaded.push_back(LoadedModel::fromMesh(std::move(mesh), modelName(path), &rw->cancelled, &rw->failureReason));
            out.success = out.loaded.back().isValid();
        }
        if (!out.success)
            out.loaded.clear();
    }
    if (!out.success) {
        out.reason = rw->failureReason;
        out.modelLimit = rw->overModelLimit;
    }
    if (rw->cancelled) {
        out = Result();
    }
}

void FileRWThread::started(quint64 id, FileRWStatus status)
{
    {
        QMutexLocker lock(&mutex);
        if (busy && currentId == id)
            startReported = true;
    }
    emit StatusChanged(status);
}

void FileRWThread::finish(const Request& r, const std::shared_ptr<Result>& result)
{
    if (stopped)
        return; // shutting down: the detached results are simply freed
    FileRWStatus status = r.status;
    status.success = result->success;
    status.reason = result->reason;
    status.modelLimit = result->modelLimit;
    status.finished = true;
    status.progress = 10000;
    const QString suffix = lowerSuffix(status.filePath);
    // Every route a file comes by meets here: what it adds must fit the plate as it will be,
    // and a refused load leaves the scene as it is.
    const qint64 adding = result->project ? qint64(result->project->models.size()) : qint64(result->loaded.size());
    const qint64 inScene = r.replacesScene ? 0 : qint64(AppData::instance()->modelCount());
    if (status.load && result->success && !SceneBudget::admitsModels(inScene, adding, &status.reason)) {
        status.success = false;
        status.modelLimit = true;
    } else if (status.load && result->success) {
        if (r.replacesScene)
            emit signReplaceScene();
        if (result->project) {
            std::vector<MeshModel*> added;
            ProjectFile::commit(*result->project, &added);
        }
        MeshData* single = result->loaded.size() == 1 && suffix != QLatin1String("3mf") ? result->loaded[0].mesh.get() : nullptr;
        const std::vector<MeshModel*> added = LoadedModel::commitAll(result->loaded);
        if (single && !added.empty())
            status.mesh = reinterpret_cast<quint64>(single);
        for (MeshModel* m : added) {
            status.models.push_back(m);
            if (isPicture(suffix)) {
                // A relief is built in grid cells: turn it and bring it to the relief length.
                m->setAxisRotation(2, 270.0);
                const double length = r.reliefParams[2];
                if (m->size[0] > 0.0)
                    m->setScale(m->scale[0] * length / m->size[0]);
                const auto bc = m->getBottomCenter();
                const double delta[3] = {-double(bc[0]), -double(bc[1]), -double(bc[2])};
                m->translate(delta);
                m->fitPending = 0;
                const auto moved = m->getBottomCenter();
                QLOG_INFO() << "Thread\\FileRWThread@" << __LINE__ << "relief bottom centre" << moved[0]
                            << moved[1] << moved[2];
            }
        }
    }
    if (!status.load)
        g_saveDone = true;
    emit StatusChanged(status);
    emit signRequestDone(r.id, status.success);
}

void FileRWThread::reportProgress()
{
    FileRWStatus status;
    {
        QMutexLocker lock(&mutex);
        if (!busy) {
            if (queue.empty())
                timer->stop();
            return;
        }
        if (!startReported)
            return;
        current.progress = rw->getProgress();
        status = current;
    }
    emit StatusChanged(status);
}
