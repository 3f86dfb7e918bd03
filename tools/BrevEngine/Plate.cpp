#include "Plate.h"

#include <algorithm>
#include <cmath>

using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

namespace brev {

Plate::Plate(const EngineSettings& s)
{
    if (s.platformXUm <= 0)
        return;
    cx_ = double(s.posxUm);
    cy_ = double(s.posyUm);
    round_ = s.platformYUm <= 0;
    halfX_ = double(s.platformXUm) / 2;
    halfY_ = round_ ? halfX_ : double(s.platformYUm) / 2;
    Path p;
    if (round_) {
        // Inscribed: a 720-gon of a 150 mm plate falls short of the circle by under 2 µm.
        constexpr int kSides = 720;
        for (int k = 0; k < kSides; ++k) {
            const double a = 2 * 3.14159265358979323846 * k / kSides;
            p.emplace_back(std::llround(cx_ + halfX_ * std::cos(a)), std::llround(cy_ + halfX_ * std::sin(a)));
        }
    } else {
        p = {IntPoint(std::llround(cx_ - halfX_), std::llround(cy_ - halfY_)),
             IntPoint(std::llround(cx_ + halfX_), std::llround(cy_ - halfY_)),
             IntPoint(std::llround(cx_ + halfX_), std::llround(cy_ + halfY_)),
             IntPoint(std::llround(cx_ - halfX_), std::llround(cy_ + halfY_))};
    }
    area_.push_back(std::move(p));
}

double Plate::pastUm(double x, double y) const
{
    const double dx = x - cx_, dy = y - cy_;
    if (round_)
        return std::hypot(dx, dy) - halfX_;
    return std::max(std::fabs(dx) - halfX_, std::fabs(dy) - halfY_);
}

double Plate::reachPastUm(const StlMesh& mesh) const
{
    double most = 0;
    if (!limited())
        return most;
    for (const Triangle& t : mesh.triangles)
        if (t.zMax > 0)
            for (int k = 0; k < 3; ++k)
                most = std::max(most, pastUm(t.x[k], t.y[k]));
    return most;
}

Paths Plate::clipped(const Paths& region) const
{
    if (!limited() || region.empty())
        return region;
    bool inside = true;
    // The plate is convex: a polygon whose corners lie on it lies on it whole.
    for (const Path& path : region)
        for (const IntPoint& p : path)
            inside = inside && pastUm(double(p.X), double(p.Y)) <= (round_ ? -2.0 : 0.0);
    if (inside)
        return region;
    ClipperLib::Clipper c;
    c.AddPaths(region, ClipperLib::ptSubject, true);
    c.AddPaths(area_, ClipperLib::ptClip, true);
    Paths out;
    c.Execute(ClipperLib::ctIntersection, out, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    return out;
}

} // namespace brev
