#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include <QObject>
#include <QString>

#include "scene/BigAllocator.h"

struct MeshData;
class MeshModel;
struct LoadedModel;

// One corner of one triangle as read from a file; corners 3k, 3k+1, 3k+2 form triangle k.
struct CornerRecord
{
    double x;
    double y;
    double z;
    int32_t corner;
};
using CornerList = std::vector<CornerRecord, BigAllocator<CornerRecord>>;

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

    int getProgress() const { return progress.load(std::memory_order_relaxed); }

    QString fileName;
    MeshData* target = nullptr;
    MeshData* source = nullptr;
    // 0 to 10000, written by the running operation and polled by the worker's timer.
    std::atomic<int> progress{0};
    CornerList corners;
    std::vector<MeshModel*> models;

signals:
    void signPrintMessage(QString time, QString length);
    void signSendGcodeReady(bool isover);

private:
    void setProgress(int p) { progress.store(p, std::memory_order_relaxed); }
};
