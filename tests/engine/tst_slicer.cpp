#include "testutil_mesh.h"

#include "EngineSettings.h"
#include "LayerPlanner.h"
#include "LayerSlicer.h"
#include "Plate.h"
#include "StlMesh.h"

#include <QtTest>
#include <climits>
#include <cmath>
#include <map>
#include <set>

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

// The whole engine in this process: every layer's G-code, raft layers first.
struct Sliced {
    QStringList lines;
    std::vector<Paths> support; // per model layer
};

Sliced sliceAll(const QByteArray& ini, const QVector<testmesh::Tri>& tris)
{
    brev::EngineSettings s;
    std::string error;
    if (!s.loadIniText(ini.toStdString(), error) || !s.resolve(error))
        qFatal("ini: %s", error.c_str());
    brev::StlMesh mesh = meshOf(tris);
    const auto heights = brev::LayerHeights::forMesh(mesh.maxZUm, s.initialLayerThicknessUm, s.layerThicknessUm);
    const auto outlines = brev::sliceMesh(mesh, heights, nullptr);
    brev::LayerPlanner planner(s, heights, outlines);
    const size_t n = planner.layerCount();
    for (size_t i = 0; i < n; ++i)
        planner.makeInsets(i);
    for (size_t i = 0; i < n; ++i)
        planner.makeSkin(i);
    for (size_t i = 0; i < n; ++i)
        planner.makeSupport(i);
    planner.spreadSupport();
    for (size_t i = 0; i < n; ++i) {
        planner.shapeSupport(i);
        planner.dropSmallAreas(i);
    }
    planner.planRaft();
    Sliced out;
    std::string text;
    for (size_t k = 0; k < planner.raftLayerCount(); ++k)
        text += planner.writeRaftLayer(k).text;
    for (size_t i = 0; i < n; ++i) {
        text += planner.writeLayer(i).text;
        Paths support = planner.regions(i).support;
        support.insert(support.end(), planner.regions(i).rods.begin(), planner.regions(i).rods.end());
        out.support.push_back(support);
    }
    out.lines = QString::fromStdString(text).split('\n', Qt::SkipEmptyParts);
    return out;
}

// One extruding move: from where, to where, at which height, speed and layer.
struct Extrusion {
    double x0, y0, x1, y1, z;
    int f;
    int layer;
};

double word(const QString& line, char key, double fallback)
{
    const int at = line.indexOf(QString(QLatin1Char(' ')) + QLatin1Char(key));
    if (at < 0)
        return fallback;
    return line.mid(at + 2).section(' ', 0, 0).toDouble();
}

std::vector<Extrusion> extrusions(const QStringList& lines)
{
    std::vector<Extrusion> out;
    double x = 0, y = 0, z = 0, e = 0;
    int f = 0, layer = -1;
    for (const QString& l : lines) {
        if (l.startsWith(";LAYER:")) {
            layer = l.mid(7).toInt();
            continue;
        }
        if (l == "G92 E0") {
            e = 0;
            continue;
        }
        f = int(word(l, 'F', f));
        z = word(l, 'Z', z);
        const double nx = word(l, 'X', x), ny = word(l, 'Y', y), ne = word(l, 'E', e);
        if (l.startsWith("G1") && ne > e && (nx != x || ny != y))
            out.push_back({x, y, nx, ny, z, f, layer});
        x = nx, y = ny, e = ne;
    }
    return out;
}

// A deck on two pillars, 14 mm free between them, made of overlapping boxes.
QVector<testmesh::Tri> bridge()
{
    QVector<testmesh::Tri> t = testmesh::box(-12, -3, 0, -7, 3, 10.5);
    t += testmesh::box(7, -3, 0, 12, 3, 10.5);
    t += testmesh::box(-12, -3, 10, 12, 3, 12);
    return t;
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
    void bridgeSupports_data();
    void bridgeSupports();
    void engineSupports_data();
    void engineSupports();
    void plate_data();
    void plate();
    void thinWalls_data();
    void thinWalls();
    void raft();
    void zHop();
    void infillPatterns_data();
    void infillPatterns();
};

void TestSlicer::loops_data()
{
    QTest::addColumn<int>("shape"); // 0 cube, 1 cube with a hole, 2 cube with flipped faces,
                                    // 3 two overlapping boxes, 4 a cube inside a cube
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
    // Overlapping models and a shell inside another are one solid.
    QTest::newRow("overlapping cubes") << 3 << 10.0 << 1 << 0 << 400.0;
    QTest::newRow("cube in a cube") << 4 << 10.0 << 1 << 0 << 400.0;
}

void TestSlicer::loops()
{
    QFETCH(int, shape);
    QFETCH(double, zMm);
    QFETCH(int, outers);
    QFETCH(int, holes);
    QFETCH(double, areaMm2);

    QVector<testmesh::Tri> tris = shape == 1 ? testmesh::frame(20, 8, 14)
                                             : testmesh::box(-10, -10, 0, 10, shape == 3 ? 5 : 10, 20);
    if (shape == 2)
        tris = testmesh::flipped(tris);
    if (shape == 3)
        tris += testmesh::box(-10, -5, 0, 10, 10, 20);
    if (shape == 4)
        tris += testmesh::box(-3, -3, 0, 3, 3, 20);
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
    if (shape == 3) {
        // One facet wound the wrong way starts the walk: the loop still runs as most of its
        // segments do, so it keeps its area against an overlapping loop.
        std::vector<ClipperLib::IntPoint> ends = {{10, 0}, {0, 0}, {10, 0}, {10, 10}, {10, 10}, {0, 10}, {0, 10}, {0, 0}};
        const Paths loops = brev::loopsFromSegments(ends);
        QCOMPARE(int(loops.size()), 1);
        QVERIFY(ClipperLib::Orientation(loops[0]));
    }
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

void TestSlicer::bridgeSupports_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<int>("type");
    QTest::newRow("none") << -1.0 << 1;
    QTest::newRow("columns at 45") << 45.0 << 1;
    QTest::newRow("trees at 45") << 45.0 << 2;
}

void TestSlicer::bridgeSupports()
{
    QFETCH(double, angle);
    QFETCH(int, type);
    const QByteArray ini = "layerThickness = 200\ninsetCount = 2\nsupportSpeed = 33\ninitialLayerSpeed = 40\n"
                           "supportXYDistance = 700\nsupportZDistanceTop = 400\nsupportReferLayerThickness = 400\n"
                           "supportTreeRadiusMax = 1500\nsupportLineDistance = 2000\n"
                           "supportAngle = " + QByteArray::number(angle) + "\nsupportType = " + QByteArray::number(type) +
                           "\nmanualSupportEnable = 1\nmanualSupportPoints = \"\"\"\n20000 0 6000\n\"\"\"\n";
    const Sliced sliced = sliceAll(ini, bridge());
    const int supportF = 33 * 60;
    bool underDeck = false, onPlate = false, column = false;
    for (const Extrusion& m : extrusions(sliced.lines)) {
        if (m.f != supportF)
            continue;
        const bool inGap = std::fabs(m.x1) < 7 && std::fabs(m.y1) < 3;
        // Two layers of air under the deck; never into the pillars' clearance.
        QVERIFY2(!inGap || m.z <= 9.6 + 1e-6, qPrintable(QString::number(m.z)));
        QVERIFY(std::fabs(m.x1) <= 6.3 + 0.01 || std::fabs(m.x1) >= 12.7 - 0.01 || std::fabs(m.y1) > 3.7);
        underDeck = underDeck || inGap;
        onPlate = onPlate || (inGap && m.z < 0.25);
        column = column || (std::fabs(m.x1 - 20) <= 1 && m.z > 5.3 && m.z <= 5.6 + 1e-6);
    }
    QCOMPARE(underDeck, angle >= 0);
    QCOMPARE(onPlate, angle >= 0);
    QVERIFY(column); // the manual column keeps working beside the engine's support
    if (type != 2)
        return;
    // Branches: apart or merged, never wider than the largest radius, fewer where they stand
    // than where they start.
    int most = 0, feet = 0;
    for (size_t i = 0; i < sliced.support.size(); ++i) {
        int islands = 0;
        for (const auto& p : sliced.support[i]) {
            ClipperLib::Clipper c;
            c.AddPath(p, ClipperLib::ptSubject, true);
            const ClipperLib::IntRect b = c.GetBounds();
            QVERIFY2(b.right - b.left <= 3020 && b.bottom - b.top <= 3020, qPrintable(QString("layer %1").arg(i)));
            ++islands;
        }
        ClipperLib::Clipper all;
        all.AddPaths(sliced.support[i], ClipperLib::ptSubject, true);
        Paths merged;
        all.Execute(ClipperLib::ctUnion, merged, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        QVERIFY2(std::fabs(netArea(merged) - netArea(sliced.support[i])) < 1e4, qPrintable(QString("layer %1").arg(i)));
        feet = i == 0 ? islands : feet;
        most = std::max(most, islands);
    }
    QVERIFY2(feet > 1 && feet < most, qPrintable(QString("%1 feet, %2 tips").arg(feet).arg(most)));
}

void TestSlicer::engineSupports_data()
{
    QTest::addColumn<double>("slope"); // of the underside from the vertical
    QTest::addColumn<double>("angle");
    QTest::addColumn<int>("type");
    for (int type : {1, 2})
        for (double slope : {30.0, 50.0, 75.0, 89.0})
            for (double angle : {0.0, 45.0, 60.0})
                QTest::addRow("%s, slope %g, angle %g", type == 1 ? "rods" : "trees", slope, angle)
                    << slope << angle << type;
}

void TestSlicer::engineSupports()
{
    QFETCH(double, slope);
    QFETCH(double, angle);
    QFETCH(int, type);
    // A column 4 mm wide whose side leans out from z = 3 mm over 10 mm, then stands straight.
    const double foot = 4, reach = 10, z0 = 3, tanSlope = std::tan(slope * M_PI / 180);
    const double z1 = z0 + reach / tanSlope;
    QVector<testmesh::Tri> wedge = testmesh::box(0, -5, 0, foot, 5, z1 + 2);
    wedge += testmesh::prismXZ({{float(foot - 0.5), float(z0 - 0.5 / tanSlope)}, {float(foot + reach), float(z1)},
                                {float(foot + reach), float(z1 + 2)}, {float(foot - 0.5), float(z1 + 2)}},
                               -5, 5);
    const QByteArray ini = "layerThickness = 200\ninsetCount = 2\nsupportSpeed = 33\nsupportXYDistance = 700\n"
                           "supportZDistanceTop = 400\nsupportReferLayerThickness = 400\nsupportTreeRadiusMax = 1500\n"
                           "supportLineDistance = 2000\nsupportAngle = " + QByteArray::number(angle) +
                           "\nsupportType = " + QByteArray::number(type) + "\n";
    const Sliced sliced = sliceAll(ini, wedge);
    auto edge = [&](double z) { return z <= z0 ? foot : std::min(foot + reach, foot + (z - z0) * tanSlope); };
    auto slopeZ = [&](double x) { return z0 + (x - foot) / tanSlope; };

    const std::vector<Extrusion> all = extrusions(sliced.lines);
    std::set<std::pair<int, int>> reached; // 2 mm × 10/3 mm cells under the slope
    double length = 0;
    bool any = false, connected = false;
    const Extrusion* last = nullptr;
    for (const Extrusion& m : all) {
        if (m.f != 33 * 60)
            continue;
        any = true;
        connected = connected || (last && last->x1 == m.x0 && last->y1 == m.y0 && last->z == m.z);
        last = &m;
        const double len = std::hypot(m.x1 - m.x0, m.y1 - m.y0);
        for (double f = 0; f <= 1; f += 0.5 / std::max(len, 0.5)) {
            const double x = m.x0 + (m.x1 - m.x0) * f, y = m.y0 + (m.y1 - m.y0) * f;
            // Never into the clearance: 0.7 mm from the model's edge at the layer's plane, plus half a line.
            if (std::fabs(y) < 5)
                QVERIFY2(x >= edge(m.z - 0.1) + 0.9 - 0.03,
                         qPrintable(QString("x %1 at z %2, edge %3").arg(x).arg(m.z).arg(edge(m.z - 0.1))));
            if (x > foot + 1 && x < foot + reach - 1 && std::fabs(y) < 5 && m.z < slopeZ(x))
                reached.insert({int((x - foot - 1) / 2), int((y + 5) / (10.0 / 3))});
        }
        if (m.x1 > foot && m.x1 < foot + reach && std::fabs(m.y1) < 5)
            length += len;
    }
    // Support under the slope exactly when it leans out more than the angle allows, and then
    // under every part of it.
    QCOMPARE(any, slope > angle);
    if (!any)
        return;
    QCOMPARE(int(reached.size()), 12);
    if (type != 1)
        return;
    // Rods are lines 2 mm apart, never loops: about a fifth of the area under the slope, less
    // the XY distance, in every layer.
    QVERIFY(!connected);
    double asked = 0;
    for (double z = 0.2; z < z1; z += 0.2)
        asked += std::max(0.0, foot + reach - edge(z - 0.1) - 0.7) * 10 / 2.0;
    QVERIFY2(length > asked / 2 && length < asked * 2, qPrintable(QString("%1 mm for %2 mm").arg(length).arg(asked)));
}

void TestSlicer::plate_data()
{
    QTest::addColumn<QByteArray>("plate");
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("edgeX"); // where the plate ends at y = 0
    // Centred on the origin: 100 × 80 mm, and a round plate of 100 mm.
    QTest::newRow("rectangle, trees") << QByteArray("platformx=100000\nplatformy=80000\n") << 2 << 50.0;
    QTest::newRow("rectangle, rods") << QByteArray("platformx=100000\nplatformy=80000\n") << 1 << 50.0;
    QTest::newRow("circle, trees") << QByteArray("platformx=100000\nplatformy=0\n") << 2 << 50.0;
    QTest::newRow("circle, rods") << QByteArray("platformx=100000\nplatformy=0\n") << 1 << 50.0;
}

void TestSlicer::plate()
{
    QFETCH(QByteArray, plate);
    QFETCH(int, type);
    QFETCH(double, edgeX);
    // A deck on a pillar, flush with the plate's edge: its raft and support would reach past it.
    const float e = float(edgeX) - 0.3f; // inside the circle at the deck's corners too
    QVector<testmesh::Tri> deck = testmesh::box(e - 16, -2, 0, e - 12, 2, 20);
    deck += testmesh::box(e - 16, -2, 19.5, e, 2, 21);
    const QByteArray ini = plate + "layerThickness = 200\nsupportAngle = 45\nsupportType = " + QByteArray::number(type) +
                           "\nsupportTreeRadiusMax = 3000\nraftBaseThickness = 200\nraftInterfaceThickness = 175\n"
                           "raftSurfaceThickness = 140\nraftMargin = 3000\nsupportSpeed = 33\n"
                           // and a manual column of 2 mm under the deck's outer end
                           "manualSupportEnable = 1\nmanualSupportPoints = \"\"\"\n" +
                           QByteArray::number(qlonglong(std::lround((e - 0.2) * 1000))) + " 0 19000\n\"\"\"\n";
    const bool round = plate.contains("platformy=0");
    brev::EngineSettings s;
    std::string error;
    QVERIFY(s.loadIniText(ini.toStdString(), error) && s.resolve(error));
    QVERIFY(brev::Plate(s).holds(meshOf(deck))); // flush is on the plate

    const Sliced sliced = sliceAll(ini, deck);
    double raftReach = 0;
    bool support = false;
    for (const Extrusion& m : extrusions(sliced.lines)) {
        for (const auto& p : {std::make_pair(m.x0, m.y0), std::make_pair(m.x1, m.y1)}) {
            const double past = round ? std::hypot(p.first, p.second) - edgeX
                                      : std::max(std::fabs(p.first) - edgeX, std::fabs(p.second) - 40);
            QVERIFY2(past <= 0.001, qPrintable(QString("%1 %2 layer %3").arg(p.first).arg(p.second).arg(m.layer)));
        }
        if (m.layer <= 2)
            raftReach = std::max(raftReach, m.x1);
        support = support || (m.f == 33 * 60 && m.x1 > e - 11);
    }
    // Cut at the edge, not shrunk or left out.
    QVERIFY2(raftReach > edgeX - 1, qPrintable(QString::number(raftReach)));
    QVERIFY(support);
}

void TestSlicer::thinWalls_data()
{
    QTest::addColumn<double>("wallMm");
    QTest::addColumn<QByteArray>("minWidth");
    QTest::addColumn<bool>("printed");
    QTest::newRow("0.3 over 0.2") << 0.3 << QByteArray("200") << true;
    QTest::newRow("0.15 under 0.2") << 0.15 << QByteArray("200") << false;
    QTest::newRow("0.15 over 0.1") << 0.15 << QByteArray("100") << true;
    QTest::newRow("0.3, no minimum: a line") << 0.3 << QByteArray() << false;
    QTest::newRow("0.5 under 0.6") << 0.5 << QByteArray("600") << false;
    QTest::newRow("0.5 over 0.4") << 0.5 << QByteArray("400") << true;
}

void TestSlicer::thinWalls()
{
    QFETCH(double, wallMm);
    QFETCH(QByteArray, minWidth);
    QFETCH(bool, printed);
    QByteArray ini = "layerThickness = 200\ninsetCount = 2\nextrusionWidth = 400\n";
    if (!minWidth.isEmpty())
        ini += "insetminiwidth = " + minWidth + "\n";
    const float h = float(wallMm / 2);
    const Sliced sliced = sliceAll(ini, testmesh::box(-h, -10, 0, h, 10, 2));
    double length = 0;
    for (const Extrusion& m : extrusions(sliced.lines)) {
        if (m.layer != 5)
            continue;
        QVERIFY(std::fabs(m.x0) <= h && std::fabs(m.x1) <= h);
        length += std::hypot(m.x1 - m.x0, m.y1 - m.y0);
    }
    // Printed: a loop along the wall's middle, twice its length.
    QVERIFY2(printed ? length > 2 * 19 && length < 2 * 20.5 : length == 0, qPrintable(QString::number(length)));
}

void TestSlicer::raft()
{
    // The gaps as the host writes them: doubles a hair under whole micrometres.
    const QByteArray ini = "layerThickness = 140\ninitialLayerThickness = 200\nraftBaseThickness = 200\n"
                           "raftInterfaceThickness = 175\nraftSurfaceThickness = 140\nraftBaseSpeed = 11\n"
                           "raftAirGap = 59.99999940395355\nraftAirGapLayer0 = 109.99999940395355\n"
                           "insetraftAirGapLayer0  = 149.99999940395355\ninset0Speed = 21\ninitialLayerSpeed = 22\n";
    const Sliced sliced = sliceAll(ini, testmesh::box(-5, -5, 0, 5, 5, 3));
    std::map<int, std::set<qint64>> heights; // layer -> extrusion heights in micrometres
    double raftReach = 0;
    for (const Extrusion& m : extrusions(sliced.lines)) {
        heights[m.layer].insert(std::llround(m.z * 1000));
        if (m.layer == 0) {
            QCOMPARE(m.f, 11 * 60);
            raftReach = std::max(raftReach, std::fabs(m.x1));
        }
        if (m.layer == 3 && m.f == 21 * 60)
            QCOMPARE(std::llround(m.z * 1000), 515LL + 150 + 200); // the outer wall
    }
    QCOMPARE(heights[0], std::set<qint64>{200});
    QCOMPARE(heights[1], std::set<qint64>{375});
    QCOMPARE(heights[2], std::set<qint64>{515});
    // The model's first layer over the raft top and its gap, the walls a little higher.
    QCOMPARE(heights[3], (std::set<qint64>{515 + 110 + 200, 515 + 150 + 200}));
    QCOMPARE(heights[4], std::set<qint64>{515 + 60 + 340});
    // Under the whole footprint with a margin.
    QVERIFY2(raftReach > 7.5 && raftReach < 8.1, qPrintable(QString::number(raftReach)));
    int layers = 0;
    for (const QString& l : sliced.lines)
        layers += l.startsWith(";LAYER:") ? 1 : 0;
    QCOMPARE(layers, 3 + 21);
}

void TestSlicer::zHop()
{
    QVector<testmesh::Tri> two = testmesh::box(-15, -5, 0, -5, 5, 2);
    two += testmesh::box(5, -5, 0, 15, 5, 2);
    const Sliced sliced = sliceAll("layerThickness = 200\nretractionZHop = 2000\n", two);
    // Every retraction lifts the nozzle by the hop at once.
    int hops = 0;
    double z = 0, e = 0;
    for (int i = 0; i + 1 < sliced.lines.size(); ++i) {
        const QString& l = sliced.lines[i];
        const double ne = word(l, 'E', e);
        z = word(l, 'Z', z);
        if (l.startsWith("G1") && ne < e && !l.contains(" X")) {
            QCOMPARE(word(sliced.lines[i + 1], 'Z', -1), z + 2.0);
            ++hops;
        }
        e = ne;
    }
    QVERIFY2(hops > 20, qPrintable(QString::number(hops)));
    // And lowers it again before extruding: each layer extrudes at one height.
    std::map<int, std::set<double>> heights;
    for (const Extrusion& m : extrusions(sliced.lines))
        heights[m.layer].insert(m.z);
    for (const auto& h : heights)
        QCOMPARE(int(h.second.size()), 1);
}

void TestSlicer::infillPatterns_data()
{
    QTest::addColumn<int>("pattern");
    QTest::addColumn<QList<int>>("even"); // directions of the infill on an even and an odd layer
    QTest::addColumn<QList<int>>("odd");
    QTest::newRow("lines") << 0 << QList<int>{45} << QList<int>{135};
    QTest::newRow("grid") << 1 << QList<int>{45, 135} << QList<int>{45, 135};
    QTest::newRow("cellular") << 4 << QList<int>{0, 60, 120} << QList<int>{0, 60, 120};
}

void TestSlicer::infillPatterns()
{
    QFETCH(int, pattern);
    QFETCH(QList<int>, even);
    QFETCH(QList<int>, odd);
    const QByteArray ini = "layerThickness = 200\ninsetCount = 1\nupSkinCount = 2\ninfillSpeed = 61\nskinSpeed = 45\n"
                           "sparseInfillLineDistance = 2000\ninfillPattern = " + QByteArray::number(pattern) + "\n";
    const Sliced sliced = sliceAll(ini, testmesh::box(-10, -10, 0, 10, 10, 10));
    std::map<int, std::set<int>> directions;
    std::map<int, double> length;
    for (const Extrusion& m : extrusions(sliced.lines)) {
        if (m.f != 61 * 60 || (m.layer != 24 && m.layer != 25))
            continue;
        const double deg = std::atan2(m.y1 - m.y0, m.x1 - m.x0) * 180 / M_PI;
        directions[m.layer].insert(int(std::lround(deg + 360)) % 180);
        length[m.layer] += std::hypot(m.x1 - m.x0, m.y1 - m.y0);
    }
    QCOMPARE(QList<int>(directions[24].begin(), directions[24].end()), even);
    QCOMPARE(QList<int>(directions[25].begin(), directions[25].end()), odd);
    // Every pattern lays about the same plastic: a 19.3 mm square at one line per 2 mm.
    QVERIFY2(length[24] > 19.3 * 19.3 / 2 * 0.85 && length[24] < 19.3 * 19.3 / 2 * 1.15,
                 qPrintable(QString::number(length[24])));
}

QTEST_GUILESS_MAIN(TestSlicer)
#include "tst_slicer.moc"
