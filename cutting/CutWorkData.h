#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include <clipper.hpp>

// Axis normal to the cut plane.
enum CUTXYZ : int { CutX = 0, CutY = 1, CutZ = 2 };

// State of the long jobs (cut, automatic supports), shared with the GUI thread:
// 0 idle, 1 stop requested, 2 the cut stopped or failed, 3 automatic supports gave up.
extern std::atomic<int> g_jobState;

// One record of a half: three consecutive records form one triangle. A cut writes a few
// records per face, so they hold no more than the point's id: a first cut pays for every
// byte of them in fresh pages.
struct CutVertex
{
    int32_t point = -1; // in CutWorkData::points
    int32_t shell = 0;  // connected part of the model the triangle comes from
};

// Where one face crosses the plane, in section coordinates (micrometres).
// Oriented so that the section's material lies on its left seen from +axis.
struct SectionSegment
{
    ClipperLib::IntPoint first;
    ClipperLib::IntPoint second;
    int32_t face = -1;
    bool used = false;
};

// One united part of the section: the outer outline first, then its holes.
struct SectionRegion
{
    int64_t minU = 0, minV = 0;
    int64_t maxU = INT64_MIN, maxV = INT64_MIN;
    ClipperLib::Paths outlines;
};

// The section of the last preview (or cut), kept so that a cut at the same place reuses it.
struct CutWorkData
{
    std::vector<CutVertex> up;
    std::vector<CutVertex> down;
    // The caps of each half, kept apart so that the halves need not grow under them.
    std::vector<CutVertex> upCap;
    std::vector<CutVertex> downCap;
    // Edges in the plane of the faces the plane does not cross, as (from, to, shell): only
    // these can make one half's rim other than the other's turned round.
    std::vector<std::array<int32_t, 3>> planeEdges;
    // The points the records name, in whole micrometres: equal points are one.
    std::vector<std::array<int64_t, 3>> points;
    std::vector<SectionRegion> regions;
    const void* model = nullptr; // identity of the model the section belongs to
    int modelIndex = -1;
    int axis = -1;
    int planeUm = 0;
    double axisPosition = 0.0;
    std::array<double, 3> position{0.0, 0.0, 0.0};
    std::array<double, 16> matrix{}; // model matrix the section was made with
};

CutWorkData& cutWorkData();

// Section point (u, v) back to 3D (millimetres): X (plane, v, u); Y (u, plane, v); Z (u, v, plane).
std::array<double, 3> sectionPointTo3D(const ClipperLib::IntPoint& p, int planeUm, int axis);
