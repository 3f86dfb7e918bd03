#include "testutil_mesh.h"

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

namespace testmesh {

QVector<Tri> box(float x0, float y0, float z0, float x1, float y1, float z1)
{
    const Vec v[8] = {{x0, y0, z0}, {x1, y0, z0}, {x1, y1, z0}, {x0, y1, z0},
                      {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}};
    const int f[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                          {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    QVector<Tri> out;
    for (const auto& t : f)
        out.append({v[t[0]], v[t[1]], v[t[2]]});
    return out;
}

QVector<Tri> prismXZ(const QVector<std::array<float, 2>>& xz, float y0, float y1)
{
    QVector<Tri> out;
    const int n = xz.size();
    auto at = [&](int k, float y) { return Vec{xz[k % n][0], y, xz[k % n][1]}; };
    for (int k = 1; k + 1 < n; ++k) {
        out.append({at(0, y0), at(k, y0), at(k + 1, y0)});
        out.append({at(0, y1), at(k + 1, y1), at(k, y1)});
    }
    for (int k = 0; k < n; ++k) {
        out.append({at(k, y0), at(k, y1), at(k + 1, y1)});
        out.append({at(k, y0), at(k + 1, y1), at(k + 1, y0)});
    }
    return out;
}

QVector<Tri> frame(float outer, float hole, float height)
{
    const float o = outer / 2;
    const float h = hole / 2;
    const float ox[4] = {-o, o, o, -o}, oy[4] = {-o, -o, o, o};
    const float ix[4] = {-h, h, h, -h}, iy[4] = {-h, -h, h, h};
    QVector<Tri> out;
    auto quad = [&out](Vec a, Vec b, Vec c, Vec d) {
        out.append({a, b, c});
        out.append({a, c, d});
    };
    for (int k = 0; k < 4; ++k) {
        const int n = (k + 1) % 4;
        quad({ox[k], oy[k], 0}, {ox[n], oy[n], 0}, {ox[n], oy[n], height}, {ox[k], oy[k], height});
        quad({ix[n], iy[n], 0}, {ix[k], iy[k], 0}, {ix[k], iy[k], height}, {ix[n], iy[n], height});
        quad({ox[k], oy[k], height}, {ox[n], oy[n], height}, {ix[n], iy[n], height}, {ix[k], iy[k], height});
        quad({ix[k], iy[k], 0}, {ix[n], iy[n], 0}, {ox[n], oy[n], 0}, {ox[k], oy[k], 0});
    }
    return out;
}

QVector<Tri> sphere(float radius, int rings, int segments)
{
    auto vertex = [&](int ring, int seg) {
        const double theta = M_PI * ring / rings;
        const double phi = 2 * M_PI * (seg % segments) / segments;
        return Vec{float(radius * std::sin(theta) * std::cos(phi)),
                   float(radius * std::sin(theta) * std::sin(phi)),
                   float(radius - radius * std::cos(theta))};
    };
    QVector<Tri> out;
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            if (r != rings - 1)
                out.append({vertex(r, s), vertex(r + 1, s), vertex(r + 1, s + 1)});
            if (r != 0)
                out.append({vertex(r, s), vertex(r + 1, s + 1), vertex(r, s + 1)});
        }
    return out;
}

QVector<Tri> flipped(QVector<Tri> tris)
{
    for (Tri& t : tris)
        std::swap(t[1], t[2]);
    return tris;
}

QByteArray stlBytes(const QVector<Tri>& tris, bool nanNormals)
{
    QByteArray out(84 + 50 * tris.size(), '\0');
    char* p = out.data() + 80;
    auto putWord = [&p](quint32 w) {
        const quint32 le = qToLittleEndian(w);
        std::memcpy(p, &le, 4);
        p += 4;
    };
    putWord(quint32(tris.size()));
    auto put = [&putWord](float f) {
        quint32 bits;
        std::memcpy(&bits, &f, 4);
        putWord(bits);
    };
    for (const Tri& t : tris) {
        for (int i = 0; i < 3; ++i)
            put(nanNormals ? std::numeric_limits<float>::quiet_NaN() : 0.0f);
        for (const Vec& v : t)
            for (float c : v)
                put(c);
        p += 2;
    }
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace testmesh
