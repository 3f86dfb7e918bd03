#pragma once

#include "support/CircleVolume.h"

// A truncated cone whose centre line is a cubic curve between the two end tangents;
// the radius runs linearly from radius to secondRadius.
class TruCone : public CircleVolume
{
public:
    TruCone();
    TruCone(const Eigen::Vector3d& centre, double radius, double length);
    TruCone(const Eigen::Vector3d& centre, double radius, double secondRadius, double length);
    void generateSections(CircleSections& out) const override;

    void setTangents(const Eigen::Vector3d& start, const Eigen::Vector3d& end)
    {
        startTangent = start.normalized();
        endTangent = end.normalized();
    }

    double secondRadius = 5.0;
    Eigen::Vector3d startTangent{0.0, 0.0, 1.0};
    Eigen::Vector3d endTangent{0.0, 0.0, 1.0};
};
