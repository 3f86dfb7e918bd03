#include "cutting/CutEngine.h"

#include <QObject>
#include <QtConcurrent/QtConcurrent>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <unordered_map>

#include "cutting/CapTriangulator.h"
#include "cutting/NearestEnds.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {

using i128 = __int128;
using Pt3 = std::array<int64_t, 3>;

// The live preview's own stop, for the section computed on its thread.
thread_local const std::atomic<bool>* t_previewStop = nullptr;

inline bool stopRequested()
{
    return g_jobState.load(std::memory_order_relaxed) == 1
        || (t_previewStop && t_previewStop->load(std::memory_order_relaxed));
}

inline int64_t toUm(double mm) { return std::llround(mm * 1000.0); }

struct PairHash
{
    size_t operator()(const std::pair<int64_t, int64_t>& p) const
    {
        return size_t(p.first) * 0x9E3779B97F4A7C15ull ^ (size_t(p.second) + 0x632BE59BD9B4E019ull + (size_t(p.first) << 6));
    }
};

struct Pt3Hash
{
    size_t operator()(const Pt3& p) const
    {
        size_t h = size_t(p[0]) * 0x9E3779B97F4A7C15ull;
        h ^= size_t(p[1]) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
        h ^= size_t(p[2]) * 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
        return h;
    }
};

// In-plane coordinates of the section: X (z, y); Y (x, z); Z (x, y).
inline ClipperLib::IntPoint sectionPoint(const Pt3& p, int axis)
{
    switch (axis) {
    case CutX: return {p[2], p[1]};
    case CutY: return {p[0], p[2]};
    default: return {p[0], p[1]};
    }
}

inline void pushRecord(std::vector<CutVertex>& list, const Pt3& p, int32_t shell)
{
    CutVertex r;
    r.x = double(p[0]) * 0.001;
    r.y = double(p[1]) * 0.001;
    r.z = double(p[2]) * 0.001;
    r.index = int32_t(list.size());
    r.shell = shell;
    list.push_back(r);
}

inline bool zeroArea(const Pt3& a, const Pt3& b, const Pt3& c)
{
    const i128 ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
    const i128 vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
    return uy * vz - uz * vy == 0 && uz * vx - ux * vz == 0 && ux * vy - uy * vx == 0;
}

inline void pushTriangle(std::vector<CutVertex>& list, const Pt3& a, const Pt3& b, const Pt3& c, int32_t shell)
{
    if (zeroArea(a, b, c))
        return;
    pushRecord(list, a, shell);
    pushRecord(list, b, shell);
    pushRecord(list, c, shell);
}

// Labels each face with the connected part (shell) it belongs to, parts joined through shared
// vertices. Separately modelled parts may overlap; each is capped on its own.
std::vector<int32_t> faceShells(size_t vertexCount, const std::vector<std::array<int32_t, 3>>& faces)
{
    std::vector<int32_t> parent(vertexCount);
    for (size_t i = 0; i < vertexCount; ++i)
        parent[i] = int32_t(i);
    auto find = [&](int32_t a) {
        while (parent[size_t(a)] != a) {
            parent[size_t(a)] = parent[size_t(parent[size_t(a)])];
            a = parent[size_t(a)];
        }
        return a;
    };
    auto valid = [&](const std::array<int32_t, 3>& f) {
        return size_t(uint32_t(f[0])) < vertexCount && size_t(uint32_t(f[1])) < vertexCount
            && size_t(uint32_t(f[2])) < vertexCount;
    };
    for (const auto& f : faces) {
        if (!valid(f))
            continue;
        const int32_t a = find(f[0]);
        for (int k = 1; k < 3; ++k) {
            const int32_t b = find(f[size_t(k)]);
            if (a != b)
                parent[size_t(b)] = a;
        }
    }
    std::vector<int32_t> shells(faces.size(), 0);
    for (size_t i = 0; i < faces.size(); ++i)
        if (valid(faces[i]))
            shells[i] = find(faces[i][0]);
    return shells;
}

// Where edge a-b crosses the plane. The ends are put in one fixed order first, so both faces
// of an edge get the same point to the micrometre.
Pt3 planeEdgeIntersection(Pt3 a, Pt3 b, int64_t plane, int axis)
{
    if (b < a)
        std::swap(a, b);
    Pt3 r;
    const i128 num = plane - a[axis];
    const i128 den = b[axis] - a[axis];
    for (int k = 0; k < 3; ++k) {
        if (k == axis) {
            r[k] = plane;
            continue;
        }
        i128 n = i128(b[k] - a[k]) * num;
        // Round half away from zero; den may be negative.
        i128 q = n / den, rem = n % den;
        if (rem != 0) {
            const bool neg = (n < 0) != (den < 0);
            i128 twice = rem < 0 ? -2 * rem : 2 * rem;
            i128 adenom = den < 0 ? -den : den;
            if (twice >= adenom)
                q += neg ? -1 : 1;
        }
        r[k] = a[k] + int64_t(q);
    }
    return r;
}

// Splits every face by the plane into the two lists. Faces in the plane go to the half they
// close: facing +axis to the lower half, facing -axis to the upper half.
bool splitByPlane(const std::vector<Pt3>& v, const std::vector<std::array<int32_t, 3>>& faces,
                  const std::vector<int32_t>& shells, int64_t plane, int axis, CutWorkData& wd)
{
    const size_t nv = v.size();
    for (size_t f = 0; f < faces.size(); ++f) {
        if ((f & 4095) == 0 && stopRequested())
            return false;
        const auto& face = faces[f];
        if (size_t(uint32_t(face[0])) >= nv || size_t(uint32_t(face[1])) >= nv || size_t(uint32_t(face[2])) >= nv)
            continue;
        Pt3 p[3] = {v[size_t(face[0])], v[size_t(face[1])], v[size_t(face[2])]};
        const int32_t sh = shells[f];
        int s[3];
        int pos = 0, neg = 0;
        for (int k = 0; k < 3; ++k) {
            s[k] = (p[k][axis] > plane) - (p[k][axis] < plane);
            pos += s[k] > 0;
            neg += s[k] < 0;
        }
        if (neg == 0 && pos == 0) {
            const i128 n = i128(p[1][(axis + 1) % 3] - p[0][(axis + 1) % 3]) * (p[2][(axis + 2) % 3] - p[0][(axis + 2) % 3])
                - i128(p[1][(axis + 2) % 3] - p[0][(axis + 2) % 3]) * (p[2][(axis + 1) % 3] - p[0][(axis + 1) % 3]);
            if (n > 0)
                pushTriangle(wd.down, p[0], p[1], p[2], sh);
            else if (n < 0)
                pushTriangle(wd.up, p[0], p[1], p[2], sh);
            continue;
        }
        if (neg == 0) {
            pushTriangle(wd.up, p[0], p[1], p[2], sh);
            continue;
        }
        if (pos == 0) {
            pushTriangle(wd.down, p[0], p[1], p[2], sh);
            continue;
        }
        if (pos + neg == 2) {
            // One corner on the plane: two triangles, one each side.
            int z = s[0] == 0 ? 0 : (s[1] == 0 ? 1 : 2);
            const Pt3& Z = p[z];
            const Pt3& A = p[(z + 1) % 3];
            const Pt3& B = p[(z + 2) % 3];
            const Pt3 I = planeEdgeIntersection(A, B, plane, axis);
            auto& sideA = s[(z + 1) % 3] > 0 ? wd.up : wd.down;
            auto& sideB = s[(z + 1) % 3] > 0 ? wd.down : wd.up;
            pushTriangle(sideA, Z, A, I, sh);
            pushTriangle(sideB, Z, I, B, sh);
            continue;
        }
        // One corner alone on its side.
        int l = 0;
        for (int k = 0; k < 3; ++k)
            if ((pos == 1 && s[k] > 0) || (neg == 1 && s[k] < 0))
                l = k;
        const Pt3& L = p[l];
        const Pt3& P = p[(l + 1) % 3];
        const Pt3& Q = p[(l + 2) % 3];
        const Pt3 I1 = planeEdgeIntersection(L, P, plane, axis);
        const Pt3 I2 = planeEdgeIntersection(L, Q, plane, axis);
        auto& lone = s[l] > 0 ? wd.up : wd.down;
        auto& other = s[l] > 0 ? wd.down : wd.up;
        pushTriangle(lone, L, I1, I2, sh);
        pushTriangle(other, I1, P, Q, sh);
        pushTriangle(other, I1, Q, I2, sh);
    }
    return true;
}

// The edges of a half that lie in the plane and have no partner running the other way:
// the rim the cap has to close. Points are welded by their coordinates.
// Points of different shells are kept apart even where they meet, so that every loop
// belongs to one shell.
struct PlaneRim
{
    std::vector<Pt3> points;
    std::vector<int32_t> shells; // per point
    std::vector<std::pair<int32_t, int32_t>> edges; // directed as in the half's faces
};

// Rim point ids by coordinates and shell, in one flat table: a section may have a point for
// every face it crosses, and a node per point would cost more than the rest of the rim.
class RimPointIds
{
public:
    explicit RimPointIds(PlaneRim& rim) : rim(rim), table(1024, -1) {}

    int32_t idOf(const Pt3& p, int32_t shell)
    {
        size_t i = slotOf(p, shell);
        for (; table[i] >= 0; i = (i + 1) & (table.size() - 1))
            if (rim.points[size_t(table[i])] == p && rim.shells[size_t(table[i])] == shell)
                return table[i];
        const int32_t id = int32_t(rim.points.size());
        rim.points.push_back(p);
        rim.shells.push_back(shell);
        table[i] = id;
        if (rim.points.size() * 2 > table.size())
            grow();
        return id;
    }

private:
    size_t slotOf(const Pt3& p, int32_t shell) const
    {
        const size_t h = Pt3Hash()(p) ^ (size_t(uint32_t(shell)) * 0x9E3779B97F4A7C15ull);
        return (h ^ (h >> 29)) & (table.size() - 1);
    }

    void grow()
    {
        table.assign(table.size() * 2, -1);
        for (size_t id = 0; id < rim.points.size(); ++id) {
            size_t i = slotOf(rim.points[id], rim.shells[id]);
            while (table[i] >= 0)
                i = (i + 1) & (table.size() - 1);
            table[i] = int32_t(id);
        }
    }

    PlaneRim& rim;
    std::vector<int32_t> table;
};

bool planeRim(const std::vector<CutVertex>& recs, int64_t plane, int axis, PlaneRim& rim)
{
    RimPointIds ids(rim);
    // Each edge in the plane as (lower id, higher id, +1 when it runs from lower to higher).
    std::vector<std::array<int32_t, 3>> halves;
    for (size_t t = 0; t + 2 < recs.size(); t += 3) {
        if ((t & 16383) == 0 && stopRequested())
            return false;
        Pt3 p[3];
        bool on[3];
        int count = 0;
        for (int k = 0; k < 3; ++k) {
            const CutVertex& r = recs[t + size_t(k)];
            p[k] = {toUm(r.x), toUm(r.y), toUm(r.z)};
            on[k] = p[k][axis] == plane;
            count += on[k];
        }
        if (count < 2)
            continue;
        const int32_t shell = recs[t].shell;
        for (int k = 0; k < 3; ++k) {
            if (!on[k] || !on[(k + 1) % 3])
                continue;
            const int32_t a = ids.idOf(p[k], shell), b = ids.idOf(p[(k + 1) % 3], shell);
            if (a != b)
                halves.push_back({std::min(a, b), std::max(a, b), a < b ? 1 : -1});
        }
    }
    // Edges used both ways cancel; what is left over is the rim.
    std::sort(halves.begin(), halves.end());
    for (size_t i = 0; i < halves.size();) {
        int32_t net = 0;
        size_t j = i;
        for (; j < halves.size() && halves[j][0] == halves[i][0] && halves[j][1] == halves[i][1]; ++j)
            net += halves[j][2];
        for (int32_t c = 0; c < std::abs(net); ++c)
            rim.edges.push_back(net > 0 ? std::make_pair(halves[i][0], halves[i][1]) : std::make_pair(halves[i][1], halves[i][0]));
        i = j;
    }
    // Deterministic order regardless of hashing.
    std::sort(rim.edges.begin(), rim.edges.end());
    return true;
}

inline int64_t edgeLength(const ClipperLib::IntPoint& a, const ClipperLib::IntPoint& b)
{
    const double dx = double(b.X - a.X), dy = double(b.Y - a.Y);
    return int64_t(std::sqrt(dx * dx + dy * dy));
}

inline i128 cross(const ClipperLib::IntPoint& a, const ClipperLib::IntPoint& b)
{
    return i128(a.X) * b.Y - i128(b.X) * a.Y;
}

// The looser linking, for chains the exact linking leaves open (a crack or a missing face):
// ends within 20 um are joined first, then the nearest ends up to 10 mm. Loops made go to
// closed; chains still open stay in open and take no part in the section. False on a stop.
template <typename Chain, typename PointOf>
bool joinChains(std::vector<Chain>& open, std::vector<Chain>& closed, PointOf at)
{
    using ClipperLib::IntPoint;
    // Per chain, kept up to date as chains grow: the length without the closing edge and
    // twice the signed area without it.
    const size_t n = open.size();
    std::vector<int64_t> length(n, 0);
    std::vector<i128> area(n, 0);
    for (size_t c = 0; c < n; ++c)
        for (size_t t = 1; t < open[c].size(); ++t) {
            length[c] += edgeLength(at(open[c][t - 1]), at(open[c][t]));
            area[c] += cross(at(open[c][t - 1]), at(open[c][t]));
        }
    auto perimeter = [&](size_t c) { return length[c] + edgeLength(at(open[c].back()), at(open[c].front())); };
    // Only a real loop closes on itself: a two-point or flat chain would close as a sliver and
    // leave its neighbours apart. Flat allows for the micrometre rounding: a mean width
    // (twice the area over the perimeter) below 1 um.
    auto closable = [&](size_t c) {
        if (open[c].size() < 3)
            return false;
        const i128 a = area[c] + cross(at(open[c].back()), at(open[c].front()));
        return a != 0 && (a < 0 ? -a : a) >= perimeter(c);
    };
    auto close = [&](size_t c) {
        if (open[c].size() > 1 && endDist2(at(open[c].back()), at(open[c].front())) == 0.0)
            open[c].pop_back();
        closed.push_back(std::move(open[c]));
        open[c].clear();
    };
    // Appends chain from (reversed: from its last point back) to chain to; a joint where both
    // ends are one point keeps that point once.
    auto append = [&](size_t to, size_t from, bool reversed) {
        Chain& a = open[to];
        Chain& b = open[from];
        const IntPoint tail = at(a.back()), joint = at(reversed ? b.back() : b.front());
        length[to] += edgeLength(tail, joint) + length[from];
        area[to] += cross(tail, joint) + (reversed ? -area[from] : area[from]);
        const bool skip = endDist2(tail, joint) == 0.0;
        if (reversed)
            a.insert(a.end(), b.rbegin() + (skip ? 1 : 0), b.rend());
        else
            a.insert(a.end(), b.begin() + (skip ? 1 : 0), b.end());
        b.clear();
    };
    // Ends within 20 um: each chain in order takes the first chain, from where it last took
    // one, whose first point is that near to its last point. First points sit in 20 um cells.
    std::unordered_map<std::pair<int64_t, int64_t>, std::vector<size_t>, PairHash> firsts;
    auto cellOf = [](const IntPoint& p) { return std::make_pair(floorDiv(p.X, 20), floorDiv(p.Y, 20)); };
    for (size_t c = 0; c < n; ++c)
        if (!open[c].empty())
            firsts[cellOf(at(open[c].front()))].push_back(c);
    for (size_t i = 0; i < n; ++i) {
        size_t from = 0;
        while (!open[i].empty()) {
            const IntPoint tail = at(open[i].back());
            const auto cell = cellOf(tail);
            size_t j = SIZE_MAX;
            for (int64_t dx = -1; dx <= 1; ++dx)
                for (int64_t dy = -1; dy <= 1; ++dy) {
                    const auto it = firsts.find({cell.first + dx, cell.second + dy});
                    if (it != firsts.end())
                        for (size_t c : it->second)
                            if (c >= from && c < j && !open[c].empty() && endDist2(tail, at(open[c].front())) < 400.0)
                                j = c;
                }
            if (j == SIZE_MAX)
                break;
            from = j + 1;
            if (j == i) {
                if (closable(i)) {
                    close(i);
                    break;
                }
                continue;
            }
            append(i, j, false);
        }
    }
    // Nearest ends up to 10 mm.
    std::vector<IntPoint> heads(n), tails(n);
    std::vector<bool> present(n, false), canClose(n, false);
    for (size_t c = 0; c < n; ++c) {
        if (open[c].empty())
            continue;
        heads[c] = at(open[c].front());
        tails[c] = at(open[c].back());
        present[c] = true;
        canClose[c] = closable(c);
    }
    NearestEnds nearest(heads, tails, present, canClose, 1e8);
    NearestEnds::Join join;
    while (nearest.next(join)) {
        if (stopRequested())
            return false;
        size_t kept = join.from;
        if (join.from == join.to) {
            close(join.from);
        } else if (!join.toLast) {
            append(join.from, join.to, false);
        } else {
            // Two last points: the shorter chain turns round onto the longer.
            size_t take = join.to;
            if (perimeter(join.from) < perimeter(join.to))
                std::swap(kept, take);
            append(kept, take, true);
        }
        nearest.joined(join, kept, join.from != join.to && closable(kept));
    }
    open.erase(std::remove_if(open.begin(), open.end(), [](const Chain& c) { return c.empty(); }), open.end());
    return true;
}

// Links directed edges into closed loops and open chains (an open chain keeps its last point).
// Where several edges leave one point, the one turning furthest left is taken, so touching
// loops come out as separate simple loops; turning straight back counts as the least left,
// since it runs along a loop that only shares a stretch with this one.
void linkRim(const std::vector<std::pair<int32_t, int32_t>>& edges, const std::vector<std::array<int64_t, 2>>& xy,
             std::vector<std::vector<int32_t>>& loops, std::vector<std::vector<int32_t>>& chains)
{
    // Edges leaving each point, in edge order: out[outStart[p] .. outStart[p + 1]).
    std::vector<size_t> outStart(xy.size() + 1, 0), out(edges.size());
    std::vector<int32_t> excess(xy.size(), 0); // edges leaving minus edges arriving
    for (const auto& e : edges) {
        ++outStart[size_t(e.first) + 1];
        ++excess[size_t(e.first)];
        --excess[size_t(e.second)];
    }
    for (size_t p = 0; p < xy.size(); ++p)
        outStart[p + 1] += outStart[p];
    std::vector<size_t> fill(outStart.begin(), outStart.end() - 1);
    for (size_t i = 0; i < edges.size(); ++i)
        out[fill[size_t(edges[i].first)]++] = i;
    // Open chains are followed from where they begin, so each comes out whole.
    std::vector<size_t> starts;
    for (size_t i = 0; i < edges.size(); ++i)
        if (excess[size_t(edges[i].first)] > 0)
            starts.push_back(i);
    for (size_t i = 0; i < edges.size(); ++i)
        starts.push_back(i);
    std::vector<bool> used(edges.size(), false);
    for (size_t s : starts) {
        if (used[s])
            continue;
        std::vector<int32_t> loop;
        size_t e = s;
        bool closed = false;
        while (true) {
            used[e] = true;
            loop.push_back(edges[e].first);
            const int32_t from = edges[e].first, at = edges[e].second;
            if (at == edges[s].first) {
                closed = true;
                break;
            }
            size_t best = SIZE_MAX;
            double bestAngle = -10.0;
            const int64_t dx = xy[size_t(at)][0] - xy[size_t(from)][0];
            const int64_t dy = xy[size_t(at)][1] - xy[size_t(from)][1];
            for (size_t k = outStart[size_t(at)]; k < outStart[size_t(at) + 1]; ++k) {
                const size_t cand = out[k];
                if (used[cand])
                    continue;
                const int32_t to = edges[cand].second;
                const int64_t ex = xy[size_t(to)][0] - xy[size_t(at)][0];
                const int64_t ey = xy[size_t(to)][1] - xy[size_t(at)][1];
                const i128 cross = i128(dx) * ey - i128(dy) * ex, dot = i128(dx) * ex + i128(dy) * ey;
                const double angle = cross == 0 && dot < 0 ? -M_PI : std::atan2(double(cross), double(dot));
                if (angle > bestAngle) {
                    bestAngle = angle;
                    best = cand;
                }
            }
            if (best == SIZE_MAX) {
                loop.push_back(at);
                break;
            }
            e = best;
        }
        (closed ? loops : chains).push_back(std::move(loop));
    }
}

i128 loopArea2(const std::vector<int32_t>& loop, const std::vector<std::array<int64_t, 2>>& xy)
{
    i128 a = 0;
    for (size_t i = 0, j = loop.size() - 1; i < loop.size(); j = i++) {
        const auto& p = xy[size_t(loop[j])];
        const auto& q = xy[size_t(loop[i])];
        a += i128(p[0]) * q[1] - i128(q[0]) * p[1];
    }
    return a;
}

// 1 inside, -1 outside, 0 on the outline.
int pointInLoop(const std::array<int64_t, 2>& pt, const std::vector<int32_t>& loop,
                const std::vector<std::array<int64_t, 2>>& xy)
{
    bool inside = false;
    for (size_t i = 0, j = loop.size() - 1; i < loop.size(); j = i++) {
        const auto& a = xy[size_t(loop[j])];
        const auto& b = xy[size_t(loop[i])];
        const i128 cross = i128(b[0] - a[0]) * (pt[1] - a[1]) - i128(b[1] - a[1]) * (pt[0] - a[0]);
        if (cross == 0 && pt[0] >= std::min(a[0], b[0]) && pt[0] <= std::max(a[0], b[0])
            && pt[1] >= std::min(a[1], b[1]) && pt[1] <= std::max(a[1], b[1]))
            return 0;
        if ((a[1] > pt[1]) != (b[1] > pt[1])) {
            // pt left of the crossing: cross has the sign of the edge's direction
            if ((b[1] > a[1]) ? cross > 0 : cross < 0)
                inside = !inside;
        }
    }
    return inside ? 1 : -1;
}

// Closes one half: the cap faces normal (+axis for the lower half, -axis for the upper).
bool capHalf(std::vector<CutVertex>& recs, int64_t plane, int axis, bool lower)
{
    PlaneRim rim;
    if (!planeRim(recs, plane, axis, rim))
        return false;
    if (rim.edges.empty())
        return true;
    // 2D frame whose cross product is the cap normal.
    int pa = (axis + 1) % 3, qa = (axis + 2) % 3;
    if (!lower)
        std::swap(pa, qa);
    std::vector<std::array<int64_t, 2>> xy(rim.points.size());
    for (size_t i = 0; i < rim.points.size(); ++i)
        xy[i] = {rim.points[i][pa], rim.points[i][qa]};
    // The cap runs each rim edge the other way.
    std::vector<std::pair<int32_t, int32_t>> capEdges;
    capEdges.reserve(rim.edges.size());
    for (const auto& e : rim.edges)
        capEdges.push_back({e.second, e.first});
    std::vector<std::vector<int32_t>> loops, chains;
    linkRim(capEdges, xy, loops, chains);
    const auto pointOf = [&](int32_t id) { return ClipperLib::IntPoint(xy[size_t(id)][0], xy[size_t(id)][1]); };
    // Chains still open (a stray sheet, a face missing over more than the joining reach) take no
    // part: the half stays open there, as the model was.
    if (!chains.empty() && !joinChains(chains, loops, pointOf))
        return false;
    if (loops.empty())
        return true;
    std::vector<size_t> outers, holes;
    std::vector<i128> areas(loops.size());
    for (size_t i = 0; i < loops.size(); ++i) {
        areas[i] = loopArea2(loops[i], xy);
        if (areas[i] > 0)
            outers.push_back(i);
        else if (areas[i] < 0)
            holes.push_back(i);
    }
    if (outers.empty())
        return holes.empty();
    std::vector<std::vector<size_t>> holesOf(loops.size());
    // Outlines by the grid cells their bounds cover, in outline order: a hole's first point
    // lies within the bounds of every outline around it.
    using Box = std::array<int64_t, 4>;
    std::vector<Box> boxes(loops.size());
    Box all = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
    for (size_t o : outers) {
        Box b = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
        for (int32_t id : loops[o]) {
            const auto& q = xy[size_t(id)];
            b = {std::min(b[0], q[0]), std::min(b[1], q[1]), std::max(b[2], q[0]), std::max(b[3], q[1])};
        }
        boxes[o] = b;
        all = {std::min(all[0], b[0]), std::min(all[1], b[1]), std::max(all[2], b[2]), std::max(all[3], b[3])};
    }
    const int cells = int(std::clamp(std::sqrt(double(outers.size())), 1.0, 256.0));
    const double inv = double(cells) / double(std::max<int64_t>({all[2] - all[0], all[3] - all[1], 1}));
    const auto cellOf = [&](int64_t v, int64_t origin) {
        return int(std::clamp(std::floor(double(v - origin) * inv), 0.0, double(cells - 1)));
    };
    std::vector<std::vector<size_t>> outersIn(size_t(cells) * size_t(cells));
    for (size_t o : outers)
        for (int y = cellOf(boxes[o][1], all[1]); y <= cellOf(boxes[o][3], all[1]); ++y)
            for (int x = cellOf(boxes[o][0], all[0]); x <= cellOf(boxes[o][2], all[0]); ++x)
                outersIn[size_t(y) * size_t(cells) + size_t(x)].push_back(o);
    for (size_t h : holes) {
        if (stopRequested())
            return false;
        // The hole belongs to the smallest outline around it of its own shell; a cavity is a
        // shell of its own and belongs to the smallest outline around it of any shell.
        const int32_t shell = rim.shells[size_t(loops[h].front())];
        const auto& first = xy[size_t(loops[h].front())];
        size_t best = SIZE_MAX;
        bool bestOwn = false;
        for (size_t o : outersIn[size_t(cellOf(first[1], all[1])) * size_t(cells) + size_t(cellOf(first[0], all[0]))]) {
            const Box& b = boxes[o];
            if (first[0] < b[0] || first[0] > b[2] || first[1] < b[1] || first[1] > b[3])
                continue;
            const bool own = rim.shells[size_t(loops[o].front())] == shell;
            if (bestOwn && !own)
                continue;
            int side = 0;
            for (int32_t id : loops[h]) {
                side = pointInLoop(xy[size_t(id)], loops[o], xy);
                if (side != 0)
                    break;
            }
            if (side > 0 && (best == SIZE_MAX || own > bestOwn || areas[o] < areas[best])) {
                best = o;
                bestOwn = own;
            }
        }
        if (best == SIZE_MAX)
            return false;
        holesOf[best].push_back(h);
    }
    auto ring = [&](size_t i) {
        CapTriangulator::Ring r;
        r.reserve(loops[i].size());
        for (int32_t id : loops[i])
            r.push_back({xy[size_t(id)][0], xy[size_t(id)][1], id});
        return r;
    };
    std::vector<std::array<int32_t, 3>> tris;
    for (size_t o : outers) {
        std::vector<CapTriangulator::Ring> hr;
        for (size_t h : holesOf[o])
            hr.push_back(ring(h));
        if (!CapTriangulator::triangulate(ring(o), hr, tris, &g_jobState))
            return false;
    }
    for (const auto& t : tris)
        pushTriangle(recs, rim.points[size_t(t[0])], rim.points[size_t(t[1])], rim.points[size_t(t[2])],
                     rim.shells[size_t(t[0])]);
    return true;
}

// Section outlines for the preview: the upper half's rim, linked exactly, with the looser
// joining passes for what an open mesh leaves unclosed.
bool chainSectionSegments(std::vector<SectionSegment>& segs, ClipperLib::Paths& closed, ClipperLib::Paths& open)
{
    // Segment numbers ordered by first point, then number.
    std::vector<size_t> starts(segs.size());
    for (size_t i = 0; i < segs.size(); ++i)
        starts[i] = i;
    auto key = [&](size_t i) { return std::make_tuple(segs[i].first.X, segs[i].first.Y, i); };
    std::sort(starts.begin(), starts.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
    for (size_t s = 0; s < segs.size(); ++s) {
        if (segs[s].used)
            continue;
        ClipperLib::Path chain{segs[s].first};
        size_t cur = s;
        bool isClosed = false;
        while (true) {
            segs[cur].used = true;
            const ClipperLib::IntPoint end = segs[cur].second;
            if (end == segs[s].first) {
                isClosed = true;
                break;
            }
            chain.push_back(end);
            size_t next = SIZE_MAX;
            auto it = std::lower_bound(starts.begin(), starts.end(), end, [&](size_t c, const ClipperLib::IntPoint& p) {
                return std::make_pair(segs[c].first.X, segs[c].first.Y) < std::make_pair(p.X, p.Y);
            });
            for (; it != starts.end() && segs[*it].first == end; ++it)
                if (!segs[*it].used) {
                    next = *it;
                    break;
                }
            if (next == SIZE_MAX)
                break;
            cur = next;
        }
        (isClosed ? closed : open).push_back(std::move(chain));
    }
    segs.clear();
    return joinOpenChains(open, closed);
}

void collectRegions(const ClipperLib::PolyNode* outer, std::vector<SectionRegion>& regions)
{
    SectionRegion r;
    r.outlines.push_back(outer->Contour);
    for (const ClipperLib::PolyNode* hole : outer->Childs)
        r.outlines.push_back(hole->Contour);
    if (!outer->Contour.empty()) {
        r.minU = r.maxU = outer->Contour.front().X;
        r.minV = r.maxV = outer->Contour.front().Y;
    }
    for (const auto& pt : outer->Contour) {
        r.minU = std::min<int64_t>(r.minU, pt.X);
        r.minV = std::min<int64_t>(r.minV, pt.Y);
        r.maxU = std::max<int64_t>(r.maxU, pt.X);
        r.maxV = std::max<int64_t>(r.maxV, pt.Y);
    }
    regions.push_back(std::move(r));
    for (const ClipperLib::PolyNode* hole : outer->Childs)
        for (const ClipperLib::PolyNode* island : hole->Childs)
            collectRegions(island, regions);
}

void uniteSectionOutlines(const ClipperLib::Paths& closed, std::vector<SectionRegion>& regions)
{
    regions.clear();
    if (closed.empty())
        return;
    ClipperLib::Clipper clipper;
    clipper.PreserveCollinear(true);
    clipper.AddPaths(closed, ClipperLib::ptSubject, true);
    ClipperLib::PolyTree tree;
    clipper.Execute(ClipperLib::ctUnion, tree, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
    for (const ClipperLib::PolyNode* outer : tree.Childs)
        collectRegions(outer, regions);
}

void clearWork(CutWorkData& wd)
{
    wd.up.clear();
    wd.down.clear();
    wd.regions.clear();
    wd.model = nullptr;
    wd.modelIndex = -1;
}

} // namespace

bool joinOpenChains(ClipperLib::Paths& open, ClipperLib::Paths& closed)
{
    return joinChains(open, closed, [](const ClipperLib::IntPoint& p) { return p; });
}

int64_t outlinePerimeter(const ClipperLib::Path& outline)
{
    int64_t sum = 0;
    for (size_t i = 0; i < outline.size(); ++i)
        sum += edgeLength(outline[i], outline[(i + 1) % outline.size()]);
    return sum;
}

namespace {

// The halves and the section of mesh under the model matrix m, into wd (emptied first).
bool sectionInto(CutWorkData& wd, const MeshData* mesh, const Eigen::Matrix4d& m, int planeUm, int axis)
{
    clearWork(wd);
    std::vector<Pt3> v(mesh->vertices.size());
    for (size_t i = 0; i < v.size(); ++i) {
        const auto& p = mesh->vertices[i];
        const Eigen::Vector4d w = m * Eigen::Vector4d(p[0], p[1], p[2], 1.0);
        v[i] = {toUm(w[0]), toUm(w[1]), toUm(w[2])};
    }
    wd.up.reserve(mesh->faces.size() * 2);
    wd.down.reserve(mesh->faces.size() * 2);
    if (!splitByPlane(v, mesh->faces, faceShells(v.size(), mesh->faces), planeUm, axis, wd)) {
        clearWork(wd);
        return false;
    }
    // The section: the upper half's open rim, as the faces run it.
    PlaneRim rim;
    if (!planeRim(wd.up, planeUm, axis, rim)) {
        clearWork(wd);
        return false;
    }
    std::vector<SectionSegment> segs;
    segs.reserve(rim.edges.size());
    for (const auto& e : rim.edges) {
        SectionSegment s;
        s.first = sectionPoint(rim.points[size_t(e.first)], axis);
        s.second = sectionPoint(rim.points[size_t(e.second)], axis);
        segs.push_back(s);
    }
    ClipperLib::Paths closed, open;
    if (!chainSectionSegments(segs, closed, open)) {
        clearWork(wd);
        return false;
    }
    uniteSectionOutlines(closed, wd.regions);
    return true;
}

} // namespace

bool computeSectionOf(const MeshData& mesh, const std::array<double, 16>& matrix, int planeUm, int axis, CutWorkData& wd,
                      const std::atomic<bool>* stop)
{
    if (axis < 0 || axis > 2 || mesh.vertices.empty()) {
        clearWork(wd);
        return false;
    }
    t_previewStop = stop;
    const bool ok = sectionInto(wd, &mesh, Eigen::Map<const Eigen::Matrix4d>(matrix.data()), planeUm, axis);
    t_previewStop = nullptr;
    return ok;
}

bool computeCutSection(const MeshModel* model, int modelIndex, int planeUm, int axis, bool force)
{
    CutWorkData& wd = cutWorkData();
    clearWork(wd);
    if (!model || axis < 0 || axis > 2)
        return false;
    const MeshData* mesh = model->getMesh();
    if (!mesh || mesh->vertices.empty())
        return false;
    if (!force && mesh->vertices.size() > size_t(kPreviewVertexLimit))
        return false;
    const Eigen::Matrix4d m = model->getModelMatrix();
    if (!sectionInto(wd, mesh, m, planeUm, axis))
        return false;
    wd.model = model;
    wd.modelIndex = modelIndex;
    wd.axis = axis;
    wd.planeUm = planeUm;
    wd.position = model->position;
    wd.axisPosition = model->position[size_t(axis)];
    std::copy(m.data(), m.data() + 16, wd.matrix.begin());
    return true;
}

bool computeCutSection(int planeUm, int axis, bool force)
{
    AppData* app = AppData::instance();
    return computeCutSection(app->getSelectedModel(), app->getSelectedIndex(), planeUm, axis, force);
}

void resetCutSection()
{
    cutWorkData().up.clear();
    cutWorkData().down.clear();
}

bool triangulateCaps(CutWorkData& wd, int planeUm, int axis)
{
    if (stopRequested()) {
        g_jobState = 2;
        return false;
    }
    const size_t upSize = wd.up.size(), downSize = wd.down.size();
    const bool ok = capHalf(wd.down, planeUm, axis, true) && capHalf(wd.up, planeUm, axis, false);
    if (!ok) {
        if (stopRequested())
            g_jobState = 2;
        // The halves go back to uncapped; a later cut must not build on a half-done cap.
        wd.up.resize(upSize);
        wd.down.resize(downSize);
        clearWork(wd);
    }
    return ok;
}

bool buildHalfMesh(const std::vector<CutVertex>& records, MeshData& out)
{
    MeshData::clear(out);
    if (records.size() < 3)
        return false;
    std::unordered_map<Pt3, int32_t, Pt3Hash> ids;
    ids.reserve(records.size() / 2);
    out.faces.reserve(records.size() / 3);
    for (size_t t = 0; t + 2 < records.size(); t += 3) {
        std::array<int32_t, 3> f;
        for (size_t k = 0; k < 3; ++k) {
            const CutVertex& r = records[t + k];
            const Pt3 p{toUm(r.x), toUm(r.y), toUm(r.z)};
            auto it = ids.find(p);
            if (it == ids.end()) {
                it = ids.emplace(p, int32_t(out.vertices.size())).first;
                out.vertices.push_back({double(p[0]) * 0.001, double(p[1]) * 0.001, double(p[2]) * 0.001});
            }
            f[k] = it->second;
        }
        if (f[0] != f[1] && f[1] != f[2] && f[0] != f[2])
            out.faces.push_back(f);
    }
    MeshData::computeNormals(out);
    return !out.faces.empty();
}

CutResult cutModel(const MeshModel* model, int modelIndex, int planeUm, int axis)
{
    CutResult result;
    result.source = model;
    if (!model || axis < 0 || axis > 2)
        return result;
    CutWorkData& wd = cutWorkData();
    const Eigen::Matrix4d m = model->getModelMatrix();
    const bool reuse = wd.down.size() >= 3 && wd.model == model && wd.modelIndex == modelIndex
        && wd.axis == axis && wd.planeUm == planeUm && std::equal(m.data(), m.data() + 16, wd.matrix.begin());
    if (!reuse && !computeCutSection(model, modelIndex, planeUm, axis, true)) {
        if (stopRequested())
            g_jobState = 2;
        return result;
    }
    // An empty half means the plane misses the model: nothing to cut.
    if (wd.up.empty() || wd.down.empty()) {
        clearWork(wd);
        return result;
    }
    if (!triangulateCaps(wd, planeUm, axis))
        return result;
    result.up = std::make_unique<MeshData>();
    result.down = std::make_unique<MeshData>();
    const bool ok = buildHalfMesh(wd.up, *result.up) && buildHalfMesh(wd.down, *result.down);
    // The work lists now hold capped halves; the next preview or cut starts afresh.
    clearWork(wd);
    if (!ok || stopRequested()) {
        if (stopRequested())
            g_jobState = 2;
        result.up.reset();
        result.down.reset();
        return result;
    }
    result.upName = model->getName() + "_up";
    result.downName = model->getName() + "_down";
    switch (axis) {
    case CutX: result.upShift = {0.0, 10.0, 0.0}; break;
    case CutY: result.upShift = {10.0, 0.0, 0.0}; break;
    default: result.upShift = {10.0, 10.0, 0.0}; break;
    }
    result.ok = true;
    return result;
}

bool commitCut(CutResult& result)
{
    if (!result.ok || !result.up || !result.down)
        return false;
    AppData* app = AppData::instance();
    const auto& models = app->getModels();
    const auto it = std::find(models.begin(), models.end(), result.source);
    if (it == models.end())
        return false;
    const int index = int(it - models.begin());
    auto addHalf = [&](std::unique_ptr<MeshData>& mesh, const std::string& name) {
        MeshModel* half = new MeshModel();
        half->setMeshSlot(MeshList::instance()->add(mesh.release()));
        half->setName(name);
        app->addModel(half);
        return half;
    };
    MeshModel* up = addHalf(result.up, result.upName);
    up->translate(result.upShift.data());
    addHalf(result.down, result.downName);
    app->removeModel(index);
    app->refresh();
    return true;
}

void startCutJob(int planeUm, int axis, QObject* context, std::function<void(bool)> done)
{
    AppData* app = AppData::instance();
    const int index = app->getSelectedIndex();
    const MeshModel* model = app->getModel(index);
    QtConcurrent::run([=]() {
        auto result = std::make_shared<CutResult>(cutModel(model, index, planeUm, axis));
        QMetaObject::invokeMethod(context, [result, done]() {
            const bool ok = commitCut(*result);
            if (done)
                done(ok);
        }, Qt::QueuedConnection);
    });
}
