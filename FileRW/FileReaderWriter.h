#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <vector>

struct MeshData;
class MeshModel;

// One corner of one triangle as read from a file; corners 3k..3k+2 form triangle k.
struct CornerRecord
{
    double x, y, z;
    int32_t corner;
};

// The readers and writers of model files.
class FileReaderWriter : public QObject
{
    Q_OBJECT
public:
    FileReaderWriter();
    ~FileReaderWriter() override;

    static int getFileType(const QString& path);

    bool loadMesh(const QString& path, MeshData* target);
    bool saveMesh(const QString& path, MeshData* source);

    bool loadBinaryStl();
    bool loadAsciiStl();
    bool saveBinaryStl();
    bool weldVertices();

    // OBJ, picture relief, 3MF and project file.
    bool loadObj();
    bool saveObj();
    bool loadImageRelief();
    bool load3mf(const QString& path);

    QString fileName;
    MeshData* target = nullptr;
    MeshData* source = nullptr;
    std::atomic<int> progress{0};
    std::atomic<bool> cancelled{false};
    std::vector<CornerRecord> corners;
    std::vector<MeshModel*> models;
    // Picture-relief parameters for the next relief load (sign, base, length, datum).
    std::array<double, 4> reliefParams{1.0, 2.0, 75.0, 1.28};

signals:
    void signPrintMessage(QString time, QString length);
    void signSendGcodeReady(bool isover);
};
