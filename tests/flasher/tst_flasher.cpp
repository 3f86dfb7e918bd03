// The flasher against the simulated boot loader over a pseudo-terminal, time-outs scaled.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "BootLoaderSim.h"
#include "PrinterSim.h"
#include "Update/Firmware/firmwareupdata.h"
#include "common/LogCapture.h"
#include "common/TestTime.h"
#include "platform/Platform.h"

Q_DECLARE_METATYPE(BootLoaderSim::Behaviour)

namespace {

QStringList takeLog()
{
    return LogCapture::instance().lines(true);
}

// QTest::qWait sleeps between event batches, which slows every exchange; an event loop
// wakes on the events themselves.
void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename F>
bool waitUntil(F done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        runEvents(5);
    return done();
}

QByteArray randomImage(int size)
{
    QByteArray b(size, '\0');
    QRandomGenerator gen(quint32(size) * 7919u + 1u);
    for (char& c : b)
        c = char(gen.bounded(256));
    return b;
}

// Everything a flash needs: the printer on a pseudo-terminal named to the program, its boot
// loader, and the flasher with its signals recorded.
struct Rig
{
    QTemporaryDir dir;
    PrinterSim printer;
    std::unique_ptr<BootLoaderSim> boot;
    firmwareupdata flasher;
    QSignalSpy progress{&flasher, &firmwareupdata::updateProgress};
    QSignalSpy errors{&flasher, &firmwareupdata::updateError};

    Rig()
    {
        qputenv("TARNI_SERIAL_PORTS", portPath().toLocal8Bit());
    }
    QString portPath() const { return dir.path() + QStringLiteral("/printer0"); }
    bool start()
    {
        if (!dir.isValid() || !printer.start(portPath()))
            return false;
        boot.reset(new BootLoaderSim(&printer));
        return true;
    }
    QString writeImage(const QByteArray& bytes)
    {
        const QString path = dir.path() + QStringLiteral("/image.bin");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return QString();
        return path;
    }
    bool finished() const
    {
        return !errors.isEmpty() || (!progress.isEmpty() && progress.last().at(0).toDouble() == 100.0);
    }
    QList<double> progressValues() const
    {
        QList<double> out;
        for (const QList<QVariant>& args : progress)
            out << args.at(0).toDouble();
        return out;
    }
    // The size of each packet the boot loader kept, once per index: a packet sent again after
    // a time-out on a slow machine is one packet.
    QList<int> storedPacketSizes() const
    {
        QList<int> out;
        const QList<int>& indices = boot->packetLog();
        const QList<int> sizes = boot->packetSizes();
        for (int i = 0; i < indices.size(); ++i)
            if (indices.at(i) == out.size())
                out << sizes.at(i);
        return out;
    }
    // The packets received in order, resends of the faulty packet included; a packet sent
    // again only because its answer came late on a slow machine counts once.
    QList<int> triesLog(int faulty) const
    {
        QList<int> out;
        for (int index : boot->packetLog())
            if (index == faulty || out.isEmpty() || out.last() != index)
                out << index;
        return out;
    }
};

// The packet a behaviour makes the boot loader mishandle; -1 for none.
int faultyPacket(const BootLoaderSim::Behaviour& b)
{
    for (int index : {b.errorAt, b.silentAt, b.sendAgainAt, b.wrongReplyAt, b.badStatusAt, b.vanishAt})
        if (index >= 0)
            return index;
    return -1;
}

} // namespace

class TestFlasher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void flash_data();
    void flash();
    void startRequest();
    void failureModes_data();
    void failureModes();
    void badImage_data();
    void badImage();
    void noPrinterPort();
};

void TestFlasher::initTestCase()
{
    qRegisterMetaType<BootLoaderSim::Behaviour>();
    LogCapture::instance();
    Platform::setTimeoutScale(TestTime::timeoutScale(0.1));
}

void TestFlasher::flash_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<double>>("progress");
    QTest::addColumn<QList<int>>("packetSizes");
    QTest::newRow("one byte") << 1 << QList<double>{100.0} << QList<int>{1};
    QTest::newRow("one packet") << 512 << QList<double>{100.0} << QList<int>{512};
    QTest::newRow("1000") << 1000 << QList<double>{50, 100.0} << QList<int>{512, 488};
    QTest::newRow("1024") << 1024 << QList<double>{50, 100.0} << QList<int>{512, 512};
    QTest::newRow("1025") << 1025 << QList<double>{33, 66, 100.0} << QList<int>{512, 512, 1};
    QTest::newRow("four packets") << 2048 << QList<double>{25, 50, 75, 100.0} << QList<int>{512, 512, 512, 512};
    QTest::newRow("six packets") << 3000 << QList<double>{16, 33, 50, 66, 83, 100.0}
                                 << QList<int>{512, 512, 512, 512, 512, 440};
}

void TestFlasher::flash()
{
    QFETCH(int, size);
    QFETCH(QList<double>, progress);
    QFETCH(QList<int>, packetSizes);
    Rig rig;
    QVERIFY(rig.start());
    const QByteArray image = randomImage(size);
    rig.flasher.setBinFile(rig.writeImage(image));
    takeLog();
    QVERIFY(rig.flasher.openPort(true));
    QVERIFY(waitUntil([&] { return rig.finished(); }, TestTime::waitMs(10000)));

    QCOMPARE(rig.errors.count(), 0);
    QCOMPARE(rig.progressValues(), progress);
    QVERIFY(rig.boot->confirmed());
    QCOMPARE(rig.boot->image(), image);
    QCOMPARE(rig.storedPacketSizes(), packetSizes);
    QCOMPARE(rig.boot->resetCount(), 1);
    QCOMPARE(rig.boot->startCount(), 1);
    QCOMPARE(rig.flasher.step(), int(firmwareupdata::StepIdle));

    // Every frame is logged, whatever its size, a packet sent again too; the boot reset is the
    // fixed frame.
    const QStringList log = takeLog();
    QCOMPARE(log.filter(QStringLiteral("send: ")).size(), 2 + rig.boot->packetLog().size());
    QCOMPARE(log.filter(QStringLiteral("send: aa5500030632f1")).size(), 1);
    QVERIFY(!log.filter(QStringLiteral("recv: aa55")).isEmpty());
    QVERIFY(!log.filter(QStringLiteral("Boot Reset OK")).isEmpty());

    QVERIFY(!log.filter(QStringLiteral("OpenCom Successed")).isEmpty());
    rig.flasher.stopUpdate();
}

void TestFlasher::startRequest()
{
    Rig rig;
    QVERIFY(rig.start());
    const QByteArray image = randomImage(1000);
    const quint16 crc = SerialFrame::crc16Modbus(image);
    rig.flasher.setBinFile(rig.writeImage(image));
    QVERIFY(rig.flasher.openPort(true));
    QVERIFY(waitUntil([&] { return rig.finished(); }, TestTime::waitMs(10000)));
    const QByteArray expected = QByteArray::fromHex("000003e8010203") + QByteArray(1, char(crc >> 8)) + QByteArray(1, char(crc));
    QCOMPARE(rig.boot->startData(), expected);
    QCOMPARE(rig.flasher.imageCrc(), crc);
    QCOMPARE(rig.boot->announcedSize(), 1000u);
    // The whole frame as it went over the line.
    QCOMPARE(SerialFrame::frame(SerialFrame::ReqControl, firmwareupdata::startData(1000, crc)).left(12),
             QByteArray::fromHex("aa55000c00000003e8010203"));
    QCOMPARE(rig.storedPacketSizes(), (QList<int>{512, 488}));
}

void TestFlasher::failureModes_data()
{
    QTest::addColumn<BootLoaderSim::Behaviour>("behaviour");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("starts");
    // Packet indices received, resends of the faulty packet included.
    QTest::addColumn<QList<int>>("packets");

    const int again = firmwareupdata::MaxSendAgain;
    BootLoaderSim::Behaviour b;
    b.refuseReset = true;
    QTest::newRow("boot reset refused") << b << 2048 << false << 0 << QList<int>{};
    b = {};
    b.resetSilent = true;
    QTest::newRow("boot reset unanswered") << b << 2048 << false << 0 << QList<int>{};
    b = {};
    b.refuseStart = true;
    QTest::newRow("start refused") << b << 2048 << false << 1 << QList<int>{};
    b = {};
    b.startSilent = true;
    QTest::newRow("start unanswered") << b << 2048 << false << 1 << QList<int>{};
    b = {};
    b.errorAt = 1;
    QTest::newRow("data error") << b << 2048 << false << 1 << QList<int>{0, 1};
    b = {};
    b.silentAt = 2;
    b.silentTimes = -1;
    QTest::newRow("silent at packet 2") << b << 2048 << false << 1 << QList<int>{0, 1, 2, 2, 2, 2};
    b.silentTimes = 3;
    QTest::newRow("three time-outs, then answered") << b << 2048 << true << 1 << QList<int>{0, 1, 2, 2, 2, 2, 3};
    b = {};
    b.sendAgainAt = 1;
    b.sendAgainTimes = 3;
    QTest::newRow("send again three times") << b << 2048 << true << 1 << QList<int>{0, 1, 1, 1, 1, 2, 3};
    b.sendAgainTimes = -1;
    QList<int> endless{0};
    for (int i = 0; i <= again; ++i)
        endless << 1;
    QTest::newRow("send again without end") << b << 2048 << false << 1 << endless;
    b = {};
    b.wrongReplyAt = 1;
    QTest::newRow("reply of the wrong kind") << b << 2048 << true << 1 << QList<int>{0, 1, 1, 2, 3};
    b = {};
    b.badStatusAt = 2;
    QTest::newRow("unknown status") << b << 2048 << true << 1 << QList<int>{0, 1, 2, 2, 3};
    b = {};
    b.garbage = 11;
    QTest::newRow("garbage before every reply") << b << 2048 << true << 1 << QList<int>{0, 1, 2, 3};
    b = {};
    b.split = true;
    QTest::newRow("every reply split") << b << 2048 << true << 1 << QList<int>{0, 1, 2, 3};
    b.garbage = 5;
    QTest::newRow("split with garbage") << b << 2048 << true << 1 << QList<int>{0, 1, 2, 3};
    b = {};
    b.reenumerateMs = Platform::scaledMs(firmwareupdata::WatchMs) * 2; // the port watch sees it gone
    QTest::newRow("re-enumerates after the reset") << b << 2048 << true << 1 << QList<int>{0, 1, 2, 3};
    b.vanishAt = 2;
    QTest::newRow("port gone during packet 2") << b << 2048 << true << 1 << QList<int>{0, 1, 2, 2, 3};
}

void TestFlasher::failureModes()
{
    QFETCH(BootLoaderSim::Behaviour, behaviour);
    QFETCH(int, size);
    QFETCH(bool, succeeds);
    QFETCH(int, starts);
    QFETCH(QList<int>, packets);
    Rig rig;
    QVERIFY(rig.start());
    rig.boot->behaviour = behaviour;
    const QByteArray image = randomImage(size);
    rig.flasher.setBinFile(rig.writeImage(image));
    QVERIFY(rig.flasher.openPort(true));
    QVERIFY(waitUntil([&] { return rig.finished(); }, TestTime::waitMs(15000)));
    // Nothing more happens afterwards: no late resend, no second outcome.
    if (!succeeds)
        runEvents(Platform::scaledMs(firmwareupdata::DataMs) * 6 / 5);

    QCOMPARE(rig.triesLog(faultyPacket(behaviour)), packets);
    QCOMPARE(rig.boot->startCount(), starts);
    QCOMPARE(rig.boot->resetCount(), 1);
    QCOMPARE(rig.flasher.step(), int(firmwareupdata::StepIdle));
    if (succeeds) {
        QCOMPARE(rig.errors.count(), 0);
        QCOMPARE(rig.progressValues(), (QList<double>{25, 50, 75, 100.0}));
        QVERIFY(rig.boot->confirmed());
        QCOMPARE(rig.boot->image(), image);
    } else {
        QCOMPARE(rig.errors.count(), 1);
        QVERIFY(rig.progressValues().isEmpty() || rig.progressValues().last() < 100.0);
        QVERIFY(!rig.boot->confirmed());
    }
    rig.flasher.stopUpdate();
}

void TestFlasher::badImage_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << false;
    QTest::newRow("empty") << true;
}

void TestFlasher::badImage()
{
    QFETCH(bool, exists);
    Rig rig;
    QVERIFY(rig.start());
    const QString path = exists ? rig.writeImage(QByteArray()) : rig.dir.path() + QStringLiteral("/none.bin");
    QVERIFY(!path.isEmpty());
    rig.flasher.setBinFile(path);
    // The port opens; the failure reaches the caller after it has seen that.
    QVERIFY(rig.flasher.openPort(true));
    QCOMPARE(rig.errors.count(), 0);
    QVERIFY(waitUntil([&] { return !rig.errors.isEmpty(); }, TestTime::waitMs(5000)));
    runEvents(Platform::scaledMs(firmwareupdata::DataMs));
    // The printer never heard of it: it is not left waiting in its boot loader.
    QVERIFY(rig.printer.requests().isEmpty());
    QVERIFY(!rig.boot->inBootLoader());
    QCOMPARE(rig.errors.count(), 1);
    QVERIFY(rig.progress.isEmpty());
    rig.flasher.stopUpdate();
}

void TestFlasher::noPrinterPort()
{
    Rig rig; // printer not started: the named port does not exist
    rig.flasher.setBinFile(rig.writeImage(randomImage(100)));
    QVERIFY(!rig.flasher.openPort(true));
    runEvents(Platform::scaledMs(firmwareupdata::WatchMs) * 2);
    QCOMPARE(rig.errors.count(), 0);
    QCOMPARE(rig.flasher.step(), int(firmwareupdata::StepIdle));
}

QTEST_GUILESS_MAIN(TestFlasher)
#include "tst_flasher.moc"
