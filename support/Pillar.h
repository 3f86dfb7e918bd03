#pragma once

#include "support/CircleVolume.h"

// A rounded column from a bottom point to a top point: a half-ellipsoid cap at each end,
// tapering from the end radii to the main radius over the first and last thirds.
// The end directions point out of the column.
class Pillar : public CircleVolume
{
public:
    Pillar();
    Pillar(const Eigen::Vector3d& centre, double radius, double length);
    void generateSections(CircleSections& out) const override;

    void setEnds(const Eigen::Vector3d& top, const Eigen::Vector3d& bottom)
    {
        topPoint = top;
        bottomPoint = bottom;
    }
    void setRadii(double top, double bottom)
    {
        topRadius = top;
        bottomRadius = bottom;
    }
    void setDirections(const Eigen::Vector3d& top, const Eigen::Vector3d& bottom)
    {
        topDirection = top.normalized();
        bottomDirection = bottom.normalized();
    }

    double topRadius = 5.0;
    double bottomRadius = 5.0;
    Eigen::Vector3d topPoint{10.0, 10.0, 80.0};
    Eigen::Vector3d bottomPoint{-10.0, -10.0, -80.0};
    Eigen::Vector3d topDirection = Eigen::Vector3d(1.0, 1.0, 1.0).normalized();
    Eigen::Vector3d bottomDirection = Eigen::Vector3d(-1.0, -1.0, -1.0).normalized();
};
