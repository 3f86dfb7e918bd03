// The view with a real GL context (run under Xvfb with Mesa): start-up, the frame's pixels,
// the layer clip, buffer reuse and the display modes. A context that cannot be made fails.
#include <QtTest>

#include <QOpenGLContext>
#include <QTemporaryDir>

#include "render/GLWidget.h"
#include "render/RenderEngine.h"
#include "render/ToolPathMesh.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "testutil_scene.h"

class TestGlView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void contextAndPrograms();
    void brokenShaderFailsCleanly();
    void clearColourInCorner();
    void cubeInItsColour_data();
    void cubeInItsColour();
    void cubeClippedBelowShowLayer();
    void reusedSlotUploadedAgain();
    void displayModes();
    void toolPathChunkSlots();

private:
    QImage frame() { return view->grabFramebuffer(); }
    QColor pixelAt(const QImage& img, const QVector3D& scenePoint);

    std::unique_ptr<GLWidget> view;
    FakeViewHost host;
};

void TestGlView::initTestCase()
{
    AppData::instance()->setChoiceType(1);
    view = std::make_unique<GLWidget>();
    view->setHost(&host);
    view->resize(640, 480);
    view->show();
    QVERIFY2(QTest::qWaitForWindowExposed(view.get()), "the view's window was never shown");
    view->grabFramebuffer();
    QVERIFY2(view->context() && view->context()->isValid(),
             "no OpenGL context: run under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1");
    QVERIFY2(view->isInitialised(), "the renderer did not start");
}

void TestGlView::init()
{
    RenderTest::clearScene();
    view->setShowLayer(100);
    view->setViewDirect(0);
    view->setSliceView(false);
}

void TestGlView::cleanupTestCase()
{
    view.reset();
    RenderTest::clearScene();
}

QColor TestGlView::pixelAt(const QImage& img, const QVector3D& scenePoint)
{
    QPointF p;
    if (!view->getCamera().project(scenePoint, p))
        return QColor();
    // The framebuffer may be larger than the widget on a scaled screen.
    const double k = double(img.width()) / view->width();
    return img.pixelColor(int(p.x() * k), int(p.y() * k));
}

void TestGlView::contextAndPrograms()
{
    const QSurfaceFormat f = view->context()->format();
    QVERIFY2(f.majorVersion() > 3 || (f.majorVersion() == 3 && f.minorVersion() >= 3),
             qPrintable(QString("context %1.%2").arg(f.majorVersion()).arg(f.minorVersion())));
    QCOMPARE(f.profile(), QSurfaceFormat::CoreProfile);
    // initialize() compiled and linked all five programs; loading them again must succeed too.
    view->makeCurrent();
    QVERIFY(view->getRenderer()->loadShaders());
    view->doneCurrent();
}

void TestGlView::brokenShaderFailsCleanly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char* name : {"lighting", "wireframe", "texture", "bottomture", "gcode"})
        for (const char* ext : {".vert", ".frag"}) {
            const QString file = QString(name) + ext;
            QVERIFY(QFile::copy(":/Render/" + file, dir.filePath(file)));
            QFile::setPermissions(dir.filePath(file), QFile::ReadOwner | QFile::WriteOwner);
        }
    QFile broken(dir.filePath("gcode.frag"));
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("#version 330 core\nout vec4 c;\nvoid main() { c = undefinedThing; }\n");
    broken.close();

    const QString saved = RenderEngine::shaderRoot;
    RenderEngine::shaderRoot = dir.path() + "/";
    {
        GLWidget bad;
        bad.resize(200, 150);
        bad.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bad));
        const QImage img = bad.grabFramebuffer();
        QVERIFY(bad.context() && bad.context()->isValid());
        QVERIFY(!bad.isInitialised());
        QVERIFY(!img.isNull());
    }
    RenderEngine::shaderRoot = saved;
}

void TestGlView::clearColourInCorner()
{
    const QImage img = frame();
    const QColor c = img.pixelColor(1, 1);
    QVERIFY2(qAbs(c.red() - 245) <= 2 && qAbs(c.green() - 247) <= 2 && qAbs(c.blue() - 247) <= 2,
             qPrintable(QString("corner is %1").arg(c.name())));
}

void TestGlView::cubeInItsColour_data()
{
    QTest::addColumn<bool>("selected");
    QTest::newRow("selected") << true;
    QTest::newRow("not selected") << false;
}

void TestGlView::cubeInItsColour()
{
    QFETCH(bool, selected);
    const double lo[3] = {-10, -10, 0}, hi[3] = {10, 10, 20};
    MeshModel* m = RenderTest::addBoxModel(lo, hi);
    AppData::instance()->selectModel(selected ? 0 : -1, 1);
    AppData::instance()->updateSelectionColours();
    const QImage img = frame();
    const QColor c = pixelAt(img, QVector3D(0, 0, 20));
    const QColor corner = img.pixelColor(1, 1);
    QVERIFY2(c != corner, "the cube is not drawn");
    const auto col = m->colour;
    // The lit face keeps the hue of the body colour: blue over red when selected, grey otherwise.
    if (selected) {
        QCOMPARE(col[2] > col[0], true);
        QVERIFY2(c.blue() > c.red() + 30, qPrintable(c.name()));
    } else {
        QVERIFY2(qAbs(c.blue() - c.red()) < 12 && qAbs(c.green() - c.red()) < 12, qPrintable(c.name()));
        QVERIFY2(c.red() < 235, qPrintable(c.name()));
    }
    if (selected) {
        img.save(QStringLiteral(TARNI_BUILD_DIR "/render_view_cube.png"));
        AppData::instance()->setEditMode(1);
        frame().save(QStringLiteral(TARNI_BUILD_DIR "/render_view_move.png"));
        AppData::instance()->setEditMode(0);
    }
}

void TestGlView::cubeClippedBelowShowLayer()
{
    const double lo[3] = {-10, -10, 0}, hi[3] = {10, 10, 20};
    MeshModel* m = RenderTest::addBoxModel(lo, hi);
    const QVector3D top(0, 0, 20);
    const QColor shown = pixelAt(frame(), top);
    m->visible = false;
    const QColor empty = pixelAt(frame(), top);
    m->visible = true;
    QVERIFY(shown != empty);
    // At 0 every model is clipped away; the plate shows through.
    view->setShowLayer(0);
    QCOMPARE(pixelAt(frame(), top), empty);
    // Half way the top face is gone, though the lower half still stands.
    view->setShowLayer(50);
    QVERIFY(pixelAt(frame(), top) != shown);
    QCOMPARE(view->getClipHeight(), 10.0);
    const QColor side = pixelAt(frame(), QVector3D(0, -10, 5));
    QVERIFY(side != empty);
    view->setShowLayer(100);
    QCOMPARE(pixelAt(frame(), top), shown);
}

void TestGlView::reusedSlotUploadedAgain()
{
    const double lo[3] = {-10, -10, 0}, hi[3] = {10, 10, 20};
    MeshModel* m = RenderTest::addBoxModel(lo, hi);
    RenderEngine* r = view->getRenderer();
    frame();
    const int uploads = r->meshUploadCount();
    QVERIFY(r->isSlotUploaded(m->meshSlot));
    // Frames after the first upload nothing.
    frame();
    frame();
    QCOMPARE(r->meshUploadCount(), uploads);

    // Another mesh takes the same slot between two frames: it must be uploaded, not the old one drawn.
    const int slot = m->meshSlot;
    const double lo2[3] = {30, 30, 0}, hi2[3] = {50, 50, 10};
    MeshList::instance()->remove(slot);
    MeshData* replacement = RenderTest::boxMesh(lo2, hi2);
    MeshList::instance()->setAt(slot, replacement);
    QCOMPARE(MeshList::instance()->at(slot), replacement);
    frame();
    QCOMPARE(r->meshUploadCount(), uploads + 1);

    // Removing the model frees its buffers at the next frame.
    AppData::instance()->removeModel(0);
    AppData::instance()->freeUnusedMeshes();
    QVERIFY(r->isSlotUploaded(slot));
    frame();
    QVERIFY(!r->isSlotUploaded(slot));

    // Buffers released on request go at the next frame and come back once.
    RenderTest::addBoxModel(lo, hi);
    frame();
    view->releaseModelBuffers();
    frame();
    QCOMPARE(r->meshUploadCount(), uploads + 3);
}

void TestGlView::displayModes()
{
    auto* w = std::make_unique<GLWidget>().release();
    std::unique_ptr<GLWidget> owner(w);
    w->resize(160, 120);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->grabFramebuffer();
    QVERIFY(w->isInitialised());
    // 3 at start; the first frame makes the tool-path slots and leaves 1.
    QCOMPARE(w->showMode(), 1);
    w->setSliceView(true);
    QCOMPARE(w->showMode(), 2);
    w->grabFramebuffer();
    QCOMPARE(w->showMode(), 2);
    w->setSliceView(false);
    QCOMPARE(w->showMode(), 0);
    w->clearSliceView();
    QCOMPARE(w->showMode(), 3);
    w->grabFramebuffer();
    QCOMPARE(w->showMode(), 1);
    w->refreshGcodeView(true);
    QCOMPARE(w->showMode(), 2);
}

void TestGlView::toolPathChunkSlots()
{
    RenderEngine* r = view->getRenderer();
    view->clearSliceView();
    frame();
    ToolPathMesh chunk;
    chunk.vertices = {0, 0, 0, 10, 0, 0, 0, 10, 0};
    chunk.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    chunk.triangles = {0, 1, 2};
    view->makeCurrent();
    for (int i = 0; i < 16; ++i)
        QVERIFY(r->uploadGcodeChunk(chunk));
    // A seventeenth is dropped; the sixteen stay.
    QVERIFY(!r->uploadGcodeChunk(chunk));
    QCOMPARE(r->gcodeChunkCount(), 16);
    view->doneCurrent();
    view->setSliceView(true);
    frame();
    QCOMPARE(r->gcodeChunkCount(), 16);
    view->makeCurrent();
    ToolPathMesh bad = chunk;
    bad.triangles = {0, 1, 3};
    view->clearSliceView();
    view->doneCurrent();
    frame();
    QCOMPARE(r->gcodeChunkCount(), 0);
    view->makeCurrent();
    QVERIFY(!r->uploadGcodeChunk(bad));
    view->doneCurrent();
}

QTEST_MAIN(TestGlView)
#include "tst_glview.moc"
