// Loads a 2,000,000-triangle binary STL (a fine UV sphere) and times each step; then welds a
// 320,000-triangle sheet in the YZ plane with x exactly 0 and with x noise of +-1e-7 (many
// distinct x within the weld distance).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FileRW/FileReaderWriter.h"
#include "scene/MeshData.h"
#include "scene/MeshModel.h"

namespace {
double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Processor time of the whole process (all threads), to read figures on a busy machine.
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void put(std::vector<char>& out, float f)
{
    char b[4];
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    qToLittleEndian<quint32>(bits, reinterpret_cast<uchar*>(b));
    out.insert(out.end(), b, b + 4);
}

// Streams the sphere straight to disk so that writing it does not count towards peak memory.
bool writeSphere(const QString& path, int slices, int stacks, double r)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const quint32 count = quint32(2 * slices * (stacks - 1));
    char head[84] = {};
    qToLittleEndian<quint32>(count, reinterpret_cast<uchar*>(head + 80));
    f.write(head, 84);
    auto point = [&](int i, int j) {
        const double theta = M_PI * i / stacks, phi = 2 * M_PI * (j % slices) / slices;
        return std::array<float, 3>{float(r * std::sin(theta) * std::cos(phi)), float(r * std::sin(theta) * std::sin(phi)),
                                    float(r * std::cos(theta))};
    };
    std::vector<char> buf;
    auto tri = [&](const std::array<float, 3>& a, const std::array<float, 3>& b, const std::array<float, 3>& c) {
        for (int k = 0; k < 3; ++k)
            put(buf, 0.f);
        for (const auto* p : {&a, &b, &c})
            for (float v : *p)
                put(buf, v);
        buf.push_back(0);
        buf.push_back(0);
    };
    const auto top = std::array<float, 3>{0.f, 0.f, float(r)}, bottom = std::array<float, 3>{0.f, 0.f, float(-r)};
    for (int i = 0; i < stacks; ++i) {
        for (int j = 0; j < slices; ++j) {
            if (i == 0) {
                tri(top, point(1, j), point(1, j + 1));
            } else if (i == stacks - 1) {
                tri(point(i, j), bottom, point(i, j + 1));
            } else {
                tri(point(i, j), point(i + 1, j), point(i + 1, j + 1));
                tri(point(i, j), point(i + 1, j + 1), point(i, j + 1));
            }
        }
        f.write(buf.data(), qint64(buf.size()));
        buf.clear();
    }
    return f.error() == QFileDevice::NoError;
}

// Seconds to weld a sheet of 2 * side * side triangles in the plane x = 0. Noise 1 puts every
// vertex's x off by up to 1e-7 (as float rounding leaves it); noise 2 gives each corner of a
// vertex its own x.
double weldSheet(int side, int noise, size_t& vertices)
{
    FileReaderWriter rw;
    MeshData mesh;
    rw.target = &mesh;
    uint32_t seed = 12345;
    auto jitter = [](uint32_t h) {
        h ^= h >> 16;
        h *= 0x7feb352du;
        h ^= h >> 15;
        h *= 0x846ca68bu;
        h ^= h >> 16;
        return (double(h >> 8) / double(1 << 24) - 0.5) * 2e-7;
    };
    auto corner = [&](int i, int j) {
        const double x = noise == 0 ? 0.0 : noise == 1 ? jitter(uint32_t(i * 100003 + j)) : jitter(seed++);
        rw.corners.push_back({x, i * 0.1, j * 0.1, 0});
    };
    rw.corners.reserve(size_t(side) * size_t(side) * 6);
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            corner(i, j), corner(i + 1, j), corner(i + 1, j + 1);
            corner(i, j), corner(i + 1, j + 1), corner(i, j + 1);
        }
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = rw.weldVertices();
    const auto t1 = std::chrono::steady_clock::now();
    vertices = ok ? mesh.vertices.size() : 0;
    return seconds(t0, t1);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.path() + "/sphere.stl";
    if (!writeSphere(path, 1000, 1001, 50.0)) {
        std::printf("error: cannot write %s\n", qPrintable(path));
        return 1;
    }
    MeshData mesh;
    FileReaderWriter rw;
    rw.fileName = path;
    rw.target = &mesh;

    const double c0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (!rw.loadBinaryStl()) {
        std::printf("error: load failed\n");
        return 1;
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = cpuSeconds();
    if (!rw.weldVertices()) {
        std::printf("error: weld failed\n");
        return 1;
    }
    const auto t2 = std::chrono::steady_clock::now();
    MeshData::computeNormals(mesh);
    const auto t3 = std::chrono::steady_clock::now();
    const double c3 = cpuSeconds();
    MeshModel model;
    model.prepareMesh(mesh);
    const auto t4 = std::chrono::steady_clock::now();
    const double c4 = cpuSeconds();

    const double normals = seconds(t2, t3);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("triangles: %zu\n", mesh.faces.size());
    std::printf("vertices: %zu\n", mesh.vertices.size());
    std::printf("load: %.3f s\n", seconds(t0, t1));
    std::printf("weld: %.3f s\n", seconds(t1, t2) - normals);
    std::printf("normals: %.3f s\n", normals);
    std::printf("load_weld_normals: %.3f s\n", seconds(t0, t2));
    std::printf("face_tree: %.3f s\n", seconds(t3, t4));
    std::printf("load_cpu: %.3f s\n", c1 - c0);
    std::printf("weld_normals_cpu: %.3f s\n", c3 - c1);
    std::printf("face_tree_cpu: %.3f s\n", c4 - c3);
    std::printf("peak_memory: %.0f MB\n", usage.ru_maxrss / 1024.0);

    size_t exactVertices = 0, noisyVertices = 0, cornerVertices = 0;
    const double exact = weldSheet(400, 0, exactVertices);
    const double noisy = weldSheet(400, 1, noisyVertices);
    const double cornerNoisy = weldSheet(400, 2, cornerVertices);
    std::printf("sheet_triangles: %d\n", 2 * 400 * 400);
    std::printf("sheet_exact_weld: %.3f s\n", exact);
    std::printf("sheet_noisy_weld: %.3f s\n", noisy);
    std::printf("sheet_noisy_corners_weld: %.3f s\n", cornerNoisy);
    std::printf("sheet_vertices: %zu exact, %zu noisy, %zu noisy corners\n", exactVertices, noisyVertices, cornerVertices);
    return 0;
}
