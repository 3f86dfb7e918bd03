// Automatic supports under a model of about 200,000 triangles with overhangs:
// a finely tessellated mushroom (sphere cap on a post) raised above the plate; then the same
// number of triangles in 16 models, whose rays each meet all 16; then a 100 mm disc whose caps are
// fans of 20,000 sectors beside a ball of as many faces, both floating 5 mm above the plate.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

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

    // Sixteen balls of 12,500 faces in eight pairs: the upper ball of each pair 25 mm above the
    // lower and 8 mm aside, so that many of its columns stand on the lower.
    std::vector<const MeshModel*> many;
    for (int k = 0; k < 16; ++k) {
        MeshData small = testmesh::sphere(10.0, 79, 79);
        for (auto& v : small.vertices) {
            v[0] += 30.0 * (k / 2 % 4) + 8.0 * (k % 2);
            v[1] += 30.0 * (k / 8);
            v[2] += 15.0 + 25.0 * (k % 2);
        }
        MeshModel* m = new MeshModel();
        m->setMeshSlot(MeshList::instance()->add(new MeshData(small)));
        m->setName("small");
        AppData::instance()->addModel(m);
        many.push_back(m);
    }
    t.restart();
    const AutoSupportResult r16 = findAutoSupports(many, 2.2, 60.0);
    std::printf("auto_support_16_models: %lld ms\n", (long long)t.elapsed());
    std::printf("columns_16_models: %zu count\n", r16.columns.size());

    // Long thin sectors cross the bins of their whole bounding box only where they lie.
    bool fanOk = true;
    const MeshData disc = testmesh::cylinder(50.0, 2.0, 20000);
    const MeshData ball80k = testmesh::sphere(50.0, 141, 283);
    for (const auto& shape : {std::make_pair("fan_disc", &disc), std::make_pair("ball_80k", &ball80k)}) {
        MeshData lifted = *shape.second;
        double low = 1e9;
        for (const auto& v : lifted.vertices)
            low = std::min(low, v[2]);
        for (auto& v : lifted.vertices)
            v[2] += 5.0 - low;
        MeshModel* m = new MeshModel();
        m->setMeshSlot(MeshList::instance()->add(new MeshData(lifted)));
        m->setName(shape.first);
        std::printf("%s_triangles: %zu count\n", shape.first, lifted.faces.size());
        t.restart();
        const AutoSupportResult rf = findAutoSupports({m}, 2.2, 60.0);
        std::printf("%s_auto_support: %lld ms\n", shape.first, (long long)t.elapsed());
        std::printf("%s_grid_entries: %zu count\n", shape.first, rf.gridEntries);
        std::printf("%s_columns: %zu count\n", shape.first, rf.columns.size());
        fanOk = fanOk && rf.ok;
        delete m;
    }
    return r.ok && r16.ok && fanOk ? 0 : 1;
}
