#include "support/Chassis.h"

#include <cmath>

#include "scene/Constants.h"

Chassis::Chassis(const Eigen::Vector3d& c, double sa, double sb)
    : sideAngle(PI / 4)
{
    centre = c;
    a = sa;
    b = sb;
    h = 2.0;
    capMode = 1;
}

void Chassis::generateSections(ParallelogramSections& out) const
{
    const double t = std::tan(sideAngle);
    if (!(std::fabs(t) > 1e-9))
        return;
    const double heights[4] = {0.0, h, h, ledgeHeight};
    const double insets[4] = {0.0, 2 * h / t, 2 * (h - ledgeHeight) / t, 0.0};
    for (int i = 0; i < 4; ++i)
        out.emplace_back(centre + heights[i] * w, u, v, a + insets[i], b + insets[i]);
}
