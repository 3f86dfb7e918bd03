#include "LayerSlicer.h"

#include "Parallel.h"
#include "Progress.h"

#include <algorithm>
#include <cmath>

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

namespace brev {

namespace {

// Open chains whose ends lie this close are joined; a mesh with small gaps still prints.
constexpr double kGapCloseUm = 1000.0;
// Vertices this close to the straight line through their neighbours are dropped.
constexpr double kCleanDistanceUm = 5.0;
// Islands and holes smaller than this (0.01 mm²) are noise of the tessellation.
constexpr double kMinAreaUm2 = 10000.0;

struct EndRef {
    cInt x;
    cInt y;
    uint32_t slot; // segment * 2 + end
};

// Crossing of the edge u-v with the plane; the edge is ordered the same way from both of its
// triangles, so neighbouring triangles produce the same point.
IntPoint crossing(const Triangle& t, int a, int b, int64_t plane)
{
    auto before = [&](int p, int q) {
        if (t.z[p] != t.z[q])
            return t.z[p] < t.z[q];
        if (t.x[p] != t.x[q])
            return t.x[p] < t.x[q];
        return t.y[p] < t.y[q];
    };
    if (before(b, a))
        std::swap(a, b);
    double f = double(plane - t.z[a]) / double(t.z[b] - t.z[a]);
    return IntPoint(t.x[a] + std::llround((t.x[b] - t.x[a]) * f),
                    t.y[a] + std::llround((t.y[b] - t.y[a]) * f));
}

// A vertex on the plane counts as above it, so every triangle is cut by zero or two edges.
void addSegment(const Triangle& t, int64_t plane, std::vector<IntPoint>& ends)
{
    bool above[3] = {t.z[0] >= plane, t.z[1] >= plane, t.z[2] >= plane};
    int lone;
    if (above[0] == above[1])
        lone = 2;
    else if (above[0] == above[2])
        lone = 1;
    else
        lone = 0;
    if (above[lone] == above[(lone + 1) % 3])
        return;
    IntPoint p = crossing(t, lone, (lone + 1) % 3, plane);
    IntPoint q = crossing(t, lone, (lone + 2) % 3, plane);
    if (p == q)
        return;
    // Segments run counter-clockwise around the solid seen from above (z × facet normal), so
    // overlapping shells can be joined by winding rather than by parity.
    const double ax = double(t.x[1]) - t.x[0], ay = double(t.y[1]) - t.y[0], az = double(t.z[1]) - t.z[0];
    const double bx = double(t.x[2]) - t.x[0], by = double(t.y[2]) - t.y[0], bz = double(t.z[2]) - t.z[0];
    const double nx = ay * bz - az * by;
    const double ny = az * bx - ax * bz;
    if (double(q.X - p.X) * -ny + double(q.Y - p.Y) * nx < 0)
        std::swap(p, q);
    ends.push_back(p);
    ends.push_back(q);
}

double distance(const IntPoint& a, const IntPoint& b)
{
    return std::hypot(double(a.X - b.X), double(a.Y - b.Y));
}

// A chain of segments and how many of them it runs along (+1 each) or against (-1 each).
struct Chain {
    Path path;
    long long vote = 0;
};

// A closed loop turned to run the way most of its segments do.
void addLoop(Chain& c, Paths& loops)
{
    if (c.vote < 0)
        std::reverse(c.path.begin(), c.path.end());
    loops.push_back(std::move(c.path));
}

// Joins open chains end to start while a partner lies within the gap, then closes what is
// closed enough; the rest cannot bound an area and is dropped.
void closeOpenChains(std::vector<Chain>& open, Paths& loops)
{
    if (open.size() > 4000) {
        for (Chain& c : open)
            if (c.path.size() >= 3 && distance(c.path.front(), c.path.back()) <= kGapCloseUm)
                addLoop(c, loops);
        return;
    }
    while (!open.empty()) {
        Chain whole = std::move(open.back());
        open.pop_back();
        Path& chain = whole.path;
        for (;;) {
            double best = distance(chain.back(), chain.front());
            int bestIndex = -1;
            bool reversed = false;
            for (size_t i = 0; i < open.size(); ++i) {
                double ds = distance(chain.back(), open[i].path.front());
                double de = distance(chain.back(), open[i].path.back());
                if (ds < best) {
                    best = ds;
                    bestIndex = int(i);
                    reversed = false;
                }
                if (de < best) {
                    best = de;
                    bestIndex = int(i);
                    reversed = true;
                }
            }
            if (bestIndex < 0 || best > kGapCloseUm) {
                if (chain.size() >= 3 && distance(chain.back(), chain.front()) <= kGapCloseUm)
                    addLoop(whole, loops);
                break;
            }
            Chain next = std::move(open[size_t(bestIndex)]);
            open.erase(open.begin() + bestIndex);
            if (reversed) {
                std::reverse(next.path.begin(), next.path.end());
                next.vote = -next.vote;
            }
            chain.insert(chain.end(), next.path.begin(), next.path.end());
            whole.vote += next.vote;
        }
    }
}

} // namespace

LayerHeights LayerHeights::forMesh(int64_t maxZUm, int64_t firstUm, int64_t layerUm)
{
    LayerHeights h;
    int64_t top = firstUm;
    int64_t plane = firstUm / 2;
    while (plane < maxZUm) {
        h.printZUm.push_back(top);
        h.planeZUm.push_back(plane);
        top += layerUm;
        plane = top - layerUm / 2;
    }
    return h;
}

Paths loopsFromSegments(std::vector<IntPoint>& ends)
{
    const size_t segments = ends.size() / 2;
    std::vector<EndRef> refs(ends.size());
    for (size_t i = 0; i < ends.size(); ++i)
        refs[i] = {ends[i].X, ends[i].Y, uint32_t(i)};
    std::sort(refs.begin(), refs.end(), [](const EndRef& a, const EndRef& b) {
        return a.x != b.x ? a.x < b.x : (a.y != b.y ? a.y < b.y : a.slot < b.slot);
    });
    // Ends at the same point are linked in pairs; an odd one out stays open.
    std::vector<int64_t> partner(ends.size(), -1);
    for (size_t i = 0; i + 1 < refs.size();) {
        if (refs[i].x == refs[i + 1].x && refs[i].y == refs[i + 1].y) {
            partner[refs[i].slot] = refs[i + 1].slot;
            partner[refs[i + 1].slot] = refs[i].slot;
            i += 2;
        } else {
            ++i;
        }
    }

    Paths loops;
    std::vector<Chain> open;
    std::vector<char> used(segments, 0);
    for (size_t s = 0; s < segments; ++s) {
        if (used[s])
            continue;
        used[s] = 1;
        Chain whole;
        Path& chain = whole.path;
        chain = {ends[2 * s], ends[2 * s + 1]};
        whole.vote = 1;
        bool closed = false;
        // Forward from end 1.
        int64_t link = partner[2 * s + 1];
        while (link >= 0) {
            size_t seg = size_t(link) / 2;
            if (seg == s) {
                closed = true;
                break;
            }
            if (used[seg])
                break;
            used[seg] = 1;
            size_t far = size_t(link) ^ 1u;
            chain.push_back(ends[far]);
            whole.vote += link % 2 == 0 ? 1 : -1; // entered at its start: along it
            link = partner[far];
        }
        if (closed) {
            chain.pop_back(); // the start point again
            if (chain.size() >= 3)
                addLoop(whole, loops);
            continue;
        }
        // Backward from end 0.
        Path back;
        link = partner[2 * s];
        while (link >= 0) {
            size_t seg = size_t(link) / 2;
            if (used[seg])
                break;
            used[seg] = 1;
            size_t far = size_t(link) ^ 1u;
            back.push_back(ends[far]);
            whole.vote += link % 2 == 1 ? 1 : -1; // walked backwards: entered at its end
            link = partner[far];
        }
        if (!back.empty()) {
            std::reverse(back.begin(), back.end());
            back.insert(back.end(), chain.begin(), chain.end());
            chain.swap(back);
        }
        open.push_back(std::move(whole));
    }
    closeOpenChains(open, loops);
    return loops;
}

std::vector<Paths> sliceMesh(StlMesh& mesh, const LayerHeights& heights, Progress* progress)
{
    std::vector<Triangle>& tris = mesh.triangles;
    std::sort(tris.begin(), tris.end(),
              [](const Triangle& a, const Triangle& b) { return a.zMin < b.zMin; });
    std::vector<int32_t> zMax(tris.size());
    for (size_t i = 0; i < tris.size(); ++i)
        zMax[i] = tris[i].zMax;

    const size_t layerCount = heights.planeZUm.size();
    std::vector<Paths> outlines(layerCount);
    // Blocks of consecutive layers sweep the sorted triangles; each block finds its own start.
    const size_t blocks = std::min<size_t>(layerCount, 64);
    parallelFor(blocks, [&](size_t block) {
        const size_t first = layerCount * block / blocks;
        const size_t last = layerCount * (block + 1) / blocks;
        if (first == last)
            return;
        std::vector<uint32_t> active;
        size_t next = 0;
        const int64_t firstPlane = heights.planeZUm[first];
        while (next < tris.size() && tris[next].zMin < firstPlane) {
            if (zMax[next] >= firstPlane)
                active.push_back(uint32_t(next));
            ++next;
        }
        std::vector<IntPoint> ends;
        for (size_t layer = first; layer < last; ++layer) {
            const int64_t plane = heights.planeZUm[layer];
            while (next < tris.size() && tris[next].zMin < plane) {
                active.push_back(uint32_t(next));
                ++next;
            }
            ends.clear();
            size_t keep = 0;
            for (uint32_t idx : active) {
                if (zMax[idx] < plane)
                    continue;
                active[keep++] = idx;
                addSegment(tris[idx], plane, ends);
            }
            active.resize(keep);

            Paths loops = loopsFromSegments(ends);
            ClipperLib::Clipper clipper;
            clipper.AddPaths(loops, ClipperLib::ptSubject, true);
            Paths merged;
            // Nonzero: overlapping models and shells print as one solid. A mesh turned inside
            // out winds the other way and still fills.
            clipper.Execute(ClipperLib::ctUnion, merged, ClipperLib::pftNonZero,
                            ClipperLib::pftNonZero);
            ClipperLib::CleanPolygons(merged, kCleanDistanceUm);
            Paths& out = outlines[layer];
            for (Path& p : merged)
                if (p.size() >= 3 && std::fabs(ClipperLib::Area(p)) >= kMinAreaUm2)
                    out.push_back(std::move(p));
            if (progress)
                progress->step();
        }
    });
    return outlines;
}

} // namespace brev
