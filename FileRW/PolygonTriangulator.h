#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// Cuts planar polygons into triangles by one sweep across the plane, on whole-number points:
// n log n in the number of corners whatever the shape, with holes, islands and rings that
// touch filled by the even-odd rule in the same pass. OBJ faces are projected onto their own
// plane first; the cut engine fills its caps and sections on whole micrometres directly.
class PolygonTriangulator
{
public:
    using Point3 = std::array<double, 3>;
    using Point2 = std::array<double, 2>;
    using Triangle = std::array<int32_t, 3>;
    using GridPoint = std::array<int64_t, 2>;
    using Stop = std::function<bool()>;

    // Set by another thread to stop a long earClip; it then gives no triangles.
    const std::atomic<bool>* cancelled = nullptr;

    // Fills the projected points; the projected polygon runs counter-clockwise.
    // False when the polygon has no plane (all corners on one line or one point).
    bool projectPolygon(const std::vector<Point3>& points);
    // Triangles of the projected polygon, its winding kept. None when it cannot be filled
    // (it crosses itself) or when cancelled.
    void earClip(std::vector<Triangle>& out) const;

    // Convenience: both steps for one polygon.
    static std::vector<Triangle> triangulate(const std::vector<Point3>& points);

    enum class Fill { Done, Crossing, Stopped };
    // Fills what the rings enclose by the even-odd rule, appending counter-clockwise triangles
    // whose corners are indices into points. Rings are closed lists of indices; equal points are
    // one corner, and a ring point lying on another ring's edge splits that edge. Rings that
    // cross give Crossing with the two rings (positions in rings), and nothing is appended.
    // stop is asked now and then; true ends the fill with Stopped. exact, when given, tells
    // whether the triangles' outline is the rings' edges as given: no points fell together,
    // no edge was split or cancelled and no stretch of no width was left out.
    static Fill fillRings(const std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& rings,
                          std::vector<Triangle>& out, const Stop& stop = {}, std::array<int32_t, 2>* crossing = nullptr,
                          bool* exact = nullptr);

    // fillRings for rings as they come: the triangles of a set of rings turn the way the set
    // runs on the whole (clockwise when its signed area is negative). Rings that cross others are
    // set apart and filled each on its own; a ring that crosses itself is left out. False only
    // on a stop. exact as for fillRings, and false when rings were set apart.
    static bool fillEvenOdd(const std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& rings,
                            std::vector<Triangle>& out, const Stop& stop = {}, bool* exact = nullptr);

    // fillEvenOdd for rings that may cross, themselves or each other (open chains joined into
    // loops): where they do, the crossing edges are split at the crossing, rounded to the grid
    // and appended to points, and all rings are filled together by the even-odd rule. Each grid
    // entry and edge pair looked at takes one from budget; once it is spent the rings are filled
    // as fillEvenOdd does. exact as for fillEvenOdd, and false when points were added.
    static bool fillCrossing(std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& rings,
                             std::vector<Triangle>& out, size_t& budget, const Stop& stop = {}, bool* exact = nullptr);

    // Turns the triangles from `from` on the way the set of rings runs on the whole.
    static void turnLikeRings(const std::vector<GridPoint>& points, const std::vector<std::vector<int32_t>>& set,
                              std::vector<Triangle>& out, size_t from);

    // The sweep finds a corner that only goes on along a ring from the edge ending there,
    // without a search; tests set this to search for every corner, which must fill the same.
    static bool searchEveryCorner;

    // Twice the ring's signed area, exactly: positive when it runs counter-clockwise.
    static __int128 ringArea2(const std::vector<GridPoint>& points, const std::vector<int32_t>& ring);

private:
    void project(const std::vector<Point3>& points, Point3 normal);

    std::vector<Point2> points2d;
};
