#include "support/CircleVolume.h"

#include <cmath>

#include "scene/Constants.h"
#include "scene/MeshData.h"

namespace {
constexpr double ApexRadius = 1e-6;

Eigen::Vector3d anyPerpendicular(const Eigen::Vector3d& n)
{
    const Eigen::Vector3d other = std::fabs(n.x()) < 0.9 ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitY();
    return n.cross(other).normalized();
}
} // namespace

bool CircleSection::operator==(const CircleSection& o) const
{
    const double eps = 1e-12;
    return (centre - o.centre).squaredNorm() < eps && (normal - o.normal).squaredNorm() < eps
           && (radius - o.radius) * (radius - o.radius) < eps;
}

void CircleVolume::removeRepeats(CircleSections& list)
{
    CircleSections kept;
    for (const auto& s : list)
        if (kept.empty() || !(kept.back() == s))
            kept.push_back(s);
    list.swap(kept);
}

bool CircleVolume::buildMesh(MeshData& out) const
{
    MeshData::clear(out);
    CircleSections list;
    generateSections(list);
    return meshFromSections(list, segments, out);
}

bool CircleVolume::meshFromSections(CircleSections list, int segments, MeshData& out)
{
    removeRepeats(list);
    if (list.size() < 2 || segments < 3)
        return false;
    for (const auto& s : list)
        if (!s.centre.allFinite() || !s.normal.allFinite() || !std::isfinite(s.radius))
            return false;

    // Each ring: its first vertex index, or an apex (one vertex).
    struct Ring
    {
        int first;
        bool apex;
    };
    std::vector<Ring> rings;
    Eigen::Vector3d ref = anyPerpendicular(list.front().normal);
    for (const auto& s : list) {
        // The reference direction is carried along, so the rings do not twist.
        Eigen::Vector3d r = ref - ref.dot(s.normal) * s.normal;
        ref = r.norm() > 1e-9 ? r.normalized() : anyPerpendicular(s.normal);
        const Eigen::Vector3d side = s.normal.cross(ref);
        const int first = int(out.vertices.size());
        if (std::fabs(s.radius) < ApexRadius) {
            out.vertices.push_back({s.centre.x(), s.centre.y(), s.centre.z()});
            rings.push_back({first, true});
            continue;
        }
        for (int k = 0; k < segments; ++k) {
            const double a = 2 * PI * k / segments;
            const Eigen::Vector3d p = s.centre + s.radius * (std::cos(a) * ref + std::sin(a) * side);
            out.vertices.push_back({p.x(), p.y(), p.z()});
        }
        rings.push_back({first, false});
    }
    auto at = [&](const Ring& r, int k) { return r.apex ? r.first : r.first + k % segments; };
    auto cap = [&](size_t i, bool bottom) {
        const Ring& r = rings[i];
        if (r.apex)
            return;
        const auto& c = list[i].centre;
        const int centreIndex = int(out.vertices.size());
        out.vertices.push_back({c.x(), c.y(), c.z()});
        for (int k = 0; k < segments; ++k) {
            if (bottom)
                out.faces.push_back({centreIndex, at(r, k + 1), at(r, k)});
            else
                out.faces.push_back({centreIndex, at(r, k), at(r, k + 1)});
        }
    };
    cap(0, true);
    for (size_t i = 1; i < rings.size(); ++i) {
        const Ring& a = rings[i - 1];
        const Ring& b = rings[i];
        if (a.apex && b.apex)
            continue;
        for (int k = 0; k < segments; ++k) {
            if (!a.apex)
                out.faces.push_back({at(a, k), at(a, k + 1), at(b, k + 1)});
            if (!b.apex)
                out.faces.push_back({at(a, k), at(b, k + 1), at(b, k)});
        }
    }
    cap(rings.size() - 1, false);
    return true;
}
