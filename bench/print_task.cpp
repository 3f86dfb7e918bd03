// Post-processing and enciphering of a 3,000,000-line G-code, and the cipher's throughput.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include "FileRW/PrintTaskWriter.h"
#include "FileRW/TeaCipher.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString gcode = dir.filePath("engine.gcode");
    const QString target = dir.filePath("bench.BVT");
    {
        QFile f(gcode);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block = ";Print time:\t1:00:00\n;Filament:\t12345.6mm\n;Start GCode\n"
                           "M104 S{temperature}\nM140 S{temperature}\nM109 S{temperature}\n"
                           "M190 S{temperature}\n";
        const int lines = 3000000;
        for (int i = 7; i < lines - 1; ++i) {
            char line[64];
            const int n = std::snprintf(line, sizeof line, "G1 X%d.%03d Y%d.%03d E%d.%05d\n",
                                        100 + i % 50, i % 1000, 80 + i % 40, (i * 7) % 1000,
                                        i / 1000, i % 100000);
            block.append(line, n);
            if (block.size() > (8 << 20)) {
                f.write(block);
                block.clear();
            }
        }
        block += "M25\n";
        f.write(block);
    }
    const double inputMb = double(QFileInfo(gcode).size()) / 1e6;

    QElapsedTimer timer;
    timer.start();
    PrintTaskWriter writer(1, 210, 60);
    if (!writer.postProcess(gcode, target)) {
        std::fprintf(stderr, "%s\n", qPrintable(writer.error()));
        return 1;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("gcode_size: %.1f MB\n", inputMb);
    std::printf("post_process_3M_lines: %.3f s\n", seconds);

    std::vector<uint8_t> buffer(size_t(256) << 20, 0x5a);
    timer.restart();
    TeaCipher::encipherBlocks(buffer.data(), buffer.size(), TeaCipher::kPrintTaskKey);
    const double cipherSeconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("cipher_parallel: %.0f MB/s\n", double(buffer.size()) / 1e6 / cipherSeconds);

    timer.restart();
    const size_t single = size_t(32) << 20;
    // Pieces below the size that is split across the cores.
    for (size_t i = 0; i < single; i += 65536)
        TeaCipher::encipherBlocks(buffer.data() + i, 65536, TeaCipher::kPrintTaskKey);
    std::printf("cipher_one_core: %.0f MB/s\n", double(single) / 1e6 / (double(timer.nsecsElapsed()) / 1e9));
    return 0;
}
