#include "render/GLWidget.h"

#include <QDebug>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <vector>

#include <Eigen/Dense>

#include "platform/Platform.h"
#include "render/RayTests.h"
#include "render/RenderEngine.h"
#include "render/RenderGeometry.h"
#include "render/ViewHost.h"
#include "scene/AppData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

GLWidget::GLWidget(QWidget* parent) : QOpenGLWidget(parent)
{
    setLowFormat(3);
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    camera.applyPreset(0);
    // Hover picking of supports needs move events without a pressed button.
    setMouseTracking(true);
    settleTimer.setSingleShot(true);
    connect(&settleTimer, &QTimer::timeout, this, &GLWidget::settleCamera);
}

void GLWidget::cameraMoved()
{
    settleTimer.start(Platform::scaledMs(150));
}

void GLWidget::settleCamera()
{
    settleTimer.stop();
    update();
}

GLWidget::~GLWidget()
{
    // The base class destroys the context after this body; its signal must not reach the
    // part of this object that is already gone.
    if (context())
        disconnect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GLWidget::releaseGL);
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
    renderer->setCameraMoving(settleTimer.isActive());
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
    // The reader waits for its batch: take it now, even while the view is hidden or
    // minimised and paints nothing. Without a context it waits for the next frame.
    if (initialised && context() && context()->isValid()) {
        makeCurrent();
        renderer->takeGcodeChunk();
        doneCurrent();
    } else {
        renderer->requestGcodeRefresh();
    }
    if (show)
        renderer->setDisplayMode(2);
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

// ---- Picking ----

namespace {

using Vec3 = Eigen::Vector3d;

Vec3 vec(const QVector3D& v)
{
    return Vec3(v.x(), v.y(), v.z());
}

void rayArray(const PickRay& r, double out[6])
{
    out[0] = r.origin.x();
    out[1] = r.origin.y();
    out[2] = r.origin.z();
    out[3] = r.direction.x();
    out[4] = r.direction.y();
    out[5] = r.direction.z();
}

// The plane intersections divide by direction components; a zero one becomes tiny instead.
Vec3 safeDirection(const PickRay& r)
{
    Vec3 d = vec(r.direction);
    for (int k = 0; k < 3; ++k)
        if (d[k] == 0.0)
            d[k] = 1e-6;
    return d;
}

// Of the two coordinate planes that contain an axis, the one that faces the ray more.
int facingPlane(int axis, const Vec3& d)
{
    static const int pairs[3][2] = {{1, 2}, {0, 2}, {0, 1}};
    const int a = pairs[axis][0], b = pairs[axis][1];
    return std::fabs(d[a]) > std::fabs(d[b]) ? a : b;
}

// The ray's point on the plane {coordinate k = value}.
Vec3 pointOnPlane(const Vec3& o, const Vec3& d, int k, double value)
{
    const double t = (value - o[k]) / d[k];
    Vec3 p = o + t * d;
    p[k] = value;
    return p;
}

Vec3 centroidOf(const MeshModel* m)
{
    const auto c = m->getCentroid();
    return Vec3(c[0], c[1], c[2]);
}

// The ray's point on the drag plane k through the model's centroid.
bool dragPlanePoint(const MeshModel* m, const PickRay& ray, int k, double out[3])
{
    if (!m || k < 0 || k > 2)
        return false;
    const Vec3 p = pointOnPlane(vec(ray.origin), safeDirection(ray), k, centroidOf(m)[k]);
    if (!p.allFinite())
        return false;
    for (int i = 0; i < 3; ++i)
        out[i] = p[i];
    return true;
}

// Index of the nearest visible object along the ray (smallest t: the ray's origin may lie
// inside the scene, so negative t counts as well).
template <typename Get>
int nearestObject(int count, Get get, const double ray[6])
{
    int best = -1;
    double bestT = DBL_MAX;
    for (int i = 0; i < count; ++i) {
        const MeshModel* m = get(i);
        if (!m || !m->visible)
            continue;
        double t;
        if (rayHitsModel(ray, m, t) && t < bestT) {
            bestT = t;
            best = i;
        }
    }
    return best;
}

// The machine's footprint and height as the plate and the cut plane are drawn.
struct MachineBox
{
    double halfX, halfY, height;
    bool round;
};

MachineBox machineBox(const AppData* app)
{
    if (RenderGeometry::isRoundMachine(app->getChoiceType())) {
        const double r = app->getBoxDiameter() / 2.0;
        return {r, r, app->getBoxDHeight(), true};
    }
    return {app->getBoxLength() / 2.0, app->getBoxWidth() / 2.0, app->getBoxHeight(), false};
}

bool columnSupportable(const MeshModel* m)
{
    return m && m->visible && !m->isSupport;
}

} // namespace

int GLWidget::pickModel(const PickRay& ray) const
{
    const AppData* app = AppData::instance();
    double r[6];
    rayArray(ray, r);
    return nearestObject(app->modelCount(), [app](int i) { return app->getModel(i); }, r);
}

int GLWidget::pickSupport(const PickRay& ray) const
{
    const AppData* app = AppData::instance();
    double r[6];
    rayArray(ray, r);
    return nearestObject(app->supportCount(), [app](int i) { return app->getSupport(i); }, r);
}

void GLWidget::pickMoveAxis(const PickRay& ray, float& axis, float& plane) const
{
    axis = plane = -1;
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m)
        return;
    const Vec3 o = vec(ray.origin), d = safeDirection(ray), c = centroidOf(m);
    const double r = m->getViewRadius() * 1.3 / 10.0;
    int best = -1;
    double bestDist = DBL_MAX;
    for (int k = 0; k < 3; ++k) {
        const Vec3 n = d.cross(Vec3::Unit(k));
        const double len = n.norm();
        if (!(len > 0.0))
            continue;
        const double dist = std::fabs((o - c).dot(n)) / len;
        if (dist < bestDist) {
            bestDist = dist;
            best = k;
        }
    }
    if (best < 0 || !(bestDist <= r))
        return;
    // The axis line is infinite; only the arrow's own length (1.3 radii and a little) counts.
    const double dn = d.norm();
    for (int j = 1; j <= 11; ++j) {
        const Vec3 p = c + j * r * Vec3::Unit(best);
        if ((p - o).cross(d).norm() / dn < r) {
            axis = float(best);
            plane = float(facingPlane(best, d));
            return;
        }
    }
}

QVector4D GLWidget::intersectDragPlane(const PickRay& ray, int k) const
{
    double p[3];
    if (!dragPlanePoint(AppData::instance()->getSelectedModel(), ray, k, p))
        return QVector4D(0, 0, 0, -1);
    return QVector4D(float(p[0]), float(p[1]), float(p[2]), float(k));
}

QVector4D GLWidget::pickRotateRing(const PickRay& ray) const
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m)
        return QVector4D(0, 0, 0, -1);
    const Vec3 o = vec(ray.origin), d = safeDirection(ray), c = centroidOf(m);
    const double radius = m->getViewRadius();
    Vec3 p[3];
    double e[3];
    for (int k = 0; k < 3; ++k) {
        p[k] = pointOnPlane(o, d, k, c[k]);
        e[k] = std::fabs((p[k] - c).norm() - radius);
        if (!std::isfinite(e[k]))
            e[k] = DBL_MAX;
    }
    const int k = (e[0] >= e[1]) ? (e[1] > e[2] ? 2 : 1) : (e[0] > e[2] ? 2 : 0);
    if (!(e[k] <= radius / 5.0))
        return QVector4D(0, 0, 0, -1);
    return QVector4D(float(p[k][0]), float(p[k][1]), float(p[k][2]), float(k));
}

QVector4D GLWidget::intersectCutPlane(const PickRay& ray, int axis, double position) const
{
    if (!AppData::instance()->getSelectedModel() || axis < 0 || axis > 2 || !std::isfinite(position))
        return QVector4D(0, 0, 0, -1);
    const Vec3 d = safeDirection(ray);
    const Vec3 p = pointOnPlane(vec(ray.origin), d, axis, position);
    if (!p.allFinite())
        return QVector4D(0, 0, 0, -1);
    return QVector4D(float(p[0]), float(p[1]), float(p[2]), float(facingPlane(axis, d)));
}

bool GLWidget::pickSupportBase(const PickRay& ray, double point[3]) const
{
    const AppData* app = AppData::instance();
    double r[6];
    rayArray(ray, r);
    double bestT = DBL_MAX;
    std::vector<std::array<double, 4>> hits;
    for (const MeshModel* m : app->getModels()) {
        if (!columnSupportable(m))
            continue;
        hits.clear();
        rayIntersectModel(r, m, hits, 0.0);
        for (const auto& h : hits) {
            if (h[3] < bestT) {
                bestT = h[3];
                point[0] = h[0];
                point[1] = h[1];
                point[2] = h[2];
            }
        }
    }
    if (bestT < DBL_MAX)
        return true;
    const Vec3 o = vec(ray.origin), d = vec(ray.direction);
    if (std::fabs(d[2]) < 1e-6 || o[2] < 0.0)
        return false;
    const Vec3 p = o + (-o[2] / d[2]) * d;
    const MachineBox box = machineBox(app);
    const bool inside = box.round ? p[0] * p[0] + p[1] * p[1] <= box.halfX * box.halfX
                                  : std::fabs(p[0]) <= box.halfX && std::fabs(p[1]) <= box.halfY;
    if (!inside || !p.allFinite())
        return false;
    point[0] = p[0];
    point[1] = p[1];
    point[2] = 0.0;
    return true;
}

bool GLWidget::computeSupportColumn(const double point[3], double lower[3], double upper[3],
                                    std::string& owner, bool& onModel) const
{
    owner.clear();
    onModel = false;
    if (!std::isfinite(point[0]) || !std::isfinite(point[1]) || !std::isfinite(point[2]))
        return false;
    const AppData* app = AppData::instance();
    struct Hit
    {
        double z;
        const MeshModel* model;
    };
    std::vector<Hit> hits;
    std::vector<std::array<double, 4>> found;
    const double ray[6] = {point[0], point[1], -1.0, 0.0, 0.0, 1.0};
    for (const MeshModel* m : app->getModels()) {
        if (!columnSupportable(m))
            continue;
        found.clear();
        rayIntersectModel(ray, m, found, 0.0);
        for (const auto& h : found)
            hits.push_back({h[2], m});
    }
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.z < b.z; });

    constexpr double eps = 1e-4;
    const double z = point[2];
    // The surface the point lies on, and whether it faces down: counted along the vertical
    // from below, a closed model's surfaces alternate between bottom and top.
    const MeshModel* at = nullptr;
    bool facesDown = false;
    if (z > eps) {
        double bestGap = 1e-3;
        for (const Hit& h : hits) {
            if (std::fabs(h.z - z) < bestGap) {
                bestGap = std::fabs(h.z - z);
                at = h.model;
            }
        }
        if (at) {
            int below = 0;
            double lastZ = -DBL_MAX;
            for (const Hit& h : hits) {
                if (h.model != at || h.z >= z - eps)
                    continue;
                // A ray through a shared edge meets both faces; count the surface once.
                if (h.z - lastZ > eps)
                    ++below;
                lastZ = h.z;
            }
            facesDown = below % 2 == 0;
        }
    }

    double lowZ = z, highZ = app->machineHeight();
    if (facesDown) {
        lowZ = 0.0;
        for (const Hit& h : hits)
            if (h.z < z - eps)
                lowZ = std::max(lowZ, h.z);
        highZ = z;
        owner = at->getName();
        onModel = true;
    } else {
        if (z <= eps)
            lowZ = 0.0;
        for (const Hit& h : hits) {
            if (h.z > z + eps) {
                highZ = h.z;
                owner = h.model->getName();
                onModel = true;
                break;
            }
        }
    }
    lower[0] = upper[0] = point[0];
    lower[1] = upper[1] = point[1];
    lower[2] = lowZ;
    upper[2] = highZ;
    return true;
}

// ---- Mouse editing ----

bool GLWidget::editGuardAgrees()
{
    if (!host)
        return true;
    if (!host->confirmEraseSliceData() || !host->confirmQuitSupportMode())
        return false;
    AppData* app = AppData::instance();
    MeshModel* m = app->getSelectedModel();
    if (m && m->hasSupport) {
        // Supports stand on the model where it is now; the drag that would break them is
        // swallowed whatever the answer, as the edit panels do.
        if (host->confirmDeleteSupports()) {
            const std::string name = m->getName();
            app->removeSupportsOf(name);
            app->updateSupportFlag(name);
            host->updateStatus();
        }
        return false;
    }
    return true;
}

// A column placed or taken away changes the plate: not behind a shown preview or while the
// workers read it, and not over slice data without the question.
bool GLWidget::supportClickAllowed()
{
    return gizmoShown() && (!host || host->confirmEraseSliceData());
}

bool GLWidget::gizmoShown() const
{
    const int state = host ? host->taskState() : 0;
    return showMode() != 2 && (state < 1 || state > 3);
}

void GLWidget::placeSupport(const PickRay& ray, bool press)
{
    AppData* app = AppData::instance();
    MeshModel* w = app->getWorkingObject();
    if (!w)
        return;
    double p[3];
    if (!pickSupportBase(ray, p)) {
        if (!press) {
            w->drawn = false;
            w->setOutlineColour(false);
        }
        return;
    }
    if (press && renderer)
        renderer->setHoveredSupport(-1);
    std::string owner;
    if (!computeSupportColumn(p, pickPoint, columnEnd, owner, columnOnModel))
        return;
    const double height = columnEnd[2] - pickPoint[2];
    if (press && (height < 0.001 || pickPoint[2] < 0.0)) {
        if (host)
            host->updateSupportButtons();
        return;
    }
    w->isSupport = true;
    w->drawn = true;
    if (!owner.empty())
        w->ownerName = owner;
    w->buildSupportBox(pickPoint, height, columnOnModel);
    if (press) {
        if (columnOnModel && supportClickAllowed())
            app->commitSupport();
        if (host)
            host->updateSupportButtons();
    }
}

void GLWidget::deleteSupport(const PickRay& ray)
{
    AppData* app = AppData::instance();
    const int i = pickSupport(ray);
    MeshModel* s = app->getSupport(i);
    if (!s || !supportClickAllowed())
        return;
    const std::string owner = s->getOwnerName();
    const int slot = s->supportSlot;
    MeshList::instance()->remove(slot);
    app->removeSupport(i);
    app->updateSupportFlag(owner);
    if (renderer && renderer->getHoveredSupport() == slot)
        renderer->setHoveredSupport(-1);
    if (host)
        host->updateSupportButtons();
}

void GLWidget::mousePressEvent(QMouseEvent* e)
{
    cursorX = lastX = float(e->localPos().x());
    cursorY = lastY = float(e->localPos().y());
    rotateDrag = moveDrag = scaleDrag = cutPlaneDrag = false;
    rotateAxis = -1;
    pressSwallowed = false;
    rightDragAllowed = false;
    AppData* app = AppData::instance();
    const PickRay ray = camera.pickRay(cursorX, cursorY);

    if (e->button() == Qt::RightButton) {
        const int state = host ? host->taskState() : 0;
        // While a print-task file is shown the model behind it stays where the file has it.
        if (state == 2 || state == 3 || showMode() == 2 || (host && !host->confirmEraseSliceData())) {
            pressSwallowed = true;
            return;
        }
        rightDragAllowed = true;
        if (!(app->isSupportEditing() && app->hasSupports())) {
            const int i = pickModel(ray);
            if (i >= 0) {
                app->selectModel(i, 0);
                app->updateSelectionColours();
                if (host)
                    host->updateStatus();
            }
        }
        update();
        return;
    }
    if (e->button() != Qt::LeftButton) {
        update();
        return;
    }

    const int edit = app->getEditMode();
    MeshModel* selected = app->getSelectedModel();
    qDebug() << "state = " << edit;
    pickMoveAxis(ray, pickedAxis, pickedPlane);
    qDebug() << "selectedMoveAxis" << "x =" << pickedAxis << "y =" << pickedPlane;
    const QVector4D ring = pickRotateRing(ray);
    qDebug() << "RotateIntersectResult" << "x =" << ring.x() << "y =" << ring.y() << "z =" << ring.z()
             << "w =" << ring.w();
    const bool arrow = pickedAxis != -1 && (edit == 1 || edit == 3) && gizmoShown();
    const bool turn = ring.w() != -1 && edit == 2 && gizmoShown();
    // One guard per press: a refusal must not come back on every mouse move.
    if ((arrow || turn) && !editGuardAgrees()) {
        pressSwallowed = true;
        pickedAxis = pickedPlane = -1;
        update();
        return;
    }
    if (arrow && dragPlanePoint(selected, ray, int(pickedPlane), lastPoint)) {
        (edit == 1 ? moveDrag : scaleDrag) = true;
        for (int k = 0; k < 3; ++k) {
            startPoint[k] = lastPoint[k];
            startScale[k] = selected->scale[size_t(k)];
        }
        qDebug() << "MoveIntersectResultPlane" << "x =" << lastPoint[0] << "y =" << lastPoint[1]
                 << "z =" << lastPoint[2] << "w =" << pickedPlane;
    }
    if (turn && dragPlanePoint(selected, ray, int(ring.w()), lastPoint)) {
        rotateDrag = true;
        rotateAxis = int(ring.w());
    }
    if (edit == 4 && renderer) {
        const int axis = renderer->cutAxis();
        const QVector4D p = intersectCutPlane(ray, axis, renderer->cutPosition());
        const MachineBox box = machineBox(app);
        bool inside = false;
        if (axis == 0)
            inside = std::fabs(p.y()) < box.halfY && p.z() > 0 && p.z() < box.height;
        else if (axis == 1)
            inside = std::fabs(p.x()) < box.halfX && p.z() > 0 && p.z() < box.height;
        else if (axis == 2)
            inside = std::fabs(p.y()) < box.halfY && std::fabs(p.x()) < box.halfX;
        if (p.w() != -1 && inside && dragPlanePoint(selected, ray, int(p.w()), lastPoint)) {
            cutPlaneDrag = true;
            pickedAxis = float(axis);
            pickedPlane = p.w();
        }
    }
    if (app->isSupportEditing())
        placeSupport(ray, true);
    if (app->isSupportDeleting())
        deleteSupport(ray);
    update();
}

void GLWidget::mouseReleaseEvent(QMouseEvent* e)
{
    cursorX = lastX = float(e->localPos().x());
    cursorY = lastY = float(e->localPos().y());
    rotateDrag = moveDrag = scaleDrag = cutPlaneDrag = false;
    pressSwallowed = false;
    rightDragAllowed = false;
}

void GLWidget::mouseMoveEvent(QMouseEvent* e)
{
    cursorX = float(e->localPos().x());
    cursorY = float(e->localPos().y());
    const float dx = cursorX - lastX, dy = cursorY - lastY;
    AppData* app = AppData::instance();
    const PickRay ray = camera.pickRay(cursorX, cursorY);
    bool changed = false;
    if (app->isSupportEditing()) {
        placeSupport(ray, false);
        changed = true;
    }
    if (app->isSupportDeleting() && renderer) {
        const MeshModel* s = app->getSupport(pickSupport(ray));
        const int slot = s ? s->supportSlot : -1;
        if (slot != renderer->getHoveredSupport()) {
            renderer->setHoveredSupport(slot);
            changed = true;
        }
    }
    if ((e->buttons() & Qt::LeftButton) && !pressSwallowed) {
        if (rotateDrag && rotateAxis <= 2)
            dragRotate(ray);
        else if (moveDrag)
            dragMove(ray);
        else if (scaleDrag)
            dragScale(ray);
        else if (!cutPlaneDrag) {
            camera.orbit(dx, dy);
            cameraMoved();
        } else
            dragCutPlane(ray);
        changed = true;
    }
    if (e->buttons() & Qt::MiddleButton) {
        camera.pan(dx, dy);
        cameraMoved();
        changed = true;
    }
    if (e->buttons() & Qt::RightButton) {
        rightButtonDrag(dx, dy);
        changed = true;
    }
    lastX = cursorX;
    lastY = cursorY;
    // Plain hovering changes nothing on screen; no frame for it.
    if (changed)
        update();
}

void GLWidget::dragMove(const PickRay& ray)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    const int a = int(pickedAxis);
    double p[3];
    if (!m || a < 0 || a > 2 || !dragPlanePoint(m, ray, int(pickedPlane), p))
        return;
    double delta[3] = {0.0, 0.0, 0.0};
    delta[a] = p[a] - lastPoint[a];
    if (std::isfinite(delta[a]))
        m->translate(delta);
    std::copy(p, p + 3, lastPoint);
    if (host)
        host->updateStatus();
}

void GLWidget::dragRotate(const PickRay& ray)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    double p[3];
    if (!m || rotateAxis < 0 || !dragPlanePoint(m, ray, rotateAxis, p))
        return;
    const Vec3 c = centroidOf(m);
    const Vec3 a = Vec3(lastPoint[0], lastPoint[1], lastPoint[2]) - c;
    const Vec3 b = Vec3(p[0], p[1], p[2]) - c;
    const double side = a.cross(b)[rotateAxis];
    const double la = a.norm(), lb = b.norm();
    if (side != 0.0 && la > 0.0 && lb > 0.0) {
        const double cosine = std::max(-1.0, std::min(1.0, a.dot(b) / (la * lb)));
        double angle = m->rotationAngles[size_t(rotateAxis)] + (side > 0 ? 1.0 : -1.0) * std::acos(cosine) * 180.0 / M_PI;
        angle = std::fmod(angle, 360.0);
        if (angle < 0.0)
            angle += 360.0;
        if (std::isfinite(angle))
            m->setAxisRotation(rotateAxis, angle);
    }
    std::copy(p, p + 3, lastPoint);
    if (host)
        host->updateStatus();
}

void GLWidget::dragScale(const PickRay& ray)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    const int a = int(pickedAxis), pl = int(pickedPlane);
    if (!m || a < 0 || a > 2 || pl < 0 || pl > 2)
        return;
    const Vec3 q = pointOnPlane(vec(ray.origin), safeDirection(ray), pl, startPoint[pl]);
    const auto b = m->getBottomCenter();
    const double r = (q[a] - b[size_t(a)]) / (startPoint[a] - b[size_t(a)]);
    double k[3];
    for (int i = 0; i < 3; ++i) {
        k[i] = startScale[i] * r;
        // A scale of zero or below, or a non-finite one, would destroy the model.
        if (!std::isfinite(k[i]) || !(k[i] > 1e-6) || std::fabs(startScale[i] - k[i]) < 0.01)
            return;
    }
    for (int i = 0; i < 3; ++i)
        m->setAxisScale(i, k[i]);
    if (host)
        host->updateStatus();
}

void GLWidget::dragCutPlane(const PickRay& ray)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    const int a = int(pickedAxis);
    double p[3];
    if (!renderer || a < 0 || a > 2 || !dragPlanePoint(m, ray, int(pickedPlane), p))
        return;
    const double old = renderer->cutPosition();
    const double position = std::trunc((old + p[a] - lastPoint[a]) * 100.0) / 100.0;
    if (!std::isfinite(position))
        return;
    // Only what was applied is consumed, so slow drags of less than 0.01 per event add up.
    lastPoint[a] += position - old;
    renderer->setCutPosition(float(position));
    if (host)
        host->updateStatus();
}

void GLWidget::rightButtonDrag(float dx, float dy)
{
    AppData* app = AppData::instance();
    if (!rightDragAllowed || app->isSupportEditing())
        return;
    const int state = host ? host->taskState() : 0;
    if (state == 2 || state == 3)
        return;
    MeshModel* m = app->getSelectedModel();
    if (!m)
        return;
    if (m->hasSupport) {
        // Asked once per press; the drag ends with the question whatever the answer.
        rightDragAllowed = false;
        if (host && host->confirmDeleteSupports()) {
            const std::string name = m->getName();
            app->removeSupportsOf(name);
            app->updateSupportFlag(name);
            host->updateStatus();
        }
        return;
    }
    dragPlane(dx, dy);
}

void GLWidget::dragPlane(float dx, float dy)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    const double s = camera.viewScale();
    if (!m || std::fabs(s) < 1e-9)
        return;
    const double x = dx / camera.unitsToPixels / s, y = dy / camera.unitsToPixels / s;
    // Screen up is the plate's far side, unless the camera has turned over the top.
    double pitch = std::fmod(double(camera.pitch), 360.0);
    if (pitch < 0.0)
        pitch += 360.0;
    const double up = (pitch < 90.0 || pitch > 270.0) ? -y : y;
    const double yaw = -double(camera.yaw) * M_PI / 180.0;
    double delta[3] = {x * std::cos(yaw) - up * std::sin(yaw), x * std::sin(yaw) + up * std::cos(yaw), 0.0};
    if (!std::isfinite(delta[0]) || !std::isfinite(delta[1]))
        return;
    m->translate(delta);
    if (host)
        host->updateStatus();
}

void GLWidget::wheelEvent(QWheelEvent* e)
{
    camera.wheel(e->angleDelta().y());
    cameraMoved();
    update();
}
