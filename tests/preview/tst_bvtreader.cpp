// The print-task reader on files from our writer, from the stand-in engine and made by hand:
// header values and checks, move parsing, thinning and batching, refusals, the hand-over.
#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <map>
#include <set>

#include "FileRW/BVTReader.h"
#include "platform/Platform.h"
#include "render/GcodePreviewData.h"
#include "testutil_preview.h"
#include "common/TestTime.h"

using namespace PreviewTest;

namespace {

QStringList withMoves(const QStringList& moves)
{
    return engineHead() + moves;
}

std::vector<PointRec> movesOf(const LoadRun& run)
{
    std::vector<PointRec> out;
    for (const auto& b : run.batches)
        for (const PointRec& p : b)
            if (p.type != -1)
                out.push_back(p);
    return out;
}

// Loads with the lines cut into pieces of that many bytes (0: the reader's own size).
LoadRun loadInPieces(BVTReader& reader, const QString& path, size_t pieceBytes)
{
    BVTReader::setPieceBytesForTests(pieceBytes);
    LoadRun run = load(reader, path);
    BVTReader::setPieceBytesForTests(0);
    return run;
}

// Appends n comment lines ";" quickly.
void filler(QByteArray& text, qint64 n, qint64& written)
{
    static const QByteArray block = QByteArray(";\n").repeated(1 << 16);
    for (qint64 left = n; left > 0;) {
        const qint64 k = std::min<qint64>(left, 1 << 16);
        text.append(block.constData(), int(k * 2));
        left -= k;
    }
    written += std::max<qint64>(0, n);
}

// A print-task text of exactly `lines` lines after line 1, with `layers` layers at
// z = 0.2 * n spread over it and ";" filler between. The last layer's moves sit in the last
// ten lines.
QByteArray layeredTask(qint64 lines, int layers)
{
    const qint64 engineLines = lines - 3;
    QByteArray text;
    text.reserve(int(engineLines * 2 + 4096));
    for (const QString& l : engineHead())
        text += l.toLatin1() + '\n';
    auto layer = [&](int n) {
        text += "G0 Z" + QByteArray::number(0.2 * n, 'f', 1) + "\nG0 X0 Y0\nG1 X10 Y0 E1\nG1 X10 Y10 E2\n";
    };
    const qint64 head = 15, perLayer = 4, tail = perLayer + 1; // last layer and M25
    const qint64 room = engineLines - head - tail;
    const qint64 spacing = room / (layers - 1);
    qint64 written = head;
    for (int n = 1; n < layers; ++n) {
        layer(n);
        written += perLayer;
        filler(text, std::min(head + spacing * n, engineLines - tail) - written, written);
    }
    filler(text, engineLines - tail - written, written);
    layer(layers);
    text += "M25\n";
    return plainPrintTask(text, engineLines);
}

struct Files
{
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

} // namespace

class TestBVTReader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void machineTypeAndHeader_data();
    void machineTypeAndHeader();
    void printTimeAndLength_data();
    void printTimeAndLength();
    void movesAndOffsets_data();
    void movesAndOffsets();
    void lineLength_data();
    void lineLength();
    void refusesDamagedFiles_data();
    void refusesDamagedFiles();
    void thinningAndBatches_data();
    void thinningAndBatches();
    void batchEndsAtItsLine_data();
    void batchEndsAtItsLine();
    void lineLimit_data();
    void lineLimit();
    void cancelledWaitThenNextLoad();
    void engineSlicedFile();

private:
    Files files;
};

void TestBVTReader::init()
{
    QVERIFY(files.dir.isValid());
    chunkPending.store(0);
}

void TestBVTReader::machineTypeAndHeader_data()
{
    QTest::addColumn<int>("fileType");
    QTest::addColumn<int>("machine");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("name");
    QTest::newRow("PX5 on PX5") << 1 << 1 << true << "PX5";
    QTest::newRow("PX6_A on PX5") << 2 << 1 << false << "PX6_A";
    QTest::newRow("PX6_A with no machine") << 2 << 0 << true << "PX6_A";
    QTest::newRow("PX6_A on PX6_A") << 2 << 2 << true << "PX6_A";
    QTest::newRow("PX6_B on PX6_A") << 3 << 2 << false << "PX6_B";
    QTest::newRow("PX6_B on PX6_B") << 3 << 3 << true << "PX6_B";
    QTest::newRow("PX5 on PX6_B") << 0 << 3 << false << "PX5";
}

void TestBVTReader::machineTypeAndHeader()
{
    QFETCH(int, fileType);
    QFETCH(int, machine);
    QFETCH(bool, accepted);
    QFETCH(QString, name);
    const QString path = files.path("m.BVT");
    QVERIFY(writePrintTask(files.dir.path(), path, withMoves({"G0 Z0.2", "G1 X1 Y1 E1", "G1 X2 Y1 E2"}), fileType));
    GcodePreviewData preview;
    BVTReader reader(preview, machine, 145, 145);
    const LoadRun run = load(reader, path);
    QCOMPARE(run.ok, accepted);
    QCOMPARE(reader.modelName, name);
    // M102 counts the lines after line 1: 15 head + 3 moves + M25 + 3 header lines.
    QCOMPARE(reader.lineCount, qint64(22));
    if (accepted) {
        QCOMPARE(run.time, QString("0:10:00"));
        QCOMPARE(run.length, QString("124"));
        QCOMPARE(run.readies, std::vector<bool>{true});
    } else {
        QVERIFY(run.time.isEmpty());
        QVERIFY(run.readies.empty());
    }
}

void TestBVTReader::printTimeAndLength_data()
{
    QTest::addColumn<QStringList>("head");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("time");
    QStringList noTime = engineHead();
    noTime[0] = ";Printing soon";
    QStringList emptyTime = engineHead();
    emptyTime[0] = ";Print time:\t   ";
    QTest::newRow("normal") << engineHead() << true << "0:10:00";
    QTest::newRow("no time line") << noTime << true << "xxx";
    QTest::newRow("empty time") << emptyTime << false << "";
}

void TestBVTReader::printTimeAndLength()
{
    QFETCH(QStringList, head);
    QFETCH(bool, accepted);
    QFETCH(QString, time);
    const QString path = files.path("t.BVT");
    QVERIFY(writePrintTask(files.dir.path(), path, head + QStringList{"G0 Z0.2", "G1 X1 Y1 E1"}, 1));
    GcodePreviewData preview;
    BVTReader reader(preview, 1, 145, 145);
    const LoadRun run = load(reader, path);
    QCOMPARE(run.ok, accepted);
    QCOMPARE(run.time, time);
}

void TestBVTReader::movesAndOffsets_data()
{
    QTest::addColumn<int>("machine");
    QTest::addColumn<QStringList>("moves");
    QTest::addColumn<QVector<QVector<double>>>("points"); // type, x, y, z
    QTest::addColumn<int>("layers");
    using P = QVector<double>;
    QTest::newRow("full move, E not read")
        << 0 << QStringList{"G1 X10.5 Y-3.25 Z0.3 E1.2 X99"} << QVector<P>{{1, 10.5, -3.25, 0.3}} << 1;
    // Nothing extrudes: no layer.
    QTest::newRow("word after G swallowed")
        << 0 << QStringList{"G1X10", "G0 X2 Y3"} << QVector<P>{{0, 2, 3, 0}} << 0;
    QTest::newRow("Z alone makes no layer, adds no point")
        << 0 << QStringList{"G0 Z0.3", "G0 Z0.5", "G1 X1 Y2 ;X7 comment"} << QVector<P>{{1, 1, 2, 0.5}} << 1;
    // The engine's Z hop: lifted travels draw at the height they land on; only rising
    // extrusion makes a layer.
    QTest::newRow("hops between extrusions")
        << 0 << QStringList{"G0 F6000 Z0.2", "G0 X0 Y0", "G1 F1200 X1 Y0 E1", "G1 F2400 E0", "G0 F6000 Z2.2",
                            "G0 X5 Y5", "G0 Z0.2", "G1 F2400 E1", "G1 F1200 X6 Y5 E2", "G1 F2400 E1", "G0 F6000 Z2.2",
                            "G0 F6000 Z2.4", "G0 X0 Y0", "G0 Z0.4", "G1 F1200 X1 Y0 E2", "G1 E1", "G0 Z2.4"}
        << QVector<P>{{0, 0, 0, 0.2}, {1, 1, 0, 0.2}, {0, 5, 5, 0.2}, {1, 6, 5, 0.2}, {0, 0, 0, 0.4}, {1, 1, 0, 0.4}}
        << 2;
    QTest::newRow("unnamed axes keep their values")
        << 0 << QStringList{"G1 X1 Y2 Z0.2", "G1 Y5", "G2 X-0.125"}
        << QVector<P>{{1, 1, 2, 0.2}, {1, 1, 5, 0.2}, {2, -0.125, 5, 0.2}} << 1;
    QTest::newRow("plate offsets undone on PX5")
        << 1 << QStringList{"G1 X98 Y84 Z0.3", "G1 X100.5 Y80"} << QVector<P>{{1, 0, 0, 0.3}, {1, 2.5, -4, 0.3}} << 1;
}

Q_DECLARE_METATYPE(QVector<QVector<double>>)

void TestBVTReader::movesAndOffsets()
{
    QFETCH(int, machine);
    QFETCH(QStringList, moves);
    QFETCH(QVector<QVector<double>>, points);
    QFETCH(int, layers);
    const QString path = files.path("moves.BVT");
    QVERIFY(writePrintTask(files.dir.path(), path, withMoves(moves), machine == 0 ? 1 : machine));
    // Lines are parsed in pieces on several threads: one piece, or a piece per line or two.
    for (size_t pieceBytes : {size_t(0), size_t(1), size_t(13)}) {
        GcodePreviewData preview;
        BVTReader reader(preview, machine, 145, 145);
        const LoadRun run = loadInPieces(reader, path, pieceBytes);
        QVERIFY(run.ok);
        const auto got = movesOf(run);
        QCOMPARE(int(got.size()), points.size());
        for (int i = 0; i < points.size(); ++i) {
            QCOMPARE(got[size_t(i)].type, int(points[i][0]));
            QCOMPARE(got[size_t(i)].x, points[i][1]);
            QCOMPARE(got[size_t(i)].y, points[i][2]);
            QCOMPARE(got[size_t(i)].z, points[i][3]);
        }
        QCOMPARE(reader.layerCount, layers);
        QCOMPARE(g_gcodeLayerCount.load(), std::max(0, reader.layerCount - 1));
        QCOMPARE(layerStep.load(), 1);
        // The end marker closes the batch 0.2 above the last position.
        const PointRec marker = run.batches.back().back();
        QCOMPARE(marker.type, -1);
        QCOMPARE(marker.z, got.back().z + 0.2);
    }
}

void TestBVTReader::lineLength_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("255 bytes") << 255 << true;
    QTest::newRow("256 bytes") << 256 << false;
}

void TestBVTReader::lineLength()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    const QString path = files.path("long.BVT");
    const QString longLine = ";" + QString(length - 1, 'a');
    QVERIFY(writePrintTask(files.dir.path(), path, withMoves({"G1 X1 Y1 Z0.2", longLine}), 1));
    GcodePreviewData preview;
    BVTReader reader(preview, 1, 145, 145);
    QCOMPARE(load(reader, path).ok, accepted);
}

void TestBVTReader::refusesDamagedFiles_data()
{
    QTest::addColumn<QString>("damage");
    for (const char* d : {"empty", "one block", "cut 3 bytes", "cut one block", "cut 1024 bytes",
                          "flipped first block", "flipped line count", "flipped last block",
                          "extra zero block", "extra line", "plain text", "control byte"})
        QTest::newRow(d) << QString(d);
}

void TestBVTReader::refusesDamagedFiles()
{
    QFETCH(QString, damage);
    QStringList moves;
    for (int i = 0; i < 200; ++i)
        moves << QString("G1 X%1 Y%2 Z0.2 E%3").arg(i % 17).arg(i % 13).arg(i);
    const QString good = files.path("good.BVT");
    QVERIFY(writePrintTask(files.dir.path(), good, withMoves(moves), 1));
    QByteArray bytes = readFile(good);
    QVERIFY(bytes.size() > 2048);

    if (damage == "empty")
        bytes.clear();
    else if (damage == "one block")
        bytes.truncate(8);
    else if (damage == "cut 3 bytes")
        bytes.chop(3);
    else if (damage == "cut one block")
        bytes.chop(8);
    else if (damage == "cut 1024 bytes")
        bytes.chop(1024);
    else if (damage == "flipped first block")
        bytes[3] = char(bytes[3] ^ 0x10);
    else if (damage == "flipped line count")
        bytes[20] = char(bytes[20] ^ 0x01);
    else if (damage == "flipped last block")
        bytes[bytes.size() - 2] = char(bytes[bytes.size() - 2] ^ 0x40);
    else if (damage == "extra zero block")
        bytes += encipher(QByteArray(8, '\0'));
    else if (damage == "extra line") {
        QByteArray plain = decipher(bytes);
        while (plain.endsWith('\0'))
            plain.chop(1);
        bytes = encipher(plain + "G1 X1 Y1\n");
    } else if (damage == "plain text")
        bytes = QByteArray(";Brevant 1.0.00\nM102 L3\nM300 PX5\nM25\n");
    else if (damage == "control byte") {
        QByteArray plain = decipher(bytes);
        plain[plain.indexOf("G1 X5") + 2] = '\r';
        bytes = encipher(plain);
    }
    const QString bad = files.path("bad.BVT");
    QVERIFY(writeFile(bad, bytes));

    // A refused file leaves the last preview as it was and announces nothing.
    GcodePreviewData preview;
    BVTReader first(preview, 1, 145, 145);
    QVERIFY(load(first, good).ok);
    const std::vector<double> heights = preview.layerHeightList();
    QVERIFY(!heights.empty());

    BVTReader reader(preview, 1, 145, 145);
    const LoadRun run = load(reader, bad);
    QVERIFY(!run.ok);
    QVERIFY(!reader.refusal.isEmpty());
    QVERIFY(run.readies.empty());
    QVERIFY(run.batches.empty());
    QCOMPARE(preview.layerHeightList(), heights);
    QCOMPARE(chunkPending.load(), 0);
}

void TestBVTReader::thinningAndBatches_data()
{
    QTest::addColumn<qint64>("lines");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("batches");
    QTest::addColumn<int>("pieceBytes"); // parsed in pieces this long (0: as the program does)
    QTest::newRow("2,000,000") << qint64(2000000) << 1 << 1 << 0;
    QTest::newRow("2,000,001") << qint64(2000001) << 2 << 1 << 0;
    QTest::newRow("2,000,002") << qint64(2000002) << 2 << 2 << 0;
    QTest::newRow("3,000,000") << qint64(3000000) << 2 << 2 << 0;
    QTest::newRow("4,000,000") << qint64(4000000) << 2 << 2 << 0;
    QTest::newRow("4,000,001") << qint64(4000001) << 4 << 2 << 0;
    QTest::newRow("4,000,002") << qint64(4000002) << 4 << 3 << 0;
    // Piece ends fall inside layers, at batch ends and in the last ten lines.
    QTest::newRow("2,000,002 in small pieces") << qint64(2000002) << 2 << 2 << 4099;
    QTest::newRow("4,000,002 in small pieces") << qint64(4000002) << 4 << 3 << 65537;
}

void TestBVTReader::thinningAndBatches()
{
    QFETCH(qint64, lines);
    QFETCH(int, step);
    QFETCH(int, batches);
    QFETCH(int, pieceBytes);
    const int layers = 21;
    const QString path = files.path("big.BVT");
    QVERIFY(writeFile(path, encipher(layeredTask(lines, layers))));
    GcodePreviewData preview;
    BVTReader reader(preview, 0, 145, 145);
    const LoadRun run = loadInPieces(reader, path, size_t(pieceBytes));
    QVERIFY2(run.ok, qPrintable(reader.refusal));
    QCOMPARE(reader.lineCount, lines);
    QCOMPARE(reader.step, step);
    QCOMPARE(reader.batches, batches);
    QCOMPARE(int(run.readies.size()), batches);
    QCOMPARE(run.readies.back(), true);
    QCOMPARE(int(run.batches.size()), batches);

    // Layers 1-5 always, then multiples of the step; the last layer lies in the last ten
    // lines, which are never thinned.
    std::map<int, int> perLayer;
    for (const PointRec& p : movesOf(run))
        ++perLayer[int(std::lround(p.z / 0.2))];
    std::set<int> expected;
    for (int n = 1; n <= layers; ++n)
        if (n < 6 || n % step == 0 || n == layers)
            expected.insert(n);
    std::set<int> got;
    for (const auto& e : perLayer) {
        QCOMPARE(e.second, 3);
        got.insert(e.first);
    }
    QCOMPARE(got, expected);
    QCOMPARE(g_gcodeLayerCount.load(), int(expected.size()) - 1);
    QCOMPARE(layerStep.load(), 1);
    QCOMPARE(int(preview.layerHeightList().size()), int(expected.size()));
    QCOMPARE(chunkPending.load(), 0);
}

void TestBVTReader::batchEndsAtItsLine_data()
{
    QTest::addColumn<int>("pieceBytes"); // 0: as the program does
    QTest::addColumn<bool>("thinnedTail");
    // Moves on the last line of the first batch (2,000,000) and on each side of it.
    QTest::newRow("whole pieces") << 0 << false;
    QTest::newRow("pieces of 4099 bytes") << 4099 << false;
    QTest::newRow("pieces of 65537 bytes") << 65537 << false;
    // A thinned layer that runs on into the last ten lines, where no layer is thinned, counts
    // on the layer slider although none of its moves come after.
    QTest::newRow("thinned layer into the last lines") << 0 << true;
    QTest::newRow("thinned layer into the last lines, small pieces") << 4099 << true;
}

void TestBVTReader::batchEndsAtItsLine()
{
    QFETCH(int, pieceBytes);
    QFETCH(bool, thinnedTail);
    QByteArray text;
    for (const QString& l : engineHead())
        text += l.toLatin1() + '\n';
    qint64 written = 15;
    QByteArray moves = "G1 X4 Y4 Z0.2\nG1 X5 Y5\nG1 X6 Y6\n";
    if (thinnedTail) {
        moves.clear();
        for (int n = 1; n <= 7; ++n)
            moves += "G0 Z" + QByteArray::number(0.2 * n, 'f', 1) + "\nG1 X1 Y1\nG1 X2 Y2\n";
        text += moves;
        written += 21;
        filler(text, 2000000 - written - 1, written);
    } else {
        filler(text, 2000000 - 15 - 4, written);
        text += moves;
    }
    text += "M25\n";
    const QString path = files.path("edge.BVT");
    QVERIFY(writeFile(path, encipher(plainPrintTask(text, 2000000))));
    GcodePreviewData preview;
    BVTReader reader(preview, 0, 145, 145);
    const LoadRun run = loadInPieces(reader, path, size_t(pieceBytes));
    QVERIFY2(run.ok, qPrintable(reader.refusal));
    QCOMPARE(reader.lineCount, qint64(2000003));
    QCOMPARE(reader.step, 2);
    QCOMPARE(int(run.batches.size()), 2);
    if (thinnedTail) {
        QCOMPARE(reader.layerCount, 7);
        QCOMPARE(g_gcodeLayerCount.load(), 6);
        return;
    }
    auto xs = [](const std::vector<PointRec>& batch) {
        QVector<double> out;
        for (const PointRec& p : batch)
            if (p.type != -1)
                out << p.x;
        return out;
    };
    QCOMPARE(xs(run.batches[0]), (QVector<double>{4, 5}));
    QCOMPARE(xs(run.batches[1]), (QVector<double>{6}));
}

void TestBVTReader::lineLimit_data()
{
    QTest::addColumn<qint64>("lines");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("30,000,001") << qint64(30000001) << true;
    QTest::newRow("30,000,002") << qint64(30000002) << false;
}

void TestBVTReader::lineLimit()
{
    QFETCH(qint64, lines);
    QFETCH(bool, accepted);
    const QString path = files.path("huge.BVT");
    QVERIFY(writeFile(path, encipher(layeredTask(lines, 3))));
    GcodePreviewData preview;
    BVTReader reader(preview, 0, 145, 145);
    const LoadRun run = load(reader, path);
    QFile::remove(path);
    QCOMPARE(run.ok, accepted);
    if (accepted) {
        QCOMPARE(reader.batches, 15); // at most fifteen: all fit in the renderer's sixteen slots
        QCOMPARE(run.readies.back(), true);
    } else {
        QVERIFY(run.readies.empty());
    }
}

void TestBVTReader::cancelledWaitThenNextLoad()
{
    const QString big = files.path("two-batches.BVT");
    QVERIFY(writeFile(big, encipher(layeredTask(2000100, 8))));
    GcodePreviewData preview;
    BVTReader reader(preview, 0, 145, 145);
    Platform::setTimeoutScale(0.1);
    const LoadRun stopped = load(reader, big, false);
    QVERIFY(!stopped.ok);
    // The first batch was announced; the end never was.
    QCOMPARE(stopped.readies, std::vector<bool>{false});
    QCOMPARE(chunkPending.load(), 1);

    // The next load takes the abandoned batch back and runs normally.
    const QString small = files.path("small.BVT");
    QVERIFY(writePrintTask(files.dir.path(), small, withMoves({"G1 X1 Y1 Z0.2", "G1 X3 Y1"}), 1));
    BVTReader next(preview, 1, 145, 145);
    const LoadRun run = load(next, small);
    QVERIFY(run.ok);
    QCOMPARE(run.readies, std::vector<bool>{true});
    QCOMPARE(preview.layerHeightList(), std::vector<double>{0.2});
    QCOMPARE(chunkPending.load(), 0);
    Platform::setTimeoutScale(1.0);
}

void TestBVTReader::engineSlicedFile()
{
    const QString engine = QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine");
    QVERIFY2(QFile::exists(engine), "the stand-in engine is not built");
    const QString stl = files.path("box.stl");
    QVERIFY(writeFile(stl, boxStl(-10, -8, 0, 10, 8, 6)));
    const QString ini = files.path("Brev.ini");
    QVERIFY(writeFile(ini, engineIni()));
    const QString gcode = files.path("box.gcode");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(engine, {"-p", "-c", ini, "-s", "posx=98000", "-s", "posy=84000", "-o", gcode, stl});
    QVERIFY(p.waitForFinished(TestTime::waitMs(60000)));
    QVERIFY2(p.exitCode() == 0, p.readAll().constData());
    QStringList lines = QString::fromLocal8Bit(readFile(gcode)).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.size() > 100);
    const QString task = files.path("box.BVT");
    QVERIFY(writePrintTask(files.dir.path(), task, lines, 1));

    GcodePreviewData preview;
    BVTReader reader(preview, 1, 145, 145);
    const LoadRun run = load(reader, task);
    QVERIFY2(run.ok, qPrintable(reader.refusal));
    QCOMPARE(run.time, lines[0].section('\t', 1));
    const double filament = lines[1].section('\t', 1).remove("mm").toDouble();
    QCOMPARE(run.length, QString::number(std::ceil(filament)));
    const int engineLayers = lines[3].section('\t', 1).toInt();
    QVERIFY(engineLayers >= 25);
    QCOMPARE(g_gcodeLayerCount.load(), engineLayers - 1);
    QCOMPARE(int(preview.layerHeightList().size()), engineLayers);

    // Extrusion lies on the box, brought back from the engine's plate offsets.
    double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
    for (const PointRec& q : movesOf(run))
        if (q.type == 1) {
            lo[0] = std::min(lo[0], q.x), lo[1] = std::min(lo[1], q.y);
            hi[0] = std::max(hi[0], q.x), hi[1] = std::max(hi[1], q.y);
        }
    QVERIFY2(std::abs(lo[0] + 10) < 0.6 && std::abs(hi[0] - 10) < 0.6, qPrintable(QString("%1 %2").arg(lo[0]).arg(hi[0])));
    QVERIFY2(std::abs(lo[1] + 8) < 0.6 && std::abs(hi[1] - 8) < 0.6, qPrintable(QString("%1 %2").arg(lo[1]).arg(hi[1])));
    int triangles = 0;
    for (int t : run.chunkTriangles)
        triangles += t;
    QVERIFY(triangles > 1000);
}

QTEST_GUILESS_MAIN(TestBVTReader)
#include "tst_bvtreader.moc"
