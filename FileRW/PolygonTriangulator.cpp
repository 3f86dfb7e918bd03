#include "FileRW/PolygonTriangulator.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <memory_resource>
#include <set>
#include <tuple>
#include <unordered_map>

#include "scene/BigAllocator.h"
#include "scene/ParallelSort.h"
#include "scene/RadixSort.h"

namespace {
constexpr double kEps = 1e-6;

PolygonTriangulator::Point3 sub3(const PolygonTriangulator::Point3& a, const PolygonTriangulator::Point3& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

PolygonTriangulator::Point3 cross3(const PolygonTriangulator::Point3& a, const PolygonTriangulator::Point3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double length3(const PolygonTriangulator::Point3& a)
{
    return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

// Newell's normal: the polygon's area vector, defined for any simple polygon even when
// the corners around the extreme point are collinear.
PolygonTriangulator::Point3 newellNormal(const std::vector<PolygonTriangulator::Point3>& p)
{
    PolygonTriangulator::Point3 n{0.0, 0.0, 0.0};
    const size_t count = p.size();
    for (size_t i = 0; i < count; ++i) {
        const auto& a = p[i];
        const auto& b = p[(i + 1) % count];
        n[0] += (a[1] - b[1]) * (a[2] + b[2]);
        n[1] += (a[2] - b[2]) * (a[0] + b[0]);
        n[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    return n;
}

// The projected corners on a whole-number grid fine enough that only corners closer than
// about 2^-40 of the polygon's size fall together. Empty when a coordinate is not finite.
std::vector<PolygonTriangulator::GridPoint> onGrid(const std::vector<PolygonTriangulator::Point2>& pts)
{
    if (pts.empty())
        return {};
    double x0 = pts[0][0], y0 = pts[0][1], x1 = x0, y1 = y0;
    for (const auto& p : pts) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]))
            return {};
        x0 = std::min(x0, p[0]);
        y0 = std::min(y0, p[1]);
        x1 = std::max(x1, p[0]);
        y1 = std::max(y1, p[1]);
    }
    const double span = std::max(x1 - x0, y1 - y0);
    if (!(span > 0.0) || !std::isfinite(span))
        return {};
    const double scale = std::ldexp(1.0, 40) / span;
    std::vector<PolygonTriangulator::GridPoint> grid(pts.size());
    for (size_t i = 0; i < pts.size(); ++i)
        grid[i] = {std::llround((pts[i][0] - x0) * scale), std::llround((pts[i][1] - y0) * scale)};
    return grid;
}

// Whether two corners that differ in space fall onto one grid point.
bool foldsCorners(const std::vector<PolygonTriangulator::Point3>& p, const std::vector<PolygonTriangulator::Point2>& flat)
{
    const auto grid = onGrid(flat);
    std::vector<size_t> order(grid.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return grid[a] < grid[b]; });
    for (size_t i = 1; i < order.size(); ++i)
        if (grid[order[i]] == grid[order[i - 1]] && p[order[i]] != p[order[i - 1]])
            return true;
    return false;
}
} // namespace

bool PolygonTriangulator::projectPolygon(const std::vector<Point3>& p)
{
    points2d.clear();
    const int n = int(p.size());
    if (n < 3)
        return false;

    // The extreme point (largest x, then y, then z) is convex.
    int k = 0;
    for (int i = 1; i < n; ++i) {
        const Point3& q = p[i];
        const Point3& b = p[k];
        if (q[0] - b[0] > kEps
            || (std::fabs(q[0] - b[0]) < kEps && q[1] - b[1] > kEps)
            || (std::fabs(q[0] - b[0]) < kEps && std::fabs(q[1] - b[1]) < kEps && q[2] - b[2] > kEps))
            k = i;
    }
    const int prev = (k + n - 1) % n;
    const int next = (k + 1) % n;
    Point3 normal = cross3(sub3(p[k], p[prev]), sub3(p[next], p[k]));
    double len = length3(normal);
    if (!(len > 1e-12)) {
        normal = newellNormal(p);
        len = length3(normal);
        if (!(len > 1e-12) || !std::isfinite(len))
            return false;
    }
    project(p, normal);
    // A polygon that is not flat may fold two corners onto one point seen along that normal;
    // its mean plane keeps them apart.
    if (foldsCorners(p, points2d)) {
        const Point3 mean = newellNormal(p);
        if (length3(mean) > 1e-12 && std::isfinite(length3(mean)))
            project(p, mean);
    }
    return true;
}

void PolygonTriangulator::project(const std::vector<Point3>& p, Point3 normal)
{
    const double len = length3(normal);
    normal = {normal[0] / len, normal[1] / len, normal[2] / len};
    // Rotate about X so the normal lies in the XZ plane, then about Y onto +Z.
    double c1 = 1.0, s1 = 0.0;
    if (std::fabs(normal[1]) >= kEps) {
        const double r = std::sqrt(normal[1] * normal[1] + normal[2] * normal[2]);
        c1 = normal[2] / r;
        s1 = normal[1] / r;
    }
    const double w = s1 * normal[1] + c1 * normal[2];
    double c2 = w, s2 = 0.0;
    if (std::fabs(normal[0]) >= kEps) {
        const double l = std::sqrt(w * w + normal[0] * normal[0]);
        c2 = w / l;
        s2 = -normal[0] / l;
    }
    points2d.clear();
    points2d.reserve(p.size());
    for (const Point3& q : p)
        points2d.push_back({c2 * q[0] + s2 * (s1 * q[1] + c1 * q[2]), c1 * q[1] - s1 * q[2]});
}


namespace {

using i128 = __int128;
using GridPoint = PolygonTriangulator::GridPoint;
using Triangle = PolygonTriangulator::Triangle;

inline i128 orient(const GridPoint& a, const GridPoint& b, const GridPoint& c)
{
    return i128(b[0] - a[0]) * (c[1] - a[1]) - i128(b[1] - a[1]) * (c[0] - a[0]);
}

inline int sign(i128 v) { return (v > 0) - (v < 0); }

enum Side : uint8_t { Lower, Upper, Both };

// The sweep goes across x, then y, so every region between two edges it crosses is monotone
// along it. Each such region inside the rings is cut into triangles as its corners arrive: a
// stack holds the corners still waiting, a chain that bends away from the inside.
class Sweep
{
    struct Corner
    {
        int32_t v;
        Side side;
    };

    struct Piece
    {
        std::vector<Corner> stack;
    };

public:
    struct Edge;

private:
    struct Less
    {
        using is_transparent = void;
        const Sweep* s;
        bool operator()(const Edge* a, const Edge* b) const { return s->below(a, b); }
        // An edge before a corner lies below it; one through the corner is neither.
        bool operator()(const Edge* e, int32_t p) const { return s->side(e, p) > 0; }
        bool operator()(int32_t p, const Edge* e) const { return s->side(e, p) < 0; }
    };
    using Status = std::pmr::set<Edge*, Less>;

public:
    // The ring points at each corner, as the sweep meets them: those at corner p are
    // leaving[occStart[p] .. occStart[p + 1]), each with the corners before and after it on its
    // ring, looked up beforehand on every core: found as the sweep goes, they were a miss of
    // the cache each.
    struct Leaving
    {
        int32_t ring;
        int32_t next, prev;    // corners
        uint32_t from, before; // this point's and the one before it in the rings laid end to end
    };
    struct Rings
    {
        HugeList<int32_t> occStart;
        HugeList<Leaving> leaving;
    };

    Sweep(HugeList<GridPoint> at, HugeList<int32_t> ids, Rings rings, HugeList<Triangle>& out)
        : at(std::move(at)), ids(std::move(ids)), rings(std::move(rings)), out(out)
    {
        // Below 2^30 every turn fits in 64 bits; sections on the micrometre grid always are.
        constexpr int64_t Small = int64_t(1) << 30;
        for (const GridPoint& p : this->at)
            small = small && p[0] > -Small && p[0] < Small && p[1] > -Small && p[1] < Small;
    }

    struct Edge
    {
        GridPoint pl{}, pr{}; // the corners' places, held here: the status compares them all the time
        int32_t l = 0, r = 0; // corners, in sweep order: l before r
        int32_t ring = -1;
        uint32_t serial = 0; // in the order made, which breaks ties between edges along one line
        uint32_t from = 0;   // the ring edge it is made from, which orders those made at one corner
        Edge* nextFree = nullptr;
        bool insideAbove = false;
        // The region above while it is inside: one piece, or two below and above a corner
        // where two regions met (a merge) until the next corner joins them up.
        Piece* lower = nullptr;
        Piece* upper = nullptr;
        bool inStatus = false;
        Status::iterator pos{}; // its place there, while inStatus
    };

    PolygonTriangulator::Fill run(const PolygonTriangulator::Stop& stop, std::array<int32_t, 2>* crossing);

    bool exact = true; // see PolygonTriangulator::fillRings

private:
    // Left (+1), on (0) or right (-1) of the line from a to b: where c lies.
    int turn(const GridPoint& a, const GridPoint& b, const GridPoint& c) const
    {
        if (small) {
            const int64_t o = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
            return (o > 0) - (o < 0);
        }
        return sign(orient(a, b, c));
    }

    // Above (+1), on (0) or below (-1) the edge's line: where corner p lies.
    int side(const Edge* e, int32_t p) const { return turn(e->pl, e->pr, at[size_t(p)]); }
    int side(const Edge* e, const GridPoint& p) const { return turn(e->pl, e->pr, p); }

    // Edges are made when the sweep reaches their first corner and reused once it has passed
    // their last, so that what the sweep touches is as large as what it crosses at once, not
    // as large as the rings.
    Edge* newEdge(int32_t l, int32_t r, int32_t ring)
    {
        Edge* e;
        if (freeEdges) {
            e = freeEdges;
            freeEdges = e->nextFree;
        } else {
            if (blockUsed == blockSize) {
                // Small rings, of which the cut fills thousands, need few; a first block below
                // 1 KB also keeps malloc from sorting its free lists at each fill.
                blockSize = blocks.empty() ? 8 : std::min<size_t>(2 * blockSize, 4096);
                blocks.push_back(std::make_unique<Edge[]>(blockSize));
                blockUsed = 0;
            }
            e = &blocks.back()[blockUsed++];
        }
        *e = Edge();
        e->pl = at[size_t(l)];
        e->pr = at[size_t(r)];
        e->l = l;
        e->r = r;
        e->ring = ring;
        e->serial = serials++;
        return e;
    }
    void freeEdge(Edge* e)
    {
        e->nextFree = freeEdges;
        freeEdges = e;
    }

    // Edges that do not cross, both cut by the sweep line: is a below b?
    bool below(const Edge* a, const Edge* b) const
    {
        if (a == b)
            return false;
        if (a->l == b->l) {
            const int s = turn(a->pl, a->pr, b->pr);
            return s != 0 ? s > 0 : a->serial < b->serial;
        }
        if (a->l > b->l) {
            int s = side(b, a->pl);
            if (s == 0)
                s = side(b, a->pr);
            return s != 0 ? s < 0 : a->serial < b->serial;
        }
        int s = side(a, b->pl);
        if (s == 0)
            s = side(a, b->pr);
        return s != 0 ? s > 0 : a->serial < b->serial;
    }

    bool crosses(const Edge* a, const Edge* b) const
    {
        if (!a || !b)
            return false;
        const GridPoint &p = a->pl, &q = a->pr, &u = b->pl, &v = b->pr;
        return turn(p, q, u) * turn(p, q, v) < 0 && turn(u, v, p) * turn(u, v, q) < 0;
    }

    Piece* newPiece(int32_t v)
    {
        Piece* p;
        if (!spare.empty()) {
            p = spare.back();
            spare.pop_back();
        } else {
            pieces.emplace_back();
            p = &pieces.back();
        }
        p->stack.clear();
        p->stack.push_back({v, Both});
        return p;
    }

    void emit(int32_t a, int32_t b, int32_t c)
    {
        const int o = turn(at[size_t(a)], at[size_t(b)], at[size_t(c)]);
        if (o == 0) {
            exact = false;
            return; // a region of no width there: nothing to cover
        }
        if (o < 0)
            std::swap(b, c);
        out.push_back({ids[size_t(a)], ids[size_t(b)], ids[size_t(c)]});
    }

    // Corner v joins the piece on one side of it.
    void add(Piece* p, int32_t v, Side s)
    {
        auto& st = p->stack;
        if (st.size() > 1 && st.back().side != s) {
            // Across from the waiting chain: v sees all of it.
            for (size_t i = 0; i + 1 < st.size(); ++i)
                emit(v, st[i].v, st[i + 1].v);
            const Corner top = st.back();
            st.clear();
            st.push_back(top);
        } else {
            // Along the waiting chain: cut off the corners that now bend towards the inside.
            while (st.size() > 1) {
                const int o = turn(at[size_t(st[st.size() - 2].v)], at[size_t(st.back().v)], at[size_t(v)]);
                if (s == Lower ? o <= 0 : o >= 0)
                    break;
                emit(st[st.size() - 2].v, st.back().v, v);
                st.pop_back();
            }
        }
        st.push_back({v, s});
    }

    // Corner v closes the piece: it sees all the corners still waiting.
    void finish(Piece* p, int32_t v)
    {
        auto& st = p->stack;
        for (size_t i = 0; i + 1 < st.size(); ++i)
            emit(v, st[i].v, st[i + 1].v);
        spare.push_back(p);
    }

    HugeList<GridPoint> at; // corners in sweep order
    HugeList<int32_t> ids;  // the caller's index of each corner
    Rings rings;
    HugeList<Triangle>& out;
    bool small = true;
    std::vector<std::unique_ptr<Edge[]>> blocks;
    size_t blockSize = 0, blockUsed = 0;
    Edge* freeEdges = nullptr;
    uint32_t serials = 0;
    std::deque<Piece> pieces;
    std::vector<Piece*> spare;
};

PolygonTriangulator::Fill Sweep::run(const PolygonTriangulator::Stop& stop, std::array<int32_t, 2>* crossing)
{
    using Fill = PolygonTriangulator::Fill;
    // An edge given twice is no edge (even-odd): the corner that starts them cancels them as it
    // does any two edges that overlap.
    std::unordered_map<int32_t, std::vector<Edge*>> later; // pieces of overlapping edges
    std::pmr::unsynchronized_pool_resource pool;
    Status status(Less{this}, &pool);
    // Per corner, the last edge put in the status that ends there.
    HugeList<Edge*> endingAt(at.size(), nullptr);
    std::vector<Edge*> ins, outs, sorted;
    ins.reserve(8);
    outs.reserve(8);
    sorted.reserve(8);
    const int32_t corners = int32_t(at.size());
    for (int32_t p = 0; p < corners; ++p) {
        if ((p & 4095) == 0 && stop && stop())
            return Fill::Stopped;
        // The ring edges starting at p, in ring order: the k-th runs from the k-th point to the next.
        outs.clear();
        for (int32_t i = rings.occStart[size_t(p)]; i < rings.occStart[size_t(p) + 1]; ++i) {
            const Leaving& l = rings.leaving[size_t(i)];
            if (l.next > p) {
                outs.push_back(newEdge(p, l.next, l.ring));
                outs.back()->from = l.from;
            }
            if (l.prev > p) {
                outs.push_back(newEdge(p, l.prev, l.ring));
                outs.back()->from = l.before;
            }
        }
        for (size_t i = 1; i < outs.size(); ++i)
            for (size_t j = i; j > 0 && outs[j]->from < outs[j - 1]->from; --j)
                std::swap(outs[j], outs[j - 1]);
        // Most corners only go on along a ring: one edge ends there, one starts, and no other
        // edge touches it. The edges touching a corner are neighbours in the status, so the
        // neighbours of the one ending there tell, and the edge going on takes its place
        // without a search.
        Edge* along = nullptr;
        if (!PolygonTriangulator::searchEveryCorner) {
            Edge* e = endingAt[size_t(p)];
            if (e && e->inStatus && e->r == p) {
                const auto next = std::next(e->pos);
                if ((e->pos == status.begin() || side(*std::prev(e->pos), p) != 0) && (next == status.end() || side(*next, p) != 0))
                    along = e;
            }
        }
        // Edges ending at p, and edges passing through it, which are split there.
        auto lo = along ? along->pos : status.lower_bound(p);
        auto hi = lo;
        ins.clear();
        for (; hi != status.end() && side(*hi, p) == 0; ++hi) {
            Edge* e = *hi;
            if (e->r != p) {
                exact = false;
                outs.push_back(newEdge(p, e->r, e->ring));
                e->r = p;
                e->pr = at[size_t(p)];
            }
            ins.push_back(e);
        }
        if (const auto it = later.empty() ? later.end() : later.find(p); it != later.end()) {
            outs.insert(outs.end(), it->second.begin(), it->second.end());
            later.erase(it);
        }
        Edge* under = lo == status.begin() ? nullptr : *std::prev(lo);
        Edge* over = hi == status.end() ? nullptr : *hi;
        // Edges leaving p from the lowest turn to the highest; two in one direction overlap: the
        // shared stretch cancels and the longer one goes on from the shorter one's end.
        const GridPoint& pt = at[size_t(p)];
        std::sort(outs.begin(), outs.end(), [&](const Edge* a, const Edge* b) { return turn(pt, a->pr, b->pr) > 0; });
        sorted.clear();
        for (Edge* e : outs) {
            if (sorted.empty() || turn(pt, sorted.back()->pr, e->pr) != 0) {
                sorted.push_back(e);
                continue;
            }
            Edge* f = sorted.back();
            sorted.pop_back();
            exact = false;
            if (f->r != e->r) {
                Edge* nearer = f->r < e->r ? f : e;
                Edge* further = f->r < e->r ? e : f;
                later[nearer->r].push_back(newEdge(nearer->r, further->r, further->ring));
            }
            freeEdge(e);
            freeEdge(f);
        }
        outs.swap(sorted);
        const bool inside0 = under && under->insideAbove;
        const size_t k = ins.size(), m = outs.size();
        auto parity = [&](size_t j) { return inside0 != (j % 2 == 0); }; // inside above outs[j]
        for (size_t j = 0; j < m; ++j)
            outs[j]->insideAbove = parity(j);
        auto fresh = [&]() {
            for (size_t j = 0; j + 1 < m; ++j)
                if (outs[j]->insideAbove)
                    outs[j]->lower = newPiece(p);
        };
        if (k == 0) {
            if (m > 0 && inside0) {
                // p splits the region it lies in: it joins the corner that came last.
                Piece* lower;
                Piece* upper;
                if (under->upper) {
                    lower = under->lower;
                    upper = under->upper;
                    add(lower, p, Upper);
                    add(upper, p, Lower);
                } else {
                    Piece* piece = under->lower;
                    const Corner top = piece->stack.back();
                    Piece* other = newPiece(top.v);
                    if (top.side == Lower) {
                        add(other, p, Upper);
                        add(piece, p, Lower);
                        lower = other;
                        upper = piece;
                    } else {
                        add(other, p, Lower);
                        add(piece, p, Upper);
                        lower = piece;
                        upper = other;
                    }
                }
                under->lower = lower;
                under->upper = nullptr;
                outs.back()->lower = upper;
            }
            fresh();
        } else {
            Piece* below = nullptr;
            Piece* above = nullptr;
            if (inside0) {
                // p on the upper side of the region under it.
                if (Piece* u = under->upper) {
                    finish(u, p);
                    under->upper = nullptr;
                }
                below = under->lower;
                add(below, p, Upper);
            }
            Edge* top = ins.back();
            if (top->insideAbove) {
                // p on the lower side of the region over it.
                if (top->upper) {
                    finish(top->lower, p);
                    top->lower = top->upper;
                    top->upper = nullptr;
                }
                above = top->lower;
                add(above, p, Lower);
            }
            for (size_t j = 0; j + 1 < k; ++j)
                if (ins[j]->insideAbove) {
                    finish(ins[j]->lower, p);
                    if (ins[j]->upper)
                        finish(ins[j]->upper, p);
                }
            if (m == 0) {
                if (inside0) {
                    under->lower = below;
                    under->upper = above; // two regions meet at p
                }
            } else {
                if (inside0) {
                    under->lower = below;
                    under->upper = nullptr;
                }
                if (outs.back()->insideAbove) {
                    outs.back()->lower = above;
                    outs.back()->upper = nullptr;
                }
                fresh();
            }
        }
        for (Edge* e : outs)
            if (!e->insideAbove)
                e->lower = e->upper = nullptr;
        for (Edge* e : ins)
            e->inStatus = false;
        if (along && outs.size() == 1) {
            // In order where the edge it follows was: no other edge touches p.
            const_cast<Edge*&>(*lo) = outs.front();
            outs.front()->pos = lo;
            outs.front()->inStatus = true;
            endingAt[size_t(outs.front()->r)] = outs.front();
        } else {
            status.erase(lo, hi);
            for (Edge* e : outs) {
                e->pos = status.insert(hi, e);
                e->inStatus = true;
                endingAt[size_t(e->r)] = e;
            }
        }
        // Rings that do not cross keep the status in order; a crossing shows first between
        // edges that have just become neighbours.
        const Edge* pairs[2][2] = {{under, m ? outs.front() : over}, {m ? outs.back() : nullptr, over}};
        for (const auto& pair : pairs)
            if (crosses(pair[0], pair[1])) {
                if (crossing)
                    *crossing = {pair[0]->ring, pair[1]->ring};
                return Fill::Crossing;
            }
        for (Edge* e : ins)
            freeEdge(e);
    }
    return Fill::Done;
}

} // namespace

bool PolygonTriangulator::searchEveryCorner = false;

__int128 PolygonTriangulator::ringArea2(const std::vector<GridPoint>& points, const std::vector<int32_t>& ring)
{
    i128 a = 0;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const GridPoint& p = points[size_t(ring[j])];
        const GridPoint& q = points[size_t(ring[i])];
        a += i128(p[0]) * q[1] - i128(q[0]) * p[1];
    }
    return a;
}

void PolygonTriangulator::turnLikeRings(const std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& set,
                                        std::vector<Triangle>& out, size_t from)
{
    i128 area = 0;
    for (const auto& r : set)
        if (!r.empty())
            area += ringArea2(points, r);
    if (area < 0)
        for (size_t t = from; t < out.size(); ++t)
            std::swap(out[t][1], out[t][2]);
}

PolygonTriangulator::Fill PolygonTriangulator::fillRings(const std::vector<GridPoint>& points,
                                                         const std::vector<std::vector<int32_t>>& rings,
                                                         std::vector<Triangle>& out, const Stop& stop,
                                                         std::array<int32_t, 2>* crossing, bool* exact)
{
    // Corners in sweep order, equal points as one.
    HugeList<int32_t> flat;
    std::vector<size_t> ringStart{0};
    size_t total = 0;
    for (const auto& r : rings)
        total += r.size();
    flat.reserve(total);
    ringStart.reserve(rings.size() + 1);
    for (const auto& r : rings) {
        flat.insert(flat.end(), r.begin(), r.end());
        ringStart.push_back(flat.size());
    }
    // Sorted as whole keys rather than positions into points: a sort that looks its points
    // up at every comparison spends its time waiting for memory.
    // By place, then id, then place in the rings: a radix sort by place keeps the ring order,
    // and the few places several ids share are put in id order after. A face's fine grid can
    // be too wide for one key: its corners are compared.
    struct Key
    {
        uint64_t place;
        int32_t id;
        uint32_t k;
    };
    HugeList<Key> order(flat.size());
    const auto pointAt = [&](size_t i) -> const GridPoint& { return points[size_t(flat[i])]; };
    if (placeKeysFit(flat.size(), pointAt, [&](size_t i, uint64_t key) { order[i] = {key, flat[i], uint32_t(i)}; })) {
        radixSortRange(order.data(), order.size(), [](const Key& k) { return k.place; });
        for (size_t i = 0, j; i < order.size(); i = j) {
            bool oneId = true;
            for (j = i + 1; j < order.size() && order[j].place == order[i].place; ++j)
                oneId = oneId && order[j].id == order[i].id;
            if (!oneId)
                std::sort(order.begin() + long(i), order.begin() + long(j),
                          [](const Key& a, const Key& b) { return a.id != b.id ? a.id < b.id : a.k < b.k; });
        }
    } else {
        // The corners held by value: a comparison that looked them up would wait for memory.
        struct Wide
        {
            int64_t x, y;
            int32_t id;
            uint32_t k;
        };
        HugeList<Wide> wide(flat.size());
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = {pointAt(i)[0], pointAt(i)[1], flat[i], uint32_t(i)};
        parallelSortRange(wide.data(), std::ptrdiff_t(wide.size()), [](const Wide& a, const Wide& b) {
            return a.x != b.x ? a.x < b.x : a.y != b.y ? a.y < b.y : a.id != b.id ? a.id < b.id : a.k < b.k;
        });
        // Places numbered in order, for the walk below.
        for (size_t i = 0; i < wide.size(); ++i) {
            const bool same = i > 0 && wide[i].x == wide[i - 1].x && wide[i].y == wide[i - 1].y;
            order[i] = {i == 0 ? 0 : order[i - 1].place + (same ? 0 : 1), wide[i].id, wide[i].k};
        }
    }
    // Places numbered on every core: counted per range, then each range written from its
    // count on. The points are looked up in sorted order, all over the list, so most of the
    // time goes into waiting for memory, which the cores do side by side.
    const size_t n = order.size(), parts = partCount(n, size_t(1) << 15);
    auto partBegin = [&](size_t part) { return n * part / parts; };
    auto newPlace = [&](size_t i) { return i == 0 || order[i - 1].place != order[i].place; };
    std::vector<size_t> placesBefore(parts + 1, 0);
    runParts(parts, [&](size_t part) {
        size_t count = 0;
        for (size_t i = partBegin(part); i < partBegin(part + 1); ++i)
            count += newPlace(i);
        placesBefore[part + 1] = count;
    });
    for (size_t part = 0; part < parts; ++part)
        placesBefore[part + 1] += placesBefore[part];
    HugeList<GridPoint> at(placesBefore[parts]);
    HugeList<int32_t> ids(placesBefore[parts]);
    Sweep::Rings sweepRings;
    // corner[k]: the place in sweep order of the k-th point of the rings laid end to end;
    // occ[i]: the point of the rings at place i of the sorted order.
    HugeList<int32_t> corner(flat.size()), occ(flat.size());
    sweepRings.occStart.reserve(placesBefore[parts] + 1);
    sweepRings.occStart.resize(placesBefore[parts]);
    // Equal points only where the rings give one point: entries at one place are in id order,
    // so each has the id of the one before it.
    std::vector<char> apartIn(parts, 1);
    runParts(parts, [&](size_t part) {
        int32_t place = int32_t(placesBefore[part]) - 1;
        bool apartHere = true;
        for (size_t i = partBegin(part); i < partBegin(part + 1); ++i) {
            const Key& key = order[i];
            if (newPlace(i)) {
                ++place;
                at[size_t(place)] = points[size_t(key.id)];
                ids[size_t(place)] = key.id;
                sweepRings.occStart[size_t(place)] = int32_t(i);
            } else {
                apartHere = apartHere && order[i - 1].id == key.id;
            }
            corner[key.k] = place;
            occ[i] = int32_t(key.k);
        }
        apartIn[part] = apartHere;
    });
    const bool apart = std::all_of(apartIn.begin(), apartIn.end(), [](char a) { return a != 0; });
    sweepRings.occStart.push_back(int32_t(order.size()));
    HugeList<Key>().swap(order);
    HugeList<int32_t> ringOf;
    if (rings.size() > 1) {
        ringOf.resize(flat.size());
        for (size_t r = 0; r < rings.size(); ++r)
            std::fill(ringOf.begin() + long(ringStart[r]), ringOf.begin() + long(ringStart[r + 1]), int32_t(r));
    }
    sweepRings.leaving.resize(n);
    runParts(parts, [&](size_t part) {
        for (size_t i = partBegin(part); i < partBegin(part + 1); ++i) {
            const size_t k = size_t(occ[i]);
            const int32_t r = ringOf.empty() ? 0 : ringOf[k];
            const size_t b = ringStart[size_t(r)], e = ringStart[size_t(r) + 1];
            const size_t next = k + 1 < e ? k + 1 : b, prev = k > b ? k - 1 : e - 1;
            sweepRings.leaving[i] = {r, corner[next], corner[prev], uint32_t(k), uint32_t(prev)};
        }
    });
    // A polygon of n corners and h holes has n + 2h - 2 triangles; made in one go, the list
    // is not copied as it grows.
    HugeList<Triangle> tris;
    tris.reserve(flat.size() + 2 * rings.size());
    Sweep sweep(std::move(at), std::move(ids), std::move(sweepRings), tris);
    const Fill result = sweep.run(stop, crossing);
    if (result == Fill::Done) {
        if (out.capacity() - out.size() < tris.size())
            reserveHuge(out, std::max(out.size() + tris.size(), 2 * out.capacity()));
        out.insert(out.end(), tris.begin(), tris.end());
    }
    if (exact)
        *exact = apart && sweep.exact;
    return result;
}

namespace {


// fillEvenOdd, with the crossing of a first fill of all the rings given when it is known.
bool fillApart(const std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& rings,
               std::vector<Triangle>& out, const PolygonTriangulator::Stop& stop, bool* exact, std::array<int32_t, 2> known)
{
    using Fill = PolygonTriangulator::Fill;
    auto fillRings = PolygonTriangulator::fillRings;
    bool whole = true;
    auto fillTurned = [&](const std::vector<std::vector<int32_t>>& set, std::array<int32_t, 2>* crossing) {
        const size_t from = out.size();
        bool e = true;
        const Fill f = fillRings(points, set, out, stop, crossing, &e);
        whole = whole && e;
        PolygonTriangulator::turnLikeRings(points, set, out, from);
        return f;
    };
    std::vector<size_t> together(rings.size());
    for (size_t i = 0; i < rings.size(); ++i)
        together[i] = i;
    std::vector<size_t> apart;
    // A few rounds, each setting the two rings of a crossing apart; then every ring on its own.
    for (int round = 0; !together.empty(); ++round) {
        if (round == 3) {
            apart.insert(apart.end(), together.begin(), together.end());
            break;
        }
        std::vector<std::vector<int32_t>> set;
        if (round > 0)
            for (size_t i : together)
                set.push_back(rings[i]);
        std::array<int32_t, 2> crossing{-1, -1};
        const Fill f = round == 0 && known[0] >= 0 ? (crossing = known, Fill::Crossing) : fillTurned(round > 0 ? set : rings, &crossing);
        if (f == Fill::Stopped)
            return false;
        if (f == Fill::Done)
            break;
        std::vector<size_t> rest;
        for (size_t j = 0; j < together.size(); ++j)
            (int32_t(j) == crossing[0] || int32_t(j) == crossing[1] ? apart : rest).push_back(together[j]);
        together.swap(rest);
    }
    // A ring alone that was given alone has been swept as it is: it crosses itself, and would
    // again.
    if (rings.size() > 1)
        for (size_t i : apart)
            if (fillTurned({rings[i]}, nullptr) == Fill::Stopped)
                return false;
    if (exact)
        *exact = whole && apart.empty();
    return true;
}

} // namespace

bool PolygonTriangulator::fillEvenOdd(const std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& rings,
                                      std::vector<Triangle>& out, const Stop& stop, bool* exact)
{
    return fillApart(points, rings, out, stop, exact, {-1, -1});
}

namespace {

// Splits the rings' edges where two of them cross inside both, at the crossing rounded to the
// nearest grid point (snap rounding): that point, and every corner, is a pixel of the grid,
// and each edge is bent through the centre of every pixel it passes, so that edges that ran
// close by or along each other still meet there instead of crossing anew. Edges and pixels
// are found in a grid of cells along the edges' length. False, with rings as they were, when
// the grid entries and pairs looked at pass budget or a stop is asked for; split tells
// whether anything crossed.
bool splitCrossings(std::vector<GridPoint>& points, std::vector<std::vector<int32_t>>& rings, size_t& budget,
                    const PolygonTriangulator::Stop& stop, bool& split)
{
    split = false;
    struct Ref
    {
        int32_t ring, at; // the edge from rings[ring][at] to the next corner
    };
    std::vector<Ref> edges;
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (size_t r = 0; r < rings.size(); ++r)
        for (size_t k = 0; k < rings[r].size(); ++k) {
            const GridPoint& p = points[size_t(rings[r][k])];
            x0 = std::min(x0, p[0]);
            y0 = std::min(y0, p[1]);
            x1 = std::max(x1, p[0]);
            y1 = std::max(y1, p[1]);
            if (rings[r].size() >= 2)
                edges.push_back({int32_t(r), int32_t(k)});
        }
    if (edges.size() < 2)
        return true;
    auto ends = [&](size_t e) {
        const auto& ring = rings[size_t(edges[e].ring)];
        return std::make_pair(ring[size_t(edges[e].at)], ring[(size_t(edges[e].at) + 1) % ring.size()]);
    };
    auto spend = [&](size_t n) {
        if (n > budget)
            return false;
        budget -= n;
        return true;
    };
    // About one edge per cell; a long edge is entered in every cell it passes, with a cell of
    // margin, so that a pixel within reach of it lies in one of its cells.
    const int64_t cells = std::clamp<int64_t>(int64_t(std::sqrt(double(edges.size()))), 1, 4096);
    const double span = double(std::max<int64_t>({x1 - x0, y1 - y0, 1})) + 1.0;
    const double inv = double(cells) / span;
    auto cellOf = [&](double v) { return std::clamp<int64_t>(int64_t(std::floor(v * inv)), 0, cells - 1); };
    auto cellAt = [&](const GridPoint& p) { return cellOf(double(p[0] - x0)) * cells + cellOf(double(p[1] - y0)); };
    // Each edge's cells, column by column, with a cell of margin: f(cell, edge).
    auto eachCell = [&](size_t i, const auto& f) {
        const auto [a, b] = ends(i);
        GridPoint p = points[size_t(a)], q = points[size_t(b)];
        if (p[0] > q[0])
            std::swap(p, q);
        const double px = double(p[0] - x0), py = double(p[1] - y0), qx = double(q[0] - x0), qy = double(q[1] - y0);
        const int64_t c0 = std::max<int64_t>(cellOf(px) - 1, 0), c1 = std::min<int64_t>(cellOf(qx) + 1, cells - 1);
        for (int64_t c = c0; c <= c1; ++c) {
            // The edge's stretch within the column and its neighbours.
            const double xa = std::clamp(double(c - 1) / inv, px, qx), xb = std::clamp(double(c + 2) / inv, px, qx);
            const double t0 = qx > px ? (xa - px) / (qx - px) : 0.0, t1 = qx > px ? (xb - px) / (qx - px) : 1.0;
            const double ya = py + (qy - py) * t0, yb = py + (qy - py) * t1;
            const int64_t r0 = std::max<int64_t>(cellOf(std::min(ya, yb)) - 1, 0);
            const int64_t r1 = std::min<int64_t>(cellOf(std::max(ya, yb)) + 1, cells - 1);
            if (!f(c * cells + r0, size_t(r1 - r0 + 1)))
                return false;
        }
        return true;
    };
    // Counted first, cell by cell, so that what is given up costs no more than the budget's
    // worth of steps: the entries, then every pair in a cell, which is looked at.
    const size_t cellCount = size_t(cells) * size_t(cells);
    std::vector<uint32_t> at(cellCount + 1, 0);
    size_t count = 0;
    for (size_t i = 0; i < edges.size(); ++i) {
        if ((i & 4095) == 0 && stop && stop())
            return false;
        if (!eachCell(i, [&](int64_t first, size_t n) {
                count += n;
                for (size_t r = 0; r < n; ++r)
                    ++at[size_t(first) + r];
                return spend(n) && count < UINT32_MAX;
            }))
            return false;
    }
    size_t pairs = 0;
    for (size_t c = 0; c < cellCount; ++c) {
        pairs += size_t(at[c]) * (at[c] - (at[c] > 0)) / 2;
        if (pairs > budget)
            return false;
    }
    budget -= pairs;
    // Edges by cell, each cell's in edge order: at[c] runs from where cell c starts to where
    // it ends.
    uint32_t sum = 0;
    for (size_t c = 0; c <= cellCount; ++c)
        sum += std::exchange(at[c], sum);
    std::vector<int32_t> inCells(count);
    for (size_t i = 0; i < edges.size(); ++i)
        eachCell(i, [&](int64_t first, size_t n) {
            for (size_t r = 0; r < n; ++r)
                inCells[at[size_t(first) + r]++] = int32_t(i);
            return true;
        });
    // The crossings, rounded: new points, or corners where they round onto one.
    std::map<GridPoint, int32_t> pixels;
    for (size_t r = 0; r < rings.size(); ++r)
        for (int32_t id : rings[r])
            pixels.emplace(points[size_t(id)], id);
    for (size_t c = 0, i = 0; c < cellCount; ++c) {
        const size_t j = at[c];
        for (size_t u = i; u < j; ++u) {
            const auto [a, b] = ends(size_t(inCells[u]));
            // Copies: a crossing found below grows points.
            const GridPoint pa = points[size_t(a)], pb = points[size_t(b)];
            for (size_t v = u + 1; v < j; ++v) {
                const auto [c2, d] = ends(size_t(inCells[v]));
                const GridPoint pc = points[size_t(c2)], pd = points[size_t(d)];
                const i128 oa = orient(pc, pd, pa), ob = orient(pc, pd, pb);
                if (sign(oa) * sign(ob) >= 0 || sign(orient(pa, pb, pc)) * sign(orient(pa, pb, pd)) >= 0)
                    continue;
                const long double t = (long double)oa / (long double)(oa - ob);
                const GridPoint x{std::llround((long double)pa[0] + t * (long double)(pb[0] - pa[0])),
                                  std::llround((long double)pa[1] + t * (long double)(pb[1] - pa[1]))};
                if (pixels.emplace(x, int32_t(points.size())).second)
                    points.push_back(x);
                split = true;
            }
        }
        if (j > i && stop && stop())
            return false;
        i = j;
    }
    if (!split)
        return true;
    // Pixels by cell; each edge is bent through the pixels it passes in its cells.
    std::vector<std::pair<int64_t, int32_t>> byCell;
    byCell.reserve(pixels.size());
    for (const auto& [p, id] : pixels)
        byCell.push_back({cellAt(p), id});
    std::sort(byCell.begin(), byCell.end());
    struct Bend
    {
        int32_t edge;
        i128 along; // (pixel - start) . (end - start)
        int32_t point;
        bool operator<(const Bend& o) const
        {
            return edge != o.edge ? edge < o.edge : along != o.along ? along < o.along : point < o.point;
        }
    };
    std::vector<Bend> bends;
    size_t k = 0;
    for (size_t u = 0, cell = 0; u < inCells.size(); ++u) {
        while (at[cell] <= u)
            ++cell;
        const int32_t e = inCells[u];
        while (k < byCell.size() && byCell[k].first < int64_t(cell))
            ++k;
        const auto [a, b] = ends(size_t(e));
        const GridPoint &pa = points[size_t(a)], &pb = points[size_t(b)];
        for (size_t m = k; m < byCell.size() && byCell[m].first == int64_t(cell); ++m) {
            if (!spend(1))
                return false;
            const int32_t id = byCell[m].second;
            const GridPoint& c = points[size_t(id)];
            if (id == a || id == b || c == pa || c == pb)
                continue;
            // The pixel is the square of side 1 around c: the edge passes it when their
            // bounds meet and its corners are not all on one side of the edge's line (in
            // doubled coordinates, so that the corners are whole).
            if (2 * std::max(pa[0], pb[0]) < 2 * c[0] - 1 || 2 * std::min(pa[0], pb[0]) > 2 * c[0] + 1
                || 2 * std::max(pa[1], pb[1]) < 2 * c[1] - 1 || 2 * std::min(pa[1], pb[1]) > 2 * c[1] + 1)
                continue;
            const GridPoint a2{2 * pa[0], 2 * pa[1]}, b2{2 * pb[0], 2 * pb[1]};
            int below = 0, above = 0;
            for (const GridPoint corner : {GridPoint{2 * c[0] - 1, 2 * c[1] - 1}, GridPoint{2 * c[0] + 1, 2 * c[1] - 1},
                                           GridPoint{2 * c[0] - 1, 2 * c[1] + 1}, GridPoint{2 * c[0] + 1, 2 * c[1] + 1}}) {
                const int sd = sign(orient(a2, b2, corner));
                below += sd < 0;
                above += sd > 0;
            }
            if (below == 4 || above == 4)
                continue;
            bends.push_back({e, i128(c[0] - pa[0]) * (pb[0] - pa[0]) + i128(c[1] - pa[1]) * (pb[1] - pa[1]), id});
        }
    }
    std::sort(bends.begin(), bends.end());
    std::vector<std::vector<int32_t>> out(rings.size());
    size_t next = 0;
    for (size_t i = 0; i < edges.size(); ++i) {
        const auto [a, b] = ends(i);
        auto& ring = out[size_t(edges[i].ring)];
        ring.push_back(a);
        for (; next < bends.size() && bends[next].edge == int32_t(i); ++next) {
            const int32_t p = bends[next].point;
            if (p != b && p != ring.back())
                ring.push_back(p);
        }
    }
    for (size_t r = 0; r < rings.size(); ++r)
        if (rings[r].size() < 2)
            out[r] = rings[r];
    rings.swap(out);
    return true;
}

} // namespace

bool PolygonTriangulator::fillCrossing(std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& rings,
                                       std::vector<Triangle>& out, size_t& budget, const Stop& stop, bool* exact)
{
    // The rings are copied only once a crossing is to be split: most sets have none.
    std::vector<std::vector<int32_t>> split;
    bool copied = false;
    std::array<int32_t, 2> first{-1, -1};
    // A crossing rounded to the grid may cross an edge close by: a few rounds.
    for (int round = 0; round < 3; ++round) {
        const auto& current = copied ? split : rings;
        const size_t from = out.size();
        bool e = true;
        const Fill f = fillRings(points, current, out, stop, round == 0 ? &first : nullptr, &e);
        if (f == Fill::Stopped)
            return false;
        if (f == Fill::Done) {
            PolygonTriangulator::turnLikeRings(points, current, out, from);
            if (exact)
                *exact = e && round == 0;
            return true;
        }
        if (!copied) {
            split = rings;
            copied = true;
        }
        bool any = false;
        if (!splitCrossings(points, split, budget, stop, any)) {
            if (stop && stop())
                return false;
            budget = 0;
            break;
        }
        if (!any)
            break; // what crosses is not two edges inside each other
    }
    // The first fill was of the rings as given, which are filled apart: its crossing holds.
    return fillApart(points, rings, out, stop, exact, first);
}

void PolygonTriangulator::earClip(std::vector<Triangle>& out) const
{
    out.clear();
    const size_t n = points2d.size();
    if (n < 3)
        return;
    const std::vector<GridPoint> grid = onGrid(points2d);
    if (grid.empty())
        return;
    std::vector<std::vector<int32_t>> ring(1);
    for (size_t i = 0; i < n; ++i)
        ring[0].push_back(int32_t(i));
    const std::atomic<bool>* stop = cancelled;
    if (!fillEvenOdd(grid, ring, out, [stop] { return stop && stop->load(std::memory_order_relaxed); }))
        out.clear();
}

std::vector<PolygonTriangulator::Triangle> PolygonTriangulator::triangulate(const std::vector<Point3>& points)
{
    std::vector<Triangle> out;
    PolygonTriangulator t;
    if (t.projectPolygon(points))
        t.earClip(out);
    return out;
}
