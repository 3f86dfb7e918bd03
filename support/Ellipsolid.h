#pragma once

#include "support/CircleVolume.h"

// An ellipsoid of revolution (or a slice of one between two angles) along the axis:
// semi-axis length / 2 along it, radius across it.
class Ellipsolid : public CircleVolume
{
public:
    Ellipsolid();
    Ellipsolid(const Eigen::Vector3d& centre, double radius);
    Ellipsolid(const Eigen::Vector3d& centre, double radius, double length);
    void generateSections(CircleSections& out) const override;

    double startAngle = 0.0;
    double endAngle;
};
