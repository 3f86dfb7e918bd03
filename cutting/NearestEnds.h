#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <clipper.hpp>

#include "scene/BigAllocator.h"

// Squared distance between two section points, in double so far coordinates cannot overflow.
inline double endDist2(const ClipperLib::IntPoint& a, const ClipperLib::IntPoint& b)
{
    const double dx = double(a.X - b.X), dy = double(a.Y - b.Y);
    return dx * dx + dy * dy;
}

// Division rounding towards minus infinity, for grid cells either side of zero.
inline int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Picks the joins of the nearest-ends pass over open chains: the smallest squared distance
// from a chain's last point to any chain's first point (its own too, when it may close) or
// to another chain's last point; ties go to the lowest chain, then the lowest partner, a
// first point before a last point. Ends sit in a grid by their point, so a join costs a few
// grid lookups however many ends share a point, instead of a scan over all pairs. The grid is
// one array of points ordered by cell, with each cell's live points at the front of its run.
class NearestEnds
{
public:
    struct Join
    {
        size_t from = 0; // the chain whose last point joins
        size_t to = 0;   // the chain joined; from itself when it closes
        bool toLast = false; // to's last point rather than its first
    };

    // first and last points per chain; empty chains are left out. Joins need a squared
    // distance below limit2. A chain may close on itself only when closable says so. stop is
    // asked between steps of the setup; when it says yes, stopped() is true and next() gives
    // no join.
    NearestEnds(const std::vector<ClipperLib::IntPoint>& firsts, const std::vector<ClipperLib::IntPoint>& lasts,
                const std::vector<bool>& present, const std::vector<bool>& closable, double limit2,
                const std::function<bool()>& stop = {});

    bool stopped() const { return halted; }
    // The next join; false when no pair is within the limit.
    bool next(Join& join);
    // Report the join next() gave, once done: which chain kept the points (from, or for two
    // last points the longer one) and whether it may now close on itself.
    void joined(const Join& join, size_t kept, bool keptClosable);

    // Chains per range of the first searches, which run side by side; tests lower it so that
    // small inputs take that road too.
    static size_t searchGrain;

private:
    // An end's chain and whether it is the last point, as chain * 2 + last: the order ties
    // are broken in.
    using Key = int32_t;
    static Key keyOf(int32_t chain, bool last) { return chain * 2 + (last ? 1 : 0); }
    // The ends at a point: those it started with are a run of keys in tie order, where a gone
    // end is skipped; an end that comes back (under another key) is kept in a short sorted
    // list beside the run. Ends only ever come back as the new last point of a joined chain,
    // whose next join is searched at once, so few wait there.
    struct Point
    {
        ClipperLib::IntPoint p;
        int32_t run = 0, runEnd = 0; // its keys in keys
        int32_t count = 0;           // live ends, the list's included
        int32_t slot = -1;           // place in cellPoints; -1 when the grid was made without it
        std::vector<Key> back;       // ends that came back, in tie order
    };
    struct End
    {
        int32_t point = -1;
        int32_t chain = -1;
        bool last = false;
        int32_t key = -1; // place in keys while it is there; -1 once gone from the run
    };
    struct Best
    {
        double d = 0.0;
        int32_t point = -1;          // a nearest point with an end it may join, at d; -1 for none
        std::vector<int32_t> others; // the rest of them, when several lie at d
    };
    struct Entry
    {
        double d;
        int32_t chain;
        bool operator<(const Entry& o) const { return d != o.d ? d < o.d : chain < o.chain; }
    };
    using Cell = std::pair<int64_t, int64_t>;

    Cell cellOf(const ClipperLib::IntPoint& p) const;
    size_t cellIndex(const ClipperLib::IntPoint& p) const;
    void buildGrid();
    void setLive(int32_t point, bool live);
    // The first end at the point, in tie order, that chain may join; -1 for none.
    Key partnerAt(int32_t point, int32_t chain) const;
    int32_t firstLive(int32_t i) const;
    bool mayJoin(Key k, int32_t chain) const { return k / 2 != chain || (k % 2 == 0 && closable[size_t(chain)]); }
    Key onlyEnd(const Point& pt) const;
    // The nearest points of chain's last point with an end it may join, into b.
    void findNearest(int32_t chain, Best& b) const;
    void queueNearest(int32_t chain);
    void search(int32_t chain); // both, the grid made again first when most ends have gone
    void remove(int32_t end);
    void insert(int32_t end);
    // The queue: one entry per chain with nearest points, least first; a chain's entry moves
    // when it is searched again and goes when the chain does, so no entry is ever stale.
    void place(size_t i, const Entry& e);
    void siftDown(size_t i, Entry e);
    void queueSet(int32_t chain, double d);
    void queueErase(int32_t chain);

    double limit2;
    int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0; // bounds of the ends
    size_t live = 0;       // ends still there
    size_t gridFor = 0;    // ends there when the grid was made
    int64_t cellSize = 1;
    Cell lo{0, 0}, hi{0, 0};
    HugeList<Point> points;
    HugeList<Key> keys; // every point's starting run, point after point
    // Per place in keys, a later place that is no nearer its next live key; a place with a
    // live key points at itself, and the place past the end too. Shortened as it is read;
    // nothing is gone yet while the first searches run side by side, so they never write it.
    mutable HugeList<int32_t> skip;
    bool halted = false;
    HugeList<End> ends;
    HugeList<int32_t> firstEnd, lastEnd;
    std::vector<bool> closable;
    HugeList<Best> best;
    struct Run
    {
        int32_t start = 0; // the cell's points in cellPoints
        int32_t live = 0;  // how many of them, from start, have live ends
    };
    struct Slot
    {
        ClipperLib::IntPoint p; // a copy, so that a search reads its cells in order
        int32_t point = -1;
        Key only = -1; // the point's one live end, when it has one only: most points do
    };
    int64_t columns = 1;           // cells per row of the grid, from lo to hi
    HugeList<Run> cells;
    HugeList<Slot> cellPoints;  // points by cell, those with live ends first
    HugeList<Entry> queue;      // a binary heap
    HugeList<int32_t> queuedAt; // per chain, its place in queue; -1 when not there
};
