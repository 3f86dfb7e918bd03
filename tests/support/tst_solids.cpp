#include <QtTest>

#include <cmath>
#include <map>
#include <memory>

#include "scene/MeshData.h"
#include "support/Chassis.h"
#include "support/Ellipsolid.h"
#include "support/Parallelepiped.h"
#include "support/Pillar.h"
#include "support/TruCone.h"
#include "support/Wall.h"

namespace {
// Closed and consistently wound: every directed edge once, and its reverse once.
bool isClosed(const MeshData& m)
{
    std::map<std::pair<int, int>, int> edges;
    for (const auto& f : m.faces)
        for (int k = 0; k < 3; ++k)
            ++edges[{f[size_t(k)], f[size_t((k + 1) % 3)]}];
    for (const auto& e : edges) {
        auto back = edges.find({e.first.second, e.first.first});
        if (e.second != 1 || back == edges.end() || back->second != 1)
            return false;
    }
    return !m.faces.empty();
}

double volume(const MeshData& m)
{
    double v = 0;
    for (const auto& f : m.faces) {
        const Eigen::Vector3d a(m.vertices[size_t(f[0])].data()), b(m.vertices[size_t(f[1])].data()),
            c(m.vertices[size_t(f[2])].data());
        v += a.dot(b.cross(c)) / 6;
    }
    return v;
}
} // namespace

class TestSolids : public QObject
{
    Q_OBJECT

private slots:
    void parallelepiped()
    {
        Parallelepiped p(Eigen::Vector3d(1, 2, 3), 2, 4, 6);
        MeshData m;
        m.faces.push_back({9, 9, 9}); // emptied first
        QVERIFY(p.buildMesh(m));
        QCOMPARE(m.vertices.size(), size_t(8));
        QCOMPARE(m.faces.size(), size_t(12));
        QVERIFY(isClosed(m));
        QVERIFY(std::fabs(volume(m) - 48.0) < 1e-9);
        // Every face faces away from the centre.
        for (const auto& f : m.faces) {
            const Eigen::Vector3d a(m.vertices[size_t(f[0])].data()), b(m.vertices[size_t(f[1])].data()),
                c(m.vertices[size_t(f[2])].data());
            QVERIFY((b - a).cross(c - a).dot((a + b + c) / 3 - Eigen::Vector3d(1, 2, 3)) > 0);
        }
    }

    void solids_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("expected"); // volume; 0 asks only for a positive one
        QTest::addColumn<double>("tolerance");
        QTest::newRow("ellipsoid") << 0 << 4.0 / 3 * M_PI * 9 * 5 << 0.08;
        QTest::newRow("cone") << 1 << M_PI * 10 / 3 * (16 + 8 + 4) << 0.05;
        QTest::newRow("cone to a tip") << 2 << M_PI * 10 / 3 * 16 << 0.05;
        QTest::newRow("pillar") << 3 << 0.0 << 0.0;
        QTest::newRow("slanted pillar") << 4 << 0.0 << 0.0;
        QTest::newRow("chassis") << 5 << 0.0 << 0.0;
    }

    void solids()
    {
        QFETCH(int, kind);
        QFETCH(double, expected);
        QFETCH(double, tolerance);
        std::unique_ptr<CircleVolume> circle;
        std::unique_ptr<ParallelogramVolume> box;
        switch (kind) {
        case 0: circle = std::make_unique<Ellipsolid>(Eigen::Vector3d(0, 0, 5), 3, 10); break;
        case 1: circle = std::make_unique<TruCone>(Eigen::Vector3d(0, 0, 0), 4, 2, 10); break;
        case 2: circle = std::make_unique<TruCone>(Eigen::Vector3d(0, 0, 0), 4, 0, 10); break;
        case 3: circle = std::make_unique<Pillar>(Eigen::Vector3d(0, 0, 0), 2, 40); break;
        case 4: circle = std::make_unique<Pillar>(); break;
        default: box = std::make_unique<Chassis>(Eigen::Vector3d(0, 0, 0), 10, 10); break;
        }
        MeshData m;
        QVERIFY(circle ? circle->buildMesh(m) : box->buildMesh(m));
        QVERIFY(isClosed(m));
        const double v = volume(m);
        QVERIFY2(v > 0, qPrintable(QString::number(v)));
        if (expected > 0)
            QVERIFY2(std::fabs(v - expected) < tolerance * expected, qPrintable(QString("%1 vs %2").arg(v).arg(expected)));
    }

    void wallBoxesAreClosed()
    {
        Wall wall(Eigen::Vector3d(0, 0, 5), 1, 20, 10);
        MeshData m;
        QVERIFY(wall.buildMesh(m));
        // floor(20 / (tan 45 * 1 + 10)) + 1 = 2 struts and the rail: three boxes.
        QCOMPARE(m.faces.size(), size_t(36));
        QVERIFY(isClosed(m));
        QVERIFY(volume(m) > 20.0);
        for (const auto& p : m.vertices) {
            QVERIFY(p[1] >= -10 - 1e-9 && p[1] <= 10 + 1e-9);
            QVERIFY(p[2] >= -1e-9 && p[2] <= 10 + 1e-9);
        }
    }

    void degenerateCircleSolids()
    {
        Ellipsolid tiny(Eigen::Vector3d(0, 0, 0), 1e-7);
        CircleSections s;
        tiny.generateSections(s);
        QVERIFY(s.empty());
        MeshData m;
        QVERIFY(!tiny.buildMesh(m));
        QVERIFY(m.faces.empty());

        TruCone flat(Eigen::Vector3d(0, 0, 0), 1, 0.0);
        QVERIFY(!flat.buildMesh(m));
    }

    void repeatedSectionsMakeOneRing()
    {
        const Eigen::Vector3d z(0, 0, 1);
        CircleSections s{{{0, 0, 0}, z, 1.0}, {{0, 0, 1e-7}, z, 1.0 + 1e-7}, {{0, 0, 1}, z, 1.0}};
        MeshData m;
        QVERIFY(CircleVolume::meshFromSections(s, 8, m));
        // Two rings of 8 and two cap centres.
        QCOMPARE(m.vertices.size(), size_t(18));
        QVERIFY(isClosed(m));
        CircleSections one{{{0, 0, 0}, z, 1.0}, {{0, 0, 1e-8}, z, 1.0}};
        QVERIFY(!CircleVolume::meshFromSections(one, 8, m));
    }

    void parallelogramSectionsNoneOrOne()
    {
        MeshData m;
        QVERIFY(!ParallelogramVolume::meshFromSections({}, 1, m));
        ParallelogramSections repeated(3);
        ParallelogramVolume::removeRepeats(repeated);
        QCOMPARE(repeated.size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestSolids)
#include "tst_solids.moc"
