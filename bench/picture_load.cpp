// Loads one picture relief from a small progressive JPEG whose header claims side x side pixels
// (first argument, default 20000), as a hostile file would, and reports the peak memory of the
// whole process. Run once per size: the peak is the process's own.
#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "FileRW/FileReaderWriter.h"
#include "scene/MeshData.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int side = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (side < 1 || side > 65535) {
        std::printf("error: the side must be 1 to 65535\n");
        return 1;
    }
    // In colour: three components, the chroma halved each way, as cameras write them.
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 4, y * 5, 128));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    const int sof = writer.write(picture) ? bytes.indexOf("\xff\xc2") : -1;
    if (sof < 0) {
        std::printf("error: no progressive JPEG written\n");
        return 1;
    }
    const char size[4] = {char(side >> 8), char(side & 0xff), char(side >> 8), char(side & 0xff)};
    bytes.replace(sof + 5, 4, size, 4); // rows, then columns

    QTemporaryDir dir;
    QFile file(dir.filePath("claims.jpg"));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::printf("error: cannot write %s\n", qPrintable(file.fileName()));
        return 1;
    }
    file.close();

    FileReaderWriter rw;
    rw.reliefParams = {1.0, 2.0, 75.0, 1.28};
    MeshData mesh;
    const auto t0 = std::chrono::steady_clock::now();
    const bool loaded = rw.loadMesh(file.fileName(), &mesh);
    const auto t1 = std::chrono::steady_clock::now();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("picture_file: %lld bytes\n", static_cast<long long>(bytes.size()));
    std::printf("picture_claimed_side: %d px\n", side);
    std::printf("picture_loaded: %d\n", int(loaded));
    std::printf("picture_load: %.3f s\n", std::chrono::duration<double>(t1 - t0).count());
    std::printf("peak_memory: %.0f MB\n", usage.ru_maxrss / 1024.0);
    std::fprintf(stderr, "reason: %s\n", qPrintable(rw.failureReason));
    return 0;
}
