#include "testutil_mesh.h"

#include "EngineSettings.h"
#include "LayerPlanner.h"
#include "LayerSlicer.h"
#include "StlMesh.h"

#include <QtTest>
#include <cmath>

using ClipperLib::Paths;

namespace {

brev::StlMesh meshOf(const QVector<testmesh::Tri>& tris, qint64 shiftX = 0, qint64 shiftY = 0)
{
    const QByteArray bytes = testmesh::stlBytes(tris);
    brev::StlMesh mesh;
    std::string error;
    if (!mesh.loadBytes(reinterpret_cast<const unsigned char*>(bytes.constData()),
                        quint64(bytes.size()), shiftX, shiftY, error))
        qFatal("mesh: %s", error.c_str());
    return mesh;
}

// Index of the layer whose slicing plane is nearest to zUm.
int layerAt(const brev::LayerHeights& h, qint64 zUm)
{
    int best = 0;
    for (int i = 0; i < int(h.planeZUm.size()); ++i)
        if (std::llabs(h.planeZUm[size_t(i)] - zUm) < std::llabs(h.planeZUm[size_t(best)] - zUm))
            best = i;
    return best;
}

double mm2(double areaUm2) { return areaUm2 / 1e6; }

double netArea(const Paths& paths)
{
    double a = 0;
    for (const auto& p : paths)
        a += ClipperLib::Area(p);
    return a;
}

bool contains(const Paths& region, double xUm, double yUm)
{
    int inside = 0;
    for (const auto& p : region)
        if (ClipperLib::PointInPolygon(ClipperLib::IntPoint(llround(xUm), llround(yUm)), p) != 0)
            ++inside;
    return inside % 2 == 1;
}

} // namespace

class TestSlicer : public QObject {
    Q_OBJECT

private slots:
    void loops_data();
    void loops();
    void sphereLayers();
    void supportColumns();
    void settings_data();
    void settings();
};

void TestSlicer::loops_data()
{
    QTest::addColumn<int>("shape"); // 0 cube, 1 cube with a hole, 2 cube with flipped faces
    QTest::addColumn<double>("zMm");
    QTest::addColumn<int>("outers");
    QTest::addColumn<int>("holes");
    QTest::addColumn<double>("areaMm2");

    QTest::newRow("cube bottom") << 0 << 0.1 << 1 << 0 << 400.0;
    QTest::newRow("cube middle") << 0 << 10.0 << 1 << 0 << 400.0;
    QTest::newRow("cube top") << 0 << 19.9 << 1 << 0 << 400.0;
    QTest::newRow("flipped cube") << 2 << 10.0 << 1 << 0 << 400.0;
    QTest::newRow("hole bottom") << 1 << 0.1 << 1 << 1 << 336.0;
    QTest::newRow("hole middle") << 1 << 7.0 << 1 << 1 << 336.0;
    QTest::newRow("hole top") << 1 << 13.9 << 1 << 1 << 336.0;
}

void TestSlicer::loops()
{
    QFETCH(int, shape);
    QFETCH(double, zMm);
    QFETCH(int, outers);
    QFETCH(int, holes);
    QFETCH(double, areaMm2);

    QVector<testmesh::Tri> tris = shape == 1 ? testmesh::frame(20, 8, 14)
                                             : testmesh::box(-10, -10, 0, 10, 10, 20);
    if (shape == 2)
        tris = testmesh::flipped(tris);
    brev::StlMesh mesh = meshOf(tris, 5000, -3000);
    const auto heights = brev::LayerHeights::forMesh(mesh.maxZUm, 200, 200);
    QCOMPARE(int(heights.planeZUm.size()), shape == 1 ? 70 : 100);
    const auto outlines = brev::sliceMesh(mesh, heights, nullptr);
    const Paths& layer = outlines[size_t(layerAt(heights, qint64(zMm * 1000)))];

    int outerCount = 0;
    int holeCount = 0;
    ClipperLib::cInt minX = LLONG_MAX, maxX = LLONG_MIN, minY = LLONG_MAX, maxY = LLONG_MIN;
    for (const auto& p : layer) {
        (ClipperLib::Orientation(p) ? outerCount : holeCount)++;
        for (const auto& pt : p) {
            minX = std::min(minX, pt.X);
            maxX = std::max(maxX, pt.X);
            minY = std::min(minY, pt.Y);
            maxY = std::max(maxY, pt.Y);
        }
    }
    QCOMPARE(outerCount, outers);
    QCOMPARE(holeCount, holes);
    QVERIFY(std::fabs(mm2(netArea(layer)) - areaMm2) < 0.01);
    // The plate offsets move the outline.
    QCOMPARE(minX, ClipperLib::cInt(-5000));
    QCOMPARE(maxX, ClipperLib::cInt(15000));
    QCOMPARE(minY, ClipperLib::cInt(-13000));
    QCOMPARE(maxY, ClipperLib::cInt(7000));
    // The hole lies where the frame has none.
    QCOMPARE(contains(layer, 5000, -3000), shape != 1);
    QVERIFY(contains(layer, 5000 + 7000, -3000));
}

void TestSlicer::sphereLayers()
{
    const double radius = 30.0;
    brev::StlMesh mesh = meshOf(testmesh::sphere(float(radius), 180, 240));
    const auto heights = brev::LayerHeights::forMesh(mesh.maxZUm, 140, 140);
    // 60 mm at 0.14 mm: the last plane at 59.99 mm still cuts the sphere.
    QCOMPARE(int(heights.planeZUm.size()), 429);
    const auto outlines = brev::sliceMesh(mesh, heights, nullptr);
    int nonEmpty = 0;
    for (const auto& o : outlines)
        nonEmpty += o.empty() ? 0 : 1;
    QVERIFY(nonEmpty >= 427);

    for (int layer : {0, 10, 60, 150, 214, 300, 400, 420}) {
        const double z = heights.planeZUm[size_t(layer)] / 1000.0;
        const double r2 = radius * radius - (z - radius) * (z - radius);
        const double expected = M_PI * r2;
        const Paths& o = outlines[size_t(layer)];
        QCOMPARE(int(o.size()), 1);
        const double area = mm2(netArea(o));
        // The facets lie inside the true sphere: a little less area, never more.
        QVERIFY2(area <= expected * 1.001 && area >= expected * 0.98,
                 qPrintable(QString("layer %1: %2 mm² against %3").arg(layer).arg(area).arg(expected)));
    }
}

void TestSlicer::supportColumns()
{
    brev::EngineSettings s;
    std::string error;
    QVERIFY(s.loadIniText("layerThickness = 200\nmanualSupportEnable = 1\nmanualSupportSideLen = 2000\n"
                          "supportXYDistance = 700\nsupportZDistanceTop = 400\n"
                          "manualSupportPoints = \"\"\"\n15000 0 5000 10500 0 8000 \n\"\"\"\n",
                          error));
    QVERIFY(s.applyOverride("posx=98000", error));
    QVERIFY(s.applyOverride("posy=84000", error));
    QVERIFY2(s.resolve(error), error.c_str());
    QCOMPARE(int(s.supportPoints.size()), 2);

    brev::StlMesh mesh = meshOf(testmesh::box(-10, -10, 0, 10, 10, 20), s.posxUm, s.posyUm);
    const auto heights = brev::LayerHeights::forMesh(mesh.maxZUm, 200, 200);
    const auto outlines = brev::sliceMesh(mesh, heights, nullptr);
    brev::LayerPlanner planner(s, heights, outlines);
    for (size_t i = 0; i < planner.layerCount(); ++i)
        planner.makeSupport(i);

    for (size_t i = 0; i < planner.layerCount(); ++i) {
        const Paths& sup = planner.regions(i).support;
        const qint64 z = heights.printZUm[i];
        // The free column: a full 2 × 2 mm square at (15, 0) up to 0.4 mm below its top.
        const bool freeColumn = z <= 5000 - 400;
        QCOMPARE(contains(sup, 98000 + 15000, 84000), freeColumn);
        QCOMPARE(contains(sup, 98000 + 15900, 84900), freeColumn);
        QVERIFY(!contains(sup, 98000 + 16100, 84000));
        // The column beside the cube keeps 0.7 mm from it: only x in (10.7, 11.5) remains.
        const bool sideColumn = z <= 8000 - 400;
        QCOMPARE(contains(sup, 98000 + 11200, 84000), sideColumn);
        QVERIFY(!contains(sup, 98000 + 10500, 84000));
        const double area = mm2(netArea(sup));
        const double expected = (freeColumn ? 4.0 : 0.0) + (sideColumn ? 0.8 * 2.0 : 0.0);
        QVERIFY2(std::fabs(area - expected) < 0.01, qPrintable(QString::number(area)));
    }
}

void TestSlicer::settings_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("layerUm");
    QTest::addColumn<int>("startLines");

    const QByteArray blocks = "startCode = \"\"\"\n;Start GCode\nM104 S{temperature}   ;temperature set\n"
                              "\"\"\"\nendCode = \"\"\"\n;End GCode\nM25\n\"\"\"\n";
    QTest::newRow("blanks, LF") << QByteArray("layerThickness = 210\n") + blocks << true << qint64(210) << 2;
    QByteArray crlf = QByteArray("layerThickness=70\n") + blocks;
    crlf.replace("\n", "\r\n");
    QTest::newRow("no blanks, CR LF") << crlf << true << qint64(70) << 2;
    QTest::newRow("double value") << QByteArray("layerThickness = 139.6\ninsetraftAirGapLayer0  = 149.99999940395355\n")
                                   << true << qint64(140) << 8;
    QTest::newRow("trailing blank key") << QByteArray("layerThickness  = 100\n") << true << qint64(100) << 8;
    QTest::newRow("absent") << QByteArray("platformx=145000\n") << true << qint64(140) << 8;
    QTest::newRow("not a number") << QByteArray("layerThickness = thin\n") << false << qint64(0) << 0;
    QTest::newRow("zero layer") << QByteArray("layerThickness = 0\n") << false << qint64(0) << 0;
    QTest::newRow("open block") << QByteArray("startCode = \"\"\"\n;Start GCode\n") << false << qint64(0) << 0;
    QTest::newRow("bad support points") << QByteArray("manualSupportEnable = 1\nmanualSupportPoints = \"\"\"\n1 2 x\n\"\"\"\n")
                                        << false << qint64(0) << 0;
}

void TestSlicer::settings()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, ok);
    QFETCH(qint64, layerUm);
    QFETCH(int, startLines);

    brev::EngineSettings s;
    std::string error;
    const bool loaded = s.loadIniText(ini.toStdString(), error) && s.resolve(error);
    QCOMPARE(loaded, ok);
    if (!ok) {
        QVERIFY(!error.empty());
        return;
    }
    QCOMPARE(qint64(s.layerThicknessUm), layerUm);
    QCOMPARE(int(s.startCode.size()), startLines);
    if (startLines == 2)
        QCOMPARE(QString::fromStdString(s.startCode[1]), QString("M104 S{temperature}   ;temperature set"));
    QCOMPARE(QString::fromStdString(s.endCode.back()), QString("M25"));
}

QTEST_GUILESS_MAIN(TestSlicer)
#include "tst_slicer.moc"
