#pragma once

#include "support/ParallelogramVolume.h"

// A box given by centre and sizes a, b, h along the axes u, v, w.
class Parallelepiped : public ParallelogramVolume
{
public:
    Parallelepiped(const Eigen::Vector3d& centre, double a, double b, double h);
    void generateSections(ParallelogramSections& out) const override;
};
