#include "render/MeshProxy.h"

#include <algorithm>
#include <cmath>

#include "scene/MeshData.h"

namespace {

uint64_t mix(uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

size_t tableSize(size_t entries)
{
    size_t n = 1024;
    while (n < entries * 2)
        n *= 2;
    return n;
}

// One clustering pass with the given cell; fills the proxy.
MeshProxy cluster(const MeshData& mesh, const double lo[3], double cell, const int64_t dims[3])
{
    const size_t nv = mesh.vertices.size();
    // Cell of every vertex, through an open-addressing table keyed by the cell number.
    const size_t cap = tableSize(std::min(nv, size_t(1) << 26));
    std::vector<uint64_t> keys(cap, ~uint64_t(0));
    std::vector<int32_t> ids(cap, -1);
    std::vector<int32_t> clusterOf(nv);
    std::vector<double> sums;
    std::vector<uint32_t> counts;
    sums.reserve(nv / 2 * 3);
    counts.reserve(nv / 2);
    for (size_t i = 0; i < nv; ++i) {
        const auto& v = mesh.vertices[i];
        int64_t c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = std::clamp(int64_t((v[size_t(k)] - lo[k]) / cell), int64_t(0), dims[k] - 1);
        const uint64_t key = uint64_t(c[0]) + uint64_t(dims[0]) * (uint64_t(c[1]) + uint64_t(dims[1]) * uint64_t(c[2]));
        size_t h = mix(key) & (cap - 1);
        while (keys[h] != key && ids[h] >= 0)
            h = (h + 1) & (cap - 1);
        if (ids[h] < 0) {
            keys[h] = key;
            ids[h] = int32_t(counts.size());
            counts.push_back(0);
            sums.insert(sums.end(), {0.0, 0.0, 0.0});
        }
        const int32_t id = ids[h];
        clusterOf[i] = id;
        ++counts[size_t(id)];
        for (int k = 0; k < 3; ++k)
            sums[size_t(id) * 3 + size_t(k)] += v[size_t(k)];
    }

    // Faces between three different cells, each once whatever its orientation: two faces on
    // the same three cells with opposite windings would fight for the same pixels.
    MeshProxy p;
    p.cell = cell;
    std::vector<uint32_t> faces;
    faces.reserve(mesh.faces.size() / 4 * 3);
    const size_t fcap = tableSize(mesh.faces.size());
    std::vector<int32_t> seen(fcap, -1);
    for (const auto& f : mesh.faces) {
        const uint32_t a = uint32_t(clusterOf[size_t(f[0])]), b = uint32_t(clusterOf[size_t(f[1])]),
                       c = uint32_t(clusterOf[size_t(f[2])]);
        if (a == b || b == c || a == c)
            continue;
        const uint32_t s0 = std::min({a, b, c}), s2 = std::max({a, b, c}), s1 = a ^ b ^ c ^ s0 ^ s2;
        size_t h = mix(uint64_t(s0) | (uint64_t(s1) << 32)) ^ mix(s2);
        h &= fcap - 1;
        bool duplicate = false;
        while (seen[h] >= 0) {
            const uint32_t* g = &faces[size_t(seen[h]) * 3];
            if (std::min({g[0], g[1], g[2]}) == s0 && std::max({g[0], g[1], g[2]}) == s2 &&
                (g[0] ^ g[1] ^ g[2]) == (a ^ b ^ c)) {
                duplicate = true;
                break;
            }
            h = (h + 1) & (fcap - 1);
        }
        if (duplicate)
            continue;
        seen[h] = int32_t(faces.size() / 3);
        faces.insert(faces.end(), {a, b, c});
    }

    // Only the cells some face uses become vertices, at the mean of their vertices.
    std::vector<int32_t> remap(counts.size(), -1);
    p.indices.reserve(faces.size());
    for (uint32_t id : faces) {
        if (remap[id] < 0) {
            remap[id] = int32_t(p.positions.size() / 3);
            for (int k = 0; k < 3; ++k)
                p.positions.push_back(float(sums[size_t(id) * 3 + size_t(k)] / counts[id]));
        }
        p.indices.push_back(uint32_t(remap[id]));
    }
    return p;
}

} // namespace

MeshProxy MeshProxy::build(const MeshData& mesh, size_t threshold, size_t target)
{
    const size_t nf = mesh.faces.size(), nv = mesh.vertices.size();
    if (nf <= threshold || nv == 0 || target == 0 || nv >= size_t(INT32_MAX))
        return {};
    double lo[3] = {mesh.vertices[0][0], mesh.vertices[0][1], mesh.vertices[0][2]};
    double hi[3] = {lo[0], lo[1], lo[2]};
    for (const auto& v : mesh.vertices)
        for (int k = 0; k < 3; ++k) {
            if (!std::isfinite(v[size_t(k)]))
                return {};
            lo[k] = std::min(lo[k], v[size_t(k)]);
            hi[k] = std::max(hi[k], v[size_t(k)]);
        }
    double area = 0.0;
    for (const auto& f : mesh.faces) {
        const auto &a = mesh.vertices[size_t(f[0])], &b = mesh.vertices[size_t(f[1])], &c = mesh.vertices[size_t(f[2])];
        const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        area += 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    }
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    if (!(area > 0.0) || !(extent > 0.0))
        return {};
    // Just above the threshold the proxy still has to be much lighter than the mesh.
    target = std::min(target, nf / 2);
    // On a surface about two faces remain per occupied cell, and a cell of edge c holds
    // about c^2 of the area; cells cut obliquely hold less, hence a little more than 2.
    double cell = std::sqrt(2.5 * area / double(target));
    MeshProxy best;
    for (int pass = 0; pass < 4; ++pass) {
        // At most 2^20 cells along an axis, so the cell number fits 64 bits.
        cell = std::max(cell, extent / double(1 << 20));
        int64_t dims[3];
        for (int k = 0; k < 3; ++k)
            dims[k] = int64_t((hi[k] - lo[k]) / cell) + 1;
        MeshProxy p = cluster(mesh, lo, cell, dims);
        const size_t got = p.faceCount();
        best = std::move(p);
        if (got <= target + target / 5)
            break;
        cell *= std::sqrt(double(got) / double(target)) * 1.05;
    }
    // A proxy not much lighter than the mesh only costs memory.
    if (best.faceCount() == 0 || best.faceCount() * 3 > nf * 2)
        return {};
    return best;
}
