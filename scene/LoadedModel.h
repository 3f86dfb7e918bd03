#pragma once

#include <memory>
#include <string>

#include "scene/MeshData.h"
#include "scene/MeshModel.h"

// A model built off the scene: its mesh and the model object around it, with bounds, face
// tree, centroid and radius already computed (MeshModel::prepareMesh). Readers make it on
// their own thread; commit() puts it into the scene and must run on the GUI thread.
struct LoadedModel
{
    std::unique_ptr<MeshData> mesh;
    std::unique_ptr<MeshModel> model;

    // Worker side: wraps a finished, non-empty mesh. Returns an empty result for an empty mesh
    // or when cancelled.
    static LoadedModel fromMesh(std::unique_ptr<MeshData> mesh, const std::string& name,
                                const std::atomic<bool>* cancelled = nullptr);

    bool isValid() const { return mesh && model && !mesh->vertices.empty(); }

    // GUI side: mesh into the MeshList, its slot into the model, fitPending from the build
    // volume, the model to AppData::addModel. Returns the model, now owned by AppData
    // (null, and nothing changed, when the result is not valid).
    MeshModel* commit();
};
