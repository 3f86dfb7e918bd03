#include <QElapsedTimer>
#include <QtTest>

#include "Thread/CommunicateThread.h"
#include "Thread/SerialFrame.h"
#include "common/TestTime.h"

using namespace SerialFrame;

namespace {
QByteArray bytes(const char* hexText)
{
    return QByteArray::fromHex(QByteArray(hexText).replace(' ', ""));
}

QList<Frame> drain(Parser& parser)
{
    QList<Frame> out;
    Frame f;
    while (parser.next(&f))
        out << f;
    return out;
}
} // namespace

class TestSerialFrame : public QObject
{
    Q_OBJECT
private slots:
    void crcCheckValue();
    void knownFrames_data();
    void knownFrames();
    void oversizedPayloadGivesNoFrame();
    void parserInput_data();
    void parserInput();
    void linkParserWaitsForEightBytes();
    void parserIsLinear();
    void requestData_data();
    void requestData();
    void announcedNameIsCut();
    void statusDecoding();
    void machineInfo_data();
    void machineInfo();
    void replyFlags();
};

void TestSerialFrame::crcCheckValue()
{
    QCOMPARE(crc16Modbus(QByteArray("123456789")), quint16(0x4B37));
    QCOMPARE(CommunicateThread::crc16Modbus(QByteArray()), quint16(0xFFFF));
    // Stored high byte first.
    const QByteArray f = packFrame(QByteArray("\x01", 1));
    QCOMPARE(f.right(2), bytes("F0B0"));
}

void TestSerialFrame::knownFrames_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("status query") << 1 << QByteArray() << bytes("AA 55 00 03 01 F0 B0");
    QTest::newRow("handshake") << 2 << QByteArray() << bytes("AA 55 00 03 02 F1 F0");
    QTest::newRow("stop") << 0 << bytes("00") << bytes("AA 55 00 04 00 00 E5 41");
    QTest::newRow("link request") << 5 << QByteArray() << bytes("AA 55 00 03 05 33 B1");
    QTest::newRow("free space request") << 4 << QByteArray() << bytes("AA 55 00 03 04 F3 70");
    QTest::newRow("boot reset") << 6 << QByteArray() << bytes("AA 55 00 03 06 32 F1");
    QTest::newRow("link accepted") << 0x15 << bytes("00") << bytes("AA 55 00 04 15 00 75 4F");
    QTest::newRow("free space") << 0x14 << bytes("00 10 00 00") << bytes("AA 55 00 07 14 00 10 00 00 71 2B");
    QTest::newRow("result accepted") << 0x10 << bytes("00") << bytes("AA 55 00 04 10 00 25 4C");
    QTest::newRow("chunk accepted") << 0x13 << bytes("00") << bytes("AA 55 00 04 13 00 D5 4C");
    QTest::newRow("boot reset ok") << 0x16 << bytes("00") << bytes("AA 55 00 04 16 00 85 4F");
}

void TestSerialFrame::knownFrames()
{
    QFETCH(int, command);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame(command, data), expected);
    // And back.
    Parser parser;
    parser.append(expected);
    Frame f;
    QVERIFY(parser.next(&f));
    QCOMPARE(int(f.command), command);
    QCOMPARE(f.data, data);
    QCOMPARE(parser.buffered(), 0);
}

void TestSerialFrame::oversizedPayloadGivesNoFrame()
{
    QVERIFY(packFrame(QByteArray(MaxLengthField - 2, 'x')).size() == MaxLengthField + 4);
    QVERIFY(packFrame(QByteArray(MaxLengthField - 1, 'x')).isEmpty());
    QVERIFY(packFrame(QByteArray()).isEmpty());
    // A code outside 0..255 gives the data alone as payload.
    QCOMPARE(commandPayload(300, bytes("01 02")), bytes("01 02"));
}

void TestSerialFrame::parserInput_data()
{
    const QByteArray a = frame(0x10, bytes("00"));
    const QByteArray b = frame(0x11, QByteArray(10, '\x01'));
    QByteArray badCrc = a;
    badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 1);
    const QByteArray longFrame = frame(0x12, QByteArray(200, 'm')); // length byte 0x00 0xCB
    const QByteArray shortLength = bytes("AA 55 00 02 10 00 00 00");

    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<int>("expectedFrames");
    QTest::addColumn<QList<int>>("framesAfterEachRead");
    QTest::newRow("two in one read") << QList<QByteArray>{a + b} << 2 << QList<int>{2};
    QTest::newRow("split over two reads") << QList<QByteArray>{b.left(6), b.mid(6)} << 1 << QList<int>{0, 1};
    QTest::newRow("one byte at a time")
        << [&] { QList<QByteArray> l; for (char c : b) l << QByteArray(1, c); return l; }()
        << 1 << QList<int>();
    QTest::newRow("garbage before") << QList<QByteArray>{bytes("00 11") + a} << 1 << QList<int>{1};
    QTest::newRow("false preamble before") << QList<QByteArray>{bytes("AA AA 00 55 AA") + a} << 1 << QList<int>{1};
    QTest::newRow("bad crc then good") << QList<QByteArray>{badCrc + b} << 1 << QList<int>{1};
    QTest::newRow("length 128 and more") << QList<QByteArray>{longFrame} << 1 << QList<int>{1};
    QTest::newRow("length below 3") << QList<QByteArray>{shortLength + a} << 1 << QList<int>{1};
}

void TestSerialFrame::parserInput()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(int, expectedFrames);
    QFETCH(QList<int>, framesAfterEachRead);
    Parser parser(8);
    int total = 0;
    for (int i = 0; i < reads.size(); ++i) {
        parser.append(reads.at(i));
        total += drain(parser).size();
        if (i < framesAfterEachRead.size())
            QCOMPARE(total, framesAfterEachRead.at(i));
    }
    QCOMPARE(total, expectedFrames);
}

void TestSerialFrame::linkParserWaitsForEightBytes()
{
    Parser parser(8, 1024);
    parser.append(frame(0x16)); // a reply without data: 7 bytes
    QVERIFY(!parser.next(nullptr));
    parser.append(bytes("00"));
    Frame f;
    QVERIFY(parser.next(&f));
    QCOMPARE(int(f.command), 0x16);
    // The simulator's parser takes 7-byte requests at once.
    Parser printerSide;
    printerSide.append(frame(ReqStatus));
    QVERIFY(printerSide.next(&f));
    // A length beyond the maximum is a false preamble, not a frame to wait for.
    Parser capped(8, 1024);
    capped.append(bytes("AA 55 FF FF 00 00 00 00") + frame(0x10, bytes("00")));
    QVERIFY(capped.next(&f));
    QCOMPARE(int(f.command), 0x10);
}

void TestSerialFrame::parserIsLinear()
{
    // 4 MB of garbage (no preamble) and 100000 small frames in one read each.
    QByteArray garbage(4 << 20, '\x55');
    QByteArray many;
    const QByteArray one = frame(0x13, bytes("00"));
    for (int i = 0; i < 100000; ++i)
        many += one;
    QElapsedTimer t;
    t.start();
    Parser parser(8);
    parser.append(garbage);
    parser.append(many);
    QCOMPARE(drain(parser).size(), 100000);
    QCOMPARE(parser.droppedBytes(), qint64(garbage.size()));
    QVERIFY2(t.elapsed() < TestTime::waitMs(2000), qPrintable(QString::number(t.elapsed())));
}

void TestSerialFrame::requestData_data()
{
    QTest::addColumn<QByteArray>("actual");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("stop levelling -250") << stopLevelingData(-250) << bytes("00 01 00 00 FA");
    QTest::newRow("stop levelling 250") << stopLevelingData(250) << bytes("00 00 00 00 FA");
    QTest::newRow("stop levelling 0") << stopLevelingData(0) << bytes("00 01 00 00 00");
    QTest::newRow("stop levelling masked") << stopLevelingData(0x12345678) << bytes("00 00 34 56 78");
    QTest::newRow("stop levelling int min") << stopLevelingData(std::numeric_limits<int>::min()) << bytes("00 01 00 00 00");
    QTest::newRow("jog") << jogData(QStringLiteral("X%1").arg(10)) << QByteArray(" G0 X10");
    QTest::newRow("door on") << doorData(5) << bytes("00 01");
    QTest::newRow("door off") << doorData(0) << bytes("00 00");
    QTest::newRow("chunk 3") << chunkData(3, QByteArray()) << bytes("00 00 03");
    QTest::newRow("chunk big number") << chunkData(0x123456, QByteArray("x")) << bytes("12 34 56 78");
    QTest::newRow("announce") << announceData(24576, QStringLiteral("a.BVT")) << bytes("02 00 00 60 00 61 2E 42 56 54");
}

void TestSerialFrame::requestData()
{
    QFETCH(QByteArray, actual);
    QFETCH(QByteArray, expected);
    QCOMPARE(actual.toHex(' '), expected.toHex(' '));
}

void TestSerialFrame::announcedNameIsCut()
{
    const QString longName = QString(296, QLatin1Char('n')) + QStringLiteral(".BVT");
    const QString name = announcedName(QStringLiteral("/some/folder/") + longName);
    QCOMPARE(name.size(), 255);
    QCOMPARE(name, longName.left(251) + QStringLiteral(".BVT"));
    QCOMPARE(announcedName(QStringLiteral("/x/cube.BVT")), QStringLiteral("cube.BVT"));
    QCOMPARE(announcedName(QString(255, QLatin1Char('a'))).size(), 255);
}

void TestSerialFrame::statusDecoding()
{
    StatusReply s;
    QVERIFY(!decodeStatus(bytes("01 00 00 00 C8 00 64 00 00"), &s)); // 9 bytes: too short
    QVERIFY(decodeStatus(bytes("04 02 05 01 F5 27 11 83 00 65"), &s));
    QCOMPARE(s.printerState, 4);
    QCOMPARE(s.traySubState, 2);
    QCOMPARE(s.statusCode, 5);
    QCOMPARE(s.nozzleTemp, 501);
    QCOMPARE(s.progress, 10001);
    QCOMPARE(s.pauseByte, 0x83);
    QCOMPARE(s.bedTemp, 101);
    QCOMPARE(encodeStatus(s), bytes("04 02 05 01 F5 27 11 83 00 65"));
}

void TestSerialFrame::machineInfo_data()
{
    MachineInfoRecord r;
    r.model = 3;
    r.variant = 1;
    r.version[0] = 1;
    r.version[1] = 2;
    r.version[2] = -1;
    r.doorActive = 1;
    r.levelingData = -300;
    r.serialNumber = "SN42";
    r.mac = "AA:BB:CC:DD:EE:FF";
    const QByteArray full = encodeMachineInfo(r);
    QByteArray claimsTooMuch = full.left(12);
    claimsTooMuch[8] = char(50);

    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("details");
    QTest::addColumn<bool>("leveling");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("mac");
    QTest::newRow("full") << full << 3 << true << true << "SN42" << "1.2.-1" << "AA:BB:CC:DD:EE:FF";
    QTest::newRow("model 2") << bytes("02") << 1 << false << false << "" << "" << "";
    QTest::newRow("model 3 variant 0") << bytes("03 00") << 2 << false << false << "" << "" << "";
    QTest::newRow("model 3 variant 2") << bytes("03 02 01 02 03 00") << 0 << true << false << "" << "1.2.3" << "";
    QTest::newRow("model 3 without variant") << bytes("03") << 0 << false << false << "" << "" << "";
    QTest::newRow("empty") << QByteArray() << 0 << false << false << "" << "" << "";
    QTest::newRow("levelling, no serial") << full.left(8) << 3 << true << true << "" << "1.2.-1" << "";
    QTest::newRow("serial length 0") << bytes("02 00 01 02 03 00 00 00 00") << 1 << true << true << "" << "1.2.3" << "";
    QTest::newRow("serial clipped") << claimsTooMuch << 3 << true << true << "SN4" << "1.2.-1" << "";
    QTest::newRow("no mac") << full.left(76) << 3 << true << true << "SN42" << "1.2.-1" << "";
}

void TestSerialFrame::machineInfo()
{
    QFETCH(QByteArray, data);
    QFETCH(int, type);
    QFETCH(bool, details);
    QFETCH(bool, leveling);
    QFETCH(QString, serial);
    QFETCH(QString, version);
    QFETCH(QString, mac);
    const MachineInfo info = decodeMachineInfo(data);
    QCOMPARE(info.machineType, type);
    QCOMPARE(info.hasDetails, details);
    QCOMPARE(info.hasLevelingData, leveling);
    if (leveling && data.size() > 7 && quint8(data.at(0)) == 3)
        QCOMPARE(info.levelingData, -300);
    QCOMPARE(info.serialNumber, serial);
    QCOMPARE(info.version, version);
    QCOMPARE(info.mac, mac);
}

void TestSerialFrame::replyFlags()
{
    QCOMPARE(replyFlag(bytes("00"), 3), 1);
    QCOMPARE(replyFlag(bytes("03"), 3), 4);
    QCOMPARE(replyFlag(bytes("04"), 3), 0);
    QCOMPARE(replyFlag(bytes("02"), 1), 0);
    QCOMPARE(replyFlag(QByteArray(), 3), 0);
    quint32 kib = 0;
    QVERIFY(!decodeFreeSpace(bytes("00 10 00"), &kib));
    QVERIFY(decodeFreeSpace(bytes("FF 10 00 01"), &kib));
    QCOMPARE(kib, 0xFF100001u);
}

QTEST_GUILESS_MAIN(TestSerialFrame)
#include "tst_serialframe.moc"
