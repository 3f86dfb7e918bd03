#include "render/ViewCamera.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double radToDeg = 180.0 * 0.318309;
const double tanHalfFov = std::tan(10.0 * M_PI / 180.0);
} // namespace

ViewCamera::ViewCamera()
{
    resize(0, 0);
    rebuildRotation();
}

void ViewCamera::resize(int w, int h)
{
    width = std::max(w, 0);
    height = std::max(h, 0);
    aspect = double(width) / double(height > 0 ? height : 1);
    if (aspect <= 0.0)
        aspect = 1.0;
    // A zero-height widget would make every pixel delta infinite; count it as one pixel.
    unitsToPixels = double(std::max(height, 1)) / (2.0 * halfHeight);
    projection.setToIdentity();
    projection.perspective(20.0f, float(aspect), 2.0f, 1000.0f);
}

void ViewCamera::orbit(float dx, float dy)
{
    const double s = std::min(width, height) * 0.33333;
    if (s > 0.0 && std::isfinite(dx) && std::isfinite(dy)) {
        yaw += float(dx / s * radToDeg);
        pitch += float(dy / s * radToDeg);
    }
    rebuildRotation();
}

void ViewCamera::pan(float dx, float dy)
{
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return;
    panX += float(dx / unitsToPixels);
    panY += float(dy / unitsToPixels);
}

void ViewCamera::wheel(int delta)
{
    zoom -= delta / 1200.0;
    if (zoom > maxZoom)
        zoom = maxZoom;
}

void ViewCamera::applyPreset(int preset)
{
    struct Preset
    {
        float yaw, pitch, panX, panY;
    };
    static const Preset presets[] = {
        {-20, -70, 20, 30}, {0, -90, 20, 30}, {180, -90, 20, 30}, {-90, -90, 20, 30},
        {90, -90, 20, 30},  {0, 0, 20, 0},    {0, 180, 20, 0},
    };
    if (preset >= 0 && preset < int(sizeof presets / sizeof presets[0])) {
        const Preset& p = presets[preset];
        yaw = p.yaw;
        pitch = p.pitch;
        panX = p.panX;
        panY = p.panY;
    }
    rebuildRotation();
    zoom = 0.5;
}

void ViewCamera::rebuildRotation()
{
    rotation = QQuaternion::fromAxisAndAngle(1, 0, 0, pitch) * QQuaternion::fromAxisAndAngle(0, 0, 1, yaw);
}

QMatrix4x4 ViewCamera::viewMatrix() const
{
    QMatrix4x4 v;
    v.translate(translation());
    v.rotate(rotation);
    v.scale(viewScale());
    return v;
}

PickRay ViewCamera::pickRay(float cx, float cy) const
{
    const double h = halfHeight;
    const double u = unitsToPixels;
    const double w = std::max(width, 1);
    const double ht = std::max(height, 1);
    const double d = h / tanHalfFov;
    // Zoom has no lower limit, so the scale can reach 0 or below; keep the division finite.
    double s = 1.0 - zoom;
    if (std::fabs(s) < 1e-9)
        s = 1e-9;
    const QVector3D p(float((cx / u - h * aspect - panX) / s), float(((h - cy / u) + panY) / s),
                      float((eyeDistance - d) / s));
    const QVector3D dir(float((2.0 * cx / w - 1.0) * tanHalfFov * aspect),
                        float(-(2.0 * cy / ht - 1.0) * tanHalfFov), -1.0f);
    const QVector3D origin = p - 50.0f * dir;
    const QQuaternion inv = rotation.conjugated();
    return {inv.rotatedVector(origin), inv.rotatedVector(dir)};
}

bool ViewCamera::project(const QVector3D& p, QPointF& pixel) const
{
    const QVector4D c = viewProjection() * QVector4D(p, 1.0f);
    if (c.w() <= 1e-6f)
        return false;
    const double nx = c.x() / c.w();
    const double ny = c.y() / c.w();
    pixel = QPointF((nx + 1.0) * width * 0.5, (1.0 - ny) * height * 0.5);
    return true;
}
