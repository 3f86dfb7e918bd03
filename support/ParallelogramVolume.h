#pragma once

#include <vector>

#include <Eigen/Dense>

struct MeshData;

// One planar cross-section with parallelogram outline: corners at centre ± lu/2·u ± lv/2·v.
struct ParallelogramSection
{
    Eigen::Vector3d centre{0.0, 0.0, 0.0};
    Eigen::Vector3d u{1.0, 0.0, 0.0};
    Eigen::Vector3d v{0.0, 1.0, 0.0};
    double lengthU = 10.0;
    double lengthV = 10.0;

    ParallelogramSection() = default;
    ParallelogramSection(const Eigen::Vector3d& c, const Eigen::Vector3d& du, const Eigen::Vector3d& dv, double lu,
                         double lv)
        : centre(c), u(du), v(dv), lengthU(lu), lengthV(lv)
    {
    }
    bool operator==(const ParallelogramSection& o) const;
};
using ParallelogramSections = std::vector<ParallelogramSection>;

// A solid made of parallelogram sections along an axis w; turned into a closed, outward mesh.
class ParallelogramVolume
{
public:
    ParallelogramVolume() = default;
    virtual void generateSections(ParallelogramSections& out) const = 0;
    virtual ~ParallelogramVolume() = default;

    // Fills out's vertices and faces (normals emptied); false when the solid has no section.
    bool buildMesh(MeshData& out) const;

    // Cap mode 1: one solid through all sections; 0: sections taken in pairs, each pair a closed box.
    static bool meshFromSections(const ParallelogramSections& sections, int capMode, MeshData& out);
    static void removeRepeats(ParallelogramSections& sections);

    Eigen::Vector3d centre{0.0, 0.0, 0.0};
    double a = 10.0;
    double b = 10.0;
    double h = 10.0;
    Eigen::Vector3d u{1.0, 0.0, 0.0};
    Eigen::Vector3d v{0.0, 1.0, 0.0};
    Eigen::Vector3d w{0.0, 0.0, 1.0};
    int capMode = 1;
};
