#include "scene/MeshData.h"
#include "scene/BigAllocator.h"

#include <algorithm>
#include <cmath>

#include "scene/Parallel.h"
#include "scene/ParallelSort.h"

void MeshData::clear(MeshData& m)
{
    std::vector<std::array<double, 3>>().swap(m.normals);
    std::vector<std::array<int32_t, 3>>().swap(m.faces);
    std::vector<std::array<double, 3>>().swap(m.vertices);
}

void MeshData::appendMesh(MeshData& dst, const MeshData& src)
{
    const int32_t n = int32_t(dst.vertices.size());
    dst.vertices.insert(dst.vertices.end(), src.vertices.begin(), src.vertices.end());
    dst.faces.reserve(dst.faces.size() + src.faces.size());
    for (const auto& f : src.faces)
        dst.faces.push_back({f[0] + n, f[1] + n, f[2] + n});
}

void MeshData::transform(const MeshData& src, const double m[16], MeshData& out)
{
    // The fourth row is ignored on purpose: model matrices are affine.
    std::vector<std::array<double, 3>> placed(src.vertices.size());
    for (size_t i = 0; i < src.vertices.size(); ++i) {
        const auto& p = src.vertices[i];
        placed[i] = {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
                     m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
                     m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
    }
    out.vertices.swap(placed);
    if (&out != &src)
        out.faces = src.faces;
}

bool MeshData::computeNormals(MeshData& m, const std::atomic<bool>* cancelled)
{
    std::vector<std::array<double, 3>> sums;
    assignHuge(sums, m.vertices.size(), std::array<double, 3>{0.0, 0.0, 0.0});
    if (!sumFaceNormals(m, 0, m.faces.size(), sums, cancelled))
        return false;
    unitNormals(sums);
    m.normals.swap(sums);
    return true;
}

bool MeshData::sumFaceNormals(const MeshData& m, size_t from, size_t to, std::vector<std::array<double, 3>>& sums,
                              const std::atomic<bool>* cancelled)
{
    const size_t nv = std::min(m.vertices.size(), sums.size()), nf = to - from;
    // Each core sums the faces at the vertices of its own range, reading every face in order:
    // no two cores add to one vertex, and each vertex takes its faces in the order one pass
    // would, so the normals come out the same to the last bit.
    const size_t parts = nf < (size_t(1) << 16) ? 1 : partCount(nv, size_t(1) << 14);
    std::atomic<bool> stopped{false};
    runParts(parts, [&](size_t part) {
        const size_t v0 = nv * part / parts, v1 = nv * (part + 1) / parts;
        auto mine = [&](int32_t v) { return size_t(uint32_t(v)) - v0 < v1 - v0; };
        for (size_t i = from; i < to; ++i) {
            if (((i - from) & 0xffff) == 0 && ((cancelled && cancelled->load(std::memory_order_relaxed)) || stopped.load())) {
                stopped = true;
                return;
            }
            const auto& f = m.faces[i];
            if (!mine(f[0]) && !mine(f[1]) && !mine(f[2]))
                continue;
            if (f[0] < 0 || f[1] < 0 || f[2] < 0 || size_t(f[0]) >= nv || size_t(f[1]) >= nv || size_t(f[2]) >= nv)
                continue;
            const auto& a = m.vertices[size_t(f[0])];
            const auto& b = m.vertices[size_t(f[1])];
            const auto& c = m.vertices[size_t(f[2])];
            const double e1x = b[0] - a[0], e1y = b[1] - a[1], e1z = b[2] - a[2];
            const double e2x = c[0] - a[0], e2y = c[1] - a[1], e2z = c[2] - a[2];
            double nx = e1y * e2z - e1z * e2y;
            double ny = e1z * e2x - e1x * e2z;
            double nz = e1x * e2y - e1y * e2x;
            const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
            // A face of zero area has no direction; it must not poison its corners with NaN.
            if (!(len > 0.0) || !std::isfinite(len))
                continue;
            nx /= len;
            ny /= len;
            nz /= len;
            for (int k = 0; k < 3; ++k) {
                if (!mine(f[k]))
                    continue;
                auto& s = sums[size_t(f[k])];
                s[0] += nx;
                s[1] += ny;
                s[2] += nz;
            }
        }
    });
    return !stopped.load();
}

void MeshData::unitNormals(std::vector<std::array<double, 3>>& sums)
{
    // Dividing by the face count first does not change the direction; the unit length is what counts.
    parallelRanges(sums.size(), size_t(1) << 16, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            auto& s = sums[i];
            const double len = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
            if (len > 0.0 && std::isfinite(len)) {
                s[0] /= len;
                s[1] /= len;
                s[2] /= len;
            } else {
                s = {0.0, 0.0, 0.0};
            }
        }
    });
}

void MeshData::sortFaces(MeshData& m, const std::atomic<bool>* cancelled)
{
    for (auto& f : m.faces) {
        int k = 0;
        if (f[1] < f[k])
            k = 1;
        if (f[2] < f[k])
            k = 2;
        if (k == 1)
            f = {f[1], f[2], f[0]};
        else if (k == 2)
            f = {f[2], f[0], f[1]};
    }
    parallelSort(m.faces,
                 [](const std::array<int32_t, 3>& a, const std::array<int32_t, 3>& b) { return a < b; }, cancelled);
    size_t out = 0;
    for (size_t i = 0; i < m.faces.size(); ++i) {
        const auto f = m.faces[i];
        // Any repeated index makes a face degenerate, not only neighbouring repeats.
        if (f[0] == f[1] || f[1] == f[2] || f[0] == f[2])
            continue;
        if (out > 0 && m.faces[out - 1] == f)
            continue;
        m.faces[out++] = f;
    }
    m.faces.resize(out);
    m.faces.shrink_to_fit();
}
