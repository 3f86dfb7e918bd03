#include "support/Parallelepiped.h"

Parallelepiped::Parallelepiped(const Eigen::Vector3d& c, double sa, double sb, double sh)
{
    centre = c;
    a = sa;
    b = sb;
    h = sh;
}

void Parallelepiped::generateSections(ParallelogramSections& out) const
{
    out.emplace_back(centre - (h / 2) * w, u, v, a, b);
    out.emplace_back(centre + (h / 2) * w, u, v, a, b);
}
