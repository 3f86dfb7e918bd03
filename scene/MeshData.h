#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "scene/MeshStamp.h"

// A triangle mesh: vertices in millimetres, faces as three vertex indices (winding = order),
// per-vertex normals either empty or one per vertex.
struct MeshData
{
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::array<int32_t, 3>> faces;
    std::vector<std::array<double, 3>> normals;
    MeshStamp stamp;

    // Matrices are 4x4, column by column: element (row r, column c) at index 4c + r.
    static void clear(MeshData& m);
    static void appendMesh(MeshData& dst, const MeshData& src);
    static void transform(const MeshData& src, const double matrix[16], MeshData& out);
    // A cancelled computation returns false and leaves the normals as they were.
    static bool computeNormals(MeshData& m, const std::atomic<bool>* cancelled = nullptr);
    // A cancelled sort leaves the faces in no particular order.
    static void sortFaces(MeshData& m, const std::atomic<bool>* cancelled = nullptr);
};
