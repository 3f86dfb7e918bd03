#include <QtTest>

#include "cutting/CutWorkData.h"
#include "cutting/testutil_meshes.h"
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

} // namespace

class TestAutoSupport : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
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

        // On the plate: nothing.
        QTest::newRow("cube on plate") << testmesh::box(2, 2, 2, 10.0) << 60.0 << false << 0.0 << 0.0;
        // Bridge: a base, two pillars and a deck; the gap gets columns from the base's top.
        const MeshData bridge = testmesh::voxels({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0},
                                                  {0, 0, 1}, {4, 0, 1}, {0, 0, 2}, {4, 0, 2},
                                                  {0, 0, 3}, {1, 0, 3}, {2, 0, 3}, {3, 0, 3}, {4, 0, 3}},
                                                 5.0);
        QTest::newRow("bridge") << bridge << 60.0 << true << 5.0 << 15.0;
        QTest::newRow("bridge at 0") << bridge << 0.0 << true << 5.0 << 15.0;
        // Flat overhang: a slab on a post, standing above the plate.
        const MeshData shelf = testmesh::voxels({{1, 1, 0}, {1, 1, 1}, {0, 0, 2}, {1, 0, 2}, {2, 0, 2},
                                                 {0, 1, 2}, {1, 1, 2}, {2, 1, 2}, {0, 2, 2}, {1, 2, 2}, {2, 2, 2}},
                                                5.0);
        QTest::newRow("flat overhang") << shelf << 60.0 << true << 0.0 << 10.0;
        // A 45-degree overhang is steep enough at 60 degrees.
        QTest::newRow("45 degrees at 60") << prism({{0, 0}, {10, 0}, {20, 10}, {0, 10}}, 10.0) << 60.0 << false << 0.0 << 0.0;
        // The same wall needs support when the angle allows less.
        QTest::newRow("45 degrees at 30") << prism({{0, 0}, {10, 0}, {20, 10}, {0, 10}}, 10.0) << 30.0 << true << 0.0 << -1.0;
        QTest::newRow("45 degrees at 0") << prism({{0, 0}, {10, 0}, {20, 10}, {0, 10}}, 10.0) << 0.0 << true << 0.0 << -1.0;
    }

    void columns()
    {
        QFETCH(MeshData, mesh);
        QFETCH(double, angle);
        QFETCH(bool, expectColumns);
        QFETCH(double, bottom);
        QFETCH(double, top);
        MeshModel* model = addModel(mesh, "m");
        const double step = 2.0 * 1.1;
        QVERIFY(autoSupport(step, angle));
        AppData* app = AppData::instance();
        QCOMPARE(app->supportCount() > 0, expectColumns);
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
        }
        if (expectColumns && QByteArray(QTest::currentDataTag()).startsWith("bridge")) {
            // Columns stand only in the gap between the pillars.
            for (int i = 0; i < app->supportCount(); ++i) {
                const double cx = (app->getSupport(i)->box[0] + app->getSupport(i)->box[3]) / 2;
                QVERIFY(cx > 5.0 && cx < 20.0);
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
