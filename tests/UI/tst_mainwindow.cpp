#include <QtTest>

#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTemporaryDir>

#include "Thread/FDMSliceProcess.h"
#include "Thread/FileRWThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
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
            return box.kind() == 17 ? 0 : 1;
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
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
