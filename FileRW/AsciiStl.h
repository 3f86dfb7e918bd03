#pragma once

#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>

#include "FileRW/FileReaderWriter.h"

// ASCII STL: three "v" lines in a row make a facet, and any other keyword line ends one; a
// facet with a bad vertex line, or with more or fewer than three, is dropped on its own.
// The file is cut into runs of lines, each read with its own positioned read and parsed, on
// every core.
class AsciiStl
{
public:
    // The file's facets as corners, in file order; false when the file cannot be read or the
    // load was cancelled.
    static bool readCorners(const QString& path, CornerList& corners, std::atomic<int>& progress,
                            const std::atomic<bool>& cancelled);

    // A line longer than this (line feed excluded) is dropped whole.
    static constexpr size_t kMaxLine = size_t(1) << 20;
    // The text each thread takes at once, cut at the next line end; tests lower it so that
    // facets cross the cuts (0 restores it).
    static void setBlockBytesForTests(size_t bytes);
    // Called with a run's offset before it is read, on the thread that reads it (empty: none).
    static void setBeforeReadForTests(std::function<void(qint64)> hook);
};
