#pragma once

#include <QString>

#include <atomic>
#include <cstddef>

#include "FileRW/FileReaderWriter.h"

// ASCII STL: three "v" lines in a row make a facet, and any other keyword line ends one; a
// facet with a bad vertex line, or with more or fewer than three, is dropped on its own.
// The file is read in large blocks, cut at line ends and parsed on every core.
class AsciiStl
{
public:
    // The file's facets as corners, in file order; false when the file cannot be read or the
    // load was cancelled.
    static bool readCorners(const QString& path, CornerList& corners, std::atomic<int>& progress,
                            const std::atomic<bool>& cancelled);

    // A line longer than this (line feed excluded) is dropped whole.
    static constexpr size_t kMaxLine = size_t(1) << 20;
    // Bytes read at once; tests lower it to put block ends at awkward places (0 restores it).
    static void setBlockBytesForTests(size_t bytes);
};
