// Automatic supports under a model of about 200,000 triangles with overhangs:
// a finely tessellated mushroom (sphere cap on a post) raised above the plate.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

#include "../tests/cutting/testutil_meshes.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "support/AutoSupport.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // A sphere of 200,000 faces floating 20 mm above the plate: its whole lower half overhangs.
    MeshData ball = testmesh::sphere(30.0, 317, 317);
    for (auto& v : ball.vertices)
        v[2] += 50.0;
    MeshModel* model = new MeshModel();
    model->setMeshSlot(MeshList::instance()->add(new MeshData(ball)));
    model->setName("ball");
    AppData::instance()->addModel(model);
    std::printf("triangles: %zu count\n", ball.faces.size());
    QElapsedTimer t;
    t.start();
    const AutoSupportResult r = findAutoSupports({model}, 2.2, 60.0);
    std::printf("auto_support: %lld ms\n", (long long)t.elapsed());
    std::printf("columns: %zu count\n", r.columns.size());
    t.restart();
    commitAutoSupports(r);
    std::printf("commit: %lld ms\n", (long long)t.elapsed());
    return r.ok ? 0 : 1;
}
