#pragma once

#include <QColor>
#include <QMatrix4x4>
#include <QPointF>
#include <QString>
#include <QVector3D>

#include <cstdint>
#include <vector>

class AppData;

// Position plus texture coordinate, 20 bytes: the layout of every textured quad and band.
struct TexturedVertex
{
    float x, y, z, u, v;
};

// Lines as vertices and index pairs.
struct LineShape
{
    std::vector<QVector3D> vertices;
    std::vector<uint32_t> indices;
};

// The machine sizes the renderer draws with.
struct PlateSize
{
    double halfX = 50.0;
    double halfY = 50.0;
    double height = 100.0;
    double cylinderRadius = 0.0;
    double cylinderHeight = 0.0;
};

// One label of the text overlay, placed at a pixel of the view.
struct OverlayLabel
{
    QString text;
    QColor colour;
    QPointF pixel;
};

// The renderer's geometry, built without GL so it can be checked headless.
namespace RenderGeometry {

bool isRoundMachine(int machineType);

LineShape boxEdges(const PlateSize& plate);
// Quad (±hx, ±hy, z) in strip order, texture (0,0), (1,0), (0,1), (1,1).
std::vector<TexturedVertex> plateQuad(double hx, double hy, double z);
// 720 vertices: the ring at z = 0, then the ring at z = 30, one per whole degree.
std::vector<TexturedVertex> cylinderBand(double radius);
std::vector<uint32_t> cylinderBandIndices();
// The cut plane at position s across axis (0 X, 1 Y, anything else Z).
std::vector<TexturedVertex> cutPlaneQuad(int axis, double s, int machineType, const PlateSize& plate);

// The gizmos around centre c with radius r, axis k (0..2).
LineShape axisArrow(int k, const QVector3D& c, float r);
LineShape rotateRing(int k, const QVector3D& c, float r);

// A value with two decimals, "0.00" for magnitudes below 0.005 (never "-0.00").
QString twoDecimals(double v);

// The overlay's labels for the current scene, edit mode and cut state, with their pixels.
// Labels whose anchor lies behind the eye or outside the viewport are left out.
std::vector<OverlayLabel> overlayLabels(const AppData& app, const QMatrix4x4& viewProjection, int viewportWidth,
                                        int viewportHeight, int cutAxis, double cutPosition,
                                        const PlateSize& plate);

} // namespace RenderGeometry
