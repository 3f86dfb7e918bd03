#include "cutting/NearestEnds.h"

#include <algorithm>
#include <cmath>

#include "scene/BigAllocator.h"
#include "scene/Parallel.h"
#include "scene/RadixSort.h"

size_t NearestEnds::searchGrain = 4096;

NearestEnds::NearestEnds(const std::vector<ClipperLib::IntPoint>& firsts, const std::vector<ClipperLib::IntPoint>& lasts,
                         const std::vector<bool>& present, const std::vector<bool>& closable, double limit2,
                         const std::function<bool()>& stop)
    : limit2(limit2), firstEnd(firsts.size(), -1), lastEnd(firsts.size(), -1), closable(closable), best(firsts.size()),
      queuedAt(firsts.size(), -1)
{
    auto stopNow = [&] { return halted = halted || (stop && stop()); };
    x0 = y0 = INT64_MAX;
    x1 = y1 = INT64_MIN;
    // One point per place: the ends sorted by place, and at each place in tie order, which
    // is the order they are made in.
    struct Placed
    {
        ClipperLib::IntPoint p;
        int32_t end;
        uint64_t place = 0;
    };
    HugeList<Placed> byPlace;
    byPlace.reserve(2 * firsts.size());
    ends.reserve(2 * firsts.size());
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
            byPlace.push_back({p, int32_t(ends.size()), 0});
            ends.push_back({-1, int32_t(c), k == 1, -1});
        }
    }
    if (ends.empty() || stopNow())
        return;
    placeKeys(byPlace.size(), [&](size_t i) { return std::array<int64_t, 2>{byPlace[i].p.X, byPlace[i].p.Y}; },
              [&](size_t i, uint64_t key) { byPlace[i].place = key; });
    radixSortRange(byPlace.data(), byPlace.size(), [](const Placed& p) { return p.place; });
    if (stopNow())
        return;
    keys.assign(byPlace.size(), 0);
    skip.assign(byPlace.size() + 1, 0);
    points.reserve(byPlace.size());
    for (size_t i = 0; i < byPlace.size(); ++i) {
        const ClipperLib::IntPoint& p = byPlace[i].p;
        if (i == 0 || p.X != points.back().p.X || p.Y != points.back().p.Y) {
            if (!points.empty())
                points.back().runEnd = int32_t(i);
            points.push_back({p, int32_t(i), int32_t(i), 0, -1, {}});
        }
        End& e = ends[size_t(byPlace[i].end)];
        e.point = int32_t(points.size() - 1);
        e.key = int32_t(i);
        keys[i] = keyOf(e.chain, e.last);
        skip[i] = int32_t(i);
        ++points.back().count;
    }
    points.back().runEnd = int32_t(byPlace.size());
    skip.back() = int32_t(byPlace.size());
    live = ends.size();
    buildGrid();
    // The first searches only read the grid, so they run side by side, a batch at a time so
    // that a stop is seen soon; the queue is made after, in one go.
    const size_t batch = std::max<size_t>(searchGrain, 65536);
    for (size_t from = 0; from < firsts.size(); from += batch) {
        if (stopNow())
            return;
        parallelRanges(std::min(batch, firsts.size() - from), searchGrain, [&](size_t begin, size_t end) {
            for (size_t c = from + begin; c < from + end; ++c)
                if (present[c])
                    findNearest(int32_t(c), best[c]);
        });
    }
    queue.reserve(firsts.size());
    for (size_t c = 0; c < firsts.size(); ++c)
        if (best[c].point >= 0)
            queue.push_back({best[c].d, int32_t(c)});
    for (size_t i = queue.size() / 2; i-- > 0;)
        siftDown(i, queue[i]);
    for (size_t i = 0; i < queue.size(); ++i)
        queuedAt[size_t(queue[i].chain)] = int32_t(i);
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
        if (pt.count > 0)
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
        if (pt.count == 0)
            continue;
        Run& r = cells[cellIndex(pt.p)];
        pt.slot = r.start + r.live++;
        cellPoints[size_t(pt.slot)] = {pt.p, int32_t(q), onlyEnd(pt)};
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
    const End& e = ends[size_t(end)];
    Point& pt = points[size_t(e.point)];
    const Key k = keyOf(e.chain, e.last);
    pt.back.insert(std::lower_bound(pt.back.begin(), pt.back.end(), k), k);
    if (pt.count++ > 0) {
        cellPoints[size_t(pt.slot)].only = onlyEnd(pt);
        return;
    }
    // An end comes back only where one has just gone, so its point is in the grid; were it
    // not, the grid is made again with it.
    if (pt.slot < 0) {
        buildGrid();
    } else {
        setLive(e.point, true);
        cellPoints[size_t(pt.slot)].only = onlyEnd(pt);
    }
}

void NearestEnds::remove(int32_t end)
{
    --live;
    End& e = ends[size_t(end)];
    Point& pt = points[size_t(e.point)];
    if (e.key >= 0) {
        skip[size_t(e.key)] = e.key + 1;
        e.key = -1;
    } else {
        pt.back.erase(std::lower_bound(pt.back.begin(), pt.back.end(), keyOf(e.chain, e.last)));
    }
    if (--pt.count == 0)
        setLive(e.point, false);
    cellPoints[size_t(pt.slot)].only = onlyEnd(pt);
}

NearestEnds::Key NearestEnds::onlyEnd(const Point& pt) const
{
    if (pt.count != 1)
        return -1;
    return pt.back.empty() ? keys[size_t(firstLive(pt.run))] : pt.back.front();
}

// The first live place in keys from i on (the place past the end when none), halving the
// path on the way.
int32_t NearestEnds::firstLive(int32_t i) const
{
    while (skip[size_t(i)] != i) {
        const int32_t next = skip[size_t(skip[size_t(i)])];
        skip[size_t(i)] = next;
        i = next;
    }
    return i;
}

// Never its own last point, its own first point only when it may close; a chain has at most
// those two ends at a point, so each list is read no further than its third end.
NearestEnds::Key NearestEnds::partnerAt(int32_t point, int32_t chain) const
{
    const Point& pt = points[size_t(point)];
    auto may = [&](Key k) { return mayJoin(k, chain); };
    for (int32_t i = firstLive(pt.run); i < pt.runEnd; i = firstLive(i + 1))
        if (may(keys[size_t(i)])) {
            const Key k = keys[size_t(i)];
            for (Key b : pt.back)
                if (b < k && may(b))
                    return b;
            return k;
        }
    for (Key b : pt.back)
        if (may(b))
            return b;
    return -1;
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
    if (b.point < 0)
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
    siftDown(i, e);
}

void NearestEnds::siftDown(size_t i, Entry e)
{
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
    b.point = -1;
    b.others.clear();
    b.d = limit2;
    const ClipperLib::IntPoint from = points[size_t(ends[size_t(lastEnd[size_t(chain)])].point)].p;
    const Cell c0 = cellOf(from);
    const int64_t rings = std::max({c0.first - lo.first, hi.first - c0.first, c0.second - lo.second, hi.second - c0.second});
    auto visitCell = [&](size_t c) {
        const Run r = cells[c];
        for (int32_t i = r.start, n = r.start + r.live; i < n; ++i) {
            const Slot& s = cellPoints[size_t(i)];
            const int32_t q = s.point;
            const double d = endDist2(from, s.p);
            if (d >= limit2 || (b.point >= 0 && d > b.d) || !(s.only >= 0 ? mayJoin(s.only, chain) : partnerAt(q, chain) >= 0))
                continue;
            if (b.point < 0 || d < b.d) {
                b.d = d;
                b.point = q;
                b.others.clear();
            } else {
                b.others.push_back(q);
            }
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
        Key partner = partnerAt(b.point, t.chain);
        for (int32_t q : b.others) {
            const Key k = partnerAt(q, t.chain);
            if (k >= 0 && (partner < 0 || k < partner))
                partner = k;
        }
        if (partner < 0) {
            search(t.chain);
            continue;
        }
        join = {size_t(t.chain), size_t(partner / 2), partner % 2 == 1};
        return true;
    }
    return false;
}

void NearestEnds::joined(const Join& join, size_t kept, bool keptClosable)
{
    auto drop = [&](size_t c) {
        queueErase(int32_t(c));
        best[c].point = -1;
        best[c].others.clear();
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
    // Joined at its first point, the taken chain hands on its last point, whose nearest points
    // it searched for. The kept chain may join no end there that the taken chain could not
    // (its own first point only when it may close), and ends have only gone since, so none
    // lies nearer: those points are queued for it as they are, and next() searches again
    // only if none of them still has an end it may join when they come up.
    if (!join.toLast)
        std::swap(best[kept], best[taken]);
    drop(taken);
    lastEnd[kept] = farEnd;
    closable[kept] = keptClosable;
    if (!join.toLast)
        queueNearest(int32_t(kept));
    else
        search(int32_t(kept));
}
