#pragma once

#include "EngineSettings.h"
#include "LayerSlicer.h"
#include "Plate.h"

#include <polyclipping/clipper.hpp>

#include <string>
#include <vector>

namespace brev {

// What one layer prints, as areas and loops in micrometres.
struct LayerRegions {
    std::vector<ClipperLib::Paths> insets; // perimeter centre lines, outermost first
    ClipperLib::Paths inner;                // inside the last perimeter
    ClipperLib::Paths skin;                 // solid top and bottom
    ClipperLib::Paths sparse;               // sparse infill
    ClipperLib::Paths support;              // tree branches and manual columns
    ClipperLib::Paths rods;                 // column support: filled with lines only
};

// One branch of tree support where it crosses a layer: centre and radius, micrometres.
struct TreeNode {
    double x;
    double y;
    double r;
};

// One layer's G-code; E restarts at 0 on every layer.
struct LayerCode {
    std::string text;
    double seconds = 0;
    double filamentMm = 0;
};

class LayerPlanner {
public:
    LayerPlanner(const EngineSettings& settings, const LayerHeights& heights,
                 const std::vector<ClipperLib::Paths>& outlines);

    size_t layerCount() const { return regions_.size(); }
    const LayerRegions& regions(size_t layer) const { return regions_[layer]; }
    // Raft layers print before the model's and are numbered first.
    size_t raftLayerCount() const { return raft_.size(); }
    const ClipperLib::Paths& raftArea() const { return raftArea_; }

    // The stages, each for one layer and all layers of a stage before the next one; the
    // whole-print steps between them run once.
    void makeInsets(size_t layer);
    void makeSkin(size_t layer);
    void makeSupport(size_t layer);  // overhangs, model clearance, manual columns
    void spreadSupport();            // carries support down from the overhangs, layer by layer
    void shapeSupport(size_t layer); // what support prints on the layer
    void dropSmallAreas(size_t layer);
    void planRaft();                 // after the support: the raft lies under it too
    LayerCode writeLayer(size_t layer) const;
    LayerCode writeRaftLayer(size_t k) const;

private:
    struct RaftLayer {
        int64_t zUm;
        int64_t thicknessUm;
        int64_t spacingUm;
        double angleDeg;
        double speed;
    };
    void growTrees();
    ClipperLib::Paths overhangAt(size_t layer) const;
    double eScale(int64_t thicknessUm) const;

    const EngineSettings& s_;
    const LayerHeights& heights_;
    const std::vector<ClipperLib::Paths>& outlines_;
    const Plate plate_;
    std::vector<LayerRegions> regions_;
    std::vector<ClipperLib::Paths> clearance_; // the model grown by the XY distance
    std::vector<ClipperLib::Paths> overhang_;  // what hangs out too far over the layer below
    std::vector<ClipperLib::Paths> carried_;   // support needed under the overhangs above
    std::vector<std::vector<TreeNode>> tree_;
    std::vector<RaftLayer> raft_;
    ClipperLib::Paths raftArea_;
    std::vector<int64_t> modelZUm_; // nozzle height of each model layer
    int64_t firstWallZUm_ = 0;      // the first layer's walls, higher over a raft
};

struct FillLine {
    ClipperLib::IntPoint a;
    ClipperLib::IntPoint b;
};

// Parallel lines spacingUm apart at angleDeg, clipped to region (even-odd). The lines lie on
// one grid for every layer, so sparse infill stacks into walls.
std::vector<FillLine> fillLines(const ClipperLib::Paths& region, int64_t spacingUm, double angleDeg);

ClipperLib::Paths offsetPaths(const ClipperLib::Paths& paths, double deltaUm);

} // namespace brev
