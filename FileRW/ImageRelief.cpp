#include "FileRW/ImageRelief.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QtEndian>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h> // after cstdio, for FILE
#include <jerror.h>
#include <png.h>

#include "app/QsLog.h"

namespace {
const char* const kUnreadable = QT_TRANSLATE_NOOP("ImageRelief", "The picture cannot be read.");
const char* const kTooManyPixels = QT_TRANSLATE_NOOP(
    "ImageRelief", "Pictures of more than %1 million pixels can be opened as PNG (not interlaced) or JPEG only.");
const char* const kCutShort = QT_TRANSLATE_NOOP("ImageRelief", "The picture cannot be read: it ends before all its pixels.");
// The decoder's own words go to the log: they are English only.
const char* const kDamaged = QT_TRANSLATE_NOOP("ImageRelief", "The picture cannot be read: its data is damaged.");
const char* const kTooMuchMemory = QT_TRANSLATE_NOOP("ImageRelief", "The picture would need more than %1 MB of memory to open.");

QString text(const char* source)
{
    const QString translated = QCoreApplication::translate("ImageRelief", source);
    return source == kTooManyPixels ? translated.arg(double(ImageRelief::kMaxPicturePixels) / 1e6, 0, 'f', 1)
                                    : translated;
}

// Fills a columns x rows grid from the picture's rows, given in order, each cell taking the
// pixel nearest its centre, so that a picture of any size needs one row of memory.
class GridSampler
{
public:
    GridSampler(qint64 width, qint64 height, int columns, int rows)
        : out(columns, rows, QImage::Format_RGB32), height_(height), sourceColumn_(size_t(columns))
    {
        for (int c = 0; c < columns; ++c)
            sourceColumn_[size_t(c)] = (qint64(c) * 2 + 1) * width / (qint64(columns) * 2);
    }
    // pixel(p) gives the colour of the source pixel that starts at byte p.
    template <typename Pixel>
    void addRow(qint64 y, const uchar* row, int bytesPerPixel, Pixel pixel)
    {
        // Rows whose centre falls in this source row take it.
        for (; next_ < out.height() && (qint64(next_) * 2 + 1) * height_ / (qint64(out.height()) * 2) == y; ++next_) {
            QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(next_));
            for (int c = 0; c < out.width(); ++c)
                line[c] = pixel(row + bytesPerPixel * sourceColumn_[size_t(c)]);
        }
    }
    bool full() const { return !out.isNull() && next_ == out.height(); }

    QImage out;

private:
    qint64 height_;
    std::vector<qint64> sourceColumn_;
    int next_ = 0;
};

QRgb rgbPixel(const uchar* p)
{
    return qRgb(p[0], p[1], p[2]);
}

struct PngState {
    FILE* file = nullptr;
    char message[200] = {};
};

void pngError(png_structp png, png_const_charp message)
{
    QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << "PNG:" << message;
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Decodes a non-interlaced PNG a row at a time onto the grid (alpha ignored). An interlaced one
// gives kTooManyPixels, as its rows come whole only at the end; damage gives its own reason.
bool sampledPng(const QString& path, int columns, int rows, QImage& out, const std::atomic<bool>& cancelled,
                QString& reason)
{
    PngState state;
    state.file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!state.file) {
        reason = text(kUnreadable);
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row;           // not touched by the jump: it only unwinds libpng
    std::unique_ptr<GridSampler> grid;
    volatile bool ok = false; // set only once no jump can follow
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, state.file);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_strip_alpha(png);
        png_set_gray_to_rgb(png);
        png_read_update_info(png, info);
        const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
        if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE || png_get_channels(png, info) != 3 || width == 0
            || height == 0) {
            reason = text(kTooManyPixels);
        } else {
            row.resize(png_get_rowbytes(png, info));
            grid.reset(new GridSampler(width, height, columns, rows));
            for (png_uint_32 y = 0; y < height && !grid->full() && !grid->out.isNull(); ++y) {
                png_read_row(png, row.data(), nullptr);
                if ((y & 0xff) == 0 && cancelled.load(std::memory_order_relaxed))
                    break;
                grid->addRow(y, row.data(), 3, rgbPixel);
            }
            ok = grid->full();
            if (ok)
                out = grid->out;
        }
    } else if (state.message[0]) {
        // A read cut short by the end of the file is told apart from damaged contents.
        reason = std::feof(state.file) ? text(kCutShort) : text(kDamaged);
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(state.file);
    if (!ok && reason.isEmpty() && !cancelled)
        reason = text(kUnreadable);
    return ok;
}

struct JpegState {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool cutShort = false;
    char message[JMSG_LENGTH_MAX] = {};
};

void jpegError(j_common_ptr info)
{
    auto* state = reinterpret_cast<JpegState*>(info->err);
    info->err->format_message(info, state->message);
    QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << "JPEG:" << state->message;
    std::longjmp(state->jump, 1);
}

// libjpeg only warns when the data runs out or is corrupt, and makes up the pixels it lost;
// that is a lost picture. It runs out at the file's end, or at an end marker inside a scan (a
// file cut and closed); any other marker inside a scan is damage.
void jpegMessage(j_common_ptr info, int level)
{
    if (level != -1)
        return;
    const int code = info->err->msg_code;
    const bool ended = code == JWRN_JPEG_EOF
                       || (code == JWRN_HIT_MARKER && reinterpret_cast<j_decompress_ptr>(info)->unread_marker == JPEG_EOI);
    if (ended || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_ARITH_BAD_CODE
        || code == JWRN_MUST_RESYNC) {
        reinterpret_cast<JpegState*>(info->err)->cutShort = ended;
        jpegError(info);
    }
}

// Bytes a decode holds beyond a few rows: a progressive or multi-scan picture keeps every DCT
// coefficient until its last scan, however small the output is scaled.
qint64 jpegDecodeBytes(const jpeg_decompress_struct& info)
{
    if (!info.progressive_mode && info.comps_in_scan >= info.num_components)
        return 0;
    qint64 bytes = 0;
    for (int i = 0; i < info.num_components; ++i) {
        const jpeg_component_info& c = info.comp_info[i];
        const qint64 across = (qint64(c.width_in_blocks) + c.h_samp_factor - 1) / c.h_samp_factor * c.h_samp_factor;
        const qint64 down = (qint64(c.height_in_blocks) + c.v_samp_factor - 1) / c.v_samp_factor * c.v_samp_factor;
        bytes += across * down * DCTSIZE2 * qint64(sizeof(JCOEF));
    }
    return bytes;
}

// Decodes a JPEG onto the grid, letting libjpeg scale by up to 1/8 on the way. Its memory is
// measured from the header before any is taken.
bool sampledJpeg(const QString& path, int columns, int rows, QImage& out, const std::atomic<bool>& cancelled,
                 QString& reason)
{
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file) {
        reason = text(kUnreadable);
        return false;
    }
    jpeg_decompress_struct info{}; // zeroed, so that destroying it is safe whenever creating fails
    JpegState state;
    info.err = jpeg_std_error(&state.manager);
    state.manager.error_exit = jpegError;
    state.manager.emit_message = jpegMessage;
    std::vector<JSAMPLE> row;            // not touched by the jump: it only unwinds libjpeg
    std::unique_ptr<GridSampler> grid;
    volatile bool ok = false;
    if (setjmp(state.jump) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        const qint64 needed = jpegDecodeBytes(info);
        if (needed > ImageRelief::kMaxDecodeBytes) {
            QLOG_INFO() << "FileRW\\ImageRelief@" << __LINE__ << path << "would take" << needed << "bytes to decode";
            reason = text(kTooMuchMemory).arg(ImageRelief::kMaxDecodeBytes / (1024 * 1024));
        } else {
            // A second line of defence: libjpeg fails rather than take more.
            info.mem->max_memory_to_use = long(ImageRelief::kMaxDecodeBytes);
            const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
            info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
            info.scale_num = 1;
            for (info.scale_denom = 8; info.scale_denom > 1; info.scale_denom /= 2)
                if ((qint64(info.image_width) + info.scale_denom - 1) / info.scale_denom >= columns
                    && (qint64(info.image_height) + info.scale_denom - 1) / info.scale_denom >= rows)
                    break;
            jpeg_start_decompress(&info);
            const int channels = cmyk ? 4 : 3;
            if (info.output_components != channels)
                ERREXIT(&info, JERR_CONVERSION_NOTIMPL);
            row.resize(size_t(info.output_width) * size_t(channels));
            grid.reset(new GridSampler(info.output_width, info.output_height, columns, rows));
            JSAMPROW rowPointer = row.data();
            while (info.output_scanline < info.output_height && !grid->full() && !grid->out.isNull()) {
                const qint64 y = info.output_scanline;
                jpeg_read_scanlines(&info, &rowPointer, 1);
                if ((y & 0xff) == 0 && cancelled.load(std::memory_order_relaxed))
                    break;
                if (cmyk) // stored inverted, as Adobe writes it
                    grid->addRow(y, row.data(), 4, [](const uchar* p) {
                        return qRgb(p[0] * p[3] / 255, p[1] * p[3] / 255, p[2] * p[3] / 255);
                    });
                else
                    grid->addRow(y, row.data(), channels, rgbPixel);
            }
            ok = grid->full();
            if (ok)
                out = grid->out;
        }
    } else {
        reason = state.cutShort ? text(kCutShort) : text(kDamaged);
    }
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    if (!ok && reason.isEmpty() && !cancelled)
        reason = text(kUnreadable);
    return ok;
}

// Whether a run-length coded picture (RLE8, or RLE4 with four) of width x height pixels ends
// before its last row: codes are read until the end-of-picture code or the last row's end.
bool rleCutShort(const uchar* data, qint64 size, qint64 width, qint64 height, bool four)
{
    qint64 p = 0, x = 0, y = 0;
    while (p + 2 <= size) {
        const uchar count = data[p], code = data[p + 1];
        p += 2;
        if (count > 0) {
            x += count; // a run of one colour
        } else if (code == 0) { // end of row
            x = 0;
            if (++y >= height)
                return false;
        } else if (code == 1) { // end of picture: what is left is left blank on purpose
            return false;
        } else if (code == 2) { // a jump right and up
            if (p + 2 > size)
                break;
            x += data[p];
            y += data[p + 1];
            p += 2;
            if (y >= height)
                return false;
        } else { // code pixels given one by one, padded to a 16-bit boundary
            const qint64 bytes = four ? (code + 1) / 2 : code;
            p += (bytes + 1) / 2 * 2;
            if (p > size)
                return true;
            x += code;
        }
    }
    return y < height - 1 || x < width;
}

// Rows missing from a BMP are filled in silently by the decoder, so the file must hold every
// row its header claims.
bool bmpCutShort(const QString& path, const QSize& size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(34);
    if (head.size() < 34 || qFromLittleEndian<quint32>(head.constData() + 14) < 40)
        return false; // the old OS/2 header is left to the decoder
    const quint32 compression = qFromLittleEndian<quint32>(head.constData() + 30);
    const qint64 offset = qFromLittleEndian<quint32>(head.constData() + 10);
    if (compression == 1 || compression == 2) {
        if (offset >= file.size())
            return true;
        const uchar* data = file.map(offset, file.size() - offset);
        return !data || rleCutShort(data, file.size() - offset, size.width(), size.height(), compression == 2);
    }
    if (compression != 0 && compression != 3 && compression != 6)
        return false; // left to the decoder
    const qint64 bits = qint64(size.width()) * qFromLittleEndian<quint16>(head.constData() + 28);
    // Some writers leave out the padding of the last row.
    const qint64 pixelBytes = (bits + 31) / 32 * 4 * (size.height() - 1) + (bits + 7) / 8;
    return file.size() < offset + pixelBytes;
}
} // namespace

bool ImageRelief::gridSize(qint64 width, qint64 height, double length, int& columns, int& rows,
                           QString* reason)
{
    if (width < 1 || height < 1 || !std::isfinite(length) || length <= 0.0)
        return false;
    const double w = std::trunc(length * kCellsPerMm);
    const double h = std::trunc(double(height) * kCellsPerMm / (double(width) / length));
    if (!(w >= 2.0) || !(h >= 2.0)) {
        if (reason)
            *reason = QCoreApplication::translate(
                          "ImageRelief", "A picture of %1 x %2 pixels makes a relief of %3 x %4 cells; it needs at least 2 x 2.")
                          .arg(width)
                          .arg(height)
                          .arg(w)
                          .arg(h);
        return false;
    }
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

    auto refuseWith = [&](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    auto refuse = [&](const char* source) { return refuseWith(text(source)); };
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
    QString why;
    const QByteArray format = reader.format();
    if (format == "jpeg" || format == "jpg") {
        if (!sampledJpeg(path, columns, rows, image, cancelled, why))
            return refuseWith(why);
    } else if (qint64(size.width()) * size.height() <= kMaxPicturePixels) {
        if (format == "bmp" && bmpCutShort(path, size))
            return refuse(kCutShort);
        if (!reader.read(&image) || image.isNull() || image.size() != size)
            return refuse(kUnreadable);
        image = image.convertToFormat(QImage::Format_RGB32)
                    .scaled(columns, rows, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    } else if (format == "png") {
        // Too large to hold whole: decoded straight onto the grid.
        if (!sampledPng(path, columns, rows, image, cancelled, why))
            return refuseWith(why);
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
