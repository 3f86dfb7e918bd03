#pragma once

#include "StlMesh.h"

#include <polyclipping/clipper.hpp>

#include <cstdint>
#include <vector>

namespace brev {

class Progress;

// Layer heights: layer i spans (printZ[i-1], printZ[i]] and is cut at planeZ[i], its middle.
struct LayerHeights {
    std::vector<int64_t> printZUm;
    std::vector<int64_t> planeZUm;

    static LayerHeights forMesh(int64_t maxZUm, int64_t firstUm, int64_t layerUm);
};

// Cuts the mesh at every plane and returns each layer's outline: closed loops oriented by the
// facets' winding and joined by nonzero union, so overlapping shells make one solid (outer
// boundaries counter-clockwise, holes clockwise), micrometres.
std::vector<ClipperLib::Paths> sliceMesh(StlMesh& mesh, const LayerHeights& heights,
                                         Progress* progress);

// Closed loops from unordered segments, joined by their shared end points (exposed for tests).
ClipperLib::Paths loopsFromSegments(std::vector<ClipperLib::IntPoint>& segmentEnds);

} // namespace brev
