#pragma once

#include <QString>
#include <QtGlobal>

#include <cmath>

struct MeshData;

// What a file may add to the scene, whatever route it comes by (open dialog, drop, command
// line, second start): how many models, how much memory, how large. Readers ask it early, so
// that a refused file costs little; the load's commit asks it again with the scene as it is.
class SceneBudget
{
public:
    // Models the plate holds at most.
    static constexpr int kMaxModels = 50;
    // Farthest a coordinate, size or support may reach, in millimetres. No printer comes near;
    // a float holds such a coordinate to 0.06 mm only, and the fit can still bring a model of
    // this size onto any plate (its scale stays far above the 1e-6 floor).
    static constexpr double kMaxLengthMm = 1e6;

    // Bytes a load may take: half the machine's memory.
    static qint64 memoryBytes();
    // Tests put a small budget in place (0 puts the machine's back).
    static void setMemoryBytesForTests(qint64 bytes);

    // Whether a plate of inScene models may take adding more; else why, for the user.
    static bool admitsModels(qint64 inScene, qint64 adding, QString* reason = nullptr);
    // Whether every vertex of mesh lies within kMaxLengthMm of the origin on each axis.
    static bool admitsMesh(const MeshData& mesh, QString* reason = nullptr);
    // Whether a length (a coordinate, a size) of mm is within kMaxLengthMm.
    static bool admitsLength(double mm) { return std::abs(mm) <= kMaxLengthMm; }

    // Why a file was refused, for the user in their language, naming the number.
    static QString lengthReason(double mm);
    static QString scaleReason(double scale, double mm);
    static QString supportSizeReason(double mm);
};
