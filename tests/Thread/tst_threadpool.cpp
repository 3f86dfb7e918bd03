#include <QtTest>

#include <QtConcurrent>

#include "Thread/CommunicateThread.h"
#include "Thread/FDMSliceProcess.h"
#include "Thread/FileRWThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "common/TestTime.h"

namespace {

// A 10 mm cube standing with its bottom centre at (x, y, z).
MeshData* cubeAt(double x, double y, double z)
{
    auto* m = new MeshData;
    for (int i = 0; i < 8; ++i)
        m->vertices.push_back({x + ((i & 1) ? 5 : -5), y + ((i & 2) ? 5 : -5), z + ((i & 4) ? 10 : 0)});
    const int f[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                          {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (auto& t : f)
        m->faces.push_back({t[0], t[1], t[2]});
    return m;
}

MeshModel* modelAt(double x, double y, double z, const char* name)
{
    auto* model = new MeshModel;
    model->setMeshSlot(MeshList::instance()->add(cubeAt(x, y, z)));
    model->setName(name);
    AppData::instance()->addModel(model);
    return model;
}

FileRWStatus loadDone(const QString& path, bool success, QVector<MeshModel*> models = {})
{
    FileRWStatus s;
    s.filePath = path;
    s.finished = true;
    s.success = success;
    s.progress = 10000;
    s.models = models;
    return s;
}

// Emits on the worker's own thread, as the real workers do.
template <typename Worker, typename F>
void emitOn(Worker* w, F f)
{
    QMetaObject::invokeMethod(w, f, Qt::BlockingQueuedConnection);
}

} // namespace

class TestThreadPool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void valueTypes();
    void sliceStates_data();
    void sliceStates();
    void sliceFailure();
    void fileProgressStates_data();
    void fileProgressStates();
    void saveResults();
    void failedLoad();
    void printFileReadBack_data();
    void printFileReadBack();
    void printFileAlreadyInProgramFolder();
    void placement_data();
    void placement();
    void sending();
    void linkLoss();
    void leveling_data();
    void leveling();
    void errorBoxOncePerCode();
    void printFilePath_data();
    void printFilePath();
    void addMeshModelFromPoolThread();
    void stopThreads();

private:
    QTemporaryDir dataDir;
    QTemporaryDir programDir;
    ThreadPool* pool = nullptr;
    QList<int> asked;    // kinds asked, error boxes as 1000 + code
    QMap<int, int> answers; // kind -> answer; default 0
};

void TestThreadPool::initTestCase()
{
    QVERIFY(dataDir.isValid() && programDir.isValid());
    AppData::instance()->setSettingsDir(dataDir.path());
    AppData::instance()->setAppDir(programDir.path());
}

void TestThreadPool::init()
{
    asked.clear();
    answers.clear();
    BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
        const int key = box.kind() >= 0 ? box.kind() : 1000 + box.printerError();
        asked << key;
        return answers.value(key, 0);
    });
    pool = new ThreadPool(nullptr);
}

void TestThreadPool::cleanup()
{
    delete pool;
    pool = nullptr;
    QCOMPARE(ThreadPool::instance(), nullptr);
    BrevMessageBox::setAnswerHook(nullptr);
    AppData::instance()->clearModels(false);
    AppData::instance()->setRecentFiles({});
}

void TestThreadPool::valueTypes()
{
    const FileRWStatus f;
    QVERIFY(f.filePath.isEmpty() && f.mesh == 0 && f.load && !f.finished && !f.success && f.progress == 0
            && f.models.isEmpty());
    const SendPrintStatus p;
    QVERIFY(p.progress == 0 && p.nozzleTemp == 0 && p.bedTemp == 0 && !p.paused && !p.ended);
    for (const char* name : {"Error", "ChoiceType", "TrayStaus", "FileRWStatus", "SendBVTStatus",
                             "PX6LevelingStatus", "PX5_1LevelingStatus", "SendPrintStatus"})
        QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);

    // Values sent from the link's thread arrive whole on the GUI thread.
    CommunicateThread* link = pool->linkWorker();
    SendPrintStatus got;
    SendBVTStatus gotSend;
    connect(link, &CommunicateThread::signPrintStatus, this, [&](SendPrintStatus s) { got = s; });
    connect(link, &CommunicateThread::sendBVTStatusChanged, this, [&](SendBVTStatus s) { gotSend = s; });
    emitOn(link, [link] {
        emit link->signPrintStatus(SendPrintStatus{4321, -1, 60, true, false});
        emit link->sendBVTStatusChanged(SendBVTStatus{2500, 7, false, false, QStringLiteral("/a/b.BVT")});
    });
    QTRY_COMPARE(gotSend.sentChunks, 7);
    QCOMPARE(got.progress, 4321);
    QCOMPARE(got.nozzleTemp, -1);
    QCOMPARE(got.bedTemp, 60);
    QVERIFY(got.paused && !got.ended);
    QCOMPARE(gotSend.progress, 2500);
    QCOMPARE(gotSend.path, QStringLiteral("/a/b.BVT"));
}

void TestThreadPool::sliceStates_data()
{
    QTest::addColumn<int>("p");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("printFile");
    QTest::newRow("running") << 4200 << 3 << true << 4200 << 0;
    QTest::newRow("done") << 10000 << 2 << true << 10000 << 1;
    QTest::newRow("stopped") << -1 << 0 << false << 10000 << 0;
}

void TestThreadPool::sliceStates()
{
    QFETCH(int, p);
    QFETCH(int, state);
    QFETCH(bool, busy);
    QFETCH(int, progress);
    QFETCH(int, printFile);
    QSignalSpy changed(pool, &ThreadPool::ThreadStatusChanged);
    FDMSliceProcess* slicer = pool->sliceWorker();
    emitOn(slicer, [slicer] { emit slicer->progressChanged(100); });
    QTRY_COMPARE(pool->taskState(), 3);
    QTRY_COMPARE(changed.count(), 1);
    // Checked before the file worker's read-back can report anything.
    emit slicer->progressChanged(p);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(pool->taskState(), state);
    QCOMPARE(pool->isBusy(), busy);
    QCOMPARE(pool->progress(), progress);
    QCOMPARE(pool->hasPrintFile(), printFile);
    QVERIFY(asked.isEmpty()); // a stopped slice asks nothing
}

void TestThreadPool::sliceFailure()
{
    FDMSliceProcess* slicer = pool->sliceWorker();
    emitOn(slicer, [slicer] { emit slicer->progressChanged(3000); });
    emitOn(slicer, [slicer] { emit slicer->FDMerror(); });
    QTRY_COMPARE(asked, QList<int>{2});
    QCOMPARE(pool->taskState(), 0);
    QVERIFY(!pool->isBusy());
    QCOMPARE(pool->progress(), 10000);
}

void TestThreadPool::fileProgressStates_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("load");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("progress");
    QTest::newRow("stl load") << "/m/a.STL" << true << 1 << 1200;
    QTest::newRow("bvt load") << "/m/a.bVt" << true << 2 << 1200;
    QTest::newRow("project load") << "/m/a.brev" << true << 1 << 1200;
    QTest::newRow("save") << "/m/a.brev" << false << 0 << 10000;
}

void TestThreadPool::fileProgressStates()
{
    QFETCH(QString, path);
    QFETCH(bool, load);
    QFETCH(int, state);
    QFETCH(int, progress);
    FileRWStatus s;
    s.filePath = path;
    s.load = load;
    s.progress = 1200;
    QSignalSpy changed(pool, &ThreadPool::ThreadStatusChanged);
    emit pool->fileWorker()->StatusChanged(s);
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(pool->taskState(), state);
    QCOMPARE(pool->progress(), progress);
    QVERIFY(pool->isBusy());
    QVERIFY(asked.isEmpty());
}

void TestThreadPool::saveResults()
{
    FileRWStatus s = loadDone("/m/p.brev", true);
    s.load = false;
    emit pool->fileWorker()->StatusChanged(s);
    QTRY_COMPARE(asked, QList<int>{36});
    QVERIFY(!pool->isBusy());

    // A failed save is reported as a failure, never as kind 36.
    QString text;
    BrevMessageBox::setAnswerHook([&](BrevMessageBox& box) {
        asked << box.kind();
        text = box.text();
        return 0;
    });
    asked.clear();
    s.success = false;
    emit pool->fileWorker()->StatusChanged(s);
    QTRY_COMPARE(asked.size(), 1);
    QVERIFY(asked.first() != 36);
    QCOMPARE(text, QStringLiteral("Fail to save the file!"));
    QCOMPARE(pool->taskState(), 0);
}

void TestThreadPool::failedLoad()
{
    pool->setHasPrintFile(1);
    emit pool->fileWorker()->StatusChanged(loadDone("/m/a.stl", false));
    QTRY_COMPARE(asked, QList<int>{1});
    QCOMPARE(pool->hasPrintFile(), 1); // a model load leaves the print file alone
    emit pool->fileWorker()->StatusChanged(loadDone("/m/a.BVT", false));
    QTRY_COMPARE(asked, (QList<int>{1, 1}));
    QCOMPARE(pool->hasPrintFile(), 0);
    QCOMPARE(pool->taskState(), 0);
}

void TestThreadPool::printFileReadBack_data()
{
    QTest::addColumn<int>("taskKind");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QList<int>>("expectAsked");
    QTest::addColumn<bool>("sends");
    QTest::newRow("user file") << 0 << 1 << QList<int>{} << false;
    QTest::newRow("export") << 1 << 1 << QList<int>{28} << false;
    QTest::newRow("print, ok") << 2 << 1 << QList<int>{29} << true;
    QTest::newRow("print, cancel") << 2 << 0 << QList<int>{29} << false;
}

void TestThreadPool::printFileReadBack()
{
    QFETCH(int, taskKind);
    QFETCH(int, answer);
    QFETCH(QList<int>, expectAsked);
    QFETCH(bool, sends);
    QDir(dataDir.path()).mkpath("gco");
    const QString file = dataDir.path() + "/gco/cube.BVT";
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("new");
    }
    // A stale copy in the program folder is replaced.
    QDir(programDir.path()).mkpath("gco");
    const QString copy = programDir.path() + "/gco/cube.BVT";
    QFile::remove(copy);
    {
        QFile f(copy);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    // The task kind as a slice for export or printing leaves it.
    pool->setPrintFile(taskKind, file);
    answers[29] = answer;
    QSignalSpy view(pool, &ThreadPool::SliceViewSign);
    QSignalSpy send(pool, &ThreadPool::signBeginSendBVT);
    emit pool->fileWorker()->StatusChanged(loadDone(file, true));
    QTRY_COMPARE(view.count(), 1);
    QCOMPARE(asked, expectAsked);
    QCOMPARE(pool->hasPrintFile(), 1);
    QCOMPARE(send.count(), sends ? 1 : 0);
    QFile c(copy);
    QVERIFY(c.open(QIODevice::ReadOnly));
    QCOMPARE(c.readAll(), sends ? QByteArray("new") : QByteArray("old"));
    if (sends) {
        QCOMPARE(send.first().first().toString(), file);
        QCOMPARE(AppData::instance()->getRecentFiles(), QStringList{"cube.BVT"});
    }
}

void TestThreadPool::printFileAlreadyInProgramFolder()
{
    QDir(programDir.path()).mkpath("gco");
    const QString file = programDir.path() + "/gco/here.BVT";
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    pool->setPrintFile(2, file);
    answers[29] = 1;
    QSignalSpy send(pool, &ThreadPool::signBeginSendBVT);
    emit pool->fileWorker()->StatusChanged(loadDone(file, true));
    QTRY_COMPARE(send.count(), 1);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep"));
    QCOMPARE(AppData::instance()->getRecentFiles(), QStringList{"here.BVT"});
}

void TestThreadPool::placement_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("z");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("moves");
    QTest::newRow("stl within tolerance") << "/m/a.stl" << 0.0 << 0.0005 << 0 << false << false;
    QTest::newRow("stl lifted") << "/m/a.stl" << 0.0 << 0.002 << 0 << false << true;
    QTest::newRow("stl inside, off centre") << "/m/a.stl" << 20.0 << 0.0 << 0 << false << false;
    QTest::newRow("stl outside, off centre") << "/m/a.stl" << 400.0 << 0.0 << 0 << false << true;
    QTest::newRow("3mf lifted, cancel") << "/m/a.3mf" << 0.0 << 5.0 << 0 << true << false;
    QTest::newRow("3mf lifted, ok") << "/m/a.3MF" << 0.0 << 5.0 << 1 << true << true;
}

void TestThreadPool::placement()
{
    QFETCH(QString, path);
    QFETCH(double, x);
    QFETCH(double, z);
    QFETCH(int, answer);
    QFETCH(bool, asks);
    QFETCH(bool, moves);
    AppData::instance()->setChoiceType(1);
    AppData::instance()->setBoxSize(145, 145, 140, 150, 175);
    MeshModel* a = modelAt(x, 0, z, "a");
    MeshModel* b = modelAt(0, 0, 0, "b"); // in place: moves along only when one is misplaced
    const auto bBefore = b->getBottomCenter();
    answers[30] = answer;
    emit pool->fileWorker()->StatusChanged(loadDone(path, true, {a, b}));
    QTRY_COMPARE(asked, asks ? QList<int>{30} : QList<int>{});
    const auto c = a->getBottomCenter();
    if (moves) {
        QVERIFY(std::abs(c[0]) < 1e-4 && std::abs(c[1]) < 1e-4 && std::abs(c[2]) < 1e-4);
    } else {
        QCOMPARE(double(c[0]), x);
        QVERIFY(std::abs(c[2] - z) < 1e-5);
    }
    QCOMPARE(b->getBottomCenter(), bBefore);
    QCOMPARE(pool->taskState(), 0);
    QVERIFY(!pool->isBusy());
}

void TestThreadPool::sending()
{
    CommunicateThread* link = pool->linkWorker();
    pool->setPrintFile(0, "/data/gco/cube.BVT");
    QSignalSpy print(pool, &ThreadPool::signBeginPrint);
    emitOn(link, [link] { emit link->sendBVTStatusChanged(SendBVTStatus{2500, 3, false, false, "/data/gco/cube.BVT"}); });
    QTRY_COMPARE(pool->taskState(), 4);
    QVERIFY(pool->isBusy());
    QCOMPARE(pool->progress(), 2500);

    answers[39] = 1;
    emitOn(link, [link] { emit link->sendBVTStatusChanged(SendBVTStatus{10000, 8, false, true, "/data/gco/cube.BVT"}); });
    QTRY_COMPARE(print.count(), 1);
    QCOMPARE(print.first().first().toString(), QStringLiteral("cube.BVT"));
    QCOMPARE(asked, QList<int>{39});
    QCOMPARE(pool->taskState(), 0);
    QVERIFY(!pool->isBusy());

    answers[39] = 0;
    emitOn(link, [link] { emit link->sendBVTStatusChanged(SendBVTStatus{10000, 8, false, true, "/x"}); });
    QTRY_COMPARE(asked.size(), 2);
    QCOMPARE(print.count(), 1); // Cancel prints nothing

    emitOn(link, [link] { emit link->sendBVTStatusChanged(SendBVTStatus{300, 1, false, false, "/x"}); });
    QTRY_COMPARE(pool->taskState(), 4);
    emitOn(link, [link] { emit link->sendBVTStatusChanged(SendBVTStatus{300, 1, true, false, "/x"}); });
    QTRY_COMPARE(pool->taskState(), 0);
    QVERIFY(!pool->isBusy());
    QCOMPARE(pool->progress(), 10000);
}

void TestThreadPool::linkLoss()
{
    CommunicateThread* link = pool->linkWorker();
    emitOn(link, [link] { emit link->linkStatus(true); });
    QTRY_VERIFY(pool->isLinked());
    emitOn(link, [link] { emit link->sendBVTStatusChanged(SendBVTStatus{500, 1, false, false, "/x"}); });
    QTRY_COMPARE(pool->taskState(), 4);
    emitOn(link, [link] { emit link->linkStatus(false); });
    QTRY_VERIFY(!pool->isLinked());
    QCOMPARE(pool->taskState(), 0);
    QCOMPARE(pool->progress(), 10000);
    QVERIFY(!pool->isBusy());

    emitOn(link, [link] { emit link->signPX6LevelingStatus(PX6Leveling); });
    QTRY_COMPARE(pool->taskState(), 6);
    emitOn(link, [link] { emit link->linkStatus(false); });
    QTRY_COMPARE(pool->taskState(), 0);
    QVERIFY(!pool->isBusy());
}

void TestThreadPool::leveling_data()
{
    QTest::addColumn<bool>("px6");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("progress");
    QTest::newRow("PX5_1 started") << false << 1 << 6 << true << 10000;
    QTest::newRow("PX5_1 accepted") << false << 2 << 6 << true << 10000;
    QTest::newRow("PX5_1 ended") << false << 3 << 0 << false << 10000;
    QTest::newRow("PX5_1 refused") << false << 0 << 0 << false << 10000;
    QTest::newRow("PX5_1 unknown") << false << 9 << 6 << true << 10000;
    QTest::newRow("PX6 levelling") << true << 1 << 6 << true << 777;
    QTest::newRow("PX6 ended 2") << true << 2 << 0 << false << 777;
    QTest::newRow("PX6 ended 3") << true << 3 << 0 << false << 777;
    QTest::newRow("PX6 refused") << true << 0 << 0 << false << 777;
    QTest::newRow("PX6 unknown") << true << 9 << 6 << true << 777;
}

void TestThreadPool::leveling()
{
    QFETCH(bool, px6);
    QFETCH(int, value);
    QFETCH(int, state);
    QFETCH(bool, busy);
    QFETCH(int, progress);
    CommunicateThread* link = pool->linkWorker();
    // Start from a levelling in progress with a known progress figure.
    emitOn(link, [link] { emit link->signPX6LevelingStatus(PX6Leveling); });
    QTRY_COMPARE(pool->taskState(), 6);
    FDMSliceProcess* slicer = pool->sliceWorker();
    Q_UNUSED(slicer);
    QSignalSpy changed(pool, &ThreadPool::ThreadStatusChanged);
    pool->slotSliceChanged(777); // sets the figure, then back to levelling
    emitOn(link, [link] { emit link->signPX6LevelingStatus(PX6Leveling); });
    QTRY_COMPARE(changed.count(), 2);
    if (px6)
        emitOn(link, [link, value] { emit link->signPX6LevelingStatus(PX6LevelingStatus(value)); });
    else
        emitOn(link, [link, value] { emit link->signPX5_1LevelingStatus(PX5_1LevelingStatus(value)); });
    QTRY_COMPARE(changed.count(), 3);
    QCOMPARE(pool->taskState(), state);
    QCOMPARE(pool->isBusy(), busy);
    QCOMPARE(pool->progress(), progress);
}

void TestThreadPool::errorBoxOncePerCode()
{
    CommunicateThread* link = pool->linkWorker();
    bool first = true;
    BrevMessageBox::setAnswerHook([&](BrevMessageBox& box) {
        asked << 1000 + box.printerError();
        // While this box is open, the same code again and then another code arrive.
        if (first) {
            first = false;
            emitOn(link, [link] {
                emit link->errorMessage(ErrConnectionLost);
                emit link->errorMessage(ErrNoMaterial);
            });
            QTest::qWait(50);
        }
        return 1;
    });
    emitOn(link, [link] { emit link->errorMessage(ErrConnectionLost); });
    QTRY_COMPARE(asked, (QList<int>{1002, 1011}));
    QTest::qWait(20);
    QCOMPARE(asked.size(), 2);
    QVERIFY(openErrorBoxes.isEmpty());
    // Closed: the same code shows a box again.
    emitOn(link, [link] { emit link->errorMessage(ErrConnectionLost); });
    QTRY_COMPARE(asked.size(), 3);
}

void TestThreadPool::printFilePath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "cube" << "cube.BVT";
    // A name from a project file never takes the print task out of its folder.
    QTest::newRow("climbing") << "../../../esc" << ".._.._.._esc.BVT";
    QTest::newRow("dot dot") << ".." << "3DPRINT.BVT";
}

void TestThreadPool::printFilePath()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    QSignalSpy slice(pool, &ThreadPool::signSlice);
    modelAt(0, 0, 0, name.toUtf8().constData());
    AppData::instance()->selectModel(0, 1);
    pool->startSlice(2, QString());
    QCOMPARE(pool->printFilePath(), dataDir.path() + "/gco/" + file);
    QCOMPARE(QString::fromStdString(AppData::instance()->getSelectedModelName()), name);
    QCOMPARE(pool->taskKind(), 2);
    QCOMPARE(slice.count(), 1);
    pool->startSlice(1, "/out/chosen.BVT");
    QCOMPARE(pool->printFilePath(), QStringLiteral("/out/chosen.BVT"));
    AppData::instance()->clearModels(false);
    pool->startSlice(2, QString());
    QCOMPARE(pool->printFilePath(), dataDir.path() + "/gco/3DPRINT.BVT");
    pool->setPrintFile(0, "/m/user.BVT");
    QCOMPARE(pool->taskKind(), 0);
    QCOMPARE(slice.count(), 3);
}

void TestThreadPool::addMeshModelFromPoolThread()
{
    QThread* gui = QThread::currentThread();
    QList<QThread*> notifiedOn;
    connect(pool, &ThreadPool::ThreadStatusChanged, this, [&] { notifiedOn << QThread::currentThread(); },
            Qt::DirectConnection);
    const int before = AppData::instance()->modelCount();
    QFuture<void> job = QtConcurrent::run([this] {
        pool->addMeshModel(cubeAt(0, 0, 0), QStringLiteral("cube_up"), true);
        pool->addMeshModel(cubeAt(0, 0, 20), QStringLiteral("cube_down"), false);
    });
    // The GUI thread keeps its event loop running, as it does behind the wait dialog.
    QTRY_VERIFY(job.isFinished());
    QCOMPARE(AppData::instance()->modelCount(), before + 2);
    QCOMPARE(AppData::instance()->getModel(before)->getName(), std::string("cube_up"));
    QCOMPARE(AppData::instance()->getModel(before + 1)->getName(), std::string("cube_down"));
    QCOMPARE(notifiedOn, QList<QThread*>{gui});
}

void TestThreadPool::stopThreads()
{
    QPointer<CommunicateThread> link = pool->linkWorker();
    QPointer<FDMSliceProcess> slicer = pool->sliceWorker();
    pool->stopThreads();
    QVERIFY(!pool->linkWorker() && !pool->sliceWorker());
    QVERIFY(link.isNull() && slicer.isNull());
    pool->stopThreads(); // twice is harmless
}

QTEST_MAIN(TestThreadPool)
#include "tst_threadpool.moc"
