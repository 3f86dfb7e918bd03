#include "scene/LoadedModel.h"

#include "scene/AppData.h"
#include "scene/MeshList.h"
#include "scene/SceneBudget.h"

LoadedModel LoadedModel::fromMesh(std::unique_ptr<MeshData> mesh, const std::string& name,
                                  const std::atomic<bool>* cancelled, QString* reason)
{
    LoadedModel out;
    if (!mesh || mesh->vertices.empty() || !SceneBudget::admitsMesh(*mesh, reason))
        return out;
    out.model = std::make_unique<MeshModel>();
    out.model->name = name;
    if (!out.model->prepareMesh(*mesh, cancelled))
        return LoadedModel();
    out.mesh = std::move(mesh);
    return out;
}

MeshModel* LoadedModel::place()
{
    if (!isValid())
        return nullptr;
    // The bounds and tree were made from this very mesh, so taking the slot changes nothing else.
    model->meshSlot = MeshList::instance()->add(mesh.release());
    if (model->exceedsVolume())
        model->fitPending = 1;
    return model.release();
}

MeshModel* LoadedModel::commit()
{
    MeshModel* m = place();
    if (m)
        AppData::instance()->addModel(m);
    return m;
}

std::vector<MeshModel*> LoadedModel::commitAll(std::vector<LoadedModel>& loaded)
{
    std::vector<MeshModel*> added;
    added.reserve(loaded.size());
    for (LoadedModel& lm : loaded)
        if (MeshModel* m = lm.place())
            added.push_back(m);
    AppData::instance()->addModels(added);
    return added;
}
