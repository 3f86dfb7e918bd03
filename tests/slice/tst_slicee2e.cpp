#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <memory>

#include "FileRW/BVTReader.h"
#include "Thread/FDMSliceProcess.h"
#include "UI/BVSettingWindow.h"
#include "UI/BVTwoBtn.h"
#include "render/GcodePreviewData.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "testutil_slice.h"
#include "common/TestTime.h"

using namespace SliceTest;

// Models in the scene, the real engine, the print-task file out, deciphered and checked.
class TestSliceEndToEnd : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    static MeshData* box(double sx, double sy, double sz)
    {
        auto* m = new MeshData();
        for (int i = 0; i < 8; ++i)
            m->vertices.push_back({(i & 1) * sx, ((i >> 1) & 1) * sy, ((i >> 2) & 1) * sz});
        const int f[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                              {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
        for (const auto& t : f)
            m->faces.push_back({t[0], t[1], t[2]});
        return m;
    }

    // Puts a box on the plate at (x, y).
    static void addBox(const char* name, double x, double y, double size)
    {
        auto* model = new MeshModel();
        model->name = name;
        model->setMeshSlot(MeshList::instance()->add(box(size, size, size)));
        AppData::instance()->addModel(model);
        MeshData placed;
        AppData::instance()->mergeVisibleModels(placed);
        double minZ = 1e100;
        for (const auto& v : placed.vertices)
            minZ = std::min(minZ, v[2]);
        const double move[3] = {x, y, -minZ};
        model->translate(move);
    }

    QString appDir, dataDir;

    // A program folder with the engine and a settings folder, once for all tests.
    void setUpFolders()
    {
        if (!appDir.isEmpty())
            return;
        const QString engine = QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine");
        QVERIFY2(QFileInfo(engine).isExecutable(), "build the engine first");
        QVERIFY(dir.isValid());
        appDir = dir.filePath("app");
        dataDir = dir.filePath("data");
        QVERIFY(QDir().mkpath(appDir + "/BrevEngine"));
        QVERIFY(QFile::copy(engine, appDir + "/BrevEngine/" + FDMSliceProcess::engineFileName()));
        AppData* app = AppData::instance();
        app->setAppDir(appDir);
        app->setSettingsDir(dataDir);
        QVERIFY(QDir().mkpath(dataDir));
        app->setBoxSize(145, 145, 140, 150, 175);
        app->setChoiceType(1);
    }

    // What the main window does: a fresh, writable ini from the profile, then the slice.
    void sliceTo(const QString& profile, const QString& target)
    {
        AppData* app = AppData::instance();
        const QString ini = appDir + "/BrevEngine/Brev.ini";
        QFile::remove(ini);
        QVERIFY(QFile::copy(profile, ini));
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(app->writeEngineConfig(ini));

        auto* worker = new FDMSliceProcess();
        QThread thread;
        worker->moveToThread(&thread);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
        // Recorded on this thread (queued): a spy would append on the worker's thread while
        // this one reads.
        struct Seen
        {
            QList<int> progress;
            int failures = 0;
        };
        const auto seen = std::make_shared<Seen>();
        connect(worker, &FDMSliceProcess::progressChanged, this, [seen](int p) { seen->progress << p; });
        connect(worker, &FDMSliceProcess::FDMerror, this, [seen] { ++seen->failures; });
        worker->setSnapshot(SliceSnapshot::take(target));
        QMetaObject::invokeMethod(worker, "slice", Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(seen->failures > 0 || (!seen->progress.isEmpty() && seen->progress.last() == 10000),
                                 TestTime::waitMs(60000));
        thread.quit();
        thread.wait();
        app->clearModels(false);
        QCOMPARE(seen->failures, 0);
        QVERIFY(!QFile::exists(ini));
        lastProgress = seen->progress;
    }
    QList<int> lastProgress;

private slots:
    void slicesTheSceneIntoAPrintTaskFile()
    {
        setUpFolders();
        AppData* app = AppData::instance();
        app->setPrintQuality(0);
        app->setTemperature(215);
        app->setHotbed(55);
        addBox("cube", -15, 0, 10);
        addBox("cube", 15, 5, 6);
        auto* column = new MeshModel();
        column->isSupport = true;
        column->supportPoint = {15.0, 5.0, 0.0};
        app->commitSupport(column);
        const QString target = dataDir + "/gco/cube.BVT";
        sliceTo(":/config/Resources/low.ini", target);
        if (QTest::currentTestFailed())
            return;
        const auto& progress = lastProgress;

        int previous = 0;
        for (const int v : progress) {
            QVERIFY(v == 10000 || (v >= 0 && v <= 9900));
            previous = v;
        }
        QCOMPARE(previous, 10000);

        const QByteArray text = decipherPrintTask(target);
        QVERIFY(text.endsWith("\nM25\n"));
        const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
        QCOMPARE(lines[0], QByteArray(";Brevant 1.0.00"));
        QCOMPARE(lines[1], "M102 L" + QByteArray::number(lines.size() - 1));
        QCOMPARE(lines[2], QByteArray("M300 PX5"));
        QVERIFY(lines[5].startsWith(";Filament:\t"));
        const double filament = lines[5].mid(11, lines[5].size() - 13).toDouble();
        QVERIFY(filament > 0);
        QCOMPARE(lines[3], "M998 P" + QByteArray::number(int(std::ceil(filament))));
        QVERIFY(text.contains("\n;Low Quality\n"));
        QVERIFY(text.contains("\nM104 S215   ;temperature set\nM140 S55   ;hot bed temperature\n"));
        QVERIFY(text.contains("\nM109 S225   ;temperature set waiting\nM190 S55   ;hot bed temperature waiting\n"));
        QVERIFY(!text.contains("{temperature}"));
        QVERIFY(text.contains("\nG1 "));
        for (const QByteArray& l : lines)
            QVERIFY(!l.isEmpty() && !l.contains('\r') && l.size() < 256);
    }

    // The settings window's choices reach the engine, and the preview reads back the layers
    // the engine made, raft and Z hops included.
    void settingsWindowToPreview()
    {
        setUpFolders();
        AppData* app = AppData::instance();
        app->setPrintQuality(1);
        {
            BVSettingWindow w;
            auto& f = w.form();
            auto choose = [](BVTwoBtn* b, bool second) {
                b->findChild<QPushButton*>(second ? "btn_yes" : "btn_no")->click();
            };
            choose(f.have_support, true);
            choose(f.support_type, true);      // TREE
            choose(f.print_raft_layers, true);
            choose(f.Infill_Pattern, false);   // CELLULAR
            choose(f.Z_Hop_Retracting, true);
            f.support_angle->setValue(45);
            f.fill_density->setValue(20);
            w.show();
            f.btn_ok->click();
        }
        // A deck on a pillar: it overhangs on both sides.
        addBox("pillar", 0, 0, 6);
        auto* deck = new MeshModel();
        deck->name = "deck";
        deck->setMeshSlot(MeshList::instance()->add(box(24, 6, 2)));
        app->addModel(deck);
        const double lift[3] = {-9, 0, 6};
        deck->translate(lift);
        const QString target = dataDir + "/gco/deck.BVT";
        sliceTo(":/config/Resources/mid.ini", target);
        if (QTest::currentTestFailed())
            return;

        const QByteArray text = decipherPrintTask(target);
        const QList<QByteArray> lines = text.split('\n');
        int engineLayers = 0, hops = 0;
        double layerZ = 0, z = 0, extruded = 0, e = 0;
        for (const QByteArray& l : lines) {
            if (l.startsWith(";LAYER:")) {
                QCOMPARE(l.mid(7).toInt(), engineLayers++);
                continue;
            }
            if (l.startsWith("G92 E0"))
                e = 0;
            const int zAt = l.indexOf(" Z"), eAt = l.indexOf(" E");
            if (l.startsWith("G") && zAt > 0) {
                const double nz = l.mid(zAt + 2).split(' ').first().toDouble();
                hops += std::abs(nz - layerZ - 2.0) < 1e-6 ? 1 : 0;
                z = nz;
            }
            if (l.startsWith("G1") && eAt > 0) {
                const double ne = l.mid(eAt + 2).toDouble();
                if (l.contains(" X")) {
                    extruded += ne - e;
                    layerZ = z;
                }
                e = ne;
            }
        }
        QVERIFY(text.contains("\n;Layer count:\t" + QByteArray::number(engineLayers) + "\n"));
        QVERIFY2(hops > 10, qPrintable(QString::number(hops)));
        // The filament on the second line is what the moves extrude.
        const QByteArray filament = lines[5];
        QVERIFY(filament.startsWith(";Filament:\t"));
        QVERIFY2(std::abs(filament.mid(11, filament.size() - 13).toDouble() - extruded) < 0.11,
                 qPrintable(QString("%1 against %2").arg(filament.constData()).arg(extruded)));

        GcodePreviewData preview;
        BVTReader reader(preview, 1, 145, 145);
        QVERIFY2(reader.LoadGCO(target), qPrintable(reader.refusal));
        QVERIFY(preview.takeChunk([](const ToolPathMesh&) {}));
        // Three raft layers and 8 mm at 0.14 mm.
        QVERIFY2(engineLayers >= 3 + 57, qPrintable(QString::number(engineLayers)));
        QCOMPARE(reader.layerCount, engineLayers);
        QCOMPARE(g_gcodeLayerCount.load(), engineLayers - 1);
        QCOMPARE(int(preview.layerHeightList().size()), engineLayers);
    }
};

QTEST_MAIN(TestSliceEndToEnd)
#include "tst_slicee2e.moc"
