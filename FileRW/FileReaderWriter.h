#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include <QObject>
#include <QString>

#include "scene/BigAllocator.h"

struct MeshData;
class MeshModel;
struct LoadedModel;
struct ProjectData;

// One corner of one triangle as read from a file; corners 3k, 3k+1, 3k+2 form triangle k.
struct CornerRecord
{
    // Left uninitialised, so that a reader can size a large list without clearing it first.
    CornerRecord() {}
    CornerRecord(double px, double py, double pz, int32_t c)
        : x(px), y(py), z(pz), corner(c)
    {
    }
    double x;
    double y;
    double z;
    int32_t corner;
};
using CornerList = std::vector<CornerRecord>;

// Reads and writes model files for the workers. One operation at a time; every operation
// runs on the calling worker's thread and touches no scene object.
class FileReaderWriter : public QObject
{
    Q_OBJECT

public:
    FileReaderWriter();
    ~FileReaderWriter() override;

    // 1 OBJ, 2 STL, 3 image relief, 0 anything else (by the lower-cased suffix).
    static int getFileType(const QString& path);

    // Fills target with the welded mesh of the file; false leaves target untouched.
    bool loadMesh(const QString& path, MeshData* target);
    bool saveMesh(const QString& path, MeshData* source);

    // loadMesh plus the detached model around it (bounds, face tree), named after the file.
    // Runs on the worker; LoadedModel::commit hands the result to the scene on the GUI thread.
    bool loadModel(const QString& path, LoadedModel& out);

    bool loadBinaryStl();
    bool loadAsciiStl();
    bool saveBinaryStl();
    // Turns corners into target's vertex and face tables; false when no face is left.
    bool weldVertices();

    // OBJ, picture relief, 3MF and project files (FileReaderWriterFormats.cpp).
    bool loadObj();
    bool saveObj();
    bool loadImageRelief();
    // The 3MF's meshes as detached models named "model", not welded.
    bool load3mf(const QString& path, std::vector<LoadedModel>& out);
    bool loadProject(const QString& path, ProjectData& out);
    bool saveProject(const QString& path, const ProjectData& data);

    int getProgress() const { return progress.load(std::memory_order_relaxed); }
    static QString outOfMemoryReason();

    QString fileName;
    MeshData* target = nullptr;
    MeshData* source = nullptr;
    // 0 to 10000, written by the running operation and polled by the worker's timer.
    std::atomic<int> progress{0};
    CornerList corners;
    std::vector<MeshModel*> models;
    // Set by another thread to stop a running load early; the load then fails.
    std::atomic<bool> cancelled{false};
    // Why the last load or save failed, when the user should be told more than that it failed.
    QString failureReason;
    // The last load was refused for the number of models it would add.
    bool overModelLimit = false;
    // Picture-relief parameters for the next relief load (sign, base, length, datum).
    std::array<double, 4> reliefParams{1.0, 2.0, 75.0, 1.28};

signals:
    void signPrintMessage(QString time, QString length);
    void signSendGcodeReady(bool isover);

private:
    void setProgress(int p) { progress.store(p, std::memory_order_relaxed); }
};
