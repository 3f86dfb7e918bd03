#include "scene/LoadedModel.h"

#include "scene/AppData.h"
#include "scene/MeshList.h"

LoadedModel LoadedModel::fromMesh(std::unique_ptr<MeshData> mesh, const std::string& name,
                                  const std::atomic<bool>* cancelled)
{
    LoadedModel out;
    if (!mesh || mesh->vertices.empty())
        return out;
    out.model = std::make_unique<MeshModel>();
    out.model->name = name;
    if (!out.model->prepareMesh(*mesh, cancelled))
        return LoadedModel();
    out.mesh = std::move(mesh);
    return out;
}

MeshModel* LoadedModel::commit()
{
    if (!isValid())
        return nullptr;
    // The bounds and tree were made from this very mesh, so taking the slot changes nothing else.
    model->meshSlot = MeshList::instance()->add(mesh.release());
    if (model->exceedsVolume())
        model->fitPending = 1;
    MeshModel* m = model.release();
    AppData::instance()->addModel(m);
    return m;
}
