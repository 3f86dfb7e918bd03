#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "scene/FaceTree.h"

class MeshModel;
class QObject;

// One support column found under a model.
struct AutoSupportColumn
{
    const MeshModel* owner = nullptr; // matched by identity when committing
    std::array<double, 3> foot{0.0, 0.0, 0.0};
    double height = 0.0;
};

struct AutoSupportResult
{
    bool ok = true; // false after the time limit or a stop request
    std::vector<AutoSupportColumn> columns;
    size_t gridEntries = 0; // faces filed in the ray grid, over all its bins
};

// Time one model may take before the run gives up (scaled by the time-out scale).
constexpr int kAutoSupportLimitMs = 50000;

// The faces of the models in scene coordinates, taken on the GUI thread so that the job
// casting the rays reads nothing the GUI thread may change meanwhile.
struct AutoSupportScene
{
    struct Model
    {
        const MeshModel* model; // identity only; the job does not read it
        std::array<double, 6> box;
        int32_t firstVertex; // its vertices run up to the next model's first
    };
    std::vector<Model> models;
    std::vector<Eigen::Vector3d> vertices;
    std::vector<FaceIndex> faces;
    bool complete = true; // false when the faces are too many to index
};
AutoSupportScene autoSupportScene(const std::vector<const MeshModel*>& models);

// Columns under each model of the scene; every ray meets all of its models, so a column
// stands on the plate or on the first surface below it and never runs through a model.
// step: grid step and column spacing in mm; angle: support angle in degrees.
AutoSupportResult findAutoSupports(const AutoSupportScene& scene, double step, double angle);
// The same on a scene taken from the given models now.
AutoSupportResult findAutoSupports(const std::vector<const MeshModel*>& models, double step, double angle);

// Turns the columns into support objects of AppData (GUI thread); columns whose model is gone
// are dropped. Returns the number committed.
int commitAutoSupports(const AutoSupportResult& result);

// Supports under every visible model, found and committed at once (GUI thread). False after
// the time limit, with g_jobState 3 and nothing committed.
bool autoSupport(double step, double angle);

// The same on Qt's global pool; commits on context's thread, then done(success).
void startAutoSupportJob(double step, double angle, QObject* context, std::function<void(bool)> done);
