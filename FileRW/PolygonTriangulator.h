#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

// Cuts one planar polygon into triangles: projects it onto its own plane, then clips ears.
// Triangles come out as index triples into the polygon's corner list, with its winding kept.
class PolygonTriangulator
{
public:
    using Point3 = std::array<double, 3>;
    using Point2 = std::array<double, 2>;
    using Triangle = std::array<int32_t, 3>;

    // Set by another thread to stop a long earClip; it then gives no triangles.
    const std::atomic<bool>* cancelled = nullptr;

    // Fills the projected points; the projected polygon runs counter-clockwise.
    // False when the polygon has no plane (all corners on one line or one point).
    bool projectPolygon(const std::vector<Point3>& points);
    // Gives no triangles when the outline cannot be filled (no ear left to cut).
    void earClip(std::vector<Triangle>& out) const;
    bool pointInTriangle(int a, int b, int c, int p) const;

    const std::vector<Point2>& projected() const { return points2d; }

    // Convenience: both steps for one polygon.
    static std::vector<Triangle> triangulate(const std::vector<Point3>& points);

private:
    std::vector<Point2> points2d;
};
