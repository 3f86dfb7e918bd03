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

#include <quazip.h>
#include <quazipfile.h>

#include "FileRW/FileReaderWriter.h"
#include "FileRW/ThreeMFReader.h"
#include "scene/LoadedModel.h"
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

// The welded sphere as a deflated 3MF model part, written as slicers write it.
bool write3mf(const QString& path, const MeshData& mesh, qint64& xmlBytes)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    QuaZipFile f(&zip);
    if (!f.open(QIODevice::WriteOnly, QuaZipNewInfo(QStringLiteral("3D/3dmodel.model"))))
        return false;
    std::string buf = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model unit=\"millimeter\" "
                      "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n <resources>\n"
                      "  <object id=\"1\" type=\"model\">\n   <mesh>\n    <vertices>\n";
    xmlBytes = 0;
    char line[160];
    auto flush = [&](bool force) {
        if (force || buf.size() > (1 << 20)) {
            f.write(buf.data(), qint64(buf.size()));
            xmlBytes += qint64(buf.size());
            buf.clear();
        }
    };
    for (const auto& v : mesh.vertices) {
        buf.append(line, size_t(std::snprintf(line, sizeof line, "     <vertex x=\"%.6g\" y=\"%.6g\" z=\"%.6g\" />\n",
                                              v[0], v[1], v[2])));
        flush(false);
    }
    buf += "    </vertices>\n    <triangles>\n";
    for (const auto& t : mesh.faces) {
        buf.append(line, size_t(std::snprintf(line, sizeof line, "     <triangle v1=\"%d\" v2=\"%d\" v3=\"%d\" />\n",
                                              t[0], t[1], t[2])));
        flush(false);
    }
    buf += "    </triangles>\n   </mesh>\n  </object>\n </resources>\n <build>\n  <item objectid=\"1\" />\n"
           " </build>\n</model>\n";
    flush(true);
    f.close();
    zip.close();
    return f.getZipError() == UNZ_OK && zip.getZipError() == UNZ_OK;
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

    // The same sphere as 3MF, loaded the whole way to a model ready to draw, as the STL above.
    const QString path3mf = dir.path() + "/sphere.3mf";
    qint64 xmlBytes = 0;
    if (!write3mf(path3mf, mesh, xmlBytes)) {
        std::printf("error: cannot write %s\n", qPrintable(path3mf));
        return 1;
    }
    {
        std::vector<MeshData*> read;
        std::atomic<int> progress{0};
        std::atomic<bool> cancelled{false};
        const auto r0 = std::chrono::steady_clock::now();
        const bool readOk = ThreeMFReader::load(path3mf, read, progress, cancelled);
        const auto r1 = std::chrono::steady_clock::now();
        for (MeshData* m : read)
            delete m;
        if (!readOk) {
            std::printf("error: 3mf read failed\n");
            return 1;
        }
        // Reading the part gives an indexed mesh, as the STL's load, weld and normals do.
        std::printf("3mf_read: %.3f s\n", seconds(r0, r1));
        std::printf("3mf_read_over_stl_load_weld_normals: %.2f x\n", seconds(r0, r1) / seconds(t0, t2));

        std::vector<LoadedModel> loaded;
        FileReaderWriter rw3;
        const auto m0 = std::chrono::steady_clock::now();
        const double mc0 = cpuSeconds();
        if (!rw3.load3mf(path3mf, loaded) || loaded.size() != 1) {
            std::printf("error: 3mf load failed: %s\n", qPrintable(rw3.failureReason));
            return 1;
        }
        const auto m1 = std::chrono::steady_clock::now();
        const double mc1 = cpuSeconds();
        const double stl = seconds(t0, t4), threeMf = seconds(m0, m1);
        std::printf("3mf_xml: %.0f MB\n", double(xmlBytes) / 1e6);
        std::printf("3mf_triangles: %zu\n", loaded[0].mesh->faces.size());
        std::printf("stl_to_model: %.3f s\n", stl);
        std::printf("3mf_to_model: %.3f s\n", threeMf);
        std::printf("3mf_to_model_cpu: %.3f s\n", mc1 - mc0);
        std::printf("3mf_over_stl: %.2f x\n", threeMf / stl);
    }

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
