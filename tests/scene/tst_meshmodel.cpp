#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "scene/AppData.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {
// A closed box from (x0, y0, z0) to (x1, y1, z1), 8 vertices and 12 outward faces.
MeshData* box(double x0, double y0, double z0, double x1, double y1, double z1)
{
    auto* m = new MeshData();
    for (int i = 0; i < 8; ++i)
        m->vertices.push_back({i & 1 ? x1 : x0, i & 2 ? y1 : y0, i & 4 ? z1 : z0});
    m->faces = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    return m;
}

MeshModel* modelOf(MeshData* mesh)
{
    auto* model = new MeshModel();
    model->setMeshSlot(MeshList::instance()->add(mesh));
    return model;
}

bool near(double a, double b, double eps = 1e-9)
{
    return std::fabs(a - b) < eps;
}
} // namespace

class TestMeshModel : public QObject
{
    Q_OBJECT

    QTemporaryDir settings;

private slots:
    void init()
    {
        AppData* app = AppData::instance();
        app->setSettingsDir(settings.path());
        app->setChoiceType(1);
        app->setBoxSize(145, 145, 140, 150, 290);
    }
    void cleanup()
    {
        AppData::instance()->clearModels(true);
        MeshList::clear(true);
    }

    void freshModelHasIdentityMatrix()
    {
        MeshModel* m = modelOf(box(10, 20, 30, 14, 26, 38));
        QVERIFY(m->getModelMatrix().isApprox(Eigen::Matrix4d::Identity(), 1e-12));
        for (int k = 0; k < 3; ++k)
            QCOMPARE(m->getBoundValue(6 + k), m->getBoundValue(9 + k));
        QCOMPARE(m->getBoundValue(6), 12.0);
        QCOMPARE(m->getBoundValue(2), 30.0);
        QCOMPARE(m->getBoundValue(17), 38.0);
        QCOMPARE(m->getBoundValue(14), 4.0);
        QCOMPARE(m->getBoundValue(15), 2.0);
        QCOMPARE(m->getBoundValue(99), 0.0);
        QCOMPARE(m->getCentroid(), (std::array<float, 3>{12.f, 23.f, 34.f}));
        QCOMPARE(m->getBottomCenter(), (std::array<float, 3>{12.f, 23.f, 30.f}));
        delete m;
    }

    void scaleKeepsFootprintCentre()
    {
        MeshModel* m = modelOf(box(0, 0, 0, 10, 10, 10));
        const auto before = m->getBottomCenter();
        m->setScale(0.0);
        m->setScale(1e-6);
        QCOMPARE(m->scale, (std::array<double, 3>{1, 1, 1}));
        m->setScale(2.0);
        m->setScale(2.0);
        QCOMPARE(m->scale[0], 2.0);
        QCOMPARE(m->size[2], 20.0);
        QCOMPARE(m->getBottomCenter(), before);
        m->setAxisScale(1, 0.5);
        QCOMPARE(m->size[1], 5.0);
        QCOMPARE(m->getBottomCenter(), before);
        delete m;
    }

    void rotationOrderAndCentroid()
    {
        MeshModel* m = modelOf(box(0, 0, 0, 10, 20, 30));
        const auto c = m->getCentroid();
        const double angles[3] = {90, 0, 90};
        m->setRotation(angles, true);
        // About X first, then about Z: X goes to Y, Y to Z.
        const Eigen::Matrix3d r = m->getRotationMatrix().topLeftCorner<3, 3>();
        QVERIFY(r.col(0).isApprox(Eigen::Vector3d(0, 1, 0), 1e-12));
        QVERIFY(r.col(1).isApprox(Eigen::Vector3d(0, 0, 1), 1e-12));
        QCOMPARE(m->getCentroid(), c);
        QVERIFY(near(m->size[0], 30.0) && near(m->size[1], 10.0) && near(m->size[2], 20.0));

        const double nan3[3] = {NAN, 0, 0};
        m->setRotation(nan3, true);
        QVERIFY(r.isApprox(m->getRotationMatrix().topLeftCorner<3, 3>()));
        delete m;
    }

    void axisRotationTurnsByDifference()
    {
        MeshModel* m = modelOf(box(0, 0, 0, 10, 10, 10));
        const double angles[3] = {90, 0, 10};
        m->setRotation(angles, true);
        m->setAxisRotation(2, 30);
        QCOMPARE(m->rotationAngles[2], 30.0);
        // The turn is about the plate's Z, not about the model's own (tilted) axis.
        const auto turn = [](double deg, const Eigen::Vector3d& axis) {
            return Eigen::AngleAxisd(deg / 180 * M_PI, axis).toRotationMatrix();
        };
        const Eigen::Matrix3d expected = turn(30, Eigen::Vector3d::UnitZ()) * turn(90, Eigen::Vector3d::UnitX());
        const Eigen::Matrix3d got = m->getRotationMatrix().topLeftCorner<3, 3>();
        QVERIFY(got.isApprox(expected, 1e-12));
        delete m;
    }

    void insideVolume_data()
    {
        QTest::addColumn<int>("machine");
        QTest::addColumn<double>("bottom");
        QTest::addColumn<double>("side");
        QTest::addColumn<bool>("inside");
        QTest::addColumn<double>("x"); // centre
        QTest::newRow("box, slightly below the plate") << 1 << -0.0005 << 10.0 << true << 0.0;
        QTest::newRow("box, below the plate") << 1 << -0.002 << 10.0 << false << 0.0;
        QTest::newRow("box, as wide as the plate") << 1 << 0.0 << 145.0 << true << 0.0;
        QTest::newRow("box, wider than the plate") << 1 << 0.0 << 146.0 << false << 0.0;
        QTest::newRow("round, slightly below the plate") << 2 << -0.0005 << 10.0 << true << 0.0;
        QTest::newRow("round, below the plate") << 2 << -0.002 << 10.0 << false << 0.0;
        // A 110 mm square has corners 77.8 mm from the axis: outside a 150 mm circle.
        QTest::newRow("round, corners outside") << 2 << 0.0 << 110.0 << false << 0.0;
        // Off the axis, the far side of the box is what counts.
        QTest::newRow("round, off centre past the rim") << 2 << 0.0 << 10.0 << false << 72.0;
        QTest::newRow("round, off centre within") << 2 << 0.0 << 10.0 << true << -60.0;
    }

    void insideVolume()
    {
        QFETCH(int, machine);
        QFETCH(double, bottom);
        QFETCH(double, side);
        QFETCH(bool, inside);
        QFETCH(double, x);
        AppData::instance()->setChoiceType(machine);
        MeshModel* m = modelOf(box(x - side / 2, -side / 2, bottom, x + side / 2, side / 2, bottom + 10));
        QCOMPARE(m->isInsideVolume(), inside);
        m->setColour(true);
        const std::array<double, 3> in{72 / 255., 133 / 255., 174 / 255.}, out{203 / 255., 34 / 255., 32 / 255.};
        QCOMPARE(m->colour, inside ? in : out);
        delete m;
    }

    void exceedsVolume_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("z");
        QTest::addColumn<bool>("exceeds");
        QTest::newRow("too long on Y") << 100.0 << 200.0 << 50.0 << true;
        QTest::newRow("largest axis fits, height not tested") << 144.0 << 100.0 << 142.0 << false;
        QTest::newRow("too tall") << 10.0 << 10.0 << 141.0 << true;
    }

    void exceedsVolume()
    {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(double, z);
        QFETCH(bool, exceeds);
        MeshModel* m = modelOf(box(0, 0, 0, x, y, z));
        QCOMPARE(m->exceedsVolume(), exceeds);
        delete m;
    }

    void scaleToFit()
    {
        MeshModel* m = modelOf(box(0, 0, 0, 10, 290, 10));
        m->scaleToFit();
        QVERIFY(near(m->size[1], 0.75 * 145, 1e-9));
        // A flat model on the round machine: max Z of 0 must not divide by zero.
        AppData::instance()->setChoiceType(2);
        MeshModel* flat = modelOf(box(-1, -1, 0, 1, 1, 0));
        flat->scaleToFit();
        QCOMPARE(flat->scale[0], 1.0);
        delete m;
        delete flat;
    }

    void viewRadius()
    {
        MeshModel* m = modelOf(box(0, 0, 0, 5, 5, 5));
        QVERIFY(near(m->viewRadius, std::sqrt(3 * 2.5 * 2.5), 1e-6));
        QCOMPARE(m->getViewRadius(), 20.0);
        delete m;
    }

    void splitNameNumber_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("base");
        QTest::newRow("number") << "part(12)" << 12 << "part";
        QTest::newRow("empty brackets") << "part()" << 0 << "part";
        QTest::newRow("four digits") << "part(1234)" << 0 << "part(1234)";
        QTest::newRow("nothing before") << "(3)" << 0 << "(3)";
        QTest::newRow("letters") << "part(1a)" << 0 << "part(1a)";
        QTest::newRow("plain") << "cube" << 0 << "cube";
        QTest::newRow("bracket at 127") << QString(127, 'a') + "(4)" << 4 << QString(127, 'a');
        QTest::newRow("bracket at 128") << QString(128, 'a') + "(4)" << 0 << QString(128, 'a') + "(4)";
    }

    void splitNameNumber()
    {
        QFETCH(QString, name);
        QFETCH(int, number);
        QFETCH(QString, base);
        std::string b;
        QCOMPARE(MeshModel::splitNameNumber(name.toStdString(), b), number);
        QCOMPARE(QString::fromStdString(b), base);
    }

    void uniqueNames_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("unique");
        QTest::newRow("three cubes") << QStringList{"cube", "cube", "cube"} << QStringList{"cube", "cube(1)", "cube(2)"};
        QTest::newRow("numbered repeat") << QStringList{"cube(2)", "cube(2)"} << QStringList{"cube(2)", "cube(3)"};
        QTest::newRow("taken number skipped") << QStringList{"a", "a(1)", "a"} << QStringList{"a", "a(1)", "a(2)"};
        QTest::newRow("not split") << QStringList{"(5)", "(5)"} << QStringList{"(5)", "(5)(1)"};
    }

    void uniqueNames()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, unique);
        AppData* app = AppData::instance();
        for (const QString& n : names) {
            MeshModel* m = modelOf(box(0, 0, 0, 1, 1, 1));
            m->name = n.toStdString();
            app->addModel(m);
        }
        app->makeNamesUnique();
        QStringList got;
        for (const MeshModel* m : app->getModels())
            got << QString::fromStdString(m->name);
        QCOMPARE(got, unique);
    }

    void supportColumn()
    {
        MeshModel* s = new MeshModel();
        const double foot[3] = {5, 6, 1};
        s->buildSupportBox(foot, 10, true);
        QCOMPARE(s->supportPoint, (std::array<double, 3>{5, 6, 11}));
        QVERIFY(near(s->box[0], 4) && near(s->box[3], 6) && near(s->box[2], 1) && near(s->box[5], 11));
        QCOMPARE(s->outlineColour, (std::array<double, 3>{85 / 255., 199 / 255., 235 / 255.}));
        const int first = s->supportSlot;
        QVERIFY(s->getSupportMesh());
        QCOMPARE(s->getSupportMesh()->normals.size(), size_t(8));
        // A rebuild frees the old column.
        s->buildSupportBox(foot, 20, false);
        QVERIFY(near(s->box[5], 21) && near(s->box[2], 1));
        // Each height change moves the column's origin by half of it.
        QCOMPARE(s->getBoundValue(11), 10.0);
        QVERIFY(MeshList::instance()->at(first) == nullptr);
        QVERIFY(MeshList::instance()->at(s->supportSlot));
        delete s;
    }

    void copySharesMeshOnly()
    {
        MeshModel* m = modelOf(box(0, 0, 0, 10, 10, 10));
        m->supportSlot = MeshList::instance()->add(box(0, 0, -50, 1, 1, 0));
        m->updateBounds();
        m->buildBoundsTree();
        m->hasSupport = 1;
        m->name = "cube";
        QCOMPARE(m->box[2], -50.0);
        MeshModel* c = m->copy();
        QCOMPARE(c->meshSlot, m->meshSlot);
        QCOMPARE(c->supportSlot, -1);
        QCOMPARE(c->hasSupport, 0);
        QCOMPARE(c->name, std::string("cube"));
        QCOMPARE(c->box[2], 0.0);
        delete m;
        delete c;
    }

    void loadedModelCommit()
    {
        auto mesh = std::unique_ptr<MeshData>(box(100, 0, 0, 300, 10, 10));
        LoadedModel loaded = LoadedModel::fromMesh(std::move(mesh), "big");
        QVERIFY(loaded.isValid());
        // Everything heavy is done before the scene sees it.
        QCOMPARE(loaded.model->meshSlot, -1);
        QVERIFY(near(loaded.model->box[3], 300));
        QCOMPARE(MeshList::instance()->size(), 0);

        AppData* app = AppData::instance();
        app->selectModel(3);
        MeshModel* m = loaded.commit();
        QVERIFY(m);
        QCOMPARE(app->modelCount(), 1);
        QCOMPARE(app->getSelectedIndex(), 3);
        QVERIFY(m->getMesh());
        QCOMPARE(m->position[0], 200.0);
        QCOMPARE(m->fitPending, 1);
        QVERIFY(m->getModelMatrix().isApprox(Eigen::Matrix4d::Identity(), 1e-12));

        LoadedModel empty = LoadedModel::fromMesh(std::make_unique<MeshData>(), "none");
        QVERIFY(!empty.isValid());
        // A stopped load makes no model, even this late.
        const std::atomic<bool> stop{true};
        QVERIFY(!LoadedModel::fromMesh(std::unique_ptr<MeshData>(box(0, 0, 0, 10, 10, 10)), "stopped", &stop).isValid());
        QVERIFY(empty.commit() == nullptr);
        QCOMPARE(app->modelCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestMeshModel)
#include "tst_meshmodel.moc"
