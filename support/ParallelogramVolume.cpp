#include "support/ParallelogramVolume.h"

#include "scene/MeshData.h"

bool ParallelogramSection::operator==(const ParallelogramSection& o) const
{
    const double eps = 1e-6;
    return (centre - o.centre).squaredNorm() < eps && (u - o.u).squaredNorm() < eps && (v - o.v).squaredNorm() < eps
           && (lengthU - o.lengthU) * (lengthU - o.lengthU) < eps && (lengthV - o.lengthV) * (lengthV - o.lengthV) < eps;
}

void ParallelogramVolume::removeRepeats(ParallelogramSections& sections)
{
    ParallelogramSections kept;
    for (const auto& s : sections)
        if (kept.empty() || !(kept.back() == s))
            kept.push_back(s);
    sections.swap(kept);
}

bool ParallelogramVolume::buildMesh(MeshData& out) const
{
    MeshData::clear(out);
    ParallelogramSections sections;
    generateSections(sections);
    return meshFromSections(sections, capMode, out);
}

bool ParallelogramVolume::meshFromSections(const ParallelogramSections& sections, int capMode, MeshData& out)
{
    if (sections.empty())
        return false;
    const int first = int(out.vertices.size());
    for (const auto& s : sections) {
        const Eigen::Vector3d du = s.u * (s.lengthU / 2), dv = s.v * (s.lengthV / 2);
        for (const Eigen::Vector3d& p : {Eigen::Vector3d(s.centre - du - dv), Eigen::Vector3d(s.centre + du - dv),
                                         Eigen::Vector3d(s.centre + du + dv), Eigen::Vector3d(s.centre - du + dv)})
            out.vertices.push_back({p.x(), p.y(), p.z()});
    }
    auto bottom = [&](int i) {
        const int o = first + 4 * i;
        out.faces.push_back({o, o + 2, o + 1});
        out.faces.push_back({o, o + 3, o + 2});
    };
    auto top = [&](int i) {
        const int o = first + 4 * i;
        out.faces.push_back({o, o + 2, o + 3});
        out.faces.push_back({o, o + 1, o + 2});
    };
    auto sides = [&](int i) {
        const int p = first + 4 * (i - 1), q = first + 4 * i;
        for (int k = 1; k <= 4; ++k) {
            out.faces.push_back({p + k - 1, p + k % 4, q + k - 1});
            out.faces.push_back({p + k % 4, q + k % 4, q + k - 1});
        }
    };
    const int n = int(sections.size());
    if (capMode == 1) {
        bottom(0);
        for (int i = 1; i < n; ++i)
            sides(i);
        top(n - 1);
    } else {
        // An odd last section has no partner: it would be an open cap, so it is left out.
        for (int i = 0; i + 1 < n; i += 2) {
            bottom(i);
            sides(i + 1);
            top(i + 1);
        }
    }
    return true;
}
