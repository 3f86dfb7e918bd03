#pragma once

#include <array>
#include <atomic>
#include <cstddef>
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
    // The two steps of computeNormals: the unit normals of faces [from, to) added at their
    // corners into sums (one per vertex), each vertex taking its faces in order, so that
    // faces summed in two calls, one range after the other, give what one call gives; then the
    // sums made unit length (zero where they have none).
    static bool sumFaceNormals(const MeshData& m, std::size_t from, std::size_t to, std::vector<std::array<double, 3>>& sums,
                               const std::atomic<bool>* cancelled = nullptr);
    static void unitNormals(std::vector<std::array<double, 3>>& sums);
    // A cancelled sort leaves the faces in no particular order.
    static void sortFaces(MeshData& m, const std::atomic<bool>* cancelled = nullptr);
};
