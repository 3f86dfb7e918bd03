#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "scene/MeshData.h"
#include "scene/MeshModel.h"

// A model built off the scene: its mesh and the model object around it, with bounds, face
// tree, centroid and radius already computed (MeshModel::prepareMesh). Readers make it on
// their own thread; commit() puts it into the scene and must run on the GUI thread.
struct LoadedModel
{
    std::unique_ptr<MeshData> mesh;
    std::unique_ptr<MeshModel> model;

    // Worker side: wraps a finished, non-empty mesh. Returns an empty result for an empty mesh,
    // when cancelled, or for a mesh that reaches farther than any printer (reason says why).
    static LoadedModel fromMesh(std::unique_ptr<MeshData> mesh, const std::string& name,
                                const std::atomic<bool>* cancelled = nullptr, QString* reason = nullptr);

    bool isValid() const { return mesh && model && !mesh->vertices.empty(); }

    // GUI side: mesh into the MeshList, its slot into the model, fitPending from the build
    // volume, the model to AppData::addModel. Returns the model, now owned by AppData
    // (null, and nothing changed, when the result is not valid).
    MeshModel* commit();
    // GUI side: commits every valid result, in order, with the colours renewed once.
    static std::vector<MeshModel*> commitAll(std::vector<LoadedModel>& loaded);

private:
    // Puts the mesh into the MeshList and marks a model too large for the machine.
    MeshModel* place();
};
