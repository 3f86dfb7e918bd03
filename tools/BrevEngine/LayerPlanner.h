#pragma once

#include "EngineSettings.h"
#include "LayerSlicer.h"

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
    ClipperLib::Paths support;              // manual support columns
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

    // The stages, each for one layer and all layers of a stage before the next one.
    void makeInsets(size_t layer);
    void makeSkin(size_t layer);
    void makeSupport(size_t layer);
    void dropSmallAreas(size_t layer);
    LayerCode writeLayer(size_t layer) const;

private:
    const EngineSettings& s_;
    const LayerHeights& heights_;
    const std::vector<ClipperLib::Paths>& outlines_;
    std::vector<LayerRegions> regions_;
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
