#include "cutting/CutEngine.h"
#include "cutting/JoinChain.h"

#include <QObject>
#include <QtConcurrent/QtConcurrent>

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>
#include <unordered_map>

#include "FileRW/PolygonTriangulator.h"
#include "cutting/NearestEnds.h"
#include "scene/AppData.h"
#include "scene/BigAllocator.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "scene/Parallel.h"
#include "scene/ParallelSort.h"
#include "scene/RadixSort.h"

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

// In-plane coordinates of the section: X (z, y); Y (x, z); Z (x, y).
inline ClipperLib::IntPoint sectionPoint(const Pt3& p, int axis)
{
    switch (axis) {
    case CutX: return {p[2], p[1]};
    case CutY: return {p[0], p[2]};
    default: return {p[0], p[1]};
    }
}

template <typename I>
inline bool zeroCross(const Pt3& a, const Pt3& b, const Pt3& c)
{
    const I ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
    const I vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
    return uy * vz - uz * vy == 0 && uz * vx - ux * vz == 0 && ux * vy - uy * vx == 0;
}

// Sides below 2^30 um (a kilometre) have their cross products in 64 bits.
inline bool zeroArea(const Pt3& a, const Pt3& b, const Pt3& c)
{
    constexpr int64_t Small = int64_t(1) << 30;
    for (int k = 0; k < 3; ++k)
        if (b[k] - a[k] >= Small || a[k] - b[k] >= Small || c[k] - a[k] >= Small || a[k] - c[k] >= Small)
            return zeroCross<i128>(a, b, c);
    return zeroCross<int64_t>(a, b, c);
}

// Labels each face with the connected part (shell) it belongs to, parts joined through shared
// vertices. Separately modelled parts may overlap; each is capped on its own.
std::vector<int32_t> faceShells(size_t vertexCount, const std::vector<std::array<int32_t, 3>>& faces)
{
    std::vector<int32_t> parent;
    assignHuge(parent, vertexCount, 0);
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
    for (size_t i = 0; i < faces.size(); ++i) {
        // On a stop the labels are left half done: the split that follows stops at once.
        if ((i & 65535) == 0 && stopRequested())
            break;
        const auto& f = faces[i];
        if (!valid(f))
            continue;
        const int32_t a = find(f[0]);
        for (int k = 1; k < 3; ++k) {
            const int32_t b = find(f[size_t(k)]);
            if (a != b)
                parent[size_t(b)] = a;
        }
    }
    std::vector<int32_t> shells;
    assignHuge(shells, faces.size(), 0);
    for (size_t i = 0; i < faces.size(); ++i)
        if (valid(faces[i]))
            shells[i] = find(faces[i][0]);
    return shells;
}

// Where edge a-b crosses the plane, rounded to the micrometre, in products of type I.
template <typename I>
Pt3 edgePoint(const Pt3& a, const Pt3& b, int64_t plane, int axis)
{
    Pt3 r;
    const I num = plane - a[axis];
    const I den = b[axis] - a[axis];
    for (int k = 0; k < 3; ++k) {
        if (k == axis) {
            r[k] = plane;
            continue;
        }
        const I n = I(b[k] - a[k]) * num;
        // Round half away from zero; den may be negative.
        I q = n / den;
        const I rem = n % den;
        if (rem != 0) {
            const bool neg = (n < 0) != (den < 0);
            const I twice = rem < 0 ? -2 * rem : 2 * rem;
            const I adenom = den < 0 ? -den : den;
            if (twice >= adenom)
                q += neg ? -1 : 1;
        }
        r[k] = a[k] + int64_t(q);
    }
    return r;
}

// Where edge a-b crosses the plane. The ends are put in one fixed order first, so both faces
// of an edge get the same point to the micrometre.
Pt3 planeEdgeIntersection(Pt3 a, Pt3 b, int64_t plane, int axis)
{
    if (b < a)
        std::swap(a, b);
    // An edge shorter than 2^31 um each way has its products in 64 bits: the same point,
    // without 128-bit division.
    constexpr int64_t Small = int64_t(1) << 31;
    for (int k = 0; k < 3; ++k)
        if (b[k] - a[k] >= Small || a[k] - b[k] >= Small)
            return edgePoint<i128>(a, b, plane, axis);
    return edgePoint<int64_t>(a, b, plane, axis);
}

// Splits every face by the plane into the two lists. Faces in the plane go to the half they
// close: facing +axis to the lower half, facing -axis to the upper half. Points, the
// vertices and where edges cross the plane, go into wd.points, equal points as one, numbered
// in the order they are first met: the vertices in order, then the crossings face by face.
// Every step runs on all cores in ranges of faces joined in order, so the halves come out as
// one pass over the faces would make them.
size_t g_splitGrain = size_t(1) << 15;
// Edges leaving a point past which the rim's linking sorts them by direction instead of
// scanning them at each arrival; tests set it to compare the two.
size_t g_fanEdges = 16;

// Where a face's corners lie: above (+1), on (0) or below (-1) the plane, and for a face the
// plane crosses, the corner its crossed edges meet at (the one on the plane, else the one alone
// on its side).
struct FaceSplit
{
    int s[3];
    int pos = 0, neg = 0;
    int apex = 0;
    int crossed() const { return pos == 0 || neg == 0 ? 0 : pos + neg == 2 ? 1 : 2; }
};

inline FaceSplit classify(const Pt3 (&p)[3], int64_t plane, int axis)
{
    FaceSplit c;
    for (int k = 0; k < 3; ++k) {
        c.s[k] = (p[k][axis] > plane) - (p[k][axis] < plane);
        c.pos += c.s[k] > 0;
        c.neg += c.s[k] < 0;
    }
    for (int k = 0; k < 3; ++k)
        if (c.crossed() == 1 ? c.s[k] == 0 : (c.pos == 1 && c.s[k] > 0) || (c.neg == 1 && c.s[k] < 0))
            c.apex = k;
    return c;
}

// The crossings face f asks for, into out (one or two); the same edge is asked for by both
// its faces and gives the same point.
inline int faceCrossings(const Pt3 (&p)[3], const FaceSplit& c, int64_t plane, int axis, Pt3* out)
{
    if (c.crossed() == 1) {
        const int z = c.apex;
        out[0] = planeEdgeIntersection(p[(z + 1) % 3], p[(z + 2) % 3], plane, axis);
        return 1;
    }
    if (c.crossed() == 2) {
        const int l = c.apex;
        out[0] = planeEdgeIntersection(p[l], p[(l + 1) % 3], plane, axis);
        out[1] = planeEdgeIntersection(p[l], p[(l + 2) % 3], plane, axis);
        return 2;
    }
    return 0;
}

// The triangles of face f: tri(upper, a, b, c) with ids and points of the corners; q the
// corners' ids, x the ids of its crossings, xp their points.
template <typename Tri>
inline void faceTriangles(const Pt3 (&p)[3], const int32_t (&q)[3], const FaceSplit& c, const int32_t* x,
                          const Pt3* xp, int axis, const Tri& tri)
{
    if (c.neg == 0 && c.pos == 0) {
        const i128 n = i128(p[1][(axis + 1) % 3] - p[0][(axis + 1) % 3]) * (p[2][(axis + 2) % 3] - p[0][(axis + 2) % 3])
            - i128(p[1][(axis + 2) % 3] - p[0][(axis + 2) % 3]) * (p[2][(axis + 1) % 3] - p[0][(axis + 1) % 3]);
        if (n != 0)
            tri(n < 0, q[0], q[1], q[2], p[0], p[1], p[2]);
        return;
    }
    if (c.neg == 0 || c.pos == 0) {
        tri(c.neg == 0, q[0], q[1], q[2], p[0], p[1], p[2]);
        return;
    }
    if (c.pos + c.neg == 2) {
        // One corner on the plane: two triangles, one each side.
        const int z = c.apex, a = (z + 1) % 3, b = (z + 2) % 3;
        const bool aUp = c.s[a] > 0;
        tri(aUp, q[z], q[a], x[0], p[z], p[a], xp[0]);
        tri(!aUp, q[z], x[0], q[b], p[z], xp[0], p[b]);
        return;
    }
    // One corner alone on its side.
    const int l = c.apex, m = (l + 1) % 3, n = (l + 2) % 3;
    const bool loneUp = c.s[l] > 0;
    tri(loneUp, q[l], x[0], x[1], p[l], xp[0], xp[1]);
    tri(!loneUp, x[0], q[m], q[n], xp[0], p[m], p[n]);
    tri(!loneUp, x[0], q[n], x[1], xp[0], p[n], xp[1]);
}

bool splitByPlane(const std::vector<Pt3>& v, const std::vector<std::array<int32_t, 3>>& faces,
                  const std::vector<int32_t>& shells, int64_t plane, int axis, CutWorkData& wd)
{
    // The workers do not see this thread's preview stop: it is handed to them.
    const std::atomic<bool>* previewStop = t_previewStop;
    std::atomic<bool> stopped{false};
    auto stopNow = [&] {
        if (g_jobState.load(std::memory_order_relaxed) == 1 || (previewStop && previewStop->load(std::memory_order_relaxed)))
            stopped = true;
        return stopped.load(std::memory_order_relaxed);
    };
    const size_t nv = v.size(), nf = faces.size();
    const size_t parts = partCount(nf, g_splitGrain);
    auto partBegin = [&](size_t part) { return nf * part / parts; };
    auto valid = [&](const std::array<int32_t, 3>& f) {
        return size_t(uint32_t(f[0])) < nv && size_t(uint32_t(f[1])) < nv && size_t(uint32_t(f[2])) < nv;
    };
    // fn(f, corners) for each face of the range whose corners are all there.
    auto eachValidFace = [&](size_t part, const auto& fn) {
        for (size_t f = partBegin(part); f < partBegin(part + 1); ++f) {
            if ((f & 65535) == 0 && stopNow())
                return;
            if (!valid(faces[f]))
                continue;
            const Pt3 p[3] = {v[size_t(faces[f][0])], v[size_t(faces[f][1])], v[size_t(faces[f][2])]};
            fn(f, p);
        }
    };
    // The crossings each range of faces asks for, then where they go, then the points.
    std::vector<size_t> askedFrom(parts + 1, 0);
    runParts(parts, [&](size_t part) {
        size_t n = 0;
        eachValidFace(part, [&](size_t, const Pt3 (&p)[3]) { n += size_t(classify(p, plane, axis).crossed()); });
        askedFrom[part + 1] = n;
    });
    if (stopNow())
        return false;
    for (size_t part = 0; part < parts; ++part)
        askedFrom[part + 1] += askedFrom[part];
    const size_t asked = askedFrom[parts];
    std::vector<Pt3> xp;
    assignHuge(xp, asked, {});
    runParts(parts, [&](size_t part) {
        size_t at = askedFrom[part];
        eachValidFace(part, [&](size_t, const Pt3 (&p)[3]) {
            at += size_t(faceCrossings(p, classify(p, plane, axis), plane, axis, xp.data() + at));
        });
    });
    if (stopNow())
        return false;
    // Equal points as one: the vertices and then the crossings, as one list of entries,
    // share out by their hash into buckets small enough for a table in the cache; in each
    // bucket, taken in order, an entry's first equal is the first of them in the list.
    const size_t total = nv + asked;
    if (total >= size_t(INT32_MAX))
        return false;
    auto pointOf = [&](size_t e) -> const Pt3& { return e < nv ? v[e] : xp[e - nv]; };
    auto hashOf = [](const Pt3& p) {
        uint64_t h = uint64_t(p[0]) * 0x9E3779B97F4A7C15ull + uint64_t(p[1]) * 0xC2B2AE3D27D4EB4Full
            + uint64_t(p[2]) * 0x165667B19E3779F9ull;
        h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
        h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
        return h ^ (h >> 31);
    };
    int bucketBits = 0;
    while (bucketBits < 10 && (total >> bucketBits) > 16384)
        ++bucketBits;
    if (g_splitGrain < 16)
        bucketBits = std::max(bucketBits, 3);
    const size_t buckets = size_t(1) << bucketBits;
    auto bucketOf = [&](uint64_t h) { return bucketBits == 0 ? size_t(0) : size_t(h >> (64 - bucketBits)); };
    const size_t entryParts = partCount(total, g_splitGrain);
    auto entryBegin = [&](size_t part) { return total * part / entryParts; };
    // Hashes are worked out again in each pass: cheaper than a list of them to fill and read.
    // Per range of entries, how many fall in each bucket; then each range's place in each.
    std::vector<uint32_t> counts(entryParts * buckets, 0);
    runParts(entryParts, [&](size_t part) {
        uint32_t* c = counts.data() + part * buckets;
        for (size_t e = entryBegin(part); e < entryBegin(part + 1); ++e) {
            if ((e & 65535) == 0 && stopNow())
                return;
            ++c[bucketOf(hashOf(pointOf(e)))];
        }
    });
    if (stopNow())
        return false;
    std::vector<uint32_t> bucketFrom(buckets + 1, 0);
    {
        uint32_t at = 0;
        for (size_t b = 0; b < buckets; ++b) {
            bucketFrom[b] = at;
            for (size_t part = 0; part < entryParts; ++part) {
                const uint32_t n = counts[part * buckets + b];
                counts[part * buckets + b] = at;
                at += n;
            }
        }
        bucketFrom[buckets] = at;
    }
    std::vector<uint32_t> byBucket;
    assignHuge(byBucket, total, 0);
    runParts(entryParts, [&](size_t part) {
        uint32_t* c = counts.data() + part * buckets;
        for (size_t e = entryBegin(part); e < entryBegin(part + 1); ++e)
            byBucket[c[bucketOf(hashOf(pointOf(e)))]++] = uint32_t(e);
    });
    // idOf: per entry, first the first entry with its point, then the id it gets.
    std::vector<int32_t> idOf;
    assignHuge(idOf, total, 0);
    parallelRanges(buckets, 1, [&](size_t bBegin, size_t bEnd) {
        std::vector<uint64_t> table;
        for (size_t b = bBegin; b < bEnd; ++b) {
            if (stopNow())
                return;
            const uint32_t from = bucketFrom[b], to = bucketFrom[b + 1];
            size_t size = 16;
            while (size < 2 * size_t(to - from))
                size *= 2;
            // A slot holds the hash's low half over the entry; empty is all ones.
            table.assign(size, ~uint64_t(0));
            const size_t mask = size - 1;
            for (uint32_t i = from; i < to; ++i) {
                const uint32_t e = byBucket[i];
                const uint64_t h = hashOf(pointOf(e));
                const uint64_t tag = h << 32;
                size_t slot = size_t(h >> 7) & mask;
                uint32_t first = e;
                for (; table[slot] != ~uint64_t(0); slot = (slot + 1) & mask) {
                    if ((table[slot] & ~uint64_t(0xFFFFFFFFu)) != tag)
                        continue;
                    const uint32_t other = uint32_t(table[slot]);
                    if (pointOf(other) == pointOf(e)) {
                        first = other;
                        break;
                    }
                }
                if (first == e)
                    table[slot] = tag | e;
                idOf[e] = int32_t(first);
            }
        }
    });
    if (stopNow())
        return false;
    std::vector<uint32_t>().swap(byBucket);
    // Ids in the order points are first met, numbered on from the points already there.
    const size_t base = wd.points.size();
    std::vector<size_t> newFrom(entryParts + 1, 0);
    runParts(entryParts, [&](size_t part) {
        size_t n = 0;
        for (size_t e = entryBegin(part); e < entryBegin(part + 1); ++e)
            n += size_t(idOf[e]) == e;
        newFrom[part + 1] = n;
    });
    for (size_t part = 0; part < entryParts; ++part)
        newFrom[part + 1] += newFrom[part];
    if (base + newFrom[entryParts] >= size_t(INT32_MAX))
        return false;
    reserveHuge(wd.points, base + newFrom[entryParts]);
    wd.points.resize(base + newFrom[entryParts]);
    // The ids go in turned (~id, below zero), so that a first entry, which comes before its
    // equals, is told from one that still names its first; then each equal takes its first's.
    runParts(entryParts, [&](size_t part) {
        int32_t next = int32_t(base + newFrom[part]);
        for (size_t e = entryBegin(part); e < entryBegin(part + 1); ++e)
            if (size_t(idOf[e]) == e) {
                wd.points[size_t(next)] = pointOf(e);
                idOf[e] = ~next++;
            }
    });
    runParts(entryParts, [&](size_t part) {
        for (size_t e = entryBegin(part); e < entryBegin(part + 1); ++e)
            if (idOf[e] >= 0)
                idOf[e] = idOf[size_t(idOf[e])];
    });
    auto id = [&](size_t e) { return ~idOf[e]; };
    // The records: counted per range of faces for each half, then written in place.
    auto eachFace = [&](size_t part, const auto& tri) {
        size_t at = askedFrom[part];
        eachValidFace(part, [&](size_t f, const Pt3 (&p)[3]) {
            const auto& face = faces[f];
            const FaceSplit c = classify(p, plane, axis);
            const int32_t q[3] = {id(size_t(face[0])), id(size_t(face[1])), id(size_t(face[2]))};
            const int32_t x[2] = {c.crossed() > 0 ? id(nv + at) : -1, c.crossed() > 1 ? id(nv + at + 1) : -1};
            const Pt3* xq = xp.data() + at;
            faceTriangles(p, q, c, x, xq, axis,
                          [&](bool up, int32_t a, int32_t b, int32_t d, const Pt3& pa, const Pt3& pb, const Pt3& pd) {
                              if (!zeroArea(pa, pb, pd))
                                  tri(up, a, b, d, shells[f], c);
                          });
            at += size_t(c.crossed());
        });
    };
    std::vector<size_t> upFrom(parts + 1, 0), downFrom(parts + 1, 0);
    runParts(parts, [&](size_t part) {
        size_t up = 0, down = 0;
        eachFace(part, [&](bool isUp, int32_t, int32_t, int32_t, int32_t, const FaceSplit&) { (isUp ? up : down) += 3; });
        upFrom[part + 1] = up;
        downFrom[part + 1] = down;
    });
    if (stopNow())
        return false;
    for (size_t part = 0; part < parts; ++part) {
        upFrom[part + 1] += upFrom[part];
        downFrom[part + 1] += downFrom[part];
    }
    reserveHuge(wd.up, upFrom[parts]);
    wd.up.resize(upFrom[parts]);
    reserveHuge(wd.down, downFrom[parts]);
    wd.down.resize(downFrom[parts]);
    std::vector<std::vector<std::array<int32_t, 3>>> planeEdges(parts);
    runParts(parts, [&](size_t part) {
        CutVertex* up = wd.up.data() + upFrom[part];
        CutVertex* down = wd.down.data() + downFrom[part];
        eachFace(part, [&](bool isUp, int32_t a, int32_t b, int32_t d, int32_t shell, const FaceSplit& c) {
            CutVertex*& out = isUp ? up : down;
            *out++ = {a, shell};
            *out++ = {b, shell};
            *out++ = {d, shell};
            // Two corners or more on the plane: a face the plane does not cross, kept whole with
            // its corners in their own order.
            if (c.pos + c.neg <= 1) {
                const int32_t q[3] = {a, b, d};
                for (int k = 0; k < 3; ++k)
                    if (c.s[k] == 0 && c.s[(k + 1) % 3] == 0)
                        planeEdges[part].push_back({q[k], q[(k + 1) % 3], shell});
            }
        });
    });
    for (const auto& list : planeEdges)
        wd.planeEdges.insert(wd.planeEdges.end(), list.begin(), list.end());
    return !stopNow();
}

// The edges of a half that lie in the plane and have no partner running the other way:
// the rim the cap has to close. Points are welded by their coordinates.
// Points of different shells are kept apart even where they meet, so that every loop
// belongs to one shell.
struct PlaneRim
{
    HugeList<int32_t> shells; // per point
    HugeList<int32_t> ids;    // per point: the half's point it stands for
    HugeList<std::pair<int32_t, int32_t>> edges; // directed as in the half's faces
};

// Two 32-bit numbers as one key that orders them as a pair.
inline uint64_t pairKey(int32_t a, int32_t b)
{
    return uint64_t(uint32_t(a) ^ 0x80000000u) << 32 | (uint32_t(b) ^ 0x80000000u);
}

// Calls f(edge, net) once for each run of edges alike in all but their last field, which is
// summed into net: edges sorted as forEachNetEdge sorts them.
template <typename List, typename F>
void eachNetRun(const List& edges, const F& f)
{
    using Edge = typename List::value_type;
    constexpr size_t Way = std::tuple_size<Edge>::value - 1;
    for (size_t i = 0; i < edges.size();) {
        int32_t net = 0;
        size_t j = i;
        for (; j < edges.size() && std::equal(edges[j].begin(), edges[j].begin() + Way, edges[i].begin()); ++j)
            net += edges[j][Way];
        f(edges[i], net);
        i = j;
    }
}

// Sorts edges (lower point, higher point, +1 or -1), or (lower, higher, shell, +1 or -1), and
// calls f(edge, net) once for each pair of points (and shell), with the sum of its edges.
template <typename List, typename F>
void forEachNetEdge(List& edges, const F& f)
{
    using Edge = typename List::value_type;
    if constexpr (std::tuple_size<Edge>::value == 4)
        radixSortRange(edges.data(), edges.size(), [](const Edge& e) { return uint64_t(uint32_t(e[2])); });
    radixSortRange(edges.data(), edges.size(), [](const Edge& e) { return pairKey(e[0], e[1]); });
    eachNetRun(edges, f);
}

// Whether the edges, as forEachNetEdge takes them, cancel each against one the other way.
template <typename List>
bool netEdgesCancel(List& edges)
{
    bool cancel = true;
    forEachNetEdge(edges, [&](const typename List::value_type&, int32_t net) { cancel = cancel && net == 0; });
    return cancel;
}

// Whether the edges in the plane of faces kept whole cancel, each against one running the other
// way between the same points in the same shell. The pieces of a face the plane crosses meet
// along one edge, once each way, one piece on either side; so when these cancel too, what is
// left over on one half is what is left over on the other turned round: the halves' rims
// are each other's turned round. On a closed mesh they always cancel.
bool planeEdgesCancel(const std::vector<std::array<int32_t, 3>>& edges)
{
    std::vector<std::array<int32_t, 4>> list(edges.size());
    for (size_t i = 0; i < edges.size(); ++i) {
        const auto& e = edges[i];
        list[i] = {std::min(e[0], e[1]), std::max(e[0], e[1]), e[2], e[0] < e[1] ? 1 : -1};
    }
    return netEdgesCancel(list);
}

bool planeRim(const std::vector<CutVertex>& recs, const std::vector<Pt3>& pts, int64_t plane, int axis, PlaneRim& rim)
{
    // The triangles with an edge in the plane first, so that the table of rim points is made
    // once at its size.
    const size_t triangles = recs.size() / 3;
    auto touches = [&](size_t t) {
        int count = 0;
        for (size_t k = 0; k < 3; ++k)
            count += pts[size_t(recs[3 * t + k].point)][axis] == plane;
        return count >= 2;
    };
    // Looked for on every core, in ranges kept in order.
    std::vector<std::vector<uint32_t>> found(partCount(triangles, 1 << 16));
    std::atomic<bool> stopped{false};
    parallelParts(triangles, 1 << 16, [&](size_t part, size_t b, size_t e) {
        for (size_t t = b; t < e; ++t) {
            if ((t & 65535) == 0 && stopRequested()) {
                stopped = true;
                return;
            }
            if (touches(t))
                found[part].push_back(uint32_t(3 * t));
        }
    });
    if (stopped.load())
        return false;
    HugeList<uint32_t> inPlane;
    size_t inPlaneCount = 0;
    for (const auto& f : found)
        inPlaneCount += f.size();
    reserveHuge(inPlane, inPlaneCount);
    for (auto& f : found) {
        inPlane.insert(inPlane.end(), f.begin(), f.end());
        std::vector<uint32_t>().swap(f);
    }
    // Rim points by the half's point and the shell, numbered as they come: a table by point,
    // read much as the records run, instead of a hash of both; a point met again with another
    // shell (shells with a point in common) is looked up by both.
    HugeList<int32_t> idAt(pts.size(), -1);
    std::unordered_map<uint64_t, int32_t> otherShell;
    reserveHuge(rim.ids, 2 * inPlane.size());
    reserveHuge(rim.shells, 2 * inPlane.size());
    auto rimId = [&](int32_t point, int32_t shell) {
        const int32_t id = int32_t(rim.ids.size());
        int32_t& first = idAt[size_t(point)];
        if (first < 0) {
            first = id;
        } else if (rim.shells[size_t(first)] == shell) {
            return first;
        } else {
            const int32_t had = otherShell.emplace(uint64_t(uint32_t(point)) << 32 | uint32_t(shell), id).first->second;
            if (had != id)
                return had;
        }
        rim.ids.push_back(point);
        rim.shells.push_back(shell);
        return id;
    };
    // Each edge in the plane as (lower id, higher id, +1 when it runs from lower to higher).
    HugeList<std::array<int32_t, 3>> halves;
    halves.reserve(inPlane.size() * 3 / 2);
    for (size_t i = 0; i < inPlane.size(); ++i) {
        if ((i & 16383) == 0 && stopRequested())
            return false;
        const size_t t = inPlane[i];
        bool on[3];
        for (int k = 0; k < 3; ++k)
            on[k] = pts[size_t(recs[t + size_t(k)].point)][axis] == plane;
        const int32_t shell = recs[t].shell;
        for (int k = 0; k < 3; ++k) {
            if (!on[k] || !on[(k + 1) % 3])
                continue;
            const int32_t a = rimId(recs[t + size_t(k)].point, shell), b = rimId(recs[t + size_t((k + 1) % 3)].point, shell);
            if (a != b)
                halves.push_back({std::min(a, b), std::max(a, b), a < b ? 1 : -1});
        }
    }
    reserveHuge(rim.edges, halves.size());
    // Edges used both ways cancel (alike but for the way they run, their order does not
    // matter); what is left over is the rim, in the order of its points.
    const size_t ids = rim.ids.size();
    sortByIdPair(halves, ids, [](const std::array<int32_t, 3>& e) { return e[0]; }, [](const std::array<int32_t, 3>& e) { return e[1]; });
    eachNetRun(halves, [&](const std::array<int32_t, 3>& e, int32_t net) {
        for (int32_t c = 0; c < std::abs(net); ++c)
            rim.edges.push_back(net > 0 ? std::make_pair(e[0], e[1]) : std::make_pair(e[1], e[0]));
    });
    using Edge = std::pair<int32_t, int32_t>;
    sortByIdPair(rim.edges, ids, [](const Edge& e) { return e.first; }, [](const Edge& e) { return e.second; });
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
    using Work = JoinChain<typename Chain::value_type>;
    const size_t n = open.size();
    // Per chain, kept up to date as chains grow: the length without the closing edge, twice
    // the signed area without it, its end points and its size (read through the chain and the
    // point list, the ends cost two cache misses each, several times a join). On huge pages:
    // hundreds of thousands of chains are usual here (sheets that each leave one), and
    // touching fresh memory page by page costs more than the joining.
    // The end points are what the nearest-ends pass takes too.
    HugeList<int64_t> length(n, 0);
    HugeList<i128> area(n, 0);
    HugeList<uint32_t> count(n, 0);
    std::vector<IntPoint> headAt, tailAt;
    assignHuge(headAt, n, IntPoint());
    assignHuge(tailAt, n, IntPoint());
    parallelRanges(n, 4096, [&](size_t b, size_t e) {
        for (size_t c = b; c < e; ++c) {
            if (open[c].empty())
                continue;
            headAt[c] = at(open[c].front());
            tailAt[c] = at(open[c].back());
            count[c] = uint32_t(open[c].size());
            for (size_t t = 1; t < open[c].size(); ++t) {
                length[c] += edgeLength(at(open[c][t - 1]), at(open[c][t]));
                area[c] += cross(at(open[c][t - 1]), at(open[c][t]));
            }
        }
    });
    HugeList<Work> work;
    work.reserve(n);
    for (size_t c = 0; c < n; ++c)
        work.emplace_back(std::vector<typename Chain::value_type>(std::move(open[c])));
    open.clear();
    auto perimeter = [&](size_t c) { return length[c] + edgeLength(tailAt[c], headAt[c]); };
    // Only a real loop closes on itself: a two-point or flat chain would close as a sliver and
    // leave its neighbours apart. Flat allows for the micrometre rounding: a mean width
    // (twice the area over the perimeter) below 1 um.
    auto closable = [&](size_t c) {
        if (count[c] < 3)
            return false;
        const i128 a = area[c] + cross(tailAt[c], headAt[c]);
        return a != 0 && (a < 0 ? -a : a) >= perimeter(c);
    };
    auto close = [&](size_t c) {
        if (count[c] > 1 && endDist2(tailAt[c], headAt[c]) == 0.0)
            work[c].popBack();
        count[c] = 0;
        closed.push_back(work[c].template take<Chain>());
    };
    // Appends chain from (reversed: from its last point back) to chain to; a joint where both
    // ends are one point keeps that point once.
    auto append = [&](size_t to, size_t from, bool reversed) {
        const IntPoint tail = tailAt[to], joint = reversed ? tailAt[from] : headAt[from];
        const bool skip = endDist2(tail, joint) == 0.0;
        length[to] += edgeLength(tail, joint) + length[from];
        area[to] += cross(tail, joint) + (reversed ? -area[from] : area[from]);
        work[to].append(work[from], reversed, skip);
        // A chain of the joint alone leaves the tail where it was, which is the same point.
        tailAt[to] = reversed ? headAt[from] : tailAt[from];
        count[to] += count[from] - (skip ? 1 : 0);
        count[from] = 0;
    };
    // Ends within 20 um: each chain in order takes the first chain, from where it last took
    // one, whose first point is that near to its last point. First points sit in 20 um cells;
    // the chains starting at each point are a run in order, where a chain gone is skipped.
    using Key = std::pair<int64_t, int64_t>;
    auto cellOf = [](const IntPoint& p) { return std::make_pair(floorDiv(p.X, 20), floorDiv(p.Y, 20)); };
    struct Start
    {
        Key cell;
        IntPoint p;
        uint32_t chain;
        bool operator<(const Start& o) const
        {
            return cell != o.cell ? cell < o.cell : p.X != o.p.X ? p.X < o.p.X : p.Y != o.p.Y ? p.Y < o.p.Y : chain < o.chain;
        }
    };
    HugeList<Start> starts;
    starts.reserve(n);
    for (size_t c = 0; c < n; ++c)
        if (count[c] > 0) {
            const IntPoint p = headAt[c];
            starts.push_back({cellOf(p), p, uint32_t(c)});
        }
    parallelSortRange(starts.data(), std::ptrdiff_t(starts.size()), std::less<Start>());
    struct Place
    {
        IntPoint p;
        uint32_t begin, end; // its chains in starts
    };
    HugeList<Place> places;
    places.reserve(starts.size());
    std::unordered_map<Key, std::pair<uint32_t, uint32_t>, PairHash> cells; // places per cell
    HugeList<uint32_t> startOf(n, 0), skip(starts.size() + 1, 0);
    for (uint32_t k = 0; k < starts.size(); ++k) {
        const Start& st = starts[k];
        if (places.empty() || st.p != places.back().p) {
            if (places.empty() || st.cell != starts[places.back().begin].cell)
                cells[st.cell] = {uint32_t(places.size()), uint32_t(places.size())};
            places.push_back({st.p, k, k});
            ++cells[st.cell].second;
        }
        places.back().end = k + 1;
        startOf[st.chain] = k;
        skip[k] = k;
    }
    skip.back() = uint32_t(starts.size());
    auto firstLive = [&](uint32_t k) {
        while (skip[k] != k) {
            skip[k] = skip[skip[k]];
            k = skip[k];
        }
        return k;
    };
    auto gone = [&](size_t c) { skip[startOf[c]] = startOf[c] + 1; };
    // The first chain from `from` on starting at place q; SIZE_MAX for none.
    auto startingAt = [&](const Place& q, size_t from) {
        const auto first = std::lower_bound(starts.begin() + q.begin, starts.begin() + q.end, from,
                                            [](const Start& st, size_t c) { return st.chain < c; });
        const uint32_t k = firstLive(uint32_t(first - starts.begin()));
        return k < q.end ? size_t(starts[k].chain) : SIZE_MAX;
    };
    // f(q) for each place q that near to point p, cell by cell, until f says to stop; whether
    // it did.
    auto eachNear = [&](const IntPoint& p, const auto& f) {
        const auto cell = cellOf(p);
        for (int64_t dx = -1; dx <= 1; ++dx)
            for (int64_t dy = -1; dy <= 1; ++dy) {
                const auto it = cells.find({cell.first + dx, cell.second + dy});
                if (it == cells.end())
                    continue;
                for (uint32_t q = it->second.first; q < it->second.second; ++q)
                    if (endDist2(p, places[q].p) < 400.0 && f(q))
                        return true;
            }
        return false;
    };
    // Most chains have none near their last point: they are told on every core first. A chain
    // only takes another where one is near, so its last point stays as it is until then.
    std::vector<char> near(n, 0);
    parallelRanges(n, 4096, [&](size_t b, size_t e) {
        for (size_t c = b; c < e; ++c)
            near[c] = count[c] > 0 && eachNear(tailAt[c], [](uint32_t) { return true; });
    });
    for (size_t i = 0; i < n; ++i) {
        if ((i & 1023) == 0 && stopRequested())
            return false;
        size_t from = 0;
        while (count[i] > 0 && near[i]) {
            size_t j = SIZE_MAX;
            eachNear(tailAt[i], [&](uint32_t q) {
                j = std::min(j, startingAt(places[q], from));
                return false;
            });
            if (j == SIZE_MAX)
                break;
            from = j + 1;
            if (j == i) {
                if (closable(i)) {
                    gone(i);
                    close(i);
                    break;
                }
                continue;
            }
            gone(j);
            append(i, j, false);
        }
    }
    // Nearest ends up to 10 mm.
    std::vector<bool> present(n, false), canClose(n, false);
    for (size_t c = 0; c < n; ++c) {
        if (count[c] == 0)
            continue;
        present[c] = true;
        canClose[c] = closable(c);
    }
    NearestEnds nearest(headAt, tailAt, present, canClose, 1e8, [] { return stopRequested(); });
    if (nearest.stopped())
        return false;
    NearestEnds::Join join;
    for (size_t joins = 0; nearest.next(join); ++joins) {
        if ((joins & 255) == 0 && stopRequested())
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
    for (Work& w : work)
        if (!w.empty())
            open.push_back(w.template take<Chain>());
    return true;
}

// Links directed edges into closed loops and open chains (an open chain keeps its last point).
// False on a stop.
// Where several edges leave one point, the one turning furthest left is taken, so touching
// loops come out as separate simple loops; turning straight back counts as the least left,
// since it runs along a loop that only shares a stretch with this one.
bool linkRim(const std::vector<std::pair<int32_t, int32_t>>& edges, const std::vector<std::array<int64_t, 2>>& xy,
             std::vector<std::vector<int32_t>>& loops, std::vector<std::vector<int32_t>>& chains)
{
    // Edges leaving each point, in edge order, by their places outStart[p] .. outStart[p + 1]:
    // each place holds the point its edge goes to, so a walk along a loop reads the places of
    // the points it passes, which lie near each other, and not the edges, which lie in the
    // order of their points' coordinates. Edge and point numbers fit in 32 bits (the points are
    // int32_t ids), which halves what is touched.
    std::vector<uint32_t> outStart, placeOf, fill;
    std::vector<int32_t> to;
    assignHuge(outStart, xy.size() + 1, 0);
    assignHuge(placeOf, edges.size(), 0);
    assignHuge(to, edges.size(), 0);
    std::vector<int32_t> excess; // edges leaving minus edges arriving
    assignHuge(excess, xy.size(), 0);
    for (const auto& e : edges) {
        ++outStart[size_t(e.first) + 1];
        ++excess[size_t(e.first)];
        --excess[size_t(e.second)];
    }
    for (size_t p = 0; p < xy.size(); ++p)
        outStart[p + 1] += outStart[p];
    reserveHuge(fill, xy.size());
    fill.assign(outStart.begin(), outStart.end() - 1);
    for (size_t i = 0; i < edges.size(); ++i) {
        const uint32_t k = fill[size_t(edges[i].first)]++;
        placeOf[i] = k;
        to[k] = edges[i].second;
    }
    std::vector<uint32_t>().swap(fill);
    // Open chains are followed from where they begin, so each comes out whole.
    std::vector<uint32_t> starts;
    size_t opening = 0;
    for (const auto& e : edges)
        opening += excess[size_t(e.first)] > 0;
    reserveHuge(starts, opening + edges.size());
    for (size_t i = 0; i < edges.size(); ++i)
        if (excess[size_t(edges[i].first)] > 0)
            starts.push_back(uint32_t(i));
    for (size_t i = 0; i < edges.size(); ++i)
        starts.push_back(uint32_t(i));
    std::vector<int32_t>().swap(excess);
    std::vector<bool> used(edges.size(), false); // by place
    // Where more than g_fanEdges edges leave a point, they are sorted once by their direction,
    // turning clockwise; the one turning furthest left after arriving along d is the first
    // unused one clockwise from straight back, straight back itself last. Equal directions go
    // in edge order, as the scan takes them. NoEdge where that cannot be said (an edge of no
    // length), for the scan to decide; Unused when every edge there is used.
    constexpr uint32_t NoEdge = UINT32_MAX, Unused = UINT32_MAX - 1;
    using Dir = std::array<int64_t, 2>;
    auto lowerHalf = [](const Dir& v) { return v[1] < 0 || (v[1] == 0 && v[0] < 0); };
    auto turnsBefore = [&](const Dir& u, const Dir& v) { // u's angle from +x below v's
        const bool hu = lowerHalf(u), hv = lowerHalf(v);
        if (hu != hv)
            return hv;
        return i128(u[0]) * v[1] - i128(u[1]) * v[0] > 0;
    };
    struct Fan
    {
        std::vector<uint32_t> order; // places, clockwise
        std::vector<uint32_t> next;  // per place in order, a later one no nearer the next unused edge
        bool exact = true;
    };
    std::unordered_map<int32_t, Fan> fans;
    auto furthestLeft = [&](int32_t point, const Dir& back) -> uint32_t {
        const auto& a = xy[size_t(point)];
        auto dirOf = [&](uint32_t place) {
            const auto& b = xy[size_t(to[place])];
            return Dir{b[0] - a[0], b[1] - a[1]};
        };
        auto made = fans.try_emplace(point);
        Fan& fan = made.first->second;
        if (made.second) {
            // A point's places are in edge order.
            fan.order.resize(outStart[size_t(point) + 1] - outStart[size_t(point)]);
            for (uint32_t i = 0; i < fan.order.size(); ++i)
                fan.order[i] = outStart[size_t(point)] + i;
            for (uint32_t place : fan.order)
                fan.exact = fan.exact && dirOf(place) != Dir{0, 0};
            if (fan.exact)
                std::sort(fan.order.begin(), fan.order.end(), [&](uint32_t a, uint32_t b) {
                    const Dir da = dirOf(a), db = dirOf(b);
                    return turnsBefore(db, da) || (!turnsBefore(da, db) && a < b);
                });
            fan.next.resize(fan.order.size());
            for (uint32_t i = 0; i < fan.next.size(); ++i)
                fan.next[i] = i;
        }
        if (!fan.exact || back == Dir{0, 0})
            return NoEdge;
        const uint32_t n = uint32_t(fan.order.size());
        auto firstUnused = [&](uint32_t j) {
            uint32_t r = j;
            while (r < n && (fan.next[r] != r || used[fan.order[r]])) {
                if (fan.next[r] == r)
                    fan.next[r] = r + 1;
                r = fan.next[r];
            }
            while (j < r) {
                const uint32_t later = fan.next[j];
                fan.next[j] = r;
                j = later;
            }
            return r;
        };
        const uint32_t start = uint32_t(std::partition_point(fan.order.begin(), fan.order.end(), [&](uint32_t place) {
                                                                 return !turnsBefore(dirOf(place), back);
                                                             })
                                        - fan.order.begin());
        uint32_t k = firstUnused(start);
        if (k == n)
            k = firstUnused(0);
        return k < n ? fan.order[k] : Unused;
    };
    // Each loop is followed into one list kept for them all, then copied at its size: hundreds
    // of thousands of short loops would otherwise each grow theirs a few times.
    std::vector<int32_t> loop;
    for (size_t k = 0; k < starts.size(); ++k) {
        if ((k & 65535) == 0 && stopRequested())
            return false;
        size_t e = placeOf[starts[k]];
        if (used[e])
            continue;
        loop.clear();
        const int32_t first = edges[starts[k]].first;
        int32_t from = first;
        bool closed = false;
        while (true) {
            used[e] = true;
            loop.push_back(from);
            const int32_t at = to[e];
            if (at == first) {
                closed = true;
                break;
            }
            const size_t begin = outStart[size_t(at)], end = outStart[size_t(at) + 1];
            // Mostly one edge leaves a point: it needs no angle.
            if (end - begin == 1 && !used[begin]) {
                from = at;
                e = begin;
                continue;
            }
            // An open chain's end: nothing to turn to, and no need to look up where it lies.
            if (end == begin) {
                loop.push_back(at);
                break;
            }
            const int64_t dx = xy[size_t(at)][0] - xy[size_t(from)][0];
            const int64_t dy = xy[size_t(at)][1] - xy[size_t(from)][1];
            if (end - begin > g_fanEdges) {
                // Many loops meet here: a search in its edges in turning order, where a scan
                // at each arrival would cost the square of their number.
                const uint32_t taken = furthestLeft(at, {-dx, -dy});
                if (taken == Unused) {
                    loop.push_back(at);
                    break;
                }
                if (taken != NoEdge) {
                    from = at;
                    e = taken;
                    continue;
                }
            }
            size_t best = SIZE_MAX;
            double bestAngle = -10.0;
            for (size_t place = begin; place < end; ++place) {
                if (used[place])
                    continue;
                const int64_t ex = xy[size_t(to[place])][0] - xy[size_t(at)][0];
                const int64_t ey = xy[size_t(to[place])][1] - xy[size_t(at)][1];
                const i128 cross = i128(dx) * ey - i128(dy) * ex, dot = i128(dx) * ex + i128(dy) * ey;
                const double angle = cross == 0 && dot < 0 ? -M_PI : std::atan2(double(cross), double(dot));
                if (angle > bestAngle) {
                    bestAngle = angle;
                    best = place;
                }
            }
            if (best == SIZE_MAX) {
                loop.push_back(at);
                break;
            }
            from = at;
            e = best;
        }
        (closed ? loops : chains).emplace_back(loop.begin(), loop.end());
    }
    return true;
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

// Whether the cap triangles from `from` on run along the set's loops exactly: every loop edge
// is a cap edge the other way round (a rim edge of the half), and the cap has no other rim.
// place gives each point the first point at its place, as the fill takes equal points as one.
bool capCloses(const std::vector<size_t>& set, const std::vector<std::vector<int32_t>>& loops,
               const std::vector<PolygonTriangulator::Triangle>& tris, size_t from, const std::vector<int32_t>& place)
{
    // Each edge once by its ends' places, the lower first, counted +1 along and -1 against.
    std::vector<std::array<int32_t, 3>> edges;
    auto count = [&](int32_t a, int32_t b, int32_t n) {
        a = place[size_t(a)];
        b = place[size_t(b)];
        if (a != b)
            edges.push_back({std::min(a, b), std::max(a, b), a < b ? n : -n});
    };
    for (size_t i : set)
        for (size_t k = 0; k < loops[i].size(); ++k)
            count(loops[i][k], loops[i][(k + 1) % loops[i].size()], -1);
    for (size_t t = from; t < tris.size(); ++t)
        for (size_t k = 0; k < 3; ++k)
            count(tris[t][k], tris[t][(k + 1) % 3], 1);
    return netEdgesCancel(edges);
}

// The cap of one half from its rim, into caps: it faces +axis for the lower half, -axis for the
// upper. Where loops cross (open chains joined through one another), the cap gets points of its own
// at the crossings: in extra, numbered on from the end of pts.
bool capHalf(const PlaneRim& rim, std::vector<CutVertex>& caps, std::vector<Pt3>& extra, const std::vector<Pt3>& pts,
             int64_t plane, int axis, bool lower)
{
    if (rim.edges.empty())
        return true;
    // One 2D frame for both halves, whose cross product is +axis.
    const int pa = (axis + 1) % 3, qa = (axis + 2) % 3;
    // With room for the points the fill adds where loops cross: a list grown by one point
    // would be copied whole, onto fresh memory.
    std::vector<std::array<int64_t, 2>> xy;
    const size_t room = rim.ids.size() + rim.ids.size() / 4 + 4096;
    reserveHuge(xy, room);
    assignHuge(xy, rim.ids.size(), {});
    for (size_t i = 0; i < rim.ids.size(); ++i)
        xy[i] = {pts[size_t(rim.ids[i])][pa], pts[size_t(rim.ids[i])][qa]};
    // place: the first point at each point's place; rank: the places in coordinate order.
    // Both sorts are by keys held by value, digit by digit: a comparison that looked the
    // points up would miss the cache at every step.
    std::vector<int32_t> place;
    reserveHuge(place, room);
    assignHuge(place, xy.size(), 0);
    HugeList<int32_t> rank(xy.size());
    {
        // By place, as one number, and in id order at each place: the sort keeps the order
        // equal keys come in.
        struct Key
        {
            uint64_t place;
            int32_t id;
        };
        HugeList<Key> order(xy.size());
        placeKeys(xy.size(), [&](size_t i) -> const std::array<int64_t, 2>& { return xy[i]; },
                  [&](size_t i, uint64_t key) { order[i] = {key, int32_t(i)}; });
        radixSortRange(order.data(), order.size(), [](const Key& k) { return k.place; });
        // A sort cannot be stopped: a stop is looked for between them.
        if (stopRequested())
            return false;
        int32_t r = -1;
        for (size_t i = 0; i < order.size(); ++i) {
            const bool same = i > 0 && order[i].place == order[i - 1].place;
            place[size_t(order[i].id)] = same ? place[size_t(order[i - 1].id)] : order[i].id;
            rank[size_t(order[i].id)] = same ? r : ++r;
        }
    }
    // The loops are made alike for both halves: the lower half's rim turned round, the upper
    // half's as it runs, which for a section without faces in the plane are the same edges;
    // taken in the order of their points, the linking and the joining then make the same loops,
    // and the two caps match even where the joining has to guess. The upper cap is turned
    // round at the end, so that each cap runs its half's rim the other way.
    // The key compares as the two ranks did, so equal keys end up as they did.
    struct RankedEdge
    {
        uint64_t key;
        std::pair<int32_t, int32_t> edge;
    };
    HugeList<RankedEdge> ranked;
    ranked.reserve(rim.edges.size());
    for (const auto& e : rim.edges) {
        const auto edge = lower ? std::make_pair(e.second, e.first) : e;
        ranked.push_back({uint64_t(uint32_t(rank[size_t(edge.first)])) << 32 | uint32_t(rank[size_t(edge.second)]), edge});
    }
    radixSortRange(ranked.data(), ranked.size(), [](const RankedEdge& e) { return e.key; });
    if (stopRequested())
        return false;
    std::vector<std::pair<int32_t, int32_t>> capEdges;
    assignHuge(capEdges, ranked.size(), {});
    for (size_t i = 0; i < ranked.size(); ++i)
        capEdges[i] = ranked[i].edge;
    HugeList<RankedEdge>().swap(ranked);
    std::vector<std::vector<int32_t>> loops, chains;
    if (!linkRim(capEdges, xy, loops, chains))
        return false;
    const auto pointOf = [&](int32_t id) { return ClipperLib::IntPoint(xy[size_t(id)][0], xy[size_t(id)][1]); };
    // Chains still open (a stray sheet, a face missing over more than the joining reach) take no
    // part: the half stays open there, as the model was.
    if (!chains.empty() && !joinChains(chains, loops, pointOf))
        return false;
    if (loops.empty())
        return true;
    // The loops of a shell are filled together, by the even-odd rule. A shell that runs
    // clockwise on the whole is a cavity when an outline of another shell lies around it and
    // is filled with that shell; otherwise it is a part turned inside out, capped as it runs.
    std::vector<i128> areas(loops.size());
    std::unordered_map<int32_t, size_t> groupOfShell;
    std::vector<size_t> groupOf(loops.size());
    std::vector<i128> net;
    for (size_t i = 0; i < loops.size(); ++i) {
        areas[i] = PolygonTriangulator::ringArea2(xy, loops[i]);
        const auto g = groupOfShell.emplace(rim.shells[size_t(loops[i].front())], net.size()).first->second;
        if (g == net.size())
            net.push_back(0);
        groupOf[i] = g;
        net[g] += areas[i];
    }
    std::vector<size_t> parent(net.size());
    for (size_t g = 0; g < parent.size(); ++g)
        parent[g] = g;
    auto root = [&](size_t g) {
        while (parent[g] != g)
            g = parent[g] = parent[parent[g]];
        return g;
    };
    std::vector<size_t> outers;
    for (size_t i = 0; i < loops.size(); ++i)
        if (areas[i] > 0)
            outers.push_back(i);
    // Outlines by the grid cells their bounds cover: a cavity's first point lies within the
    // bounds of every outline around it. Made when first asked for, as most sections have no
    // cavity; and with no more entries than the section has points, for outlines whose bounds
    // all overlap (blades meeting on an axis) would otherwise fill most of the grid each.
    using Box = std::array<int64_t, 4>;
    std::vector<Box> boxes;
    Box all = {0, 0, 0, 0};
    int cells = 1;
    double inv = 0.0;
    std::vector<std::vector<size_t>> outersIn;
    const auto cellOf = [&](int64_t v, int64_t origin) {
        return int(std::clamp(std::floor(double(v - origin) * inv), 0.0, double(cells - 1)));
    };
    auto makeGrid = [&] {
        boxes.assign(loops.size(), Box{});
        all = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
        size_t points = 0;
        for (size_t o : outers) {
            Box b = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
            for (int32_t id : loops[o]) {
                const auto& q = xy[size_t(id)];
                b = {std::min(b[0], q[0]), std::min(b[1], q[1]), std::max(b[2], q[0]), std::max(b[3], q[1])};
            }
            boxes[o] = b;
            points += loops[o].size();
            all = {std::min(all[0], b[0]), std::min(all[1], b[1]), std::max(all[2], b[2]), std::max(all[3], b[3])};
        }
        // No outline at all (every loop runs clockwise): bounds of nothing would overflow below.
        if (outers.empty())
            all = {0, 0, 0, 0};
        const size_t entryBudget = 4 * points + 65536;
        for (cells = int(std::clamp(std::sqrt(double(outers.size())), 1.0, 256.0));; cells = std::max(1, cells / 2)) {
            inv = double(cells) / double(std::max<int64_t>({all[2] - all[0], all[3] - all[1], 1}));
            size_t entries = 0;
            for (size_t o : outers)
                entries += size_t(cellOf(boxes[o][3], all[1]) - cellOf(boxes[o][1], all[1]) + 1)
                    * size_t(cellOf(boxes[o][2], all[0]) - cellOf(boxes[o][0], all[0]) + 1);
            if (entries <= entryBudget || cells == 1)
                break;
        }
        outersIn.assign(size_t(cells) * size_t(cells), {});
        for (size_t o : outers)
            for (int y = cellOf(boxes[o][1], all[1]); y <= cellOf(boxes[o][3], all[1]); ++y)
                for (int x = cellOf(boxes[o][0], all[0]); x <= cellOf(boxes[o][2], all[0]); ++x)
                    outersIn[size_t(y) * size_t(cells) + size_t(x)].push_back(o);
    };
    // The smallest outline around loop h that accept takes; SIZE_MAX when none.
    // Point-in-outline tests are bounded by a budget in proportion to the section: loops that
    // all overlap (sheets joined into loops through one point) would otherwise test each other
    // pairwise. A loop left without an outline once it is spent is capped as it runs.
    size_t budget = 0;
    for (const auto& loop : loops)
        budget += 256 * loop.size();
    auto around = [&](size_t h, const auto& accept) {
        if (outersIn.empty())
            makeGrid();
        Box hb = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
        for (int32_t id : loops[h]) {
            const auto& q = xy[size_t(id)];
            hb = {std::min(hb[0], q[0]), std::min(hb[1], q[1]), std::max(hb[2], q[0]), std::max(hb[3], q[1])};
        }
        const auto& first = xy[size_t(loops[h].front())];
        size_t best = SIZE_MAX;
        for (size_t o : outersIn[size_t(cellOf(first[1], all[1])) * size_t(cells) + size_t(cellOf(first[0], all[0]))]) {
            // Outlines looked at count too: a cell of a coarse grid may hold most of them.
            if (budget == 0)
                return best;
            --budget;
            const Box& b = boxes[o];
            if (!accept(o) || hb[0] < b[0] || hb[2] > b[2] || hb[1] < b[1] || hb[3] > b[3]
                || (best != SIZE_MAX && areas[o] >= areas[best]))
                continue;
            int side = 0;
            for (int32_t id : loops[h]) {
                if (budget < loops[o].size())
                    return best;
                budget -= loops[o].size();
                side = pointInLoop(xy[size_t(id)], loops[o], xy);
                if (side != 0)
                    break;
            }
            if (side > 0)
                best = o;
        }
        return best;
    };
    std::vector<bool> looked(net.size(), false);
    for (size_t h = 0; h < loops.size(); ++h) {
        const size_t g = groupOf[h];
        if (net[g] >= 0 || looked[g])
            continue;
        looked[g] = true;
        if (stopRequested())
            return false;
        // The smallest outline of another shell around it.
        const size_t best = around(h, [&](size_t o) { return groupOf[o] != g; });
        if (best != SIZE_MAX)
            parent[root(g)] = root(groupOf[best]);
    }
    std::vector<std::vector<size_t>> sets(net.size());
    for (size_t i = 0; i < loops.size(); ++i)
        sets[root(groupOf[i])].push_back(i);
    std::vector<PolygonTriangulator::Triangle> tris;
    const auto stop = [] { return stopRequested(); };
    bool exact = true;
    const size_t rimPoints = xy.size();
    reserveHuge(tris, rimPoints + 2 * loops.size());
    // Crossings are looked for in proportion to the section's size: loops that all cross each
    // other (many sheets joined through one point) are filled as they are past that.
    size_t crossingBudget = 8 * rimPoints + 65536;
    auto fill = [&](const std::vector<size_t>& set) {
        // The set's loops lent to the fill and given back: a copy of a large set costs as
        // much as a tenth of its fill.
        std::vector<std::vector<int32_t>> rings(set.size());
        for (size_t k = 0; k < set.size(); ++k)
            rings[k].swap(loops[set[k]]);
        const bool ok = PolygonTriangulator::fillCrossing(xy, rings, tris, crossingBudget, stop, &exact);
        for (size_t k = 0; k < set.size(); ++k)
            rings[k].swap(loops[set[k]]);
        for (size_t k = place.size(); k < xy.size(); ++k)
            place.push_back(int32_t(k));
        return ok;
    };
    // Many small sets (parts side by side) are filled on every core first. A set whose plain
    // fill is exact is done, with the triangles the fill below would give it; the rest, and
    // every large set, go through that fill in order.
    std::vector<char> filled(sets.size(), 0);
    constexpr size_t SmallSet = 4096, SetsPerTask = 256;
    if (sets.size() >= 2 * SetsPerTask) {
        const size_t tasks = (sets.size() + SetsPerTask - 1) / SetsPerTask;
        std::vector<std::vector<PolygonTriangulator::Triangle>> taskTris(tasks);
        std::atomic<bool> stopped{false};
        parallelRanges(tasks, 1, [&](size_t b, size_t e) {
            std::vector<std::vector<int32_t>> rings;
            for (size_t task = b; task < e && !stopped.load(std::memory_order_relaxed); ++task) {
                auto& out = taskTris[task];
                for (size_t k = task * SetsPerTask; k < std::min(sets.size(), (task + 1) * SetsPerTask); ++k) {
                    size_t points = 0;
                    for (size_t i : sets[k])
                        points += loops[i].size();
                    if (sets[k].empty() || points > SmallSet)
                        continue;
                    rings.clear();
                    for (size_t i : sets[k])
                        rings.push_back(loops[i]);
                    const size_t from = out.size();
                    bool whole = true;
                    const auto f = PolygonTriangulator::fillRings(xy, rings, out, stop, nullptr, &whole);
                    if (f == PolygonTriangulator::Fill::Stopped) {
                        stopped = true;
                        return;
                    }
                    if (f != PolygonTriangulator::Fill::Done || !whole) {
                        out.resize(from);
                        continue;
                    }
                    PolygonTriangulator::turnLikeRings(xy, rings, out, from);
                    filled[k] = 1;
                }
            }
        });
        if (stopped.load() || stopRequested())
            return false;
        size_t count = 0;
        for (const auto& t : taskTris)
            count += t.size();
        tris.reserve(count);
        for (const auto& t : taskTris)
            tris.insert(tris.end(), t.begin(), t.end());
    }
    for (size_t k = 0; k < sets.size(); ++k) {
        const auto& set = sets[k];
        if (set.empty() || filled[k])
            continue;
        const size_t from = tris.size();
        if (!fill(set))
            return false;
        // One loop has no other outline to be filled apart from.
        if (exact || set.size() == 1 || capCloses(set, loops, tris, from, place))
            continue;
        // Outlines of the set that touch along a stretch, split differently on each side (parts
        // of one shell standing on each other): each outline is filled with its own holes, so
        // each keeps its points.
        tris.resize(from);
        std::vector<std::vector<size_t>> holesOf(loops.size());
        std::vector<size_t> lone;
        for (size_t h : set) {
            if (areas[h] > 0)
                continue;
            if (stopRequested())
                return false;
            const size_t o = around(h, [&](size_t c) { return root(groupOf[c]) == root(groupOf[h]); });
            (o == SIZE_MAX ? lone : holesOf[o]).push_back(h);
        }
        for (size_t o : set) {
            if (areas[o] <= 0)
                continue;
            std::vector<size_t> own{o};
            own.insert(own.end(), holesOf[o].begin(), holesOf[o].end());
            if (!fill(own))
                return false;
        }
        for (size_t h : lone)
            if (!fill({h}))
                return false;
    }
    extra.clear();
    for (size_t k = rimPoints; k < xy.size(); ++k) {
        Pt3 p{};
        p[size_t(axis)] = plane;
        p[size_t(pa)] = xy[k][0];
        p[size_t(qa)] = xy[k][1];
        extra.push_back(p);
    }
    auto idOf = [&](int32_t t) { return size_t(t) < rimPoints ? rim.ids[size_t(t)] : int32_t(pts.size() + (size_t(t) - rimPoints)); };
    // The fill gives no triangle without area: each is written as it is, per range of
    // triangles on every core.
    const size_t base = caps.size();
    reserveHuge(caps, base + 3 * tris.size());
    caps.resize(base + 3 * tris.size());
    parallelRanges(tris.size(), size_t(1) << 15, [&](size_t begin, size_t end) {
        CutVertex* to = caps.data() + base + 3 * begin;
        for (size_t i = begin; i < end; ++i) {
            const auto& t = tris[i];
            const int32_t a = idOf(t[0]), b = idOf(t[lower ? 1 : 2]), c = idOf(t[lower ? 2 : 1]);
            // A triangle takes the shell of a corner on the rim; each has one.
            const size_t corner = size_t(t[0]) < rimPoints ? 0 : size_t(t[1]) < rimPoints ? 1 : 2;
            const int32_t shell = size_t(t[corner]) < rimPoints ? rim.shells[size_t(t[corner])] : 0;
            *to++ = {a, shell};
            *to++ = {b, shell};
            *to++ = {c, shell};
        }
    });
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

// The regions of the section: what the closed outlines enclose by the even-odd rule, each as
// its outer outline and its holes. Triangles of the fill joined across their inner edges make
// a region; the edges they do not share are its outlines. False on a stop.
bool uniteSectionOutlines(const ClipperLib::Paths& closed, std::vector<SectionRegion>& regions)
{
    regions.clear();
    std::vector<std::array<int64_t, 2>> xy;
    std::vector<std::vector<int32_t>> rings;
    for (const ClipperLib::Path& outline : closed) {
        rings.emplace_back();
        for (const ClipperLib::IntPoint& p : outline) {
            rings.back().push_back(int32_t(xy.size()));
            xy.push_back({p.X, p.Y});
        }
    }
    std::vector<PolygonTriangulator::Triangle> tris;
    if (!PolygonTriangulator::fillEvenOdd(xy, rings, tris, [] { return stopRequested(); }))
        return false;
    // Edges of the triangles, counter-clockwise, by their ends: an inner edge twice, an outline once.
    struct Side
    {
        int32_t lo, hi, tri;
        bool forward; // runs from lo to hi
    };
    std::vector<Side> sides;
    sides.reserve(tris.size() * 3);
    for (size_t t = 0; t < tris.size(); ++t) {
        auto& tri = tris[t];
        const auto &a = xy[size_t(tri[0])], &b = xy[size_t(tri[1])], &c = xy[size_t(tri[2])];
        if (i128(b[0] - a[0]) * (c[1] - a[1]) - i128(b[1] - a[1]) * (c[0] - a[0]) < 0)
            std::swap(tri[1], tri[2]);
        for (size_t k = 0; k < 3; ++k) {
            const int32_t u = tri[k], v = tri[(k + 1) % 3];
            sides.push_back({std::min(u, v), std::max(u, v), int32_t(t), u < v});
        }
    }
    std::sort(sides.begin(), sides.end(), [](const Side& x, const Side& y) {
        return std::tie(x.lo, x.hi, x.tri) < std::tie(y.lo, y.hi, y.tri);
    });
    std::vector<int32_t> parent(tris.size());
    for (size_t t = 0; t < parent.size(); ++t)
        parent[t] = int32_t(t);
    auto root = [&](int32_t t) {
        while (parent[size_t(t)] != t)
            t = parent[size_t(t)] = parent[size_t(parent[size_t(t)])];
        return t;
    };
    std::vector<std::pair<int32_t, int32_t>> outline;
    std::unordered_map<std::pair<int64_t, int64_t>, int32_t, PairHash> triOf; // outline edge -> its triangle
    for (size_t i = 0; i < sides.size();) {
        size_t j = i;
        while (j < sides.size() && sides[j].lo == sides[i].lo && sides[j].hi == sides[i].hi)
            ++j;
        if (j - i == 2 && sides[i].forward != sides[i + 1].forward) {
            parent[size_t(root(sides[i].tri))] = root(sides[i + 1].tri);
        } else {
            for (size_t k = i; k < j; ++k) {
                const Side& e = sides[k];
                const auto edge = e.forward ? std::make_pair(e.lo, e.hi) : std::make_pair(e.hi, e.lo);
                outline.push_back(edge);
                triOf[{edge.first, edge.second}] = e.tri;
            }
        }
        i = j;
    }
    std::vector<std::vector<int32_t>> loops, chains;
    if (!linkRim(outline, xy, loops, chains))
        return false;
    // Per region: its largest loop running counter-clockwise is the outer outline, the loops
    // running the other way are holes.
    std::unordered_map<int32_t, size_t> regionOf;
    std::vector<std::vector<size_t>> holesOf;
    std::vector<size_t> outerOf;
    std::vector<i128> areas(loops.size());
    for (size_t i = 0; i < loops.size(); ++i) {
        if (loops[i].size() < 2)
            continue;
        areas[i] = PolygonTriangulator::ringArea2(xy, loops[i]);
        const int32_t r = root(triOf[{loops[i][0], loops[i][1]}]);
        const size_t g = regionOf.emplace(r, outerOf.size()).first->second;
        if (g == outerOf.size()) {
            outerOf.push_back(SIZE_MAX);
            holesOf.emplace_back();
        }
        if (areas[i] <= 0)
            holesOf[g].push_back(i);
        else if (outerOf[g] == SIZE_MAX || areas[i] > areas[outerOf[g]])
            outerOf[g] = i;
    }
    auto path = [&](size_t i) {
        ClipperLib::Path p;
        p.reserve(loops[i].size());
        for (int32_t id : loops[i])
            p.push_back(ClipperLib::IntPoint(xy[size_t(id)][0], xy[size_t(id)][1]));
        return p;
    };
    auto addRegion = [&](size_t outer, const std::vector<size_t>& holes) {
        SectionRegion r;
        r.outlines.push_back(path(outer));
        r.minU = r.maxU = r.outlines[0][0].X;
        r.minV = r.maxV = r.outlines[0][0].Y;
        for (const auto& pt : r.outlines[0]) {
            r.minU = std::min<int64_t>(r.minU, pt.X);
            r.minV = std::min<int64_t>(r.minV, pt.Y);
            r.maxU = std::max<int64_t>(r.maxU, pt.X);
            r.maxV = std::max<int64_t>(r.maxV, pt.Y);
        }
        for (size_t h : holes)
            r.outlines.push_back(path(h));
        regions.push_back(std::move(r));
    };
    for (size_t g = 0; g < outerOf.size(); ++g)
        if (outerOf[g] != SIZE_MAX)
            addRegion(outerOf[g], holesOf[g]);
    // A region pinched at a point may show a second outline running counter-clockwise.
    for (size_t i = 0; i < loops.size(); ++i)
        if (areas[i] > 0 && outerOf[regionOf[root(triOf[{loops[i][0], loops[i][1]}])]] != i)
            addRegion(i, {});
    return true;
}

// The section's regions from the upper half's open rim, as the faces run it, linked exactly,
// with the looser joining passes for what an open mesh leaves unclosed.
bool sectionRegions(CutWorkData& wd, int planeUm, int axis)
{
    PlaneRim rim;
    if (!planeRim(wd.up, wd.points, planeUm, axis, rim))
        return false;
    std::vector<SectionSegment> segs;
    segs.reserve(rim.edges.size());
    for (const auto& e : rim.edges) {
        SectionSegment s;
        s.first = sectionPoint(wd.points[size_t(rim.ids[size_t(e.first)])], axis);
        s.second = sectionPoint(wd.points[size_t(rim.ids[size_t(e.second)])], axis);
        segs.push_back(s);
    }
    ClipperLib::Paths closed, open;
    return chainSectionSegments(segs, closed, open) && uniteSectionOutlines(closed, wd.regions);
}

// Runs work for the two halves side by side, the upper half here: the two share only what
// they read. True when both gave true.
template <typename Work>
bool onBothHalves(const Work& work)
{
    bool lower = false, upper = false;
    runParts(2, [&](size_t part) { (part == 0 ? upper : lower) = work(part == 1); });
    return lower && upper;
}

void clearWork(CutWorkData& wd)
{
    wd.up.clear();
    wd.down.clear();
    wd.planeEdges.clear();
    wd.upCap.clear();
    wd.downCap.clear();
    wd.points.clear();
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

// The halves of mesh under the model matrix m, into wd (emptied first); with regions, also
// the section's regions, which only the preview shows: the cut caps each half from its own rim.
bool sectionInto(CutWorkData& wd, const MeshData* mesh, const Eigen::Matrix4d& m, int planeUm, int axis, bool regions)
{
    clearWork(wd);
    std::vector<Pt3> v;
    assignHuge(v, mesh->vertices.size(), {});
    parallelRanges(v.size(), size_t(1) << 16, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            const auto& p = mesh->vertices[i];
            const Eigen::Vector4d w = m * Eigen::Vector4d(p[0], p[1], p[2], 1.0);
            v[i] = {toUm(w[0]), toUm(w[1]), toUm(w[2])};
        }
    });
    if (stopRequested())
        return false;
    if (!splitByPlane(v, mesh->faces, faceShells(v.size(), mesh->faces), planeUm, axis, wd)) {
        clearWork(wd);
        return false;
    }
    if (regions && !sectionRegions(wd, planeUm, axis)) {
        clearWork(wd);
        return false;
    }
    return true;
}

// Splits the model into the two halves of cutWorkData(), with the section's regions or not.
bool splitModel(const MeshModel* model, int modelIndex, int planeUm, int axis, bool force, bool regions)
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
    if (!sectionInto(wd, mesh, m, planeUm, axis, regions))
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

} // namespace

bool computeSectionOf(const MeshData& mesh, const std::array<double, 16>& matrix, int planeUm, int axis, CutWorkData& wd,
                      const std::atomic<bool>* stop)
{
    if (axis < 0 || axis > 2 || mesh.vertices.empty()) {
        clearWork(wd);
        return false;
    }
    t_previewStop = stop;
    const bool ok = sectionInto(wd, &mesh, Eigen::Map<const Eigen::Matrix4d>(matrix.data()), planeUm, axis, true);
    t_previewStop = nullptr;
    return ok;
}

bool computeCutSection(const MeshModel* model, int modelIndex, int planeUm, int axis, bool force)
{
    return splitModel(model, modelIndex, planeUm, axis, force, true);
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
    cutWorkData().planeEdges.clear();
}

namespace {

// The caps of both halves into wd's cap lists, each half's own points for its cap into its
// extra list, numbered on from the end of wd.points; wd.points and the halves are only read,
// so the halves' meshes can be begun meanwhile. oneCap: the plane's edges cancel, and the
// lower cap is the upper one turned round. False on a stop request.
bool makeCaps(CutWorkData& wd, int planeUm, int axis, bool oneCap, std::vector<Pt3>& upExtra, std::vector<Pt3>& downExtra)
{
    if (stopRequested())
        return false;
    wd.upCap.clear();
    wd.downCap.clear();
    PlaneRim rims[2];
    if (oneCap) {
        // One cap for both: the lower half's is the upper half's turned round, on the same points.
        if (!planeRim(wd.up, wd.points, planeUm, axis, rims[0]) || !capHalf(rims[0], wd.upCap, upExtra, wd.points, planeUm, axis, false))
            return false;
        assignHuge(wd.downCap, wd.upCap.size(), CutVertex());
        parallelRanges(wd.upCap.size() / 3, 1 << 16, [&](size_t begin, size_t end) {
            for (size_t t = begin; t < end; ++t) {
                wd.downCap[3 * t] = wd.upCap[3 * t];
                wd.downCap[3 * t + 1] = wd.upCap[3 * t + 2];
                wd.downCap[3 * t + 2] = wd.upCap[3 * t + 1];
            }
        });
        return true;
    }
    return onBothHalves([&](bool lower) {
        return planeRim(lower ? wd.down : wd.up, wd.points, planeUm, axis, rims[lower])
            && capHalf(rims[lower], lower ? wd.downCap : wd.upCap, lower ? downExtra : upExtra, wd.points, planeUm, axis, lower);
    });
}

// The caps' own points put after wd.points, the upper half's first.
void addCapPoints(CutWorkData& wd, const std::vector<Pt3>& upExtra, const std::vector<Pt3>& downExtra)
{
    if (!downExtra.empty()) {
        // Each half numbered its own points on from the end of the table: the lower half's
        // come after the upper half's.
        const int32_t base = int32_t(wd.points.size());
        for (CutVertex& r : wd.downCap)
            if (r.point >= base)
                r.point += int32_t(upExtra.size());
    }
    wd.points.insert(wd.points.end(), upExtra.begin(), upExtra.end());
    wd.points.insert(wd.points.end(), downExtra.begin(), downExtra.end());
}

constexpr size_t HalfGrain = 1 << 16;

// The faces of the list kept, per range of triangles on every core: a face with a point
// twice has no area and is left out. Counted per range into kept (one more than the ranges,
// summed up); false on a stop.
bool countKeptFaces(const std::vector<CutVertex>& list, std::vector<size_t>& kept)
{
    const size_t triangles = list.size() / 3, parts = partCount(triangles, HalfGrain);
    kept.assign(parts + 1, 0);
    std::atomic<bool> stopped{false};
    runParts(parts, [&](size_t part) {
        size_t count = 0;
        for (size_t t = triangles * part / parts, e = triangles * (part + 1) / parts; t < e; ++t) {
            if ((t & 65535) == 0 && stopRequested()) {
                stopped = true;
                return;
            }
            const int32_t a = list[3 * t].point, b = list[3 * t + 1].point, c = list[3 * t + 2].point;
            count += a != b && b != c && a != c;
        }
        kept[part + 1] = count;
    });
    for (size_t part = 0; part + 1 < kept.size(); ++part)
        kept[part + 1] += kept[part];
    return !stopped.load() && !stopRequested();
}

// The kept faces of the list, counted by countKeptFaces, written from face `at` of out on,
// their points through local.
void writeKeptFaces(const std::vector<CutVertex>& list, const std::vector<size_t>& kept, const std::vector<int32_t>& local,
                    size_t at, MeshData& out)
{
    const size_t triangles = list.size() / 3, parts = kept.size() - 1;
    runParts(parts, [&](size_t part) {
        size_t to = at + kept[part];
        for (size_t t = triangles * part / parts, e = triangles * (part + 1) / parts; t < e; ++t) {
            const int32_t a = list[3 * t].point, b = list[3 * t + 1].point, c = list[3 * t + 2].point;
            if (a != b && b != c && a != c)
                out.faces[to++] = {local[size_t(a)], local[size_t(b)], local[size_t(c)]};
        }
    });
}

// Numbers the points [from, to) marked in local (non-zero) in point order, on from `first`,
// and writes them to out's vertices; the rest become -1. The vertex list must have room.
void numberPoints(std::vector<int32_t>& local, const std::vector<Pt3>& points, size_t from, size_t to,
                  const std::vector<size_t>& usedBefore, int32_t first, MeshData& out)
{
    parallelParts(to - from, HalfGrain, [&](size_t part, size_t b, size_t e) {
        int32_t id = first + int32_t(usedBefore[part]);
        for (size_t q = from + b; q < from + e; ++q) {
            if (local[q] == 0) {
                local[q] = -1;
                continue;
            }
            const auto& p = points[q];
            out.vertices[size_t(id)] = {double(p[0]) * 0.001, double(p[1]) * 0.001, double(p[2]) * 0.001};
            local[q] = id++;
        }
    });
}

// Marked points among [from, to) of local counted per range as numberPoints takes them.
std::vector<size_t> countMarked(const std::vector<int32_t>& local, size_t from, size_t to)
{
    const size_t parts = partCount(to - from, HalfGrain);
    std::vector<size_t> usedBefore(parts + 1, 0);
    parallelParts(to - from, HalfGrain, [&](size_t part, size_t b, size_t e) {
        size_t count = 0;
        for (size_t q = from + b; q < from + e; ++q)
            count += local[q] != 0;
        usedBefore[part + 1] = count;
    });
    for (size_t part = 0; part < parts; ++part)
        usedBefore[part + 1] += usedBefore[part];
    return usedBefore;
}

// A half's mesh in two steps: what its records make, which can be done while the caps are
// still being made, as a cap only adds faces on the records' rim points and on points of its
// own after all others; then the cap. Together they give what one pass over records and cap
// would: points numbered in point order, the records' faces before the cap's, and each
// vertex's normal summed over its faces in that order.
struct HalfBuild
{
    std::vector<int32_t> local; // per point of the table: its vertex, -1 for none
    size_t points = 0;          // the table's points before the caps' own
};

bool startHalf(const std::vector<CutVertex>& records, const std::vector<Pt3>& points, int64_t plane, int axis,
               HalfBuild& build, MeshData& out)
{
    MeshData::clear(out);
    if (records.size() < 3)
        return false;
    build.points = points.size();
    // With room for the caps' own points, which are few: where loops cross.
    assignHuge(build.local, points.size(), 0, 4096 + points.size() / 64);
    std::vector<size_t> kept;
    // Several ranges mark one point: the same value, stored as an atomic. The corners in the
    // plane are counted: a cap has fewer triangles than that, so its faces will fit in the
    // lists' room (touched already), and the lists need not be copied to grow.
    std::atomic<size_t> inPlane{0};
    parallelRanges(records.size(), HalfGrain, [&](size_t b, size_t e) {
        size_t count = 0;
        for (size_t i = b; i < e; ++i) {
            __atomic_store_n(&build.local[size_t(records[i].point)], 1, __ATOMIC_RELAXED);
            count += points[size_t(records[i].point)][size_t(axis)] == plane;
        }
        inPlane += count;
    });
    if (!countKeptFaces(records, kept))
        return false;
    const std::vector<size_t> usedBefore = countMarked(build.local, 0, points.size());
    const size_t pointRoom = 4096 + inPlane / 16;
    assignHuge(out.vertices, usedBefore.back(), {}, pointRoom);
    numberPoints(build.local, points, 0, points.size(), usedBefore, 0, out);
    assignHuge(out.faces, kept.back(), {}, inPlane + 4096);
    writeKeptFaces(records, kept, build.local, 0, out);
    if (stopRequested())
        return false;
    assignHuge(out.normals, out.vertices.size(), std::array<double, 3>{0.0, 0.0, 0.0}, pointRoom);
    return MeshData::sumFaceNormals(out, 0, out.faces.size(), out.normals);
}

bool finishHalf(const std::vector<CutVertex>& cap, const std::vector<Pt3>& points, HalfBuild& build, MeshData& out)
{
    // The caps' own points: those of this cap numbered after the records' points.
    build.local.resize(points.size(), 0);
    parallelRanges(cap.size(), HalfGrain, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i)
            if (size_t(cap[i].point) >= build.points)
                __atomic_store_n(&build.local[size_t(cap[i].point)], 1, __ATOMIC_RELAXED);
    });
    const std::vector<size_t> usedBefore = countMarked(build.local, build.points, points.size());
    const size_t recordVertices = out.vertices.size(), recordFaces = out.faces.size();
    out.vertices.resize(recordVertices + usedBefore.back());
    numberPoints(build.local, points, build.points, points.size(), usedBefore, int32_t(recordVertices), out);
    std::vector<size_t> kept;
    if (!countKeptFaces(cap, kept))
        return false;
    out.faces.resize(recordFaces + kept.back());
    writeKeptFaces(cap, kept, build.local, recordFaces, out);
    out.normals.resize(out.vertices.size(), std::array<double, 3>{0.0, 0.0, 0.0});
    if (!MeshData::sumFaceNormals(out, recordFaces, out.faces.size(), out.normals))
        return false;
    MeshData::unitNormals(out.normals);
    return !out.faces.empty();
}

} // namespace

void setSplitGrainForTests(size_t grain)
{
    g_splitGrain = std::max<size_t>(1, grain);
}

void setFanEdgesForTests(size_t edges)
{
    g_fanEdges = edges;
}

bool planeEdgesCancelForTests(const std::vector<std::array<int32_t, 3>>& edges)
{
    return planeEdgesCancel(edges);
}

bool linkRimForTests(const std::vector<std::pair<int32_t, int32_t>>& edges, const std::vector<std::array<int64_t, 2>>& xy,
                     std::vector<std::vector<int32_t>>& loops, std::vector<std::vector<int32_t>>& chains)
{
    return linkRim(edges, xy, loops, chains);
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
    if (!reuse && !splitModel(model, modelIndex, planeUm, axis, true, false)) {
        if (stopRequested())
            g_jobState = 2;
        return result;
    }
    // An empty half means the plane misses the model: nothing to cut.
    if (wd.up.empty() || wd.down.empty()) {
        clearWork(wd);
        return result;
    }
    // One cap for both halves is made while the halves' meshes are begun from their records:
    // most of its time goes into steps that run on one core. Two caps made side by side wait on
    // memory, and are left to it.
    result.up = std::make_unique<MeshData>();
    result.down = std::make_unique<MeshData>();
    std::vector<Pt3> upExtra, downExtra;
    HalfBuild builds[2];
    bool done[3] = {false, false, false};
    const bool oneCap = planeEdgesCancel(wd.planeEdges);
    auto step = [&](size_t part) {
        if (part == 0)
            done[0] = makeCaps(wd, planeUm, axis, oneCap, upExtra, downExtra);
        else if (part == 1)
            done[1] = startHalf(wd.up, wd.points, planeUm, axis, builds[0], *result.up);
        else
            done[2] = startHalf(wd.down, wd.points, planeUm, axis, builds[1], *result.down);
    };
    if (oneCap) {
        runParts(3, step);
    } else {
        step(0);
        if (done[0])
            runParts(2, [&](size_t part) { step(part + 1); });
    }
    bool ok = done[0] && done[1] && done[2];
    if (ok) {
        addCapPoints(wd, upExtra, downExtra);
        ok = onBothHalves([&](bool lower) {
            return lower ? finishHalf(wd.downCap, wd.points, builds[1], *result.down)
                         : finishHalf(wd.upCap, wd.points, builds[0], *result.up);
        });
    }
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
