// The coarse proxy of large meshes: when it is made, what it keeps of the mesh, and that the
// view draws it only while the camera moves (run under Xvfb with Mesa for the GL cases).
#include <QtTest>

#include <QOpenGLContext>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>

#include "platform/Platform.h"
#include "render/GLWidget.h"
#include "render/MeshProxy.h"
#include "render/RenderEngine.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "testutil_scene.h"
#include "common/TestTime.h"

namespace {

// A closed UV sphere of radius r around (0, 0, r), 2 * stacks * slices faces, outward winding.
MeshData* sphere(int stacks, int slices, double r)
{
    auto* m = new MeshData;
    m->vertices.push_back({0, 0, 2 * r});
    for (int i = 1; i < stacks; ++i) {
        const double t = M_PI * i / stacks;
        for (int j = 0; j < slices; ++j) {
            const double p = 2 * M_PI * j / slices;
            m->vertices.push_back({r * std::sin(t) * std::cos(p), r * std::sin(t) * std::sin(p), r + r * std::cos(t)});
        }
    }
    m->vertices.push_back({0, 0, 0});
    const int bottom = int(m->vertices.size()) - 1;
    auto ring = [slices](int i, int j) { return 1 + (i - 1) * slices + (j % slices); };
    for (int j = 0; j < slices; ++j) {
        m->faces.push_back({0, ring(1, j), ring(1, j + 1)});
        m->faces.push_back({bottom, ring(stacks - 1, j + 1), ring(stacks - 1, j)});
    }
    for (int i = 1; i < stacks - 1; ++i)
        for (int j = 0; j < slices; ++j) {
            const int a = ring(i, j), b = ring(i, j + 1), c = ring(i + 1, j), d = ring(i + 1, j + 1);
            m->faces.push_back({a, c, b});
            m->faces.push_back({b, c, d});
        }
    return m;
}

int addModel(MeshData* mesh)
{
    const int slot = MeshList::instance()->add(mesh);
    auto* model = new MeshModel;
    model->name = "ball";
    model->setMeshSlot(slot);
    AppData::instance()->addModel(model);
    return slot;
}

void mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent e(type, at, button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestMeshProxy : public QObject
{
    Q_OBJECT

private slots:
    void builtOnlyAboveThreshold_data();
    void builtOnlyAboveThreshold();
    void keepsShapeWithFewerFaces_data();
    void keepsShapeWithFewerFaces();
    void viewDrawsProxyOnlyWhileMoving();
    void cleanupTestCase();

private:
    void startView();
    std::unique_ptr<GLWidget> view;
};

void TestMeshProxy::builtOnlyAboveThreshold_data()
{
    QTest::addColumn<int>("stacks");
    QTest::addColumn<int>("slices");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<bool>("made");
    // 2 * (51 - 1) * 100 = 10000 faces.
    QTest::newRow("at threshold") << 51 << 100 << 10000 << false;
    QTest::newRow("just above") << 51 << 100 << 9999 << true;
    QTest::newRow("far below") << 10 << 20 << 9999 << false;
    QTest::newRow("default threshold, below") << 50 << 100 << int(MeshProxy::faceThreshold) << false;
}

void TestMeshProxy::builtOnlyAboveThreshold()
{
    QFETCH(int, stacks);
    QFETCH(int, slices);
    QFETCH(int, threshold);
    QFETCH(bool, made);
    std::unique_ptr<MeshData> m(sphere(stacks, slices, 10.0));
    const MeshProxy p = MeshProxy::build(*m, size_t(threshold), 2000);
    QCOMPARE(p.faceCount() > 0, made);
}

void TestMeshProxy::keepsShapeWithFewerFaces_data()
{
    QTest::addColumn<int>("stacks");
    QTest::addColumn<int>("slices");
    QTest::addColumn<int>("target");
    QTest::newRow("sphere 80k to 5k") << 200 << 200 << 5000;
    QTest::newRow("sphere 80k to 20k") << 200 << 200 << 20000;
    QTest::newRow("flat sphere slices") << 40 << 1000 << 8000;
}

void TestMeshProxy::keepsShapeWithFewerFaces()
{
    QFETCH(int, stacks);
    QFETCH(int, slices);
    QFETCH(int, target);
    std::unique_ptr<MeshData> m(sphere(stacks, slices, 20.0));
    const MeshProxy p = MeshProxy::build(*m, 1000, size_t(target));
    QVERIFY(p.faceCount() > 0);
    QVERIFY2(p.faceCount() <= size_t(target) * 3 / 2, qPrintable(QString::number(p.faceCount())));
    QVERIFY(p.faceCount() * 3 < m->faces.size());
    QVERIFY(p.cell > 0.0);

    // Same bounding box, within one grid cell on every side.
    double lo[3] = {1e9, 1e9, 1e9}, hi[3] = {-1e9, -1e9, -1e9};
    for (size_t i = 0; i < p.vertexCount(); ++i)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], double(p.positions[i * 3 + size_t(k)]));
            hi[k] = std::max(hi[k], double(p.positions[i * 3 + size_t(k)]));
        }
    const double mlo[3] = {-20, -20, 0}, mhi[3] = {20, 20, 40};
    for (int k = 0; k < 3; ++k) {
        QVERIFY2(lo[k] >= mlo[k] - 1e-4 && lo[k] <= mlo[k] + p.cell, qPrintable(QString::number(lo[k])));
        QVERIFY2(hi[k] <= mhi[k] + 1e-4 && hi[k] >= mhi[k] - p.cell, qPrintable(QString::number(hi[k])));
    }

    // Every face valid, none collapsed or repeated, and the winding still outward.
    std::set<std::array<uint32_t, 3>> seen;
    size_t outward = 0;
    for (size_t f = 0; f < p.faceCount(); ++f) {
        std::array<uint32_t, 3> v{p.indices[f * 3], p.indices[f * 3 + 1], p.indices[f * 3 + 2]};
        for (uint32_t i : v)
            QVERIFY(i < p.vertexCount());
        QVERIFY(v[0] != v[1] && v[1] != v[2] && v[0] != v[2]);
        QVector3D a(p.positions[v[0] * 3], p.positions[v[0] * 3 + 1], p.positions[v[0] * 3 + 2]);
        QVector3D b(p.positions[v[1] * 3], p.positions[v[1] * 3 + 1], p.positions[v[1] * 3 + 2]);
        QVector3D c(p.positions[v[2] * 3], p.positions[v[2] * 3 + 1], p.positions[v[2] * 3 + 2]);
        const QVector3D n = QVector3D::crossProduct(b - a, c - a);
        outward += QVector3D::dotProduct(n, (a + b + c) / 3 - QVector3D(0, 0, 20)) > 0;
        std::sort(v.begin(), v.end());
        QVERIFY(seen.insert(v).second);
    }
    QVERIFY2(outward * 100 >= p.faceCount() * 99, qPrintable(QString::number(outward)));
}

void TestMeshProxy::startView()
{
    AppData::instance()->setChoiceType(1);
    view = std::make_unique<GLWidget>();
    view->resize(400, 300);
    view->show();
    QVERIFY2(QTest::qWaitForWindowExposed(view.get()), "the view's window was never shown");
    view->grabFramebuffer();
    QVERIFY2(view->context() && view->context()->isValid(),
             "no OpenGL context: run under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1");
    QVERIFY2(view->isInitialised(), "the renderer did not start");
}

void TestMeshProxy::viewDrawsProxyOnlyWhileMoving()
{
    Platform::setTimeoutScale(TestTime::timeoutScale(0.2));
    startView();
    if (QTest::currentTestFailed())
        return;
    RenderTest::clearScene();
    RenderEngine* r = view->getRenderer();
    // 2 * 299 * 700 = 418600 faces: above the threshold; a box stays without a proxy.
    const int big = addModel(sphere(300, 700, 30.0));
    const double lo[3] = {40, 40, 0}, hi[3] = {50, 50, 10};
    RenderTest::addBoxModel(lo, hi);
    const int box = AppData::instance()->getModels().back()->meshSlot;

    const int proxiesBefore = r->proxyUploadCount();
    int full = r->fullMeshDrawCount(), coarse = r->proxyDrawCount();
    view->grabFramebuffer(); // a still frame uploads and draws both in full
    QCOMPARE(r->proxyUploadCount() - proxiesBefore, 1);
    QVERIFY(r->proxyFaceCount(big) > 0 && r->proxyFaceCount(big) <= 280000);
    QCOMPARE(r->proxyFaceCount(box), size_t(0));
    QCOMPARE(r->fullMeshDrawCount() - full, 2);
    QCOMPARE(r->proxyDrawCount() - coarse, 0);

    // Orbit drag: the large mesh is drawn coarse, the box in full; nothing is uploaded again.
    const int uploads = r->meshUploadCount();
    mouse(view.get(), QEvent::MouseButtonPress, {200, 150}, Qt::LeftButton, Qt::LeftButton);
    mouse(view.get(), QEvent::MouseMove, {220, 160}, Qt::NoButton, Qt::LeftButton);
    QVERIFY(view->isCameraMoving());
    full = r->fullMeshDrawCount();
    coarse = r->proxyDrawCount();
    view->grabFramebuffer();
    QCOMPARE(r->proxyDrawCount() - coarse, 1);
    QCOMPARE(r->fullMeshDrawCount() - full, 1);
    mouse(view.get(), QEvent::MouseButtonRelease, {220, 160}, Qt::LeftButton, Qt::NoButton);

    // Resting ends it by itself, and the next frame is full again.
    QTRY_VERIFY_WITH_TIMEOUT(!view->isCameraMoving(), TestTime::waitMs(2000));
    full = r->fullMeshDrawCount();
    coarse = r->proxyDrawCount();
    view->grabFramebuffer();
    QCOMPARE(r->fullMeshDrawCount() - full, 2);
    QCOMPARE(r->proxyDrawCount() - coarse, 0);

    // A wheel zoom moves the camera too; settling at once gives a full frame.
    QWheelEvent wheel(QPointF(200, 150), view->mapToGlobal(QPoint(200, 150)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.get(), &wheel);
    QVERIFY(view->isCameraMoving());
    view->settleCamera();
    QVERIFY(!view->isCameraMoving());
    coarse = r->proxyDrawCount();
    view->grabFramebuffer();
    QCOMPARE(r->proxyDrawCount() - coarse, 0);
    QCOMPARE(r->meshUploadCount(), uploads);
    QCOMPARE(r->proxyUploadCount() - proxiesBefore, 1);

    // Both sets go together when the mesh goes.
    RenderTest::clearScene();
    view->grabFramebuffer();
    QCOMPARE(r->proxyFaceCount(big), size_t(0));
    QVERIFY(!r->isSlotUploaded(big));

}

void TestMeshProxy::cleanupTestCase()
{
    view.reset();
    RenderTest::clearScene();
    Platform::setTimeoutScale(1.0);
}

QTEST_MAIN(TestMeshProxy)
#include "tst_meshproxy.moc"
