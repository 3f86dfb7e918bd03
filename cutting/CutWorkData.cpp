#include "cutting/CutWorkData.h"

std::atomic<int> g_jobState{0};

CutWorkData& cutWorkData()
{
    static CutWorkData data;
    return data;
}

std::array<double, 3> sectionPointTo3D(const ClipperLib::IntPoint& p, int planeUm, int axis)
{
    const double u = double(p.X) * 0.001, v = double(p.Y) * 0.001, a = double(planeUm) * 0.001;
    switch (axis) {
    case CutX: return {a, v, u};
    case CutY: return {u, a, v};
    default: return {u, v, a};
    }
}
