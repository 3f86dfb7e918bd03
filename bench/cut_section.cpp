// Cut times of a 1M-face sphere against sections with a long outline, many holes and many gaps.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>

#include <cstdio>

#include "../tests/cutting/testutil_meshes.h"
#include "cutting/CutEngine.h"
#include "cutting/SectionPreview.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {

MeshModel* model(const MeshData& mesh)
{
    MeshModel* m = new MeshModel();
    m->setMeshSlot(MeshList::instance()->add(new MeshData(mesh)));
    m->setName("part");
    return m;
}

// A cut from scratch, the section included.
void timeCut(const char* name, const MeshData& mesh, int planeUm)
{
    MeshModel* m = model(mesh);
    resetCutSection();
    QElapsedTimer t;
    t.start();
    const CutResult r = cutModel(m, 0, planeUm, 2);
    std::printf("%s_cut: %lld ms\n", name, (long long)t.elapsed());
    std::printf("%s_cut_ok: %d bool\n", name, int(r.ok));
    delete m;
}

// The live preview dragged across a model within the preview limit, one plane position every
// 16 ms: the longest the GUI thread holds for one position (the hand-over to the preview's
// thread), beside the section's own time (what the GUI thread held when it computed the
// section itself), and the wait from the last position until its section is in place.
void previewSteps(const char* name, const MeshData& mesh, int axis, int fromUm, int toUm, int steps)
{
    AppData* app = AppData::instance();
    MeshModel* m = model(mesh);
    app->addModel(m);
    const int index = app->modelCount() - 1;
    QElapsedTimer t;
    t.start();
    computeCutSection(m, index, fromUm, axis, false);
    std::printf("%s_section: %lld ms\n", name, (long long)t.elapsed());
    resetCutSection();
    SectionPreview preview;
    qint64 worstNs = 0;
    for (int k = 0; k <= steps; ++k) {
        t.restart();
        preview.request(m, index, fromUm + (toUm - fromUm) * k / steps, axis);
        worstNs = std::max(worstNs, t.nsecsElapsed());
        t.restart();
        while (t.elapsed() < 16)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    t.restart();
    while (preview.isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("%s_preview_step: %.3f ms\n", name, double(worstNs) / 1e6);
    std::printf("%s_preview_last: %lld ms\n", name, (long long)t.elapsed());
    std::printf("%s_preview_latest: %d bool\n", name, int(cutWorkData().planeUm == toUm && cutWorkData().model == m));
    resetCutSection();
    app->clearModels(false);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // An argument picks one case: sphere, cylinder, holes, preview or gaps.
    const QString only = argc > 1 ? QString(argv[1]) : QString();
    if (only.isEmpty() || only == "sphere")
        timeCut("sphere_1m", testmesh::sphere(40.0, 708, 708), 123);
    if (only.isEmpty() || only == "cylinder")
        timeCut("cylinder_60k", testmesh::tube(30.0, 0.0, 20.0, 60000), 10000);
    // 200 x 200 x 4 mm plate with 100 x 100 round holes: one outline, 10,000 holes.
    if (only.isEmpty() || only == "holes")
        timeCut("holes_10k", testmesh::perforatedPlate(100, 2.0, 4.0, 0.6), 2000);
    if (only.isEmpty() || only == "preview") {
        // Across X through the base and all 500 fins (6,012 faces); 10,000 crowded sheets at
        // half height (40,000 vertices, within the preview limit).
        previewSteps("fins_500", testmesh::finsOnBase(500), 0, -20000, 20000, 60);
        previewSteps("sheets_10k", testmesh::crowdedSheets(10000), 2, 2000, 8000, 60);
    }
    if (!only.isEmpty() && only != "gaps")
        return 0;
    // 10,200 segments in three rings, every third quad of the middle one missing: 3,400 gaps.
    const MeshData gaps = testmesh::tube(100.0, 0.0, 20.0, 10200, 3, 3);
    MeshModel* m = model(gaps);
    std::printf("gaps_vertices: %zu count\n", gaps.vertices.size());
    QElapsedTimer t;
    t.start();
    const bool previewed = computeCutSection(m, 0, 10000, 2, false);
    std::printf("gaps_3400_preview_step: %lld ms\n", (long long)t.elapsed());
    std::printf("gaps_3400_preview_regions: %zu count\n", previewed ? cutWorkData().regions.size() : size_t(0));
    delete m;
    timeCut("gaps_3400", gaps, 10000);
    return 0;
}
