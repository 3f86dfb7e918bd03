#pragma once

#include <QString>

#include <memory>

struct MeshData;

// Everything a slice needs from the scene, copied on the GUI thread when the slice starts,
// so the slicing thread never reads the live scene.
struct SliceSnapshot
{
    std::shared_ptr<MeshData> mesh; // the visible models merged, placed in the scene
    int machineType = 1;
    double boxLength = 145.0;
    double boxWidth = 145.0;
    int temperature = 210;
    int hotbed = 0;
    QString appDir;
    QString settingsDir;
    QString outputPath; // the print-task file to make

    // Call on the GUI thread.
    static SliceSnapshot take(const QString& outputPath);
};
