#pragma once

#include <cstdint>
#include <vector>

#include "scene/BigAllocator.h"

// One finished chunk of the tool-path preview as the renderer uploads it: three floats per
// vertex and per normal, three indices per triangle. The lists run to hundreds of megabytes
// and the bar builder writes every entry, on several threads: they are not cleared first.
struct ToolPathMesh
{
    std::vector<float, BigAllocator<float>> vertices;
    std::vector<float, BigAllocator<float>> normals;
    std::vector<uint32_t, BigAllocator<uint32_t>> triangles;

    int vertexCount() const { return int(vertices.size() / 3); }
    int triangleCount() const { return int(triangles.size() / 3); }
};
