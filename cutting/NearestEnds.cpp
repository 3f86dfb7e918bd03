#include "cutting/NearestEnds.h"

#include <algorithm>
#include <cmath>

#include "scene/Parallel.h"

size_t NearestEnds::searchGrain = 4096;

NearestEnds::NearestEnds(const std::vector<ClipperLib::IntPoint>& firsts, const std::vector<ClipperLib::IntPoint>& lasts,
                         const std::vector<bool>& present, const std::vector<bool>& closable, double limit2)
    : limit2(limit2), firstEnd(firsts.size(), -1), lastEnd(firsts.size(), -1), closable(closable), best(firsts.size()),
      queuedAt(firsts.size(), -1)
{
    x0 = y0 = INT64_MAX;
    x1 = y1 = INT64_MIN;
    for (size_t c = 0; c < firsts.size(); ++c) {
        if (!present[c])
            continue;
        for (int k = 0; k < 2; ++k) {
            const ClipperLib::IntPoint& p = k == 0 ? firsts[c] : lasts[c];
            x0 = std::min<int64_t>(x0, p.X);
            y0 = std::min<int64_t>(y0, p.Y);
            x1 = std::max<int64_t>(x1, p.X);
            y1 = std::max<int64_t>(y1, p.Y);
            (k == 0 ? firstEnd : lastEnd)[c] = int32_t(ends.size());
            ends.push_back({-1, int32_t(c), k == 1});
        }
    }
    if (ends.empty())
        return;
    // One point per place: the ends sorted by place.
    auto placeOf = [&](int32_t e) -> const ClipperLib::IntPoint& {
        const End& end = ends[size_t(e)];
        return (end.last ? lasts : firsts)[size_t(end.chain)];
    };
    std::vector<int32_t> byPlace(ends.size());
    for (size_t e = 0; e < ends.size(); ++e)
        byPlace[e] = int32_t(e);
    std::sort(byPlace.begin(), byPlace.end(), [&](int32_t a, int32_t b) {
        const ClipperLib::IntPoint &p = placeOf(a), &q = placeOf(b);
        return p.X != q.X ? p.X < q.X : p.Y != q.Y ? p.Y < q.Y : a < b;
    });
    for (size_t i = 0; i < byPlace.size(); ++i) {
        const ClipperLib::IntPoint& p = placeOf(byPlace[i]);
        if (i == 0 || p.X != points.back().p.X || p.Y != points.back().p.Y)
            points.push_back({p, {}, -1});
        ends[size_t(byPlace[i])].point = int32_t(points.size() - 1);
    }
    // Ends come in tie order, so each goes in at the back of its point's set.
    for (const End& e : ends) {
        auto& at = points[size_t(e.point)].ends;
        at.emplace_hint(at.end(), e.chain, e.last);
    }
    live = ends.size();
    buildGrid();
    // The first searches only read the grid, so they run side by side; the queue is filled
    // after, in the order of the chains.
    parallelRanges(firsts.size(), searchGrain, [&](size_t begin, size_t end) {
        for (size_t c = begin; c < end; ++c)
            if (present[c])
                findNearest(int32_t(c), best[c]);
    });
    for (size_t c = 0; c < firsts.size(); ++c)
        if (present[c])
            queueNearest(int32_t(c));
}

// About one end per cell where the ends spread over an area, so about as many cells as ends.
// Made again when most ends have gone, so that a search does not walk rings of empty cells.
void NearestEnds::buildGrid()
{
    const double extent = double(std::max(x1 - x0, y1 - y0));
    cellSize = std::max<int64_t>(20, int64_t(extent / std::sqrt(double(std::max<size_t>(live, 1)))));
    lo = cellOf({x0, y0});
    hi = cellOf({x1, y1});
    columns = hi.first - lo.first + 1;
    cells.assign(size_t(columns * (hi.second - lo.second + 1)), Run());
    for (Point& pt : points) {
        pt.slot = -1;
        if (!pt.ends.empty())
            ++cells[cellIndex(pt.p)].live;
    }
    int32_t start = 0;
    for (Run& r : cells) {
        r.start = start;
        start += r.live;
        r.live = 0;
    }
    cellPoints.resize(size_t(start));
    for (size_t q = 0; q < points.size(); ++q) {
        Point& pt = points[q];
        if (pt.ends.empty())
            continue;
        Run& r = cells[cellIndex(pt.p)];
        pt.slot = r.start + r.live++;
        cellPoints[size_t(pt.slot)] = {pt.p, int32_t(q)};
    }
    gridFor = live;
}

NearestEnds::Cell NearestEnds::cellOf(const ClipperLib::IntPoint& p) const
{
    return {floorDiv(p.X, cellSize), floorDiv(p.Y, cellSize)};
}

size_t NearestEnds::cellIndex(const ClipperLib::IntPoint& p) const
{
    const Cell c = cellOf(p);
    return size_t((c.second - lo.second) * columns + (c.first - lo.first));
}

// A point that gains its first end moves to the live front of its cell's run; one that loses
// its last moves behind it, so that searches do not keep passing it.
void NearestEnds::setLive(int32_t point, bool on)
{
    Point& pt = points[size_t(point)];
    Run& r = cells[cellIndex(pt.p)];
    const int32_t to = r.start + (on ? r.live : r.live - 1);
    const int32_t other = cellPoints[size_t(to)].point;
    std::swap(cellPoints[size_t(pt.slot)], cellPoints[size_t(to)]);
    points[size_t(other)].slot = pt.slot;
    pt.slot = to;
    r.live += on ? 1 : -1;
}

void NearestEnds::insert(int32_t end)
{
    ++live;
    Point& pt = points[size_t(ends[size_t(end)].point)];
    const bool was = !pt.ends.empty();
    pt.ends.insert({ends[size_t(end)].chain, ends[size_t(end)].last});
    if (was)
        return;
    // An end comes back only where one has just gone, so its point is in the grid; were it
    // not, the grid is made again with it.
    if (pt.slot < 0)
        buildGrid();
    else
        setLive(ends[size_t(end)].point, true);
}

void NearestEnds::remove(int32_t end)
{
    --live;
    Point& pt = points[size_t(ends[size_t(end)].point)];
    pt.ends.erase({ends[size_t(end)].chain, ends[size_t(end)].last});
    if (pt.ends.empty())
        setLive(ends[size_t(end)].point, false);
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
    findNearest(chain, best[size_t(chain)]);
    queueNearest(chain);
}

void NearestEnds::queueNearest(int32_t chain)
{
    const Best& b = best[size_t(chain)];
    if (b.points.empty())
        queueErase(chain);
    else
        queueSet(chain, b.d);
}

void NearestEnds::place(size_t i, const Entry& e)
{
    queue[i] = e;
    queuedAt[size_t(e.chain)] = int32_t(i);
}

// The entry at i moved (or is new): sifted up, else down.
void NearestEnds::queueSet(int32_t chain, double d)
{
    size_t i;
    if (queuedAt[size_t(chain)] < 0) {
        i = queue.size();
        queue.push_back({d, chain});
    } else {
        i = size_t(queuedAt[size_t(chain)]);
    }
    const Entry e{d, chain};
    while (i > 0 && e < queue[(i - 1) / 2]) {
        place(i, queue[(i - 1) / 2]);
        i = (i - 1) / 2;
    }
    for (;;) {
        size_t c = 2 * i + 1;
        if (c >= queue.size())
            break;
        if (c + 1 < queue.size() && queue[c + 1] < queue[c])
            ++c;
        if (!(queue[c] < e))
            break;
        place(i, queue[c]);
        i = c;
    }
    place(i, e);
}

void NearestEnds::queueErase(int32_t chain)
{
    const int32_t at = queuedAt[size_t(chain)];
    if (at < 0)
        return;
    queuedAt[size_t(chain)] = -1;
    const Entry lastEntry = queue.back();
    queue.pop_back();
    if (size_t(at) == queue.size())
        return;
    // The last entry fills the hole and finds its place from there.
    queuedAt[size_t(lastEntry.chain)] = at;
    queue[size_t(at)] = lastEntry;
    queueSet(lastEntry.chain, lastEntry.d);
}

void NearestEnds::findNearest(int32_t chain, Best& b) const
{
    b.points.clear();
    b.d = limit2;
    const ClipperLib::IntPoint from = points[size_t(ends[size_t(lastEnd[size_t(chain)])].point)].p;
    const Cell c0 = cellOf(from);
    const int64_t rings = std::max({c0.first - lo.first, hi.first - c0.first, c0.second - lo.second, hi.second - c0.second});
    auto visitCell = [&](size_t c) {
        const Run r = cells[c];
        for (int32_t i = r.start, n = r.start + r.live; i < n; ++i) {
            const int32_t q = cellPoints[size_t(i)].point;
            const double d = endDist2(from, cellPoints[size_t(i)].p);
            if (d >= limit2 || (!b.points.empty() && d > b.d) || !partnerAt(q, chain))
                continue;
            if (b.points.empty() || d < b.d) {
                b.d = d;
                b.points.clear();
            }
            b.points.push_back(q);
        }
    };
    // Cells xa..xb of row y, and cells ya..yb of column x, those inside the grid.
    auto visitRow = [&](int64_t y, int64_t xa, int64_t xb) {
        if (y < lo.second || y > hi.second)
            return;
        const size_t row = size_t((y - lo.second) * columns);
        for (int64_t x = std::max(xa, lo.first), xe = std::min(xb, hi.first); x <= xe; ++x)
            visitCell(row + size_t(x - lo.first));
    };
    auto visitColumn = [&](int64_t x, int64_t ya, int64_t yb) {
        if (x < lo.first || x > hi.first)
            return;
        for (int64_t y = std::max(ya, lo.second), ye = std::min(yb, hi.second); y <= ye; ++y)
            visitCell(size_t((y - lo.second) * columns + (x - lo.first)));
    };
    for (int64_t r = 0; r <= rings; ++r) {
        // Every point in ring r lies more than (r - 1) cells away.
        const double reach = double((r - 1) * cellSize);
        if (r > 0 && reach * reach >= b.d)
            break;
        if (r == 0) {
            visitRow(c0.second, c0.first, c0.first);
            continue;
        }
        visitRow(c0.second - r, c0.first - r, c0.first + r);
        visitRow(c0.second + r, c0.first - r, c0.first + r);
        visitColumn(c0.first - r, c0.second - r + 1, c0.second + r - 1);
        visitColumn(c0.first + r, c0.second - r + 1, c0.second + r - 1);
    }
}

// Chains come out in the order of their nearest distance, which only grows as ends go, so the
// first chain whose nearest points still hold an end it may join has the next join; which end
// of those points it takes is settled only then.
bool NearestEnds::next(Join& join)
{
    while (!queue.empty()) {
        const Entry t = queue.front();
        const Best& b = best[size_t(t.chain)];
        const Key* partner = nullptr;
        for (int32_t q : b.points) {
            const Key* k = partnerAt(q, t.chain);
            if (k && (!partner || *k < *partner))
                partner = k;
        }
        if (!partner) {
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
        queueErase(int32_t(c));
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
