#include <QtTest>

#include "common/TestTime.h"
#include "cutting/CutWorkData.h"
#include "cutting/testutil_meshes.h"
#include "platform/Platform.h"
#include "render/RayTests.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "support/AutoSupport.h"

Q_DECLARE_METATYPE(MeshData)

namespace {

MeshModel* addModel(const MeshData& mesh, const char* name, bool visible = true)
{
    MeshModel* m = new MeshModel();
    m->setMeshSlot(MeshList::instance()->add(new MeshData(mesh)));
    m->setName(name);
    m->visible = visible;
    AppData::instance()->addModel(m);
    return m;
}

// Prism along Y whose cross-section in XZ is the given polygon (counter-clockwise seen from -Y).
MeshData prism(const std::vector<std::array<double, 2>>& xz, double depth)
{
    MeshData m;
    const int n = int(xz.size());
    for (const auto& p : xz) {
        m.vertices.push_back({p[0], 0.0, p[1]});
        m.vertices.push_back({p[0], depth, p[1]});
    }
    for (int k = 0; k < n; ++k) {
        const int a0 = 2 * k, a1 = a0 + 1, b0 = 2 * ((k + 1) % n), b1 = b0 + 1;
        m.faces.push_back({a0, b0, b1});
        m.faces.push_back({a0, b1, a1});
    }
    for (int k = 1; k + 1 < n; ++k) {
        m.faces.push_back({0, 2 * (k + 1), 2 * k});
        m.faces.push_back({1, 2 * k + 1, 2 * (k + 1) + 1});
    }
    return m;
}

// The two faces of the box's square at height z split along the other diagonal.
MeshData flippedDiagonal(MeshData m, double z)
{
    std::vector<size_t> square;
    for (size_t f = 0; f < m.faces.size(); ++f)
        if (m.vertices[size_t(m.faces[f][0])][2] == z && m.vertices[size_t(m.faces[f][1])][2] == z
            && m.vertices[size_t(m.faces[f][2])][2] == z)
            square.push_back(f);
    auto& f1 = m.faces[square.at(0)];
    auto& f2 = m.faces[square.at(1)];
    // f1 = (a, b, c) and f2 = (b, a, d) around the shared diagonal a-b.
    while (std::find(f2.begin(), f2.end(), f1[2]) != f2.end())
        std::rotate(f1.begin(), f1.begin() + 1, f1.end());
    const int32_t a = f1[0], b = f1[1], c = f1[2];
    int32_t d = -1;
    for (int32_t i : f2)
        if (i != a && i != b)
            d = i;
    f1 = {a, d, c};
    f2 = {d, b, c};
    return m;
}

} // namespace

class TestAutoSupport : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The time limit as the program has it, stretched where the sanitisers slow every ray.
        Platform::setTimeoutScale(TestTime::timeoutScale(1.0));
        g_jobState = 0;
        AppData::instance()->clearModels(false);
        AppData::instance()->setSupportSize(2.0);
    }
    void cleanup() { AppData::instance()->clearModels(false); }

    void columns_data()
    {
        QTest::addColumn<MeshData>("mesh");
        QTest::addColumn<double>("angle");
        QTest::addColumn<bool>("expectColumns");
        QTest::addColumn<double>("bottom"); // expected column ends where columns exist
        QTest::addColumn<double>("top");
        QTest::addColumn<QVector<double>>("solids"); // boxes no column may enter, six values each
        QTest::addColumn<int>("count"); // columns expected; -1: not checked
        QTest::addColumn<MeshData>("other"); // a second model, never supported here
        const QVector<double> none;
        const MeshData alone;

        // On the plate: nothing.
        QTest::newRow("cube on plate") << testmesh::box(2, 2, 2, 10.0) << 60.0 << false << 0.0 << 0.0 << none << -1 << alone;
        // Bridge: a base, two pillars and a deck; the gap gets columns from the base's top.
        const MeshData bridge = testmesh::voxels({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0},
                                                  {0, 0, 1}, {4, 0, 1}, {0, 0, 2}, {4, 0, 2},
                                                  {0, 0, 3}, {1, 0, 3}, {2, 0, 3}, {3, 0, 3}, {4, 0, 3}},
                                                 5.0);
        QTest::newRow("bridge") << bridge << 60.0 << true << 5.0 << 15.0 << none << -1 << alone;
        QTest::newRow("bridge at 0") << bridge << 0.0 << true << 5.0 << 15.0 << none << -1 << alone;
        // Flat overhang: a slab on a post, standing above the plate.
        const MeshData shelf = testmesh::voxels({{1, 1, 0}, {1, 1, 1}, {0, 0, 2}, {1, 0, 2}, {2, 0, 2},
                                                 {0, 1, 2}, {1, 1, 2}, {2, 1, 2}, {0, 2, 2}, {1, 2, 2}, {2, 2, 2}},
                                                5.0);
        QTest::newRow("flat overhang") << shelf << 60.0 << true << 0.0 << 10.0 << none << -1 << alone;
        // A 45-degree overhang is steep enough at 60 degrees.
        QTest::newRow("45 degrees at 60") << prism({{0, 0}, {10, 0}, {20, 10}, {0, 10}}, 10.0) << 60.0 << false << 0.0 << 0.0 << none << -1 << alone;
        // The same wall needs support when the angle allows less.
        QTest::newRow("45 degrees at 30") << prism({{0, 0}, {10, 0}, {20, 10}, {0, 10}}, 10.0) << 30.0 << true << 0.0 << -1.0 << none << -1 << alone;
        QTest::newRow("45 degrees at 0") << prism({{0, 0}, {10, 0}, {20, 10}, {0, 10}}, 10.0) << 0.0 << true << 0.0 << -1.0 << none << -1 << alone;
        // Shells touching, stacked, overlapping or nested: no column inside material.
        using testmesh::cuboid;
        const QVector<double> lower{0, 0, 0, 20, 20, 10}, upper{0, 0, 10, 20, 20, 20};
        QTest::newRow("stacked boxes") << testmesh::joined({cuboid(0, 0, 0, 20, 20, 10), cuboid(0, 0, 10, 20, 20, 20)})
                                       << 60.0 << false << 0.0 << 0.0 << lower + upper << -1 << alone;
        QTest::newRow("stacked boxes, shared corners")
            << testmesh::joined({cuboid(0, 0, 0, 20, 20, 10), cuboid(0, 0, 10, 20, 20, 20)}, true) << 60.0 << false << 0.0 << 0.0
            << lower + upper << -1 << alone;
        QTest::newRow("deck on separate pillar") << testmesh::joined({cuboid(5, 5, 0, 15, 15, 10), cuboid(0, 0, 10, 20, 20, 15)})
                                                 << 60.0 << true << 0.0 << 10.0 << QVector<double>{5, 5, 0, 15, 15, 10, 0, 0, 10, 20, 20, 15} << -1 << alone;
        QTest::newRow("overlapping boxes") << testmesh::joined({cuboid(0, 0, 0, 20, 20, 10), cuboid(10, 0, 5, 30, 20, 15)})
                                           << 60.0 << true << 0.0 << 5.0 << QVector<double>{0, 0, 0, 20, 20, 10, 10, 0, 5, 30, 20, 15} << -1 << alone;
        QTest::newRow("nested boxes") << testmesh::joined({cuboid(0, 0, 0, 20, 20, 20), cuboid(5, 5, 5, 15, 15, 15)})
                                      << 0.0 << false << 0.0 << 0.0 << QVector<double>{0, 0, 0, 20, 20, 20} << -1 << alone;
        // A block floating in a sealed cavity: columns from the cavity's floor and from the block
        // up to the cavity's ceiling, none in the walls or the block.
        QTest::newRow("block in cavity")
            << testmesh::joined({cuboid(0, 0, 0, 30, 30, 30), cuboid(5, 5, 5, 25, 25, 25, true), cuboid(10, 10, 12, 20, 20, 18)})
            << 60.0 << true << 0.0 << -1.0 << QVector<double>{0, 0, 0, 30, 30, 5, 0, 0, 25, 30, 30, 30, 10, 10, 12, 20, 20, 18} << -1 << alone;
        // Rays on the diagonal enter the block through one face and leave it through the edge
        // of two: each cell under the slab still gets its column.
        QTest::newRow("slab over block, rays on edges")
            << testmesh::joined({flippedDiagonal(cuboid(0, 0, 0, 20, 20, 5), 0.0), cuboid(0, 0, 10, 20, 20, 12)}) << 60.0 << true
            << 5.0 << 10.0 << QVector<double>{0, 0, 0, 20, 20, 5, 0, 0, 10, 20, 20, 12} << 81 << alone;
        // Separate models: columns stand on the plate or on the other model, never in it.
        QTest::newRow("deck lying on separate model") << cuboid(-15, -15, 10, 15, 15, 15) << 60.0 << true << 0.0 << 10.0
                                                      << QVector<double>{-5, -5, 0, 5, 5, 10, -15, -15, 10, 15, 15, 15} << -1
                                                      << cuboid(-5, -5, 0, 5, 5, 10);
        QTest::newRow("shelf over model beside") << testmesh::joined({cuboid(0, 0, 0, 5, 20, 15), cuboid(0, 0, 15, 30, 20, 18)})
                                                 << 60.0 << true << 8.0 << 15.0 << QVector<double>{5, 0, 0, 30, 20, 8} << -1
                                                 << cuboid(5, 0, 0, 30, 20, 8);
        // A disc whose caps are fans of 20,000 long thin sectors, floating: every ray of the fine
        // check meets the disc, yet tests only the sectors that lie near it.
        QTest::newRow("fan disc") << testmesh::moved(testmesh::cylinder(50.0, 2.0, 20000), 0, 0, 5) << 60.0 << true << 0.0
                                  << 5.0 << none << -1 << alone;
    }

    void columns()
    {
        QFETCH(MeshData, mesh);
        QFETCH(double, angle);
        QFETCH(bool, expectColumns);
        QFETCH(double, bottom);
        QFETCH(double, top);
        QFETCH(QVector<double>, solids);
        QFETCH(int, count);
        QFETCH(MeshData, other);
        MeshModel* model = addModel(mesh, "m");
        if (!other.faces.empty())
            addModel(other, "o");
        const double step = 2.0 * 1.1;
        const auto& all = AppData::instance()->getModels();
        const AutoSupportResult r = findAutoSupports(std::vector<const MeshModel*>(all.begin(), all.end()), step, angle);
        QVERIFY(r.ok);
        // The ray grid grows with the faces, never with faces times bins.
        const size_t faces = mesh.faces.size() + other.faces.size();
        QVERIFY2(r.gridEntries <= 24 * faces + (1u << 20), qPrintable(QString::number(r.gridEntries)));
        commitAutoSupports(r);
        AppData* app = AppData::instance();
        QCOMPARE(app->supportCount() > 0, expectColumns);
        if (count >= 0)
            QCOMPARE(app->supportCount(), count);
        for (int i = 0; i < app->supportCount(); ++i) {
            MeshModel* s = app->getSupport(i);
            QCOMPARE(s->getOwnerName(), std::string("m"));
            QVERIFY(s->isSupport);
            // A closed box of the panel's size.
            const MeshData* col = s->getSupportMesh();
            QVERIFY(col);
            QCOMPARE(int(col->faces.size()), 12);
            QVERIFY(testmesh::closedAndClean(*col));
            QVERIFY(std::fabs(s->size[0] - 2.0) < 1e-6 && std::fabs(s->size[1] - 2.0) < 1e-6);
            QVERIFY(s->box[0] >= model->box[0] - 2.0 && s->box[3] <= model->box[3] + 2.0);
            if (top >= 0) {
                QVERIFY2(std::fabs(s->box[2] - bottom) < 1e-6, qPrintable(QString::number(s->box[2])));
                QVERIFY2(std::fabs(s->box[5] - top) < 1e-6, qPrintable(QString::number(s->box[5])));
            }
            const double cx = (s->box[0] + s->box[3]) / 2, cy = (s->box[1] + s->box[4]) / 2;
            // Columns of the bridge stand only in the gap between the pillars.
            if (QByteArray(QTest::currentDataTag()).startsWith("bridge"))
                QVERIFY(cx > 5.0 && cx < 20.0);
            for (int b = 0; b + 5 < solids.size(); b += 6) {
                const double* box = solids.constData() + b;
                if (cx > box[0] && cx < box[3] && cy > box[1] && cy < box[4])
                    QVERIFY2(s->box[5] <= box[2] + 1e-6 || s->box[2] >= box[5] - 1e-6,
                             qPrintable(QString("column %1..%2 at %3 %4").arg(s->box[2]).arg(s->box[5]).arg(cx).arg(cy)));
            }
        }
    }

    void invisibleModelsGetNone()
    {
        addModel(testmesh::voxels({{1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {2, 0, 1}, {0, 1, 1}, {1, 1, 1}, {2, 1, 1},
                                   {0, 2, 1}, {1, 2, 1}, {2, 2, 1}}, 5.0), "hidden", false);
        QVERIFY(autoSupport(2.2, 60.0));
        QCOMPARE(AppData::instance()->supportCount(), 0);
    }

    void timeLimit()
    {
        addModel(testmesh::box(2, 2, 1, 10.0), "slow");
        // A stop request ends the run without supports.
        g_jobState = 1;
        const AutoSupportResult r = findAutoSupports({AppData::instance()->getModel(0)}, 2.2, 60.0);
        QVERIFY(!r.ok);
        QVERIFY(r.columns.empty());
        g_jobState = 0;
    }

    void rays_data()
    {
        QTest::addColumn<QVector<double>>("ray");
        QTest::addColumn<bool>("hit");
        QTest::addColumn<double>("t");
        // Box 0..1 on every axis.
        QTest::newRow("through") << QVector<double>{-1, 0.5, 0.5, 1, 0, 0} << true << 1.0;
        QTest::newRow("parallel outside") << QVector<double>{-1, 2, 0.5, 1, 0, 0} << false << 0.0;
        QTest::newRow("parallel inside slab") << QVector<double>{0.5, 0.5, -3, 0, 0, 1} << true << 3.0;
        QTest::newRow("origin inside") << QVector<double>{0.5, 0.5, 0.5, 0, 0, 2} << true << -0.25;
    }

    void rays()
    {
        QFETCH(QVector<double>, ray);
        QFETCH(bool, hit);
        QFETCH(double, t);
        const double box[6] = {0, 0, 0, 1, 1, 1};
        double got = 0;
        QCOMPARE(rayBoxSlab(ray.constData(), box, got), hit);
        if (hit)
            QCOMPARE(got, t);
    }

    void rayTriangleEdgesAndAngle()
    {
        const Eigen::Vector3d a(0, 0, 0), b(1, 0, 0), c(0, 1, 0);
        double t = 0;
        const double onEdge[6] = {1.0, 0.0, -1.0, 0, 0, 1}; // u = 1 exactly
        QVERIFY(rayTriangle(onEdge, a, b, c, t, 0.0));
        QCOMPARE(t, 1.0);
        const double outside[6] = {1.01, 0.0, -1.0, 0, 0, 1};
        QVERIFY(!rayTriangle(outside, a, b, c, t, 0.0));
        // A flat face needs support at 60 degrees: t negated.
        const double up[6] = {0.2, 0.2, -1.0, 0, 0, 1};
        QVERIFY(rayTriangle(up, a, b, c, t, 60.0));
        QCOMPARE(t, -1.0);
        // A face at 45 degrees does not.
        const Eigen::Vector3d d(0, 1, 1);
        QVERIFY(rayTriangle(up, a, b, d, t, 60.0));
        QVERIFY(t > 0);
    }

    void rayIntersectTransformedModel()
    {
        // 10 mm cube scaled by 2 in X and turned 90 degrees about Z: 10 wide in X, 20 in Y.
        MeshModel* m = addModel(testmesh::box(1, 1, 1, 10.0), "t");
        m->setAxisScale(0, 2.0);
        const double angles[3] = {0, 0, 90};
        m->setRotation(angles, true);
        const double cx = (m->box[0] + m->box[3]) / 2, cy = (m->box[1] + m->box[4]) / 2;
        QVERIFY(std::fabs(m->size[1] - 20.0) < 1e-9);
        std::vector<std::array<double, 4>> hits;
        const double ray[6] = {cx, cy + 9.0, -5.0, 0, 0, 1};
        QVERIFY(rayIntersectModel(ray, m, hits, 0.0));
        QCOMPARE(int(hits.size()), 2);
        std::sort(hits.begin(), hits.end(), [](auto& p, auto& q) { return p[2] < q[2]; });
        QVERIFY(std::fabs(hits[0][2] - m->box[2]) < 1e-9);
        QVERIFY(std::fabs(hits[1][2] - m->box[5]) < 1e-9);
        QVERIFY(std::fabs(hits[0][1] - (cy + 9.0)) < 1e-9);
        double t = 0;
        QVERIFY(rayHitsModel(ray, m, t));
        QVERIFY(std::fabs(t - (m->box[2] + 5.0)) < 1e-9);
        const double miss[6] = {cx + 6.0, cy, -5.0, 0, 0, 1};
        QVERIFY(!rayHitsModel(miss, m, t));
    }
};

QTEST_GUILESS_MAIN(TestAutoSupport)
#include "tst_autosupport.moc"
