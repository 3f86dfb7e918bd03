#include "Thread/ThreadPool.h"

#include "FileRW/BVTReader.h"
#include "FileRW/CheckedWriter.h"
#include "FileRW/SafeFileName.h"
#include "Thread/SliceSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QWidget>

#include "Thread/CommunicateThread.h"
#include "Thread/FDMSliceProcess.h"
#include "UI/BrevMessageBox.h"
#include "app/QsLog.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

#include <cmath>

namespace {
ThreadPool* g_threadPool = nullptr;

QString lowerSuffix(const QString& path)
{
    return QFileInfo(path).suffix().toLower();
}

QString fileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}
} // namespace

ThreadPool* ThreadPool::instance()
{
    return g_threadPool;
}

ThreadPool::ThreadPool(QWidget* mainWindow)
    : QObject(nullptr)
    , m_mainWindow(mainWindow)
{
    g_threadPool = this;

    // Print-task files are read back for the preview by the print-task reader.
    FileRWThread::setPrintTaskReader(&BVTReader::loadForFileWorker);
    m_fileWorker = new FileRWThread(mainWindow);

    m_sliceThread = new QThread(this);
    m_sliceWorker = new FDMSliceProcess();
    m_sliceWorker->moveToThread(m_sliceThread);
    // The worker goes with its thread: deleted on that thread as the thread ends.
    connect(m_sliceThread, &QThread::finished, m_sliceWorker, &QObject::deleteLater);
    m_sliceThread->start(QThread::InheritPriority);
    connect(this, &ThreadPool::signSlice, m_sliceWorker, &FDMSliceProcess::slice);
    connect(this, &ThreadPool::signSliceKill, m_sliceWorker, &FDMSliceProcess::Kill,
            Qt::BlockingQueuedConnection);

    m_linkThread = new QThread(this);
    m_linkWorker = new CommunicateThread();
    m_linkWorker->moveToThread(m_linkThread);
    connect(m_linkThread, &QThread::finished, m_linkWorker, &QObject::deleteLater);
    m_linkThread->start(QThread::InheritPriority);
    connect(this, &ThreadPool::signStopCommunicateThread, m_linkWorker, &CommunicateThread::stop,
            Qt::BlockingQueuedConnection);

    registerSignalTypes();

    connect(m_fileWorker, &FileRWThread::StatusChanged, this, &ThreadPool::on_fileRWThread_StatusChanged);
    connect(m_sliceWorker, &FDMSliceProcess::progressChanged, this, &ThreadPool::slotSliceChanged);
    connect(m_linkWorker, &CommunicateThread::linkStatus, this, &ThreadPool::slotLink, Qt::QueuedConnection);
    connect(m_linkWorker, &CommunicateThread::sendBVTStatusChanged, this, &ThreadPool::on_SendGcode_StatusChanged,
            Qt::QueuedConnection);
    connect(this, &ThreadPool::signBeginSendBVT, m_linkWorker, &CommunicateThread::BVTProcessing,
            Qt::QueuedConnection);
    connect(m_sliceWorker, &FDMSliceProcess::FDMerror, this, &ThreadPool::onSliceFailed, Qt::QueuedConnection);
    connect(this, &ThreadPool::signBeginPrint, m_linkWorker, &CommunicateThread::beginPrint, Qt::QueuedConnection);
    connect(m_linkWorker, &CommunicateThread::signPX5_1LevelingStatus, this, &ThreadPool::slotPX5_1LevelingStatus,
            Qt::QueuedConnection);
    connect(m_linkWorker, &CommunicateThread::signPX6LevelingStatus, this, &ThreadPool::slotPX6LevelingStatus,
            Qt::QueuedConnection);
    connect(m_linkWorker, &CommunicateThread::errorMessage, this, &ThreadPool::showErrorBox, Qt::QueuedConnection);
}

ThreadPool::~ThreadPool()
{
    stopThreads();
    if (m_fileWorker) {
        m_fileWorker->wait();
        delete m_fileWorker;
    }
    if (g_threadPool == this)
        g_threadPool = nullptr;
}

QString ThreadPool::printFilePath() const
{
    QMutexLocker lock(&m_pathMutex);
    return m_printFilePath;
}

void ThreadPool::setPrintFilePath(const QString& path)
{
    QMutexLocker lock(&m_pathMutex);
    m_printFilePath = path;
}

void ThreadPool::setPrintFile(int kind, QString path)
{
    m_taskKind = kind;
    m_slicedFromPlate = false;
    setPrintFilePath(path);
}

bool ThreadPool::sliceIsStale() const
{
    return m_slicedFromPlate && m_sliceRevision != AppData::instance()->plateRevision();
}

bool ThreadPool::sliceMayBePrinted()
{
    if (!sliceIsStale())
        return true;
    QLOG_WARN() << "Thread\\ThreadPool @" << __LINE__ << "the plate changed after slicing; the slice is dropped";
    emit signStaleSlice();
    return false;
}

void ThreadPool::startSlice(int kind, QString path)
{
    m_taskKind = kind;
    if (path.isEmpty()) {
        AppData* data = AppData::instance();
        // The model's name may come from a project file: it names the file, never its folder.
        const QString name =
            safeFileName(QString::fromLocal8Bit(data->getSelectedModelName().c_str()), QStringLiteral("3DPRINT"));
        const QString gco = data->getSettingsDir() + "/gco";
        QDir().mkpath(gco);
        path = QStringLiteral("%1/%2.BVT").arg(gco, name);
    }
    setPrintFilePath(path);
    // The worker slices what the scene is now, never the live scene.
    m_sliceWorker->setSnapshot(SliceSnapshot::take(path));
    m_slicedFromPlate = true;
    m_sliceRevision = AppData::instance()->plateRevision();
    // Slicing from here on, not from the engine's first report: the plate stays as it is
    // while the worker writes the engine's input.
    m_busy = true;
    m_progress = 0;
    m_taskState = Slicing;
    emit signSlice();
    emit ThreadStatusChanged();
}

void ThreadPool::killSlice()
{
    emit signSliceKill();
}

void ThreadPool::stopThreads()
{
    if (m_fileWorker)
        m_fileWorker->stopThread();
    if (m_linkThread) {
        emit signStopCommunicateThread();
        m_linkThread->quit();
        m_linkThread->wait();
        delete m_linkThread;
        m_linkThread = nullptr;
        m_linkWorker = nullptr; // deleted on its thread as the thread ended
    }
    if (m_sliceThread) {
        emit signSliceKill();
        m_sliceThread->quit();
        m_sliceThread->wait();
        delete m_sliceThread;
        m_sliceThread = nullptr;
        m_sliceWorker = nullptr;
    }
}

void ThreadPool::slotSliceChanged(int p)
{
    m_progress = p;
    if (p == 10000) {
        m_busy = true;
        m_taskState = PrintFileReady;
        m_printFile = 1;
        if (m_fileWorker)
            m_fileWorker->loadFile(printFilePath());
    } else if (p < 0) {
        m_progress = 10000;
        m_busy = false;
        m_taskState = Idle;
    } else {
        m_busy = true;
        m_taskState = Slicing;
    }
    emit ThreadStatusChanged();
}

void ThreadPool::on_fileRWThread_StatusChanged(FileRWStatus s)
{
    const QString suffix = lowerSuffix(s.filePath);
    m_busy = !s.finished;
    m_progress = s.progress;
    m_taskState = Idle;

    if (!s.finished) {
        if (s.load) {
            m_taskState = suffix == QLatin1String("bvt") ? PrintFileReady : LoadingModel;
        } else {
            m_progress = 10000;
            m_taskState = Idle;
        }
        emit ThreadStatusChanged();
        return;
    }

    if (!s.load) {
        emit ThreadStatusChanged();
        if (s.success) {
            BrevMessageBox box(36, m_mainWindow, s.filePath);
            box.exec();
        } else {
            // A failed save must not read as a success, and says what failed.
            BrevMessageBox box(1, m_mainWindow, s.filePath);
            box.setText(tr("Fail to save the file!"));
            box.addReason(s.reason);
            box.exec();
        }
        m_taskState = Idle;
        return;
    }

    if (!s.success) {
        BrevMessageBox box(s.modelLimit ? 12 : 1, m_mainWindow, s.filePath);
        box.addReason(s.reason);
        box.exec();
        if (suffix == QLatin1String("bvt"))
            m_printFile = 0;
        emit ThreadStatusChanged();
        return;
    }

    if (suffix == QLatin1String("brev")) {
        emit ThreadStatusChanged();
        return;
    }

    if (suffix == QLatin1String("bvt")) {
        m_printFile = 1;
        emit SliceViewSign();
        emit ThreadStatusChanged();
        if (m_taskKind == TaskExport) {
            BrevMessageBox box(28, m_mainWindow);
            box.exec();
        } else if (m_taskKind == TaskPrint) {
            offerSending();
        }
        emit ThreadStatusChanged();
        return;
    }

    emit ThreadStatusChanged();
    placeLoadedModels(s, suffix);
    emit ThreadStatusChanged();
}

void ThreadPool::offerSending()
{
    BrevMessageBox box(29, m_mainWindow);
    if (box.exec() != 1 || !sliceMayBePrinted())
        return;
    const QString path = printFilePath();
    emit signBeginSendBVT(path);
    copyIntoProgramGco(path);
}

void ThreadPool::copyIntoProgramGco(const QString& path)
{
    AppData* data = AppData::instance();
    const QString programGco = data->getAppDir() + "/gco";
    const int slash = path.lastIndexOf('/');
    const QString folder = slash >= 0 ? path.left(slash) : QString();
    const QString name = fileNamePart(path);
    if (name.isEmpty())
        return;
    const QString target = programGco + "/" + name;
    // A file already in that folder would be removed before being copied onto itself. The
    // copy replaces an older one only when it is whole; the list names only files that are.
    if (QDir::cleanPath(folder) != QDir::cleanPath(programGco)) {
        QDir().mkpath(programGco);
        QString why;
        if (!CheckedWriter::copy(path, target, &why)) {
            QLOG_WARN() << "Thread\\ThreadPool @" << __LINE__ << "cannot copy" << path << "to" << target << why;
            return;
        }
    }
    data->addRecentFile(name);
}

void ThreadPool::placeLoadedModels(const FileRWStatus& s, const QString& suffix)
{
    bool misplaced = false;
    for (MeshModel* m : s.models) {
        if (!m)
            continue;
        const std::array<float, 3> c = m->getBottomCenter();
        const bool offPlate = std::fabs(double(c[2])) > 0.001;
        const bool offCentre = (c[0] != 0.f || c[1] != 0.f) && !m->isInsideVolume();
        if (offPlate || offCentre) {
            misplaced = true;
            break;
        }
    }
    if (!misplaced)
        return;

    const bool threeMf = suffix == QLatin1String("3mf");
    if (threeMf) {
        BrevMessageBox box(30, m_mainWindow);
        if (box.exec() != 1)
            return;
    }
    for (MeshModel* m : s.models) {
        if (!m)
            continue;
        const std::array<float, 3> c = m->getBottomCenter();
        const double delta[3] = {-double(c[0]), -double(c[1]), -double(c[2])};
        m->translate(delta);
    }
    if (!threeMf)
        AppData::instance()->updateSelectionColours();
}

void ThreadPool::on_SendGcode_StatusChanged(SendBVTStatus s)
{
    m_busy = !s.finished;
    m_progress = s.progress;
    m_taskState = Idle;
    if (s.finished) {
        emit ThreadStatusChanged();
        BrevMessageBox box(39, m_mainWindow);
        if (box.exec() == 1)
            emit signBeginPrint(fileNamePart(printFilePath()));
    } else if (s.failed) {
        m_busy = false;
        m_progress = 10000;
        m_taskState = Idle;
        emit ThreadStatusChanged();
    } else {
        m_taskState = Sending;
        emit ThreadStatusChanged();
    }
}

void ThreadPool::slotLink(bool up)
{
    m_linked = up;
    if (m_taskState == Sending) {
        m_progress = 10000;
        m_taskState = Idle;
        m_busy = false;
    } else if (m_taskState == Leveling) {
        m_taskState = Idle;
        m_busy = false;
    }
    emit ThreadStatusChanged();
}

void ThreadPool::slotPX5_1LevelingStatus(PX5_1LevelingStatus v)
{
    m_progress = 10000;
    if (v == PX5_1Started || v == PX5_1Accepted) {
        m_busy = true;
        m_taskState = Leveling;
    } else if (v == PX5_1Idle || v == PX5_1Ended) {
        m_busy = false;
        m_taskState = Idle;
    }
    emit ThreadStatusChanged();
}

void ThreadPool::slotPX6LevelingStatus(PX6LevelingStatus v)
{
    if (v == PX6Leveling) {
        m_busy = true;
        m_taskState = Leveling;
    } else if (v == PX6Refused || v == PX6EndedFirst || v == PX6EndedSecond) {
        m_busy = false;
        m_taskState = Idle;
    }
    emit ThreadStatusChanged();
}

void ThreadPool::onSliceFailed(const QString& reason)
{
    m_progress = 10000;
    m_busy = false;
    m_taskState = Idle;
    emit ThreadStatusChanged();
    BrevMessageBox box(2, m_mainWindow);
    box.addReason(reason);
    box.exec();
}

void ThreadPool::showErrorBox(Error e)
{
    // At most one open box per error code.
    if (BrevMessageBox::isErrorBoxOpen(int(e)))
        return;
    BrevMessageBox box(e, m_mainWindow);
    box.exec();
}

void ThreadPool::addMeshModel(MeshData* mesh, QString name, bool notify)
{
    if (!mesh)
        return;
    if (QThread::currentThread() == thread()) {
        commitMeshModel(mesh, name, notify);
        return;
    }
    // From a pool thread: hand over to the GUI thread, which shows its wait dialog meanwhile.
    QMutexLocker lock(&m_addMutex);
    QMetaObject::invokeMethod(this, [this, mesh, name, notify] { commitMeshModel(mesh, name, notify); },
                              Qt::BlockingQueuedConnection);
}

void ThreadPool::commitMeshModel(MeshData* mesh, const QString& name, bool notify)
{
    const int slot = MeshList::instance()->add(mesh);
    MeshModel* model = new MeshModel();
    model->setMeshSlot(slot);
    model->setName(name.toLocal8Bit().toStdString());
    AppData::instance()->addModel(model);
    if (notify)
        emit ThreadStatusChanged();
}
