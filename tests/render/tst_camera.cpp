// The view's camera without a GL context: presets, zoom, pan, the pick ray and the clip height.
#include <QtTest>

#include <cmath>

#include "render/GLWidget.h"
#include "render/ViewCamera.h"

class TestCamera : public QObject
{
    Q_OBJECT

private slots:
    void presets_data();
    void presets();
    void zoomLimits();
    void zeroSizedWidgetStaysFinite();
    void pickRayThroughProjectedPoint_data();
    void pickRayThroughProjectedPoint();
    void clipHeight_data();
    void clipHeight();
    void viewStartsShowingEveryLayer();
};

void TestCamera::presets_data()
{
    QTest::addColumn<int>("preset");
    QTest::addColumn<float>("yaw");
    QTest::addColumn<float>("pitch");
    QTest::addColumn<float>("panX");
    QTest::addColumn<float>("panY");
    // The starting state is (11, 22, 5, 6); unknown presets keep it.
    QTest::newRow("default") << 0 << -20.f << -70.f << 20.f << 30.f;
    QTest::newRow("front") << 1 << 0.f << -90.f << 20.f << 30.f;
    QTest::newRow("back") << 2 << 180.f << -90.f << 20.f << 30.f;
    QTest::newRow("right") << 3 << -90.f << -90.f << 20.f << 30.f;
    QTest::newRow("left") << 4 << 90.f << -90.f << 20.f << 30.f;
    QTest::newRow("top") << 5 << 0.f << 0.f << 20.f << 0.f;
    QTest::newRow("bottom") << 6 << 0.f << 180.f << 20.f << 0.f;
    QTest::newRow("seven keeps") << 7 << 11.f << 22.f << 5.f << 6.f;
    QTest::newRow("negative keeps") << -1 << 11.f << 22.f << 5.f << 6.f;
}

void TestCamera::presets()
{
    QFETCH(int, preset);
    QFETCH(float, yaw);
    QFETCH(float, pitch);
    QFETCH(float, panX);
    QFETCH(float, panY);
    ViewCamera c;
    c.resize(800, 600);
    c.yaw = 11;
    c.pitch = 22;
    c.panX = 5;
    c.panY = 6;
    c.zoom = -3.0;
    c.applyPreset(preset);
    QCOMPARE(c.yaw, yaw);
    QCOMPARE(c.pitch, pitch);
    QCOMPARE(c.panX, panX);
    QCOMPARE(c.panY, panY);
    QCOMPARE(c.zoom, 0.5);
    // The rotation follows the angles: pitch about X after yaw about Z.
    const QQuaternion expected =
        QQuaternion::fromAxisAndAngle(1, 0, 0, pitch) * QQuaternion::fromAxisAndAngle(0, 0, 1, yaw);
    QVERIFY(qFuzzyCompare(c.rotation.toVector4D(), expected.toVector4D()));
}

void TestCamera::zoomLimits()
{
    ViewCamera c;
    c.applyPreset(0);
    for (int i = 0; i < 4; ++i)
        c.wheel(-120);
    QCOMPARE(c.zoom, 0.9);
    QVERIFY(c.viewScale() > 0.09f);
    c.wheel(-1200);
    QCOMPARE(c.zoom, 0.9);
    // Forwards there is no stop.
    for (int i = 0; i < 30; ++i)
        c.wheel(120);
    QVERIFY(std::fabs(c.zoom - (0.9 - 3.0)) < 1e-9);
    QVERIFY(c.viewScale() > 3.0f);
}

static bool finite(const QVector3D& v)
{
    return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}

void TestCamera::zeroSizedWidgetStaysFinite()
{
    ViewCamera c;
    c.resize(0, 0);
    c.orbit(30, 40);
    c.pan(30, 40);
    QCOMPARE(c.yaw, -20.f);
    QVERIFY(std::isfinite(c.panX) && std::isfinite(c.panY));
    const PickRay r = c.pickRay(10, 10);
    QVERIFY(finite(r.origin) && finite(r.direction));
    // A zero height counts as one for the aspect: 400 wide gives aspect 400.
    c.resize(400, 0);
    QCOMPARE(c.aspect, 400.0);
    QVERIFY(std::isfinite(c.unitsToPixels) && c.unitsToPixels > 0);
    c.orbit(std::nanf(""), 1);
    QVERIFY(std::isfinite(c.yaw) && std::isfinite(c.pitch));
}

void TestCamera::pickRayThroughProjectedPoint_data()
{
    QTest::addColumn<int>("preset");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QVector3D>("point");
    QTest::addColumn<QSize>("size");
    QTest::newRow("default view, origin") << 0 << 0.5 << QVector3D(0, 0, 0) << QSize(800, 600);
    QTest::newRow("default view, corner") << 0 << 0.5 << QVector3D(60, -50, 30) << QSize(800, 600);
    QTest::newRow("front, zoomed in") << 1 << 0.0 << QVector3D(-20, 10, 70) << QSize(1024, 500);
    QTest::newRow("back, zoomed out") << 2 << 0.85 << QVector3D(30, 30, 5) << QSize(640, 900);
    QTest::newRow("top") << 5 << 0.3 << QVector3D(-40, 25, 0) << QSize(800, 800);
    QTest::newRow("bottom") << 6 << 0.3 << QVector3D(12, -7, 3) << QSize(700, 500);
}

void TestCamera::pickRayThroughProjectedPoint()
{
    QFETCH(int, preset);
    QFETCH(double, zoom);
    QFETCH(QVector3D, point);
    QFETCH(QSize, size);
    ViewCamera c;
    c.resize(size.width(), size.height());
    c.applyPreset(preset);
    c.orbit(13, -7); // off the exact preset angles
    c.zoom = zoom;
    QPointF pixel;
    QVERIFY(c.project(point, pixel));
    QVERIFY(pixel.x() > 0 && pixel.x() < size.width() && pixel.y() > 0 && pixel.y() < size.height());
    const PickRay r = c.pickRay(float(pixel.x()), float(pixel.y()));
    const QVector3D d = r.direction.normalized();
    const QVector3D toPoint = point - r.origin;
    const float distance = (toPoint - QVector3D::dotProduct(toPoint, d) * d).length();
    QVERIFY2(distance < 0.05f, qPrintable(QString("point %1 mm off the ray").arg(distance)));
    // The direction looks into the screen: further along it, points project deeper.
    const QVector4D nearClip = c.viewProjection() * QVector4D(point - 10 * d, 1);
    const QVector4D farClip = c.viewProjection() * QVector4D(point + 10 * d, 1);
    QVERIFY(farClip.z() / farClip.w() > nearClip.z() / nearClip.w());
    // A neighbouring pixel's ray misses the point by a visible amount.
    const PickRay other = c.pickRay(float(pixel.x() + 20), float(pixel.y()));
    const QVector3D d2 = other.direction.normalized();
    const QVector3D t2 = point - other.origin;
    QVERIFY((t2 - QVector3D::dotProduct(t2, d2) * d2).length() > 0.5f);
}

void TestCamera::clipHeight_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("showLayer");
    QTest::addColumn<double>("maxTop");
    QTest::addColumn<double>("layerClip");
    QTest::addColumn<double>("expected");
    QTest::newRow("model view, all layers") << 0 << 100.0 << 40.0 << 0.0 << 10000.0;
    QTest::newRow("model view, half") << 0 << 50.0 << 40.0 << 0.0 << 20.0;
    QTest::newRow("no tool path, zero") << 1 << 0.0 << 40.0 << 0.0 << 0.0;
    QTest::newRow("remake mode uses slider") << 3 << 25.0 << 40.0 << 7.0 << 10.0;
    QTest::newRow("preview uses layer rule") << 2 << 30.0 << 40.0 << 7.5 << 7.5;
    QTest::newRow("preview, broken layer rule") << 2 << 30.0 << 40.0 << double(INFINITY) << 10000.0;
    QTest::newRow("preview, NaN layer rule") << 2 << 30.0 << 40.0 << double(NAN) << 10000.0;
}

void TestCamera::clipHeight()
{
    QFETCH(int, mode);
    QFETCH(double, showLayer);
    QFETCH(double, maxTop);
    QFETCH(double, layerClip);
    QFETCH(double, expected);
    QCOMPARE(GLWidget::clipHeightFor(mode, showLayer, maxTop, layerClip), expected);
}

void TestCamera::viewStartsShowingEveryLayer()
{
    GLWidget w;
    QCOMPARE(w.getShowLayer(), 100.0);
    QCOMPARE(w.showMode(), 3);
    QCOMPARE(w.getCamera().zoom, 0.5);
    // Without a renderer the cut slots refuse and report nothing.
    QCOMPARE(w.SendCuttingCMD(4), false);
    QCOMPARE(w.getBottomValue(), 0.0f);
}

QTEST_MAIN(TestCamera)
#include "tst_camera.moc"
