#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "Thread/EngineProgress.h"
#include "Thread/FDMSliceProcess.h"
#include "platform/Platform.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "testutil_slice.h"
#include "common/TestTime.h"

using namespace SliceTest;

namespace {

std::shared_ptr<MeshData> cube()
{
    auto m = std::make_shared<MeshData>();
    for (int i = 0; i < 8; ++i)
        m->vertices.push_back({double(i & 1) * 10, double((i >> 1) & 1) * 10, double((i >> 2) & 1) * 10});
    const int f[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                          {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (const auto& t : f)
        m->faces.push_back({t[0], t[1], t[2]});
    return m;
}

} // namespace

class TestSliceProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString appDir() const { return dir.filePath("app"); }
    QString dataDir() const { return dir.filePath("data"); }
    QString engine() const { return appDir() + "/BrevEngine/" + FDMSliceProcess::engineFileName(); }
    QString target() const { return dataDir() + "/gco/cube.BVT"; }

    void installEngine(const QByteArray& firstLine = QByteArray())
    {
        QDir().mkpath(appDir() + "/BrevEngine");
        QFile::remove(engine());
        QFile::remove(appDir() + "/BrevEngine/args.txt");
        QByteArray script = readFile(QString(TEST_SOURCE_DIR) + "/fake_engine.sh");
        QVERIFY(!script.isEmpty());
        if (!firstLine.isEmpty())
            script.replace(0, script.indexOf('\n'), firstLine);
        QVERIFY(writeFile(engine(), script));
        QFile::setPermissions(engine(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(writeFile(appDir() + "/BrevEngine/Brev.ini", "layerThickness = 140\n"));
    }

    SliceSnapshot snapshot() const
    {
        SliceSnapshot s;
        s.mesh = cube();
        s.machineType = 1;
        s.temperature = 205;
        s.hotbed = 50;
        s.appDir = appDir();
        s.settingsDir = dataDir();
        s.outputPath = target();
        return s;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        AppData::instance()->setAppDir(appDir());
        AppData::instance()->setSettingsDir(dataDir());
        QDir().mkpath(dataDir() + "/gco");
        QVERIFY(writeFile(dataDir() + "/gco/old.BVT", "x"));
        QVERIFY(writeFile(dataDir() + "/gco/stray.txt", "x"));
        QVERIFY(writeFile(dataDir() + "/gco/shot.BVT.JPG", "x"));
    }

    void constructionPreparesFolders()
    {
        FDMSliceProcess worker;
        QVERIFY(QDir(dataDir() + "/stl").exists());
        QVERIFY(QDir(appDir() + "/gco").exists());
        QCOMPARE(QDir(dataDir() + "/gco").entryList(QDir::Files), QStringList{"old.BVT"});
        QCOMPARE(worker.iniPath(), appDir() + "/BrevEngine/Brev.ini");
        QCOMPARE(worker.stlPath(), dataDir() + "/stl/3DPRINT.stl");
    }

    void engineArguments_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("length");
        QTest::addColumn<double>("width");
        QTest::addColumn<QString>("posx");
        QTest::addColumn<QString>("posy");
        QTest::newRow("default box") << 1 << 145.0 << 145.0 << "posx=98000" << "posy=84000";
        QTest::newRow("200 x 180") << 1 << 200.0 << 180.0 << "posx=125500" << "posy=101500";
        QTest::newRow("no type is rectangular") << 0 << 145.0 << 145.0 << "posx=98000" << "posy=84000";
        QTest::newRow("PX6 A") << 2 << 200.0 << 180.0 << "posx=0" << "posy=0";
        QTest::newRow("PX6 B") << 3 << 145.0 << 145.0 << "posx=0" << "posy=0";
    }

    void engineArguments()
    {
        QFETCH(int, type);
        QFETCH(double, length);
        QFETCH(double, width);
        QFETCH(QString, posx);
        QFETCH(QString, posy);
        SliceSnapshot s;
        s.machineType = type;
        s.boxLength = length;
        s.boxWidth = width;
        QCOMPARE(FDMSliceProcess::engineArguments(s, "/a/Brev.ini", "/o/x.BVT0.tmp", "/s/3DPRINT.stl"),
                 QStringList({"-p", "-c", "/a/Brev.ini", "-s", posx, "-s", posy, "-o", "/o/x.BVT0.tmp",
                              "/s/3DPRINT.stl"}));
    }

    void progressParsing_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("total");
        const QByteArray first = "P:DiameterCompensation:0:120\n";
        QTest::newRow("skin") << QList<QByteArray>{first, "P:skin:30:120\n"} << 3521 << 840;
        QTest::newRow("zero changes nothing") << QList<QByteArray>{first, "P:DiameterCompensation:0:120\n"} << 0 << 840;
        QTest::newRow("tree is the sixth stage") << QList<QByteArray>{first, "P:tree:5:120\n"} << 7270 << 840;
        QTest::newRow("unknown stages") << QList<QByteArray>{first, "P:treeX:5:120\nP:tree support:5:120\n"} << 0 << 840;
        QTest::newRow("last line counts") << QList<QByteArray>{first, "P:skin:30:120\r\nP:inset:1:120\r\n"} << 1854 << 840;
        QTest::newRow("five fields, also first") << QList<QByteArray>{"P:a:b:0:120\n", "P:skin:30:120\n"} << 0 << 840;
        QTest::newRow("one read: only its last line") << QList<QByteArray>{first + "P:skin:30:120\n"} << 0 << 840;
        QTest::newRow("line split across reads") << QList<QByteArray>{first, "P:sk", "in:30:120\n"} << 3521 << 840;
        QTest::newRow("empty read") << QList<QByteArray>{first, "", "\n"} << 0 << 840;
        QTest::newRow("clamped below the end") << QList<QByteArray>{first, "P:export:99999:120\n"} << 9900 << 840;
        QTest::newRow("negative count is no total") << QList<QByteArray>{"P:x:0:-3\n"} << 0 << 0;
    }

    void progressParsing()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(int, progress);
        QFETCH(int, total);
        EngineProgress parser;
        for (const QByteArray& r : reads)
            parser.feed(r);
        QCOMPARE(parser.value(), progress);
        QCOMPARE(parser.stepTotal(), total);
    }

    void sliceOutcomes_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("ok") << QByteArray("ok") << true;
        QTest::newRow("engine error") << QByteArray("fail") << false;
        QTest::newRow("engine crash") << QByteArray("crash") << false;
        QTest::newRow("no M25") << QByteArray("nom25") << false;
    }

    void sliceOutcomes()
    {
        QFETCH(QByteArray, mode);
        QFETCH(bool, succeeds);
        installEngine();
        qputenv("FAKE_ENGINE_MODE", mode);
        QVERIFY(writeFile(target(), "earlier file"));

        FDMSliceProcess worker;
        QSignalSpy progress(&worker, &FDMSliceProcess::progressChanged);
        QSignalSpy failed(&worker, &FDMSliceProcess::FDMerror);
        worker.setSnapshot(snapshot());
        worker.slice();
        QTRY_VERIFY_WITH_TIMEOUT(failed.count() == 1 || (!progress.isEmpty() && progress.last().at(0).toInt() == 10000), TestTime::waitMs(20000));
        QCoreApplication::processEvents();

        QCOMPARE(progress.first().at(0).toInt(), 0);
        QCOMPARE(readFile(appDir() + "/BrevEngine/args.txt").split('\n').mid(3, 4),
                 QList<QByteArray>({"-s", "posx=98000", "-s", "posy=84000"}));
        QCOMPARE(QFileInfo(worker.stlPath()).size(), 84 + 12 * 50);
        QVERIFY(!QFile::exists(worker.iniPath()));
        QVERIFY(!QFile::exists(target() + "0.tmp"));
        int tens = 0;
        for (const QList<QVariant>& p : progress) {
            QVERIFY(p.at(0).toInt() >= 0 && p.at(0).toInt() <= 10000);
            tens += p.at(0).toInt() == 10000;
        }
        if (!succeeds) {
            QCOMPARE(failed.count(), 1);
            QCOMPARE(tens, 0);
            QCOMPARE(readFile(target()), QByteArray("earlier file"));
            return;
        }
        QCOMPARE(failed.count(), 0);
        QCOMPARE(tens, 1);
        const QByteArray text = decipherPrintTask(target());
        QVERIFY(text.startsWith(";Brevant 1.0.00\nM102 L13\nM300 PX5\nM998 P13\n;Print time:"));
        QVERIFY(text.contains("M104 S205\nM140 S50\nM109 S215\nM190 S50\n"));
        QVERIFY(text.endsWith("\nM25\n"));
    }

    void engineThatCannotStart_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("missing") << 0;
        QTest::newRow("not executable") << 1;
        QTest::newRow("fails to start") << 2;
    }

    void engineThatCannotStart()
    {
        QFETCH(int, how);
        installEngine(how == 2 ? "#!/nonexistent/interpreter" : QByteArray());
        if (how == 0)
            QFile::remove(engine());
        if (how == 1)
            QFile::setPermissions(engine(), QFile::ReadOwner | QFile::WriteOwner);
        FDMSliceProcess worker;
        QSignalSpy progress(&worker, &FDMSliceProcess::progressChanged);
        QSignalSpy failed(&worker, &FDMSliceProcess::FDMerror);
        worker.setSnapshot(snapshot());
        worker.slice();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, TestTime::waitMs(10000));
        // The timer is stopped: no "slicing" report keeps coming.
        progress.clear();
        QTest::qWait(Platform::scaledMs(300));
        QCOMPARE(progress.count(), 0);
    }

    void sliceWithoutSnapshotFails()
    {
        installEngine();
        FDMSliceProcess worker;
        QSignalSpy failed(&worker, &FDMSliceProcess::FDMerror);
        worker.slice();
        QCOMPARE(failed.count(), 1);
    }

    void killReportsStopAndCleans()
    {
        installEngine();
        qputenv("FAKE_ENGINE_MODE", "hang");
        QVERIFY(writeFile(dataDir() + "/gco/other.BVT4.tmp", "x"));
        QVERIFY(writeFile(target(), "earlier file"));
        FDMSliceProcess worker;
        QSignalSpy progress(&worker, &FDMSliceProcess::progressChanged);
        QSignalSpy failed(&worker, &FDMSliceProcess::FDMerror);
        worker.Kill(); // nothing running: nothing happens
        QCOMPARE(progress.count(), 0);
        worker.setSnapshot(snapshot());
        worker.slice();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(appDir() + "/BrevEngine/args.txt"), TestTime::waitMs(10000));
        worker.Kill();
        QCOMPARE(progress.last().at(0).toInt(), -1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(!QFile::exists(dataDir() + "/gco/other.BVT4.tmp"));
        QVERIFY(!QFile::exists(worker.iniPath()));
        QCOMPARE(readFile(target()), QByteArray("earlier file"));
    }
};

QTEST_GUILESS_MAIN(TestSliceProcess)
#include "tst_sliceprocess.moc"
