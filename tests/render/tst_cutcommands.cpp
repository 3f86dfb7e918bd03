// The renderer's cut guard and commands and the overlay's labels, without a GL context.
#include <QtTest>

#include "render/RenderEngine.h"
#include "render/RenderGeometry.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"
#include "testutil_scene.h"

class TestCutCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();
    void guard_data();
    void guard();
    void refusedWithoutSelectedModel();
    void commands_data();
    void commands();
    void cutStartsOnlyInsideTheModel();
    void overlay_data();
    void overlay();
    void overlaySkipsLabelsWithoutRoom();

private:
    MeshModel* model = nullptr; // box 10..30 x 0..20 x 0..40
};

void TestCutCommands::init()
{
    RenderTest::clearScene();
    const double lo[3] = {10, 0, 0}, hi[3] = {30, 20, 40};
    model = RenderTest::addBoxModel(lo, hi);
    AppData::instance()->selectModel(0, 1);
}

void TestCutCommands::cleanupTestCase()
{
    RenderTest::clearScene();
}

void TestCutCommands::guard_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<float>("position");
    QTest::addColumn<bool>("refused");
    QTest::newRow("x inside") << 0 << 20.f << false;
    QTest::newRow("x just inside") << 0 << 10.01f << false;
    QTest::newRow("x at bound plus tolerance") << 0 << 10.0011f << true;
    QTest::newRow("x below") << 0 << 5.f << true;
    QTest::newRow("x above") << 0 << 30.f << true;
    QTest::newRow("y inside") << 1 << 19.9f << false;
    QTest::newRow("y at max") << 1 << 20.f << true;
    QTest::newRow("z inside") << 2 << 39.99f << false;
    QTest::newRow("z at floor") << 2 << 0.f << true;
}

void TestCutCommands::guard()
{
    QFETCH(int, axis);
    QFETCH(float, position);
    QFETCH(bool, refused);
    FakeViewHost host;
    RenderEngine r;
    r.setHost(&host);
    QVERIFY(r.cuttingCommand(axis));
    r.setCutPosition(position);
    QCOMPARE(r.isCutRefused(), refused);
    QCOMPARE(r.cutAxis(), axis);
    QCOMPARE(r.cutPosition(), position);
    // The section preview follows the guard.
    const bool previewed = !host.previews.empty() && host.previews.back().positionUm == int(double(position) * 1000.0);
    QCOMPARE(previewed, !refused);
}

void TestCutCommands::refusedWithoutSelectedModel()
{
    FakeViewHost host;
    RenderEngine r;
    r.setHost(&host);
    r.setCutPosition(20);
    QVERIFY(!r.isCutRefused());
    // The selected index outlives its model.
    AppData::instance()->selectModel(3, 1);
    QVERIFY(r.isCutRefused());
    QCOMPARE(r.cuttingCommand(3), false);
    QVERIFY(host.cuts.empty());
    RenderTest::clearScene();
    QVERIFY(r.isCutRefused());
    // Every axis, Z included, needs a model.
    for (int axis = 0; axis < 3; ++axis) {
        r.cuttingCommand(axis);
        QVERIFY(r.isCutRefused());
    }
}

void TestCutCommands::commands_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("planeShown");
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("jobState");
    QTest::newRow("axis x") << 0 << true << false << 0 << -1;
    QTest::newRow("axis y") << 1 << true << false << 1 << -1;
    QTest::newRow("show plane") << 4 << true << true << 2 << -1;
    QTest::newRow("hide plane") << 5 << true << false << 2 << -1;
    QTest::newRow("rebuild") << 6 << true << false << 2 << -1;
    QTest::newRow("stop request") << 7 << true << false << 2 << 1;
    QTest::newRow("job idle") << 8 << true << false << 2 << 0;
    QTest::newRow("nine refused") << 9 << false << false << 2 << -1;
    QTest::newRow("negative refused") << -1 << false << false << 2 << -1;
    QTest::newRow("large refused") << 1000 << false << false << 2 << -1;
}

void TestCutCommands::commands()
{
    QFETCH(int, command);
    QFETCH(bool, result);
    QFETCH(bool, planeShown);
    QFETCH(int, axis);
    QFETCH(int, jobState);
    FakeViewHost host;
    RenderEngine r;
    r.setHost(&host);
    QCOMPARE(r.cutAxis(), 2);
    QCOMPARE(r.cutPosition(), 5.0f);
    if (command == 5)
        r.cuttingCommand(4);
    QCOMPARE(r.cuttingCommand(command), result);
    QCOMPARE(r.isCutPlaneShown(), planeShown);
    QCOMPARE(r.cutAxis(), axis);
    QCOMPARE(host.jobState, jobState);
    QVERIFY(host.cuts.empty());
}

void TestCutCommands::cutStartsOnlyInsideTheModel()
{
    FakeViewHost host;
    RenderEngine r;
    r.setHost(&host);
    r.cuttingCommand(0);
    r.setCutPosition(50);
    QCOMPARE(r.cuttingCommand(3), false);
    QVERIFY(host.cuts.empty());
    r.setCutPosition(12.5f);
    QCOMPARE(r.cuttingCommand(3), true);
    QCOMPARE(int(host.cuts.size()), 1);
    QCOMPARE(host.cuts[0].positionUm, 12500);
    QCOMPARE(host.cuts[0].axis, 0);
    // A position that is no number is not taken.
    r.setCutPosition(std::nanf(""));
    QCOMPARE(r.cutPosition(), 12.5f);
}

void TestCutCommands::overlay_data()
{
    QTest::addColumn<int>("editMode");
    QTest::addColumn<int>("cutAxis");
    QTest::addColumn<QStringList>("texts");
    // Bottom centre (20, 10, 0), size 20 x 20 x 40, angles 0.
    QTest::newRow("none") << 0 << 2 << QStringList();
    QTest::newRow("move") << 1 << 2 << QStringList{"20.00mm", "10.00mm", "0.00mm"};
    QTest::newRow("rotate") << 2 << 2 << QStringList{"0°", "0°", "0°"};
    QTest::newRow("scale") << 3 << 2
                           << QStringList{QString::fromUtf8("宽:20.00mm"), QString::fromUtf8("长:20.00mm"),
                                          QString::fromUtf8("高:40.00mm")};
    QTest::newRow("cut z") << 4 << 2 << QStringList{"5.00mm"};
    QTest::newRow("cut x") << 4 << 0 << QStringList{"5.00mm"};
}

void TestCutCommands::overlay()
{
    QFETCH(int, editMode);
    QFETCH(int, cutAxis);
    QFETCH(QStringList, texts);
    AppData::instance()->setEditMode(editMode);
    QMatrix4x4 vp;
    vp.ortho(-200, 200, -200, 200, -500, 500); // everything near the plate is on screen
    PlateSize plate;
    const auto labels = RenderGeometry::overlayLabels(*AppData::instance(), vp, 800, 800, cutAxis, 5.0, plate);
    QStringList got;
    for (const auto& l : labels)
        got << l.text;
    QCOMPARE(got, texts);
    if (editMode >= 1 && editMode <= 3) {
        QCOMPARE(labels[0].colour, QColor(255, 0, 0));
        QCOMPARE(labels[1].colour, QColor(0, 255, 0));
        QCOMPARE(labels[2].colour, QColor(0, 0, 255));
    }
}

void TestCutCommands::overlaySkipsLabelsWithoutRoom()
{
    AppData::instance()->setEditMode(1);
    PlateSize plate;
    // A window that ends before the X arrow's tip (x = 51.8): its label is left out.
    QMatrix4x4 vp;
    vp.ortho(-100, 45, -100, 100, -500, 500);
    const auto kept = RenderGeometry::overlayLabels(*AppData::instance(), vp, 800, 800, 2, 5.0, plate);
    QCOMPARE(int(kept.size()), 2);
    QCOMPARE(kept[0].colour, QColor(0, 255, 0));
    QMatrix4x4 wide;
    wide.ortho(-200, 200, -200, 200, -500, 500);
    QVERIFY(RenderGeometry::overlayLabels(*AppData::instance(), wide, 0, 0, 2, 5.0, plate).empty());
    // A cut axis outside 0..2 says so in the cut mode.
    AppData::instance()->setEditMode(4);
    const auto labels = RenderGeometry::overlayLabels(*AppData::instance(), wide, 800, 800, 7, 5.0, plate);
    QCOMPARE(int(labels.size()), 1);
    QCOMPARE(labels[0].text, QStringLiteral("error"));
    // Values that round to nothing show as zero, never "-0.00".
    QCOMPARE(RenderGeometry::twoDecimals(-0.004), QStringLiteral("0.00"));
    QCOMPARE(RenderGeometry::twoDecimals(-0.006), QStringLiteral("-0.01"));
}

QTEST_MAIN(TestCutCommands)
#include "tst_cutcommands.moc"
