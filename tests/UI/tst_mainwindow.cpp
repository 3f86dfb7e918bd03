#include <QtTest>

#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <QCloseEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>

#include "FileRW/PrintTaskWriter.h"
#include "Thread/FDMSliceProcess.h"
#include "Thread/FileRWThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "UI/ChoiceTypeDialog.h"
#include "UI/EditTreeWidget.h"
#include "UI/MainWindow.h"
#include "app/Startup.h"
#include "cutting/CutModelWidget.h"
#include "render/GLWidget.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "support/ManualSupportWidget.h"
#include "common/CubeStl.h"


class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    MainWindow* window = nullptr;
    QList<int> asked;
    QMap<int, int> answers;
    int fileDialogs = 0;

    void openPanel(int top)
    {
        EditTreeWidget* tree = window->form().twtMain_edit;
        tree->expandItem(tree->topLevelItem(top));
        QCoreApplication::processEvents();
    }

    void loadAndWait(const QString& path, int models)
    {
        window->openFile(path);
        QTRY_COMPARE_WITH_TIMEOUT(AppData::instance()->modelCount(), models, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 10000);
        QCoreApplication::processEvents();
    }
    // An empty plate, or one 20 mm cube on it.
    void resetPlate(bool cube)
    {
        window->on_btnMain_Slice_clear();
        AppData* app = AppData::instance();
        app->removeAllSupports();
        while (app->modelCount() > 0) {
            app->selectModel(0, 1);
            QTest::keyClick(window, Qt::Key_Delete);
        }
        if (cube)
            loadAndWait(writeCube(dir.path(), "one.stl", 20.0f), 1);
        asked.clear();
        answers.clear();
        fileDialogs = 0;
    }
    // A small print-task file for the first printer model.
    QString printTask()
    {
        const QString gcode = dir.filePath("engine.gcode");
        QFile f(gcode);
        if (!f.open(QIODevice::WriteOnly))
            return QString();
        f.write(";Print time:\t0:10:00\n;Filament:\t123.2mm\n;Layer height:\t0.200\n;Layer count:\t2\n"
                ";Sliced by BrevEngine\nG28\nG0 Z0.2\nG0 X90 Y80\nG1 X100 Y80 E1\nG0 Z0.4\nG1 X100 Y90 E2\nM25\n");
        f.close();
        const QString target = dir.filePath("job.BVT");
        return PrintTaskWriter(1, 210, 60).postProcess(gcode, target) ? target : QString();
    }
    void showPrintTask()
    {
        window->openFile(printTask());
        QTRY_COMPARE_WITH_TIMEOUT(window->view()->showMode(), 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 10000);
        asked.clear();
    }
    // Puts the worker pool into a task: 0 none, 3 slicing, 4 sending.
    void setTask(int task)
    {
        ThreadPool* p = ThreadPool::instance();
        if (task == 3) {
            emit p->sliceWorker()->progressChanged(4000);
        } else if (task == 4) {
            SendBVTStatus s;
            s.progress = 100;
            p->on_SendGcode_StatusChanged(s);
        } else {
            emit p->sliceWorker()->progressChanged(-1);
        }
        QTRY_COMPARE(p->taskState(), task);
        window->updateStatus();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("LOCALAPPDATA", dir.path().toLocal8Bit());
        char arg0[] = "tarni";
        char* argv[] = {arg0, nullptr};
        initEnvironment(1, argv);
        AppData::instance()->setChoiceType(1);
        BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
            asked << box.kind();
            // Closing: do not save the scene.
            return answers.value(box.kind(), box.kind() == 17 ? 0 : 1);
        });
        MainWindow::setFileDialogHook([this](const QString&, const QString&, const QString&, bool) {
            ++fileDialogs;
            return QStringList();
        });
        window = new MainWindow();
        QVERIFY(window->startUp());
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void cleanupTestCase()
    {
        window->close();
        delete window;
        BrevMessageBox::setAnswerHook(nullptr);
        MainWindow::setFileDialogHook(nullptr);
    }

    void shows()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Brevant"));
        QVERIFY(window->isVisible());
        QVERIFY(window->view()->isInitialised());
        // The slice switch waits for a print-task file; the language button shows English.
        QVERIFY(!window->form().btnMain_Slice->isEnabled());
        QVERIFY(!window->form().btnMain_Slice->isChecked());
        QVERIFY(!window->form().cbbMain_language->isChecked());
        QCOMPARE(window->form().letMain_size->text(), QStringLiteral("-"));
        QCOMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
    }

    void machineLabel_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << 0 << "Error";
        QTest::newRow("PX5") << 1 << "PX5";
        QTest::newRow("PX6") << 2 << "PX6";
        QTest::newRow("PX6-H") << 3 << "PX6-H";
    }
    void machineLabel()
    {
        QFETCH(int, type);
        QFETCH(QString, text);
        AppData::instance()->setChoiceType(type);
        window->updateMachineLabel();
        QCOMPARE(window->form().labMain_type->text(), text);
        AppData::instance()->setChoiceType(1);
    }

    void reportedMachineType()
    {
        asked.clear();
        window->onMachineTypeReported(ChoicePX5);
        QVERIFY(asked.isEmpty());
        window->onMachineTypeReported(ChoicePX6B);
        QCOMPARE(asked, QList<int>{3});
        QCOMPARE(AppData::instance()->getChoiceType(), 3);
        QCOMPARE(window->form().labMain_type->text(), QStringLiteral("PX6-H"));
        AppData::instance()->setChoiceType(1);
        window->updateMachineLabel();
    }

    void linkLight()
    {
        ThreadPool* p = ThreadPool::instance();
        p->slotLink(true);
        QTRY_COMPARE(window->form().labMain_light->text(), QStringLiteral("Connected"));
        QVERIFY(!window->form().actionChoiceType->isEnabled());
        p->slotLink(false);
        QTRY_COMPARE(window->form().labMain_light->text(), QStringLiteral("Not Connected"));
        QVERIFY(window->form().actionChoiceType->isEnabled());
    }

    void taskTexts()
    {
        ThreadPool* p = ThreadPool::instance();
        // Slicing, reported by the slicing worker.
        emit p->sliceWorker()->progressChanged(4000);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("Slicing"));
        QVERIFY(!window->form().btnMain_open->isEnabled());
        emit p->sliceWorker()->progressChanged(-1);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
        QVERIFY(window->form().btnMain_open->isEnabled());
        // Loading, reported by the file worker.
        FileRWStatus s;
        s.filePath = "x.stl";
        s.progress = 100;
        emit p->fileWorker()->StatusChanged(s);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("Loading Model"));
        s.finished = true;
        s.success = false;
        emit p->fileWorker()->StatusChanged(s);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
    }

    void loadsModelAndShowsSize()
    {
        const QString path = writeCube(dir.path(), "cube.stl", 20.0f);
        loadAndWait(path, 1);
        AppData::instance()->selectModel(0, 1);
        window->updateStatus();
        QCOMPARE(window->form().letMain_size->text(), QStringLiteral("20.00 x 20.00 x 20.00mm"));
        QVERIFY(window->form().btnMain_save->isEnabled());
        // On the plate and inside the volume: it keeps the place the file gave it.
        const auto bc = AppData::instance()->getModel(0)->getBottomCenter();
        QCOMPARE(bc[0], 10.0f);
        QCOMPARE(bc[1], 10.0f);
        QCOMPARE(bc[2], 0.0f);
        QTest::qWait(200);
        QImage shot = window->grab().toImage();
        QVERIFY(shot.save(QStringLiteral(TARNI_BUILD_DIR "/mainwindow_cube.png")));
    }

    void tooLargeModelIsOfferedOnce()
    {
        asked.clear();
        const QString path = writeCube(dir.path(), "big.stl", 300.0f);
        loadAndWait(path, 2);
        QTRY_VERIFY(asked.contains(42));
        QCOMPARE(asked.count(42), 1);
        MeshModel* big = AppData::instance()->getModel(1);
        QCOMPARE(big->fitPending, 0);
        // A cube's largest axis counts as Z: fitted to three quarters of the 140 mm height.
        QVERIFY2(std::fabs(big->size[2] - 105.0) < 0.05, qPrintable(QString::number(big->size[0])));
        window->updateStatus();
        QTest::qWait(50);
        QCOMPARE(asked.count(42), 1);
    }

    void languageSwitch()
    {
        QVERIFY(window->form().cbbMain_language->isEnabled());
        QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        QVERIFY(window->form().cbbMain_language->isChecked());
        QCOMPARE(AppData::instance()->getLanguage(), 1);
        QCOMPARE(window->form().labMain_Status->text(), QString::fromUtf8("无任务"));
        QCOMPARE(window->form().btnMain_open->toolTip(), QString::fromUtf8("打开文件"));
        QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        QCOMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
        QCOMPARE(AppData::instance()->getLanguage(), 0);
    }

    void frameRegions()
    {
        window->layoutOverlays(100, 100);
        QCOMPARE(window->size(), QSize(800, 720));
        QCOMPARE(window->hitRegion(QPoint(3, 3)), 11);
        QCOMPARE(window->hitRegion(QPoint(400, 3)), 12);
        QCOMPARE(window->hitRegion(QPoint(797, 719)), 33);
        QCOMPARE(window->hitRegion(QPoint(400, 50)), 221);
        QCOMPARE(window->hitRegion(QPoint(400, 300)), 222);
    }

    // A box without its +X side: the cut cannot close the halves, which the user is told, and
    // the scene stays as it was. The next test uses the box as well.
    void failedCutIsReported()
    {
        AppData* data = AppData::instance();
        auto* mesh = new MeshData();
        for (int i = 0; i < 8; ++i)
            mesh->vertices.push_back({(i & 1) * 20.0, ((i >> 1) & 1) * 20.0, ((i >> 2) & 1) * 20.0});
        mesh->faces = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4},
                       {1, 5, 4}, {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}};
        auto* open = new MeshModel();
        open->name = "open";
        open->setMeshSlot(MeshList::instance()->add(mesh));
        data->addModel(open);
        const int before = data->modelCount();
        data->selectModel(before - 1, 1);
        window->updateStatus();
        openPanel(4);
        CutModelForm& cut = window->form().twtMain_edit->cutPanel()->form();
        cut.btnReadyCutting->click();
        cut.btn_z->click();
        cut.dsbCutting->setValue(10.0);
        asked.clear();
        cut.btnStartCutting->click();
        QTRY_VERIFY_WITH_TIMEOUT(asked.contains(31), 10000);
        QCOMPARE(data->modelCount(), before);
        QCOMPARE(data->getModel(before - 1), open);
        cut.btnReadyCutting->click();
    }

    // Refused for a model outside the volume: the supports the panel dropped leave no delete
    // button enabled.
    void refusedAutoSupportRefreshesPanel()
    {
        AppData* data = AppData::instance();
        MeshModel* box = data->getModel(data->modelCount() - 1);
        auto* column = new MeshModel();
        column->isSupport = true;
        column->ownerName = box->name;
        const double foot[3] = {10.0, 10.0, 0.0};
        column->buildSupportBox(foot, 5.0, true);
        data->commitSupport(column);
        const double away[3] = {500.0, 0.0, 0.0};
        box->translate(away);
        window->updateStatus();
        openPanel(5);
        ManualSupportForm& panel = window->form().twtMain_edit->supportPanel()->form();
        QVERIFY(panel.btnSupport_delete->isEnabled());
        asked.clear();
        panel.btnSupport_auto->click();
        QCOMPARE(asked, QList<int>{4});
        QVERIFY(!data->hasSupports());
        QVERIFY(!panel.btnSupport_delete->isEnabled());
        QVERIFY(!panel.btnSupport_deleteall->isEnabled());
        data->removeModel(data->modelCount() - 1);
        window->updateStatus();
    }

    void deleteKeyRemovesSelected()
    {
        const int before = AppData::instance()->modelCount();
        QVERIFY(before > 0);
        AppData::instance()->selectModel(0, 1);
        QSignalSpy cut(window, &MainWindow::CutSign);
        QTest::keyClick(window, Qt::Key_Delete);
        QCOMPARE(AppData::instance()->modelCount(), before - 1);
        QCOMPARE(cut.count(), 1);
        QCOMPARE(cut.at(0).at(0).toInt(), before - 1);
    }

    // The print button turns into a stop button while slicing or sending; the card button
    // prints the file already on the printer.
    void askedBeforeStopping_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("fromPool");
        QTest::addColumn<QByteArray>("signal");
        const QByteArray beginPrint = SIGNAL(signBeginPrint(QString));
        const QByteArray killSlice = SIGNAL(signSliceKill());
        const QByteArray stopSending = SIGNAL(signStopSendGcode());
        QTest::newRow("card print") << 0 << "btnSD_print" << 1 << 40 << true << beginPrint;
        QTest::newRow("card print declined") << 0 << "btnSD_print" << 0 << 40 << true << beginPrint;
        QTest::newRow("slice cancelled") << 3 << "btnMain_print" << 1 << 7 << true << killSlice;
        QTest::newRow("slice kept") << 3 << "btnMain_print" << 0 << 7 << true << killSlice;
        QTest::newRow("transfer stopped") << 4 << "btnMain_print" << 1 << 5 << false << stopSending;
        QTest::newRow("transfer kept") << 4 << "btnMain_print" << 0 << 5 << false << stopSending;
    }
    void askedBeforeStopping()
    {
        QFETCH(int, task);
        QFETCH(QString, button);
        QFETCH(int, answer);
        QFETCH(int, kind);
        QFETCH(bool, fromPool);
        QFETCH(QByteArray, signal);
        if (AppData::instance()->modelCount() != 1)
            resetPlate(true);
        ThreadPool* p = ThreadPool::instance();
        p->slotLink(true);
        setTask(task);
        QSignalSpy spy(fromPool ? static_cast<QObject*>(p) : window, signal.constData());
        asked.clear();
        answers[kind] = answer;
        auto* b = window->findChild<QPushButton*>(button);
        QVERIFY(b && b->isEnabled());
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(asked, QList<int>{kind});
        QCOMPARE(spy.count(), answer);
        setTask(0);
        p->slotLink(false);
        answers.clear();
    }

    // The end of a cut or support job: its timer reports what came of it.
    void jobTimer_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QList<int>>("kinds");
        QTest::addColumn<int>("supportsLeft");
        QTest::newRow("done") << 1 << QList<int>() << 1;
        QTest::newRow("cut failed") << 2 << QList<int>{31} << 1;
        QTest::newRow("supports failed") << 3 << QList<int>{33} << 0;
    }
    void jobTimer()
    {
        QFETCH(int, state);
        QFETCH(QList<int>, kinds);
        QFETCH(int, supportsLeft);
        AppData* app = AppData::instance();
        app->removeAllSupports();
        auto* support = new MeshModel();
        support->isSupport = true;
        const double foot[3] = {5, 5, 0};
        support->buildSupportBox(foot, 5.0, true);
        app->commitSupport(support);
        asked.clear();
        window->setJobState(state);
        window->onJobTimer();
        QCOMPARE(asked, kinds);
        QCOMPARE(app->supportCount(), supportsLeft);
        // The job state is reset: a second time-out reports nothing.
        asked.clear();
        window->onJobTimer();
        QVERIFY(asked.isEmpty());
        app->removeAllSupports();
    }

    // Leaving support editing or the slice preview is asked first; a refusal changes nothing.
    void confirmBeforeLeaving_data()
    {
        QTest::addColumn<bool>("preview");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("modeLeft");
        QTest::addColumn<int>("dialogs");
        // Saving out of support editing: the mode ends, the save waits for the next click.
        QTest::newRow("support mode, quit") << false << 1 << 18 << true << 0;
        QTest::newRow("support mode, stay") << false << 0 << 18 << false << 0;
        QTest::newRow("preview, kept") << true << 0 << 19 << false << 0;
        QTest::newRow("preview, dropped") << true << 1 << 19 << true << 1;
    }
    void confirmBeforeLeaving()
    {
        QFETCH(bool, preview);
        QFETCH(int, answer);
        QFETCH(int, kind);
        QFETCH(bool, modeLeft);
        QFETCH(int, dialogs);
        resetPlate(true);
        AppData* app = AppData::instance();
        QPushButton* action = nullptr;
        if (preview) {
            showPrintTask();
            action = window->form().btnMain_open;
        } else {
            auto* add = window->findChild<QPushButton*>("btnSupport_add");
            QVERIFY(add && add->isEnabled());
            add->click();
            QVERIFY(app->isSupportEditing());
            action = window->form().btnMain_save;
            asked.clear();
        }
        answers[kind] = answer;
        QTRY_VERIFY(action->isEnabled());
        QTest::mouseClick(action, Qt::LeftButton);
        QCOMPARE(asked, QList<int>{kind});
        QCOMPARE(fileDialogs, dialogs);
        if (preview)
            QCOMPARE(window->view()->showMode() != 2, modeLeft);
        else
            QCOMPARE(!app->isSupportEditing(), modeLeft);
        if (app->isSupportEditing())
            window->findChild<QPushButton*>("btnSupport_add")->click();
    }

    // Another printer model while a print-task file is shown: the preview goes.
    void printerModelLeavesPreview()
    {
        resetPlate(false);
        showPrintTask();
        // The dialog opens from a queued call: answer it once it is up.
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [this, &answer] {
            auto* dialog = window->findChild<ChoiceTypeDialog*>();
            if (!dialog || !dialog->isVisible())
                return;
            answer.stop();
            dialog->findChild<QPushButton*>("btn_px6_a")->click();
            dialog->findChild<QPushButton*>("btn_ok")->click();
        });
        answer.start(20);
        QVERIFY(window->form().actionChoiceType->isEnabled());
        window->form().actionChoiceType->trigger();
        QTRY_COMPARE(asked, QList<int>{41});
        QCOMPARE(AppData::instance()->getChoiceType(), 2);
        QVERIFY(window->view()->showMode() != 2);
        QVERIFY(!window->form().btnMain_Slice->isEnabled() && !window->form().btnMain_Slice->isChecked());
        QCOMPARE(ThreadPool::instance()->hasPrintFile(), 0);
        AppData::instance()->setChoiceType(1);
        window->updateMachineLabel();
    }

    void dropSeveralFiles_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("models");
        QTest::addColumn<bool>("preview");
        QTest::newRow("two models") << QStringList{"a.stl", "b.stl"} << 2 << false;
        QTest::newRow("a model and a print task") << QStringList{"a.stl", "job.BVT"} << 1 << true;
    }
    void dropSeveralFiles()
    {
        QFETCH(QStringList, names);
        QFETCH(int, models);
        QFETCH(bool, preview);
        resetPlate(false);
        QList<QUrl> urls;
        for (const QString& n : names)
            urls << QUrl::fromLocalFile(n.endsWith("BVT") ? printTask() : writeCube(dir.path(), n, 10.0f));
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = window->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &drop);
        QTRY_COMPARE_WITH_TIMEOUT(AppData::instance()->modelCount(), models, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 10000);
        if (preview)
            QTRY_COMPARE_WITH_TIMEOUT(window->view()->showMode(), 2, 10000);
    }

    // Closing while slicing or sending: kept open unless the user says otherwise.
    void closeWhileBusy_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<bool>("models");
        QTest::addColumn<int>("kind");
        QTest::newRow("slicing, cancelled") << 3 << true << 21;
        QTest::newRow("sending, models on the plate") << 4 << true << 22;
        QTest::newRow("sending, cancelled") << 4 << false << 23;
    }
    void closeWhileBusy()
    {
        QFETCH(int, task);
        QFETCH(bool, models);
        QFETCH(int, kind);
        resetPlate(models);
        setTask(task);
        // Cancel where there is a choice; sending with models keeps the window whatever the answer.
        answers[kind] = kind == 22 ? 1 : 2;
        QCloseEvent close;
        QCoreApplication::sendEvent(window, &close);
        QVERIFY(!close.isAccepted());
        QCOMPARE(asked, QList<int>{kind});
        QVERIFY(window->isVisible());
        QCOMPARE(AppData::instance()->modelCount(), models ? 1 : 0);
        setTask(0);
        answers.clear();
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
