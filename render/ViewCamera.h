#pragma once

#include <QMatrix4x4>
#include <QPointF>
#include <QQuaternion>
#include <QVector3D>

// A ray through one pixel: origin and (not normalised) direction, in scene units.
struct PickRay
{
    QVector3D origin;
    QVector3D direction;
};

// The orbiting camera of the 3D view: orbit angles, pan, zoom and projection. Plain maths,
// so it can be tested without a GL context. Every input keeps the state finite, also for a
// zero-sized widget.
class ViewCamera
{
public:
    // Half the visible height at the reference distance, in scene units.
    static constexpr double halfHeight = 60.0;
    // Distance of the scene from the eye along the view axis.
    static constexpr float eyeDistance = 350.0f;
    static constexpr double maxZoom = 0.9;

    ViewCamera();

    void resize(int w, int h);
    // Cursor delta in pixels; one third of the shorter side turns by one radian.
    void orbit(float dx, float dy);
    void pan(float dx, float dy);
    // Legacy wheel delta, 120 per notch.
    void wheel(int delta);
    // The view-direction pad's presets (0..6); any value resets the zoom.
    void applyPreset(int preset);
    void rebuildRotation();

    // Scale handed to the renderer: 1 - zoom.
    float viewScale() const { return float(1.0 - zoom); }
    QVector3D translation() const { return QVector3D(panX, -panY, -eyeDistance); }
    QMatrix4x4 viewMatrix() const;
    QMatrix4x4 viewProjection() const { return projection * viewMatrix(); }

    PickRay pickRay(float cx, float cy) const;
    // Pixel of a scene point; false when the point is behind the eye.
    bool project(const QVector3D& p, QPointF& pixel) const;

    int width = 0;
    int height = 0;
    QMatrix4x4 projection;
    QQuaternion rotation;
    float panX = 20.0f;
    float panY = 30.0f;
    double aspect = 1.0;
    double unitsToPixels = 1.0;
    double zoom = 0.5;
    float yaw = -20.0f;
    float pitch = -70.0f;
};
