#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

// Fills polygons with holes by ear clipping with hole bridging, exactly on integer points.
// Outlines must not cross (they may touch). Every outline point ends up as a triangle
// corner: points lying on a straight stretch are never dropped, so the caps meet the
// outline's own edges one to one.
class CapTriangulator
{
public:
    struct Point
    {
        int64_t x, y;
        int32_t id; // caller's vertex id; equal points carry equal ids
    };
    using Ring = std::vector<Point>;

    // outer counter-clockwise, holes clockwise. Appends triangles (ids, counter-clockwise).
    // False when no triangulation was found or *stop became non-zero.
    static bool triangulate(const Ring& outer, const std::vector<Ring>& holes,
                            std::vector<std::array<int32_t, 3>>& out,
                            const std::atomic<int>* stop = nullptr);
};
