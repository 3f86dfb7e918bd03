#include "cutting/NearestEnds.h"

#include <algorithm>
#include <cmath>
#include <map>

size_t NearestEnds::CellHash::operator()(const Cell& c) const
{
    return size_t(c.first) * 0x9E3779B97F4A7C15ull ^ (size_t(c.second) + 0x632BE59BD9B4E019ull + (size_t(c.first) << 6));
}

NearestEnds::NearestEnds(const std::vector<ClipperLib::IntPoint>& firsts, const std::vector<ClipperLib::IntPoint>& lasts,
                         const std::vector<bool>& present, const std::vector<bool>& closable, double limit2)
    : limit2(limit2), firstEnd(firsts.size(), -1), lastEnd(firsts.size(), -1), closable(closable), best(firsts.size())
{
    x0 = y0 = INT64_MAX;
    x1 = y1 = INT64_MIN;
    std::map<std::pair<int64_t, int64_t>, int32_t> pointOf;
    for (size_t c = 0; c < firsts.size(); ++c) {
        if (!present[c])
            continue;
        for (int k = 0; k < 2; ++k) {
            const ClipperLib::IntPoint& p = k == 0 ? firsts[c] : lasts[c];
            x0 = std::min<int64_t>(x0, p.X);
            y0 = std::min<int64_t>(y0, p.Y);
            x1 = std::max<int64_t>(x1, p.X);
            y1 = std::max<int64_t>(y1, p.Y);
            const auto it = pointOf.emplace(std::make_pair(p.X, p.Y), int32_t(points.size())).first;
            if (it->second == int32_t(points.size()))
                points.push_back({p, {}, 0});
            (k == 0 ? firstEnd : lastEnd)[c] = int32_t(ends.size());
            ends.push_back({it->second, int32_t(c), k == 1});
        }
    }
    if (ends.empty())
        return;
    for (size_t e = 0; e < ends.size(); ++e)
        points[size_t(ends[size_t(e)].point)].ends.insert({ends[size_t(e)].chain, ends[size_t(e)].last});
    live = ends.size();
    buildGrid();
    for (size_t c = 0; c < firsts.size(); ++c)
        if (present[c])
            search(int32_t(c));
}

// About one end per cell where the ends spread over an area. Made again when most ends have
// gone, so that a search does not walk rings of empty cells.
void NearestEnds::buildGrid()
{
    const double extent = double(std::max(x1 - x0, y1 - y0));
    cellSize = std::max<int64_t>(20, int64_t(extent / std::sqrt(double(std::max<size_t>(live, 1)))));
    lo = cellOf({x0, y0});
    hi = cellOf({x1, y1});
    grid.clear();
    for (size_t q = 0; q < points.size(); ++q) {
        Point& pt = points[q];
        if (pt.ends.empty())
            continue;
        auto& cell = grid[cellOf(pt.p)];
        pt.slot = cell.size();
        cell.push_back(int32_t(q));
    }
    gridFor = live;
}

NearestEnds::Cell NearestEnds::cellOf(const ClipperLib::IntPoint& p) const
{
    return {floorDiv(p.X, cellSize), floorDiv(p.Y, cellSize)};
}

void NearestEnds::insert(int32_t end)
{
    ++live;
    Point& pt = points[size_t(ends[size_t(end)].point)];
    if (pt.ends.empty()) {
        auto& cell = grid[cellOf(pt.p)];
        pt.slot = cell.size();
        cell.push_back(ends[size_t(end)].point);
    }
    pt.ends.insert({ends[size_t(end)].chain, ends[size_t(end)].last});
}

void NearestEnds::remove(int32_t end)
{
    --live;
    const int32_t at = ends[size_t(end)].point;
    Point& pt = points[size_t(at)];
    pt.ends.erase({ends[size_t(end)].chain, ends[size_t(end)].last});
    if (pt.ends.empty()) {
        // A point without ends leaves its cell, so searches do not keep passing it.
        auto& cell = grid[cellOf(pt.p)];
        cell[pt.slot] = cell.back();
        points[size_t(cell[pt.slot])].slot = pt.slot;
        cell.pop_back();
    }
}

// The first end at the point, in tie order, that chain may join: never its own last point,
// its own first point only when it may close.
const NearestEnds::Key* NearestEnds::partnerAt(int32_t point, int32_t chain) const
{
    for (const Key& k : points[size_t(point)].ends)
        if (k.first != chain || (!k.second && closable[size_t(chain)]))
            return &k;
    return nullptr;
}

void NearestEnds::search(int32_t chain)
{
    if (live * 4 < gridFor)
        buildGrid();
    Best& b = best[size_t(chain)];
    ++b.version;
    b.points.clear();
    b.d = limit2;
    const ClipperLib::IntPoint from = points[size_t(ends[size_t(lastEnd[size_t(chain)])].point)].p;
    const Cell c0 = cellOf(from);
    const int64_t rings = std::max({c0.first - lo.first, hi.first - c0.first, c0.second - lo.second, hi.second - c0.second});
    auto visit = [&](int64_t cx, int64_t cy) {
        const auto it = grid.find({cx, cy});
        if (it == grid.end())
            return;
        for (int32_t q : it->second) {
            const double d = endDist2(from, points[size_t(q)].p);
            if (d >= limit2 || (!b.points.empty() && d > b.d) || !partnerAt(q, chain))
                continue;
            if (b.points.empty() || d < b.d) {
                b.d = d;
                b.points.clear();
            }
            b.points.push_back(q);
        }
    };
    for (int64_t r = 0; r <= rings; ++r) {
        // Every point in ring r lies more than (r - 1) cells away.
        const double reach = double((r - 1) * cellSize);
        if (r > 0 && reach * reach >= b.d)
            break;
        if (r == 0) {
            visit(c0.first, c0.second);
            continue;
        }
        for (int64_t dx = -r; dx <= r; ++dx) {
            visit(c0.first + dx, c0.second - r);
            visit(c0.first + dx, c0.second + r);
        }
        for (int64_t dy = -r + 1; dy <= r - 1; ++dy) {
            visit(c0.first - r, c0.second + dy);
            visit(c0.first + r, c0.second + dy);
        }
    }
    if (!b.points.empty())
        queue.push({b.d, chain, b.version});
}

// Chains come out in the order of their nearest distance, which only grows as ends go, so the
// first chain whose nearest points still hold an end it may join has the next join; which end
// of those points it takes is settled only then.
bool NearestEnds::next(Join& join)
{
    while (!queue.empty()) {
        const Entry t = queue.top();
        const Best& b = best[size_t(t.chain)];
        if (t.version != b.version) {
            queue.pop();
            continue;
        }
        const Key* partner = nullptr;
        for (int32_t q : b.points) {
            const Key* k = partnerAt(q, t.chain);
            if (k && (!partner || *k < *partner))
                partner = k;
        }
        if (!partner) {
            queue.pop();
            search(t.chain);
            continue;
        }
        join = {size_t(t.chain), size_t(partner->first), partner->second};
        return true;
    }
    return false;
}

void NearestEnds::joined(const Join& join, size_t kept, bool keptClosable)
{
    auto drop = [&](size_t c) {
        ++best[c].version;
        best[c].points.clear();
        firstEnd[c] = lastEnd[c] = -1;
    };
    if (join.from == join.to) {
        remove(firstEnd[join.from]);
        remove(lastEnd[join.from]);
        drop(join.from);
        return;
    }
    // The kept chain's last point and the taken chain's joined end are gone; the taken
    // chain's other end becomes the kept chain's last point.
    const size_t taken = kept == join.from ? join.to : join.from;
    const int32_t keptLast = lastEnd[kept];
    const int32_t joinedEnd = join.toLast ? lastEnd[taken] : firstEnd[taken];
    const int32_t farEnd = join.toLast ? firstEnd[taken] : lastEnd[taken];
    remove(keptLast);
    remove(joinedEnd);
    remove(farEnd);
    ends[size_t(farEnd)].chain = int32_t(kept);
    ends[size_t(farEnd)].last = true;
    insert(farEnd);
    drop(taken);
    lastEnd[kept] = farEnd;
    closable[kept] = keptClosable;
    search(int32_t(kept));
}
