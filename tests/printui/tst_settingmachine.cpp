#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BVSettingWindow.h"
#include "UI/BVThreeBtn.h"
#include "UI/BVTwoBtn.h"
#include "UI/BWDoubleSpinBox.h"
#include "scene/AppData.h"
#include "testutil_printui.h"
#include "common/TestTime.h"

class TestSettingMachine : public QObject
{
    Q_OBJECT

    PrintUiFixture* fx = nullptr;
    ThreadPool* pool = nullptr;
    BVSettingWindow* w = nullptr;
    std::unique_ptr<QSignalSpy> commands;

    // Picks an X/Y step of 10, 5 or 1 mm, or a Z step of 0.2, 0.1 or 0.05 mm.
    void pickStep(BVThreeBtn* choice, int index)
    {
        choice->findChild<QPushButton*>(QStringLiteral("btn_%1").arg(index + 1))->click();
    }
    // A jog acknowledged by the printer.
    void jogAndAck(QPushButton* b)
    {
        b->click();
        w->PX5_1LevelStatus(PX5_1Accepted);
    }
    QList<QString> sent() const
    {
        QList<QString> out;
        for (const QList<QVariant>& args : *commands)
            out << args.at(0).toString();
        return out;
    }

private slots:
    void initTestCase()
    {
        fx = new PrintUiFixture;
        pool = new ThreadPool(nullptr);
    }
    void cleanupTestCase()
    {
        delete pool;
        delete fx;
    }
    void init()
    {
        fx->asked.clear();
        fx->answers.clear();
        AppData::instance()->setChoiceType(1);
        w = new BVSettingWindow;
        w->linkStatus(true);
        // Requests stop here: without a printer the link would answer them at once.
        QObject::disconnect(w, nullptr, pool->linkWorker(), nullptr);
        commands.reset(new QSignalSpy(w, &BVSettingWindow::signPX5_1LevelingCommand));
    }
    void cleanup()
    {
        commands.reset();
        delete w;
    }

    void origin()
    {
        auto& f = w->form();
        QSignalSpy begin(w, &BVSettingWindow::signPX5_1BeginLeveling);
        QVERIFY(!f.btnLevel_Xplus->isEnabled());
        f.btnLevel_Origin->click();
        QCOMPARE(begin.count(), 1);
        QVERIFY(w->isLevelingBusy());
        QVERIFY(!f.btnLevel_Origin->isEnabled() && !f.btn_win_close->isEnabled());
        w->PX5_1LevelStatus(PX5_1Accepted);
        // At the origin only the moves away from it are offered.
        QVERIFY(f.btnLevel_Xplus->isEnabled() && f.btnLevel_Yplus->isEnabled());
        QVERIFY(!f.btnLevel_Xminus->isEnabled() && !f.btnLevel_Yminus->isEnabled());
        QVERIFY(f.btnLevel_Zplus->isEnabled() && f.btnLevel_Zminus->isEnabled());
        QVERIFY(f.btn_win_close->isEnabled());
    }

    void xLimit_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("refused");
        QTest::newRow("from 180 refused") << 180 << true;
        QTest::newRow("from 177 reaches 187") << 177 << false;
    }
    void xLimit()
    {
        QFETCH(int, start);
        QFETCH(bool, refused);
        const int extraOnes = start - 170;
        auto& f = w->form();
        f.btnLevel_Origin->click();
        w->PX5_1LevelStatus(PX5_1Accepted);
        pickStep(f.btn_leveling, 0);
        for (int i = 0; i < 17; ++i)
            jogAndAck(f.btnLevel_Xplus);
        pickStep(f.btn_leveling, 2);
        for (int i = 0; i < extraOnes; ++i)
            jogAndAck(f.btnLevel_Xplus);
        QCOMPARE(w->jogPositionX(), 170 + extraOnes);
        commands->clear();
        pickStep(f.btn_leveling, 0);
        f.btnLevel_Xplus->click();
        if (refused) {
            QCOMPARE(fx->asked, QList<int>{11});
            QVERIFY(commands->isEmpty());
            QCOMPARE(w->jogPositionX(), start);
            return;
        }
        QVERIFY(fx->asked.isEmpty());
        QCOMPARE(sent(), QList<QString>{"X187"});
        w->PX5_1LevelStatus(PX5_1Accepted);
        QVERIFY(!f.btnLevel_Xplus->isEnabled());
        QVERIFY(f.btnLevel_Xminus->isEnabled());
    }

    void yLimit()
    {
        auto& f = w->form();
        f.btnLevel_Origin->click();
        w->PX5_1LevelStatus(PX5_1Accepted);
        pickStep(f.btn_leveling, 0);
        for (int i = 0; i < 17; ++i)
            jogAndAck(f.btnLevel_Yplus);
        pickStep(f.btn_leveling, 2);
        commands->clear();
        jogAndAck(f.btnLevel_Yplus);
        QCOMPARE(sent(), QList<QString>{"Y171"});
        QVERIFY(!f.btnLevel_Yplus->isEnabled());
        // Called directly the refusal still holds.
        w->on_btnLevel_Yplus_clicked();
        QCOMPARE(fx->asked, QList<int>{11});
        QCOMPARE(commands->count(), 1);
        jogAndAck(f.btnLevel_Yminus);
        QCOMPARE(sent().last(), QStringLiteral("Y170"));
    }

    void zJogs_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("command");
        QTest::newRow("up 0.05") << 2 << true << "Z-0.05";
        QTest::newRow("up 0.1") << 1 << true << "Z-0.1";
        QTest::newRow("down 0.2") << 0 << false << "Z0.2";
    }
    void zJogs()
    {
        QFETCH(int, step);
        QFETCH(bool, up);
        QFETCH(QString, command);
        pickStep(w->form().btn_leveling_Z, step);
        (up ? w->form().btnLevel_Zplus : w->form().btnLevel_Zminus)->setEnabled(true);
        (up ? w->form().btnLevel_Zplus : w->form().btnLevel_Zminus)->click();
        QCOMPARE(sent(), QList<QString>{command});
        QVERIFY(!w->form().btn_win_close->isEnabled());
    }

    void zLimit()
    {
        pickStep(w->form().btn_leveling_Z, 0);
        for (int i = 0; i < 25; ++i)
            w->on_btnLevel_Zminus_clicked();
        QCOMPARE(w->jogPositionZ(), 500);
        QCOMPARE(sent().last(), QStringLiteral("Z5"));
        w->on_btnLevel_Zminus_clicked();
        QCOMPARE(fx->asked, QList<int>{11});
        QCOMPARE(commands->count(), 25);
        w->PX5_1LevelStatus(PX5_1Accepted);
        QVERIFY(!w->form().btnLevel_Zminus->isEnabled());
        QVERIFY(w->form().btnLevel_Zplus->isEnabled());
    }

    void originLockedByXPlusOnly()
    {
        auto& f = w->form();
        f.btnLevel_Origin->click();
        w->PX5_1LevelStatus(PX5_1Accepted);
        f.btnLevel_Origin->setEnabled(true);
        f.btnLevel_Yplus->click();
        QVERIFY(f.btnLevel_Origin->isEnabled());
        w->PX5_1LevelStatus(PX5_1Accepted);
        f.btnLevel_Xplus->click();
        QVERIFY(!f.btnLevel_Origin->isEnabled());
        w->PX5_1LevelStatus(PX5_1Accepted);
        QVERIFY(!f.btnLevel_Origin->isEnabled());
        f.btnLevel_Origin->setEnabled(true);
        f.btnLevel_Xminus->click();
        QCOMPARE(sent().last(), QStringLiteral("X0"));
        QVERIFY(f.btnLevel_Origin->isEnabled());
        w->PX5_1LevelStatus(PX5_1Accepted);
        w->PX5_1LevelStatus(PX5_1Ended);
        QVERIFY(f.btnLevel_Origin->isEnabled());
        QVERIFY(!w->isLevelingBusy());
        QVERIFY(!f.btnLevel_Xplus->isEnabled());
    }

    void closingEndsLeveling_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("stops");
        QTest::newRow("PX5") << 1 << 1;
        QTest::newRow("PX6A") << 2 << 0;
    }
    void closingEndsLeveling()
    {
        QFETCH(int, type);
        QFETCH(int, stops);
        AppData::instance()->setChoiceType(type);
        QSignalSpy stop(w, &BVSettingWindow::signPX5_1StopLeveling);
        w->show();
        w->form().btnLevel_Origin->click();
        w->PX5_1LevelStatus(PX5_1Accepted);
        pickStep(w->form().btn_leveling_Z, 1);
        for (int i = 0; i < 3; ++i)
            jogAndAck(w->form().btnLevel_Zplus);
        QCOMPARE(w->jogPositionZ(), -30);
        w->form().btn_win_close->click();
        QVERIFY(w->isHidden());
        QCOMPARE(stop.count(), stops);
        if (stops)
            QCOMPARE(stop.first().at(0).toInt(), 30);
    }

    void printerStartsLeveling()
    {
        w->hide();
        CommunicateThread* link = pool->linkWorker();
        onLinkThread([link] { emit link->signPX5_1LevelingStatus(PX5_1Started); });
        QTRY_VERIFY(w->isVisible());
        QVERIFY(w->isModal());
        QVERIFY(w->isLevelingBusy());
        QCOMPARE(w->form().tabWidget->currentIndex(), 0);
        QCOMPARE(w->form().LevelingstackedWidget->currentIndex(), 0);
        onLinkThread([link] { emit link->signPX5_1LevelingStatus(PX5_1Idle); });
        QTRY_VERIFY(!w->isLevelingBusy());
        w->hide();
    }

    void px6Leveling_data()
    {
        QTest::addColumn<int>("data");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("kind");
        QTest::newRow("default") << 0 << "E0.8 mm" << 2 << 55;
        QTest::newRow("stored 1.2") << 1200 << "E1.2 mm" << 3 << 56;
    }
    void px6Leveling()
    {
        QFETCH(int, data);
        QFETCH(QString, command);
        QFETCH(int, result);
        QFETCH(int, kind);
        CommunicateThread* link = pool->linkWorker();
        // Start from another value so that the report has to change the field.
        w->form().first_layer_airgap_2->setValue(2.5);
        onLinkThread([link, data] { emit link->signLevelingData(data); });
        QTRY_COMPARE(w->form().first_layer_airgap_2->text(), command.mid(1));
        QSignalSpy begin(w, &BVSettingWindow::signPX6BeginLeveling);
        w->form().btnLevel_PX6->click();
        QCOMPARE(begin.count(), 1);
        QCOMPARE(begin.first().at(0).toString(), command);
        QVERIFY(w->isLevelingBusy());
        QVERIFY(!w->form().btn_win_close->isEnabled() && !w->form().btnLevel_PX6->isEnabled());
        w->PX6LevelStatus(PX6LevelingStatus(result));
        QCOMPARE(fx->asked, QList<int>{kind});
        QVERIFY(!w->isLevelingBusy());
        QVERIFY(w->form().btn_win_close->isEnabled() && w->form().btnLevel_PX6->isEnabled());
    }

    void door()
    {
        auto& f = w->form();
        CommunicateThread* link = pool->linkWorker();
        onLinkThread([link] { emit link->signDoorActive(1); });
        QTRY_COMPARE(f.btn_limit->value(), 1);
        QSignalSpy apply(w, &BVSettingWindow::signDoorActive);
        f.btn_limit->findChild<QPushButton*>("btn_no")->click();
        QVERIFY(f.btn_linmitApply->isEnabled());
        f.btn_linmitApply->click();
        QCOMPARE(apply.count(), 1);
        QCOMPARE(apply.first().at(0).toInt(), 0);
        onLinkThread([link] { emit link->setSuccess(); });
        QTRY_VERIFY(!f.btn_linmitApply->isEnabled());
        w->refresh();
        QVERIFY(f.btn_linmitApply->isEnabled());
    }

    void trayRequest_data()
    {
        QTest::addColumn<bool>("feed");
        QTest::addColumn<int>("answer");
        QTest::newRow("feed ok") << true << 1;
        QTest::newRow("feed cancelled") << true << 0;
        QTest::newRow("return ok") << false << 1;
        QTest::newRow("return cancelled") << false << 0;
    }
    void trayRequest()
    {
        QFETCH(bool, feed);
        QFETCH(int, answer);
        auto& f = w->form();
        const int kind = feed ? 50 : 51;
        fx->answers[kind] = answer;
        QSignalSpy in(w, &BVSettingWindow::signInTray);
        QSignalSpy out(w, &BVSettingWindow::signOutTray);
        (feed ? f.btntray_in : f.btntray_out)->click();
        QCOMPARE(fx->asked, QList<int>{kind});
        QCOMPARE(in.count(), feed && answer ? 1 : 0);
        QCOMPARE(out.count(), !feed && answer ? 1 : 0);
        QCOMPARE(w->isTrayBusy(), answer == 1);
        QCOMPARE(f.btntray_in->isChecked(), feed && answer);
        QCOMPARE(f.btntray_out->isChecked(), !feed && answer);
        if (!answer)
            return;
        QVERIFY(f.widget_tray_msg->isVisible());
        QCOMPARE(f.label_tarystate->text(), feed ? QStringLiteral("Feed Material...") : QStringLiteral("Returning..."));
        QVERIFY(!f.btn_win_close->isEnabled());
        QVERIFY(f.btntray_stop->isEnabled());
        // The printer reports the temperature, then the end.
        CommunicateThread* link = pool->linkWorker();
        QVERIFY(f.btntray_in->isChecked() == feed);
        onLinkThread([link] { emit link->signTrayTemperature(187); });
        QTRY_COMPARE(f.label_15->text(), QStringLiteral("187"));
        fx->asked.clear();
        onLinkThread([link] { emit link->signTrayStatus(TrayDone); });
        QTRY_COMPARE(fx->asked, QList<int>{feed ? 53 : 54});
        QVERIFY(!w->isTrayBusy());
        QVERIFY(!f.btntray_in->isChecked() && !f.btntray_out->isChecked());
        QVERIFY(f.widget_tray_msg->isHidden());
        QVERIFY(f.btn_win_close->isEnabled());
        QCOMPARE(f.label_15->text(), QStringLiteral("-"));
        w->hide();
    }

    // Wired to the link: with no printer behind it, a feed request is answered by a reset.
    void requestReachesLink()
    {
        delete w;
        w = new BVSettingWindow;
        w->linkStatus(true);
        w->form().btntray_in->click();
        QVERIFY(w->isTrayBusy());
        QTRY_VERIFY(!w->isTrayBusy());
        QVERIFY(!w->form().btntray_in->isChecked());
        QVERIFY(w->form().widget_tray_msg->isHidden());
        w->hide();
    }

    void trayStop_data()
    {
        QTest::addColumn<bool>("feed");
        QTest::addColumn<QString>("state");
        QTest::newRow("feed") << true << "Stop Feeding...";
        QTest::newRow("return") << false << "Stop Returning...";
    }
    void trayStop()
    {
        QFETCH(bool, feed);
        QFETCH(QString, state);
        auto& f = w->form();
        w->slotTray(feed ? TrayFeeding : TrayReturning);
        QSignalSpy stop(w, &BVSettingWindow::signStopTray);
        fx->answers[52] = 0;
        f.btntray_stop->click();
        QCOMPARE(stop.count(), 0);
        fx->answers[52] = 1;
        f.btntray_stop->click();
        QCOMPARE(stop.count(), 1);
        QCOMPARE(f.label_tarystate->text(), state);
        QVERIFY(w->isTrayBusy());
        QVERIFY(!f.btntray_in->isEnabled() && !f.btntray_out->isEnabled() && !f.btntray_stop->isEnabled());
        QVERIFY(!f.btn_win_close->isEnabled());
        // Escape cannot leave a running operation.
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(w->isVisible());
        w->slotTray(TrayStopped);
        QVERIFY(!w->isTrayBusy());
        QVERIFY(f.btntray_in->isEnabled() && f.btntray_out->isEnabled() && f.btn_win_close->isEnabled());
        QVERIFY(f.label_tarystate->text().isEmpty());
        w->hide();
    }

    // A printer-side stop shows the state; a link loss resets the page and the busy flags.
    void printerSideAndLinkLoss()
    {
        auto& f = w->form();
        w->hide();
        CommunicateThread* link = pool->linkWorker();
        onLinkThread([link] { emit link->signTrayStatus(TrayStoppingReturn); });
        QTRY_VERIFY(w->isVisible());
        QCOMPARE(f.label_tarystate->text(), QStringLiteral("Stop Returning..."));
        QCOMPARE(f.tabWidget->currentIndex(), 1);
        QVERIFY(w->movie()->state() == QMovie::Running);
        w->PX5_1LevelStatus(PX5_1Accepted);
        QVERIFY(w->isLevelingBusy());
        onLinkThread([link] { emit link->linkStatus(false); });
        QTRY_VERIFY(!f.tab_Material->isEnabled());
        QVERIFY(!w->isLevelingBusy());
        QVERIFY(!w->isTrayBusy());
        QVERIFY(f.widget_tray_msg->isHidden());
        QVERIFY(f.btn_win_close->isEnabled());
        QVERIFY(!f.tab_Leveing->isEnabled());
        onLinkThread([link] { emit link->linkStatus(true); });
        QTRY_VERIFY(f.tab_Material->isEnabled());
        QVERIFY(f.tab_Leveing->isEnabled() && f.btnLevel_Origin->isEnabled() && !f.btnLevel_Xplus->isEnabled());
        onLinkThread([link] { emit link->signMachineType(ChoicePX6B); });
        QTRY_COMPARE(f.LevelingstackedWidget->currentIndex(), 1);
        w->hide();
    }

    void statesTranslated()
    {
        QTranslator zh;
        QVERIFY(zh.load(":/brevant_zh.qm"));
        QCoreApplication::installTranslator(&zh);
        w->slotTray(TrayFeeding);
        QCOMPARE(w->form().label_tarystate->text(), QStringLiteral("正在进料..."));
        QTRY_COMPARE(w->form().btnLevel_PX6->text(), QStringLiteral("开始调平"));
        QCoreApplication::removeTranslator(&zh);
        w->hide();
    }
};

QTEST_MAIN(TestSettingMachine)
#include "tst_settingmachine.moc"
