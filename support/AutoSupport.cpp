#include "support/AutoSupport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QtConcurrent/QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <thread>

#include "cutting/CutWorkData.h"
#include "platform/Platform.h"
#include "render/RayTests.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

// Where a vertical ray goes into material (from outside every shell) or back out of it.
struct Passage
{
    double z;
    bool into;
    bool needsSupport; // going in through a face flatter than the support angle allows
};

// The passages of the vertical ray at (x, y), lowest first. The ray counts the shells it is
// inside (a shell turned inside out counts the other way), so touching, stacked, overlapping
// and nested shells give no passage inside material. Faces met at one height going the same
// way that share a corner are one surface (the ray runs through their shared edge or corner)
// and count once.
void verticalPassages(const RayModelFrame& frame, double x, double y, double z0, double angle,
                      std::vector<RayCrossing>& hits, std::vector<Passage>& out)
{
    hits.clear();
    out.clear();
    const double ray[6] = {x, y, z0, 0.0, 0.0, 1.0};
    rayCrossModel(ray, frame, hits, angle);
    std::sort(hits.begin(), hits.end(), [](const RayCrossing& a, const RayCrossing& b) { return a.t < b.t; });
    auto shareCorner = [](const RayCrossing& a, const RayCrossing& b) {
        for (int32_t i : a.face)
            if (i == b.face[0] || i == b.face[1] || i == b.face[2])
                return true;
        return false;
    };
    int depth = 0;
    std::vector<int32_t> group;
    for (size_t i = 0; i < hits.size();) {
        size_t j = i + 1;
        while (j < hits.size() && hits[j].t - hits[j - 1].t < 1e-6)
            ++j;
        // Surfaces met here, as groups of faces linked through shared corners.
        const size_t n = j - i;
        group.resize(n);
        std::iota(group.begin(), group.end(), 0);
        auto root = [&](int32_t a) {
            while (group[size_t(a)] != a)
                a = group[size_t(a)] = group[size_t(group[size_t(a)])];
            return a;
        };
        for (size_t a = 0; a < group.size(); ++a)
            for (size_t b = 0; b < a; ++b)
                if (hits[i + a].entering == hits[i + b].entering && shareCorner(hits[i + a], hits[i + b]))
                    group[size_t(root(int32_t(a)))] = root(int32_t(b));
        int change = 0;
        bool support = false;
        for (size_t a = 0; a < n; ++a) {
            const RayCrossing& h = hits[i + a];
            if (root(int32_t(a)) == int32_t(a))
                change += h.entering ? 1 : -1;
            support = support || h.signedT < 0.0;
        }
        const bool inside = depth != 0;
        depth += change;
        const double z = z0 + hits[i].t;
        if (!inside && depth != 0)
            out.push_back({z, true, support});
        else if (inside && depth == 0)
            out.push_back({z, false, false});
        i = j;
    }
}

struct Candidate
{
    double x, y, bottom, top;
    int count = 0;
};

struct CellColumns
{
    size_t cell;
    std::vector<AutoSupportColumn> columns;
};

// Returns false when the time limit passed or a stop was requested.
bool supportsOfModel(const MeshModel* model, double step, double angle, std::vector<AutoSupportColumn>& out)
{
    const RayModelFrame frame = rayModelFrame(model);
    if (!frame.mesh)
        return true;
    const double minX = model->box[0], minY = model->box[1], minZ = model->box[2];
    const double sx = model->size[0], sy = model->size[1], sz = model->size[2];
    if (!(sx >= 0.0 && sy >= 0.0 && sz >= 0.0) || step <= 0.0)
        return true;
    const int nx = int(sx / step + 1.0), ny = int(sy / step + 1.0);
    const double z0 = std::min(minZ, 0.0) - std::max(sz, 1.0);
    const int fine = int(step * 10.0);
    const double tol = std::min(step, sz * 0.05);
    const double needed = step * 121.0 / 1.1 * step / 1.1 / 3.0;
    const qint64 limitMs = Platform::scaledMs(kAutoSupportLimitMs);
    QElapsedTimer clock;
    clock.start();

    const size_t cells = size_t(nx) * size_t(ny);
    std::atomic<size_t> nextCell{0};
    std::atomic<bool> failed{false};
    const unsigned workers = std::max(1u, std::min(std::thread::hardware_concurrency(), unsigned(cells)));
    std::vector<std::vector<CellColumns>> found(workers);

    auto work = [&](unsigned w) {
        std::vector<RayCrossing> hits;
        std::vector<Passage> passages;
        std::vector<Candidate> cands;
        while (!failed.load(std::memory_order_relaxed)) {
            const size_t cell = nextCell.fetch_add(1);
            if (cell >= cells)
                return;
            if (clock.elapsed() > limitMs || g_jobState.load(std::memory_order_relaxed) == 1) {
                failed = true;
                return;
            }
            const size_t i = cell / size_t(ny), j = cell % size_t(ny);
            const double x = minX + step / 2 + double(i) * step;
            const double y = minY + step / 2 + double(j) * step;
            verticalPassages(frame, x, y, z0, 0.0, hits, passages);
            // Columns stand in the free stretches: from the plate or the top of material up to
            // where the ray next goes into material.
            cands.clear();
            double bottom = 0.0;
            for (const Passage& p : passages) {
                if (p.into)
                    cands.push_back({x, y, bottom, p.z});
                else
                    bottom = p.z;
            }
            // Only candidates tall enough to become columns need the fine check.
            cands.erase(std::remove_if(cands.begin(), cands.end(),
                                       [](const Candidate& c) { return c.top - c.bottom < 0.0001; }),
                        cands.end());
            if (cands.empty())
                continue;
            for (int p = 0; p < fine; ++p) {
                for (int q = 0; q < fine; ++q) {
                    verticalPassages(frame, x - step / 2 + 0.05 + 0.1 * p, y - step / 2 + 0.05 + 0.1 * q, z0, angle,
                                     hits, passages);
                    for (const Passage& in : passages) {
                        // Steep enough to stand alone; at angle 0 nothing is.
                        if (!in.into || (angle > 0.0 && !in.needsSupport))
                            continue;
                        for (Candidate& c : cands)
                            if (std::fabs(c.top - in.z) < tol)
                                ++c.count;
                    }
                }
            }
            CellColumns cc{cell, {}};
            for (const Candidate& c : cands)
                if (double(c.count) >= needed)
                    cc.columns.push_back({model, {c.x, c.y, c.bottom}, c.top - c.bottom});
            if (!cc.columns.empty())
                found[w].push_back(std::move(cc));
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w)
        threads.emplace_back(work, w);
    work(0);
    for (auto& t : threads)
        t.join();
    if (failed)
        return false;
    std::vector<CellColumns> all;
    for (auto& f : found)
        for (auto& c : f)
            all.push_back(std::move(c));
    std::sort(all.begin(), all.end(), [](const CellColumns& a, const CellColumns& b) { return a.cell < b.cell; });
    for (auto& c : all)
        out.insert(out.end(), c.columns.begin(), c.columns.end());
    return true;
}

std::vector<const MeshModel*> visibleModels()
{
    std::vector<const MeshModel*> models;
    for (const MeshModel* m : AppData::instance()->getModels())
        if (m && m->visible && !m->isSupport && m->meshSlot >= 0)
            models.push_back(m);
    return models;
}

} // namespace

AutoSupportResult findAutoSupports(const std::vector<const MeshModel*>& models, double step, double angle)
{
    AutoSupportResult result;
    for (const MeshModel* m : models) {
        if (!supportsOfModel(m, step, angle, result.columns)) {
            result.ok = false;
            result.columns.clear();
            if (g_jobState.load() != 1)
                g_jobState = 3;
            break;
        }
    }
    return result;
}

int commitAutoSupports(const AutoSupportResult& result)
{
    if (!result.ok)
        return 0;
    AppData* app = AppData::instance();
    const auto& models = app->getModels();
    int committed = 0;
    for (const AutoSupportColumn& c : result.columns) {
        if (std::find(models.begin(), models.end(), c.owner) == models.end())
            continue;
        MeshModel* s = new MeshModel();
        s->isSupport = true;
        s->ownerName = c.owner->getName();
        s->ownerSerial = c.owner->serial;
        s->buildSupportBox(c.foot.data(), c.height, false);
        app->commitSupport(s);
        ++committed;
    }
    return committed;
}

bool autoSupport(double step, double angle)
{
    const AutoSupportResult r = findAutoSupports(visibleModels(), step, angle);
    commitAutoSupports(r);
    return r.ok;
}

void startAutoSupportJob(double step, double angle, QObject* context, std::function<void(bool)> done)
{
    const std::vector<const MeshModel*> models = visibleModels();
    QtConcurrent::run([=]() {
        auto result = std::make_shared<AutoSupportResult>(findAutoSupports(models, step, angle));
        QMetaObject::invokeMethod(context, [result, done]() {
            commitAutoSupports(*result);
            if (done)
                done(result->ok);
        }, Qt::QueuedConnection);
    });
}
