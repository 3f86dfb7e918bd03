#include <QtTest>

#include "testutil_linkfixture.h"
#include "platform/Platform.h"

using namespace SerialFrame;

class TestLeveling : public QObject
{
    Q_OBJECT
private slots:
    void firstModelRun();
    void firstModelFailures_data();
    void firstModelFailures();
    void printerStartsLeveling_data();
    void printerStartsLeveling();
    void secondModel_data();
    void secondModel();
    void tray_data();
    void tray();
    void trayTimeOut();
    void trayOutOfTurn();
    void door();
};

void TestLeveling::firstModelRun()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    fx.call([&fx] { fx.link->beginLeveling(); });
    QTRY_COMPARE(spyValues<PX5_1LevelingStatus>(*fx.px5), QList<PX5_1LevelingStatus>{PX5_1Accepted});
    QCOMPARE(fx.sent(ReqControl).last(), QByteArray(1, char(CtlBeginLeveling)));
    QCOMPARE(fx.state(), int(CommunicateThread::StateLeveling));
    // The printer is busy levelling: no status queries, and their silence is no link loss.
    const int queries = fx.sim.requestCount(ReqStatus);
    QTest::qWait(Platform::scaledMs(4000));
    QCOMPARE(fx.sim.requestCount(ReqStatus), queries);
    QVERIFY(fx.linkStatus->size() == 1);
    // A new begin while levelling starts the run again.
    fx.call([&fx] { fx.link->beginLeveling(); });
    QTRY_COMPARE(fx.px5->size(), 2);
    fx.call([&fx] { fx.link->levelingCommand(QStringLiteral("X%1").arg(10)); });
    QTRY_COMPARE(fx.px5->size(), 3);
    QCOMPARE(fx.sent(ReqJog), QList<QByteArray>{QByteArray(" G0 X10")});
    fx.call([&fx] { fx.link->stopLeveling(-250); });
    QTRY_COMPARE(lastValue<PX5_1LevelingStatus>(*fx.px5), PX5_1Ended);
    QCOMPARE(fx.sent(ReqControl).last(), QByteArray::fromHex("0001 0000fa"));
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    QVERIFY(fx.errors->isEmpty());
}

void TestLeveling::firstModelFailures_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("runEnds");
    QTest::newRow("begin refused") << 0 << true;
    QTest::newRow("begin unanswered") << 1 << true;
    QTest::newRow("jog failed") << 2 << false;
    QTest::newRow("jog unanswered") << 3 << true;
    QTest::newRow("stop refused") << 4 << true;
}

void TestLeveling::firstModelFailures()
{
    QFETCH(int, fault);
    QFETCH(bool, runEnds);
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    PrinterSim::Behaviour& b = fx.sim.behaviour;
    b.refuseLeveling = fault == 0;
    b.controlSilent = fault == 1;
    b.jogFails = fault == 2;
    b.jogSilent = fault == 3;
    fx.call([&fx] { fx.link->beginLeveling(); });
    if (fault >= 2) {
        QTRY_COMPARE(fx.px5->size(), 1);
        if (fault == 4) {
            b.refuseLeveling = true;
            fx.call([&fx] { fx.link->stopLeveling(250); });
        } else {
            fx.call([&fx] { fx.link->levelingCommand(QStringLiteral("Z1")); });
        }
        if (runEnds)
            fx.sim.printerState = PrinterSim::Idle; // or the next status starts a new run

    }
    QTRY_COMPARE_WITH_TIMEOUT(spyValues<Error>(*fx.errors), QList<Error>{ErrLeveling}, TestTime::waitMs(5000));
    fx.sync();
    if (runEnds) {
        // The run is reported as ended so the pages and the pool leave their busy state.
        QTRY_COMPARE(lastValue<PX5_1LevelingStatus>(*fx.px5), PX5_1Idle);
        QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    } else {
        QCOMPARE(fx.state(), int(CommunicateThread::StateLeveling));
        QCOMPARE(spyValues<PX5_1LevelingStatus>(*fx.px5), QList<PX5_1LevelingStatus>{PX5_1Accepted});
    }
}

void TestLeveling::printerStartsLeveling_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("first model") << 2;
    QTest::newRow("second model") << 3;
}

void TestLeveling::printerStartsLeveling()
{
    QFETCH(int, model);
    LinkFixture fx;
    fx.sim.behaviour.machine.model = quint8(model);
    QVERIFY(fx.linkUp());
    fx.sim.printerState = PrinterSim::Leveling;
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateLeveling));
    fx.sync();
    if (model == 2) {
        QCOMPARE(spyValues<PX5_1LevelingStatus>(*fx.px5), QList<PX5_1LevelingStatus>{PX5_1Started});
        // Jogs are allowed at once.
        fx.call([&fx] { fx.link->levelingCommand(QStringLiteral("Y5")); });
        QTRY_COMPARE(fx.px5->size(), 2);
    } else {
        QCOMPARE(spyValues<PX6LevelingStatus>(*fx.px6), QList<PX6LevelingStatus>{PX6LevelingStatus::PX6Leveling});
        fx.sim.printerState = PrinterSim::Idle;
        fx.sim.sendReply(RepLevelingResult, QByteArray(1, '\0'));
        QTRY_COMPARE(lastValue<PX6LevelingStatus>(*fx.px6), PX6EndedFirst);
    }
}

void TestLeveling::secondModel_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error");
    QTest::newRow("first result") << 0 << int(PX6EndedFirst) << 0;
    QTest::newRow("second result") << 1 << int(PX6EndedSecond) << 0;
    QTest::newRow("no answer") << -1 << int(PX6Refused) << int(ErrLeveling);
}

void TestLeveling::secondModel()
{
    QFETCH(int, result);
    QFETCH(int, status);
    QFETCH(int, error);
    LinkFixture fx;
    fx.sim.behaviour.machine.model = 3;
    fx.sim.behaviour.px6LevelingResult = qMax(0, result);
    fx.sim.behaviour.px6LevelingMs = result < 0 ? -1 : 20;
    QVERIFY(fx.linkUp());
    Platform::setTimeoutScale(TestTime::timeoutScale(0.01)); // the printer gets 1.2 s
    fx.call([&fx] { fx.link->PX6Leveling(QStringLiteral("E0.8 mm")); });
    QTRY_COMPARE_WITH_TIMEOUT(fx.px6->size(), 1, TestTime::waitMs(5000));
    QCOMPARE(fx.px6->at(0).at(0).value<PX6LevelingStatus>(), PX6LevelingStatus(status));
    QCOMPARE(fx.sent(ReqPX6Leveling), QList<QByteArray>{QByteArray("E0.8 mm")});
    QCOMPARE(spyValues<Error>(*fx.errors), error ? QList<Error>{Error(error)} : QList<Error>());
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
}

void TestLeveling::tray_data()
{
    QTest::addColumn<bool>("feed");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QList<TrayStaus>>("expected");
    QTest::newRow("feed") << true << 0 << QList<TrayStaus>{TrayDone};
    QTest::newRow("return") << false << 0 << QList<TrayStaus>{TrayDone};
    QTest::newRow("feed refused") << true << 1 << QList<TrayStaus>{TrayReset};
    QTest::newRow("feed stopped") << true << 2 << QList<TrayStaus>{TrayStoppingFeed, TrayStopped};
    QTest::newRow("return stopped") << false << 2 << QList<TrayStaus>{TrayStoppingReturn, TrayStopped};
}

void TestLeveling::tray()
{
    QFETCH(bool, feed);
    QFETCH(int, fault);
    QFETCH(QList<TrayStaus>, expected);
    LinkFixture fx;
    fx.sim.behaviour.nozzleTemp = 205;
    fx.sim.behaviour.trayRefuse = fault == 1;
    fx.sim.behaviour.traySilent = fault == 2;
    fx.sim.behaviour.trayMs = Platform::scaledMs(3000); // a few of the link's heartbeats
    QVERIFY(fx.linkUp());
    fx.tray->clear();
    if (feed)
        fx.call([&fx] { fx.link->inTray(); });
    else
        fx.call([&fx] { fx.link->outTray(); });
    int temperaturesBeforeStop = 0;
    if (fault == 2) {
        QTRY_VERIFY(fx.sim.printerState == PrinterSim::Tray && fx.trayTemp->size() >= 2);
        fx.sync();
        temperaturesBeforeStop = fx.trayTemp->size();
        fx.call([&fx] { fx.link->stopTray(); });
    }
    QTRY_COMPARE(spyValues<TrayStaus>(*fx.tray), expected);
    // While the stop is under way the nozzle temperature is still shown.
    if (fault == 2)
        QVERIFY(fx.trayTemp->size() > temperaturesBeforeStop);
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    QVERIFY(fx.errors->isEmpty());
    if (fault != 1)
        QVERIFY(spyValues<int>(*fx.trayTemp).contains(205));
    const QByteArray code(1, char(feed ? CtlFeed : CtlReturn));
    QCOMPARE(fx.sent(ReqControl).first(), code);
}

void TestLeveling::trayTimeOut()
{
    LinkFixture fx;
    fx.sim.behaviour.traySilent = true;
    QVERIFY(fx.linkUp());
    // 300 s become 1.5 s; the running heartbeat keeps its interval.
    Platform::setTimeoutScale(TestTime::timeoutScale(0.005));
    fx.tray->clear();
    fx.call([&fx] { fx.link->inTray(); });
    QTRY_VERIFY_WITH_TIMEOUT(!fx.errors->isEmpty(), TestTime::waitMs(12000));
    fx.sim.printerState = PrinterSim::Idle; // the printer gives up too
    fx.sync();
    QCOMPARE(spyValues<int>(*fx.errors).first(), int(ErrTray));
    QCOMPARE(spyValues<TrayStaus>(*fx.tray).first(), TrayReset);
}

void TestLeveling::trayOutOfTurn()
{
    LinkFixture fx;
    fx.sim.behaviour.progressStep = 0;
    fx.sim.printerState = PrinterSim::Printing;
    QVERIFY(fx.linkUp());
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StatePrinting));
    fx.tray->clear();
    fx.call([&fx] { fx.link->inTray(); });
    fx.call([&fx] { fx.link->stopTray(); });
    fx.call([&fx] { fx.link->PX6Leveling(QStringLiteral("E1")); });
    fx.call([&fx] { fx.link->stopLeveling(1); });
    fx.sync();
    QCOMPARE(spyValues<TrayStaus>(*fx.tray), (QList<TrayStaus>{TrayReset, TrayReset}));
    QCOMPARE(spyValues<PX6LevelingStatus>(*fx.px6), QList<PX6LevelingStatus>{PX6Refused});
    QCOMPARE(spyValues<PX5_1LevelingStatus>(*fx.px5), QList<PX5_1LevelingStatus>{PX5_1Idle});
    QTest::qWait(50);
    QCOMPARE(fx.sim.requestCount(ReqControl) + fx.sim.requestCount(ReqPX6Leveling), 0);
}

void TestLeveling::door()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    fx.call([&fx] { fx.link->setDoorActive(5); });
    QTRY_COMPARE(fx.success->size(), 1);
    QCOMPARE(fx.sim.doorSwitch, 1);
    fx.call([&fx] { fx.link->setDoorActive(0); });
    QTRY_COMPARE(fx.success->size(), 2);
    QCOMPARE(fx.sent(ReqDoor), (QList<QByteArray>{QByteArray::fromHex("0001"), QByteArray::fromHex("0000")}));
    QCOMPARE(fx.state(), int(CommunicateThread::StateReady));
}

QTEST_GUILESS_MAIN(TestLeveling)
#include "tst_leveling.moc"
