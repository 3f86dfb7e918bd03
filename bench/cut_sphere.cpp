// Cuts a sphere of about 1,000,000 triangles through its middle.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

#include "../tests/cutting/testutil_meshes.h"
#include "cutting/CutEngine.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MeshData sphere = testmesh::sphere(40.0, 708, 708);
    MeshModel* model = new MeshModel();
    model->setMeshSlot(MeshList::instance()->add(new MeshData(sphere)));
    model->setName("sphere");
    std::printf("triangles: %zu count\n", sphere.faces.size());
    QElapsedTimer t;
    t.start();
    CutResult r = cutModel(model, 0, 123, 2);
    const qint64 ms = t.elapsed();
    std::printf("cut_ok: %d bool\n", int(r.ok));
    std::printf("cut_sphere_z: %lld ms\n", (long long)ms);
    if (r.ok)
        std::printf("halves_triangles: %zu count\n", r.up->faces.size() + r.down->faces.size());
    t.restart();
    r = cutModel(model, 0, 5000, 0);
    std::printf("cut_sphere_x: %lld ms\n", (long long)t.elapsed());
    return r.ok ? 0 : 1;
}
