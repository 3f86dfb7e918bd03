#pragma once

// Small closed meshes for the cut and support tests.

#include <QString>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "scene/MeshData.h"

namespace testmesh {

// Union of grid cubes of side `size`; cells given as (i, j, k). Faces between filled cells
// vanish, so the result is closed when no two cells touch only along an edge.
inline MeshData voxels(const std::vector<std::array<int, 3>>& cells, double size)
{
    std::set<std::array<int, 3>> filled(cells.begin(), cells.end());
    MeshData m;
    std::map<std::array<int, 3>, int> ids;
    auto vid = [&](int x, int y, int z) {
        auto it = ids.find({x, y, z});
        if (it != ids.end())
            return it->second;
        const int id = int(m.vertices.size());
        m.vertices.push_back({x * size, y * size, z * size});
        ids[{x, y, z}] = id;
        return id;
    };
    for (const auto& c : filled) {
        for (int axis = 0; axis < 3; ++axis) {
            for (int dir = -1; dir <= 1; dir += 2) {
                auto n = c;
                n[size_t(axis)] += dir;
                if (filled.count(n))
                    continue;
                // Square on the face, wound outward.
                const int u = (axis + 1) % 3, v = (axis + 2) % 3;
                std::array<int, 3> base = c;
                if (dir > 0)
                    base[size_t(axis)] += 1;
                std::array<std::array<int, 3>, 4> q;
                for (int k = 0; k < 4; ++k) {
                    q[size_t(k)] = base;
                    q[size_t(k)][size_t(u)] += (k == 1 || k == 2);
                    q[size_t(k)][size_t(v)] += (k >= 2);
                }
                int id[4];
                for (int k = 0; k < 4; ++k)
                    id[k] = vid(q[size_t(k)][0], q[size_t(k)][1], q[size_t(k)][2]);
                if (dir > 0) {
                    m.faces.push_back({id[0], id[1], id[2]});
                    m.faces.push_back({id[0], id[2], id[3]});
                } else {
                    m.faces.push_back({id[0], id[2], id[1]});
                    m.faces.push_back({id[0], id[3], id[2]});
                }
            }
        }
    }
    return m;
}

inline MeshData box(int nx, int ny, int nz, double size, bool holeZ = false)
{
    std::vector<std::array<int, 3>> cells;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            for (int k = 0; k < nz; ++k)
                if (!(holeZ && i == nx / 2 && j == ny / 2))
                    cells.push_back({i, j, k});
    return voxels(cells, size);
}

// Closed cylinder about Z: radius r, height h, n sides, base at z = 0.
inline MeshData cylinder(double r, double h, int n)
{
    MeshData m;
    for (int k = 0; k < n; ++k) {
        const double a = 2.0 * M_PI * k / n;
        m.vertices.push_back({r * std::cos(a), r * std::sin(a), 0.0});
        m.vertices.push_back({r * std::cos(a), r * std::sin(a), h});
    }
    const int c0 = int(m.vertices.size());
    m.vertices.push_back({0.0, 0.0, 0.0});
    m.vertices.push_back({0.0, 0.0, h});
    for (int k = 0; k < n; ++k) {
        const int a0 = 2 * k, a1 = 2 * k + 1, b0 = 2 * ((k + 1) % n), b1 = b0 + 1;
        m.faces.push_back({a0, b0, b1});
        m.faces.push_back({a0, b1, a1});
        m.faces.push_back({c0, b0, a0});
        m.faces.push_back({c0 + 1, a1, b1});
    }
    return m;
}

// Tube about Z: radius r, bore radius bore (0: solid, with fan caps), height h, n sides, the
// outer wall in `rings` rings. With gapEvery, every gapEvery-th quad of the middle ring is missing.
inline MeshData tube(double r, double bore, double h, int n, int rings = 1, int gapEvery = 0)
{
    MeshData m;
    auto ring = [&](double radius, double z) {
        const int base = int(m.vertices.size());
        for (int k = 0; k < n; ++k)
            m.vertices.push_back({radius * std::cos(2.0 * M_PI * k / n), radius * std::sin(2.0 * M_PI * k / n), z});
        return base;
    };
    std::vector<int> rows;
    for (int i = 0; i <= rings; ++i)
        rows.push_back(ring(r, h * i / rings));
    const int in0 = bore > 0 ? ring(bore, 0.0) : 0, in1 = bore > 0 ? ring(bore, h) : 0;
    const int c0 = int(m.vertices.size());
    m.vertices.push_back({0.0, 0.0, 0.0});
    m.vertices.push_back({0.0, 0.0, h});
    const int bottom = rows.front(), top = rows.back();
    for (int k = 0; k < n; ++k) {
        const int k1 = (k + 1) % n;
        for (int i = 0; i < rings; ++i)
            if (gapEvery <= 0 || i != rings / 2 || k % gapEvery != 0) {
                m.faces.push_back({rows[size_t(i)] + k, rows[size_t(i)] + k1, rows[size_t(i) + 1] + k1});
                m.faces.push_back({rows[size_t(i)] + k, rows[size_t(i) + 1] + k1, rows[size_t(i) + 1] + k});
            }
        if (bore > 0) {
            m.faces.push_back({in0 + k, in1 + k1, in0 + k1});
            m.faces.push_back({in0 + k, in1 + k, in1 + k1});
            m.faces.push_back({bottom + k, in0 + k, in0 + k1});
            m.faces.push_back({bottom + k, in0 + k1, bottom + k1});
            m.faces.push_back({top + k, in1 + k1, in1 + k});
            m.faces.push_back({top + k, top + k1, in1 + k1});
        } else {
            m.faces.push_back({c0, bottom + k1, bottom + k});
            m.faces.push_back({c0 + 1, top + k, top + k1});
        }
    }
    return m;
}

// UV sphere with about 2 * rings * segments faces.
inline MeshData sphere(double r, int rings, int segments)
{
    MeshData m;
    m.vertices.push_back({0.0, 0.0, -r});
    for (int i = 1; i < rings; ++i) {
        const double t = M_PI * i / rings - M_PI / 2;
        for (int j = 0; j < segments; ++j) {
            const double a = 2.0 * M_PI * j / segments;
            m.vertices.push_back({r * std::cos(t) * std::cos(a), r * std::cos(t) * std::sin(a), r * std::sin(t)});
        }
    }
    m.vertices.push_back({0.0, 0.0, r});
    const int top = int(m.vertices.size()) - 1;
    auto at = [&](int i, int j) { return 1 + (i - 1) * segments + (j % segments); };
    for (int j = 0; j < segments; ++j)
        m.faces.push_back({0, at(1, j + 1), at(1, j)});
    for (int i = 1; i < rings - 1; ++i)
        for (int j = 0; j < segments; ++j) {
            m.faces.push_back({at(i, j), at(i, j + 1), at(i + 1, j + 1)});
            m.faces.push_back({at(i, j), at(i + 1, j + 1), at(i + 1, j)});
        }
    for (int j = 0; j < segments; ++j)
        m.faces.push_back({top, at(rings - 1, j), at(rings - 1, j + 1)});
    return m;
}

// Box from (x0, y0, z0) to (x1, y1, z1); inward turns its faces in, as the wall of a cavity.
inline MeshData cuboid(double x0, double y0, double z0, double x1, double y1, double z1, bool inward = false)
{
    MeshData m = voxels({{0, 0, 0}}, 1.0);
    for (auto& v : m.vertices)
        v = {v[0] > 0 ? x1 : x0, v[1] > 0 ? y1 : y0, v[2] > 0 ? z1 : z0};
    if (inward)
        for (auto& f : m.faces)
            std::swap(f[1], f[2]);
    return m;
}

inline MeshData moved(MeshData m, double dx, double dy, double dz)
{
    for (auto& v : m.vertices)
        v = {v[0] + dx, v[1] + dy, v[2] + dz};
    return m;
}

// All parts in one mesh; with weld, equal points become one vertex, so parts touching at a
// corner share it.
inline MeshData joined(const std::vector<MeshData>& parts, bool weld = false)
{
    MeshData m;
    std::map<std::array<double, 3>, int32_t> ids;
    for (const MeshData& part : parts) {
        std::vector<int32_t> map;
        for (const auto& v : part.vertices) {
            const auto it = ids.emplace(v, int32_t(m.vertices.size())).first;
            if (it->second == int32_t(m.vertices.size()))
                m.vertices.push_back(v);
            map.push_back(it->second);
            if (!weld)
                ids.clear();
        }
        for (const auto& f : part.faces)
            m.faces.push_back({map[size_t(f[0])], map[size_t(f[1])], map[size_t(f[2])]});
    }
    return m;
}

inline double volume(const MeshData& m)
{
    double v = 0.0;
    for (const auto& f : m.faces) {
        const auto& a = m.vertices[size_t(f[0])];
        const auto& b = m.vertices[size_t(f[1])];
        const auto& c = m.vertices[size_t(f[2])];
        v += a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) + a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    return v / 6.0;
}

// Every edge used once in each direction, no face of zero area. With shells, shells that
// overlap may share an edge: then it is used equally often in each direction.
inline bool closedAndClean(const MeshData& m, QString* why = nullptr, bool shells = false)
{
    std::map<std::pair<int, int>, int> edges;
    for (const auto& f : m.faces) {
        for (int k = 0; k < 3; ++k)
            ++edges[{f[size_t(k)], f[size_t((k + 1) % 3)]}];
        const auto& a = m.vertices[size_t(f[0])];
        const auto& b = m.vertices[size_t(f[1])];
        const auto& c = m.vertices[size_t(f[2])];
        const double ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
        const double vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
        const double n = std::fabs(uy * vz - uz * vy) + std::fabs(uz * vx - ux * vz) + std::fabs(ux * vy - uy * vx);
        if (n < 1e-12) {
            if (why) *why = "zero-area face";
            return false;
        }
    }
    for (const auto& e : edges) {
        const auto it = edges.find({e.first.second, e.first.first});
        if ((e.second != 1 && !shells) || it == edges.end() || it->second != e.second) {
            if (why) *why = QString("edge %1-%2 used %3 times").arg(e.first.first).arg(e.first.second).arg(e.second);
            return false;
        }
    }
    return true;
}

// The parts of a mesh that share no vertex, each as a mesh of its own.
inline std::vector<MeshData> components(const MeshData& m)
{
    std::vector<int> parent(m.vertices.size());
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = int(i);
    std::function<int(int)> find = [&](int a) { return parent[size_t(a)] == a ? a : parent[size_t(a)] = find(parent[size_t(a)]); };
    for (const auto& f : m.faces)
        for (int k = 1; k < 3; ++k)
            parent[size_t(find(f[size_t(k)]))] = find(f[0]);
    // Each part keeps only its own vertices (in their order), so that many parts cost what
    // their faces cost.
    std::map<int, size_t> partOf;
    std::vector<MeshData> out;
    std::vector<int32_t> local(m.vertices.size(), -1);
    for (const auto& f : m.faces) {
        const auto it = partOf.emplace(find(f[0]), out.size()).first;
        if (it->second == out.size())
            out.emplace_back();
        MeshData& part = out[it->second];
        auto g = f;
        for (size_t k = 0; k < 3; ++k) {
            int32_t& id = local[size_t(f[k])];
            if (id < 0) {
                id = int32_t(part.vertices.size());
                part.vertices.push_back(m.vertices[size_t(f[k])]);
            }
            g[k] = id;
        }
        part.faces.push_back(g);
    }
    return out;
}

// Edges not matched by one running the other way, as (from, to) points.
inline std::vector<std::array<std::array<double, 3>, 2>> openEdges(const MeshData& m)
{
    std::map<std::pair<int, int>, int> edges;
    for (const auto& f : m.faces)
        for (int k = 0; k < 3; ++k)
            ++edges[{f[size_t(k)], f[size_t((k + 1) % 3)]}];
    std::vector<std::array<std::array<double, 3>, 2>> open;
    for (const auto& e : edges) {
        const auto it = edges.find({e.first.second, e.first.first});
        if (it == edges.end() || it->second != e.second)
            open.push_back({m.vertices[size_t(e.first.first)], m.vertices[size_t(e.first.second)]});
    }
    return open;
}

// Area of the faces lying in the plane coordinate[axis] == value whose normal points along
// sign (+1 or -1) of that axis.
inline double planeArea(const MeshData& m, int axis, double value, int sign)
{
    double area = 0.0;
    for (const auto& f : m.faces) {
        const auto& a = m.vertices[size_t(f[0])];
        const auto& b = m.vertices[size_t(f[1])];
        const auto& c = m.vertices[size_t(f[2])];
        if (std::fabs(a[size_t(axis)] - value) > 1e-6 || std::fabs(b[size_t(axis)] - value) > 1e-6
            || std::fabs(c[size_t(axis)] - value) > 1e-6)
            continue;
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        const double n = ((b[size_t(u)] - a[size_t(u)]) * (c[size_t(v)] - a[size_t(v)])
                          - (b[size_t(v)] - a[size_t(v)]) * (c[size_t(u)] - a[size_t(u)])) / 2.0;
        if (n * sign > 0)
            area += std::fabs(n);
    }
    return area;
}

// Plate of n x n square cells of side `cell` from z = 0 to h, each cell pierced by a round
// hole of radius r in `sides` sides (a multiple of 4), the plate's corner at the origin.
inline MeshData perforatedPlate(int n, double cell, double h, double r, int sides = 16)
{
    MeshData m;
    const int q = sides / 4; // steps along a cell side
    std::map<std::array<int, 3>, int> ids; // grid point in steps, and layer
    auto grid = [&](int qx, int qy, int layer) {
        auto it = ids.find({qx, qy, layer});
        if (it != ids.end())
            return it->second;
        m.vertices.push_back({qx * cell / q, qy * cell / q, layer * h});
        return ids[{qx, qy, layer}] = int(m.vertices.size()) - 1;
    };
    // Square ring of a cell counter-clockwise from its lower left corner, in steps.
    auto square = [q](int k) -> std::array<int, 2> {
        const int s = k / q, t = k % q;
        return s == 0 ? std::array<int, 2>{t, 0} : s == 1 ? std::array<int, 2>{q, t}
             : s == 2 ? std::array<int, 2>{q - t, q} : std::array<int, 2>{0, q - t};
    };
    std::vector<int> sq[2], c[2];
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            for (int layer = 0; layer < 2; ++layer) {
                sq[layer].assign(size_t(sides), 0);
                c[layer].assign(size_t(sides), 0);
                for (int k = 0; k < sides; ++k) {
                    const auto g = square(k);
                    sq[layer][size_t(k)] = grid(q * i + g[0], q * j + g[1], layer);
                    const double a = M_PI * (1.25 + 2.0 * k / sides);
                    c[layer][size_t(k)] = int(m.vertices.size());
                    m.vertices.push_back({(i + 0.5) * cell + r * std::cos(a), (j + 0.5) * cell + r * std::sin(a), layer * h});
                }
            }
            for (size_t k = 0; k < size_t(sides); ++k) {
                const size_t l = (k + 1) % size_t(sides);
                m.faces.push_back({sq[1][k], sq[1][l], c[1][l]});
                m.faces.push_back({sq[1][k], c[1][l], c[1][k]});
                m.faces.push_back({sq[0][k], c[0][l], sq[0][l]});
                m.faces.push_back({sq[0][k], c[0][k], c[0][l]});
                m.faces.push_back({c[0][k], c[1][l], c[0][l]});
                m.faces.push_back({c[0][k], c[1][k], c[1][l]});
            }
        }
    }
    for (int k = 0; k < 4 * q * n; ++k) {
        auto edge = [&](int e, int layer) {
            const int s = e / (q * n), t = e % (q * n), f = q * n;
            return s == 0 ? grid(t, 0, layer) : s == 1 ? grid(f, t, layer)
                 : s == 2 ? grid(f - t, f, layer) : grid(0, f - t, layer);
        };
        const int l = (k + 1) % (4 * q * n);
        m.faces.push_back({edge(k, 0), edge(l, 0), edge(l, 1)});
        m.faces.push_back({edge(k, 0), edge(l, 1), edge(k, 1)});
    }
    return m;
}

// Repeatable noise in [-1, 1] from a number.
inline double noise(uint64_t k)
{
    k += 0x9E3779B97F4A7C15ull;
    k = (k ^ (k >> 30)) * 0xBF58476D1CE4E5B9ull;
    k = (k ^ (k >> 27)) * 0x94D049BB133111EBull;
    k ^= k >> 31;
    return double(k >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

// n open V-shaped sheets standing from z = 0 to h that share no vertex; each starts within
// half a micrometre of the origin, so cut across Z their chains all meet at one point. With
// rows = 2 each sheet has a row of points at h / 2, where a cut makes no new points.
inline MeshData vSheets(int n, double h = 10.0, int rows = 1)
{
    MeshData m;
    for (int i = 0; i < n; ++i) {
        const double a = M_PI * noise(uint64_t(4 * i)), b = a + 0.3 * noise(uint64_t(4 * i + 1));
        const double ra = 8.0 + 4.0 * noise(uint64_t(4 * i + 2)), rb = 8.0 + 4.0 * noise(uint64_t(4 * i + 3));
        const double o = 0.0001 * (i % 4);
        const std::array<std::array<double, 2>, 3> p{{{o, o}, {ra * std::cos(a), ra * std::sin(a)}, {rb * std::cos(b), rb * std::sin(b)}}};
        const int base = int(m.vertices.size());
        for (int r = 0; r <= rows; ++r)
            for (const auto& q : p)
                m.vertices.push_back({q[0], q[1], h * r / rows});
        for (int r = 0; r < rows; ++r)
            for (int k = 0; k < 2; ++k) {
                const int v = base + 3 * r + k;
                m.faces.push_back({v, v + 1, v + 4});
                m.faces.push_back({v, v + 4, v + 3});
            }
    }
    return m;
}

// A wall of thickness `wall` wound in `turns` turns of `pitch` from radius r0 outward, from
// z = 0 to h, in `segments` steps along its length: a spring or a spiral vase.
inline MeshData spiralWall(double turns, int segments, double wall = 0.4, double pitch = 1.0, double h = 10.0, double r0 = 5.0)
{
    MeshData m;
    for (int k = 0; k < segments; ++k) {
        const double t = 2.0 * M_PI * turns * k / (segments - 1);
        const double r = r0 + pitch * t / (2.0 * M_PI), c = std::cos(t), s = std::sin(t);
        for (double z : {0.0, h})
            for (double rr : {r - wall / 2, r + wall / 2})
                m.vertices.push_back({rr * c, rr * s, z});
    }
    // Per step: inner and outer at the bottom, then at the top.
    auto ib = [](int k) { return 4 * k; };
    auto ob = [](int k) { return 4 * k + 1; };
    auto it = [](int k) { return 4 * k + 2; };
    auto ot = [](int k) { return 4 * k + 3; };
    for (int k = 0; k + 1 < segments; ++k) {
        const int l = k + 1;
        m.faces.push_back({ob(k), ob(l), ot(l)});
        m.faces.push_back({ob(k), ot(l), ot(k)});
        m.faces.push_back({ib(k), it(l), ib(l)});
        m.faces.push_back({ib(k), it(k), it(l)});
        m.faces.push_back({it(k), ot(k), ot(l)});
        m.faces.push_back({it(k), ot(l), it(l)});
        m.faces.push_back({ib(k), ob(l), ob(k)});
        m.faces.push_back({ib(k), ib(l), ob(l)});
    }
    const int e = segments - 1;
    m.faces.push_back({ib(0), ob(0), ot(0)});
    m.faces.push_back({ib(0), ot(0), it(0)});
    m.faces.push_back({ib(e), it(e), ot(e)});
    m.faces.push_back({ib(e), ot(e), ob(e)});
    return m;
}

// A block of side `size` whose top, at height `base`, is an n x n grid moved up or down by up
// to `amp` at random: a scan-like relief.
inline MeshData noisyRelief(int n, double size, double base, double amp)
{
    MeshData m;
    const double step = size / n;
    auto top = [n](int i, int j) { return i * (n + 1) + j; };
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            m.vertices.push_back({i * step, j * step, base + amp * noise(uint64_t(top(i, j)))});
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            m.faces.push_back({top(i, j), top(i + 1, j), top(i + 1, j + 1)});
            m.faces.push_back({top(i, j), top(i + 1, j + 1), top(i, j + 1)});
        }
    // The rim counter-clockwise from above, each top point with one on the floor below it.
    std::vector<int> rim;
    for (int k = 0; k < n; ++k) rim.push_back(top(k, 0));
    for (int k = 0; k < n; ++k) rim.push_back(top(n, k));
    for (int k = n; k > 0; --k) rim.push_back(top(k, n));
    for (int k = n; k > 0; --k) rim.push_back(top(0, k));
    const int floor0 = int(m.vertices.size());
    for (int t : rim)
        m.vertices.push_back({m.vertices[size_t(t)][0], m.vertices[size_t(t)][1], 0.0});
    const int centre = int(m.vertices.size());
    m.vertices.push_back({size / 2, size / 2, 0.0});
    const int count = int(rim.size());
    for (int k = 0; k < count; ++k) {
        const int l = (k + 1) % count;
        m.faces.push_back({floor0 + k, floor0 + l, rim[size_t(l)]});
        m.faces.push_back({floor0 + k, rim[size_t(l)], rim[size_t(k)]});
        m.faces.push_back({centre, floor0 + l, floor0 + k});
    }
    return m;
}

// The sphere with every point moved along its radius by up to amp at random.
inline MeshData noisySphere(double r, int rings, int segments, double amp)
{
    MeshData m = sphere(r, rings, segments);
    for (size_t i = 0; i < m.vertices.size(); ++i) {
        const double f = 1.0 + amp / r * noise(i);
        for (double& c : m.vertices[i])
            c *= f;
    }
    return m;
}

// A 100 x 100 x 2 mm base centred on the origin with n separate fins standing on it: each fin
// 80 mm along X, half its pitch thick in Y, 10 mm high. A cut across X meets all of them.
// With a pitch given, the base is as long in Y as the fins need.
inline MeshData finsOnBase(int n, double pitch = 0.0)
{
    if (!(pitch > 0.0))
        pitch = 100.0 / n;
    std::vector<MeshData> parts{cuboid(-50, -50, 0, 50, -50 + n * pitch, 2)};
    for (int i = 0; i < n; ++i) {
        const double y = -50.0 + (i + 0.25) * pitch;
        parts.push_back(cuboid(-40, y, 2, 40, y + pitch / 2, 12));
    }
    return joined(parts);
}

// n open sheets, each one quad standing upright (two faces, four vertices of its own), 2 mm
// long and 10 mm high, strewn over a 20 mm square at every angle: a section of n short open
// chains whose ends crowd each other.
inline MeshData crowdedSheets(int n)
{
    MeshData m;
    uint32_t seed = 12345u;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return double(seed >> 8) / double(1u << 24);
    };
    for (int i = 0; i < n; ++i) {
        const double x = 20.0 * next() - 10.0, y = 20.0 * next() - 10.0, a = 2.0 * M_PI * next();
        const double dx = std::cos(a), dy = std::sin(a);
        const int b = int(m.vertices.size());
        m.vertices.push_back({x - dx, y - dy, 0.0});
        m.vertices.push_back({x + dx, y + dy, 0.0});
        m.vertices.push_back({x + dx, y + dy, 10.0});
        m.vertices.push_back({x - dx, y - dy, 10.0});
        m.faces.push_back({b, b + 1, b + 2});
        m.faces.push_back({b, b + 2, b + 3});
    }
    return m;
}

// n closed wedges (triangular prisms) around the Z axis, each `width` of its share of the turn
// wide and 20 mm long, all sharing the two axis vertices: one shell whose section across Z is
// n triangles meeting at one point (a paddle wheel whose blades meet along a line). At width
// 1 each blade's side lies on its neighbour's, on points of their own.
inline MeshData bladesOnAxis(int n, double width = 0.6, double h = 10.0)
{
    MeshData m;
    m.vertices.push_back({0.0, 0.0, 0.0});
    m.vertices.push_back({0.0, 0.0, h});
    for (int i = 0; i < n; ++i) {
        const double a = 2.0 * M_PI * i / n, b = 2.0 * M_PI * (i + width) / n;
        const int v = int(m.vertices.size());
        for (double z : {0.0, h}) {
            m.vertices.push_back({20.0 * std::cos(a), 20.0 * std::sin(a), z});
            m.vertices.push_back({20.0 * std::cos(b), 20.0 * std::sin(b), z});
        }
        // Bottom p, q: v, v + 1; top p, q: v + 2, v + 3; the axis: 0 below, 1 above.
        m.faces.push_back({0, v + 1, v});
        m.faces.push_back({1, v + 2, v + 3});
        m.faces.push_back({0, v, v + 2});
        m.faces.push_back({0, v + 2, 1});
        m.faces.push_back({0, 1, v + 3});
        m.faces.push_back({0, v + 3, v + 1});
        m.faces.push_back({v, v + 1, v + 3});
        m.faces.push_back({v, v + 3, v + 2});
    }
    return m;
}

} // namespace testmesh
