// The ray tests walk the face tree with the ray carried into the tree's frame; on random
// rays against scaled, turned and moved models they must find what testing every face finds.
#include <QtTest>

#include <cfloat>
#include <random>

#include "render/RayTests.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "testutil_scene.h"

class TestRayBrute : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { RenderTest::clearScene(); }
    void randomRays_data();
    void randomRays();
};

namespace {

// A soup of random triangles, so the tree has many leaves and overlapping boxes.
MeshData* randomSoup(std::mt19937& rng, int count)
{
    std::uniform_real_distribution<double> pos(-15.0, 15.0), off(-4.0, 4.0);
    auto* m = new MeshData;
    for (int i = 0; i < count; ++i) {
        const std::array<double, 3> c{pos(rng), pos(rng), pos(rng) + 15.0};
        for (int k = 0; k < 3; ++k)
            m->vertices.push_back({c[0] + off(rng), c[1] + off(rng), c[2] + off(rng)});
        m->faces.push_back({3 * i, 3 * i + 1, 3 * i + 2});
    }
    return m;
}

struct Brute
{
    double nearest = DBL_MAX;
    int hits = 0;
};

Brute bruteForce(const double ray[6], const MeshModel* model)
{
    Brute b;
    const MeshData* mesh = model->getMesh();
    const Eigen::Matrix4d toScene = model->getModelMatrix();
    for (const auto& f : mesh->faces) {
        Eigen::Vector3d v[3];
        for (int k = 0; k < 3; ++k) {
            const auto& p = mesh->vertices[size_t(f[k])];
            v[k] = (toScene * Eigen::Vector4d(p[0], p[1], p[2], 1.0)).head<3>();
        }
        double t;
        if (rayTriangle(ray, v[0], v[1], v[2], t, 0.0)) {
            ++b.hits;
            b.nearest = std::min(b.nearest, t);
        }
    }
    return b;
}

} // namespace

void TestRayBrute::randomRays_data()
{
    QTest::addColumn<QVector<double>>("scale");
    QTest::addColumn<QVector<double>>("angles");
    QTest::addColumn<QVector<double>>("move");
    QTest::addColumn<int>("triangles");
    QTest::addColumn<int>("rays");
    QTest::newRow("untouched") << QVector<double>{1, 1, 1} << QVector<double>{0, 0, 0} << QVector<double>{0, 0, 0}
                               << 400 << 600;
    QTest::newRow("scaled unevenly") << QVector<double>{2.5, 0.5, 1.5} << QVector<double>{0, 0, 0}
                                     << QVector<double>{0, 0, 0} << 400 << 600;
    QTest::newRow("turned and moved") << QVector<double>{1, 1, 1} << QVector<double>{30, 45, 100}
                                      << QVector<double>{12, -7, 3} << 400 << 600;
    QTest::newRow("everything") << QVector<double>{0.7, 1.8, 1.2} << QVector<double>{80, 10, 215}
                                << QVector<double>{-20, 5, 9} << 400 << 600;
    // Top nodes large enough to be split on several threads: no face lost or doubled.
    QTest::newRow("300,000 triangles") << QVector<double>{1, 1, 1} << QVector<double>{0, 0, 0}
                                       << QVector<double>{0, 0, 0} << 300000 << 40;
}

void TestRayBrute::randomRays()
{
    QFETCH(QVector<double>, scale);
    QFETCH(QVector<double>, angles);
    QFETCH(QVector<double>, move);
    QFETCH(int, triangles);
    QFETCH(int, rays);
    std::mt19937 rng(1234);
    auto* model = new MeshModel;
    model->name = "soup";
    model->setMeshSlot(MeshList::instance()->add(randomSoup(rng, triangles)));
    AppData::instance()->addModel(model);
    for (int k = 0; k < 3; ++k)
        model->setAxisScale(k, scale[k]);
    model->setRotation(angles.constData(), true);
    model->translate(move.constData());

    const double cx = (model->box[0] + model->box[3]) / 2, cy = (model->box[1] + model->box[4]) / 2,
                 cz = (model->box[2] + model->box[5]) / 2;
    std::normal_distribution<double> dir(0.0, 1.0);
    std::uniform_real_distribution<double> aim(-20.0, 20.0);
    int ray = 0, hitRays = 0;
    for (; ray < rays; ++ray) {
        // From a point outside the model towards a point near its centre.
        Eigen::Vector3d from(dir(rng), dir(rng), dir(rng));
        from = from.normalized() * 120.0 + Eigen::Vector3d(cx, cy, cz);
        const Eigen::Vector3d to(cx + aim(rng), cy + aim(rng), cz + aim(rng));
        const Eigen::Vector3d d = (to - from) * 0.01;
        const double line[6] = {from[0], from[1], from[2], d[0], d[1], d[2]};

        const Brute b = bruteForce(line, model);
        double t = 0;
        const bool hit = rayHitsModel(line, model, t);
        QCOMPARE(hit, b.hits > 0);
        std::vector<std::array<double, 4>> found;
        QCOMPARE(rayIntersectModel(line, model, found, 0.0), b.hits > 0);
        QCOMPARE(int(found.size()), b.hits);
        if (!hit)
            continue;
        ++hitRays;
        QVERIFY2(std::fabs(t - b.nearest) < 1e-9 * std::max(1.0, std::fabs(b.nearest)),
                 qPrintable(QString("ray %1: tree %2, every face %3").arg(ray).arg(t).arg(b.nearest)));
        for (const auto& h : found) {
            const Eigen::Vector3d onRay = from + h[3] * d;
            QVERIFY((onRay - Eigen::Vector3d(h[0], h[1], h[2])).norm() < 1e-6);
        }
    }
    // The rays must actually reach the model for the comparison to mean anything.
    QVERIFY2(hitRays > rays / 4, qPrintable(QString("%1 of %2 rays hit").arg(hitRays).arg(rays)));
}

QTEST_GUILESS_MAIN(TestRayBrute)
#include "tst_raybrute.moc"
