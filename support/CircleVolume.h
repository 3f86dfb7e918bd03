#pragma once

#include <vector>

#include <Eigen/Dense>

struct MeshData;

// One planar circular cross-section; the normal is kept at unit length.
struct CircleSection
{
    Eigen::Vector3d centre;
    Eigen::Vector3d normal;
    double radius;

    CircleSection(const Eigen::Vector3d& c, const Eigen::Vector3d& n, double r)
        : centre(c), normal(n.normalized()), radius(r)
    {
    }
    bool operator==(const CircleSection& o) const;
};
using CircleSections = std::vector<CircleSection>;

// A solid made of circular sections along a path; turned into a closed, outward mesh.
// Sections run in the direction of their normals; a section of radius below 1e-6 is an apex.
class CircleVolume
{
public:
    CircleVolume() = default;
    virtual void generateSections(CircleSections& out) const = 0;
    virtual ~CircleVolume() = default;

    bool buildMesh(MeshData& out) const;
    static bool meshFromSections(CircleSections sections, int segments, MeshData& out);
    static void removeRepeats(CircleSections& sections);

    void setAxis(const Eigen::Vector3d& a) { axis = a.normalized(); }

    double length = 100.0;
    double radius = 10.0;
    int segments = 16;
    int sections = 8;
    Eigen::Vector3d centre{0.0, 0.0, 0.0};
    Eigen::Vector3d axis{0.0, 0.0, 1.0};
};
