#include "render/GcodePreviewData.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <numeric>

#include "platform/Platform.h"
#include "scene/MeshData.h"
#include "scene/Parallel.h"

std::atomic<int> chunkPending{0};
std::atomic<int> g_gcodeLayerCount{100};
std::atomic<int> layerStep{1};

namespace {

constexpr double kEps = 1e-6;

// Wakes the reader as soon as the renderer let go of a batch; the reader still looks at its
// cancel flag at least every 100 ms.
std::mutex handOverLock;
std::condition_variable handOverDone;

void notifyHandOver()
{
    std::lock_guard<std::mutex> lk(handOverLock);
    handOverDone.notify_all();
}

// Waits while chunkPending is not `until` (or, with reclaim, takes a pending batch back).
bool waitForState(const std::atomic<bool>& cancel, bool reclaim)
{
    std::unique_lock<std::mutex> lk(handOverLock);
    for (;;) {
        int expected = 1;
        if (reclaim && chunkPending.compare_exchange_strong(expected, 0, std::memory_order_acq_rel))
            return true;
        if (chunkPending.load(std::memory_order_acquire) == 0)
            return true;
        if (cancel.load(std::memory_order_relaxed))
            return false;
        handOverDone.wait_for(lk, std::chrono::milliseconds(Platform::scaledMs(100)));
    }
}

} // namespace

GcodePreviewData::GcodePreviewData() = default;
GcodePreviewData::~GcodePreviewData() = default;

void GcodePreviewData::clear()
{
    startsNewPath = true;
    chunk.reset();
    chunkReady = 0;
    std::vector<Point>().swap(points);
    std::vector<double>().swap(layerZ);
    std::vector<int32_t>().swap(lineTypes);
    {
        std::lock_guard<std::mutex> lk(heightLock);
        std::vector<double>().swap(layerHeights);
    }
    hasCarry = false;
    carryLayerCount = 0;
    markerLayer = false;
    barRuns.clear();
}

void GcodePreviewData::resetBuilder()
{
    chunk = std::make_unique<ToolPathMesh>();
    chunkReady = 0;
    markerLayer = false;
    points.clear();
    lineTypes.clear();
    layerZ.clear();
    barRuns.clear();
    if (batchHint > 0) {
        // Room for every point of the batch; the chunk is sized once its bars are counted.
        points.reserve(batchHint + 2);
        lineTypes.reserve(batchHint + 2);
    }
    if (carryLayerCount > 0)
        layerZ.assign(carryLayers.begin(), carryLayers.begin() + carryLayerCount);
    else
        layerZ.push_back(0.0);
    carriedLayers = int(layerZ.size());
    layerIndex = int(layerZ.size()) - 2;
    if (hasCarry) {
        points.push_back(carryPoint);
        lineTypes.push_back(carryType);
    }
    nextPoint = 1;
}

void GcodePreviewData::addPathPoint(int lineType, double x, double y, double z)
{
    if (layerZ.empty())
        resetBuilder();
    const size_t n = points.size();
    points.push_back({x, y, z});
    lineTypes.push_back(lineType);

    // A layer starts at the first non-travel point whose predecessor is at the same height
    // (so a single move up does not count), or at the end marker.
    bool newLayer = std::abs(z - layerZ.back()) > kEps && lineType != 0;
    if (newLayer && lineType != -1)
        newLayer = n > 0 && std::abs(points[n - 1].z - z) < kEps;
    if (newLayer) {
        layerZ.push_back(z);
        ++layerIndex;
        markerLayer = lineType == -1;
        closeLayer(z);
    }
    if (lineType == -1) {
        buildBars();
        chunkReady = 1;
    }
}

void GcodePreviewData::closeLayer(double newZ)
{
    // The layer being closed is layerZ[layerIndex]; its bars are as thick as the thinner of
    // the gaps around it. The first layer has no gap below: it uses the one above. The bars
    // themselves are built when the batch ends, all at once on every core.
    const double above = std::abs(layerZ[size_t(layerIndex) + 1] - layerZ[size_t(layerIndex)]);
    const double below = layerIndex >= 1 ? std::abs(layerZ[size_t(layerIndex)] - layerZ[size_t(layerIndex) - 1]) : above;
    const double side = std::min(below, above) * 0.7;
    const size_t n = points.size() - 1; // the point that opened the layer is not built yet
    const size_t from = size_t(std::max(nextPoint, 1));
    size_t k = from;
    while (k < n && points[k].z < newZ - kEps)
        ++k;
    if (k > from)
        barRuns.push_back({from, k, side});
    nextPoint = int(std::max(k, size_t(nextPoint)));
}

namespace {
// What the bar of a point adds to the chunk: 8 corners, and 12 triangles after a travel (with
// caps) or 8; nothing for a point that is not an extruding move, or a move of no length.
struct BarShape
{
    bool exists;
    bool caps;
};
} // namespace

void GcodePreviewData::buildBars()
{
    if (barRuns.empty())
        return;
    auto shape = [&](size_t k, double side) {
        if (lineTypes[k] != 1)
            return BarShape{false, false};
        const Point& a = points[k - 1];
        const Point& b = points[k];
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
        return BarShape{length > 1e-9 && side > 0.0 && std::isfinite(length), lineTypes[k - 1] == 0};
    };
    // The runs follow each other without gaps: one range of points, cut for the threads.
    const size_t first = barRuns.front().from, count = barRuns.back().to - first;
    const size_t parts = partCount(count, 1 << 14);
    std::vector<size_t> barsBefore(parts + 1, 0), trianglesBefore(parts + 1, 0);
    auto runOf = [&](size_t k) {
        return size_t(std::upper_bound(barRuns.begin(), barRuns.end(), k,
                                       [](size_t at, const BarRun& r) { return at < r.to; })
                      - barRuns.begin());
    };
    parallelParts(count, 1 << 14, [&](size_t part, size_t b, size_t e) {
        size_t bars = 0, triangles = 0;
        for (size_t run = runOf(first + b), k = first + b; k < first + e; ++k) {
            while (k >= barRuns[run].to)
                ++run;
            const BarShape s = shape(k, barRuns[run].side);
            bars += s.exists;
            triangles += s.exists ? (s.caps ? 12 : 8) : 0;
        }
        barsBefore[part + 1] = bars;
        trianglesBefore[part + 1] = triangles;
    });
    std::partial_sum(barsBefore.begin(), barsBefore.end(), barsBefore.begin());
    std::partial_sum(trianglesBefore.begin(), trianglesBefore.end(), trianglesBefore.begin());
    ToolPathMesh& m = *chunk;
    const size_t vAt = m.vertices.size(), tAt = m.triangles.size();
    m.vertices.resize(vAt + barsBefore.back() * 24);
    m.normals.resize(vAt + barsBefore.back() * 24);
    m.triangles.resize(tAt + trianglesBefore.back() * 3);
    parallelParts(count, 1 << 14, [&](size_t part, size_t b, size_t e) {
        size_t bar = vAt / 24 + barsBefore[part];
        uint32_t* tri = m.triangles.data() + tAt + trianglesBefore[part] * 3;
        for (size_t run = runOf(first + b), k = first + b; k < first + e; ++k) {
            while (k >= barRuns[run].to)
                ++run;
            const double side = barRuns[run].side;
            const BarShape s = shape(k, side);
            if (!s.exists)
                continue;
            writeBar(points[k - 1], points[k], side, s.caps, m.vertices.data() + bar * 24, m.normals.data() + bar * 24,
                     uint32_t(bar * 8), tri);
            tri += s.caps ? 36 : 24;
            ++bar;
        }
    });
    barRuns.clear();
}

void GcodePreviewData::writeBar(const Point& from, const Point& to, double side, bool withCaps, float* pv, float* pn,
                                uint32_t base, uint32_t* pt)
{
    // The box of Parallelepiped(mid, side, side, length) with u = (0, 0, 1),
    // v = unit(dy, -dx, 0), w = unit(d), written straight into the chunk: corners P0..P3 at
    // the start, P4..P7 at the end, triangles in the mesh builder's order.
    const double dx = to.x - from.x, dy = to.y - from.y, dz = to.z - from.z;
    double u[3], v[3];
    const double h = std::sqrt(dx * dx + dy * dy);
    if (h > 1e-12) {
        u[0] = 0, u[1] = 0, u[2] = 1;
        v[0] = dy / h, v[1] = -dx / h, v[2] = 0;
    } else {
        // Straight up or down: any side axis across the move; v = w x u keeps it outward.
        const double wz = dz > 0 ? 1.0 : -1.0;
        u[0] = 1, u[1] = 0, u[2] = 0;
        v[0] = 0, v[1] = wz, v[2] = 0;
    }
    const double hs = side * 0.5;
    const double su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
    // Corner offsets across the bar; normals point from the bar's axis to its corners.
    double off[4][3];
    const double r = 1.0 / std::sqrt(2.0);
    for (int i = 0; i < 4; ++i)
        for (int a = 0; a < 3; ++a)
            off[i][a] = su[i] * u[a] + sv[i] * v[a];
    const Point* ends[2] = {&from, &to};
    for (const Point* c : ends)
        for (int i = 0; i < 4; ++i) {
            *pv++ = float(c->x + hs * off[i][0]);
            *pv++ = float(c->y + hs * off[i][1]);
            *pv++ = float(c->z + hs * off[i][2]);
            *pn++ = float(off[i][0] * r);
            *pn++ = float(off[i][1] * r);
            *pn++ = float(off[i][2] * r);
        }
    static const uint32_t tris[12][3] = {{0, 2, 1}, {0, 3, 2}, {0, 1, 4}, {1, 5, 4}, {1, 2, 5}, {2, 6, 5},
                                         {2, 3, 6}, {3, 7, 6}, {3, 0, 7}, {0, 4, 7}, {4, 6, 7}, {4, 5, 6}};
    const int firstTri = withCaps ? 0 : 2, lastTri = withCaps ? 12 : 10;
    for (int t = firstTri; t < lastTri; ++t)
        for (int a = 0; a < 3; ++a)
            *pt++ = base + tris[t][a];
}

bool GcodePreviewData::appendSolidMesh(const MeshData& mesh, bool withCaps)
{
    if (mesh.vertices.size() != 8 || mesh.faces.size() != 12)
        return false;
    for (const auto& f : mesh.faces)
        for (int32_t i : f)
            if (i < 0 || i > 7)
                return false;
    if (!chunk)
        chunk = std::make_unique<ToolPathMesh>();
    ToolPathMesh& m = *chunk;
    const uint32_t base = uint32_t(m.vertices.size() / 3);
    double c[3] = {0, 0, 0};
    for (int i = 0; i < 4; ++i)
        for (int a = 0; a < 3; ++a)
            c[a] += mesh.vertices[size_t(i)][size_t(a)] * 0.25;
    for (const auto& p : mesh.vertices)
        for (int a = 0; a < 3; ++a)
            m.vertices.push_back(float(p[size_t(a)]));
    for (int i = 0; i < 8; ++i) {
        const auto& p = mesh.vertices[size_t(i % 4)];
        double d[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
        const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (int a = 0; a < 3; ++a)
            m.normals.push_back(len > 0 ? float(d[a] / len) : 0.0f);
    }
    const size_t first = withCaps ? 0 : 2, last = withCaps ? 12 : 10;
    for (size_t t = first; t < last; ++t)
        for (int a = 0; a < 3; ++a)
            m.triangles.push_back(base + uint32_t(mesh.faces[t][size_t(a)]));
    return true;
}

const ToolPathMesh* GcodePreviewData::currentChunk() const
{
    return chunkReady ? chunk.get() : nullptr;
}

void GcodePreviewData::keepLayerHeights()
{
    // Carried entries were kept by the batch before; the end marker's is no layer; a layer
    // split across two batches is registered twice.
    const size_t end = layerZ.size() - (markerLayer ? 1 : 0);
    std::lock_guard<std::mutex> lk(heightLock);
    for (size_t i = size_t(std::min<int>(carriedLayers, int(end))); i < end; ++i) {
        const double z = layerZ[i];
        if (z == 0.0)
            continue;
        if (!layerHeights.empty() && std::abs(layerHeights.back() - z) <= kEps)
            continue;
        layerHeights.push_back(z);
    }
}

void GcodePreviewData::releaseChunk()
{
    if (!layerZ.empty()) {
        keepLayerHeights();
        const size_t realLayers = layerZ.size() - (markerLayer ? 1 : 0);
        carryLayerCount = int(std::min<size_t>(2, realLayers));
        for (int i = 0; i < carryLayerCount; ++i)
            carryLayers[size_t(i)] = layerZ[realLayers - size_t(carryLayerCount) + size_t(i)];
        // The last real move before the end marker starts the next batch's first segment.
        size_t last = points.size();
        while (last > 0 && lineTypes[last - 1] == -1)
            --last;
        hasCarry = last > 0;
        if (hasCarry) {
            carryPoint = points[last - 1];
            carryType = lineTypes[last - 1];
        }
    }
    chunk.reset();
    chunkReady = 0;
    std::vector<Point>().swap(points);
    std::vector<double>().swap(layerZ);
    std::vector<int32_t>().swap(lineTypes);
    markerLayer = false;
}

double GcodePreviewData::clipHeightForLayer(int sliderValue) const
{
    const int step = std::max(1, layerStep.load(std::memory_order_relaxed));
    const int i = sliderValue / step;
    if (i <= 0)
        return 0.0;
    std::lock_guard<std::mutex> lk(heightLock);
    const std::vector<double>& H = layerHeights;
    const size_t count = H.size();
    if (count < 3)
        return 1000.0;
    // The top layer shows whole: half its gap below is added above it.
    if (size_t(i) >= count - 1)
        return H[count - 1] + std::abs(H[count - 1] - H[count - 2]) * 0.5;
    const size_t k = size_t(i);
    return H[k] + std::min(std::abs(H[k + 1] - H[k]), std::abs(H[k] - H[k - 1])) * 0.5;
}

std::vector<double> GcodePreviewData::layerHeightList() const
{
    std::lock_guard<std::mutex> lk(heightLock);
    return layerHeights;
}

void GcodePreviewData::publishChunk()
{
    chunkPending.store(1, std::memory_order_release);
}

bool GcodePreviewData::waitUntilTaken(const std::atomic<bool>& cancel) const
{
    return waitForState(cancel, false);
}

bool GcodePreviewData::reclaim(const std::atomic<bool>& cancel)
{
    return waitForState(cancel, true);
}

bool GcodePreviewData::takeChunk(const std::function<void(ToolPathMesh&)>& upload,
                                 const std::function<void()>& newPath)
{
    int expected = 1;
    if (!chunkPending.compare_exchange_strong(expected, 2, std::memory_order_acq_rel))
        return false;
    if (startsNewPath && newPath)
        newPath();
    startsNewPath = false;
    if (chunkReady && chunk && !chunk->triangles.empty() && upload)
        upload(*chunk);
    releaseChunk();
    chunkPending.store(0, std::memory_order_release);
    notifyHandOver();
    return true;
}
