#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <Eigen/Dense>

class MeshModel;
struct MeshData;

// Ray tests of the view and the automatic supports. A ray is origin x, y, z then direction
// x, y, z; t is the ray parameter (point = origin + t * direction).

// Slab test against an axis-aligned box (min x, y, z, max x, y, z); t is the entry parameter
// (negative when the origin is inside).
bool rayBoxSlab(const double ray[6], const double box[6], double& t);

// Moeller-Trumbore. With angle (degrees) not 0, t is negated when the face is flatter than
// the angle allows, i.e. when it needs support; steeper faces keep t's sign.
bool rayTriangle(const double ray[6], const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                 const Eigen::Vector3d& c, double& t, double angle);
// The hit's distance t, and beside it the same distance signed by angle as rayTriangle signs it.
bool rayTriangleSigned(const double ray[6], const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                       const Eigen::Vector3d& c, double& t, double& signedT, double angle);

// Nearest hit of a scene ray on the model (negative t counts too).
bool rayHitsModel(const double ray[6], const MeshModel* model, double& t);

// Appends one record (x, y, z in the scene, t) per face the scene ray hits; angle as in
// rayTriangle, measured in the scene. True when a hit was added.
bool rayIntersectModel(const double ray[6], const MeshModel* model,
                       std::vector<std::array<double, 4>>& hits, double angle);
