#include "render/GLWidget.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>

#include <cmath>

#include "render/RenderEngine.h"
#include "scene/AppData.h"

GLWidget::GLWidget(QWidget* parent) : QOpenGLWidget(parent)
{
    setLowFormat(3);
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    camera.applyPreset(0);
    // Hover picking of supports needs move events without a pressed button.
    setMouseTracking(true);
}

GLWidget::~GLWidget()
{
    releaseGL();
}

void GLWidget::releaseGL()
{
    if (!renderer)
        return;
    // The renderer frees GL objects; they belong to this widget's context.
    const bool current = context() && context()->isValid();
    if (current)
        makeCurrent();
    renderer.reset();
    if (current)
        doneCurrent();
    initialised = false;
}

void GLWidget::setHost(ViewHost* h)
{
    host = h;
    if (renderer)
        renderer->setHost(h);
}

void GLWidget::setLowFormat(int bf)
{
    QSurfaceFormat f;
    f.setVersion(4, 3);
    f.setProfile(QSurfaceFormat::CoreProfile);
    f.setDepthBufferSize(0);
    f.setStencilBufferSize(0);
    // Frames come on demand, so a long swap interval would only make dragging stutter.
    f.setSwapInterval(1);
    f.setSamples(bf);
    f.setSwapBehavior(QSurfaceFormat::SingleBuffer);
    f.setStereo(false);
    f.setAlphaBufferSize(0);
    setFormat(f);
}

void GLWidget::initializeGL()
{
    // A context re-created (the widget moved to another window) needs a fresh renderer.
    renderer = std::make_unique<RenderEngine>();
    renderer->setHost(host);
    initialised = renderer->initialize();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GLWidget::releaseGL, Qt::UniqueConnection);
}

void GLWidget::resizeGL(int w, int h)
{
    camera.resize(w, h);
    if (renderer)
        renderer->setViewportSize(h, w);
}

double GLWidget::clipHeightFor(int displayMode, double showLayerValue, double maxTop, double layerClipHeight)
{
    double h;
    if (displayMode == 2)
        h = layerClipHeight;
    else
        h = showLayerValue < 100.0 ? showLayerValue * 0.01 * maxTop : 10000.0;
    return std::isfinite(h) ? h : 10000.0;
}

void GLWidget::paintGL()
{
    if (!initialised || !renderer)
        return;
    renderer->setProjection(camera.projection);
    renderer->setView(camera.rotation, camera.translation(), camera.viewScale());
    const int mode = renderer->displayMode();
    clipHeight = clipHeightFor(mode, showLayer, AppData::instance()->getMaxTop(),
                               mode == 2 ? renderer->toolPathClipHeight(int(showLayer)) : 0.0);
    renderer->setClipPlane(0.0f, 0.0f, -1.0f, float(clipHeight));
    renderer->drawScene();
    renderer->drawOverlay(this);
}

int GLWidget::showMode() const
{
    return renderer ? renderer->displayMode() : 3;
}

void GLWidget::setSliceView(bool shown)
{
    if (renderer)
        renderer->setDisplayMode(shown ? 2 : 0);
    update();
}

void GLWidget::clearSliceView()
{
    if (renderer)
        renderer->setDisplayMode(3);
    update();
}

void GLWidget::refreshGcodeView(bool show)
{
    if (!renderer)
        return;
    if (show)
        renderer->setDisplayMode(2);
    renderer->requestGcodeRefresh();
    update();
}

void GLWidget::setShowLayer(int value)
{
    showLayer = value;
    update();
}

void GLWidget::setViewDirect(int preset)
{
    camera.applyPreset(preset);
    update();
}

void GLWidget::releaseModelBuffers()
{
    if (renderer)
        renderer->releaseModelBuffers();
    update();
}

float GLWidget::getBottomValue() const
{
    return renderer ? renderer->cutPosition() : 0.0f;
}

void GLWidget::clearHoverModel()
{
    if (renderer)
        renderer->setHoveredSupport(-1);
}

void GLWidget::SetBottomValue(float vz)
{
    if (!renderer)
        return;
    renderer->setCutPosition(vz);
    update();
}

bool GLWidget::SendCuttingCMD(int direct)
{
    if (!renderer)
        return false;
    const bool ok = renderer->cuttingCommand(direct);
    update();
    return ok;
}

void GLWidget::mousePressEvent(QMouseEvent* e)
{
    cursorX = lastX = float(e->localPos().x());
    cursorY = lastY = float(e->localPos().y());
    update();
}

void GLWidget::mouseReleaseEvent(QMouseEvent* e)
{
    cursorX = lastX = float(e->localPos().x());
    cursorY = lastY = float(e->localPos().y());
}

void GLWidget::mouseMoveEvent(QMouseEvent* e)
{
    cursorX = float(e->localPos().x());
    cursorY = float(e->localPos().y());
    bool changed = false;
    if (e->buttons() & Qt::LeftButton) {
        camera.orbit(cursorX - lastX, cursorY - lastY);
        changed = true;
    }
    if (e->buttons() & Qt::MiddleButton) {
        camera.pan(cursorX - lastX, cursorY - lastY);
        changed = true;
    }
    lastX = cursorX;
    lastY = cursorY;
    // Plain hovering changes nothing on screen; no frame for it.
    if (changed)
        update();
}

void GLWidget::wheelEvent(QWheelEvent* e)
{
    camera.wheel(e->angleDelta().y());
    update();
}
