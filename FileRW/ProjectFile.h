#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

struct MeshData;
class MeshModel;

// A whole scene as stored in a project file, detached from AppData and MeshList.
struct ProjectData
{
    struct Model
    {
        std::string name;
        int32_t meshSlot = -1;
        int32_t supportSlot = -1;
        bool visible = true;
        double factor = 1.0; // uniform normalisation factor
        double scale = 1.0;  // stored as uniform (the X scale)
        std::array<double, 3> position{0.0, 0.0, 0.0};
        std::array<double, 3> rotationAngles{0.0, 0.0, 0.0};
        std::array<double, 4> orientation{0.0, 0.0, 0.0, 1.0}; // x, y, z, w
    };
    struct Support
    {
        std::array<double, 3> point{0.0, 0.0, 0.0}; // foot x, foot y, top z
        std::string ownerName;
        int owner = -1; // index into models when saving, -1 when it has none
    };

    std::vector<std::unique_ptr<MeshData>> meshSlots; // null for an empty slot
    std::vector<Model> models;
    int32_t selectedIndex = 0;
    double supportSize = 2.0;
    std::vector<Support> supports;
    // One detached model per record, built by the reader: placed as stored, with its box,
    // centroid, radius and face tree over its mesh and support mesh.
    std::vector<std::unique_ptr<MeshModel>> prepared;

    ProjectData();
    ~ProjectData();
    ProjectData(ProjectData&&) noexcept;
    ProjectData& operator=(ProjectData&&) noexcept;
};

// The project file (".brev"): every MeshList slot, every model with its transform,
// the selection and the manual supports. Binary, little-endian, no padding.
class ProjectFile
{
public:
    static const char kIdentification[]; // "Create By Brevant V1.0.2"
    static constexpr int kHeaderSize = 32;
    static constexpr int kNameField = 32;
    static constexpr int kModelRecord = 137;
    static constexpr int kSupportRecord = 56;

    // GUI thread: copies the scene, so the save works on its own data while the scene moves on.
    static void snapshot(ProjectData& out);
    // Any thread. The previous file survives a failed write, and a new one leaves nothing;
    // false on any error, with the reason for the user in error.
    static bool write(const QString& path, const ProjectData& data, std::atomic<int>& progress,
                      QString* error = nullptr);
    // Any thread. Validates everything; on false, out is left empty, error has the details and
    // userReason the reason in the user's language (modelLimit: refused for its model count).
    // Records over the same meshes and factor share one face tree; the distinct trees and the
    // meshes are charged against the scene's memory budget as they are built.
    static bool read(const QString& path, ProjectData& out, std::atomic<int>& progress,
                     const std::atomic<bool>& cancelled, QString* error = nullptr, QString* userReason = nullptr,
                     bool* modelLimit = nullptr);
    // GUI thread: puts the meshes, models and supports into the scene; models appended to added.
    static void commit(ProjectData& data, std::vector<MeshModel*>* added = nullptr);

    // The name field's bytes: at most 31 bytes, cut on a UTF-8 character boundary.
    static QByteArray nameField(const std::string& name);
    // The name field of each model, made unique within those 31 bytes.
    static std::vector<QByteArray> storedNames(const std::vector<ProjectData::Model>& models);
};
