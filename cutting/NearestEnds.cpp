#include "cutting/NearestEnds.h"

#include <algorithm>
#include <cmath>

bool NearestEnds::Entry::operator>(const Entry& o) const
{
    if (d != o.d)
        return d > o.d;
    if (chain != o.chain)
        return chain > o.chain;
    if (partner != o.partner)
        return partner > o.partner;
    return last > o.last;
}

size_t NearestEnds::CellHash::operator()(const Cell& c) const
{
    return size_t(c.first) * 0x9E3779B97F4A7C15ull ^ (size_t(c.second) + 0x632BE59BD9B4E019ull + (size_t(c.first) << 6));
}

NearestEnds::NearestEnds(const std::vector<ClipperLib::IntPoint>& firsts, const std::vector<ClipperLib::IntPoint>& lasts,
                         const std::vector<bool>& present, const std::vector<bool>& closable, double limit2)
    : limit2(limit2), firstEnd(firsts.size(), -1), lastEnd(firsts.size(), -1), closable(closable), best(firsts.size())
{
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (size_t c = 0; c < firsts.size(); ++c) {
        if (!present[c])
            continue;
        for (const ClipperLib::IntPoint& p : {firsts[c], lasts[c]}) {
            x0 = std::min<int64_t>(x0, p.X);
            y0 = std::min<int64_t>(y0, p.Y);
            x1 = std::max<int64_t>(x1, p.X);
            y1 = std::max<int64_t>(y1, p.Y);
        }
        firstEnd[c] = int32_t(ends.size());
        ends.push_back({firsts[c], int32_t(c), false, true});
        lastEnd[c] = int32_t(ends.size());
        ends.push_back({lasts[c], int32_t(c), true, true});
    }
    if (ends.empty())
        return;
    // About one end per cell where the ends spread over an area.
    const double extent = double(std::max(x1 - x0, y1 - y0));
    cellSize = std::max<int64_t>(20, int64_t(extent / std::sqrt(double(ends.size()))));
    lo = cellOf({x0, y0});
    hi = cellOf({x1, y1});
    for (size_t e = 0; e < ends.size(); ++e)
        grid[cellOf(ends[e].p)].push_back(int32_t(e));
    watchers.resize(ends.size());
    for (size_t c = 0; c < firsts.size(); ++c)
        if (present[c])
            search(int32_t(c));
}

NearestEnds::Cell NearestEnds::cellOf(const ClipperLib::IntPoint& p) const
{
    return {floorDiv(p.X, cellSize), floorDiv(p.Y, cellSize)};
}

// Whether end goes before the chain's best of equal distance.
bool NearestEnds::before(int32_t end, const Best& b) const
{
    const End& e = ends[size_t(end)];
    const End& o = ends[size_t(b.end)];
    return e.chain != o.chain ? e.chain < o.chain : (!e.last && o.last);
}

void NearestEnds::search(int32_t chain)
{
    Best& b = best[size_t(chain)];
    ++b.query;
    ++b.entry;
    b.end = -1;
    b.d = limit2;
    const ClipperLib::IntPoint from = ends[size_t(lastEnd[size_t(chain)])].p;
    const Cell c0 = cellOf(from);
    const int64_t rings = std::max({c0.first - lo.first, hi.first - c0.first, c0.second - lo.second, hi.second - c0.second});
    std::vector<int32_t> ties;
    auto visit = [&](int64_t cx, int64_t cy) {
        const auto it = grid.find({cx, cy});
        if (it == grid.end())
            return;
        for (int32_t e : it->second) {
            const End& end = ends[size_t(e)];
            if (!end.alive || (end.chain == chain && (end.last || !closable[size_t(chain)])))
                continue;
            const double d = endDist2(from, end.p);
            if (d >= limit2 || (b.end >= 0 && d > b.d))
                continue;
            if (b.end < 0 || d < b.d) {
                b.d = d;
                b.end = e;
                ties.clear();
            } else if (before(e, b)) {
                b.end = e;
            }
            ties.push_back(e);
        }
    };
    for (int64_t r = 0; r <= rings; ++r) {
        // Every end in ring r lies more than (r - 1) cells away.
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
    for (int32_t e : ties)
        watchers[size_t(e)].push_back({chain, b.query});
    if (b.end >= 0)
        push(chain);
}

void NearestEnds::push(int32_t chain)
{
    const Best& b = best[size_t(chain)];
    const End& e = ends[size_t(b.end)];
    queue.push({b.d, chain, e.chain, e.last, b.entry});
}

bool NearestEnds::next(Join& join)
{
    while (!queue.empty()) {
        const Entry& t = queue.top();
        const Best& b = best[size_t(t.chain)];
        if (t.entry == b.entry && b.end >= 0) {
            const End& e = ends[size_t(b.end)];
            join = {size_t(t.chain), size_t(e.chain), e.last};
            return true;
        }
        queue.pop();
    }
    return false;
}

// Chains that had the end as their best look again.
void NearestEnds::endGone(int32_t end)
{
    const auto list = std::move(watchers[size_t(end)]);
    watchers[size_t(end)].clear();
    for (const auto& w : list)
        if (best[size_t(w.first)].query == w.second && best[size_t(w.first)].end == end)
            search(w.first);
}

// The end now belongs to another chain: chains that had it as their best look again; those
// that had it as an equally near one take it when its new owner comes first.
void NearestEnds::endMoved(int32_t end)
{
    const auto list = std::move(watchers[size_t(end)]);
    watchers[size_t(end)].clear();
    for (const auto& w : list) {
        Best& b = best[size_t(w.first)];
        if (b.query != w.second)
            continue;
        if (b.end == end) {
            search(w.first);
            continue;
        }
        if (before(end, b)) {
            b.end = end;
            ++b.entry;
            push(w.first);
        }
        watchers[size_t(end)].push_back(w);
    }
}

void NearestEnds::joined(const Join& join, size_t kept, bool keptClosable)
{
    auto drop = [&](size_t c) {
        ++best[c].query;
        ++best[c].entry;
        best[c].end = -1;
        firstEnd[c] = lastEnd[c] = -1;
    };
    if (join.from == join.to) {
        const int32_t f = firstEnd[join.from], l = lastEnd[join.from];
        ends[size_t(f)].alive = ends[size_t(l)].alive = false;
        drop(join.from);
        endGone(f);
        endGone(l);
        return;
    }
    // The kept chain's last point and the taken chain's joined end are gone; the taken
    // chain's other end becomes the kept chain's last point.
    const size_t taken = kept == join.from ? join.to : join.from;
    const int32_t keptLast = lastEnd[kept];
    const int32_t joinedEnd = join.toLast ? lastEnd[taken] : firstEnd[taken];
    const int32_t farEnd = join.toLast ? firstEnd[taken] : lastEnd[taken];
    ends[size_t(keptLast)].alive = ends[size_t(joinedEnd)].alive = false;
    ends[size_t(farEnd)].chain = int32_t(kept);
    ends[size_t(farEnd)].last = true;
    drop(taken);
    lastEnd[kept] = farEnd;
    closable[kept] = keptClosable;
    ++best[kept].query;
    endGone(keptLast);
    endGone(joinedEnd);
    endMoved(farEnd);
    search(int32_t(kept));
}
