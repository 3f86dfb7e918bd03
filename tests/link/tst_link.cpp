#include <QtTest>

#include "testutil_linkfixture.h"

using namespace SerialFrame;

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void setUp_data();
    void setUp();
    void linkRefused();
    void heartbeatLoss();
    void portVanishes();
    void portNamesComparedWhole();
    void statusValues_data();
    void statusValues();
    void faultCodes();
    void pauseReasons_data();
    void pauseReasons();
    void firstIdleStatusEndsOnce();
    void noisyLineKeepsLink();
    void machineInfoSignals();
    void logLines();
};

void TestLink::setUp_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("variant");
    QTest::addColumn<int>("tryAgain");
    QTest::addColumn<bool>("handshakeSilent");
    QTest::addColumn<bool>("linkUp");
    QTest::addColumn<int>("type");
    QTest::newRow("first model") << 2 << 0 << 0 << false << true << 1;
    QTest::newRow("second model A") << 3 << 0 << 0 << false << true << 2;
    QTest::newRow("second model B") << 3 << 1 << 0 << false << true << 3;
    QTest::newRow("try again twice") << 2 << 0 << 2 << false << true << 1;
    QTest::newRow("unknown variant") << 3 << 2 << 0 << false << false << 0;
    QTest::newRow("silent handshake") << 2 << 0 << 0 << true << false << 0;
}

void TestLink::setUp()
{
    QFETCH(int, model);
    QFETCH(int, variant);
    QFETCH(int, tryAgain);
    QFETCH(bool, handshakeSilent);
    QFETCH(bool, linkUp);
    QFETCH(int, type);
    LinkFixture fx;
    fx.sim.behaviour.machine.model = quint8(model);
    fx.sim.behaviour.machine.variant = quint8(variant);
    fx.sim.behaviour.tryAgainCount = tryAgain;
    fx.sim.behaviour.handshakeSilent = handshakeSilent;
    if (linkUp) {
        QVERIFY(fx.linkUp());
        QCOMPARE(fx.state(), int(CommunicateThread::StateReady));
        QCOMPARE(spyValues<ChoiceType>(*fx.machineType), QList<ChoiceType>{ChoiceType(type)});
        // Handshake, then the link requests, then status queries.
        QTRY_VERIFY(fx.sim.requests().size() >= 3 + tryAgain);
        const auto& req = fx.sim.requests();
        QCOMPARE(int(req.at(0).command), int(ReqHandshake));
        for (int i = 0; i <= tryAgain; ++i)
            QCOMPARE(int(req.at(1 + i).command), int(ReqLink));
        QCOMPARE(int(req.at(2 + tryAgain).command), int(ReqStatus));
        QVERIFY(fx.errors->isEmpty());
    } else {
        QVERIFY(fx.startPrinter());
        fx.call([&fx] { fx.link->startSerialdetection(); });
        // The handshake is given up after its time-out and tried again on a new opening.
        QTRY_VERIFY_WITH_TIMEOUT(fx.sim.requestCount(ReqHandshake) >= 3, TestTime::waitMs(5000));
        QVERIFY(fx.machineType->isEmpty());
        QCOMPARE(fx.sim.requestCount(ReqLink), 0);
        QVERIFY(!spyValues<bool>(*fx.linkStatus).contains(true));
    }
}

void TestLink::linkRefused()
{
    LinkFixture fx;
    fx.sim.behaviour.linkAnswer = PrinterSim::LinkRefuse;
    QVERIFY(fx.startPrinter());
    fx.call([&fx] { fx.link->startSerialdetection(); });
    QTRY_COMPARE(fx.update->size(), 1);
    QCOMPARE(spyValues<bool>(*fx.linkStatus), QList<bool>{false});
    QCOMPARE(fx.state(), int(CommunicateThread::StateNone));
    // Detection stays stopped: no new handshake while the printer stays attached.
    QTest::qWait(TestTime::waitMs(200));
    QCOMPARE(fx.sim.requestCount(ReqHandshake), 1);
    // Until it is started again.
    fx.sim.behaviour.linkAnswer = PrinterSim::LinkAccept;
    fx.call([&fx] { fx.link->startSerialdetection(); });
    QTRY_VERIFY(spyValues<bool>(*fx.linkStatus).contains(true));
}

void TestLink::heartbeatLoss()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    fx.tray->clear();
    clearCapturedLog();
    fx.sim.behaviour.statusSilent = true;
    QTRY_COMPARE(spyValues<Error>(*fx.errors), QList<Error>{ErrConnectionLost});
    // Closed first; detection may already have set the link up again behind it.
    QCOMPARE(spyValues<bool>(*fx.linkStatus).mid(0, 2), (QList<bool>{true, false}));
    QCOMPARE(spyValues<TrayStaus>(*fx.tray), QList<TrayStaus>{TrayReset});
    int misses = 0;
    for (const QString& line : capturedLog())
        misses += line.contains(QLatin1String("m_RecvMsg.retryTime:")) ? 1 : 0;
    QCOMPARE(misses, 3);
}

void TestLink::portVanishes()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    fx.sim.vanish();
    QTRY_COMPARE(lastValue<bool>(*fx.linkStatus), false);
    QCOMPARE(fx.state(), int(CommunicateThread::StateNone));
    // It comes back: the link is set up again.
    fx.linkStatus->clear();
    QVERIFY(fx.linkUp());
}

void TestLink::portNamesComparedWhole()
{
    LinkFixture fx;
    const QString one = fx.dir.path() + QStringLiteral("/p1");
    const QString ten = fx.dir.path() + QStringLiteral("/p10");
    qputenv("TARNI_SERIAL_PORTS", (one + QLatin1Char(':') + ten).toLocal8Bit());
    PrinterSim simTen;
    QVERIFY(simTen.start(ten));
    fx.call([&fx] { fx.link->startSerialdetection(); });
    QTRY_VERIFY(spyValues<bool>(*fx.linkStatus).contains(true));
    // A printer appears on the port listed first: the open one is not taken for it.
    PrinterSim simOne;
    QVERIFY(simOne.start(one));
    QTRY_VERIFY(simOne.requestCount(ReqHandshake) >= 1);
    QTRY_COMPARE(spyValues<bool>(*fx.linkStatus), (QList<bool>{true, false, true}));
}

void TestLink::statusValues_data()
{
    QTest::addColumn<int>("nozzle");
    QTest::addColumn<int>("bed");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("nozzleOut");
    QTest::addColumn<int>("bedOut");
    QTest::addColumn<int>("progressOut");
    QTest::newRow("plain") << 210 << 60 << 1234 << 210 << 60 << 1234;
    QTest::newRow("limits kept") << 500 << 100 << 10000 << 500 << 100 << 10000;
    QTest::newRow("beyond limits") << 501 << 101 << 10001 << -1 << -1 << 10000;
}

void TestLink::statusValues()
{
    QFETCH(int, nozzle);
    QFETCH(int, bed);
    QFETCH(int, progress);
    QFETCH(int, nozzleOut);
    QFETCH(int, bedOut);
    QFETCH(int, progressOut);
    LinkFixture fx;
    fx.sim.behaviour.nozzleTemp = nozzle;
    fx.sim.behaviour.bedTemp = bed;
    fx.sim.behaviour.progressStep = 0;
    fx.sim.progress = progress;
    fx.sim.printerState = PrinterSim::Printing;
    QVERIFY(fx.linkUp());
    QTRY_VERIFY(fx.state() == CommunicateThread::StatePrinting && fx.printStatus->size() >= 2);
    const SendPrintStatus s = lastValue<SendPrintStatus>(*fx.printStatus);
    QCOMPARE(s.nozzleTemp, nozzleOut);
    QCOMPARE(s.bedTemp, bedOut);
    QCOMPARE(s.progress, progressOut);
    QVERIFY(!s.paused);
    QVERIFY(!s.ended);
}

void TestLink::faultCodes()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    for (int code = 1; code <= 18; ++code) {
        fx.sim.behaviour.faultCode = code;
        QTRY_VERIFY(!fx.errors->isEmpty());
        QCOMPARE(spyValues<Error>(*fx.errors), QList<Error>{Error(code + 11)});
        fx.errors->clear();
    }
    // The same code is reported once while the state stays.
    fx.sim.behaviour.faultCode = 5;
    QTRY_COMPARE(fx.errors->size(), 1);
    fx.errors->clear();
    const int queries = fx.sim.requestCount(ReqStatus);
    QTRY_VERIFY(fx.sim.requestCount(ReqStatus) >= queries + 3);
    QVERIFY(fx.errors->isEmpty());
    // A change of state in between reports it again.
    fx.sim.behaviour.progressStep = 0;
    fx.sim.printerState = PrinterSim::Printing;
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StatePrinting));
    QTRY_COMPARE(spyValues<Error>(*fx.errors), QList<Error>{Error(16)});
}

void TestLink::pauseReasons_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("printingFirst");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<int>("error");
    QTest::newRow("by the user") << 0 << true << true << 0;
    QTest::newRow("door open") << 2 << true << true << int(ErrDoorOpen);
    QTest::newRow("door open, found paused") << 2 << false << true << 0;
    QTest::newRow("no material") << 3 << true << true << int(ErrNoMaterial);
    QTest::newRow("unknown reason") << 1 << true << false << 0;
}

void TestLink::pauseReasons()
{
    QFETCH(int, reason);
    QFETCH(bool, printingFirst);
    QFETCH(bool, paused);
    QFETCH(int, error);
    LinkFixture fx;
    fx.sim.behaviour.progressStep = 0;
    fx.sim.printerState = PrinterSim::Printing;
    if (printingFirst) {
        QVERIFY(fx.linkUp());
        QTRY_COMPARE(fx.state(), int(CommunicateThread::StatePrinting));
        QVERIFY(!fx.link->isIdle());
    }
    fx.sim.behaviour.pauseReason = reason;
    fx.sim.paused = true;
    if (!printingFirst) {
        QVERIFY(fx.linkUp());
        QTRY_VERIFY(!fx.printStatus->isEmpty());
        const int queries = fx.sim.requestCount(ReqStatus);
        QTRY_VERIFY(fx.sim.requestCount(ReqStatus) >= queries + 2);
    }
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    fx.sync();
    const SendPrintStatus s = lastValue<SendPrintStatus>(*fx.printStatus);
    QCOMPARE(s.paused, paused);
    QCOMPARE(fx.link->isIdle(), !paused);
    // The pause is reported on the change; the state change after it allows one repeat.
    const QList<Error> errors = spyValues<Error>(*fx.errors);
    QCOMPARE(errors.isEmpty(), error == 0);
    for (Error e : errors)
        QCOMPARE(int(e), error);
}

void TestLink::firstIdleStatusEndsOnce()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    QTRY_COMPARE(fx.printStatus->size(), 1);
    QVERIFY(fx.printStatus->at(0).at(0).value<SendPrintStatus>().ended);
    const int queries = fx.sim.requestCount(ReqStatus);
    QTRY_VERIFY(fx.sim.requestCount(ReqStatus) >= queries + 3);
    fx.sync();
    QCOMPARE(fx.printStatus->size(), 1);
}

void TestLink::noisyLineKeepsLink()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    fx.sim.behaviour.garbageNext = 40;
    int queries = fx.sim.requestCount(ReqStatus);
    QTRY_VERIFY(fx.sim.requestCount(ReqStatus) >= queries + 2);
    fx.sim.behaviour.corruptCrcNext = true;
    queries = fx.sim.requestCount(ReqStatus);
    QTRY_VERIFY(fx.sim.requestCount(ReqStatus) >= queries + 2);
    fx.sim.behaviour.dropByteNext = 1;
    queries = fx.sim.requestCount(ReqStatus);
    QTRY_VERIFY(fx.sim.requestCount(ReqStatus) >= queries + 4);
    // A false preamble claiming a huge length does not stall the parser.
    fx.sim.sendRaw(QByteArray::fromHex("aa55ffff"));
    queries = fx.sim.requestCount(ReqStatus);
    QTRY_VERIFY(fx.sim.requestCount(ReqStatus) >= queries + 4);
    fx.sync();
    QVERIFY(fx.errors->isEmpty());
    QCOMPARE(spyValues<bool>(*fx.linkStatus), QList<bool>{true});
}

void TestLink::machineInfoSignals()
{
    {
        // The first model does not pass the door switch on.
        LinkFixture fx1;
        QVERIFY(fx1.linkUp());
        QVERIFY(fx1.door->isEmpty());
        QCOMPARE(fx1.serial->size(), 1);
    }
    LinkFixture fx;
    MachineInfoRecord& m = fx.sim.behaviour.machine;
    m.model = 3;
    m.variant = 0;
    m.version[0] = 2;
    m.version[1] = 1;
    m.version[2] = 7;
    m.doorActive = 1;
    m.levelingData = -12;
    m.serialNumber = "PX6-0042";
    m.mac = "02:00:00:00:00:2a";
    QVERIFY(fx.linkUp());
    QCOMPARE(spyValues<int>(*fx.door), QList<int>{1});
    QCOMPARE(spyValues<int>(*fx.levelingData), QList<int>{-12});
    QCOMPARE(fx.serial->size(), 1);
    const QList<QVariant> args = fx.serial->at(0);
    QCOMPARE(args.at(0).toString(), QStringLiteral("PX6-0042"));
    QCOMPARE(args.at(1).toString(), QStringLiteral("2.1.7"));
    QCOMPARE(args.at(2).toString(), QStringLiteral("02:00:00:00:00:2a"));
}

void TestLink::logLines()
{
    LinkFixture fx;
    clearCapturedLog();
    QVERIFY(fx.linkUp());
    const QStringList log = capturedLog();
    const QString handshake = QStringLiteral("send: aa55000302f1f0");
    bool sent = false;
    bool received = false;
    for (const QString& line : log) {
        sent = sent || (line.contains(handshake) && line.contains(QLatin1String("Thread\\CommunicateThread @")));
        received = received || line.contains(QLatin1String("receive: aa55"));
    }
    QVERIFY(sent);
    QVERIFY(received);

    // Frames of 20 bytes and more (chunks above all) are not written to the log.
    fx.call([&fx] { fx.link->beginLeveling(); });
    QTRY_COMPARE(fx.px5->size(), 1);
    const QString jog19 = hex(frame(ReqJog, jogData(QStringLiteral("X1234567"))));
    const QString jog20 = hex(frame(ReqJog, jogData(QStringLiteral("X12345678"))));
    QCOMPARE(jog19.size(), 2 * 19);
    fx.call([&fx] { fx.link->levelingCommand(QStringLiteral("X1234567")); });
    fx.call([&fx] { fx.link->levelingCommand(QStringLiteral("X12345678")); });
    QTRY_COMPARE(fx.sim.requestCount(ReqJog), 2);
    const QString all = capturedLog().join(QLatin1Char('\n'));
    QVERIFY(all.contains(QStringLiteral("send: ") + jog19));
    QVERIFY(!all.contains(jog20));
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
