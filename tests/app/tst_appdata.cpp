#include <QtTest>

#include <QTemporaryDir>

#include <functional>

#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "common/TestTime.h"

namespace {

// A unit cube at the origin, as a reader would hand it over.
MeshModel* cubeModel(const std::string& name, double x = 0.0)
{
    auto* mesh = new MeshData();
    for (int i = 0; i < 8; ++i)
        mesh->vertices.push_back({x + double(i & 1), double((i >> 1) & 1), double((i >> 2) & 1)});
    const int f[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                          {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (auto& t : f)
        mesh->faces.push_back({t[0], t[1], t[2]});
    auto* m = new MeshModel();
    m->name = name;
    m->setMeshSlot(MeshList::instance()->add(mesh));
    return m;
}

QStringList names()
{
    QStringList out;
    for (MeshModel* m : AppData::instance()->getModels())
        out << QString::fromStdString(m->name);
    return out;
}

} // namespace

class TestAppData : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void init() { AppData::instance()->setSettingsDir(dir.path()); }
    void cleanup()
    {
        AppData::instance()->clearModels(true);
        MeshList::clear(true);
    }

    void uniqueNames_data()
    {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("withinMs"); // 0: no bound
        QTest::newRow("three cubes") << QStringList{"cube", "cube", "cube"}
                                     << QStringList{"cube", "cube(1)", "cube(2)"} << 0;
        QTest::newRow("numbered") << QStringList{"cube(2)", "cube(2)"} << QStringList{"cube(2)", "cube(3)"} << 0;
        QTest::newRow("taken number skipped") << QStringList{"a", "a(1)", "a"} << QStringList{"a", "a(1)", "a(2)"} << 0;
        QTest::newRow("bracket only") << QStringList{"(5)", "(5)"} << QStringList{"(5)", "(5)(1)"} << 0;
        QTest::newRow("long number") << QStringList{"p(1234)", "p(1234)"} << QStringList{"p(1234)", "p(1234)(1)"} << 0;
        // Numbers taken after a search went past them are still skipped.
        QTest::newRow("numbers taken between repeats")
            << QStringList{"b", "b", "b(3)", "b(2)", "b", "b"} << QStringList{"b", "b(1)", "b(3)", "b(2)", "b(4)", "b(5)"} << 0;
        QTest::newRow("lower start after a higher one")
            << QStringList{"c(5)", "c(5)", "c", "c"} << QStringList{"c(5)", "c(6)", "c", "c(1)"} << 0;
        // A file of many copies of one model: each copy must not try every number before it.
        QStringList many{"model"}, numbered{"model"};
        for (int i = 1; i < 10000; ++i) {
            many << "model";
            numbered << QStringLiteral("model(%1)").arg(i);
        }
        QTest::newRow("10,000 of one name") << many << numbered << 1500;
    }
    void uniqueNames()
    {
        QFETCH(QStringList, given);
        QFETCH(QStringList, expected);
        QFETCH(int, withinMs);
        std::vector<MeshModel*> added;
        for (const QString& n : given)
            added.push_back(cubeModel(n.toStdString()));
        AppData::instance()->addModels(added);
        QElapsedTimer t;
        t.start();
        AppData::instance()->makeNamesUnique();
        const qint64 ms = t.elapsed();
        QCOMPARE(names(), expected);
        if (withinMs > 0)
            QVERIFY2(ms < TestTime::waitMs(withinMs), qPrintable(QStringLiteral("%1 ms").arg(ms)));
    }

    void addKeepsPlaceAndSelection()
    {
        AppData* d = AppData::instance();
        d->addModel(cubeModel("a", 30.0));
        d->selectModel(0);
        MeshModel* b = cubeModel("b", -40.0);
        const auto before = b->getBottomCenter();
        d->addModel(b);
        QCOMPARE(d->getSelectedIndex(), 0);
        QCOMPARE(b->getBottomCenter(), before);
    }

    void removalMovesSelection()
    {
        AppData* d = AppData::instance();
        for (const char* n : {"a", "b", "c"})
            d->addModel(cubeModel(n));
        d->selectModel(2);
        d->removeModel(2);
        QCOMPARE(d->getSelectedIndex(), 1);
        d->selectModel(0);
        d->removeModel(0);
        QCOMPARE(d->getSelectedIndex(), 0);
        QCOMPARE(names(), QStringList{"b"});
        d->removeModelByName("nothing");
        QCOMPARE(names(), QStringList{"b"});
        d->removeModel(5);
        QCOMPARE(d->modelCount(), 1);
        // The index may outlive the model: the selection is then "none".
        d->selectModel(3);
        QVERIFY(d->getSelectedModel() == nullptr);
        QCOMPARE(d->getSelectedModelName(), std::string());
    }

    void selectedCentreWithoutModel()
    {
        AppData* d = AppData::instance();
        d->setBoxSize(145, 145, 140, 150, 175);
        d->setChoiceType(1);
        QCOMPARE(d->getSelectedCenter()[2], 70.0);
        d->setChoiceType(2);
        QCOMPARE(d->getSelectedCenter()[2], 87.5);
    }

    void supportsAndMeshFreeing()
    {
        AppData* d = AppData::instance();
        d->addModel(cubeModel("cube"));
        const double foot[3] = {0.5, 0.5, 0.0};
        MeshModel* work = d->getWorkingObject();
        work->ownerName = "cube";
        work->buildSupportBox(foot, 5.0, true);
        const int column = work->supportSlot;
        QVERIFY(column >= 0);
        // The column being edited is not referenced by anything yet, but must survive.
        d->freeUnusedMeshes();
        QVERIFY(MeshList::instance()->at(column) != nullptr);
        d->commitSupport();
        QCOMPARE(d->getModel(0)->hasSupport, 1);
        QCOMPARE(d->supportCount(), 1);
        const auto points = d->getSupportPoints();
        QCOMPARE(points.size(), size_t(1));
        QCOMPARE(points[0][2], 5.0);
        d->removeSupportsOf("cube");
        QCOMPARE(d->supportCount(), 0);
        QVERIFY(MeshList::instance()->at(column) == nullptr);
        d->updateSupportFlag("cube");
        QCOMPARE(d->getModel(0)->hasSupport, 0);
        // A mesh nobody refers to is freed; the model's own stays.
        const int orphan = MeshList::instance()->add(new MeshData());
        d->refresh();
        QVERIFY(MeshList::instance()->at(orphan) == nullptr);
        QVERIFY(d->getModel(0)->getMesh() != nullptr);
    }

    // Whatever changes what is printed moves the digest a slice is checked against.
    void plateRevisionFollowsThePrint_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* c : {"move", "rotate", "scale", "mirror", "hide", "show", "support added", "support removed",
                              "printer model", "nothing"})
            QTest::newRow(c) << QString(c);
    }
    void plateRevisionFollowsThePrint()
    {
        QFETCH(QString, change);
        AppData* d = AppData::instance();
        d->setChoiceType(1);
        MeshModel* m = cubeModel("cube");
        d->addModel(m);
        m->visible = change != "show";
        const double foot[3] = {0.5, 0.5, 0.0}, by[3] = {1.0, 0.0, 0.0};
        d->getWorkingObject()->ownerName = "cube";
        d->getWorkingObject()->buildSupportBox(foot, 5.0, false);
        if (change == "support removed")
            d->commitSupport();
        const uint64_t before = d->plateRevision();
        const QHash<QString, std::function<void()>> changes{
            {"move", [&] { m->translate(by); }}, {"rotate", [&] { m->setAxisRotation(2, 90.0); }},
            {"scale", [&] { m->setScale(2.0); }}, {"mirror", [&] { m->scale[1] = -1.0; }},
            {"hide", [&] { m->visible = false; }}, {"show", [&] { m->visible = true; }},
            {"support added", [&] { d->commitSupport(); }}, {"support removed", [&] { d->removeAllSupports(); }},
            {"printer model", [&] { d->setChoiceType(2); }}, {"nothing", [] {}}};
        changes[change]();
        QCOMPARE(d->plateRevision() != before, change != "nothing");
    }

    void mergeVisibleModels()
    {
        AppData* d = AppData::instance();
        d->addModel(cubeModel("a"));
        d->addModel(cubeModel("b", 10.0));
        d->addModel(cubeModel("c", 20.0));
        d->getModel(1)->visible = false;
        const double shift[3] = {0.0, 0.0, 5.0};
        d->getModel(2)->translate(shift);
        MeshData merged;
        merged.vertices.push_back({9, 9, 9});
        d->mergeVisibleModels(merged);
        QCOMPARE(merged.vertices.size(), size_t(16));
        QCOMPARE(merged.faces.size(), size_t(24));
        QCOMPARE(merged.faces[12][0] >= 8, true);
        double maxZ = 0;
        for (const auto& v : merged.vertices)
            maxZ = std::max(maxZ, v[2]);
        QCOMPARE(maxZ, 6.0);
        QCOMPARE(d->countVisibleModels(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAppData)
#include "tst_appdata.moc"
