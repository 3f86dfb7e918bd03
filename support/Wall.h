#pragma once

#include "support/ParallelogramVolume.h"

// A thin wall along v: a row of slanted struts under a top rail, each a closed box of its own.
class Wall : public ParallelogramVolume
{
public:
    Wall(const Eigen::Vector3d& centre, double a, double b, double h);
    void generateSections(ParallelogramSections& out) const override;

    double ledgeHeight = 1.0;
    double angle;
};
