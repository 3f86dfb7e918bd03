#include "support/AutoSupport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QtConcurrent/QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "cutting/CutWorkData.h"
#include "platform/Platform.h"
#include "render/RayTests.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

using Hit = std::array<double, 4>;

// Vertical hits sorted by z; a ray through a shared edge or corner hits each face there, so
// hits closer than 1e-6 count once (keeping the one whose face needs support, if any).
void verticalHits(const RayModelFrame& frame, double x, double y, double z0, double angle, std::vector<Hit>& hits)
{
    hits.clear();
    const double ray[6] = {x, y, z0, 0.0, 0.0, 1.0};
    rayIntersectModel(ray, frame, hits, angle);
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a[2] < b[2]; });
    size_t kept = 0;
    for (size_t i = 0; i < hits.size(); ++i) {
        if (kept > 0 && hits[i][2] - hits[kept - 1][2] < 1e-6) {
            if (hits[i][3] < 0.0)
                hits[kept - 1][3] = hits[i][3];
            continue;
        }
        hits[kept++] = hits[i];
    }
    hits.resize(kept);
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
        std::vector<Hit> hits;
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
            verticalHits(frame, x, y, z0, 0.0, hits);
            cands.clear();
            if (!hits.empty())
                cands.push_back({x, y, 0.0, hits[0][2]});
            for (size_t k = 1; k + 1 < hits.size(); k += 2)
                cands.push_back({hits[k][0], hits[k][1], hits[k][2], hits[k + 1][2]});
            // Only candidates tall enough to become columns need the fine check.
            cands.erase(std::remove_if(cands.begin(), cands.end(),
                                       [](const Candidate& c) { return c.top - c.bottom < 0.0001; }),
                        cands.end());
            if (cands.empty())
                continue;
            for (int p = 0; p < fine; ++p) {
                for (int q = 0; q < fine; ++q) {
                    verticalHits(frame, x - step / 2 + 0.05 + 0.1 * p, y - step / 2 + 0.05 + 0.1 * q, z0, angle, hits);
                    for (size_t k = 0; k < hits.size(); k += 2) {
                        // The face is steep enough to stand alone; at angle 0 none is, since
                        // every face met going up faces down.
                        if (angle > 0.0 && hits[k][3] >= 0.0)
                            continue;
                        for (Candidate& c : cands)
                            if (std::fabs(c.top - hits[k][2]) < tol)
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
