// Picking and mouse editing of the view, driven with synthesized mouse events (under Xvfb:
// the camera takes its size from the shown GL widget). Gizmo pixels are found by projecting
// the arrow and ring points, so the picks are checked against what the renderer draws.
#include <QtTest>

#include <QOpenGLContext>

#include <cmath>

#include "render/GLWidget.h"
#include "render/RenderEngine.h"
#include "scene/AppData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "testutil_scene.h"

class TestPicking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void arrowTipsPickTheirAxis_data();
    void arrowTipsPickTheirAxis();
    void ringPointsPickTheirRing_data();
    void ringPointsPickTheirRing();
    void hiddenModelsAreNotPicked();
    void moveDrag_data();
    void moveDrag();
    void rotateDrag_data();
    void rotateDrag();
    void scaleDrag_data();
    void scaleDrag();
    void guardAskedOncePerPress();
    void supportsQuestionBeforeDrag();
    void rightClickSelection_data();
    void rightClickSelection();
    void rightDragMovesOnThePlate();
    void cutPlaneDrag();
    void supportColumn_data();
    void supportColumn();
    void supportPlacedAndDeletedByClick();

private:
    QPointF pixel(const QVector3D& p);
    void send(QEvent::Type type, const QPointF& at, Qt::MouseButton button, Qt::MouseButtons held);
    // Press at a, move to b in a few steps, release.
    void drag(const QPointF& a, const QPointF& b, Qt::MouseButton button = Qt::LeftButton, int steps = 4);
    MeshModel* addBox(const char* name, const double lo[3], const double hi[3]);
    QVector3D centroid(const MeshModel* m);

    std::unique_ptr<GLWidget> view;
    FakeViewHost host;
};

void TestPicking::initTestCase()
{
    AppData::instance()->setChoiceType(1);
    AppData::instance()->setBoxSize(145, 145, 140, 150, 290);
    view = std::make_unique<GLWidget>();
    view->setHost(&host);
    view->resize(800, 600);
    view->show();
    QVERIFY2(QTest::qWaitForWindowExposed(view.get()), "the view's window was never shown");
    view->grabFramebuffer();
    QVERIFY2(view->getCamera().width == view->width() && view->getCamera().height == view->height(),
             "the camera never got the view's size: run under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1");
}

void TestPicking::init()
{
    RenderTest::clearScene();
    host = FakeViewHost();
    AppData::instance()->setSupportEditing(false);
    AppData::instance()->setSupportDeleting(false);
    AppData::instance()->setSelectionEnabled(true);
    view->setViewDirect(0);
}

void TestPicking::cleanupTestCase()
{
    view.reset();
    RenderTest::clearScene();
}

QPointF TestPicking::pixel(const QVector3D& p)
{
    QPointF px;
    if (!view->getCamera().project(p, px))
        return QPointF(-1, -1);
    return px;
}

void TestPicking::send(QEvent::Type type, const QPointF& at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent e(type, at, view->mapToGlobal(at.toPoint()), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &e);
}

void TestPicking::drag(const QPointF& a, const QPointF& b, Qt::MouseButton button, int steps)
{
    send(QEvent::MouseButtonPress, a, button, button);
    for (int i = 1; i <= steps; ++i)
        send(QEvent::MouseMove, a + (b - a) * (double(i) / steps), Qt::NoButton, button);
    send(QEvent::MouseButtonRelease, b, button, Qt::NoButton);
}

MeshModel* TestPicking::addBox(const char* name, const double lo[3], const double hi[3])
{
    MeshModel* m = RenderTest::addBoxModel(lo, hi);
    m->name = name;
    return m;
}

QVector3D TestPicking::centroid(const MeshModel* m)
{
    const auto c = m->getCentroid();
    return QVector3D(c[0], c[1], c[2]);
}

namespace {
const double cubeLo[3] = {-10, -10, 0}, cubeHi[3] = {10, 10, 20};

QVector3D unit(int k)
{
    return QVector3D(k == 0, k == 1, k == 2);
}

// Point of ring k at angle a (degrees), as the renderer lays the rings out.
QVector3D ringPoint(int k, const QVector3D& c, float r, double a)
{
    const float co = float(r * std::cos(a * M_PI / 180)), si = float(r * std::sin(a * M_PI / 180));
    if (k == 0)
        return c + QVector3D(0, co, si);
    if (k == 1)
        return c + QVector3D(co, 0, si);
    return c + QVector3D(si, co, 0);
}
} // namespace

void TestPicking::arrowTipsPickTheirAxis_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("preset");
    for (int k = 0; k < 3; ++k)
        QTest::addRow("axis %d oblique", k) << k << 0;
    // From the left the X arrow points at the eye and has no tip to click.
    QTest::newRow("axis 1 from the left") << 1 << 4;
    QTest::newRow("axis 2 from the left") << 2 << 4;
}

void TestPicking::arrowTipsPickTheirAxis()
{
    QFETCH(int, axis);
    QFETCH(int, preset);
    view->setViewDirect(preset);
    MeshModel* m = addBox("box", cubeLo, cubeHi);
    const float r = float(m->getViewRadius());
    const QVector3D tip = centroid(m) + 1.3f * r * unit(axis);
    float picked, plane;
    view->pickMoveAxis(view->pickRay(pixel(tip).x(), pixel(tip).y()), picked, plane);
    QCOMPARE(int(picked), axis);
    QVERIFY(int(plane) != axis && plane >= 0 && plane <= 2);
    // Far beside the arrow, or without a selected model, nothing is picked.
    const QPointF beside = pixel(centroid(m) + 3.0f * r * unit(axis)) + QPointF(0, 40);
    view->pickMoveAxis(view->pickRay(beside.x(), beside.y()), picked, plane);
    QCOMPARE(int(picked), -1);
    AppData::instance()->selectModel(-1, 1);
    view->pickMoveAxis(view->pickRay(pixel(tip).x(), pixel(tip).y()), picked, plane);
    QCOMPARE(int(picked), -1);
}

void TestPicking::ringPointsPickTheirRing_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<double>("angle");
    for (int k = 0; k < 3; ++k)
        for (double a : {30.0, 150.0, 220.0, 310.0})
            QTest::addRow("ring %d at %g", k, a) << k << a;
}

void TestPicking::ringPointsPickTheirRing()
{
    QFETCH(int, axis);
    QFETCH(double, angle);
    MeshModel* m = addBox("box", cubeLo, cubeHi);
    const QVector3D c = centroid(m);
    const float r = float(m->getViewRadius());
    const QVector3D p = ringPoint(axis, c, r, angle);
    const QPointF px = pixel(p);
    const QVector4D hit = view->pickRotateRing(view->pickRay(px.x(), px.y()));
    QCOMPARE(int(hit.w()), axis);
    QVERIFY2((hit.toVector3D() - p).length() < 0.05f * r, qPrintable(QString::number((hit.toVector3D() - p).length())));
    // Well inside the rings nothing is picked.
    const QPointF centre = pixel(c);
    QCOMPARE(int(view->pickRotateRing(view->pickRay(centre.x(), centre.y())).w()), -1);
}

void TestPicking::hiddenModelsAreNotPicked()
{
    const double lo[3] = {30, -10, 0}, hi[3] = {50, 10, 20};
    addBox("a", cubeLo, cubeHi);
    MeshModel* b = addBox("b", lo, hi);
    const QPointF px = pixel(centroid(b));
    QCOMPARE(view->pickModel(view->pickRay(px.x(), px.y())), 1);
    b->visible = false;
    QCOMPARE(view->pickModel(view->pickRay(px.x(), px.y())), -1);
}

void TestPicking::moveDrag_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<float>("distance");
    QTest::newRow("x forward") << 0 << 12.0f;
    QTest::newRow("y back") << 1 << -8.0f;
    QTest::newRow("z up") << 2 << 15.0f;
}

void TestPicking::moveDrag()
{
    QFETCH(int, axis);
    QFETCH(float, distance);
    AppData::instance()->setEditMode(1);
    MeshModel* m = addBox("box", cubeLo, cubeHi);
    const auto before = m->position;
    const QVector3D tip = centroid(m) + 1.3f * float(m->getViewRadius()) * unit(axis);
    drag(pixel(tip), pixel(tip + distance * unit(axis)));
    for (int k = 0; k < 3; ++k) {
        const double moved = m->position[size_t(k)] - before[size_t(k)];
        QVERIFY2(std::fabs(moved - (k == axis ? distance : 0.0)) < 0.05,
                 qPrintable(QString("axis %1 moved %2").arg(k).arg(moved)));
    }
    QVERIFY(host.statusUpdates > 0);
    QVERIFY(!view->isMoveDragging());
    // In rotate mode the same drag over an arrow moves nothing.
    AppData::instance()->setEditMode(2);
    const auto now = m->position;
    const QVector3D tip2 = centroid(m) + 1.3f * float(m->getViewRadius()) * unit(axis);
    drag(pixel(tip2), pixel(tip2 + distance * unit(axis)));
    QCOMPARE(m->position, now);
}

void TestPicking::rotateDrag_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::newRow("z by 40") << 2 << 20.0 << 60.0;
    QTest::newRow("x by 30") << 0 << 20.0 << 50.0;
    QTest::newRow("y back by 25") << 1 << 200.0 << 175.0;
}

void TestPicking::rotateDrag()
{
    QFETCH(int, axis);
    QFETCH(double, from);
    QFETCH(double, to);
    AppData::instance()->setEditMode(2);
    const double lo[3] = {-15, -5, 0}, hi[3] = {15, 5, 10};
    MeshModel* m = addBox("box", lo, hi);
    const QVector3D c = centroid(m);
    const float r = float(m->getViewRadius());
    drag(pixel(ringPoint(axis, c, r, from)), pixel(ringPoint(axis, c, r, to)));
    // Along the x ring the angle runs from y to z (a positive turn about x); along the y ring
    // from x to z and along the z ring from y to x, both negative turns.
    const double turned = (axis == 0 ? to - from : from - to);
    double got = m->rotationAngles[size_t(axis)];
    if (got > 180)
        got -= 360;
    QVERIFY2(std::fabs(got - turned) < 1.0, qPrintable(QString("turned %1, expected %2").arg(got).arg(turned)));
    for (int k = 0; k < 3; ++k)
        if (k != axis)
            QCOMPARE(m->rotationAngles[size_t(k)], 0.0);
    // The rotation keeps the centroid, so the rings stay where they were.
    QVERIFY((centroid(m) - c).length() < 1e-3f);
}

void TestPicking::scaleDrag_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<float>("to"); // target along the axis, in arrow lengths from the centroid
    QTest::addColumn<bool>("refused");
    QTest::newRow("x grows") << 0 << 1.5f << false;
    QTest::newRow("y shrinks") << 1 << 0.5f << false;
    QTest::newRow("z grows") << 2 << 1.2f << false;
    QTest::newRow("x to the centre") << 0 << 0.0f << true;
    QTest::newRow("y past the centre") << 1 << -0.5f << true;
    QTest::newRow("z below the bottom") << 2 << -0.6f << true;
}

void TestPicking::scaleDrag()
{
    QFETCH(int, axis);
    QFETCH(float, to);
    QFETCH(bool, refused);
    AppData::instance()->setEditMode(3);
    MeshModel* m = addBox("box", cubeLo, cubeHi);
    const QVector3D c = centroid(m);
    const float len = 1.3f * float(m->getViewRadius());
    const auto bottom = m->getBottomCenter();
    // Uniform scale by how far the grip moved from the bottom centre along the axis.
    const double factor = refused ? 1.0 : (c[axis] + to * len - bottom[size_t(axis)]) / (c[axis] + len - bottom[size_t(axis)]);
    // One step, so that a refused target is not reached through accepted ones.
    drag(pixel(c + len * unit(axis)), pixel(c + to * len * unit(axis)), Qt::LeftButton, 1);
    for (int k = 0; k < 3; ++k) {
        QVERIFY2(std::fabs(m->scale[size_t(k)] - factor) < 0.01,
                 qPrintable(QString("scale %1 is %2, expected %3").arg(k).arg(m->scale[size_t(k)]).arg(factor)));
        QVERIFY(std::isfinite(m->box[size_t(k)]) && std::isfinite(m->box[size_t(k + 3)]));
    }
    // The model grows and shrinks about its bottom centre.
    QVERIFY(std::fabs(m->getBottomCenter()[2] - bottom[2]) < 1e-3);
}

void TestPicking::guardAskedOncePerPress()
{
    AppData::instance()->setEditMode(1);
    MeshModel* m = addBox("box", cubeLo, cubeHi);
    const auto before = m->position;
    const float yaw = view->getCamera().yaw;
    host.eraseAnswer = false;
    const QVector3D tip = centroid(m) + 1.3f * float(m->getViewRadius()) * unit(0);
    drag(pixel(tip), pixel(tip + 10.0f * unit(0)));
    QCOMPARE(host.eraseQuestions, 1);
    QCOMPARE(m->position, before);
    // The refused press is swallowed: no orbit either.
    QCOMPARE(view->getCamera().yaw, yaw);
    // Refusing to leave support mode stops the drag the same way.
    host.eraseAnswer = true;
    host.quitSupportAnswer = false;
    drag(pixel(tip), pixel(tip + 10.0f * unit(0)));
    QCOMPARE(host.eraseQuestions, 2);
    QCOMPARE(m->position, before);
    // An orbit (no arrow under the press) asks nothing.
    drag(QPointF(20, 20), QPointF(60, 30));
    QCOMPARE(host.eraseQuestions, 2);
    QVERIFY(view->getCamera().yaw != yaw);
}

void TestPicking::supportsQuestionBeforeDrag()
{
    AppData* app = AppData::instance();
    app->setEditMode(1);
    MeshModel* m = addBox("box", cubeLo, cubeHi);
    auto* s = new MeshModel;
    s->isSupport = true;
    s->ownerName = "box";
    const double foot[3] = {0, 0, 0};
    s->buildSupportBox(foot, 5.0, false);
    app->commitSupport(s);
    QCOMPARE(m->hasSupport, 1);
    const auto before = m->position;
    const QVector3D tip = centroid(m) + 1.3f * float(m->getViewRadius()) * unit(0);
    host.deleteSupportsAnswer = false;
    drag(pixel(tip), pixel(tip + 10.0f * unit(0)));
    QCOMPARE(host.supportQuestions, 1);
    QCOMPARE(app->supportCount(), 1);
    QCOMPARE(m->position, before);
    // Yes removes the supports; that press is still swallowed, the next one drags.
    host.deleteSupportsAnswer = true;
    drag(pixel(tip), pixel(tip + 10.0f * unit(0)));
    QCOMPARE(host.supportQuestions, 2);
    QCOMPARE(app->supportCount(), 0);
    QCOMPARE(m->hasSupport, 0);
    QCOMPARE(m->position, before);
    drag(pixel(tip), pixel(tip + 10.0f * unit(0)));
    QCOMPARE(host.supportQuestions, 2);
    QVERIFY(std::fabs(m->position[0] - before[0] - 10.0) < 0.05);
}

void TestPicking::rightClickSelection_data()
{
    QTest::addColumn<int>("taskState");
    QTest::addColumn<bool>("selects");
    QTest::newRow("idle") << 0 << true;
    QTest::newRow("loading") << 1 << true;
    QTest::newRow("print-task file ready") << 2 << false;
    QTest::newRow("slicing") << 3 << false;
}

void TestPicking::rightClickSelection()
{
    QFETCH(int, taskState);
    QFETCH(bool, selects);
    const double lo[3] = {30, -10, 0}, hi[3] = {50, 10, 20};
    addBox("a", cubeLo, cubeHi);
    MeshModel* b = addBox("b", lo, hi);
    QCOMPARE(AppData::instance()->getSelectedIndex(), 0);
    host.state = taskState;
    const QPointF px = pixel(centroid(b));
    send(QEvent::MouseButtonPress, px, Qt::RightButton, Qt::RightButton);
    send(QEvent::MouseButtonRelease, px, Qt::RightButton, Qt::NoButton);
    QCOMPARE(AppData::instance()->getSelectedIndex(), selects ? 1 : 0);
    QCOMPARE(host.eraseQuestions, selects ? 1 : 0);
}

void TestPicking::rightDragMovesOnThePlate()
{
    view->setViewDirect(5); // straight from above: screen right is +x, screen up is +y
    MeshModel* m = addBox("box", cubeLo, cubeHi);
    const auto before = m->position;
    const QPointF a = pixel(centroid(m));
    drag(a, a + QPointF(40, -20), Qt::RightButton);
    const double dx = m->position[0] - before[0], dy = m->position[1] - before[1];
    QVERIFY2(dx > 0 && dy > 0 && std::fabs(dx - 2 * dy) < 0.1 * dx,
             qPrintable(QString("moved %1, %2").arg(dx).arg(dy)));
    QCOMPARE(m->position[2], before[2]);
    // With a refused erase guard at the press nothing moves.
    host.eraseAnswer = false;
    const auto now = m->position;
    drag(a, a + QPointF(40, -20), Qt::RightButton);
    QCOMPARE(m->position, now);
}

void TestPicking::cutPlaneDrag()
{
    RenderEngine* r = view->getRenderer();
    QVERIFY2(r, "no renderer");
    AppData::instance()->setEditMode(4);
    addBox("box", cubeLo, cubeHi);
    r->setCutPosition(5.0f);
    QCOMPARE(r->cutAxis(), 2);
    // A press on the plane inside the machine's footprint grabs it; dragging up raises it.
    const QPointF on = pixel(QVector3D(0, -30, 5));
    send(QEvent::MouseButtonPress, on, Qt::LeftButton, Qt::LeftButton);
    QVERIFY(view->isCutPlaneDragging());
    send(QEvent::MouseMove, pixel(QVector3D(0, -30, 9)), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, pixel(QVector3D(0, -30, 9)), Qt::LeftButton, Qt::NoButton);
    QVERIFY2(r->cutPosition() > 6.0f, qPrintable(QString::number(r->cutPosition())));
    QCOMPARE(r->cutPosition() * 100.0f, std::trunc(r->cutPosition() * 100.0f));
    // Outside the footprint the press does not start a cut drag.
    const QPointF off = pixel(QVector3D(120, -30, r->cutPosition()));
    send(QEvent::MouseButtonPress, off, Qt::LeftButton, Qt::LeftButton);
    QVERIFY(!view->isCutPlaneDragging());
    send(QEvent::MouseButtonRelease, off, Qt::LeftButton, Qt::NoButton);
    AppData::instance()->setEditMode(0);
}

void TestPicking::supportColumn_data()
{
    QTest::addColumn<double>("z");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<bool>("onModel");
    QTest::addColumn<QString>("owner");
    // A box floating over the plate (20..30) and a second one above it (50..60).
    QTest::newRow("plate under the boxes") << 0.0 << 0.0 << 20.0 << true << "low";
    QTest::newRow("bottom of the low box") << 20.0 << 0.0 << 20.0 << true << "low";
    QTest::newRow("top of the low box") << 30.0 << 30.0 << 50.0 << true << "high";
    QTest::newRow("bottom of the high box") << 50.0 << 30.0 << 50.0 << true << "high";
    QTest::newRow("top of the high box") << 60.0 << 60.0 << 140.0 << false << "";
}

void TestPicking::supportColumn()
{
    QFETCH(double, z);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(bool, onModel);
    QFETCH(QString, owner);
    const double lo1[3] = {-10, -10, 20}, hi1[3] = {10, 10, 30};
    const double lo2[3] = {-10, -10, 50}, hi2[3] = {10, 10, 60};
    addBox("low", lo1, hi1);
    addBox("high", lo2, hi2);
    for (MeshModel* m : AppData::instance()->getModels())
        QVERIFY2(m->box[2] > 1.0, "the boxes were put on the plate");
    const double p[3] = {2.5, -3.0, z};
    double lo[3], hi[3];
    std::string name;
    bool ends = false;
    QVERIFY(view->computeSupportColumn(p, lo, hi, name, ends));
    QCOMPARE(lo[2], lower);
    QCOMPARE(hi[2], upper);
    QCOMPARE(lo[0], 2.5);
    QCOMPARE(hi[1], -3.0);
    QCOMPARE(ends, onModel);
    QCOMPARE(QString::fromStdString(name), owner);
}

void TestPicking::supportPlacedAndDeletedByClick()
{
    AppData* app = AppData::instance();
    view->setViewDirect(6); // from below the plate, looking up at the model's underside
    const double lo[3] = {-10, -10, 20}, hi[3] = {10, 10, 30};
    MeshModel* m = addBox("box", lo, hi);
    QVERIFY(m->box[2] > 1.0);
    app->setSupportEditing(true);
    const QPointF under = pixel(QVector3D(3, 4, float(m->box[2])));
    send(QEvent::MouseMove, under, Qt::NoButton, Qt::NoButton);
    QVERIFY(app->getWorkingObject()->drawn);
    // Refusing to erase the slice data places nothing; agreeing places the column.
    for (const bool agreed : {false, true}) {
        host.eraseAnswer = agreed;
        send(QEvent::MouseButtonPress, under, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, under, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(app->supportCount(), agreed ? 1 : 0);
    }
    MeshModel* s = app->getSupport(0);
    QCOMPARE(QString::fromStdString(s->getOwnerName()), QString("box"));
    QVERIFY(std::fabs(s->supportPoint[2] - m->box[2]) < 0.01);
    QVERIFY(std::fabs(s->supportPoint[0] - 3) < 0.1 && std::fabs(s->supportPoint[1] - 4) < 0.1);
    QCOMPARE(m->hasSupport, 1);
    QVERIFY(host.supportButtonUpdates > 0);
    app->setSupportEditing(false);

    // Deleting mode: the hovered support is marked, a click removes it.
    view->setViewDirect(0);
    app->setSupportDeleting(true);
    const QPointF at = pixel(QVector3D(3, 4, float(m->box[2]) / 2));
    send(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    QCOMPARE(view->getRenderer()->getHoveredSupport(), s->supportSlot);
    for (const bool agreed : {false, true}) {
        host.eraseAnswer = agreed;
        send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(app->supportCount(), agreed ? 0 : 1);
    }
    QCOMPARE(m->hasSupport, 0);
    app->setSupportDeleting(false);
}

QTEST_MAIN(TestPicking)
#include "tst_picking.moc"
