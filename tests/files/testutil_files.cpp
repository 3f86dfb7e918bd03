#include "testutil_files.h"

#include <QFile>

#include <cmath>
#include <map>

namespace testutil {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

static std::array<double, 3> sub(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

static std::array<double, 3> cross(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double surfaceArea(const MeshData& m)
{
    double a = 0.0;
    for (const auto& f : m.faces) {
        const auto c = cross(sub(m.vertices[size_t(f[1])], m.vertices[size_t(f[0])]),
                             sub(m.vertices[size_t(f[2])], m.vertices[size_t(f[0])]));
        a += 0.5 * std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    }
    return a;
}

double signedVolume(const MeshData& m)
{
    double v = 0.0;
    for (const auto& f : m.faces) {
        const auto& a = m.vertices[size_t(f[0])];
        const auto c = cross(m.vertices[size_t(f[1])], m.vertices[size_t(f[2])]);
        v += (a[0] * c[0] + a[1] * c[1] + a[2] * c[2]) / 6.0;
    }
    return v;
}

bool isClosedAndConsistent(const MeshData& m)
{
    std::map<std::pair<int, int>, int> edges;
    for (const auto& f : m.faces)
        for (int k = 0; k < 3; ++k)
            ++edges[{f[size_t(k)], f[size_t((k + 1) % 3)]}];
    for (const auto& e : edges) {
        if (e.second != 1)
            return false;
        const auto back = edges.find({e.first.second, e.first.first});
        if (back == edges.end() || back->second != 1)
            return false;
    }
    return !edges.empty();
}

} // namespace testutil
