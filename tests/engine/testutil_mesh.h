#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <array>

// Triangle soups written as binary STL, in millimetres.
namespace testmesh {

using Vec = std::array<float, 3>;
using Tri = std::array<Vec, 3>;

QVector<Tri> box(float x0, float y0, float z0, float x1, float y1, float z1);
// A convex polygon of the XZ plane, counter-clockwise with x right and z up, stretched from y0 to y1.
QVector<Tri> prismXZ(const QVector<std::array<float, 2>>& xz, float y0, float y1);
// A square block with a square hole through it, every face pointing outward.
QVector<Tri> frame(float outer, float hole, float height);
// A UV sphere of the given radius standing on z = 0, centred on x = y = 0.
QVector<Tri> sphere(float radius, int rings, int segments);
QVector<Tri> flipped(QVector<Tri> tris);

QByteArray stlBytes(const QVector<Tri>& tris, bool nanNormals = true);
bool writeFile(const QString& path, const QByteArray& bytes);

} // namespace testmesh
