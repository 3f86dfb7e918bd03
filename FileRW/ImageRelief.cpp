#include "FileRW/ImageRelief.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

#include <cmath>

#include "app/QsLog.h"

bool ImageRelief::gridSize(qint64 width, qint64 height, double length, int& columns, int& rows,
                           QString* reason)
{
    if (width < 1 || height < 1 || !std::isfinite(length) || length <= 0.0)
        return false;
    const double w = std::trunc(length * kCellsPerMm);
    const double h = std::trunc(double(height) * kCellsPerMm / (double(width) / length));
    if (!(w >= 2.0) || !(h >= 2.0))
        return false;
    if (w * h > double(kMaxGridPoints)) {
        QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << "a relief grid of" << w << "x" << h
                    << "points is over the limit of" << kMaxGridPoints << "points ("
                    << kMaxReliefBytes / (1024 * 1024) << "MB)";
        if (reason)
            *reason = QCoreApplication::translate("ImageRelief", "The relief would need more than %1 million points.")
                          .arg(double(kMaxGridPoints) / 1e6, 0, 'f', 1);
        return false;
    }
    columns = int(w);
    rows = int(h);
    return true;
}

bool ImageRelief::readCorners(const QString& path, const std::array<double, 4>& params,
                              CornerList& corners, std::atomic<int>& progress,
                              const std::atomic<bool>& cancelled, QString* reason)
{
    progress = 0;
    for (double p : params)
        if (!std::isfinite(p))
            return false;

    // The size comes from the header, so a hostile picture is refused before it is decoded.
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > kMaxPicturePixels) {
        QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << path << "refused, size" << size;
        return false;
    }
    int columns = 0, rows = 0;
    if (!gridSize(size.width(), size.height(), params[2], columns, rows, reason)) {
        QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << path << "gives no relief grid, size" << size;
        return false;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.size() != size)
        return false;
    image = image.convertToFormat(QImage::Format_RGB32)
                .scaled(columns, rows, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (image.width() != columns || image.height() != rows || image.format() != QImage::Format_RGB32)
        return false;

    const int sign = int(params[0]);
    const double unit = params[3] * (1.0 / 256.0) * kCellsPerMm;
    const double base = params[1] * kCellsPerMm + (sign == -1 ? params[3] * kCellsPerMm : 0.0);

    const qint64 points = qint64(columns) * rows;
    std::vector<double> height(static_cast<size_t>(points));
    for (int r = 0; r < rows; ++r) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(r));
        for (int c = 0; c < columns; ++c)
            height[static_cast<size_t>(qint64(r) * columns + c)] = double(qGray(line[c]) * sign) * unit + base;
        progress = int(3000LL * (qint64(r) + 1) * columns / points);
    }
    image = QImage();
    progress = 3500;

    const qint64 cells = qint64(rows - 1) * (columns - 1);
    const qint64 cornerCount = cells * 12 + (qint64(columns - 1) + (rows - 1)) * 12;
    CornerList out;
    out.reserve(size_t(cornerCount));
    const double* h = height.data();
    auto P = [&](int r, int c) { out.push_back({double(r), double(c), h[qint64(r) * columns + c], int32_t(out.size())}); };
    auto Q = [&](int r, int c) { out.push_back({double(r), double(c), 0.0, int32_t(out.size())}); };

    for (int r = 0; r + 1 < rows; ++r) {
        if (cancelled.load(std::memory_order_relaxed))
            return false;
        for (int c = 0; c + 1 < columns; ++c) {
            P(r, c); P(r + 1, c); P(r + 1, c + 1);
            P(r, c); P(r + 1, c + 1); P(r, c + 1);
            Q(r, c); Q(r + 1, c + 1); Q(r + 1, c);
            Q(r, c); Q(r, c + 1); Q(r + 1, c + 1);
        }
        progress = 3500 + int(5000LL * (r + 1) / (rows - 1));
    }
    const int last = rows - 1;
    for (int c = 0; c + 1 < columns; ++c) {
        P(0, c); Q(0, c + 1); Q(0, c);
        P(0, c); P(0, c + 1); Q(0, c + 1);
        P(last, c); Q(last, c); Q(last, c + 1);
        P(last, c); Q(last, c + 1); P(last, c + 1);
    }
    const int lastCol = columns - 1;
    for (int r = 0; r + 1 < rows; ++r) {
        P(r, 0); Q(r, 0); Q(r + 1, 0);
        P(r, 0); Q(r + 1, 0); P(r + 1, 0);
        P(r, lastCol); Q(r + 1, lastCol); Q(r, lastCol);
        P(r, lastCol); P(r + 1, lastCol); Q(r + 1, lastCol);
    }

    const int32_t first = int32_t(corners.size());
    if (corners.empty()) {
        corners.swap(out);
    } else {
        corners.reserve(corners.size() + out.size());
        for (CornerRecord c : out) {
            c.corner += first;
            corners.push_back(c);
        }
    }
    progress = 9000;
    return true;
}
