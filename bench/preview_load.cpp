// Reads a generated 3,000,000-line print-task file back for the preview, as after a slice.
//   bench_preview_load [lines]
// Prints the decipher rate, the time to read and decipher the file beside the whole load with
// a renderer stand-in taking each batch (medians of three), the time to read the file into
// preview points (bars not built), the time to build the bars from those points, and the
// memory per bar of the chunks and of the whole load.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <ctime>
#include <thread>
#include <vector>

#include "FileRW/BVTReader.h"
#include "FileRW/TeaCipher.h"
#include "render/GcodePreviewData.h"

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Engine-like G-code: per layer a Z move, then a travel and extruding moves around rings.
QByteArray printTask(qint64 lines)
{
    QByteArray t;
    t.reserve(int(lines * 30));
    qint64 n = 0;
    auto line = [&](const QByteArray& s) {
        t += s;
        t += '\n';
        ++n;
    };
    line("M102 L" + QByteArray::number(lines));
    line("M300 PX5");
    line("M998 P12345");
    line(";Print time:\t5:12:00");
    line(";Filament:\t12344.2mm");
    for (int i = 0; i < 13; ++i)
        line(";start");
    const int perLayer = 3000;
    double e = 0;
    char buf[96];
    for (int layer = 1; n < lines - 1; ++layer) {
        std::snprintf(buf, sizeof buf, "G0 F4800 Z%.3f", layer * 0.2);
        line(buf);
        line("G0 X98.000 Y84.000");
        for (int k = 0; k < perLayer && n < lines - 1; ++k) {
            const double a = k * 0.01;
            e += 0.0123;
            std::snprintf(buf, sizeof buf, "G1 X%.3f Y%.3f E%.5f", 98 + 30 * std::cos(a), 84 + 30 * std::sin(a), e);
            line(buf);
        }
    }
    line("M25");
    QByteArray plain = ";Brevant 1.0.00\n" + t;
    plain.append(QByteArray((8 - plain.size() % 8) % 8, '\0'));
    TeaCipher::encipherBlocks(reinterpret_cast<uint8_t*>(plain.data()), size_t(plain.size()), TeaCipher::kPrintTaskKey);
    return plain;
}

// Loads with a stand-in renderer thread taking each batch (its chunk's size is noted).
double readerCpu = 0;
double readAndDecipher = 0;

double loadOnce(BVTReader& reader, const QString& path, size_t& bars, size_t& chunkBytes, bool& ok)
{
    GcodePreviewData& data = reader.previewData();
    std::atomic<bool> done{false};
    bars = chunkBytes = 0;
    const auto t0 = Clock::now();
    std::thread worker([&] {
        const double c0 = threadCpuSeconds();
        ok = reader.LoadGCO(path);
        readerCpu = threadCpuSeconds() - c0;
        done = true;
    });
    for (;;) {
        const bool finished = done.load();
        if (data.takeChunk([&](const ToolPathMesh& m) {
                bars += size_t(m.vertexCount() / 8);
                chunkBytes += (m.vertices.size() + m.normals.size()) * 4 + m.triangles.size() * 4;
            }))
            continue;
        if (finished)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    worker.join();
    return secondsSince(t0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 lines = argc > 1 ? std::atoll(argv[1]) : 3000000;
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.BVT");
    const QByteArray file = printTask(lines);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(file) != file.size())
            return 1;
    }
    std::printf("file_lines: %lld lines\n", static_cast<long long>(lines));
    std::printf("file_size: %.1f MB\n", file.size() / 1e6);

    {
        QByteArray copy = file;
        auto* p = reinterpret_cast<uint8_t*>(copy.data());
        auto t = Clock::now();
        TeaCipher::decipherBlocks(p, size_t(copy.size()), TeaCipher::kPrintTaskKey);
        std::printf("decipher_parallel: %.0f MB/s\n", copy.size() / 1e6 / secondsSince(t));
        t = Clock::now();
        const size_t oneMb = 1 << 20;
        for (size_t off = 0; off + oneMb <= size_t(copy.size()) && off < 16 * oneMb; off += oneMb)
            TeaCipher::decipherBlock(p + off, TeaCipher::kPrintTaskKey); // warm
        t = Clock::now();
        size_t done = 0;
        for (size_t off = 0; off + 8 <= size_t(copy.size()) && done < 16 * oneMb; off += 8, done += 8)
            TeaCipher::decipherBlock(p + off, TeaCipher::kPrintTaskKey);
        std::printf("decipher_one_core: %.0f MB/s\n", done / 1e6 / secondsSince(t));
    }

    // What the load cannot go below: reading the file and deciphering it, on every core.
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    {
        std::vector<double> runs;
        for (int i = 0; i < 3; ++i) {
            const auto t = Clock::now();
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                return 1;
            QByteArray bytes = f.readAll();
            TeaCipher::decipherBlocks(reinterpret_cast<uint8_t*>(bytes.data()), size_t(bytes.size()), TeaCipher::kPrintTaskKey);
            runs.push_back(secondsSince(t));
        }
        std::printf("read_and_decipher: %.3f s\n", median(runs));
        readAndDecipher = median(runs);
    }

    // Points only: the same load, the builder fed nothing but stored points.
    {
        GcodePreviewData preview;
        BVTReader reader(preview, 1, 145, 145);
        size_t bars = 0, bytes = 0;
        bool ok = false;
        std::vector<double> loads;
        for (int i = 0; i < 3; ++i) {
            loads.push_back(loadOnce(reader, path, bars, bytes, ok));
            if (!ok) {
                std::printf("load_failed: %s\n", qPrintable(reader.refusal));
                return 1;
            }
            if (i == 0) {
                rusage u{};
                getrusage(RUSAGE_SELF, &u);
                std::printf("load_peak_memory: %.0f MB\n", double(u.ru_maxrss) / 1024.0);
            }
        }
        const double full = median(loads);
        std::printf("load_with_bars: %.3f s\n", full);
        std::printf("load_over_read_and_decipher: %.1f x\n", full / readAndDecipher);
        std::printf("batches: %d count\n", reader.batches);
        std::printf("step: %d count\n", reader.step);
        std::printf("bars: %zu count\n", bars);
        std::printf("chunk_bytes_per_bar: %.1f bytes\n", bars ? double(bytes) / double(bars) : 0.0);

        // Replays the points the reader produced into a fresh container, to split the time.
        GcodePreviewData collect;
        BVTReader again(collect, 1, 145, 145);
        std::vector<GcodePreviewData::Point> pts;
        std::vector<int32_t> types;
        std::atomic<bool> fin{false};
        bool ok2 = false;
        const auto t0 = Clock::now();
        std::thread w([&] {
            ok2 = again.LoadGCO(path);
            fin = true;
        });
        double takeTime = 0;
        for (;;) {
            const bool f = fin.load();
            if (chunkPending.load() == 1) {
                const auto tt = Clock::now();
                const auto& p = collect.pathPoints();
                const auto& ty = collect.pathLineTypes();
                for (size_t i = collect.carriedPointCount(); i < p.size(); ++i) {
                    pts.push_back(p[i]);
                    types.push_back(ty[i]);
                }
                collect.takeChunk(nullptr);
                takeTime += secondsSince(tt);
                continue;
            }
            if (f)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        w.join();
        (void)t0;

        GcodePreviewData build;
        build.setBatchHint(pts.size());
        const auto tb = Clock::now();
        const double cb = threadCpuSeconds();
        for (size_t i = 0; i < pts.size(); ++i) {
            build.addPathPoint(types[i], pts[i].x, pts[i].y, pts[i].z);
            if (types[i] == -1) {
                build.publishChunk();
                build.takeChunk(nullptr);
            }
        }
        const double barTime = secondsSince(tb);
        const double barCpu = threadCpuSeconds() - cb;
        std::printf("points: %zu count\n", pts.size());
        std::printf("bars_from_points: %.3f s\n", barTime);
        std::printf("bars_from_points_cpu: %.3f s\n", barCpu);
        std::printf("read_to_points: %.3f s\n", std::max(0.0, full - barTime));
        std::printf("reader_thread_cpu: %.3f s\n", readerCpu);
        std::printf("read_to_points_cpu: %.3f s\n", std::max(0.0, readerCpu - barCpu));
    }
    return 0;
}
