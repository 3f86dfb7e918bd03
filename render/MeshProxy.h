#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct MeshData;

// A coarse stand-in for a large mesh, drawn while the camera moves: vertex clustering on a
// uniform grid. Each occupied cell becomes one vertex (the mean of its vertices); faces that
// collapse or repeat are dropped, the rest keep their winding.
struct MeshProxy
{
    std::vector<float> positions; // x, y, z per vertex
    std::vector<uint32_t> indices; // three per face
    double cell = 0.0;             // edge of the grid cell used

    size_t faceCount() const { return indices.size() / 3; }
    size_t vertexCount() const { return positions.size() / 3; }

    // Meshes with more faces than this get a proxy.
    static constexpr size_t faceThreshold = 400000;
    // Roughly how many faces the proxy keeps (at most half the mesh's).
    static constexpr size_t targetFaces = 250000;

    // Builds the proxy of a mesh whose face indices are already checked. Empty when the mesh
    // is at or below the threshold, or when clustering would not make it much smaller.
    static MeshProxy build(const MeshData& mesh, size_t threshold = faceThreshold, size_t target = targetFaces);
};
