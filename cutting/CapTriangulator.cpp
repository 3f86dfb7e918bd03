#include "cutting/CapTriangulator.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace {

using i128 = __int128;

struct Node
{
    int64_t x = 0, y = 0;
    int32_t id = -1;
    Node* prev = nullptr;
    Node* next = nullptr;
    // Position on a z-order curve and neighbours in that order, so an ear test visits only
    // the points near the ear instead of the whole ring.
    uint32_t z = 0;
    Node* prevZ = nullptr;
    Node* nextZ = nullptr;
    // Outline points dropped from the straight edge to next; they still get triangle corners.
    std::vector<Node*> mids;
    // Place along the ring (increasing with next, wrapping), for ring order among few nodes.
    uint64_t ord = 0;
    uint32_t seen = 0;
    bool removed = false;
};

// Negative cross product: below 0 is a left turn (convex in a counter-clockwise ring).
inline i128 area(const Node* p, const Node* q, const Node* r)
{
    return i128(q->y - p->y) * (r->x - q->x) - i128(q->x - p->x) * (r->y - q->y);
}

inline bool equals(const Node* a, const Node* b) { return a->x == b->x && a->y == b->y; }

inline int sign(i128 v) { return (v > 0) - (v < 0); }

bool pointInTriangle(const Node* a, const Node* b, const Node* c, const Node* p)
{
    return i128(c->x - p->x) * (a->y - p->y) >= i128(a->x - p->x) * (c->y - p->y)
        && i128(a->x - p->x) * (b->y - p->y) >= i128(b->x - p->x) * (a->y - p->y)
        && i128(b->x - p->x) * (c->y - p->y) >= i128(c->x - p->x) * (b->y - p->y);
}

bool onSegment(const Node* p, const Node* q, const Node* r)
{
    return q->x <= std::max(p->x, r->x) && q->x >= std::min(p->x, r->x)
        && q->y <= std::max(p->y, r->y) && q->y >= std::min(p->y, r->y);
}

bool intersects(const Node* p1, const Node* q1, const Node* p2, const Node* q2)
{
    int o1 = sign(area(p1, q1, p2)), o2 = sign(area(p1, q1, q2));
    int o3 = sign(area(p2, q2, p1)), o4 = sign(area(p2, q2, q1));
    if (o1 != o2 && o3 != o4)
        return true;
    if (o1 == 0 && onSegment(p1, p2, q1)) return true;
    if (o2 == 0 && onSegment(p1, q2, q1)) return true;
    if (o3 == 0 && onSegment(p2, p1, q2)) return true;
    if (o4 == 0 && onSegment(p2, q1, q2)) return true;
    return false;
}

bool locallyInside(const Node* a, const Node* b)
{
    return area(a->prev, a, a->next) < 0
        ? area(a, b, a->next) >= 0 && area(a, a->prev, b) >= 0
        : area(a, b, a->prev) < 0 || area(a, a->next, b) < 0;
}

bool middleInside(const Node* a, const Node* b)
{
    // Doubled coordinates keep the midpoint exact.
    const Node* p = a;
    bool inside = false;
    const i128 px = i128(a->x) + b->x, py = i128(a->y) + b->y;
    do {
        const i128 y1 = 2 * i128(p->y), y2 = 2 * i128(p->next->y);
        if ((y1 > py) != (y2 > py) && p->next->y != p->y) {
            // px < x-intersection, compared without division
            const i128 dx = 2 * i128(p->next->x - p->x), dy = y2 - y1;
            const i128 lhs = (px - 2 * i128(p->x)) * dy;
            const i128 rhs = (py - y1) * dx;
            if (dy > 0 ? lhs < rhs : lhs > rhs)
                inside = !inside;
        }
        p = p->next;
    } while (p != a);
    return inside;
}

bool intersectsPolygon(const Node* a, const Node* b)
{
    const Node* p = a;
    do {
        if (p->id != a->id && p->next->id != a->id && p->id != b->id && p->next->id != b->id
            && intersects(p, p->next, a, b))
            return true;
        p = p->next;
    } while (p != a);
    return false;
}

bool isValidDiagonal(const Node* a, const Node* b)
{
    return a->next->id != b->id && a->prev->id != b->id && !intersectsPolygon(a, b)
        && ((locallyInside(a, b) && locallyInside(b, a) && middleInside(a, b)
             && (area(a->prev, a, b->prev) != 0 || area(a, b->prev, b) != 0))
            || (equals(a, b) && area(a->prev, a, a->next) > 0 && area(b->prev, b, b->next) > 0));
}

bool sectorContainsSector(const Node* m, const Node* p)
{
    return area(m->prev, m, p->prev) < 0 && area(p->next, m, m->next) < 0;
}

// Bounding box of the points added, and their count.
struct Bounds
{
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    size_t count = 0;
    void add(int64_t x, int64_t y)
    {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
        ++count;
    }
    int64_t side() const { return std::max<int64_t>({x1 - x0, y1 - y0, 1}); }
};

// Square grid cells over a box, about two points to a cell; g == 0: no grid.
struct Cells
{
    int64_t x0 = 0, y0 = 0;
    double inv = 0.0;
    int g = 0;
    void fit(const Bounds& b)
    {
        g = int(std::clamp(std::sqrt(double(b.count) / 2.0), 1.0, 1024.0));
        x0 = b.x0;
        y0 = b.y0;
        inv = double(g) / double(b.side());
    }
    int cell(double v, int64_t origin) const
    {
        return int(std::clamp(std::floor((v - double(origin)) * inv), 0.0, double(g - 1)));
    }
    int cx(double v) const { return cell(v, x0); }
    int cy(double v) const { return cell(v, y0); }
};

class Cutter
{
public:
    Cutter(std::vector<std::array<int32_t, 3>>& out, const std::atomic<int>* stop) : out(out), stop(stop) {}

    Node* ring(const CapTriangulator::Ring& pts)
    {
        Node* last = nullptr;
        for (const auto& p : pts) {
            nodes.emplace_back();
            Node* n = &nodes.back();
            n->x = p.x;
            n->y = p.y;
            n->id = p.id;
            if (!last) {
                n->prev = n->next = n;
            } else {
                n->next = last->next;
                n->prev = last;
                last->next->prev = n;
                last->next = n;
            }
            last = n;
        }
        if (last && equals(last, last->next)) {
            Node* n = last->next;
            removeNode(last);
            last = n;
        }
        return last;
    }

    Node* eliminateHoles(const std::vector<CapTriangulator::Ring>& holes, Node* outer)
    {
        std::vector<Node*> lefts;
        for (const auto& h : holes) {
            Node* list = ring(h);
            if (!list)
                continue;
            Node* left = list;
            Node* p = list;
            do {
                if (p->x < left->x || (p->x == left->x && p->y < left->y))
                    left = p;
                p = p->next;
            } while (p != list);
            lefts.push_back(left);
        }
        std::sort(lefts.begin(), lefts.end(), [](const Node* a, const Node* b) {
            return a->x != b->x ? a->x < b->x : a->y < b->y;
        });
        if (indexed)
            indexRing(outer, holes);
        for (Node* h : lefts) {
            Node* bridge = grid.g ? findHoleBridgeIndexed(h, outer) : findHoleBridge(h, outer);
            if (!bridge) {
                failed = true;
                break;
            }
            Node* reverse = splitPolygon(bridge, h);
            if (grid.g)
                indexSplice(bridge, reverse);
            filterPoints(reverse, reverse->next);
            outer = filterPoints(bridge, bridge->next);
        }
        grid = Grid();
        return outer;
    }

    // Rings this long are indexed along a z-order curve over the given bounds.
    void useIndex(const Bounds& b)
    {
        minX = b.x0;
        minY = b.y0;
        invSize = 32767.0 / double(b.side());
        indexed = true;
    }

    void earcutLinked(Node* ear, int pass)
    {
        if (!ear || failed)
            return;
        if (pass == 0 && indexed)
            indexCurve(ear);
        Node* stopNode = ear;
        while (ear->prev != ear->next) {
            if (stop && (++checks & 1023) == 0 && stop->load(std::memory_order_relaxed) != 0) {
                failed = true;
                return;
            }
            Node* prev = ear->prev;
            Node* next = ear->next;
            if (isEar(ear)) {
                emit(prev, ear, next);
                removeNode(ear);
                prev->mids.clear();
                ear = next->next;
                stopNode = next->next;
                continue;
            }
            ear = next;
            if (ear == stopNode) {
                if (pass == 0)
                    earcutLinked(filterPoints(ear, nullptr), 1);
                else
                    splitEarcut(ear);
                return;
            }
        }
        // Two points left: a zero-area remainder; its edges cancel only when both are plain.
        if (!ear->mids.empty() || !ear->next->mids.empty())
            failed = true;
    }

    bool failed = false;

private:
    bool isEar(Node* ear)
    {
        const Node* a = ear->prev;
        const Node* b = ear;
        const Node* c = ear->next;
        if (area(a, b, c) >= 0)
            return false;
        const int64_t x0 = std::min({a->x, b->x, c->x}), y0 = std::min({a->y, b->y, c->y});
        const int64_t x1 = std::max({a->x, b->x, c->x}), y1 = std::max({a->y, b->y, c->y});
        auto blocks = [&](const Node* p) {
            return p != a && p != c && p->x >= x0 && p->x <= x1 && p->y >= y0 && p->y <= y1
                && !equals(p, a) && !equals(p, b) && !equals(p, c) && pointInTriangle(a, b, c, p)
                && area(p->prev, p, p->next) >= 0;
        };
        if (indexed) {
            // Only points whose z-order lies within the ear's bounding box, outward from the ear,
            // or, where a box straddles a fold of the curve (far more points in that z-order range
            // than in the box's grid cells), the points of those cells.
            const uint32_t minZ = zOrder(x0, y0), maxZ = zOrder(x1, y1);
            const int ax = ears.cx(double(x0)), bx = ears.cx(double(x1));
            const int ay = ears.cy(double(y0)), by = ears.cy(double(y1));
            bool useCells = false;
            if (bx - ax + by - ay > 1) { // an ear within two cells is near on the curve anyway
                size_t inCells = 0;
                for (int y = ay; y <= by; ++y)
                    inCells += ears.start[size_t(y) * size_t(ears.g) + size_t(bx) + 1] - ears.start[size_t(y) * size_t(ears.g) + size_t(ax)];
                const auto zLess = [](const Node* p, uint32_t v) { return p->z < v; };
                const auto zMore = [](uint32_t v, const Node* p) { return v < p->z; };
                const size_t inCurve = size_t(std::upper_bound(byZ.begin(), byZ.end(), maxZ, zMore)
                                              - std::lower_bound(byZ.begin(), byZ.end(), minZ, zLess));
                useCells = inCells * 4 < inCurve;
            }
            if (useCells) {
                for (int y = ay; y <= by; ++y) {
                    const size_t row = size_t(y) * size_t(ears.g);
                    for (uint32_t i = ears.start[row + size_t(ax)], e = ears.start[row + size_t(bx) + 1]; i < e; ++i)
                        if (!ears.items[i]->removed && blocks(ears.items[i]))
                            return false;
                }
                return outsideMids(a, b, c);
            }
            for (const Node* p = ear->prevZ; p && p->z >= minZ; p = p->prevZ)
                if (blocks(p))
                    return false;
            for (const Node* p = ear->nextZ; p && p->z <= maxZ; p = p->nextZ)
                if (blocks(p))
                    return false;
        } else {
            for (const Node* p = c->next; p != a; p = p->next)
                if (blocks(p))
                    return false;
        }
        return outsideMids(a, b, c);
    }

    // Dropped points of the new diagonal's neighbours count as well.
    static bool outsideMids(const Node* a, const Node* b, const Node* c)
    {
        for (const Node* m : a->prev->mids)
            if (pointInTriangle(a, b, c, m) && !equals(m, a))
                return false;
        for (const Node* m : c->mids)
            if (pointInTriangle(a, b, c, m) && !equals(m, c))
                return false;
        return true;
    }

    uint32_t zOrder(int64_t x, int64_t y) const
    {
        auto spread = [](uint32_t v) {
            v = (v | (v << 8)) & 0x00FF00FF;
            v = (v | (v << 4)) & 0x0F0F0F0F;
            v = (v | (v << 2)) & 0x33333333;
            return (v | (v << 1)) & 0x55555555;
        };
        auto cell = [&](int64_t v, int64_t origin) {
            return uint32_t(std::clamp(double(v - origin) * invSize, 0.0, 32767.0));
        };
        return spread(cell(x, minX)) | (spread(cell(y, minY)) << 1);
    }

    void indexCurve(Node* start)
    {
        Node* p = start;
        do {
            p->z = zOrder(p->x, p->y);
            p->prevZ = p->prev;
            p->nextZ = p->next;
            p = p->next;
        } while (p != start);
        p->prevZ->nextZ = nullptr;
        p->prevZ = nullptr;
        sortByZ(p);
        while (p->prevZ)
            p = p->prevZ;
        byZ.clear();
        for (; p; p = p->nextZ)
            byZ.push_back(p);
        indexEars();
    }

    // Points of the ring by grid cell, row by row, so a cell range of a row is one stretch.
    struct EarGrid : Cells
    {
        std::vector<uint32_t> start;
        std::vector<Node*> items;
        size_t of(const Node* p) const { return size_t(cy(double(p->y))) * size_t(g) + size_t(cx(double(p->x))); }
    } ears;
    std::vector<Node*> byZ; // the ring in z-order when indexed; removed points stay, flagged

    void indexEars()
    {
        Bounds b;
        for (const Node* q : byZ)
            b.add(q->x, q->y);
        ears.fit(b);
        ears.start.assign(size_t(ears.g) * size_t(ears.g) + 1, 0);
        for (const Node* q : byZ)
            ++ears.start[ears.of(q) + 1];
        for (size_t i = 1; i < ears.start.size(); ++i)
            ears.start[i] += ears.start[i - 1];
        ears.items.resize(byZ.size());
        std::vector<uint32_t> fill(ears.start.begin(), ears.start.end() - 1);
        for (Node* q : byZ)
            ears.items[fill[ears.of(q)]++] = q;
    }

    // Bottom-up merge sort of the z list, n log n.
    static void sortByZ(Node* list)
    {
        for (size_t size = 1;; size *= 2) {
            Node* p = list;
            Node* tail = nullptr;
            list = nullptr;
            size_t merges = 0;
            while (p) {
                ++merges;
                Node* q = p;
                size_t pSize = 0;
                for (; pSize < size && q; ++pSize)
                    q = q->nextZ;
                size_t qSize = size;
                while (pSize > 0 || (qSize > 0 && q)) {
                    Node* e;
                    if (pSize != 0 && (qSize == 0 || !q || p->z <= q->z)) {
                        e = p;
                        p = p->nextZ;
                        --pSize;
                    } else {
                        e = q;
                        q = q->nextZ;
                        --qSize;
                    }
                    if (tail)
                        tail->nextZ = e;
                    else
                        list = e;
                    e->prevZ = tail;
                    tail = e;
                }
                p = q;
            }
            tail->nextZ = nullptr;
            if (merges <= 1)
                return;
        }
    }

    // Triangle a, b, c with the dropped points of a-b and b-c as extra corners.
    void emit(const Node* a, const Node* b, const Node* c)
    {
        const Node* x = a;
        for (const Node* m : a->mids) {
            out.push_back({x->id, m->id, c->id});
            x = m;
        }
        const Node* y = b;
        for (const Node* m : b->mids) {
            out.push_back({x->id, y->id, m->id});
            y = m;
        }
        out.push_back({x->id, y->id, c->id});
    }

    void removeNode(Node* p)
    {
        p->next->prev = p->prev;
        p->prev->next = p->next;
        if (p->prevZ)
            p->prevZ->nextZ = p->nextZ;
        if (p->nextZ)
            p->nextZ->prevZ = p->prevZ;
        p->prevZ = p->nextZ = nullptr;
        p->removed = true;
        if (grid.g)
            addEdge(p->prev);
    }

    // Carries the dropped points of p's two edges onto prev's new edge, keeping only those
    // strictly inside it (a spike's points fall away with the spike).
    void mergeMids(Node* p)
    {
        Node* a = p->prev;
        Node* b = p->next;
        std::vector<Node*> all = a->mids;
        all.push_back(p);
        all.insert(all.end(), p->mids.begin(), p->mids.end());
        std::vector<Node*> kept;
        const i128 dx = b->x - a->x, dy = b->y - a->y;
        const i128 len = dx * dx + dy * dy;
        for (Node* m : all) {
            const i128 mx = m->x - a->x, my = m->y - a->y;
            if (mx * dy - my * dx != 0)
                continue;
            const i128 t = mx * dx + my * dy;
            if (t > 0 && t < len)
                kept.push_back(m);
        }
        std::sort(kept.begin(), kept.end(), [&](const Node* m, const Node* n) {
            return i128(m->x - a->x) * dx + i128(m->y - a->y) * dy
                 < i128(n->x - a->x) * dx + i128(n->y - a->y) * dy;
        });
        a->mids = std::move(kept);
    }

    Node* filterPoints(Node* start, Node* end)
    {
        if (!start)
            return start;
        if (!end)
            end = start;
        Node* p = start;
        bool again;
        do {
            again = false;
            if (equals(p, p->next) || area(p->prev, p, p->next) == 0) {
                mergeMids(p);
                removeNode(p);
                p = end = p->prev;
                if (p == p->next)
                    return nullptr;
                again = true;
            } else {
                p = p->next;
            }
        } while (again || p != end);
        return end;
    }

    Node* splitPolygon(Node* a, Node* b)
    {
        nodes.emplace_back();
        Node* a2 = &nodes.back();
        nodes.emplace_back();
        Node* b2 = &nodes.back();
        a2->x = a->x; a2->y = a->y; a2->id = a->id;
        b2->x = b->x; b2->y = b->y; b2->id = b->id;
        Node* an = a->next;
        Node* bp = b->prev;
        a2->mids = std::move(a->mids);
        a->mids.clear();
        a->next = b;
        b->prev = a;
        a2->next = an;
        an->prev = a2;
        b2->next = a2;
        a2->prev = b2;
        bp->next = b2;
        b2->prev = bp;
        return b2;
    }

    void splitEarcut(Node* start)
    {
        Node* a = start;
        do {
            Node* b = a->next->next;
            while (b != a->prev) {
                if (a->id != b->id && isValidDiagonal(a, b)) {
                    Node* c = splitPolygon(a, b);
                    a = filterPoints(a, a->next);
                    c = filterPoints(c, c->next);
                    earcutLinked(a, 0);
                    earcutLinked(c, 0);
                    return;
                }
                b = b->next;
            }
            a = a->next;
        } while (a != start);
        failed = true; // no diagonal left: give up at once
    }

    // Where the edge from p to its next point, going down, meets the horizontal line through
    // (hx, hy); atHole when exactly at the hole's point.
    static bool leftwardCrossing(const Node* p, int64_t hx, int64_t hy, long double& x, bool& atHole)
    {
        const Node* n = p->next;
        if (!(hy <= p->y && hy >= n->y && n->y != p->y))
            return false;
        const i128 num = i128(hy - p->y) * (n->x - p->x);
        const i128 den = n->y - p->y;
        x = (long double)p->x + (long double)num / (long double)den;
        atHole = num == i128(hx - p->x) * den;
        return true;
    }

    Node* findHoleBridge(Node* hole, Node* outer)
    {
        Node* p = outer;
        const int64_t hx = hole->x, hy = hole->y;
        long double qx = -1e300L;
        Node* m = nullptr;
        do {
            const Node* n = p->next;
            long double x;
            bool atHole;
            if (leftwardCrossing(p, hx, hy, x, atHole) && (x <= hx || atHole) && x > qx) {
                qx = atHole ? (long double)hx : x;
                m = p->x < n->x ? p : p->next;
                if (atHole)
                    return m;
            }
            p = p->next;
        } while (p != outer);
        if (!m)
            return nullptr;
        std::vector<Node*> near;
        p = m;
        do {
            if (hx >= p->x && p->x >= m->x && hx != p->x)
                near.push_back(p);
            p = p->next;
        } while (p != m);
        return closestBridge(near.begin(), near.end(), hole, m, qx);
    }

    // Grid over the outline and holes while holes are bridged: edges by the cells their bounds
    // cover, points by their cell. Entries go stale as the ring changes and are checked on use.
    struct Grid : Cells
    {
        std::vector<std::vector<Node*>> edges, points;
    } grid;
    uint32_t stamp = 0;

    void addEdge(Node* p)
    {
        const Node* n = p->next;
        const int ax = grid.cx(double(std::min(p->x, n->x))), bx = grid.cx(double(std::max(p->x, n->x)));
        const int ay = grid.cy(double(std::min(p->y, n->y))), by = grid.cy(double(std::max(p->y, n->y)));
        for (int y = ay; y <= by; ++y)
            for (int x = ax; x <= bx; ++x)
                grid.edges[size_t(y) * size_t(grid.g) + size_t(x)].push_back(p);
    }

    void addPoint(Node* p)
    {
        grid.points[size_t(grid.cy(double(p->y))) * size_t(grid.g) + size_t(grid.cx(double(p->x)))].push_back(p);
    }

    void indexRing(Node* outer, const std::vector<CapTriangulator::Ring>& holes)
    {
        Bounds b;
        Node* p = outer;
        do {
            b.add(p->x, p->y);
            p = p->next;
        } while (p != outer);
        for (const auto& h : holes)
            for (const auto& q : h)
                b.add(q.x, q.y);
        grid.fit(b);
        grid.edges.assign(size_t(grid.g) * size_t(grid.g), {});
        grid.points.assign(size_t(grid.g) * size_t(grid.g), {});
        relabel(outer);
        p = outer;
        do {
            addEdge(p);
            addPoint(p);
            p = p->next;
        } while (p != outer);
    }

    void relabel(Node* start)
    {
        size_t n = 0;
        Node* p = start;
        do {
            ++n;
            p = p->next;
        } while (p != start);
        const uint64_t step = UINT64_MAX / (n + 1);
        uint64_t o = start->ord;
        do {
            p->ord = o;
            o += step;
            p = p->next;
        } while (p != start);
    }

    // After splitPolygon(a, b): a, then the hole from b round to its copy, a's copy, a's old next.
    void indexSplice(Node* a, Node* b2)
    {
        Node* a2 = b2->next;
        size_t k = 0;
        for (Node* p = a->next; p != a2->next; p = p->next)
            ++k;
        const uint64_t step = (a2->next->ord - a->ord) / (k + 1);
        if (step == 0) {
            relabel(a);
        } else {
            uint64_t o = a->ord;
            for (Node* p = a->next; p != a2->next; p = p->next)
                p->ord = o += step;
        }
        addEdge(a);
        for (Node* p = a->next; p != a2->next; p = p->next) {
            addEdge(p);
            addPoint(p);
        }
    }

    // findHoleBridge over the grid: the same candidates, taken in the same ring order.
    Node* findHoleBridgeIndexed(Node* hole, Node* outer)
    {
        const int64_t hx = hole->x, hy = hole->y;
        const int row = grid.cy(double(hy));
        struct Hit
        {
            Node* p;
            long double x;
            bool atHole;
        };
        std::vector<Hit> hits;
        ++stamp;
        int col = std::min(grid.cx(double(hx)) + 1, grid.g - 1);
        for (; col >= 0; --col) {
            for (Node* p : grid.edges[size_t(row) * size_t(grid.g) + size_t(col)]) {
                if (p->removed || p->seen == stamp)
                    continue;
                p->seen = stamp;
                long double x;
                bool atHole;
                if (leftwardCrossing(p, hx, hy, x, atHole) && (x <= hx || atHole))
                    hits.push_back({p, x, atHole});
            }
            // Edges not yet seen all cross left of this column, below every hit in or right of it.
            bool done = false;
            for (const Hit& h : hits)
                done = done || grid.cx(double(h.x)) >= col;
            if (done)
                break;
        }
        if (hits.empty())
            return nullptr;
        const int keep = std::max(col, 0);
        hits.erase(std::remove_if(hits.begin(), hits.end(), [&](const Hit& h) { return grid.cx(double(h.x)) < keep; }),
                   hits.end());
        std::sort(hits.begin(), hits.end(), [&](const Hit& a, const Hit& b) {
            return a.p->ord - outer->ord < b.p->ord - outer->ord;
        });
        long double qx = -1e300L;
        Node* m = nullptr;
        for (const Hit& h : hits) {
            if (h.x > qx) {
                qx = h.atHole ? (long double)hx : h.x;
                m = h.p->x < h.p->next->x ? h.p : h.p->next;
                if (h.atHole)
                    return m;
            }
        }
        const int64_t mx = m->x, my = m->y;
        if (mx > hx)
            return m;
        std::vector<Node*> near;
        const int ax = grid.cx(double(mx)), bx = grid.cx(double(hx));
        const int ay = grid.cy(double(std::min(hy, my))), by = grid.cy(double(std::max(hy, my)));
        for (int y = ay; y <= by; ++y)
            for (int x = ax; x <= bx; ++x)
                for (Node* p : grid.points[size_t(y) * size_t(grid.g) + size_t(x)])
                    if (!p->removed && hx >= p->x && p->x >= mx && hx != p->x)
                        near.push_back(p);
        std::sort(near.begin(), near.end(), [&](const Node* a, const Node* b) {
            return a->ord - m->ord < b->ord - m->ord;
        });
        return closestBridge(near.begin(), near.end(), hole, m, qx);
    }

    // Of the points inside the triangle (hole point, ray hit, m), the one seen at the smallest
    // angle from the hole point, taken in ring order from m.
    template<typename It>
    static Node* closestBridge(It begin, It end, Node* hole, Node* m, long double qx)
    {
        const int64_t hx = hole->x, hy = hole->y, mx = m->x, my = m->y;
        long double tanMin = 1e300L;
        for (It it = begin; it != end; ++it) {
            Node* p = *it;
            // Triangle (hole point, ray hit, m); the ray hit may lie between grid points, so it
            // is compared in long double.
            const long double ax = hy < my ? hx : qx, cx = hy < my ? qx : hx;
            const long double px = p->x, py = p->y;
            const bool in = (cx - px) * (hy - py) >= (ax - px) * (hy - py) - 0.0L
                && (ax - px) * (my - py) >= (mx - px) * (hy - py)
                && (mx - px) * (hy - py) >= (cx - px) * (my - py);
            if (in) {
                const long double tan = std::abs((long double)(hy - p->y)) / (long double)(hx - p->x);
                if (locallyInside(p, hole)
                    && (tan < tanMin
                        || (tan == tanMin && (p->x > m->x || (p->x == m->x && sectorContainsSector(m, p)))))) {
                    m = p;
                    tanMin = tan;
                }
            }
        }
        return m;
    }

    std::deque<Node> nodes;
    bool indexed = false;
    int64_t minX = 0, minY = 0;
    double invSize = 0.0;
    std::vector<std::array<int32_t, 3>>& out;
    const std::atomic<int>* stop;
    unsigned checks = 0;
};

} // namespace

bool CapTriangulator::triangulate(const Ring& outer, const std::vector<Ring>& holes,
                                  std::vector<std::array<int32_t, 3>>& out, const std::atomic<int>* stop)
{
    Cutter cutter(out, stop);
    size_t points = outer.size();
    for (const auto& h : holes)
        points += h.size();
    // Small rings are cheaper to walk whole.
    if (points > 80) {
        Bounds b;
        for (const auto& p : outer)
            b.add(p.x, p.y);
        if (!outer.empty())
            cutter.useIndex(b);
    }
    Node* list = cutter.ring(outer);
    if (!list || list->next == list->prev)
        return false;
    if (!holes.empty())
        list = cutter.eliminateHoles(holes, list);
    if (cutter.failed)
        return false;
    cutter.earcutLinked(list, 0);
    return !cutter.failed;
}
