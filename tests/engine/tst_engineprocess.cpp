#include "testutil_mesh.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>
#include "common/TestTime.h"

namespace {

const QString kEngine = QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine");
const QStringList kStages = {"DiameterCompensation", "inset", "skin", "overhang",
                             "deleteSmallAreas", "unionSupportAreas", "export"};
const QStringList kStartCode = {";Start GCode",
                                ";Middle Quality",
                                "M204 T1000 P1000      ;movespeed acc set",
                                "M104 S{temperature}   ;temperature set",
                                "M140 S{temperature}   ;hot bed temperature",
                                "G28                   ;move XYZ to min endstops",
                                "G1 Z5 F2000           ;move the platform down",
                                "M109 S{temperature}   ;temperature set waiting",
                                "M190 S{temperature}   ;hot bed temperature waiting",
                                "G92 E0                ;zero the extruded length"};

// A profile as the host writes it: CR LF, blanks around "=", a double, blocks.
QByteArray profile(const QByteArray& extra = QByteArray())
{
    QByteArray ini = "layerThickness = 200\ninsetCount = 2\nupSkinCount = 3\nextrusionWidth = 400\n"
                     "sparseInfillLineDistance = 2000\nsupportZDistanceTop = 400\n"
                     "raftAirGap = 59.99999940395355\ninsetraftAirGapLayer0  = 149.99999940395355\n"
                     "platformx=145000\nplatformy=145000\n"
                     "manualSupportEnable = 1\nmanualSupportSideLen = 2000\n"
                     "manualSupportPoints = \"\"\"\n15000 0 5000 \n\"\"\"\n";
    ini += extra;
    ini += "startCode = \"\"\"\n" + kStartCode.join('\n').toLatin1() + "\n\"\"\"\n";
    ini += "endCode = \"\"\"\n;End GCode\nM25\n\"\"\"\n";
    ini.replace("\n", "\r\n");
    return ini;
}

struct Run {
    int exitCode = -1;
    QByteArray output; // stdout and stderr merged, as the host reads them
};

Run runEngine(const QString& ini, const QString& out, const QString& stl)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(kEngine, {"-p", "-c", ini, "-s", "posx=98000", "-s", "posy=84000", "-o", out, stl});
    Run r;
    if (!p.waitForStarted() || !p.waitForFinished(TestTime::waitMs(60000)))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = p.readAll();
    return r;
}

// The host's reading of a progress line: the figure it shows, or -1 when it ignores the line.
int hostProgress(const QString& line, int& stepTotal)
{
    const QStringList f = line.split(':', Qt::SkipEmptyParts);
    if (f.size() != 4)
        return -1;
    if (stepTotal == 0) {
        stepTotal = f[3].toInt() * 7;
        return -1;
    }
    const int stage = f[1] == "tree" ? 5 : kStages.indexOf(f[1]);
    if (stage < 0)
        return -1;
    const int n = f[2].toInt() + stage * (stepTotal / 7);
    return n == 0 ? -1 : int(n * 9400.0 / stepTotal + 500.0);
}

} // namespace

class TestEngineProcess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void gcodeContract();
    void failures_data();
    void failures();

private:
    QTemporaryDir dir_;
};

void TestEngineProcess::initTestCase()
{
    QVERIFY2(QFile::exists(kEngine), qPrintable("engine not built: " + kEngine));
    QVERIFY(dir_.isValid());
}

void TestEngineProcess::gcodeContract()
{
    const QString ini = dir_.filePath("Brev.ini");
    const QString stl = dir_.filePath("cube.stl");
    const QString out = dir_.filePath("3DPRINT.BVT");
    QVERIFY(testmesh::writeFile(ini, profile()));
    QVERIFY(testmesh::writeFile(stl, testmesh::stlBytes(testmesh::box(-10, -10, 0, 10, 10, 20))));
    const Run r = runEngine(ini, out, stl);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(!QFile::exists(out + "0.tmp"));

    // Progress: only progress lines, every stage in order with the same count, rising figures.
    const QStringList progress = QString::fromLatin1(r.output).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!progress.isEmpty());
    const QRegularExpression progressLine("^P:([A-Za-z]+):(\\d+):(\\d+)$");
    int lastStage = 0;
    int lastFigure = 0;
    int stepTotal = 0;
    for (const QString& line : progress) {
        const auto m = progressLine.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QCOMPARE(m.captured(3).toInt(), 100);
        const int stage = kStages.indexOf(m.captured(1));
        QVERIFY(stage >= lastStage);
        lastStage = stage;
        const int figure = hostProgress(line, stepTotal);
        if (figure >= 0) {
            QVERIFY(figure >= lastFigure);
            lastFigure = figure;
        }
    }
    QCOMPARE(lastStage, 6);
    QCOMPARE(lastFigure, 9900);

    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(!bytes.contains('\r'));
    QVERIFY(bytes.endsWith("\n"));
    const QStringList lines = QString::fromLatin1(bytes).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.size() > 100);

    // Header: the post-processing reads the filament from the second line, the preview the time.
    QVERIFY(lines[0].startsWith(";Print time:\t"));
    const QString time = lines[0].mid(13).trimmed();
    const QRegularExpression hms("^(\\d+):(\\d\\d):(\\d\\d)$");
    const auto tm = hms.match(time);
    QVERIFY2(tm.hasMatch(), qPrintable(time));
    const int seconds = tm.captured(1).toInt() * 3600 + tm.captured(2).toInt() * 60 + tm.captured(3).toInt();
    QVERIFY2(seconds > 300 && seconds < 4 * 3600, qPrintable(time));
    QVERIFY(lines[1].startsWith(";Filament:\t") && lines[1].endsWith("mm"));
    bool ok = false;
    const double filament = QString(lines[1]).remove(";Filament:\t").remove("mm").toDouble(&ok);
    QVERIFY(ok);
    // A 20 mm cube is 8000 mm³; 1.75 mm filament holds 2.405 mm³ per mm.
    QVERIFY2(filament > 0.15 * 8000 / 2.405 && filament < 8000 / 2.405, qPrintable(lines[1]));

    // The start code verbatim, its placeholders for the post-processing, and the first layer
    // from the preview's first parsed line on.
    const int start = lines.indexOf(kStartCode[0]);
    QVERIFY(start > 1 && start < 7);
    QCOMPARE(lines.mid(start, kStartCode.size()), kStartCode);
    QVERIFY(start + kStartCode.size() <= 15);
    QVERIFY(lines[start + kStartCode.size()].startsWith("G0 ") && lines[start + kStartCode.size()].contains(" Z"));
    QCOMPARE(lines.mid(lines.size() - 2), QStringList({";End GCode", "M25"}));

    const QRegularExpression move("^G([01])( F\\d+)?( X-?\\d+\\.\\d{3} Y-?\\d+\\.\\d{3})?( Z\\d+\\.\\d{3})?( E-?\\d+\\.\\d{5})?$");
    double lastZ = 0;
    double z = 0;
    int layers = 0;
    int supportLayersBelow = 0;
    bool supportAbove = false;
    for (int i = start + kStartCode.size(); i < lines.size() - 2; ++i) {
        const QString& l = lines[i];
        QVERIFY2(l.size() < 256, qPrintable(l));
        if (l.startsWith(';') || l == "G92 E0")
            continue;
        const auto m = move.match(l);
        QVERIFY2(m.hasMatch(), qPrintable(l));
        if (!m.captured(4).isEmpty()) {
            z = m.captured(4).mid(2).toDouble();
            QVERIFY(z > lastZ);
            lastZ = z;
            ++layers;
            // Each layer begins with the Z move and restarts E.
            QCOMPARE(lines[i + 2], QString("G92 E0"));
            continue;
        }
        if (m.captured(1) == "1" && !m.captured(3).isEmpty()) {
            const QStringList w = m.captured(3).split(' ', Qt::SkipEmptyParts);
            const double x = w[0].mid(1).toDouble() - 98.0;
            const double y = w[1].mid(1).toDouble() - 84.0;
            const bool inCube = std::fabs(x) <= 10.0 && std::fabs(y) <= 10.0;
            const bool inColumn = std::fabs(x - 15.0) <= 1.0 && std::fabs(y) <= 1.0;
            QVERIFY2(inCube || inColumn, qPrintable(l));
            if (inColumn && z <= 4.6 + 1e-9 && (supportLayersBelow == 0 || z > 0))
                supportLayersBelow = qMax(supportLayersBelow, int(std::lround(z / 0.2)));
            if (inColumn && z > 4.6 + 1e-9)
                supportAbove = true;
        }
    }
    QCOMPARE(layers, 100);
    QCOMPARE(supportLayersBelow, 23); // 0.2 … 4.6 mm
    QVERIFY(!supportAbove);
}

void TestEngineProcess::failures_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QByteArray>("stl");
    QTest::addColumn<QByteArray>("says"); // a word the message must hold, when it matters
    QTest::addColumn<bool>("refused");

    const QByteArray cube = testmesh::stlBytes(testmesh::box(0, 0, 0, 10, 10, 10));
    QByteArray truncated = cube;
    truncated.chop(1);
    // The fourth triangle's first vertex gets a NaN y.
    const float bad = std::numeric_limits<float>::quiet_NaN();
    char badBytes[4];
    std::memcpy(badBytes, &bad, 4);
    QByteArray nan = cube;
    nan.replace(84 + 50 * 3 + 12 + 4, 4, badBytes, 4);
    QByteArray huge = cube;
    huge[83] = char(0x40); // claims about a billion triangles

    QTest::newRow("missing ini") << QByteArray() << cube << QByteArray() << true;
    QTest::newRow("open block") << QByteArray("startCode = \"\"\"\n;Start\n") << cube << QByteArray() << true;
    QTest::newRow("text for a number") << QByteArray("layerThickness = fine\n") << cube << QByteArray() << true;
    QTest::newRow("missing stl") << profile() << QByteArray() << QByteArray() << true;
    QTest::newRow("short stl") << profile() << QByteArray(40, 'x') << QByteArray() << true;
    QTest::newRow("truncated stl") << profile() << truncated << QByteArray() << true;
    QTest::newRow("count beyond file") << profile() << huge << QByteArray() << true;
    QTest::newRow("nan vertex") << profile() << nan << QByteArray() << true;
    QTest::newRow("no triangles") << profile() << testmesh::stlBytes({}) << QByteArray() << true;
    QTest::newRow("below the plate") << profile() << testmesh::stlBytes(testmesh::box(0, 0, -5, 10, 10, -1)) << QByteArray() << true;
    // The profile's plate is 145 mm square; its round one 100 mm across, whose square would hold the cube.
    QTest::newRow("past the plate's edge") << profile() << testmesh::stlBytes(testmesh::box(70, 0, 0, 80, 10, 10))
                                           << QByteArray("plate") << true;
    QTest::newRow("past the round plate") << profile("platformx=100000\nplatformy=0\n")
                                          << testmesh::stlBytes(testmesh::box(38, 38, 0, 48, 48, 10)) << QByteArray("plate") << true;
    // The host places models to the micrometre: a few of them past the edge still slice.
    QTest::newRow("30 um past the edge") << profile() << testmesh::stlBytes(testmesh::box(62.53f, 0, 0, 72.53f, 10, 10))
                                         << QByteArray() << false;
    QTest::newRow("60 um past the edge") << profile() << testmesh::stlBytes(testmesh::box(62.56f, 0, 0, 72.56f, 10, 10))
                                         << QByteArray("plate") << true;
}

void TestEngineProcess::failures()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, stl);
    QFETCH(QByteArray, says);
    QFETCH(bool, refused);
    const QString iniPath = dir_.filePath("bad.ini");
    const QString stlPath = dir_.filePath("bad.stl");
    const QString out = dir_.filePath("bad.BVT");
    QFile::remove(iniPath);
    QFile::remove(stlPath);
    if (!ini.isEmpty())
        QVERIFY(testmesh::writeFile(iniPath, ini));
    if (!stl.isEmpty())
        QVERIFY(testmesh::writeFile(stlPath, stl));

    const Run r = runEngine(iniPath, out, stlPath);
    if (!refused) {
        QCOMPARE(r.exitCode, 0);
        QVERIFY(QFile::remove(out));
        return;
    }
    QVERIFY(r.exitCode > 0);
    QVERIFY(!QFile::exists(out));
    QVERIFY(!QFile::exists(out + "0.tmp"));
    const QStringList lines = QString::fromLatin1(r.output).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(says), qPrintable(lines[0]));
    int stepTotal = 0;
    QCOMPARE(hostProgress(lines[0].trimmed(), stepTotal), -1);
    QCOMPARE(stepTotal, 0);
}

QTEST_GUILESS_MAIN(TestEngineProcess)
#include "tst_engineprocess.moc"
