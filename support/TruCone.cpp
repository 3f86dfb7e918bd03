#include "support/TruCone.h"

TruCone::TruCone() = default;

TruCone::TruCone(const Eigen::Vector3d& c, double r, double l)
    : TruCone(c, r, r, l)
{
}

TruCone::TruCone(const Eigen::Vector3d& c, double r, double r2, double l)
    : secondRadius(r2)
    , startTangent(axis)
    , endTangent(axis)
{
    centre = c;
    radius = r;
    length = l;
}

void TruCone::generateSections(CircleSections& out) const
{
    out.clear();
    if (length < 1e-6 || sections < 1)
        return;
    const Eigen::Vector3d p0 = centre - (length / 2) * axis, p1 = centre + (length / 2) * axis;
    const Eigen::Vector3d t0 = length * startTangent, t1 = length * endTangent;
    const int n = sections;
    for (int k = 0; k <= n; ++k) {
        const double s = double(k) / n, s2 = s * s, s3 = s2 * s;
        const Eigen::Vector3d at = (2 * s3 - 3 * s2 + 1) * p0 + (s3 - 2 * s2 + s) * t0 + (-2 * s3 + 3 * s2) * p1 + (s3 - s2) * t1;
        const Eigen::Vector3d d = (6 * s2 - 6 * s) * p0 + (3 * s2 - 4 * s + 1) * t0 + (-6 * s2 + 6 * s) * p1 + (3 * s2 - 2 * s) * t1;
        out.emplace_back(at, d.norm() > 1e-12 ? d : axis, radius + (secondRadius - radius) * s);
    }
}
