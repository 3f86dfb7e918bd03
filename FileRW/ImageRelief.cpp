#include "FileRW/ImageRelief.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <png.h>

#include "app/QsLog.h"

namespace {
const char* const kUnreadable = QT_TRANSLATE_NOOP("ImageRelief", "The picture cannot be read.");
const char* const kTooManyPixels = QT_TRANSLATE_NOOP(
    "ImageRelief", "Pictures of more than %1 million pixels can be opened as PNG (not interlaced) or JPEG only.");

void pngError(png_structp png, png_const_charp message)
{
    QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << "PNG:" << message;
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Decodes a PNG a row at a time straight into a columns x rows grid, each cell the pixel nearest
// its centre, so that a picture of any size takes one row of memory. Alpha is ignored. False
// for an interlaced picture (whose rows come whole only at the end) and any damage.
bool sampledPng(const QString& path, int columns, int rows, QImage& out, const std::atomic<bool>& cancelled)
{
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row;           // not touched by the jump: it only unwinds libpng
    std::vector<int> sourceColumn(size_t(columns), 0);
    volatile bool ok = false; // set only once no jump can follow
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_strip_alpha(png);
        png_set_gray_to_rgb(png);
        png_read_update_info(png, info);
        const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
        if (png_get_interlace_type(png, info) == PNG_INTERLACE_NONE && png_get_channels(png, info) == 3 && width > 0
            && height > 0) {
            row.resize(png_get_rowbytes(png, info));
            for (int c = 0; c < columns; ++c)
                sourceColumn[size_t(c)] = int((qint64(c) * 2 + 1) * qint64(width) / (qint64(columns) * 2));
            out = QImage(columns, rows, QImage::Format_RGB32);
            int r = 0;
            for (png_uint_32 y = 0; y < height && r < rows && !out.isNull(); ++y) {
                png_read_row(png, row.data(), nullptr);
                if ((y & 0xff) == 0 && cancelled.load(std::memory_order_relaxed))
                    break;
                // Rows whose centre falls in this source row take it.
                for (; r < rows && (qint64(r) * 2 + 1) * qint64(height) / (qint64(rows) * 2) == qint64(y); ++r) {
                    QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(r));
                    for (int c = 0; c < columns; ++c) {
                        const png_byte* p = row.data() + 3 * size_t(sourceColumn[size_t(c)]);
                        line[c] = qRgb(p[0], p[1], p[2]);
                    }
                }
            }
            ok = r == rows;
        }
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(file);
    return ok;
}
} // namespace

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

    auto refuse = [&](const char* text) {
        if (reason) {
            *reason = QCoreApplication::translate("ImageRelief", text);
            if (text == kTooManyPixels)
                *reason = reason->arg(double(kMaxPicturePixels) / 1e6, 0, 'f', 1);
        }
        return false;
    };
    // The size comes from the header, so a hostile picture is measured before it is decoded.
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid()) {
        QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << path << "refused:" << reader.errorString();
        return refuse(kUnreadable);
    }
    int columns = 0, rows = 0;
    if (!gridSize(size.width(), size.height(), params[2], columns, rows, reason)) {
        QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << path << "gives no relief grid, size" << size;
        return false;
    }
    QImage image;
    if (qint64(size.width()) * size.height() <= kMaxPicturePixels) {
        if (!reader.read(&image) || image.isNull() || image.size() != size)
            return refuse(kUnreadable);
        image = image.convertToFormat(QImage::Format_RGB32)
                    .scaled(columns, rows, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    } else if (reader.format() == "png") {
        // Too large to hold whole: decoded straight onto the grid.
        if (!sampledPng(path, columns, rows, image, cancelled))
            return cancelled ? false : refuse(kTooManyPixels);
    } else if (reader.format() == "jpeg" || reader.format() == "jpg") {
        // The decoder scales while it decodes.
        reader.setScaledSize(QSize(columns, rows));
        if (!reader.read(&image) || image.isNull())
            return refuse(kUnreadable);
        image = image.convertToFormat(QImage::Format_RGB32);
    } else {
        QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << path << "refused, size" << size;
        return refuse(kTooManyPixels);
    }
    if (image.width() != columns || image.height() != rows || image.format() != QImage::Format_RGB32)
        return refuse(kUnreadable);

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
