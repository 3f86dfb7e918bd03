#pragma once

#include "EngineSettings.h"
#include "StlMesh.h"

#include <polyclipping/clipper.hpp>

#include <vector>

namespace brev {

// The build plate in the engine's coordinates: a rectangle or a circle centred on the plate
// offsets, or unlimited when the ini names no size.
class Plate {
public:
    static constexpr double kToleranceUm = 50.0;

    explicit Plate(const EngineSettings& s);

    bool limited() const { return !area_.empty(); }
    // Whether the mesh above the plate lies on it; one flush with its edge does, within the
    // rounding of the host's placement.
    bool holds(const StlMesh& mesh) const { return reachPastUm(mesh) <= kToleranceUm; }
    // How far the farthest corner of a triangle above the plate lies past its edge, 0 when none does.
    double reachPastUm(const StlMesh& mesh) const;
    // The part of region on the plate; region itself when it lies on the plate already.
    ClipperLib::Paths clipped(const ClipperLib::Paths& region) const;

private:
    double pastUm(double x, double y) const;

    bool round_ = false;
    double cx_ = 0;
    double cy_ = 0;
    double halfX_ = 0; // the radius of a round plate
    double halfY_ = 0;
    ClipperLib::Paths area_;
};

} // namespace brev
