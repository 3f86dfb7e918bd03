#include <QtTest>

#include "testutil_linkfixture.h"

using namespace SerialFrame;

namespace {
QByteArray pattern(int size)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 7 + i / 251) & 0xFF); // holds 0x11, 0x13 and 0xAA 0x55
    return out;
}

SendBVTStatus lastBvt(const LinkFixture& fx)
{
    return lastValue<SendBVTStatus>(*fx.bvtStatus);
}

bool transferEnded(const LinkFixture& fx)
{
    if (fx.bvtStatus->isEmpty())
        return false;
    const SendBVTStatus s = lastBvt(fx);
    return s.finished || s.failed;
}
} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT
private slots:
    void sendsFile_data();
    void sendsFile();
    void failures_data();
    void failures();
    void stopDuringTransfer();
    void printerGivesUp_data();
    void printerGivesUp();
    void noPortOpen();
    void foreignTransferIsStopped();
    void printControl();
    void beginRefused_data();
    void beginRefused();
    void resumeRefused_data();
    void resumeRefused();
    void pauseAnswered_data();
    void pauseAnswered();
    void requestsOutOfTurn();
};

void TestTransfer::sendsFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("silences");
    QTest::addColumn<int>("chunkErrors");
    QTest::addColumn<bool>("lastAckLost");
    QTest::newRow("100 bytes") << 100 << 1 << 0 << 0 << false;
    QTest::newRow("empty") << 0 << 1 << 0 << 0 << false;
    QTest::newRow("exact multiple") << 8192 * 3 << 4 << 0 << 0 << false;
    QTest::newRow("one more byte") << 8192 * 3 + 1 << 4 << 0 << 0 << false;
    QTest::newRow("two errors") << 20000 << 3 << 0 << 2 << false;
    QTest::newRow("two lost acknowledgements") << 20000 << 3 << 2 << 0 << false;
    QTest::newRow("only chunk lost once") << 100 << 1 << 1 << 0 << false;
    // The printer has the whole file: idle, and the card lost the file's size.
    QTest::newRow("last acknowledgement lost") << 20000 << 3 << 0 << 0 << true;
}

void TestTransfer::sendsFile()
{
    QFETCH(int, size);
    QFETCH(int, chunks);
    QFETCH(int, silences);
    QFETCH(int, chunkErrors);
    QFETCH(bool, lastAckLost);
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    const QByteArray data = pattern(size);
    const QString path = fx.writeFile(QStringLiteral("cube.BVT"), data);
    fx.sim.behaviour.chunkSilences = silences;
    fx.sim.behaviour.chunkErrors = chunkErrors;
    fx.sim.behaviour.dropLastAck = lastAckLost;
    fx.call([&fx, path] { fx.link->BVTProcessing(path); });
    QTRY_VERIFY_WITH_TIMEOUT(transferEnded(fx), 10000);
    const SendBVTStatus s = lastBvt(fx);
    QVERIFY(s.finished);
    QVERIFY(!s.failed);
    QCOMPARE(s.progress, 10000);
    QCOMPARE(s.sentChunks, chunks);
    QCOMPARE(s.path, path);
    QCOMPARE(fx.sim.fileName(), QStringLiteral("cube.BVT"));
    QCOMPARE(fx.sim.fileData(), data);
    // The announcement carries the size, big-endian.
    const QByteArray announce = fx.sent(ReqControl).first();
    QCOMPARE(announce.mid(0, 5).toHex(), QByteArray::fromHex("02").append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size)).toHex());
    // The transfer reported success only after the last chunk was acknowledged.
    QCOMPARE(fx.sim.requestCount(ReqChunk), chunks + silences + chunkErrors);
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    QVERIFY(fx.errors->isEmpty());
}

void TestTransfer::failures_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("error");
    // 3 chunks (20000 bytes) need more than 24 KiB.
    QTest::newRow("free space just too small") << 0 << int(ErrNoSpace);
    QTest::newRow("announcement refused") << 1 << int(ErrAnnounceRefused);
    QTest::newRow("three chunk errors") << 2 << int(ErrTransfer);
    QTest::newRow("three lost acknowledgements") << 3 << int(ErrTransfer);
    QTest::newRow("free space unanswered") << 4 << int(ErrTransfer);
    QTest::newRow("announcement unanswered") << 5 << int(ErrTransfer);
    QTest::newRow("file missing") << 6 << int(ErrFileOpen);
    QTest::newRow("last chunk refused") << 7 << int(ErrTransfer);
    // The last acknowledgement is lost and the card lacks part of the file: 16,384 of
    // 16,584 bytes kept take 16 KiB where the whole file takes 17; nothing kept of 100 bytes.
    QTest::newRow("keeps all but the last chunk") << 8 << int(ErrTransfer);
    QTest::newRow("keeps nothing") << 9 << int(ErrTransfer);
}

void TestTransfer::failures()
{
    QFETCH(int, fault);
    QFETCH(int, error);
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    QString path = fx.writeFile(QStringLiteral("part.BVT"), pattern(20000));
    PrinterSim::Behaviour& b = fx.sim.behaviour;
    switch (fault) {
    case 0: b.freeSpaceKiB = 24; break;
    case 1: b.refuseAnnouncement = true; break;
    case 2: b.chunkErrors = 3; break;
    case 3: b.chunkSilences = 3; break;
    case 4: b.freeSpaceSilent = true; break;
    case 5: b.announcementSilent = true; break;
    case 6: path += QStringLiteral(".missing"); break;
    case 7: b.refuseLastChunk = true; break;
    case 8: b.keepAllButLastChunk = true; path = fx.writeFile(QStringLiteral("short.BVT"), pattern(16584)); break;
    case 9: b.keepNothing = true; path = fx.writeFile(QStringLiteral("small.BVT"), pattern(100)); break;
    }
    // Whoever sees the transfer fail has been told why already (the window shows the box first).
    QList<int> toldAtEnd;
    QObject::connect(&fx.mirror, &CommunicateThread::sendBVTStatusChanged, &fx.mirror,
                     [&](const SendBVTStatus& s) { if (s.failed && toldAtEnd.isEmpty()) toldAtEnd << fx.errors->count(); });
    fx.call([&fx, path] { fx.link->BVTProcessing(path); });
    QTRY_VERIFY_WITH_TIMEOUT(transferEnded(fx), 10000);
    QVERIFY(lastBvt(fx).failed);
    QVERIFY(!lastBvt(fx).finished);
    QCOMPARE(toldAtEnd, QList<int>{1});
    QTRY_COMPARE(spyValues<Error>(*fx.errors), QList<Error>{Error(error)});
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    QCOMPARE(fx.sim.filesReceived(), 0);
    if (fault >= 8) {
        // In doubt the last chunk went again, three tries in all.
        const QList<QByteArray> chunks = fx.sent(ReqChunk);
        QCOMPARE(chunks.count(chunks.last()), 3);
    }
    // The link is still up and polling.
    const int queries = fx.sim.requestCount(ReqStatus);
    QTRY_VERIFY(fx.sim.requestCount(ReqStatus) > queries);

    if (fault == 0) {
        // One more unit is enough.
        fx.bvtStatus->clear();
        b.freeSpaceKiB = 25;
        fx.call([&fx, path] { fx.link->BVTProcessing(path); });
        QTRY_VERIFY(transferEnded(fx));
        QVERIFY(lastBvt(fx).finished);
    }
}

void TestTransfer::stopDuringTransfer()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    const QString path = fx.writeFile(QStringLiteral("big.BVT"), pattern(100000));
    fx.sim.behaviour.chunkSilences = 1000; // chunks flow no further than the first
    fx.call([&fx, path] { fx.link->BVTProcessing(path); });
    QTRY_VERIFY(fx.sim.requestCount(ReqChunk) >= 1);
    fx.call([&fx] { fx.link->stopSendGcode(); });
    QTRY_VERIFY(transferEnded(fx));
    QVERIFY(lastBvt(fx).failed);
    QVERIFY(fx.errors->isEmpty());
    QCOMPARE(fx.sent(ReqControl).last(), QByteArray(1, '\0'));
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    // stopSendGcode outside a transfer sends nothing.
    const int controls = fx.sim.requestCount(ReqControl);
    fx.call([&fx] { fx.link->stopSendGcode(); });
    fx.sync();
    QTest::qWait(50);
    QCOMPARE(fx.sim.requestCount(ReqControl), controls);
}

void TestTransfer::printerGivesUp_data()
{
    QTest::addColumn<int>("end"); // 0 the printer reports idle, 1 it vanishes, 2 the link is stopped
    QTest::addColumn<QList<Error>>("errors");
    QTest::newRow("idle status") << 0 << QList<Error>();
    // Unplugged: the user learns that the file was not sent.
    QTest::newRow("port vanishes") << 1 << QList<Error>{ErrTransfer};
    // At shutdown the window has already asked; nothing more is said.
    QTest::newRow("link stopped") << 2 << QList<Error>();
}

void TestTransfer::printerGivesUp()
{
    QFETCH(int, end);
    QFETCH(QList<Error>, errors);
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    const QString path = fx.writeFile(QStringLiteral("big.BVT"), pattern(100000));
    fx.sim.behaviour.chunkSilences = 1;
    QList<int> toldAtEnd;
    QObject::connect(&fx.mirror, &CommunicateThread::sendBVTStatusChanged, &fx.mirror,
                     [&](const SendBVTStatus& s) { if (s.failed && toldAtEnd.isEmpty()) toldAtEnd << fx.errors->count(); });
    fx.call([&fx, path] { fx.link->BVTProcessing(path); });
    QTRY_VERIFY(fx.sim.requestCount(ReqChunk) >= 1);
    if (end == 0) {
        fx.sim.printerState = PrinterSim::Idle;
        fx.sim.sendReply(RepStatus, fx.sim.statusBlock());
    } else if (end == 1) {
        fx.sim.vanish();
    } else {
        fx.call([&fx] { fx.link->stop(); });
    }
    QTRY_VERIFY(transferEnded(fx));
    QVERIFY(lastBvt(fx).failed);
    QCOMPARE(toldAtEnd, QList<int>{int(errors.size())});
    QTRY_COMPARE(spyValues<Error>(*fx.errors), errors);
    QTest::qWait(50);
    fx.sync();
    QCOMPARE(spyValues<Error>(*fx.errors), errors);
    if (end != 0)
        QVERIFY(!lastValue<bool>(*fx.linkStatus));
}

void TestTransfer::noPortOpen()
{
    LinkFixture fx;
    const QString path = fx.writeFile(QStringLiteral("a.BVT"), pattern(10));
    fx.call([&fx, path] { fx.link->BVTProcessing(path); });
    QTRY_VERIFY(transferEnded(fx));
    QVERIFY(lastBvt(fx).failed);
    QTRY_COMPARE(spyValues<Error>(*fx.errors), (QList<Error>{ErrTransfer, ErrConnectionLost}));
    QCOMPARE(fx.state(), int(CommunicateThread::StateNone));
}

void TestTransfer::foreignTransferIsStopped()
{
    LinkFixture fx;
    fx.sim.printerState = PrinterSim::Receiving;
    QVERIFY(fx.linkUp());
    QTRY_VERIFY(fx.sim.requestCount(ReqControl) == 1);
    QCOMPARE(fx.sent(ReqControl).first(), QByteArray(1, '\0'));
    QTRY_COMPARE(fx.sim.printerState, int(PrinterSim::Idle));
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    QVERIFY(fx.errors->isEmpty());
}

void TestTransfer::printControl()
{
    LinkFixture fx;
    fx.sim.behaviour.progressStep = 0;
    QVERIFY(fx.linkUp());
    fx.call([&fx] { fx.link->beginPrint(QStringLiteral("cube.BVT")); });
    QTRY_COMPARE(fx.sim.requestCount(ReqControl), 1);
    QCOMPARE(fx.sent(ReqControl).first(), QByteArray("\x01" "3DPRINT.BVT"));
    QTRY_COMPARE(fx.sim.printerState, int(PrinterSim::Printing));
    // The printer reports printing: no request pending, print status flows.
    QTRY_VERIFY(fx.printStatus->size() >= 3);
    fx.sync();

    fx.printStatus->clear();
    fx.call([&fx] { fx.link->pausePrint(); });
    QTRY_VERIFY(fx.sim.paused);
    QTRY_VERIFY(!fx.printStatus->isEmpty() && lastValue<SendPrintStatus>(*fx.printStatus).paused);
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    fx.sync();
    QVERIFY(!fx.link->isIdle());

    fx.call([&fx] { fx.link->restorePrint(); });
    QTRY_VERIFY(!fx.sim.paused);
    QTRY_VERIFY(!lastValue<SendPrintStatus>(*fx.printStatus).paused);
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StatePrinting));

    fx.sim.behaviour.progressStep = 2500;
    fx.printStatus->clear();
    QTRY_VERIFY(fx.sim.progress >= 5000);
    fx.call([&fx] { fx.link->stopPrint(); });
    QTRY_VERIFY(!fx.printStatus->isEmpty() && lastValue<SendPrintStatus>(*fx.printStatus).ended);
    QTRY_COMPARE(fx.sim.printerState, int(PrinterSim::Idle));
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    QCOMPARE(fx.sent(ReqControl).last(), QByteArray(1, '\0'));
    QVERIFY(fx.errors->isEmpty());
}

void TestTransfer::beginRefused_data()
{
    QTest::addColumn<bool>("door");
    QTest::addColumn<int>("error");
    QTest::newRow("door open") << true << int(ErrDoorOpen);
    QTest::newRow("no material") << false << int(ErrNoMaterial);
}

void TestTransfer::beginRefused()
{
    QFETCH(bool, door);
    QFETCH(int, error);
    LinkFixture fx;
    fx.sim.behaviour.doorOpen = door;
    fx.sim.behaviour.noMaterial = !door;
    QVERIFY(fx.linkUp());
    fx.call([&fx] { fx.link->beginPrint(QStringLiteral("x")); });
    QTRY_COMPARE(spyValues<Error>(*fx.errors), QList<Error>{Error(error)});
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
}

void TestTransfer::resumeRefused_data()
{
    QTest::addColumn<bool>("door");
    QTest::addColumn<QList<Error>>("errors");
    QTest::newRow("door open") << true << QList<Error>{ErrDoorOpen};
    QTest::newRow("refused") << false << QList<Error>();
}

void TestTransfer::resumeRefused()
{
    QFETCH(bool, door);
    QFETCH(QList<Error>, errors);
    LinkFixture fx;
    fx.sim.behaviour.progressStep = 0;
    fx.sim.printerState = PrinterSim::Printing;
    fx.sim.paused = true;
    QVERIFY(fx.linkUp());
    QTRY_VERIFY(!fx.printStatus->isEmpty() && lastValue<SendPrintStatus>(*fx.printStatus).paused);
    fx.sim.behaviour.doorOpen = door;
    fx.sim.behaviour.refuseControl = !door;
    fx.sync();
    fx.printStatus->clear();
    fx.call([&fx] { fx.link->restorePrint(); });
    QTRY_COMPARE(fx.sim.requestCount(ReqControl), 1);
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StateReady));
    QTRY_VERIFY(fx.printStatus->size() >= 2);
    QCOMPARE(spyValues<Error>(*fx.errors), errors);
    // The print stays paused all along: the window never offers Pause for it.
    for (const SendPrintStatus& s : spyValues<SendPrintStatus>(*fx.printStatus))
        QVERIFY(s.paused && !s.ended);
}

void TestTransfer::pauseAnswered_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("accepted") << false;
    QTest::newRow("refused") << true;
}

// A refused pause is never reported as paused: the panel would show a pause while the
// printer goes on printing.
void TestTransfer::pauseAnswered()
{
    QFETCH(bool, refused);
    LinkFixture fx;
    fx.sim.behaviour.progressStep = 0;
    fx.sim.printerState = PrinterSim::Printing;
    QVERIFY(fx.linkUp());
    QTRY_COMPARE(fx.state(), int(CommunicateThread::StatePrinting));
    fx.sim.behaviour.refuseControl = refused;
    fx.sync();
    fx.printStatus->clear();
    fx.call([&fx] { fx.link->pausePrint(); });
    QTRY_COMPARE(fx.sim.requestCount(ReqControl), 1);
    QTRY_VERIFY(fx.printStatus->size() >= 2);
    QTRY_COMPARE(fx.state(), int(refused ? CommunicateThread::StatePrinting : CommunicateThread::StateReady));
    fx.sync();
    QCOMPARE(fx.sim.paused, !refused);
    QCOMPARE(lastValue<SendPrintStatus>(*fx.printStatus).paused, !refused);
    for (const SendPrintStatus& s : spyValues<SendPrintStatus>(*fx.printStatus))
        QVERIFY(!(refused && s.paused));
    QCOMPARE(fx.link->isIdle(), false);
    QVERIFY(fx.errors->isEmpty());
}

void TestTransfer::requestsOutOfTurn()
{
    LinkFixture fx;
    QVERIFY(fx.linkUp());
    // An empty name, a pause with nothing printing: nothing is sent.
    fx.call([&fx] { fx.link->beginPrint(QString()); });
    fx.call([&fx] { fx.link->pausePrint(); });
    fx.sync();
    QTest::qWait(50);
    QCOMPARE(fx.sim.requestCount(ReqControl), 0);
    // A pause while a stop is pending is not sent.
    fx.sim.behaviour.stopSilent = true;
    fx.call([&fx] { fx.link->stopPrint(); });
    fx.call([&fx] { fx.link->pausePrint(); });
    fx.sync();
    QTRY_COMPARE(fx.sim.requestCount(ReqControl), 1);
    QTest::qWait(50);
    QCOMPARE(fx.sent(ReqControl), QList<QByteArray>{QByteArray(1, '\0')});
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
