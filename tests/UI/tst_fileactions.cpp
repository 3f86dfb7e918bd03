#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>

#include "Thread/FDMSliceProcess.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "UI/MainWindow.h"
#include "app/Startup.h"
#include "render/GLWidget.h"
#include "render/GcodePreviewData.h"
#include "scene/AppData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "common/CubeStl.h"

namespace {


QList<QUrl> urls(const QStringList& names)
{
    QList<QUrl> out;
    for (const QString& n : names)
        out << QUrl::fromLocalFile("/tmp/" + n);
    return out;
}

} // namespace

class TestFileActions : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    MainWindow* window = nullptr;
    QList<int> asked;
    QMap<int, int> answers;
    QStringList dialogAnswer;

    void waitIdle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 30000);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("LOCALAPPDATA", (dir.path() + "/local").toLocal8Bit());
        char arg0[] = "tarni";
        char* argv[] = {arg0, nullptr};
        initEnvironment(1, argv);
        // A program folder of our own, with the engine where the window looks for it.
        const QString engine = QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine");
        QVERIFY2(QFileInfo(engine).isExecutable(), "the engine must be built");
        const QString appDir = dir.path() + "/app";
        QVERIFY(QDir().mkpath(appDir + "/BrevEngine"));
        QVERIFY(QDir().mkpath(appDir + "/gco"));
        QVERIFY(QFile::copy(engine, appDir + "/BrevEngine/" + FDMSliceProcess::engineFileName()));
        AppData::instance()->setAppDir(appDir);
        AppData::instance()->setChoiceType(1);
        BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
            asked << box.kind();
            return answers.value(box.kind(), 1);
        });
        MainWindow::setFileDialogHook([this](const QString&, const QString&, const QString&, bool) {
            return dialogAnswer;
        });
        window = new MainWindow();
        QVERIFY(window->startUp());
    }

    void cleanupTestCase()
    {
        answers[17] = 0;
        window->close();
        delete window;
        BrevMessageBox::setAnswerHook(nullptr);
        MainWindow::setFileDialogHook(nullptr);
    }

    void drops_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("nothing") << QStringList{} << false;
        QTest::newRow("models") << QStringList{"a.stl", "b.OBJ", "c.3mf"} << true;
        QTest::newRow("one project") << QStringList{"a.brev"} << true;
        QTest::newRow("project and model") << QStringList{"a.brev", "b.stl"} << false;
        QTest::newRow("unknown suffix") << QStringList{"a.stl", "b.txt"} << false;
        QTest::newRow("print-task file") << QStringList{"a.BVT"} << true;
    }
    void drops()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, accepted);
        QCOMPARE(window->acceptableDrop(urls(names)), accepted);
    }

    void openRefusesLongNamesAndTooManyModels()
    {
        asked.clear();
        dialogAnswer = QStringList{dir.path() + "/" + QString(54, 'n') + ".stl"};
        window->on_btnMain_open_clicked();
        QCOMPARE(asked, QList<int>{32});
        QCOMPARE(AppData::instance()->modelCount(), 0);
    }

    void exportSlicesAndShowsThePreview()
    {
        const QString model = writeCube(dir.path() + "/cube.stl", 20.0f, -10.0f);
        window->openFile(model);
        QTRY_COMPARE_WITH_TIMEOUT(AppData::instance()->modelCount(), 1, 10000);
        waitIdle();
        asked.clear();
        const QString target = dir.path() + "/job.bvt";
        dialogAnswer = QStringList{target};
        window->on_btnMain_export_clicked();
        // The whole road: ini, engine, print-task file, read back for the preview.
        QTRY_VERIFY_WITH_TIMEOUT(asked.contains(28), 60000);
        waitIdle();
        QVERIFY(QFileInfo::exists(target + ".BVT"));
        QCOMPARE(QSettings(AppData::instance()->settingsFilePath(), QSettings::IniFormat)
                     .value("Paths/GCodeSave").toString(),
                 target + ".BVT");
        QTRY_COMPARE_WITH_TIMEOUT(window->view()->showMode(), 2, 10000);
        QVERIFY(window->form().btnMain_Slice->isChecked());
        QVERIFY(window->form().btnMain_Slice->isEnabled());
        QVERIFY(g_gcodeLayerCount.load() > 50);
        QCOMPARE(ThreadPool::instance()->hasPrintFile(), 1);
        QTest::qWait(200);
        QVERIFY(window->grab().toImage().save(QStringLiteral(TARNI_BUILD_DIR "/mainwindow_preview.png")));

        // Switching the preview off keeps the data (mode 0); clearing drops it.
        window->form().btnMain_Slice->setChecked(false);
        window->on_btnMain_Slice_clicked();
        QCOMPARE(window->view()->showMode(), 0);
        QCOMPARE(ThreadPool::instance()->hasPrintFile(), 0);
        // An edit in model view with slice data asks first; Cancel keeps it.
        answers[19] = 0;
        QVERIFY(!window->confirmEraseSliceData());
        answers[19] = 1;
        QVERIFY(window->confirmEraseSliceData());
        QVERIFY(window->view()->showMode() == 1 || window->view()->showMode() == 3);
        QVERIFY(!window->form().btnMain_Slice->isEnabled());
    }

    void projectSaveWaitsForItsResult()
    {
        QVERIFY(AppData::instance()->modelCount() > 0);
        dialogAnswer = QStringList{dir.path() + "/scene"};
        asked.clear();
        QVERIFY(window->on_btnMain_save_clicked());
        QVERIFY(QFileInfo::exists(dir.path() + "/scene.brev"));
        QTRY_VERIFY(asked.contains(36));
        // A save that cannot be written reports failure.
        dialogAnswer = QStringList{dir.path() + "/missing/folder/scene.brev"};
        QVERIFY(!window->on_btnMain_save_clicked());
        dialogAnswer = QStringList{};
        QVERIFY(!window->on_btnMain_save_clicked());
    }

    void missingRecentFile()
    {
        asked.clear();
        window->openRecentFile("gone.BVT");
        QCOMPARE(asked, QList<int>{37});
    }

    void closingAsksToSave()
    {
        QVERIFY(MeshList::instance()->size() > 0);
        asked.clear();
        answers[17] = 2;
        QVERIFY(!window->close());
        QCOMPARE(asked, QList<int>{17});
        QVERIFY(window->isVisible());
        answers.remove(17);
    }
};

QTEST_MAIN(TestFileActions)
#include "tst_fileactions.moc"
