#include <QtTest>

#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>

#include "UI/EditTreeWidget.h"
#include "UI/MoveModelWidget.h"
#include "cutting/CutModelWidget.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "support/ManualSupportWidget.h"
#include "testutil_host.h"

class TestCutSupport : public QObject
{
    Q_OBJECT
    FakeHost* host = nullptr;
    CutModelWidget* cut() { return host->tree->cutPanel(); }
    ManualSupportWidget* support() { return host->tree->supportPanel(); }

private slots:
    void init()
    {
        host = new FakeHost();
        host->show();
        QVERIFY(QTest::qWaitForWindowExposed(host));
    }
    void cleanup()
    {
        delete host;
        clearScene();
    }

    void readyState()
    {
        addBoxModel("box", 10, 20, 30);
        host->updateStatus();
        host->openItem(4);
        CutModelForm& f = cut()->form();
        QVERIFY(!f.btnStartCutting->isEnabled());
        QTest::mouseClick(f.btnReadyCutting, Qt::LeftButton);
        QVERIFY(cut()->isReadyCutting());
        QCOMPARE(AppData::instance()->getEditMode(), 4);
        QCOMPARE(f.btnReadyCutting->text(), QStringLiteral("exit cut"));
        QVERIFY(f.btnStartCutting->isEnabled() && f.dsbCutting->isEnabled() && f.btn_x->isEnabled());
        QCOMPARE(host->cutCommands.last(), 4);
        // Z is checked at start: the plane goes to half the model's height.
        QCOMPARE(f.dsbCutting->value(), 15.0);
        QCOMPARE(host->cutValues.last(), 15.f);

        QTest::mouseClick(f.btnReadyCutting, Qt::LeftButton);
        QVERIFY(!cut()->isReadyCutting());
        QCOMPARE(AppData::instance()->getEditMode(), 0);
        QCOMPARE(host->cutCommands.last(), 5);
        QVERIFY(!f.btnStartCutting->isEnabled() && !f.dsbCutting->isEnabled() && !f.btn_z->isEnabled());
        QCOMPARE(f.btnReadyCutting->text(), QStringLiteral("Ready cut"));
    }

    void axisMovesPlane_data()
    {
        QTest::addColumn<QString>("axis");
        QTest::addColumn<int>("command");
        QTest::addColumn<double>("value");
        QTest::newRow("x") << "btn_x" << 0 << 4.0;
        QTest::newRow("y") << "btn_y" << 1 << -6.0;
        QTest::newRow("z") << "btn_z" << 2 << 15.0;
    }
    void axisMovesPlane()
    {
        QFETCH(QString, axis);
        QFETCH(int, command);
        QFETCH(double, value);
        MeshModel* m = addBoxModel("box", 10, 20, 30);
        const double d[3] = {4, -6, 0};
        m->translate(d);
        host->updateStatus();
        cut()->form().btnReadyCutting->click();
        cut()->findChild<QPushButton*>(axis)->click();
        QVERIFY(host->cutCommands.contains(command));
        QCOMPARE(cut()->form().dsbCutting->value(), value);
    }

    void startLimit_data()
    {
        QTest::addColumn<int>("models");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QList<int>>("kinds");
        QTest::addColumn<bool>("started");
        QTest::newRow("49 starts") << 49 << true << QList<int>() << true;
        QTest::newRow("50 refused") << 50 << true << QList<int>{12} << false;
        QTest::newRow("out of range") << 1 << false << QList<int>{44} << true;
    }
    void startLimit()
    {
        QFETCH(int, models);
        QFETCH(bool, accept);
        QFETCH(QList<int>, kinds);
        QFETCH(bool, started);
        MessageRecorder answers(1);
        for (int i = 0; i < models; ++i)
            addBoxModel("m" + std::to_string(i), 5, 5, 5);
        host->updateStatus();
        host->acceptCut = accept;
        host->openItem(4);
        cut()->form().btnReadyCutting->click();
        QTest::mouseClick(cut()->form().btnStartCutting, Qt::LeftButton);
        QCOMPARE(answers.kinds, kinds);
        QCOMPARE(host->cutCommands.contains(3), started);
    }

    void startWithSupportsAsksFirst()
    {
        MessageRecorder answers(1);
        MeshModel* m = addBoxModel("box", 5, 5, 5);
        host->updateStatus();
        host->openItem(4);
        cut()->form().btnReadyCutting->click();
        addSupportFor(m);
        QTest::mouseClick(cut()->form().btnStartCutting, Qt::LeftButton);
        QCOMPARE(answers.kinds, QList<int>{20});
        QVERIFY(!host->cutCommands.contains(3));
        QVERIFY(!AppData::instance()->hasSupports());
        QTest::mouseClick(cut()->form().btnStartCutting, Qt::LeftButton);
        QVERIFY(host->cutCommands.contains(3));
    }

    void disablingLeavesReadyState()
    {
        addBoxModel("box", 5, 5, 5);
        host->updateStatus();
        cut()->form().btnReadyCutting->click();
        host->tree->setCuttingDisabled(true);
        QVERIFY(!host->tree->isReadyCutting());
        QVERIFY(!cut()->form().btnReadyCutting->isEnabled());
        QCOMPARE(host->cutCommands.last(), 5);
        host->tree->setCuttingDisabled(false);
        QVERIFY(cut()->form().btnReadyCutting->isEnabled());
        QVERIFY(!cut()->form().btnStartCutting->isEnabled());
        // An emptied scene resets the label.
        cut()->form().btnReadyCutting->setText("exit cut");
        emit host->CutSign(0);
        QCOMPARE(cut()->form().btnReadyCutting->text(), QStringLiteral("Ready cut"));
    }

    void supportRanges()
    {
        ManualSupportForm& f = support()->form();
        QCOMPARE(f.letSupport_size->minimum(), 1.0);
        QCOMPARE(f.letSupport_size->maximum(), 5.0);
        QCOMPARE(f.letSupport_degree->minimum(), 0);
        QCOMPARE(f.letSupport_degree->maximum(), 60);
        host->tree->setSupportSize(3.0);
        QCOMPARE(f.letSupport_size->value(), 3.0);
        host->tree->setSupportSize(0.0);
        host->tree->setSupportSize(-2.0);
        QCOMPARE(f.letSupport_size->value(), 3.0);
        f.letSupport_size->setValue(4.5);
        emit f.letSupport_size->editingFinished();
        QCOMPARE(AppData::instance()->getSupportSize(), 4.5);
        AppData::instance()->setSupportSize(2.0);
    }

    void addAndDeleteModes()
    {
        MeshModel* m = addBoxModel("box", 5, 5, 5);
        addSupportFor(m);
        host->updateStatus();
        ManualSupportForm& f = support()->form();
        QVERIFY(f.btnSupport_delete->isEnabled());
        cut()->form().btnReadyCutting->click();
        QVERIFY(cut()->isReadyCutting());

        f.btnSupport_add->click();
        QVERIFY(AppData::instance()->isSupportEditing());
        QVERIFY(!f.letSupport_size->isEnabled());
        QCOMPARE(f.btnSupport_add->text(), QStringLiteral("Quit Adding"));
        QVERIFY(!cut()->isReadyCutting());
        QVERIFY(host->tree->isSupportEditing());

        f.btnSupport_delete->click();
        QVERIFY(!AppData::instance()->isSupportEditing());
        QVERIFY(AppData::instance()->isSupportDeleting());
        QVERIFY(!f.btnSupport_add->isChecked());
        QCOMPARE(host->cursors.last(), true);

        // The window's exit request ends either mode.
        emit host->tree->signExitSupportWork();
        QVERIFY(!AppData::instance()->isSupportDeleting());
        QCOMPARE(host->cursors.last(), false);
        QVERIFY(!host->tree->isSupportEditing());

        // A refused erase question leaves adding mode off and the button unchecked.
        host->allowErase = false;
        f.btnSupport_add->click();
        QVERIFY(!AppData::instance()->isSupportEditing());
        QVERIFY(!f.btnSupport_add->isChecked());
    }

    void leavingAddingFreesMeshes()
    {
        addBoxModel("box", 5, 5, 5);
        host->updateStatus();
        support()->form().btnSupport_add->click();
        // An unfinished column: a mesh that no model or support refers to.
        auto* orphan = new MeshData();
        orphan->vertices.push_back({0, 0, 0});
        const int slot = MeshList::instance()->add(orphan);
        QVERIFY(MeshList::instance()->at(slot));
        support()->form().btnSupport_add->click();
        QVERIFY(!MeshList::instance()->at(slot));
        QVERIFY(AppData::instance()->getModel(0)->getMesh());
    }

    void autoWithSupportsAsksOnce()
    {
        MessageRecorder answers(1);
        MeshModel* m = addBoxModel("box", 5, 5, 5);
        addSupportFor(m);
        host->updateStatus();
        AppData::instance()->setSupportAngle(45.0);
        host->openItem(5);
        QTest::mouseClick(support()->form().btnSupport_auto, Qt::LeftButton);
        QCOMPARE(answers.kinds, QList<int>{20});
        QCOMPARE(host->autoRuns.size(), 1);
        QCOMPARE(host->autoRuns.first().first, 2.0);
        QCOMPARE(host->autoRuns.first().second, 45.0);
        QVERIFY(!AppData::instance()->hasSupports());
        AppData::instance()->setSupportAngle(60.0);
    }

    // The panels' texts come from the program's Chinese translation.
    void chinese()
    {
        QTranslator zh;
        QVERIFY(zh.load(":/brevant_zh.qm"));
        QCoreApplication::installTranslator(&zh);
        // Outside a running event loop the change is not announced by itself.
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(host, &change);
        host->tree->retranslatePanels();
        const QString ready = cut()->form().btnReadyCutting->text();
        const QString add = support()->form().btnSupport_add->text();
        const QString center = host->tree->movePanel()->form().btn_movecenter->text();
        QCoreApplication::removeTranslator(&zh);
        host->tree->retranslatePanels();
        QCOMPARE(ready, QString::fromUtf8("准备切割"));
        QCOMPARE(add, QString::fromUtf8("添加支撑"));
        QCOMPARE(center, QString::fromUtf8("居中"));
        QCOMPARE(cut()->form().btnReadyCutting->text(), QStringLiteral("Ready cut"));
    }

    // The engine takes one column size for all supports: another size asks about the columns
    // standing; Ok deletes them and keeps the size, Cancel shows the kept size again.
    void supportSizeAsksAboutSupports_data()
    {
        QTest::addColumn<bool>("supports");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<int>>("kinds");
        QTest::addColumn<double>("kept");
        QTest::newRow("no supports") << false << 1 << QList<int>() << 3.0;
        QTest::newRow("ok") << true << 1 << QList<int>{20} << 3.0;
        QTest::newRow("cancel") << true << 0 << QList<int>{20} << 2.0;
    }
    void supportSizeAsksAboutSupports()
    {
        QFETCH(bool, supports);
        QFETCH(int, answer);
        QFETCH(QList<int>, kinds);
        QFETCH(double, kept);
        MessageRecorder answers(answer);
        MeshModel* m = addBoxModel("box", 5, 5, 5);
        if (supports)
            addSupportFor(m);
        host->updateStatus();
        QDoubleSpinBox* size = support()->form().letSupport_size;
        size->setValue(3.0);
        emit size->editingFinished();
        QCOMPARE(answers.kinds, kinds);
        QCOMPARE(AppData::instance()->getSupportSize(), kept);
        QCOMPARE(size->value(), kept);
        QCOMPARE(AppData::instance()->hasSupports(), supports && answer == 0);
        AppData::instance()->setSupportSize(2.0);
    }

    void deleteAll_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("remaining");
        QTest::newRow("ok") << 1 << false;
        QTest::newRow("cancel") << 0 << true;
    }
    void deleteAll()
    {
        QFETCH(int, answer);
        QFETCH(bool, remaining);
        MessageRecorder answers(answer);
        MeshModel* m = addBoxModel("box", 5, 5, 5);
        addSupportFor(m);
        host->updateStatus();
        support()->form().btnSupport_delete->click();
        support()->form().btnSupport_deleteall->click();
        QCOMPARE(answers.kinds, QList<int>{10});
        QCOMPARE(AppData::instance()->hasSupports(), remaining);
        QCOMPARE(AppData::instance()->isSupportDeleting(), remaining);
        QCOMPARE(support()->form().btnSupport_deleteall->isEnabled(), remaining);
    }
};

QTEST_MAIN(TestCutSupport)
#include "tst_cutsupport.moc"
