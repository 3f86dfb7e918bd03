#include "cutting/SectionPreview.h"

#include <algorithm>

#include "cutting/CutEngine.h"
#include "cutting/CutWorkData.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshModel.h"

namespace {

std::array<double, 16> matrixOf(const MeshModel* model)
{
    const Eigen::Matrix4d m = model->getModelMatrix();
    std::array<double, 16> a;
    std::copy(m.data(), m.data() + 16, a.begin());
    return a;
}

} // namespace

bool SectionPreview::Request::sameSection(const Request& o) const
{
    return model == o.model && modelIndex == o.modelIndex && stamp == o.stamp && matrix == o.matrix
        && planeUm == o.planeUm && axis == o.axis;
}

SectionPreview::SectionPreview(QObject* parent)
    : QObject(parent)
{
    // One section at a time: a newer request waits for the stopped job to give way.
    pool.setMaxThreadCount(1);
}

SectionPreview::~SectionPreview()
{
    cancel();
    pool.waitForDone();
}

void SectionPreview::request(const MeshModel* model, int modelIndex, int planeUm, int axis)
{
    const MeshData* mesh = model ? model->getMesh() : nullptr;
    if (cutRunning || !mesh || mesh->vertices.empty() || mesh->vertices.size() > size_t(kPreviewVertexLimit)) {
        cancel();
        return;
    }
    auto r = std::make_shared<Request>();
    r->model = model;
    r->modelIndex = modelIndex;
    r->stamp = mesh->stamp.value;
    r->matrix = matrixOf(model);
    r->position = model->position;
    r->planeUm = planeUm;
    r->axis = axis;
    if (latest && latest->sameSection(*r))
        return;
    // A drag moves only the plane: the copy of the mesh serves every step.
    if (latest && latest->stamp == r->stamp) {
        r->mesh = latest->mesh;
    } else {
        auto copy = std::make_shared<MeshData>();
        copy->vertices = mesh->vertices;
        copy->faces = mesh->faces;
        r->mesh = std::move(copy);
    }
    r->generation = ++generation;
    latest = r;
    pending = r;
    if (running)
        runningStop->store(true);
    else
        startPending();
}

void SectionPreview::cancel()
{
    ++generation;
    latest.reset();
    pending.reset();
    if (runningStop)
        runningStop->store(true);
}

void SectionPreview::cutStarted()
{
    cancel();
    cutRunning = true;
}

void SectionPreview::cutEnded()
{
    cutRunning = false;
}

void SectionPreview::startPending()
{
    running = std::move(pending);
    pending.reset();
    runningStop = std::make_shared<std::atomic<bool>>(false);
    const std::shared_ptr<Request> job = running;
    const std::shared_ptr<std::atomic<bool>> stop = runningStop;
    pool.start([this, job, stop]() {
        auto wd = std::make_shared<CutWorkData>();
        const bool ok = computeSectionOf(*job->mesh, job->matrix, job->planeUm, job->axis, *wd, stop.get());
        // Dropped unseen when this object is gone by then.
        QMetaObject::invokeMethod(this, [this, job, ok, wd]() { finished(job, ok, wd); }, Qt::QueuedConnection);
    });
}

void SectionPreview::finished(const std::shared_ptr<Request>& done, bool ok, const std::shared_ptr<CutWorkData>& result)
{
    running.reset();
    runningStop.reset();
    if (ok && done->generation == generation && !cutRunning && stillCurrent(*done)) {
        CutWorkData& wd = cutWorkData();
        wd = std::move(*result);
        wd.model = done->model;
        wd.modelIndex = done->modelIndex;
        wd.axis = done->axis;
        wd.planeUm = done->planeUm;
        wd.position = done->position;
        wd.axisPosition = done->position[size_t(done->axis)];
        wd.matrix = done->matrix;
        emit sectionReady(done->planeUm, done->axis);
    }
    if (pending)
        startPending();
}

// The model is still where it was asked for, with the same mesh and place.
bool SectionPreview::stillCurrent(const Request& r) const
{
    const MeshModel* m = AppData::instance()->getModel(r.modelIndex);
    const MeshData* mesh = m == r.model && m ? m->getMesh() : nullptr;
    return mesh && mesh->stamp.value == r.stamp && matrixOf(m) == r.matrix;
}
