#pragma once

#include <cstdint>
#include <vector>

// One finished chunk of the tool-path preview as the renderer uploads it: three floats per
// vertex and per normal, three indices per triangle.
struct ToolPathMesh
{
    std::vector<float> vertices;
    std::vector<float> normals;
    std::vector<uint32_t> triangles;

    int vertexCount() const { return int(vertices.size() / 3); }
    int triangleCount() const { return int(triangles.size() / 3); }
};
