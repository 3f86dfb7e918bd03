#include <QScopeGuard>
#include <QtTest>

#include <deque>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "FileRW/PolygonTriangulator.h"
#include "cutting/CutEngine.h"
#include "cutting/JoinChain.h"
#include "cutting/NearestEnds.h"
#include "cutting/testutil_meshes.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

Q_DECLARE_METATYPE(MeshData)
using PlaneEdges = std::vector<std::array<int32_t, 3>>;
Q_DECLARE_METATYPE(PlaneEdges)

namespace {

MeshModel* makeModel(const MeshData& mesh, const char* name)
{
    MeshModel* m = new MeshModel();
    m->setMeshSlot(MeshList::instance()->add(new MeshData(mesh)));
    m->setName(name);
    return m;
}

MeshData ringWithIsland()
{
    std::vector<std::array<int, 3>> cells;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            if (i == 0 || i == 4 || j == 0 || j == 4 || (i == 2 && j == 2))
                cells.push_back({i, j, 0});
    return testmesh::voxels(cells, 10.0);
}

// Two closed boxes in one mesh, the second shifted into the first: separately modelled parts.
MeshData overlappingBoxes(double dx, double dy)
{
    MeshData m = testmesh::box(2, 2, 2, 10.0);
    const MeshData other = testmesh::box(2, 3, 1, 10.0);
    const int32_t base = int32_t(m.vertices.size());
    for (const auto& v : other.vertices)
        m.vertices.push_back({v[0] + dx, v[1] + dy, v[2]});
    for (const auto& f : other.faces)
        m.faces.push_back({f[0] + base, f[1] + base, f[2] + base});
    return m;
}

// The faces lying in coordinate[axis] == value get points of their own, moved by gap along
// the axis; with drop they are left out.
MeshData faceApart(const MeshData& mesh, int axis, double value, double gap, bool drop = false)
{
    MeshData m;
    m.vertices = mesh.vertices;
    for (const auto& f : mesh.faces) {
        bool in = true;
        for (int32_t i : f)
            in = in && mesh.vertices[size_t(i)][size_t(axis)] == value;
        if (!in) {
            m.faces.push_back(f);
        } else if (!drop) {
            std::array<int32_t, 3> g;
            for (size_t k = 0; k < 3; ++k) {
                auto p = mesh.vertices[size_t(f[k])];
                p[size_t(axis)] += gap;
                g[k] = int32_t(m.vertices.size());
                m.vertices.push_back(p);
            }
            m.faces.push_back(g);
        }
    }
    return testmesh::joined({m}, true);
}

// A sphere stored as loose triangles whose equal corners are welded, except that every
// seventh corner was moved by up to 2 um and so stays apart.
MeshData jitteredSphere(double r)
{
    const MeshData s = testmesh::sphere(r, 16, 32);
    MeshData soup;
    for (size_t f = 0; f < s.faces.size(); ++f) {
        std::array<int32_t, 3> g;
        for (size_t k = 0; k < 3; ++k) {
            auto p = s.vertices[size_t(s.faces[f][k])];
            const size_t n = 3 * f + k;
            if (n % 7 == 0)
                for (size_t c = 0; c < 3; ++c)
                    p[c] += 0.001 * double(int((n / 7 + c) % 5) - 2);
            g[k] = int32_t(soup.vertices.size());
            soup.vertices.push_back(p);
        }
        soup.faces.push_back(g);
    }
    return testmesh::joined({soup}, true);
}

// The joining as a plain scan over all pairs: the joins, their order and the ties the grid
// search has to reproduce.
void joinByFullScan(ClipperLib::Paths& open, ClipperLib::Paths& closed)
{
    const auto d2 = endDist2;
    auto closable = [](const ClipperLib::Path& c) {
        int64_t a = 0;
        for (size_t i = 0; i < c.size(); ++i)
            a += c[i].X * c[(i + 1) % c.size()].Y - c[(i + 1) % c.size()].X * c[i].Y;
        return c.size() >= 3 && a != 0 && std::abs(a) >= outlinePerimeter(c);
    };
    auto append = [&](ClipperLib::Path& to, ClipperLib::Path from) {
        if (d2(to.back(), from.front()) == 0.0)
            from.erase(from.begin());
        to.insert(to.end(), from.begin(), from.end());
    };
    auto close = [&](ClipperLib::Path& c) {
        if (c.size() > 1 && c.back() == c.front())
            c.pop_back();
        closed.push_back(c);
        c.clear();
    };
    for (size_t i = 0; i < open.size(); ++i)
        for (size_t j = 0; j < open.size() && !open[i].empty(); ++j) {
            if (open[j].empty() || d2(open[i].back(), open[j].front()) >= 400.0 || (i == j && !closable(open[i])))
                continue;
            if (i == j) {
                close(open[i]);
                break;
            }
            append(open[i], open[j]);
            open[j].clear();
        }
    while (true) {
        double best = 1e8;
        size_t bi = SIZE_MAX, bj = 0;
        bool lasts = false;
        for (size_t i = 0; i < open.size(); ++i)
            for (size_t j = 0; j < open.size() && !open[i].empty(); ++j) {
                if (open[j].empty())
                    continue;
                if (d2(open[i].back(), open[j].front()) < best && (i != j || closable(open[i]))) {
                    best = d2(open[i].back(), open[j].front());
                    bi = i, bj = j, lasts = false;
                }
                if (i != j && d2(open[i].back(), open[j].back()) < best) {
                    best = d2(open[i].back(), open[j].back());
                    bi = i, bj = j, lasts = true;
                }
            }
        if (bi == SIZE_MAX)
            break;
        if (bi == bj) {
            close(open[bi]);
            continue;
        }
        if (lasts && outlinePerimeter(open[bi]) < outlinePerimeter(open[bj]))
            std::swap(bi, bj);
        append(open[bi], lasts ? ClipperLib::Path(open[bj].rbegin(), open[bj].rend()) : open[bj]);
        open[bj].clear();
    }
    open.erase(std::remove_if(open.begin(), open.end(), [](const ClipperLib::Path& c) { return c.empty(); }), open.end());
}


using Grid = PolygonTriangulator::GridPoint;
using Rings = std::vector<std::vector<int32_t>>;

// What the rings enclose by the even-odd rule, measured plainly: in each strip between two
// corners' x (or the x of two edges crossing), the lengths between alternate crossings of a
// vertical line through its middle.
double evenOddArea(const std::vector<Grid>& pts, const Rings& rings)
{
    std::vector<std::pair<Grid, Grid>> edges;
    std::vector<double> xs;
    for (const auto& r : rings)
        for (size_t i = 0; i < r.size(); ++i) {
            const Grid a = pts[size_t(r[i])], b = pts[size_t(r[(i + 1) % r.size()])];
            xs.push_back(double(a[0]));
            if (a[0] != b[0])
                edges.push_back({a, b});
        }
    auto orient = [](const Grid& a, const Grid& b, const Grid& c) {
        const double o = double(b[0] - a[0]) * double(c[1] - a[1]) - double(b[1] - a[1]) * double(c[0] - a[0]);
        return (o > 0) - (o < 0);
    };
    for (size_t i = 0; i < edges.size(); ++i)
        for (size_t j = i + 1; j < edges.size(); ++j) {
            const auto &[a, b] = edges[i];
            const auto &[c, d] = edges[j];
            if (orient(a, b, c) * orient(a, b, d) < 0 && orient(c, d, a) * orient(c, d, b) < 0) {
                const double oa = double(d[0] - c[0]) * double(a[1] - c[1]) - double(d[1] - c[1]) * double(a[0] - c[0]);
                const double ob = double(d[0] - c[0]) * double(b[1] - c[1]) - double(d[1] - c[1]) * double(b[0] - c[0]);
                xs.push_back(double(a[0]) + double(b[0] - a[0]) * oa / (oa - ob));
            }
        }
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    double area = 0.0;
    for (size_t k = 0; k + 1 < xs.size(); ++k) {
        const double x = 0.5 * (xs[k] + xs[k + 1]);
        std::vector<double> ys;
        for (const auto& e : edges)
            if ((double(e.first[0]) < x) != (double(e.second[0]) < x))
                ys.push_back(double(e.first[1]) + double(e.second[1] - e.first[1]) * (x - double(e.first[0])) / double(e.second[0] - e.first[0]));
        std::sort(ys.begin(), ys.end());
        for (size_t i = 0; i + 1 < ys.size(); i += 2)
            area += (ys[i + 1] - ys[i]) * (xs[k + 1] - xs[k]);
    }
    return area;
}

// Whether an edge of ring a and an edge of ring b (two of one ring when a is b) cross inside
// both: the rings a fill names when it stops at a crossing.
bool ringsCross(const std::vector<Grid>& pts, const Rings& rings, int32_t a, int32_t b)
{
    if (a < 0 || b < 0 || size_t(a) >= rings.size() || size_t(b) >= rings.size())
        return false;
    auto turn = [&](const Grid& p, const Grid& q, const Grid& r) {
        const double o = double(q[0] - p[0]) * double(r[1] - p[1]) - double(q[1] - p[1]) * double(r[0] - p[0]);
        return (o > 0) - (o < 0);
    };
    const auto &ra = rings[size_t(a)], &rb = rings[size_t(b)];
    for (size_t i = 0; i < ra.size(); ++i)
        for (size_t j = 0; j < rb.size(); ++j) {
            const Grid &p = pts[size_t(ra[i])], &q = pts[size_t(ra[(i + 1) % ra.size()])];
            const Grid &u = pts[size_t(rb[j])], &v = pts[size_t(rb[(j + 1) % rb.size()])];
            if (turn(p, q, u) * turn(p, q, v) < 0 && turn(u, v, p) * turn(u, v, q) < 0)
                return true;
        }
    return false;
}

// Empty when the triangles fill the rings exactly: counter-clockwise, of the even-odd area,
// no edge used twice one way (an overlap), and an outline made of the rings' edges alone, each
// split at the ring points on it, an edge given twice counting as none.
QString fillFault(const std::vector<Grid>& pts, const Rings& rings, const std::vector<PolygonTriangulator::Triangle>& tris)
{
    double area = 0.0;
    std::map<std::pair<Grid, Grid>, int> used;
    for (const auto& t : tris) {
        const Grid &a = pts[size_t(t[0])], &b = pts[size_t(t[1])], &c = pts[size_t(t[2])];
        const double o = double(b[0] - a[0]) * double(c[1] - a[1]) - double(b[1] - a[1]) * double(c[0] - a[0]);
        if (o <= 0)
            return "a triangle turned or of no area";
        area += o / 2;
        for (int k = 0; k < 3; ++k)
            if (++used[{pts[size_t(t[size_t(k)])], pts[size_t(t[size_t((k + 1) % 3)])]}] > 1)
                return "triangles overlap";
    }
    const double want = evenOddArea(pts, rings);
    if (std::fabs(area - want) > 1e-6 * std::max(1.0, want))
        return QString("area %1 instead of %2").arg(area).arg(want);
    std::set<Grid> corners;
    for (const auto& r : rings)
        for (int32_t i : r)
            corners.insert(pts[size_t(i)]);
    std::map<std::pair<Grid, Grid>, int> outline;
    for (const auto& r : rings)
        for (size_t i = 0; i < r.size(); ++i) {
            Grid a = pts[size_t(r[i])], b = pts[size_t(r[(i + 1) % r.size()])];
            if (a == b)
                continue;
            if (b < a)
                std::swap(a, b);
            std::vector<Grid> on{a, b};
            for (const Grid& q : corners)
                if (a < q && q < b && double(b[0] - a[0]) * double(q[1] - a[1]) == double(b[1] - a[1]) * double(q[0] - a[0]))
                    on.push_back(q);
            std::sort(on.begin(), on.end());
            for (size_t k = 0; k + 1 < on.size(); ++k)
                outline[{on[k], on[k + 1]}] ^= 1;
        }
    for (const auto& e : used)
        if (!used.count({e.first.second, e.first.first})) {
            const auto key = e.first.first < e.first.second ? e.first : std::make_pair(e.first.second, e.first.first);
            const auto it = outline.find(key);
            if (it == outline.end() || it->second == 0)
                return "an outline edge that no ring has";
            it->second = 2;
        }
    for (const auto& e : outline)
        if (e.second == 1)
            return "a ring edge left out of the outline";
    return {};
}

} // namespace

class TestCutModel : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_jobState = 0; }

    void halves_data()
    {
        QTest::addColumn<MeshData>("mesh");
        QTest::addColumn<QVector<double>>("transform"); // scale x, y, z, rotation x, y, z
        QTest::addColumn<int>("axis");
        QTest::addColumn<double>("plane");
        QTest::addColumn<double>("upVolume");   // < 0: only the sum is checked
        QTest::addColumn<double>("downVolume");
        QTest::addColumn<double>("upCap");      // < 0: caps only compared with each other
        QTest::addColumn<double>("downCap");
        QTest::addColumn<QVector<double>>("openIn"); // boxes holding every open edge; empty: closed

        const QVector<double> plain{1, 1, 1, 0, 0, 0};
        const QVector<double> closed;
        const MeshData cube = testmesh::box(3, 3, 3, 10.0);
        QTest::newRow("cube x") << cube << plain << 0 << 12.5 << 17.5 * 900 << 12.5 * 900 << 900.0 << 900.0 << closed;
        QTest::newRow("cube y") << cube << plain << 1 << 12.5 << 17.5 * 900 << 12.5 * 900 << 900.0 << 900.0 << closed;
        QTest::newRow("cube z") << cube << plain << 2 << 12.5 << 17.5 * 900 << 12.5 * 900 << 900.0 << 900.0 << closed;
        // Kilometre blocks, turned so that the plane crosses their edges askew: edges just
        // within and past what 64-bit products hold, and faces whose sides reach past a
        // kilometre, so that the exact crossings and the area test take their wide road too.
        auto askew = [](double size, double below) {
            MeshData m = testmesh::cuboid(0, 0, 0, size, 0.9 * size, 0.95 * size);
            for (auto& v : m.vertices) {
                const double y = v[1] * std::cos(0.3) - v[2] * std::sin(0.3), z = v[1] * std::sin(0.3) + v[2] * std::cos(0.3);
                const double x = v[0] * std::cos(0.2) + z * std::sin(0.2);
                v = {std::round(x * 1000.0) / 1000.0, std::round(y * 1000.0) / 1000.0,
                     std::round((z * std::cos(0.2) - v[0] * std::sin(0.2) - below) * 1000.0) / 1000.0};
            }
            return m;
        };
        QTest::newRow("2.1 km block, askew") << askew(2.1e6, 0.0) << plain << 2 << 7.0e5 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        QTest::newRow("6 km block, askew, far below the plane") << askew(6.0e6, 4.0e6) << plain << 2 << 1.0e6 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        const MeshData holed = testmesh::box(3, 3, 3, 10.0, true);
        QTest::newRow("hole z, cap with hole") << holed << plain << 2 << 15.0 << 12000.0 << 12000.0 << 800.0 << 800.0 << closed;
        QTest::newRow("hole x, two islands") << holed << plain << 0 << 15.0 << 12000.0 << 12000.0 << 600.0 << 600.0 << closed;
        QTest::newRow("hole y, two islands") << holed << plain << 1 << 15.0 << 12000.0 << 12000.0 << 600.0 << 600.0 << closed;
        QTest::newRow("hole x, solid part") << holed << plain << 0 << 5.0 << 19500.0 << 4500.0 << 900.0 << 900.0 << closed;
        // L: two cells on the plate, one on top of the left one; cut exactly at the step.
        const MeshData ell = testmesh::voxels({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}}, 10.0);
        QTest::newRow("step z") << ell << plain << 2 << 10.0 << 1000.0 << 2000.0 << 100.0 << 200.0 << closed;
        QTest::newRow("step x") << ell << plain << 0 << 10.0 << 1000.0 << 2000.0 << 100.0 << 200.0 << closed;
        QTest::newRow("step y mid") << ell << plain << 1 << 4.0 << 1800.0 << 1200.0 << 300.0 << 300.0 << closed;
        QTest::newRow("ring with island") << ringWithIsland() << plain << 2 << 5.0 << 8500.0 << 8500.0 << 1700.0 << 1700.0 << closed;
        const MeshData cyl = testmesh::cylinder(10.0, 20.0, 64);
        const double disc = 32.0 * 100.0 * std::sin(2.0 * M_PI / 64);
        QTest::newRow("cylinder z") << cyl << plain << 2 << 7.0 << disc * 13 << disc * 7 << disc << disc << closed;
        QTest::newRow("cylinder x") << cyl << plain << 0 << 3.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        QTest::newRow("cylinder y") << cyl << plain << 1 << -2.5 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        // 20 x 10 x 15 after scaling (footprint centre and bottom kept), turned 45 degrees about Z.
        const MeshData one = testmesh::box(1, 1, 1, 10.0);
        const QVector<double> turned{2, 1, 1.5, 0, 0, 45};
        QTest::newRow("turned scaled z") << one << turned << 2 << 6.0 << 1800.0 << 1200.0 << 200.0 << 200.0 << closed;
        QTest::newRow("turned scaled x") << one << turned << 0 << 5.0 << 1500.0 << 1500.0 << -1.0 << -1.0 << closed;
        QTest::newRow("turned scaled y") << one << turned << 1 << 7.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        // Two overlapping boxes standing on the plate; their rims meet where they cross.
        const MeshData shells = overlappingBoxes(10.0, 10.0);
        QTest::newRow("overlapping shells x") << shells << plain << 0 << 12.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        QTest::newRow("overlapping shells y") << shells << plain << 1 << 12.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        QTest::newRow("overlapping shells z") << shells << plain << 2 << 5.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        const QVector<double> tilted{1.3, 0.7, 1.1, 20, 35, 10};
        QTest::newRow("tilted z") << cube << tilted << 2 << 18.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        // A 30 mm box with a sealed 20 mm cavity, whose wall faces inward.
        const MeshData hollow = testmesh::joined({testmesh::cuboid(0, 0, 0, 30, 30, 30), testmesh::cuboid(5, 5, 5, 25, 25, 25, true)});
        for (int axis = 0; axis < 3; ++axis)
            QTest::newRow(qPrintable(QString("cavity %1").arg(axis))) << hollow << plain << axis << 12.0 << 11000.0 << 8000.0 << 500.0 << 500.0 << closed;
        // A ball floating in the cavity.
        const MeshData ballInBox = testmesh::joined({hollow, testmesh::moved(testmesh::sphere(6.0, 12, 24), 15, 15, 15)});
        for (int axis = 0; axis < 3; ++axis)
            QTest::newRow(qPrintable(QString("ball in cavity %1").arg(axis))) << ballInBox << plain << axis << 13.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        // The +X face stands off the rest by 5 um (joined within 20 um) or 50 um (nearest ends);
        // the halves keep that crack and nothing more.
        const MeshData cube30 = testmesh::cuboid(0, 0, 0, 30, 30, 30);
        for (double gap : {0.005, 0.05}) {
            const QVector<double> crack{29.999, -1, -1, 30.001 + gap, 31, 31};
            const MeshData cracked = faceApart(cube30, 0, 30.0, gap);
            for (int axis = 0; axis < 3; ++axis) {
                const double cap = axis == 0 ? 900.0 : 30.0 * (30.0 + gap);
                QTest::newRow(qPrintable(QString("crack %1 um %2").arg(gap * 1000).arg(axis)))
                    << cracked << plain << axis << 12.0 << -1.0 << -1.0 << cap << cap << crack;
            }
        }
        // An 8 mm cube without its face at y = 0: the halves are closed but for that face.
        const MeshData noFace = faceApart(testmesh::cuboid(0, 0, 0, 8, 8, 8), 1, 0.0, 0.0, true);
        const QVector<double> atY0{-1, -0.001, -1, 9, 0.001, 9};
        for (int axis = 0; axis < 3; ++axis)
            QTest::newRow(qPrintable(QString("missing face %1").arg(axis))) << noFace << plain << axis << 3.0 << 320.0 << 192.0 << 64.0 << 64.0 << atY0;
        // A sphere whose corners are stored per face, some moved by up to 2 um: hairline cracks.
        const QVector<double> anywhere{-11, -11, -11, 11, 11, 11};
        for (int axis = 0; axis < 3; ++axis)
            QTest::newRow(qPrintable(QString("jittered sphere %1").arg(axis))) << jitteredSphere(10.0) << plain << axis << 1.7 << -1.0 << -1.0 << -1.0 << -1.0 << anywhere;
        // Two pillars and a deck, each closed, sharing the corners where they meet.
        const MeshData bridge = testmesh::joined({testmesh::cuboid(0, 0, 0, 10, 10, 20), testmesh::cuboid(30, 0, 0, 40, 10, 20),
                                                  testmesh::cuboid(0, 0, 20, 40, 10, 25)}, true);
        QTest::newRow("bridge shells x") << bridge << plain << 0 << 5.0 << 4750.0 << 1250.0 << 250.0 << 250.0 << closed;
        QTest::newRow("bridge shells y") << bridge << plain << 1 << 5.0 << 3000.0 << 3000.0 << 600.0 << 600.0 << closed;
        QTest::newRow("bridge shells z") << bridge << plain << 2 << 10.0 << 4000.0 << 2000.0 << 200.0 << 200.0 << closed;
        // A half of more points than one range of the numbering takes: its ranges number their
        // points on from those before.
        QTest::newRow("sphere of 160,000 points") << testmesh::sphere(20.0, 400, 400) << plain << 2 << 3.0 << -1.0 << -1.0
                                                 << -1.0 << -1.0 << closed;
        // Long outlines, and many gaps at the plane that the joining closes (two-point chains
        // with every other quad missing); cap areas of the polygons.
        auto ngon = [](int n, double r) { return n / 2.0 * std::sin(2.0 * M_PI / n) * r * r; };
        QTest::newRow("long outline") << testmesh::tube(30, 20, 20, 3000) << plain << 2 << 10.0 << -1.0 << -1.0
                                      << ngon(3000, 30) - ngon(3000, 20) << ngon(3000, 30) - ngon(3000, 20) << closed;
        QTest::newRow("many gaps") << testmesh::tube(100, 0, 20, 1500, 3, 3) << plain << 2 << 10.0 << -1.0 << -1.0
                                   << ngon(1500, 100) << ngon(1500, 100) << QVector<double>{-101, -101, 6.66, 101, 101, 13.34};
        QTest::newRow("two-point chains") << testmesh::tube(10, 0, 10, 64, 3, 2) << plain << 2 << 5.0 << -1.0 << -1.0
                                          << ngon(64, 10) << ngon(64, 10) << QVector<double>{-11, -11, 3.33, 11, 11, 6.67};
        // No closed outline: no cap, open only on the missing face and along the rim.
        QTest::newRow("open cube across its gap") << faceApart(cube30, 1, 0.0, 0.0, true) << plain << 2 << 15.0 << -1.0 << -1.0 << 0.0 << 0.0
                                                  << QVector<double>{-1, -0.001, -1, 31, 0.001, 31, -1, -1, 14.999, 31, 31, 15.001};
        // The box's open side lies in the plane, on one half's rim only; the cube's face in the
        // plane cancels on its own half. The rims differ, so each half has its own cap.
        QTest::newRow("box open in the plane, a cube on it") << testmesh::joined({faceApart(testmesh::cuboid(0, 0, -10, 10, 10, 0), 2, 0.0, 0.0, true),
                                                                                  testmesh::cuboid(20, 0, 0, 30, 10, 10)})
                                                             << plain << 2 << 0.0 << 1000.0 << 1000.0 << 100.0 << 100.0 << closed;
        QTest::newRow("box open in the plane, a cube under it") << testmesh::joined({faceApart(testmesh::cuboid(0, 0, 0, 10, 10, 10), 2, 0.0, 0.0, true),
                                                                                     testmesh::cuboid(20, 0, -10, 30, 10, 0)})
                                                                << plain << 2 << 0.0 << 1000.0 << 1000.0 << 100.0 << 100.0 << closed;
        MeshData sheet;
        sheet.vertices = {{40, 0, 0}, {50, 0, 0}, {50, 10, 0}, {40, 10, 0}};
        sheet.faces = {{0, 2, 1}, {0, 3, 2}};
        QTest::newRow("sheet in the plane beside a cube across it") << testmesh::joined({sheet, testmesh::cuboid(0, 0, -10, 10, 10, 10)})
                                                                     << plain << 2 << 0.0 << 1000.0 << 1000.0 << 200.0 << 100.0 << closed;
        // A bore is a hole of its own tube, not of the sleeve between bore and outside.
        const MeshData sleeved = testmesh::joined({testmesh::tube(10, 5, 20, 32), testmesh::tube(8, 7, 20, 32)});
        const double rings = ngon(32, 10) - ngon(32, 5) + ngon(32, 8) - ngon(32, 7);
        QTest::newRow("tube and sleeve shells") << sleeved << plain << 2 << 10.0 << -1.0 << -1.0 << rings << rings << closed;
        // Four plates of 4 x 4 round holes: each hole bridged and given to its own plate.
        const MeshData plate = testmesh::perforatedPlate(4, 2.0, 4.0, 0.6);
        const MeshData plates = testmesh::joined({plate, testmesh::moved(plate, 10, 0, 0), testmesh::moved(plate, 0, 10, 0),
                                                  testmesh::moved(plate, 10, 10, 0)});
        const double pierced = 4 * (64 - 16 * ngon(16, 0.6));
        QTest::newRow("perforated plates") << plates << QVector<double>{1, 1, 1, 0, 0, 10} << 2 << 2.0 << -1.0 << -1.0 << pierced << pierced << closed;
        // Open V-shaped sheets whose section chains all start at one micrometre point: the
        // joining makes loops of them; open where the sheets are.
        QTest::newRow("chains meeting at one point") << testmesh::vSheets(300, 10.0, 2) << plain << 2 << 5.0 << -1.0 << -1.0 << -1.0 << -1.0
                                                     << QVector<double>{-13, -13, -1, 13, 13, 11};
        // So many that every loop crosses others: capped through the crossings all the same.
        QTest::newRow("1,000 chains meeting at one point") << testmesh::vSheets(1000, 10.0, 2) << plain << 2 << 5.0 << -1.0 << -1.0 << -1.0 << -1.0
                                                           << QVector<double>{-13, -13, -1, 13, 13, 11};
        // 200 wedges of one shell meeting on the Z axis: 200 loops through one point, each
        // capped on its own; the cap is the sum of their sections on the micrometre grid.
        {
            const MeshData blades = testmesh::bladesOnAxis(200);
            double cap = 0.0;
            for (size_t v = 2; v + 3 < blades.vertices.size(); v += 4) {
                const double px = std::round(blades.vertices[v][0] * 1000.0) * 0.001, py = std::round(blades.vertices[v][1] * 1000.0) * 0.001;
                const double qx = std::round(blades.vertices[v + 1][0] * 1000.0) * 0.001, qy = std::round(blades.vertices[v + 1][1] * 1000.0) * 0.001;
                cap += 0.5 * (px * qy - py * qx);
            }
            QTest::newRow("blades meeting on an axis") << blades << plain << 2 << 5.0 << -1.0 << -1.0 << cap << cap
                                                       << QVector<double>{-0.001, -0.001, -1, 0.001, 0.001, 11};
        }
        // A 0.4 mm wall wound in 20 turns: one long thin outline.
        QTest::newRow("spiral wall") << testmesh::spiralWall(20, 4000) << plain << 2 << 5.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        // Separate fins standing on a base: their outlines touch the base's.
        QTest::newRow("fins on a base shells") << testmesh::finsOnBase(40) << plain << 0 << 0.0 << -1.0 << -1.0
                                               << 100.0 * 2 + 40 * 1.25 * 10 << 100.0 * 2 + 40 * 1.25 * 10 << closed;
        // So many parts that their caps are filled side by side, each as it would be on its own.
        QTest::newRow("600 fins on a base shells") << testmesh::finsOnBase(600, 0.2) << plain << 0 << 0.0 << -1.0 << -1.0
                                                   << 2 * 120.0 + 600 * 0.1 * 10 << 2 * 120.0 + 600 * 0.1 * 10 << closed;
        std::vector<MeshData> turnedBoxes;
        for (int i = 0; i < 600; ++i)
            turnedBoxes.push_back(testmesh::cuboid(0, 2.0 * i, 0, 10, 2.0 * i + 1.0, 10, true));
        QTest::newRow("600 inside-out boxes") << testmesh::joined(turnedBoxes) << plain << 2 << 5.0 << -30000.0 << -30000.0 << 0.0 << 0.0
                                              << closed;
        // Noise on a sphere cut through its poles, and on a relief cut just below its highest peak.
        QTest::newRow("noisy pole") << testmesh::noisySphere(10.0, 120, 120, 0.05) << plain << 0 << 0.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        const MeshData relief = testmesh::noisyRelief(60, 30.0, 10.0, 0.2);
        double peak = 0.0;
        for (const auto& v : relief.vertices)
            peak = std::max(peak, v[2]);
        QTest::newRow("near-tangent plane") << relief << plain << 2 << std::floor(peak * 1000.0) * 0.001 - 0.001 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        QTest::newRow("noisy relief") << relief << plain << 2 << 10.0 << -1.0 << -1.0 << -1.0 << -1.0 << closed;
        // Turned inside out: capped as it runs, so the halves close inside out too.
        const MeshData inverted = testmesh::cuboid(0, 0, 0, 20, 20, 20, true);
        QTest::newRow("inside-out cube") << inverted << plain << 2 << 5.0 << -6000.0 << -2000.0 << 0.0 << 0.0 << closed;
        // 600 copies side by side, on a grid across the plane: enough parts that their caps are
        // filled on every core, each as it is on its own (touching outlines, cavities, islands).
        auto many = [&](const char* tag, const MeshData& m, int axis, double plane, double up, double down, double cap,
                        double otherCap) {
            std::vector<MeshData> copies;
            for (int i = 0; i < 600; ++i) {
                double d[3] = {0, 0, 0};
                d[(axis + 1) % 3] = 60.0 * (i % 25);
                d[(axis + 2) % 3] = 60.0 * (i / 25);
                copies.push_back(testmesh::moved(m, d[0], d[1], d[2]));
            }
            QTest::newRow(qPrintable(QString("600 x %1").arg(tag))) << testmesh::joined(copies) << plain << axis << plane << 600 * up
                                                                    << 600 * down << 600 * cap << 600 * otherCap << closed;
        };
        many("step x", ell, 0, 10.0, 1000.0, 2000.0, 100.0, 200.0);
        many("hole z, cap with hole", holed, 2, 15.0, 12000.0, 12000.0, 800.0, 800.0);
        many("ring with island", ringWithIsland(), 2, 5.0, 8500.0, 8500.0, 1700.0, 1700.0);
        many("cavity", hollow, 1, 12.0, 11000.0, 8000.0, 500.0, 500.0);
        many("bridge shells x", bridge, 0, 5.0, 4750.0, 1250.0, 250.0, 250.0);
        many("inside-out cube", inverted, 2, 5.0, -6000.0, -2000.0, 0.0, 0.0);
        many("overlapping shells z", shells, 2, 5.0, -1.0, -1.0, -1.0, -1.0);
    }

    void halves()
    {
        QFETCH(MeshData, mesh);
        QFETCH(QVector<double>, transform);
        QFETCH(int, axis);
        QFETCH(double, plane);
        QFETCH(double, upVolume);
        QFETCH(double, downVolume);
        QFETCH(double, upCap);
        QFETCH(double, downCap);
        QFETCH(QVector<double>, openIn);

        MeshModel* model = makeModel(mesh, "part");
        for (int k = 0; k < 3; ++k)
            model->setAxisScale(k, transform[k]);
        const double angles[3] = {transform[3], transform[4], transform[5]};
        model->setRotation(angles, true);
        const Eigen::Matrix4d m = model->getModelMatrix();
        MeshData world;
        for (const auto& v : mesh.vertices) {
            const Eigen::Vector4d w = m * Eigen::Vector4d(v[0], v[1], v[2], 1.0);
            // The cut works on the micrometre grid.
            world.vertices.push_back({std::round(w[0] * 1000.0) * 0.001, std::round(w[1] * 1000.0) * 0.001, std::round(w[2] * 1000.0) * 0.001});
        }
        world.faces = mesh.faces;
        const double total = testmesh::volume(world);

        const int planeUm = int(plane * 1000.0);
        CutResult r = cutModel(model, 0, planeUm, axis);
        QVERIFY(r.ok);
        QCOMPARE(r.upName, std::string("part_up"));
        QCOMPARE(r.downName, std::string("part_down"));
        QString why;
        const bool shells = QByteArray(QTest::currentDataTag()).contains("shells");
        if (openIn.isEmpty()) {
            // Each part of each half on its own: a cap that takes a hole from another part
            // still closes the half as a whole.
            for (const MeshData* half : {r.up.get(), r.down.get()})
                for (const MeshData& part : testmesh::components(*half))
                    QVERIFY2(testmesh::closedAndClean(part, &why, shells),
                             qPrintable(QString(half == r.up.get() ? "up: " : "down: ") + why));
        } else {
            // Open only where the input is: the cap adds no opening of its own.
            for (const MeshData* half : {r.up.get(), r.down.get()})
                for (const auto& e : testmesh::openEdges(*half))
                    for (const auto& p : e) {
                        bool in = false;
                        for (int b = 0; b + 5 < openIn.size(); b += 6)
                            in = in || (p[0] >= openIn[b] && p[1] >= openIn[b + 1] && p[2] >= openIn[b + 2]
                                        && p[0] <= openIn[b + 3] && p[1] <= openIn[b + 4] && p[2] <= openIn[b + 5]);
                        QVERIFY2(in, qPrintable(QString("open edge at %1 %2 %3").arg(p[0]).arg(p[1]).arg(p[2])));
                    }
        }

        const double vu = testmesh::volume(*r.up), vd = testmesh::volume(*r.down);
        const double tol = 0.05 + 2e-4 * std::fabs(total);
        QVERIFY2(std::fabs(vu + vd - total) < tol, qPrintable(QString("%1 + %2 vs %3").arg(vu).arg(vd).arg(total)));
        if (upVolume >= 0) {
            QVERIFY2(std::fabs(vu - upVolume) < tol, qPrintable(QString("up %1 vs %2").arg(vu).arg(upVolume)));
            QVERIFY2(std::fabs(vd - downVolume) < tol, qPrintable(QString("down %1 vs %2").arg(vd).arg(downVolume)));
        }
        const double cu = testmesh::planeArea(*r.up, axis, planeUm * 0.001, -1);
        const double cd = testmesh::planeArea(*r.down, axis, planeUm * 0.001, +1);
        QVERIFY(cu > 0.0 || upCap == 0.0);
        if (upCap >= 0) {
            QVERIFY2(std::fabs(cu - upCap) < 0.05, qPrintable(QString("up cap %1 vs %2").arg(cu).arg(upCap)));
            QVERIFY2(std::fabs(cd - downCap) < 0.05, qPrintable(QString("down cap %1 vs %2").arg(cd).arg(downCap)));
        } else {
            QVERIFY2(std::fabs(cu - cd) < 0.01, qPrintable(QString("caps %1 vs %2").arg(cu).arg(cd)));
        }
        // The normals made in two steps, while the cap was still being made and after: those
        // of the whole half, to the last bit.
        for (const MeshData* half : {r.up.get(), r.down.get()}) {
            MeshData again = *half;
            QVERIFY(MeshData::computeNormals(again));
            QVERIFY(again.normals == half->normals);
        }
        // Every vertex on the micrometre grid.
        for (const auto& v : r.up->vertices)
            for (double c : v)
                QVERIFY(std::fabs(c * 1000.0 - std::round(c * 1000.0)) < 1e-6);
        // The same cut split in ranges of a face or two (another model index, so that the
        // split is made again): the same halves, point for point.
        setSplitGrainForTests(1);
        const auto restoreRoom = qScopeGuard([] { setSplitGrainForTests(size_t(1) << 15); });
        const CutResult grown = cutModel(model, 1, planeUm, axis);
        QVERIFY(grown.ok);
        QVERIFY(grown.up->vertices == r.up->vertices && grown.up->faces == r.up->faces);
        QVERIFY(grown.down->vertices == r.down->vertices && grown.down->faces == r.down->faces);
        delete model;
    }

    void sectionRegions_data()
    {
        QTest::addColumn<MeshData>("mesh");
        QTest::addColumn<int>("regions");
        QTest::addColumn<int>("firstOutlines");
        QTest::newRow("cube") << testmesh::box(3, 3, 3, 10.0) << 1 << 1;
        QTest::newRow("hole") << testmesh::box(3, 3, 3, 10.0, true) << 1 << 2;
        QTest::newRow("island in hole") << ringWithIsland() << 2 << 2;
        QTest::newRow("two-point chains") << testmesh::tube(10, 0, 10, 64, 3, 2) << 1 << 1;
    }

    void sectionRegions()
    {
        QFETCH(MeshData, mesh);
        QFETCH(int, regions);
        QFETCH(int, firstOutlines);
        MeshModel* model = makeModel(mesh, "sec");
        QVERIFY(computeCutSection(model, 0, 5000, 2, false));
        const auto& wd = cutWorkData();
        QCOMPARE(int(wd.regions.size()), regions);
        QCOMPARE(int(wd.regions[0].outlines.size()), firstOutlines);
        // Region bounds and points lie in micrometres.
        QVERIFY(wd.regions[0].maxU > wd.regions[0].minU);
        QCOMPARE(sectionPointTo3D(wd.regions[0].outlines[0][0], 5000, 2)[2], 5.0);
        delete model;
    }

    // The caps' fill against a plain measure of the same rings: shapes where hole bridging and
    // ear cutting went wrong, then rings made at random on a small grid, where points fall on
    // other rings' edges and rings touch.
    void capFillMatchesPlainMeasure_data()
    {
        QTest::addColumn<QVector<QVector<int>>>("rings"); // x, y pairs
        QTest::addColumn<int>("random");                  // further random runs of this kind: 0 none, 1 cells, 2 points,
                                                          // 3 rings that cross, filled through their crossings,
                                                          // 4 crossing rings past the crossing budget
        auto square = [](int x0, int y0, int x1, int y1, bool hole) {
            QVector<int> r{x0, y0, x1, y0, x1, y1, x0, y1};
            if (hole)
                r = {x0, y0, x0, y1, x1, y1, x1, y0};
            return r;
        };
        // Notches cut in from the left edge, reaching towards a hole on their right.
        QVector<int> notched{0, 0, 100, 0, 100, 60, 0, 60};
        for (int y : {50, 40, 30, 20, 10}) {
            const QVector<int> notch{0, y + 4, 45 - y / 5, y + 2, 45 - y / 5, y, 0, y - 2};
            notched += notch;
        }
        QTest::newRow("notches towards a hole from the left") << QVector<QVector<int>>{notched, square(50, 25, 70, 35, true)} << 0;
        // Two holes in a row: the second one's leftward reach meets the first.
        QTest::newRow("two holes in a row") << QVector<QVector<int>>{square(0, 0, 100, 40, false), square(20, 15, 30, 25, true),
                                                                      square(50, 15, 60, 25, true), square(70, 10, 80, 20, true)} << 0;
        // Collinear points on the edges, a hole touching the outline at a point, an island.
        QTest::newRow("points along edges, touching hole, island")
            << QVector<QVector<int>>{{0, 0, 10, 0, 20, 0, 30, 0, 30, 10, 30, 20, 30, 30, 15, 30, 0, 30, 0, 15},
                                     {30, 15, 27, 12, 27, 18}, {5, 5, 5, 25, 25, 25, 25, 5}, {10, 10, 15, 10, 15, 15, 10, 15}} << 0;
        // Points along a straight stretch up to the corner where the fill ends.
        QTest::newRow("straight run into the last corner") << QVector<QVector<int>>{{0, 0, 10, 10, 8, 10, 6, 10, 4, 10, 2, 10, 0, 10}} << 0;
        // A wall wound round five times, and a comb of uneven teeth over a hole:
        // long runs of corners along one ring, each beside edges of other turns or teeth.
        QVector<int> spiral, back;
        for (int i = 0; i <= 200; ++i) {
            const double t = 2.0 * M_PI * 5.0 * i / 200.0, r = 100.0 + 60.0 * t / (2.0 * M_PI);
            spiral << int(std::lround(r * std::cos(t))) << int(std::lround(r * std::sin(t)));
            back.prepend(int(std::lround((r + 25.0) * std::sin(t))));
            back.prepend(int(std::lround((r + 25.0) * std::cos(t))));
        }
        QTest::newRow("spiral wall") << QVector<QVector<int>>{spiral + back} << 0;
        QVector<int> comb{0, 0, 1000, 0, 1000, 40};
        for (int k = 9; k >= 0; --k)
            comb << 100 * k + 80 << 40 << 100 * k + 60 << 400 + 30 * (k % 3) << 100 * k + 40 << 40;
        comb << 0 << 40;
        QTest::newRow("comb of uneven teeth") << QVector<QVector<int>>{comb, square(200, 10, 700, 30, true)} << 0;
        QTest::newRow("cell unions") << QVector<QVector<int>>{} << 1;
        QTest::newRow("random rings on a small grid") << QVector<QVector<int>>{} << 2;
        // Open chains joined into loops cross themselves and each other; what they enclose by
        // the even-odd rule is still the cap. Crossings fall between grid points.
        QTest::newRow("pentagram and a square across it")
            << QVector<QVector<int>>{{0, 3090, 9511, 3090, 1763, -2427, 5878, 8090, 3633, -5000}, {2000, 0, 8000, 0, 8000, 7000, 2000, 7000}} << 3;
        QTest::newRow("random crossing rings") << QVector<QVector<int>>{} << 3;
        // A hundred sticks crossing at one point: each pair of edges there is looked at, so a
        // budget that pays for the grid but not for them is given up on before anything is
        // split, and the fill adds no point.
        QVector<QVector<int>> sticks;
        for (int i = 0; i < 100; ++i) {
            const double a = M_PI * i / 100, c = std::cos(a), s = std::sin(a);
            QVector<int> r;
            for (const auto& [u, v] : {std::pair{-1e5, -100.0}, {1e5, -100.0}, {1e5, 100.0}, {-1e5, 100.0}})
                r << int(std::lround(u * c - v * s)) << int(std::lround(u * s + v * c));
            sticks << r;
        }
        QTest::newRow("sticks crossing at one point, past the budget") << sticks << 4;
    }

    void capFillMatchesPlainMeasure()
    {
        QFETCH(QVector<QVector<int>>, rings);
        QFETCH(int, random);
        // Rings that cross are set apart by the caller; the fixed shapes must not cross.
        auto fault = [](const std::vector<Grid>& pts, const Rings& rs, bool mayCross) -> QString {
            std::vector<PolygonTriangulator::Triangle> tris, searched;
            std::array<int32_t, 2> crossing{-1, -1}, searchedCrossing{-1, -1};
            bool exact = false, searchedExact = false;
            const auto fill = PolygonTriangulator::fillRings(pts, rs, tris, {}, &crossing, &exact);
            // Corners along a ring are taken on from the edge ending there: the same fill as
            // when each is looked up in the sweep's status.
            PolygonTriangulator::searchEveryCorner = true;
            const auto searchedFill = PolygonTriangulator::fillRings(pts, rs, searched, {}, &searchedCrossing, &searchedExact);
            PolygonTriangulator::searchEveryCorner = false;
            if (fill != searchedFill || tris != searched || crossing != searchedCrossing || exact != searchedExact)
                return QString("the walk along rings fills otherwise than the search");
            if (fill == PolygonTriangulator::Fill::Crossing) {
                if (!mayCross)
                    return QString("rings said to cross");
                // The pair named is where the caller sets rings apart.
                return ringsCross(pts, rs, crossing[0], crossing[1])
                           ? QString()
                           : QString("rings %1 and %2 said to cross, which do not").arg(crossing[0]).arg(crossing[1]);
            }
            return fillFault(pts, rs, tris);
        };
        std::mt19937 rng{uint32_t(random)};
        for (int run = 0; run < (random == 1 || random == 2 ? 2000 : random == 3 && rings.isEmpty() ? 5000 : 1); ++run) {
            std::vector<Grid> pts;
            Rings rs;
            auto add = [&](int64_t x, int64_t y) {
                rs.back().push_back(int32_t(pts.size()));
                pts.push_back({x, y});
            };
            if (random == 0 || !rings.isEmpty()) {
                for (const auto& r : rings) {
                    rs.emplace_back();
                    for (int i = 0; i + 1 < r.size(); i += 2)
                        add(r[i], r[i + 1]);
                }
            } else if (random == 1) {
                // Each cell of a small grid its own square, some split along their sides: shared
                // sides cancel, cells meeting at corners touch.
                const int k = 2 + int(rng() % 6), sub = 1 + int(rng() % 3);
                for (int i = 0; i < k; ++i)
                    for (int j = 0; j < k; ++j) {
                        if (rng() % 2)
                            continue;
                        rs.emplace_back();
                        const int64_t x = i * sub, y = j * sub;
                        const int64_t corner[4][2] = {{x, y}, {x + sub, y}, {x + sub, y + sub}, {x, y + sub}};
                        for (int c = 0; c < 4; ++c)
                            for (int t = 0; t < sub; ++t)
                                add(corner[c][0] + (corner[(c + 1) % 4][0] - corner[c][0]) * t / sub,
                                    corner[c][1] + (corner[(c + 1) % 4][1] - corner[c][1]) * t / sub);
                        if (rng() % 2)
                            std::reverse(rs.back().begin(), rs.back().end());
                    }
            } else {
                // A few rings through random points of a 6 x 6 grid; far apart when they are
                // filled through their crossings, so that rounding a crossing costs little.
                const int64_t step = random == 3 ? 997 : 3;
                for (int r = 1 + int(rng() % 3); r > 0; --r) {
                    rs.emplace_back();
                    for (int n = 3 + int(rng() % 6); n > 0; --n)
                        add(int64_t(rng() % 6) * step, int64_t(rng() % 6) * step);
                }
            }
            if (random == 3) {
                // The even-odd area within what rounding the crossings can move (half a grid
                // step along each edge), every triangle turned the way the rings run on the
                // whole, none overlapping.
                std::vector<PolygonTriangulator::Triangle> tris;
                std::vector<Grid> grown = pts;
                size_t budget = 1 << 20;
                QVERIFY(PolygonTriangulator::fillCrossing(grown, rs, tris, budget));
                // Edges split at crossings and ends that come back are walked along as they are
                // searched for: the same points and triangles.
                {
                    std::vector<PolygonTriangulator::Triangle> searched;
                    std::vector<Grid> searchedPoints = pts;
                    size_t searchedBudget = 1 << 20;
                    PolygonTriangulator::searchEveryCorner = true;
                    const bool ok = PolygonTriangulator::fillCrossing(searchedPoints, rs, searched, searchedBudget);
                    PolygonTriangulator::searchEveryCorner = false;
                    QVERIFY(ok);
                    QVERIFY2(searchedPoints == grown && searched == tris && searchedBudget == budget,
                             qPrintable(QString("run %1: the walk along rings fills otherwise than the search").arg(run)));
                }
                __int128 net = 0;
                for (const auto& r : rs)
                    net += PolygonTriangulator::ringArea2(pts, r);
                // Rings of no area on the whole may be filled either way round.
                double turn = net < 0 ? -1.0 : 1.0;
                if (net == 0 && !tris.empty()) {
                    const Grid &a = grown[size_t(tris[0][0])], &b = grown[size_t(tris[0][1])], &c = grown[size_t(tris[0][2])];
                    turn = double(b[0] - a[0]) * double(c[1] - a[1]) - double(b[1] - a[1]) * double(c[0] - a[0]) < 0 ? -1.0 : 1.0;
                }
                double area = 0.0, rim = 0.0;
                std::map<std::pair<Grid, Grid>, int> used;
                for (const auto& t : tris) {
                    const Grid &a = grown[size_t(t[0])], &b = grown[size_t(t[1])], &c = grown[size_t(t[2])];
                    const double o = turn * (double(b[0] - a[0]) * double(c[1] - a[1]) - double(b[1] - a[1]) * double(c[0] - a[0]));
                    QVERIFY2(o > 0, qPrintable(QString("run %1: a triangle turned or of no area").arg(run)));
                    area += o / 2;
                    for (int k = 0; k < 3; ++k) {
                        const auto edge = std::make_pair(grown[size_t(t[size_t(k)])], grown[size_t(t[size_t((k + 1) % 3)])]);
                        QVERIFY2(++used[edge] == 1, qPrintable(QString("run %1: triangles overlap").arg(run)));
                    }
                }
                for (const auto& r : rs)
                    for (size_t i = 0; i < r.size(); ++i) {
                        const Grid &a = pts[size_t(r[i])], &b = pts[size_t(r[(i + 1) % r.size()])];
                        rim += std::hypot(double(b[0] - a[0]), double(b[1] - a[1]));
                    }
                // Past its budget it fills as the plain even-odd fill does, adding no point.
                std::vector<PolygonTriangulator::Triangle> plain, spent;
                std::vector<Grid> kept = pts;
                size_t none = 0;
                QVERIFY(PolygonTriangulator::fillEvenOdd(pts, rs, plain));
                QVERIFY(PolygonTriangulator::fillCrossing(kept, rs, spent, none));
                QVERIFY2(kept == pts && spent == plain, qPrintable(QString("run %1: budget overrun").arg(run)));
                const double want = evenOddArea(pts, rs);
                QVERIFY2(std::fabs(area - want) <= rim + 1e-6 * want,
                         qPrintable(QString("run %1: area %2 instead of %3").arg(run).arg(area).arg(want)));
                continue;
            }
            if (random == 4) {
                std::vector<PolygonTriangulator::Triangle> plain, spent;
                std::vector<Grid> kept = pts;
                size_t budget = 1 << 16;
                QVERIFY(PolygonTriangulator::fillEvenOdd(pts, rs, plain));
                QVERIFY(PolygonTriangulator::fillCrossing(kept, rs, spent, budget));
                QVERIFY2(kept == pts, qPrintable(QString("%1 points added").arg(kept.size() - pts.size())));
                QVERIFY(spent == plain);
                continue;
            }
            const QString why = fault(pts, rs, random != 0);
            QVERIFY2(why.isEmpty(), qPrintable(QString("run %1: %2").arg(run).arg(why)));
        }
    }

    // Squares of a checkerboard touch at their corners, so most places hold two corners, more
    // than one range of the fill takes; corners given as one point make an exact fill, corners
    // given twice do not, and either way the squares are filled whole.
    void fillPlacesOnEveryCore_data()
    {
        QTest::addColumn<bool>("shared"); // touching squares give their corner as one point
        QTest::newRow("corners shared") << true;
        QTest::newRow("corners twice") << false;
    }

    void fillPlacesOnEveryCore()
    {
        QFETCH(bool, shared);
        constexpr int Side = 300;
        std::vector<Grid> pts;
        std::vector<int32_t> idAt(size_t((Side + 1) * (Side + 1)), -1);
        auto point = [&](int i, int j) {
            int32_t& id = idAt[size_t(j * (Side + 1) + i)];
            if (!shared || id < 0) {
                id = int32_t(pts.size());
                pts.push_back({i * 10, j * 10});
            }
            return id;
        };
        Rings rs;
        for (int j = 0; j < Side; ++j)
            for (int i = j % 2; i < Side; i += 2)
                rs.push_back({point(i, j), point(i + 1, j), point(i + 1, j + 1), point(i, j + 1)});
        std::vector<PolygonTriangulator::Triangle> tris;
        bool exact = !shared;
        QCOMPARE(PolygonTriangulator::fillRings(pts, rs, tris, {}, nullptr, &exact), PolygonTriangulator::Fill::Done);
        QCOMPARE(exact, shared);
        QCOMPARE(tris.size(), 2 * rs.size());
        for (const auto& t : tris) {
            const Grid &a = pts[size_t(t[0])], &b = pts[size_t(t[1])], &c = pts[size_t(t[2])];
            QCOMPARE((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]), int64_t(100));
        }
    }

    void joiningMatchesFullScan_data()
    {
        QTest::addColumn<int>("spacing"); // grid step of the chain points, um
        QTest::addColumn<int>("grain");   // chains per range of the first searches
        QTest::addColumn<int>("places");  // grid points per side
        QTest::addColumn<int>("chains");  // at most this many chains per run
        QTest::newRow("coincident ends and ties") << 5 << 4096 << 7 << 25;
        QTest::newRow("nearest ends") << 3000 << 4096 << 7 << 25;
        QTest::newRow("ends near the reach") << 9000 << 4096 << 7 << 25;
        QTest::newRow("coincident ends, searched side by side") << 5 << 2 << 7 << 25;
        QTest::newRow("nearest ends, searched side by side") << 3000 << 2 << 7 << 25;
        // Dozens of ends at each point, going in any order and coming back as last points.
        QTest::newRow("crowded points") << 3000 << 4096 << 2 << 60;
        QTest::newRow("crowded points, three a side") << 3000 << 4096 << 3 << 60;
        // Every end at one point: only ties decide.
        QTest::newRow("one point") << 3000 << 4096 << 1 << 40;
    }

    void joiningMatchesFullScan()
    {
        QFETCH(int, spacing);
        QFETCH(int, grain);
        QFETCH(int, places);
        QFETCH(int, chains);
        const size_t grainBefore = NearestEnds::searchGrain;
        const auto restore = qScopeGuard([grainBefore] { NearestEnds::searchGrain = grainBefore; });
        NearestEnds::searchGrain = size_t(grain);
        std::mt19937 rng{uint32_t(spacing)};
        for (int run = 0; run < 3000; ++run) {
            ClipperLib::Paths open, closedFast, closedScan;
            for (int c = 1 + int(rng() % uint32_t(chains)); c > 0; --c) {
                ClipperLib::Path chain;
                for (int k = 1 + int(rng() % 4); k > 0; --k)
                    chain.push_back(ClipperLib::IntPoint(ClipperLib::cInt(rng() % uint32_t(places)) * spacing,
                                                         ClipperLib::cInt(rng() % uint32_t(places)) * spacing));
                if (rng() % 4 == 0 && !open.empty())
                    chain.push_back(open[rng() % open.size()].front());
                open.push_back(chain);
            }
            ClipperLib::Paths fast = open;
            QVERIFY(joinOpenChains(fast, closedFast));
            joinByFullScan(open, closedScan);
            QVERIFY2(fast == open && closedFast == closedScan, qPrintable(QString("run %1").arg(run)));
        }
        // A stop asked for while the ends are set up leaves no join to make.
        const std::vector<ClipperLib::IntPoint> firsts{{0, 0}, {10, 0}}, lasts{{10, 0}, {0, 0}};
        NearestEnds stopped(firsts, lasts, {true, true}, {false, false}, 1e8, [] { return true; });
        NearestEnds::Join join;
        QVERIFY(stopped.stopped() && !stopped.next(join));
    }

    // Where many rim edges leave one point, the linking searches them sorted by direction;
    // it must take the edge the scan over all of them takes, ties and straight back included.
    // Only edges that cancel within their shell let one cap serve both halves; a shell's
    // edge against another shell's at the same points is an open edge of each.
    void planeEdgesCancel_data()
    {
        using Edges = PlaneEdges;
        QTest::addColumn<Edges>("edges");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("a pair") << Edges{{1, 2, 0}, {2, 1, 0}} << true;
        QTest::newRow("twice the same way") << Edges{{1, 2, 0}, {1, 2, 0}} << false;
        QTest::newRow("a pair in two shells") << Edges{{1, 2, 0}, {2, 1, 3}} << false;
        QTest::newRow("pairs of two shells at the same points") << Edges{{1, 2, 3}, {1, 2, 0}, {2, 1, 0}, {2, 1, 3}} << true;
        Edges many;
        for (int32_t i = 0; i < 100000; ++i)
            many.push_back({i, i + 1, i % 7});
        for (int32_t i = 100000; i-- > 0;)
            many.push_back({i + 1, i, i % 7});
        many.back()[2] = 1;
        QTest::newRow("100,000 pairs, the last in another shell") << many << false;
    }

    void planeEdgesCancel()
    {
        QFETCH(PlaneEdges, edges);
        QFETCH(bool, cancel);
        QCOMPARE(planeEdgesCancelForTests(edges), cancel);
    }

    void linkingMatchesScan_data()
    {
        QTest::addColumn<int>("places");  // grid points per side
        QTest::addColumn<int>("spokes");  // walks out from the hub and back per run
        QTest::addColumn<int>("strays");  // edges anywhere per run
        QTest::newRow("loops through one point") << 9 << 30 << 0;
        // Few places: many edges in one direction, and walks that turn straight back.
        QTest::newRow("coarse grid") << 3 << 30 << 0;
        QTest::newRow("loops and stray edges") << 7 << 20 << 20;
        QTest::newRow("a hub among open chains") << 9 << 25 << 60;
    }

    void linkingMatchesScan()
    {
        QFETCH(int, places);
        QFETCH(int, spokes);
        QFETCH(int, strays);
        const auto restore = qScopeGuard([] { setFanEdgesForTests(16); });
        std::mt19937 rng{uint32_t(places * 1000 + spokes)};
        for (int run = 0; run < 500; ++run) {
            // Point 0 is the hub; a few points share each place.
            std::vector<std::array<int64_t, 2>> xy{{0, 0}};
            auto point = [&] {
                xy.push_back({int64_t(rng() % uint32_t(places)) * 1000 - (places / 2) * 1000,
                              int64_t(rng() % uint32_t(places)) * 1000 - (places / 2) * 1000});
                return int32_t(xy.size() - 1);
            };
            std::vector<std::pair<int32_t, int32_t>> edges;
            for (int s = 0; s < spokes; ++s) {
                int32_t at = 0;
                for (int k = 1 + int(rng() % 3); k > 0; --k) {
                    const int32_t to = rng() % 3 == 0 && xy.size() > 1 ? int32_t(1 + rng() % uint32_t(xy.size() - 1)) : point();
                    edges.push_back({at, to});
                    at = to;
                }
                edges.push_back({at, 0});
            }
            for (int s = 0; s < strays; ++s)
                edges.push_back({int32_t(rng() % uint32_t(xy.size())), int32_t(rng() % uint32_t(xy.size()))});
            std::shuffle(edges.begin(), edges.end(), rng);
            // Edges of no length only among the strays, where the scan decides.
            if (strays == 0)
                edges.erase(std::remove_if(edges.begin(), edges.end(), [&](const auto& e) { return xy[size_t(e.first)] == xy[size_t(e.second)]; }),
                            edges.end());
            std::vector<std::vector<int32_t>> scanLoops, scanChains, fanLoops, fanChains;
            setFanEdgesForTests(SIZE_MAX);
            QVERIFY(linkRimForTests(edges, xy, scanLoops, scanChains));
            setFanEdgesForTests(2);
            QVERIFY(linkRimForTests(edges, xy, fanLoops, fanChains));
            QVERIFY2(scanLoops == fanLoops && scanChains == fanChains, qPrintable(QString("run %1").arg(run)));
        }
    }

    void previewLimit()
    {
        // A sphere just above the preview limit is skipped unless forced.
        MeshModel* model = makeModel(testmesh::sphere(10.0, 101, 410), "big");
        QVERIFY(model->getMesh()->vertices.size() > size_t(kPreviewVertexLimit));
        QVERIFY(!computeCutSection(model, 0, 0, 2, false));
        QVERIFY(cutWorkData().up.empty());
        QVERIFY(computeCutSection(model, 0, 0, 2, true));
        QVERIFY(!cutWorkData().regions.empty());
        delete model;
    }

    void failures()
    {
        MeshModel* model = makeModel(testmesh::box(1, 1, 1, 10.0), "f");
        // Plane beside the model: one half would be empty.
        CutResult r = cutModel(model, 0, 20000, 2);
        QVERIFY(!r.ok);
        QVERIFY(!r.up && !r.down);
        // Plane on the top face: the top goes to the lower half, the upper is empty.
        r = cutModel(model, 0, 10000, 2);
        QVERIFY(!r.ok);
        // A box missing a side face, cut parallel to that face, closes.
        MeshModel* open = makeModel(faceApart(testmesh::cuboid(0, 0, 0, 20, 20, 20), 1, 0.0, 0.0, true), "open");
        QVERIFY(cutModel(open, 0, 5000, 1).ok);
        // Beside a closed body the open box takes no part in the cap; the body is still cut.
        MeshModel* both = makeModel(testmesh::joined({faceApart(testmesh::cuboid(0, 0, 0, 20, 20, 20), 1, 0.0, 0.0, true),
                                                      testmesh::cuboid(30, 0, 0, 40, 10, 10)}), "both");
        const CutResult mixed = cutModel(both, 0, 5000, 2);
        QVERIFY(mixed.ok);
        QCOMPARE(testmesh::planeArea(*mixed.down, 2, 5.0, 1), 100.0);
        delete both;
        delete open;
        // A stop request gives no halves and reports the stopped cut.
        g_jobState = 1;
        r = cutModel(model, 0, 5000, 2);
        QVERIFY(!r.ok);
        QVERIFY(!r.up && !r.down);
        QCOMPARE(g_jobState.load(), 2);
        g_jobState = 0;
        // A failed job leaves no half-done work behind: the next cut is sound.
        r = cutModel(model, 0, 5000, 2);
        QVERIFY(r.ok);
        QVERIFY(testmesh::closedAndClean(*r.up));
        delete model;
    }

    // A stop landing anywhere in a cut gives both halves whole or none and a stopped job, and
    // leaves nothing half-done for the next cut: on a closed spring, whose one cap is made while
    // its halves are begun, and on open sheets, with a cap each.
    void stopAtAnyStep_data()
    {
        QTest::addColumn<MeshData>("mesh");
        QTest::newRow("spring") << testmesh::spiralWall(20, 4000);
        QTest::newRow("open sheets") << testmesh::vSheets(6000);
    }
    void stopAtAnyStep()
    {
        QFETCH(MeshData, mesh);
        MeshModel* model = makeModel(mesh, "m");
        QElapsedTimer clock;
        clock.start();
        const CutResult whole = cutModel(model, 0, 5000, 2);
        const qint64 ns = std::max<qint64>(clock.nsecsElapsed(), 1000000);
        QVERIFY(whole.ok);
        auto same = [&](const CutResult& r) { return r.ok && r.up->faces == whole.up->faces && r.down->faces == whole.down->faces; };
        for (int k = 0; k < 24; ++k) {
            g_jobState = 0;
            std::thread stopper([&] {
                std::this_thread::sleep_for(std::chrono::nanoseconds(ns * k / 20));
                g_jobState = 1;
            });
            const CutResult r = cutModel(model, 0, 5000, 2);
            stopper.join();
            QVERIFY(same(r) || (!r.ok && !r.up && !r.down && g_jobState == 2));
        }
        g_jobState = 0;
        QVERIFY(same(cutModel(model, 0, 5000, 2)));
        delete model;
    }

    void commit_data()
    {
        QTest::addColumn<int>("axis");
        QTest::addColumn<QVector<double>>("shift");
        QTest::newRow("x") << 0 << QVector<double>{0, 10, 0};
        QTest::newRow("y") << 1 << QVector<double>{10, 0, 0};
        QTest::newRow("z") << 2 << QVector<double>{10, 10, 0};
    }

    void commit()
    {
        QFETCH(int, axis);
        QFETCH(QVector<double>, shift);
        AppData* app = AppData::instance();
        app->clearModels(false);
        MeshModel* other = makeModel(testmesh::box(1, 1, 1, 5.0), "other");
        MeshModel* model = makeModel(testmesh::box(2, 2, 2, 10.0), "block");
        app->addModel(other);
        app->addModel(model);
        app->selectModel(1, 1);
        CutResult r = cutModel(model, 1, 8000, axis);
        QVERIFY(r.ok);
        QVERIFY(commitCut(r));
        QCOMPARE(app->modelCount(), 3);
        QVERIFY(app->findModel("block") == nullptr);
        MeshModel* up = app->findModel("block_up");
        MeshModel* down = app->findModel("block_down");
        QVERIFY(up && down);
        // The lower half stays in place, the upper half moves aside.
        QCOMPARE(down->box[size_t(axis)], 0.0);
        QCOMPARE(up->box[size_t(axis)], 8.0 + shift[axis]);
        for (int k = 0; k < 3; ++k)
            if (k != axis)
                QCOMPARE(up->box[size_t(k)], shift[k]);
        // A result whose model has gone is not committed.
        CutResult stale = cutModel(down, 2, 4000, 2);
        QVERIFY(stale.ok);
        app->removeModel(2);
        QVERIFY(!commitCut(stale));
        QCOMPARE(app->modelCount(), 2);
        app->clearModels(false);
    }

    // Chains joined in any order, turned and trimmed, read as a plain list would: a chain that
    // loses its back after many joins at its front keeps its points in order.
    void joinChainMatchesList_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::newRow("seed 1") << 1u;
        QTest::newRow("seed 2") << 2u;
        QTest::newRow("seed 3") << 3u;
    }
    void joinChainMatchesList()
    {
        QFETCH(unsigned, seed);
        std::mt19937 rng(seed);
        std::vector<JoinChain<int>> chains;
        std::vector<std::deque<int>> lists;
        int next = 0;
        for (int i = 0; i < 40; ++i) {
            std::vector<int> pts(size_t(1 + rng() % 4));
            for (int& v : pts)
                v = next++;
            chains.emplace_back(pts);
            lists.emplace_back(pts.begin(), pts.end());
        }
        for (int step = 0; step < 4000; ++step) {
            const size_t a = rng() % chains.size(), b = rng() % chains.size();
            if (lists[a].empty())
                continue;
            if (rng() % 3 == 0 || a == b || lists[b].empty()) {
                if (lists[a].size() > 1) {
                    chains[a].popBack();
                    lists[a].pop_back();
                }
            } else {
                const bool turned = rng() % 2, skip = rng() % 2;
                std::deque<int> other = lists[b];
                if (turned)
                    std::reverse(other.begin(), other.end());
                if (skip)
                    other.pop_front();
                chains[a].append(chains[b], turned, skip);
                lists[a].insert(lists[a].end(), other.begin(), other.end());
                lists[b].clear();
                if (rng() % 4 == 0) {
                    // a fresh chain takes the emptied place
                    std::vector<int> pts{next++, next++};
                    chains[b] = JoinChain<int>(pts);
                    lists[b].assign(pts.begin(), pts.end());
                }
            }
            QCOMPARE(chains[a].size(), lists[a].size());
            if (!lists[a].empty()) {
                QCOMPARE(chains[a].front(), lists[a].front());
                QCOMPARE(chains[a].back(), lists[a].back());
            }
        }
        for (size_t c = 0; c < chains.size(); ++c) {
            const std::vector<int> got = chains[c].take<std::vector<int>>();
            QVERIFY(std::equal(got.begin(), got.end(), lists[c].begin(), lists[c].end()));
        }
    }
};

QTEST_GUILESS_MAIN(TestCutModel)
#include "tst_cutmodel.moc"
