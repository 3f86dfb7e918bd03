#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <Eigen/Dense>
#include <Eigen/Geometry>

#include "scene/FaceTree.h"

struct MeshData;

// One object of the scene: a model loaded from a file or a support object (a column).
// It refers to its meshes by MeshList slot and carries the transform, bounds and colours.
class MeshModel
{
public:
    MeshModel();
    ~MeshModel();
    MeshModel(const MeshModel&) = delete;
    MeshModel& operator=(const MeshModel&) = delete;

    // A copy for the model list's copy and paste: shares meshSlot, never supportSlot,
    // and starts without supports.
    MeshModel* copy() const;

    void setMeshSlot(int slot);
    // The work of setMeshSlot on a mesh that is not in the MeshList yet (a reader's detached
    // result, on the reader's thread): raw bounds, offset, position, box, face tree, centroid,
    // radius. Afterwards only meshSlot needs setting, which changes none of these.
    // support: the detached mesh that will take supportSlot, if any. tree: a face tree already
    // built over the same meshes in the same frame (another model of the same mesh and factor),
    // taken instead of building one. False when cancelled while the tree was built.
    bool prepareMesh(const MeshData& mesh, const std::atomic<bool>* cancelled = nullptr,
                     const MeshData* support = nullptr, std::shared_ptr<const FaceTree> tree = nullptr);
    // Box, centroid and radius under the current transform, from detached meshes.
    void measureWith(const MeshData* mesh, const MeshData* support);
    MeshData* getMesh() const;
    MeshData* getSupportMesh() const;
    std::string getName() const { return name; }
    std::string getOwnerName() const { return ownerName; }
    void setName(const std::string& n);

    void translate(const double delta[3]);
    void setPosition(int axis, double value);
    void moveTo(const double p[3]);
    void setScale(double s);
    void setAxisScale(int axis, double s);
    void scaleToFit();
    void setRotation(const double angles[3], bool reset);
    void setAxisRotation(int axis, double degrees);

    Eigen::Matrix4d getModelMatrix() const;
    Eigen::Matrix4d getOffsetMatrix() const;
    Eigen::Matrix4d getScaleMatrix() const;
    Eigen::Matrix4d getRotationMatrix() const;
    Eigen::Matrix4d getTranslationMatrix() const;

    double getBoundValue(int code) const;
    std::array<float, 3> getBottomCenter() const { return bottomCentre; }
    std::array<float, 3> getSavedBottomCenter() const { return savedBottomCentre; }
    void saveBottomCenter() { savedBottomCentre = bottomCentre; }
    std::array<float, 3> getCentroid() const { return centroid; }
    double getViewRadius();
    bool isInsideVolume() const;
    bool exceedsVolume() const;
    bool isOutsideRadius(double r) const;

    void setColour(bool selected);
    void setOutlineColour(bool highlight);

    void buildSupportBox(const double foot[3], double height, bool highlight);

    static int splitNameNumber(const std::string& name, std::string& base);

    void updateBounds();
    void updateCentroid();
    void updateRadius();
    void buildBoundsTree();

private:
    void updateBoundsWith(const MeshData* mesh, const MeshData* support);
    void updateCentroidWith(const MeshData* mesh);
    void updateRadiusWith(const MeshData* mesh);
    bool buildTreeWith(const MeshData* mesh, const MeshData* support, const std::atomic<bool>* cancelled = nullptr);
    void keepBottomCentre(const std::array<float, 3>& old);
    void keepCentroid(const std::array<float, 3>& old);

public:
    // Fields are public: the readers, the view, the panels and the project file work on them.
    std::string name;
    std::string ownerName;
    // Identity of this object for the whole run; a support names its model by it, since
    // names change through renames and unique naming.
    const uint64_t serial;
    uint64_t ownerSerial = 0;
    std::array<double, 3> factor{1.0, 1.0, 1.0};
    std::array<double, 3> offset{0.0, 0.0, 0.0};
    std::array<double, 3> scale{1.0, 1.0, 1.0};
    std::array<double, 3> position{0.0, 0.0, 0.0};
    std::array<double, 3> rotationAngles{0.0, 0.0, 0.0};
    Eigen::Quaterniond orientation{1.0, 0.0, 0.0, 0.0}; // w, x, y, z
    std::array<float, 3> bottomCentre{0.f, 0.f, 0.f};
    int meshSlot = -1;
    int supportSlot = -1;
    int hasSupport = 0;
    bool visible = true;
    bool drawn = true;
    std::array<double, 3> colour;
    std::array<double, 3> outlineColour;
    std::array<double, 6> box{1e100, 1e100, 1e100, -1e100, -1e100, -1e100};
    std::array<double, 3> size{0.0, 0.0, 0.0};
    // Shared by models over the same meshes in the same frame (copies, project records);
    // never changed in place, only replaced. Null until built.
    std::shared_ptr<const FaceTree> faceTree;
    bool isSupport = false;
    double supportHeight = 0.0;
    std::array<double, 3> supportPoint{0.0, 0.0, 0.0};
    int fitPending = 0;
    std::array<float, 3> savedBottomCentre{0.f, 0.f, 0.f};
    std::array<float, 3> centroid{0.f, 0.f, 0.f};
    double viewRadius = 0.0;
    std::array<double, 3> rawCentre{0.0, 0.0, 0.0};
    std::array<double, 3> rawMax{0.0, 0.0, 0.0};
    std::array<double, 3> rawMin{0.0, 0.0, 0.0};
};
