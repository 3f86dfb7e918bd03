#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

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
};

// Time one model may take before the run gives up (scaled by the time-out scale).
constexpr int kAutoSupportLimitMs = 50000;

// Casts the rays for the given models (pool thread; the models must stay unchanged).
// step: grid step and column spacing in mm; angle: support angle in degrees.
AutoSupportResult findAutoSupports(const std::vector<const MeshModel*>& models, double step, double angle);

// Turns the columns into support objects of AppData (GUI thread); columns whose model is gone
// are dropped. Returns the number committed.
int commitAutoSupports(const AutoSupportResult& result);

// Supports under every visible model, found and committed at once (GUI thread). False after
// the time limit, with g_jobState 3 and nothing committed.
bool autoSupport(double step, double angle);

// The same on Qt's global pool; commits on context's thread, then done(success).
void startAutoSupportJob(double step, double angle, QObject* context, std::function<void(bool)> done);
