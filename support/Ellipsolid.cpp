#include "support/Ellipsolid.h"

#include <cmath>

#include "scene/Constants.h"

Ellipsolid::Ellipsolid()
    : endAngle(PI)
{
    length = 2 * radius;
}

Ellipsolid::Ellipsolid(const Eigen::Vector3d& c, double r)
    : Ellipsolid(c, r, 2 * r)
{
}

Ellipsolid::Ellipsolid(const Eigen::Vector3d& c, double r, double l)
    : endAngle(PI)
{
    centre = c;
    radius = r;
    length = l;
}

void Ellipsolid::generateSections(CircleSections& out) const
{
    out.clear();
    if (radius < 1e-6 || startAngle > endAngle + 1e-6 || sections < 1 || length < 1e-12)
        return;
    const int n = sections;
    const double step = (endAngle - startAngle) / n;
    for (int k = 0; k <= n; ++k) {
        const double phi = startAngle + k * step - PI / 2;
        const double s = std::sin(phi), c = std::cos(phi);
        const double r = 1.0 / std::sqrt(4 * s * s / (length * length) + c * c / (radius * radius));
        out.emplace_back(centre + (s * r) * axis, axis, c * r);
    }
}
