#include "testutil_scene.h"

#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace RenderTest {

MeshData* boxMesh(const double lo[3], const double hi[3])
{
    auto* m = new MeshData;
    for (int i = 0; i < 8; ++i)
        m->vertices.push_back({(i & 1) ? hi[0] : lo[0], (i & 2) ? hi[1] : lo[1], (i & 4) ? hi[2] : lo[2]});
    m->faces = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    return m;
}

MeshModel* addBoxModel(const double lo[3], const double hi[3])
{
    const int slot = MeshList::instance()->add(boxMesh(lo, hi));
    auto* model = new MeshModel;
    model->name = "box";
    model->setMeshSlot(slot);
    AppData::instance()->addModel(model);
    return model;
}

void clearScene()
{
    AppData::instance()->clearModels(false);
    MeshList::clear(false);
    AppData::instance()->selectModel(0, 1);
    AppData::instance()->setEditMode(0);
}

} // namespace RenderTest
