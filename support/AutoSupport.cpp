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
#include "scene/MeshData.h"
#include "scene/MeshModel.h"
#include "scene/Parallel.h"

namespace {

// A face a vertical ray crosses, with the model it belongs to.
struct Crossing
{
    double t;
    double signedT; // negated, as rayTriangle does, where the face needs support at the angle
    bool entering;
    int model;
    FaceIndex face;
};

// The scene's faces binned by their extent in x and y, so a vertical ray meets every model
// while testing only the faces of one bin.
struct SceneGrid
{
    const AutoSupportScene& scene;
    double x0 = 0.0, y0 = 0.0, cell = 1.0;
    int64_t nx = 0, ny = 0;
    std::vector<size_t> start; // bin b holds faces[start[b]] up to faces[start[b + 1]]
    std::vector<int32_t> faces;
    double z0 = 0.0; // below every model: where the rays start

    explicit SceneGrid(const AutoSupportScene& s) : scene(s) {}

    bool faceBox(size_t f, Eigen::AlignedBox3d& box) const
    {
        box.setEmpty();
        for (int32_t v : scene.faces[f].v)
            box.extend(scene.vertices[size_t(v)]);
        return box.min().allFinite() && box.max().allFinite();
    }

    // Calls visit(j, i0, i1) for each row j of bins the face crosses, with the bins i0..i1 of
    // that row it covers: the bins of the triangle itself, not of its bounding box, so that a
    // long thin face (a sector of a fan) is met only by the rays that may cross it. A margin
    // keeps rays on a shared edge in the bins of both faces.
    template <typename Visit>
    void forEachBin(size_t f, const Eigen::AlignedBox3d& box, Visit visit) const
    {
        const Eigen::Vector3d* p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = &scene.vertices[size_t(scene.faces[f].v[size_t(k)])];
        const double eps = 1e-6 * std::max(box.sizes()[0], box.sizes()[1]) + 1e-9;
        auto bin = [&](double v, double origin, int64_t n) {
            return std::clamp<int64_t>(int64_t(std::floor((v - origin) / cell)), 0, n - 1);
        };
        const int64_t j0 = bin(box.min()[1] - eps, y0, ny), j1 = bin(box.max()[1] + eps, y0, ny);
        for (int64_t j = j0; j <= j1; ++j) {
            const double ya = std::max(y0 + double(j) * cell, box.min()[1]) - eps;
            const double yb = std::min(y0 + double(j + 1) * cell, box.max()[1]) + eps;
            double lo = INFINITY, hi = -INFINITY;
            for (int k = 0; k < 3; ++k) {
                const Eigen::Vector3d& a = *p[k];
                const Eigen::Vector3d& b = *p[(k + 1) % 3];
                double t0 = 0.0, t1 = 1.0;
                if (a[1] != b[1]) {
                    const double ta = (ya - a[1]) / (b[1] - a[1]), tb = (yb - a[1]) / (b[1] - a[1]);
                    t0 = std::max(0.0, std::min(ta, tb));
                    t1 = std::min(1.0, std::max(ta, tb));
                } else if (a[1] < ya || a[1] > yb) {
                    continue;
                }
                if (t0 > t1)
                    continue;
                for (double t : {t0, t1}) {
                    const double x = a[0] + t * (b[0] - a[0]);
                    lo = std::min(lo, x);
                    hi = std::max(hi, x);
                }
            }
            if (lo <= hi)
                visit(j, bin(lo - eps, x0, nx), bin(hi + eps, x0, nx));
        }
    }

    // Bins about as large as the faces are on average, seen from above (so that a face fills
    // a few), and no smaller than a quarter of the plate's share per face; twice as wide while
    // the faces would fill more than a budget of entries, so that long faces cannot make the
    // grid grow as faces times bins.
    void build()
    {
        Eigen::AlignedBox3d all, box;
        double area = 0.0;
        for (size_t f = 0; f < scene.faces.size(); ++f)
            if (faceBox(f, box)) {
                all.extend(box);
                const FaceIndex& t = scene.faces[f];
                const Eigen::Vector3d u = scene.vertices[size_t(t.v[1])] - scene.vertices[size_t(t.v[0])];
                const Eigen::Vector3d v = scene.vertices[size_t(t.v[2])] - scene.vertices[size_t(t.v[0])];
                area += 0.5 * std::fabs(u[0] * v[1] - u[1] * v[0]);
            }
        if (all.isEmpty())
            return;
        x0 = all.min()[0];
        y0 = all.min()[1];
        const double w = all.sizes()[0], h = all.sizes()[1], n = double(scene.faces.size());
        cell = std::max({std::sqrt(area / n), std::sqrt(w * h / (4.0 * n)), (w + h) / (4.0 * n), 1e-3});
        const double budget = 16.0 * n + double(1 << 20);
        for (;; cell *= 2.0) {
            nx = int64_t(w / cell) + 1;
            ny = int64_t(h / cell) + 1;
            double entries = 0.0;
            for (size_t f = 0; f < scene.faces.size() && entries <= budget; ++f)
                if (faceBox(f, box))
                    forEachBin(f, box, [&](int64_t, int64_t i0, int64_t i1) { entries += double(i1 - i0 + 1); });
            if (entries <= budget)
                break;
        }
        start.assign(size_t(nx * ny + 1), 0);
        for (int pass = 0; pass < 2; ++pass) {
            for (size_t f = 0; f < scene.faces.size(); ++f) {
                if (!faceBox(f, box))
                    continue;
                forEachBin(f, box, [&](int64_t j, int64_t i0, int64_t i1) {
                    for (int64_t i = i0; i <= i1; ++i) {
                        const size_t b = size_t(j * nx + i);
                        if (pass == 0)
                            ++start[b + 1];
                        else
                            faces[start[b]++] = int32_t(f);
                    }
                });
            }
            if (pass == 0) {
                std::partial_sum(start.begin(), start.end(), start.begin());
                faces.resize(start.back());
            } else {
                // The fill moved each start to the next bin's.
                std::copy_backward(start.begin(), start.end() - 1, start.end());
                start[0] = 0;
            }
        }
    }

    int modelOf(int32_t vertex) const
    {
        const auto& m = scene.models;
        const auto it = std::upper_bound(m.begin(), m.end(), vertex,
                                         [](int32_t v, const AutoSupportScene::Model& x) { return v < x.firstVertex; });
        return int(it - m.begin()) - 1;
    }

    // Appends every face the upward ray at (x, y) crosses, in no particular order.
    void cross(double x, double y, double angle, std::vector<Crossing>& out) const
    {
        const double fx = (x - x0) / cell, fy = (y - y0) / cell;
        if (!(fx >= 0.0 && fy >= 0.0 && fx < double(nx) && fy < double(ny)))
            return;
        const size_t bin = size_t(int64_t(fy) * nx + int64_t(fx));
        const double ray[6] = {x, y, z0, 0.0, 0.0, 1.0};
        for (size_t k = start[bin]; k < start[bin + 1]; ++k) {
            const FaceIndex& f = scene.faces[size_t(faces[k])];
            const Eigen::Vector3d& a = scene.vertices[size_t(f.v[0])];
            const Eigen::Vector3d& b = scene.vertices[size_t(f.v[1])];
            const Eigen::Vector3d& c = scene.vertices[size_t(f.v[2])];
            double t, signedT;
            if (!rayTriangleSigned(ray, a, b, c, t, signedT, angle))
                continue;
            const bool entering = (b - a).cross(c - a).z() < 0.0;
            out.push_back({t, signedT, entering, modelOf(f.v[0]), f});
        }
    }
};

// Where a vertical ray goes into material (from outside every shell) or back out of it.
struct Passage
{
    double z;
    bool into;
    bool own;          // a face of the supported model is met here
    bool needsSupport; // going in through a face of that model flatter than the angle allows
};

struct Scratch
{
    std::vector<Crossing> hits;
    std::vector<int32_t> group;
};

// The passages of the vertical ray at (x, y), lowest first, through all models; own marks
// those of model. The ray counts the shells it is inside (a shell turned inside out counts
// the other way), so touching, stacked, overlapping and nested shells, of one model or of
// several, give no passage inside material. Faces met at one height going the same way that
// share a corner are one surface (the ray runs through their shared edge or corner) and
// count once.
void verticalPassages(const SceneGrid& scene, int model, double x, double y, double angle, Scratch& s,
                      std::vector<Passage>& out)
{
    std::vector<Crossing>& hits = s.hits;
    hits.clear();
    out.clear();
    scene.cross(x, y, angle, hits);
    std::sort(hits.begin(), hits.end(), [](const Crossing& a, const Crossing& b) { return a.t < b.t; });
    auto shareCorner = [](const Crossing& a, const Crossing& b) {
        for (int32_t i : a.face.v)
            if (i == b.face.v[0] || i == b.face.v[1] || i == b.face.v[2])
                return true;
        return false;
    };
    int depth = 0;
    std::vector<int32_t>& group = s.group;
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
        bool own = false, support = false;
        for (size_t a = 0; a < n; ++a) {
            const Crossing& h = hits[i + a];
            if (root(int32_t(a)) == int32_t(a))
                change += h.entering ? 1 : -1;
            if (h.model == model) {
                own = true;
                support = support || h.signedT < 0.0;
            }
        }
        const bool inside = depth != 0;
        depth += change;
        const double z = scene.z0 + hits[i].t;
        if (!inside && depth != 0)
            out.push_back({z, true, own, support});
        else if (inside && depth == 0)
            out.push_back({z, false, own, false});
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
bool supportsOfModel(const SceneGrid& scene, int model, double step, double angle, std::vector<AutoSupportColumn>& out)
{
    const std::array<double, 6>& box = scene.scene.models[size_t(model)].box;
    const double minX = box[0], minY = box[1];
    const double sx = box[3] - box[0], sy = box[4] - box[1], sz = box[5] - box[2];
    if (!(sx >= 0.0 && sy >= 0.0 && sz >= 0.0) || step <= 0.0)
        return true;
    const int nx = int(sx / step + 1.0), ny = int(sy / step + 1.0);
    const int fine = int(step * 10.0);
    const double tol = std::min(step, sz * 0.05);
    const double needed = step * 121.0 / 1.1 * step / 1.1 / 3.0;
    const qint64 limitMs = Platform::scaledMs(kAutoSupportLimitMs);
    QElapsedTimer clock;
    clock.start();

    const size_t cells = size_t(nx) * size_t(ny);
    std::atomic<size_t> nextCell{0};
    std::atomic<bool> failed{false};
    const unsigned workers = std::max(1u, std::min(hardwareThreads(), unsigned(cells)));
    std::vector<std::vector<CellColumns>> found(workers);
    const MeshModel* owner = scene.scene.models[size_t(model)].model;

    auto work = [&](unsigned w) {
        Scratch scratch;
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
            verticalPassages(scene, model, x, y, 0.0, scratch, passages);
            // Columns stand in the free stretches: from the plate or the top of any model's
            // material up to where the ray next goes into this model.
            cands.clear();
            double bottom = 0.0;
            for (const Passage& p : passages) {
                if (!p.into)
                    bottom = p.z;
                else if (p.own)
                    cands.push_back({x, y, bottom, p.z});
            }
            // Only candidates tall enough to become columns need the fine check.
            cands.erase(std::remove_if(cands.begin(), cands.end(),
                                       [](const Candidate& c) { return c.top - c.bottom < 0.0001; }),
                        cands.end());
            if (cands.empty())
                continue;
            for (int p = 0; p < fine; ++p) {
                for (int q = 0; q < fine; ++q) {
                    verticalPassages(scene, model, x - step / 2 + 0.05 + 0.1 * p, y - step / 2 + 0.05 + 0.1 * q,
                                     angle, scratch, passages);
                    for (const Passage& in : passages) {
                        // Steep enough to stand alone; at angle 0 nothing is.
                        if (!in.into || !in.own || (angle > 0.0 && !in.needsSupport))
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
                    cc.columns.push_back({owner, {c.x, c.y, c.bottom}, c.top - c.bottom});
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

AutoSupportScene autoSupportScene(const std::vector<const MeshModel*>& models)
{
    AutoSupportScene scene;
    size_t vertexCount = 0, faceCount = 0;
    for (const MeshModel* m : models)
        for (const MeshData* d : {m->getMesh(), m->getSupportMesh()})
            if (d) {
                vertexCount += d->vertices.size();
                faceCount += d->faces.size();
            }
    // Vertex and face ids are 32-bit.
    if (vertexCount >= size_t(INT32_MAX) || faceCount >= size_t(INT32_MAX)) {
        scene.complete = false;
        return scene;
    }
    scene.vertices.reserve(vertexCount);
    scene.faces.reserve(faceCount);
    for (const MeshModel* m : models) {
        scene.models.push_back({m, m->box, int32_t(scene.vertices.size())});
        const Eigen::Matrix4d toScene = m->getModelMatrix();
        for (const MeshData* d : {m->getMesh(), m->getSupportMesh()}) {
            if (!d)
                continue;
            const int32_t base = int32_t(scene.vertices.size());
            const size_t nv = d->vertices.size();
            for (const auto& p : d->vertices)
                scene.vertices.push_back((toScene * Eigen::Vector4d(p[0], p[1], p[2], 1.0)).head<3>());
            for (const auto& f : d->faces)
                if (f[0] >= 0 && f[1] >= 0 && f[2] >= 0 && size_t(f[0]) < nv && size_t(f[1]) < nv && size_t(f[2]) < nv)
                    scene.faces.push_back(FaceIndex{{f[0] + base, f[1] + base, f[2] + base}});
        }
    }
    return scene;
}

AutoSupportResult findAutoSupports(const AutoSupportScene& scene, double step, double angle)
{
    AutoSupportResult result;
    SceneGrid grid(scene);
    bool ok = scene.complete;
    if (ok)
        grid.build();
    double lowest = 0.0, tallest = 1.0;
    for (const AutoSupportScene::Model& m : scene.models) {
        lowest = std::min(lowest, m.box[2]);
        tallest = std::max(tallest, m.box[5] - m.box[2]);
    }
    grid.z0 = lowest - tallest;
    result.gridEntries = grid.faces.size();
    for (size_t m = 0; ok && m < scene.models.size(); ++m)
        ok = supportsOfModel(grid, int(m), step, angle, result.columns);
    if (!ok) {
        result.ok = false;
        result.columns.clear();
        if (g_jobState.load() != 1)
            g_jobState = 3;
    }
    return result;
}

AutoSupportResult findAutoSupports(const std::vector<const MeshModel*>& models, double step, double angle)
{
    return findAutoSupports(autoSupportScene(models), step, angle);
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
    auto scene = std::make_shared<const AutoSupportScene>(autoSupportScene(visibleModels()));
    QtConcurrent::run([=]() {
        auto result = std::make_shared<AutoSupportResult>(findAutoSupports(*scene, step, angle));
        QMetaObject::invokeMethod(context, [result, done]() {
            commitAutoSupports(*result);
            if (done)
                done(result->ok);
        }, Qt::QueuedConnection);
    });
}
