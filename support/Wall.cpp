#include "support/Wall.h"

#include <cmath>

#include "scene/Constants.h"

Wall::Wall(const Eigen::Vector3d& c, double sa, double sb, double sh)
    : angle(PI / 4)
{
    centre = c;
    a = sa;
    b = sb;
    h = sh;
    capMode = 0;
}

void Wall::generateSections(ParallelogramSections& out) const
{
    const double slant = std::tan(angle);
    const double pitch = slant * a + h;
    if (!(a > 0.0) || !(b > 0.0) || !(h > 0.0) || !(pitch > 0.0) || !std::isfinite(pitch))
        return;
    const double count = std::floor(b / pitch) + 1;
    if (count > 10000)
        return;
    const int struts = int(count);
    const double rail = std::min(ledgeHeight, h);
    const double strutHeight = h - rail;
    // Each strut leans along v by slant over its height; its foot and head stay inside the wall.
    const double lean = std::min(strutHeight * slant, b - a);
    const double width = std::min(a, b);
    const Eigen::Vector3d base = centre - (h / 2) * w;
    if (strutHeight > 0.0) {
        const double first = -b / 2 + width / 2, last = b / 2 - width / 2 - std::max(0.0, lean);
        for (int i = 0; i < struts; ++i) {
            const double y = struts == 1 ? (first + last) / 2 : first + (last - first) * i / (struts - 1);
            out.emplace_back(base + y * v, u, v, a, width);
            out.emplace_back(base + (y + std::max(0.0, lean)) * v + strutHeight * w, u, v, a, width);
        }
    }
    // The two end sections: the rail along the whole top.
    out.emplace_back(base + strutHeight * w, u, v, a, b);
    out.emplace_back(base + h * w, u, v, a, b);
}
