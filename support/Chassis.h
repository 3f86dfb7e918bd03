#pragma once

#include "support/ParallelogramVolume.h"

// A base plate with outward-sloped sides, a top ledge and an inner step down to the ledge height.
class Chassis : public ParallelogramVolume
{
public:
    Chassis(const Eigen::Vector3d& centre, double a, double b);
    void generateSections(ParallelogramSections& out) const override;

    double ledgeHeight = 1.0;
    double sideAngle;
};
