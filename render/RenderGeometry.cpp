#include "render/RenderGeometry.h"

#include "scene/AppData.h"
#include "scene/MeshModel.h"

#include <cmath>

namespace RenderGeometry {

bool isRoundMachine(int machineType)
{
    return machineType == 2 || machineType == 3;
}

LineShape boxEdges(const PlateSize& plate)
{
    LineShape s;
    const float x = float(plate.halfX), y = float(plate.halfY), h = float(plate.height);
    for (float z : {0.0f, h}) {
        s.vertices.push_back({-x, -y, z});
        s.vertices.push_back({x, -y, z});
        s.vertices.push_back({x, y, z});
        s.vertices.push_back({-x, y, z});
    }
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t n = (i + 1) % 4;
        s.indices.insert(s.indices.end(), {i, n, i + 4, n + 4, i, i + 4});
    }
    return s;
}

std::vector<TexturedVertex> plateQuad(double hx, double hy, double z)
{
    const float x = float(hx), y = float(hy), zf = float(z);
    return {{-x, -y, zf, 0, 0}, {x, -y, zf, 1, 0}, {-x, y, zf, 0, 1}, {x, y, zf, 1, 1}};
}

std::vector<TexturedVertex> cylinderBand(double radius)
{
    std::vector<TexturedVertex> v(720);
    for (int a = 0; a < 360; ++a) {
        const double rad = a * M_PI / 180.0;
        const float x = float(radius * std::cos(rad)), y = float(radius * std::sin(rad));
        const float u = float(a % 90) / 90.0f;
        v[a] = {x, y, 0.0f, u, 0.0f};
        v[a + 360] = {x, y, 30.0f, u, 1.0f};
    }
    return v;
}

std::vector<uint32_t> cylinderBandIndices()
{
    std::vector<uint32_t> idx;
    idx.reserve(720);
    for (uint32_t i = 0; i < 360; ++i) {
        idx.push_back(i);
        idx.push_back(i + 360);
    }
    return idx;
}

std::vector<TexturedVertex> cutPlaneQuad(int axis, double s, int machineType, const PlateSize& plate)
{
    const bool round = isRoundMachine(machineType);
    const float hx = float(round ? plate.cylinderRadius : plate.halfX);
    const float hy = float(round ? plate.cylinderRadius : plate.halfY);
    const float h = float(round ? plate.cylinderHeight : plate.height);
    const float p = float(s);
    if (axis == 0)
        return {{p, -hy, 0, 0, 0}, {p, hy, 0, 1, 0}, {p, -hy, h, 0, 1}, {p, hy, h, 1, 1}};
    if (axis == 1)
        return {{-hx, p, 0, 0, 0}, {hx, p, 0, 1, 0}, {-hx, p, h, 0, 1}, {hx, p, h, 1, 1}};
    return plateQuad(hx, hy, p);
}

namespace {
QVector3D unit(int k)
{
    return QVector3D(k == 0, k == 1, k == 2);
}
} // namespace

LineShape axisArrow(int k, const QVector3D& c, float r)
{
    const QVector3D e = unit(k);
    const QVector3D side = unit(k == 1 ? 0 : 1);
    const QVector3D tip = c + 1.3f * r * e;
    const QVector3D back = tip - 0.125f * r * e;
    LineShape s;
    s.vertices = {c, tip, back + 0.125f * r * side, back - 0.125f * r * side};
    s.indices = {0, 1, 1, 2, 1, 3};
    return s;
}

LineShape rotateRing(int k, const QVector3D& c, float r)
{
    LineShape s;
    s.vertices.reserve(360);
    s.indices.reserve(720);
    for (int a = 0; a < 360; ++a) {
        const double rad = a * 6.2831852 / 360.0;
        const float co = float(r * std::cos(rad)), si = float(r * std::sin(rad));
        if (k == 0)
            s.vertices.push_back(c + QVector3D(0, co, si));
        else if (k == 1)
            s.vertices.push_back(c + QVector3D(co, 0, si));
        else
            s.vertices.push_back(c + QVector3D(si, co, 0));
        s.indices.push_back(uint32_t(a));
        s.indices.push_back(uint32_t((a + 1) % 360));
    }
    return s;
}

QString twoDecimals(double v)
{
    if (!std::isfinite(v))
        return QStringLiteral("0.00");
    if (std::fabs(v) < 0.005)
        v = 0.0;
    return QString::number(v, 'f', 2);
}

std::vector<OverlayLabel> overlayLabels(const AppData& app, const QMatrix4x4& viewProjection, int viewportWidth,
                                        int viewportHeight, int cutAxis, double cutPosition,
                                        const PlateSize& plate)
{
    std::vector<OverlayLabel> out;
    if (viewportWidth <= 0 || viewportHeight <= 0)
        return out;
    MeshModel* model = app.getSelectedModel();
    if (!model)
        return out;

    auto place = [&](const QVector3D& p, const QString& text, const QColor& colour) {
        const QVector4D c = viewProjection * QVector4D(p, 1.0f);
        if (!(c.w() > 1e-6f))
            return;
        const double nx = c.x() / c.w(), ny = c.y() / c.w();
        const QPointF pixel((nx + 1.0) * viewportWidth * 0.5, (1.0 - ny) * viewportHeight * 0.5);
        if (!(pixel.x() >= 0 && pixel.x() < viewportWidth && pixel.y() >= 0 && pixel.y() < viewportHeight))
            return;
        out.push_back({text, colour, pixel});
    };

    const QColor colours[3] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
    const auto cen = model->getCentroid();
    const QVector3D c(cen[0], cen[1], cen[2]);
    const float r = float(model->getViewRadius());
    switch (app.getEditMode()) {
    case 1: {
        const auto b = model->getBottomCenter();
        for (int k = 0; k < 3; ++k)
            place(c + 1.3f * r * QVector3D(k == 0, k == 1, k == 2), twoDecimals(b[k]) + "mm", colours[k]);
        break;
    }
    case 2:
        for (int k = 0; k < 3; ++k) {
            const double a = model->rotationAngles[k];
            place(c + r * QVector3D(k == 0, k == 1, k == 2),
                  QString::number(std::isfinite(a) ? a : 0.0, 'f', 0) + QStringLiteral("°"), colours[k]);
        }
        break;
    case 3: {
        static const char* const prefixes[3] = {"宽:", "长:", "高:"};
        for (int k = 0; k < 3; ++k)
            place(c + 1.3f * r * QVector3D(k == 0, k == 1, k == 2),
                  QString::fromUtf8(prefixes[k]) + twoDecimals(model->size[k]) + "mm", colours[k]);
        break;
    }
    case 4: {
        const float s = float(cutPosition);
        const float hx = float(plate.halfX), hy = float(plate.halfY), h = float(plate.height);
        QVector3D at;
        QString text = twoDecimals(cutPosition) + "mm";
        if (cutAxis == 0)
            at = QVector3D(s, -hx, h);
        else if (cutAxis == 1)
            at = QVector3D(hy, s, h);
        else if (cutAxis == 2)
            at = QVector3D(-hy, -hx, s);
        else
            text = QStringLiteral("error");
        place(at, text, colours[2]);
        break;
    }
    default:
        break;
    }
    return out;
}

} // namespace RenderGeometry
