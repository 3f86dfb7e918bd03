#pragma once

#include <QString>

#include <atomic>
#include <vector>

#include "FileRW/FileReaderWriter.h"

struct MeshData;

// Wavefront OBJ: "v" and "f" lines only. Polygons are cut into triangles by PolygonTriangulator.
class ObjFile
{
public:
    // Appends the file's triangles as corners (three per triangle). The corners are only
    // appended when the whole file was read; false when it cannot be read or was cancelled.
    // A line longer than kMaxLine is dropped on its own.
    static bool readCorners(const QString& path, CornerList& corners,
                            std::atomic<int>& progress, const std::atomic<bool>& cancelled);
    // Writes vertices and 1-based faces; the previous file survives a failed write, and a new
    // one leaves nothing. On false, error (when given) says why.
    static bool write(const QString& path, const MeshData& mesh, std::atomic<int>& progress,
                      QString* error = nullptr);

    // Longest line read, in bytes (line feed excluded).
    static constexpr int kMaxLine = 1 << 20;
};
