#pragma once

// Small closed meshes for the cut and support tests.

#include <QString>

#include <array>
#include <cmath>
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
// hole of radius r in 16 sides, the plate's corner at the origin.
inline MeshData perforatedPlate(int n, double cell, double h, double r)
{
    MeshData m;
    std::map<std::array<int, 3>, int> ids; // quarter-cell grid point and layer
    auto grid = [&](int qx, int qy, int layer) {
        auto it = ids.find({qx, qy, layer});
        if (it != ids.end())
            return it->second;
        m.vertices.push_back({qx * cell / 4.0, qy * cell / 4.0, layer * h});
        return ids[{qx, qy, layer}] = int(m.vertices.size()) - 1;
    };
    // Square ring of a cell counter-clockwise from its lower left corner, in quarter steps.
    auto square = [](int k) -> std::array<int, 2> {
        const int s = k / 4, t = k % 4;
        return s == 0 ? std::array<int, 2>{t, 0} : s == 1 ? std::array<int, 2>{4, t}
             : s == 2 ? std::array<int, 2>{4 - t, 4} : std::array<int, 2>{0, 4 - t};
    };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            int sq[2][16], c[2][16];
            for (int layer = 0; layer < 2; ++layer) {
                for (int k = 0; k < 16; ++k) {
                    const auto q = square(k);
                    sq[layer][k] = grid(4 * i + q[0], 4 * j + q[1], layer);
                    const double a = M_PI * (1.25 + k / 8.0);
                    c[layer][k] = int(m.vertices.size());
                    m.vertices.push_back({(i + 0.5) * cell + r * std::cos(a), (j + 0.5) * cell + r * std::sin(a), layer * h});
                }
            }
            for (int k = 0; k < 16; ++k) {
                const int l = (k + 1) % 16;
                m.faces.push_back({sq[1][k], sq[1][l], c[1][l]});
                m.faces.push_back({sq[1][k], c[1][l], c[1][k]});
                m.faces.push_back({sq[0][k], c[0][l], sq[0][l]});
                m.faces.push_back({sq[0][k], c[0][k], c[0][l]});
                m.faces.push_back({c[0][k], c[1][l], c[0][l]});
                m.faces.push_back({c[0][k], c[1][k], c[1][l]});
            }
        }
    }
    for (int k = 0; k < 16 * n; ++k) {
        auto edge = [&](int e, int layer) {
            const int s = e / (4 * n), t = e % (4 * n), f = 4 * n;
            return s == 0 ? grid(t, 0, layer) : s == 1 ? grid(f, t, layer)
                 : s == 2 ? grid(f - t, f, layer) : grid(0, f - t, layer);
        };
        const int l = (k + 1) % (16 * n);
        m.faces.push_back({edge(k, 0), edge(l, 0), edge(l, 1)});
        m.faces.push_back({edge(k, 0), edge(l, 1), edge(k, 1)});
    }
    return m;
}

// A 100 x 100 x 2 mm base centred on the origin with n separate fins standing on it: each fin
// 80 mm along X, half its pitch thick in Y, 10 mm high. A cut across X meets all of them.
inline MeshData finsOnBase(int n)
{
    std::vector<MeshData> parts{cuboid(-50, -50, 0, 50, 50, 2)};
    const double pitch = 100.0 / n;
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

} // namespace testmesh
