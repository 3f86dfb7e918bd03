#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "render/ToolPathMesh.h"

struct MeshData;

// Hand-over between the print-task reader (file worker) and the renderer (GUI thread).
// chunkPending: 0 the reader owns the preview data, 1 a finished batch waits for the renderer,
// 2 the renderer is taking it (back to 0 when done).
extern std::atomic<int> chunkPending;
// Published by the reader after its last batch: the layer slider's maximum and the divisor
// of the slider value.
extern std::atomic<int> g_gcodeLayerCount;
extern std::atomic<int> layerStep;

// The tool-path preview container held by AppData. The reader replays moves into it with
// addPathPoint; every extruding segment becomes a small box ("bar") in the chunk mesh, which
// the renderer uploads and then releases. Only the layer heights outlive a chunk.
class GcodePreviewData
{
public:
    struct Point
    {
        double x, y, z;
    };

    GcodePreviewData();
    ~GcodePreviewData();
    GcodePreviewData(const GcodePreviewData&) = delete;
    GcodePreviewData& operator=(const GcodePreviewData&) = delete;

    // Drops the chunk, the points and the layer heights; the builder starts afresh.
    void clear();
    // How many points the next batch may bring; their storage is set aside at once, so a
    // batch of millions of points is not copied while it grows.
    void setBatchHint(size_t points) { batchHint = points; }
    // lineType 1 extruding move, 0 travel, -1 end of a batch; any other G number is kept as a
    // point but builds no bar.
    void addPathPoint(int lineType, double x, double y, double z);
    // The finished chunk, null while the batch is still being built.
    const ToolPathMesh* currentChunk() const;
    // After the renderer took the chunk: frees it and the points, keeps the layer heights.
    void releaseChunk();
    // Appends one box mesh (8 vertices, 12 triangles in ParallelogramVolume's order); the
    // caps (first two and last two triangles) only when withCaps.
    bool appendSolidMesh(const MeshData& mesh, bool withCaps);
    // Clip height for the layer slider in the tool-path view.
    double clipHeightForLayer(int sliderValue) const;

    // Reader side of the hand-over. publishChunk marks the batch finished for the renderer;
    // waitUntilTaken blocks until the renderer took it, false when cancel was raised first.
    void publishChunk();
    bool waitUntilTaken(const std::atomic<bool>& cancel) const;
    // Before a new load: takes a batch back that nobody took (a cancelled load), or waits
    // for a renderer busy with one. False when cancel was raised first.
    bool reclaim(const std::atomic<bool>& cancel);

    // GUI side: when a batch is pending, upload is called with its chunk (if any bars were
    // built), the chunk is released and the reader woken. False when nothing was pending.
    // newPath is called first when the batch is the first one since clear(): whatever the
    // renderer keeps of an earlier path must go.
    // The chunk is the renderer's to empty while it uploads it.
    bool takeChunk(const std::function<void(ToolPathMesh&)>& upload,
                   const std::function<void()>& newPath = nullptr);

    // Read-only looks for the view and tests.
    std::vector<double> layerHeightList() const;
    size_t pointCount() const { return points.size(); }
    const std::vector<Point>& pathPoints() const { return points; }
    const std::vector<int32_t>& pathLineTypes() const { return lineTypes; }
    // 1 when the first point is the previous batch's last move, carried over.
    size_t carriedPointCount() const { return hasCarry && !points.empty() ? 1 : 0; }
    const std::vector<double>& layerZList() const { return layerZ; }

private:
    void resetBuilder();
    void closeLayer(double newZ);
    void buildBars();
    static void writeBar(const Point& from, const Point& to, double side, bool withCaps, float* vertices,
                         float* normals, uint32_t firstVertex, uint32_t* triangles);
    void keepLayerHeights();

    std::vector<Point> points;
    std::vector<double> layerZ;
    std::vector<int32_t> lineTypes;
    // Guarded by heightLock: the GUI thread reads them on every frame.
    std::vector<double> layerHeights;
    mutable std::mutex heightLock;
    int32_t chunkReady = 0;
    std::unique_ptr<ToolPathMesh> chunk;
    // Set by clear(), taken with the next batch (handed over through chunkPending).
    bool startsNewPath = false;

    size_t batchHint = 0;
    // Points [from, to) whose bars close a layer, with the bar side of that layer.
    struct BarRun
    {
        size_t from, to;
        double side;
    };
    std::vector<BarRun> barRuns;
    int nextPoint = 1;
    int layerIndex = -1;
    // How many leading layerZ entries were carried over from the previous batch, and whether
    // the last entry is the end marker's: neither becomes a layer height.
    int carriedLayers = 0;
    bool markerLayer = false;
    // What a batch hands to the next one, so the segment across the boundary keeps its bar
    // and the first layer of the batch its true gap below.
    bool hasCarry = false;
    Point carryPoint{0, 0, 0};
    int32_t carryType = 0;
    std::array<double, 2> carryLayers{{0.0, 0.0}};
    int carryLayerCount = 0;
};
