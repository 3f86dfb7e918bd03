#pragma once

#include <QString>

#include <array>
#include <atomic>
#include <vector>

#include "FileRW/FileReaderWriter.h"

// Turns a picture into a closed relief block: the top follows the pixels' brightness on a grid
// of 5 cells per millimetre (x = picture row, y = column, z = height, all in grid units).
class ImageRelief
{
public:
    // params: mode sign (+1 lighter is thicker, -1 darker is thicker), base thickness (mm),
    // length along the picture's width (mm), datum thickness (mm).
    static bool readCorners(const QString& path, const std::array<double, 4>& params,
                            CornerList& corners, std::atomic<int>& progress,
                            const std::atomic<bool>& cancelled, QString* reason = nullptr);

    // The resampled grid for a picture of width x height pixels; false when it has fewer than
    // two rows or columns, needs more memory than kMaxReliefBytes, or the parameters make no grid.
    // Refused for too few cells or too much memory, reason (when given) gets the text the user sees.
    static bool gridSize(qint64 width, qint64 height, double length, int& columns, int& rows,
                         QString* reason = nullptr);

    static constexpr int kCellsPerMm = 5;
    static constexpr qint64 kMaxPicturePixels = 64LL * 1024 * 1024;
    // Decoding a picture may hold this much besides the grid: enough for a progressive JPEG of
    // kMaxPicturePixels with four full-size components of 2-byte coefficients.
    static constexpr qint64 kMaxDecodeBytes = kMaxPicturePixels * 4 * 2;
    // Building the relief holds 12 corners per grid point plus its height.
    static constexpr qint64 kMaxReliefBytes = 2LL * 1024 * 1024 * 1024;
    static constexpr qint64 kBytesPerGridPoint = 12 * qint64(sizeof(CornerRecord)) + qint64(sizeof(double));
    static constexpr qint64 kMaxGridPoints = kMaxReliefBytes / kBytesPerGridPoint;
};
