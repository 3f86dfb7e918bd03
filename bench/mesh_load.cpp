// Loads one sphere through every mesh path and times them side by side:
//   bench_mesh_load [faces ...]        (default 1000000 4000000)
// For each size: the binary STL (read, weld, normals; and on to a model with its face tree),
// the ASCII STL of the same triangles, the 3MF of the welded mesh, and the weld of the sphere's
// corners exactly as read and with float noise (each coordinate of each corner off by its last
// bit, all within the weld distance). Each figure is the median of three runs, or of five where
// two paths are compared (run in turns, so both meet the same machine); the vertex and
// face counts show that every path gives the same mesh. Then a sheet is welded with x exactly 0
// and with x noise of +-1e-7.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <quazip.h>
#include <quazipfile.h>

#include "FileRW/FileReaderWriter.h"
#include "FileRW/ThreeMFReader.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/MeshModel.h"

namespace {
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b)
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

struct Timing
{
    double wall = 0, cpu = 0;
};

// One run of step: wall time, and the processor time of that run; prepare runs untimed first.
Timing timed(const std::function<bool()>& step, const std::function<void()>& prepare)
{
    if (prepare)
        prepare();
    const double c0 = cpuSeconds();
    const auto t0 = Clock::now();
    if (!step()) {
        std::printf("error: step failed\n");
        std::exit(1);
    }
    return {seconds(t0, Clock::now()), cpuSeconds() - c0};
}

Timing median(std::vector<Timing> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
    return runs[runs.size() / 2];
}

// The median of three runs of step.
Timing median3(const std::function<bool()>& step, const std::function<void()>& prepare = nullptr)
{
    std::vector<Timing> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(timed(step, prepare));
    return median(runs);
}

// Two steps compared side by side: five rounds, each running both (in turn first), so that a
// busy spell of the machine weighs on both medians alike.
std::pair<Timing, Timing> medianPair(const std::function<bool()>& a, const std::function<bool()>& b,
                                     const std::function<void()>& prepareA = nullptr,
                                     const std::function<void()>& prepareB = nullptr)
{
    std::vector<Timing> ra, rb;
    for (int i = 0; i < 5; ++i) {
        if (i % 2 == 0) {
            ra.push_back(timed(a, prepareA));
            rb.push_back(timed(b, prepareB));
        } else {
            rb.push_back(timed(b, prepareB));
            ra.push_back(timed(a, prepareA));
        }
    }
    return {median(ra), median(rb)};
}

void put(std::vector<char>& out, float f)
{
    char b[4];
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    qToLittleEndian<quint32>(bits, reinterpret_cast<uchar*>(b));
    out.insert(out.end(), b, b + 4);
}

// A UV sphere of 2 * slices * (stacks - 1) triangles, handed out one by one.
void sphere(int slices, int stacks, double r, const std::function<void(const std::array<std::array<float, 3>, 3>&)>& tri)
{
    auto point = [&](int i, int j) {
        const double theta = M_PI * i / stacks, phi = 2 * M_PI * (j % slices) / slices;
        return std::array<float, 3>{float(r * std::sin(theta) * std::cos(phi)), float(r * std::sin(theta) * std::sin(phi)),
                                    float(r * std::cos(theta))};
    };
    const auto top = std::array<float, 3>{0.f, 0.f, float(r)}, bottom = std::array<float, 3>{0.f, 0.f, float(-r)};
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            if (i == 0) {
                tri({top, point(1, j), point(1, j + 1)});
            } else if (i == stacks - 1) {
                tri({point(i, j), bottom, point(i, j + 1)});
            } else {
                tri({point(i, j), point(i + 1, j), point(i + 1, j + 1)});
                tri({point(i, j), point(i + 1, j + 1), point(i, j + 1)});
            }
        }
}

// Streams the sphere straight to disk, binary and ASCII (floats written to round-trip).
bool writeStl(const QString& binPath, const QString& asciiPath, int slices, int stacks, double r, qint64& asciiBytes)
{
    QFile bin(binPath), text(asciiPath);
    if (!bin.open(QIODevice::WriteOnly) || !text.open(QIODevice::WriteOnly))
        return false;
    const quint32 count = quint32(2 * slices * (stacks - 1));
    char head[84] = {};
    qToLittleEndian<quint32>(count, reinterpret_cast<uchar*>(head + 80));
    bin.write(head, 84);
    std::vector<char> buf;
    std::string lines = "solid sphere\n";
    char line[200];
    sphere(slices, stacks, r, [&](const std::array<std::array<float, 3>, 3>& t) {
        for (int k = 0; k < 3; ++k)
            put(buf, 0.f);
        lines += "  facet normal 0 0 0\n    outer loop\n";
        for (const auto& p : t) {
            for (float v : p)
                put(buf, v);
            lines.append(line, size_t(std::snprintf(line, sizeof line, "      vertex %.9g %.9g %.9g\n", double(p[0]),
                                                    double(p[1]), double(p[2]))));
        }
        lines += "    endloop\n  endfacet\n";
        buf.push_back(0);
        buf.push_back(0);
        if (buf.size() > (1 << 20)) {
            bin.write(buf.data(), qint64(buf.size()));
            text.write(lines.data(), qint64(lines.size()));
            buf.clear();
            lines.clear();
        }
    });
    lines += "endsolid sphere\n";
    bin.write(buf.data(), qint64(buf.size()));
    text.write(lines.data(), qint64(lines.size()));
    asciiBytes = text.size();
    return bin.error() == QFileDevice::NoError && text.error() == QFileDevice::NoError;
}

// The welded sphere as a deflated 3MF model part, written as slicers write it; prefixed, with
// the core namespace on a prefix, which leaves every element to the XML parser.
bool write3mf(const QString& path, const MeshData& mesh, qint64& xmlBytes, bool prefixed = false)
{
    const std::string c = prefixed ? "c:" : "", ns = prefixed ? "xmlns:c" : "xmlns";
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    QuaZipFile f(&zip);
    if (!f.open(QIODevice::WriteOnly, QuaZipNewInfo(QStringLiteral("3D/3dmodel.model"))))
        return false;
    std::string buf = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + c + "model unit=\"millimeter\" " + ns
                      + "=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n <" + c + "resources>\n  <" + c
                      + "object id=\"1\" type=\"model\">\n   <" + c + "mesh>\n    <" + c + "vertices>\n";
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
        buf.append(line, size_t(std::snprintf(line, sizeof line, "     <%svertex x=\"%.6g\" y=\"%.6g\" z=\"%.6g\" />\n",
                                              c.c_str(), v[0], v[1], v[2])));
        flush(false);
    }
    buf += "    </" + c + "vertices>\n    <" + c + "triangles>\n";
    for (const auto& t : mesh.faces) {
        buf.append(line, size_t(std::snprintf(line, sizeof line, "     <%striangle v1=\"%d\" v2=\"%d\" v3=\"%d\" />\n",
                                              c.c_str(), t[0], t[1], t[2])));
        flush(false);
    }
    buf += "    </" + c + "triangles>\n   </" + c + "mesh>\n  </" + c + "object>\n </" + c + "resources>\n <" + c + "build>\n  <" + c
           + "item objectid=\"1\" />\n </" + c + "build>\n</" + c + "model>\n";
    flush(true);
    f.close();
    zip.close();
    return f.getZipError() == UNZ_OK && zip.getZipError() == UNZ_OK;
}

// Each coordinate's last bit flipped or not, by a fixed hash of the corner and axis.
double noisy(double v, uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    float f = float(v);
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    bits ^= h & 1u;
    std::memcpy(&f, &bits, 4);
    return double(f);
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
    const auto t0 = Clock::now();
    const bool ok = rw.weldVertices();
    const auto t1 = Clock::now();
    vertices = ok ? mesh.vertices.size() : 0;
    return seconds(t0, t1);
}

void row(const char* name, long faces, const Timing& t)
{
    std::printf("%s_%ldk: %.3f s (cpu %.3f s)\n", name, faces / 1000, t.wall, t.cpu);
}

void ratio(const char* name, long faces, const Timing& a, const Timing& b)
{
    std::printf("%s_%ldk: %.2f x\n", name, faces / 1000, a.wall / b.wall);
}

bool runSize(const QString& dir, long faces)
{
    // slices * slices faces; radius 5 mm, where a float's last bit is below the weld distance.
    const int slices = int(std::lround(std::sqrt(double(faces)))), stacks = slices / 2 + 1;
    const long made = 2L * slices * (stacks - 1);
    const QString bin = dir + "/sphere.stl", ascii = dir + "/sphere_ascii.stl", threeMf = dir + "/sphere.3mf";
    qint64 asciiBytes = 0, xmlBytes = 0;
    if (!writeStl(bin, ascii, slices, stacks, 5.0, asciiBytes)) {
        std::printf("error: cannot write %s\n", qPrintable(bin));
        return false;
    }
    std::printf("faces: %ld\n", made);
    std::printf("ascii_stl_size_%ldk: %.0f MB\n", made / 1000, double(asciiBytes) / 1e6);

    MeshData mesh;
    auto loadInto = [&](const QString& path, MeshData& out) {
        FileReaderWriter rw;
        out = MeshData();
        return rw.loadMesh(path, &out);
    };
    MeshData fromAscii;
    const auto [binary, text] = medianPair([&] { return loadInto(bin, mesh); }, [&] { return loadInto(ascii, fromAscii); });
    auto binaryToModel = [&] {
        FileReaderWriter rw;
        LoadedModel m;
        return rw.loadModel(bin, m);
    };

    if (!write3mf(threeMf, mesh, xmlBytes)) {
        std::printf("error: cannot write %s\n", qPrintable(threeMf));
        return false;
    }
    size_t threeMfFaces = 0, threeMfVertices = 0;
    auto load3mf = [&](const QString& path) {
        FileReaderWriter rw;
        std::vector<LoadedModel> loaded;
        if (!rw.load3mf(path, loaded) || loaded.size() != 1)
            return false;
        threeMfFaces = loaded[0].mesh->faces.size();
        threeMfVertices = loaded[0].mesh->vertices.size();
        return true;
    };
    const auto [binaryModel, model3mf] = medianPair(binaryToModel, [&] { return load3mf(threeMf); });
    qint64 prefixedBytes = 0;
    const QString prefixed3mf = dir + "/sphere_prefixed.3mf";
    if (!write3mf(prefixed3mf, mesh, prefixedBytes, true)) {
        std::printf("error: cannot write %s\n", qPrintable(prefixed3mf));
        return false;
    }
    const Timing modelPrefixed = median3([&] { return load3mf(prefixed3mf); });

    // The sphere's corners as read, and with float noise.
    FileReaderWriter reader;
    reader.fileName = bin;
    if (!reader.loadBinaryStl())
        return false;
    const CornerList exactCorners = reader.corners;
    CornerList noisyCorners = exactCorners;
    for (size_t i = 0; i < noisyCorners.size(); ++i) {
        CornerRecord& c = noisyCorners[i];
        c.x = noisy(c.x, uint32_t(3 * i));
        c.y = noisy(c.y, uint32_t(3 * i + 1));
        c.z = noisy(c.z, uint32_t(3 * i + 2));
    }
    size_t exactVertices = 0, noisyVertices = 0;
    std::unique_ptr<FileReaderWriter> welder;
    MeshData welded;
    auto copyCorners = [&](const CornerList& corners) {
        welder = std::make_unique<FileReaderWriter>();
        welded = MeshData();
        welder->target = &welded;
        welder->corners = corners;
    };
    auto weld = [&](size_t& vertices) {
        const bool ok = welder->weldVertices();
        vertices = welded.vertices.size();
        return ok;
    };
    const auto [exact, noise] = medianPair([&] { return weld(exactVertices); }, [&] { return weld(noisyVertices); },
                                           [&] { copyCorners(exactCorners); }, [&] { copyCorners(noisyCorners); });
    welder.reset();

    std::printf("vertices_%ldk: %zu binary, %zu ascii, %zu 3mf, %zu exact weld, %zu noisy weld\n", made / 1000,
                mesh.vertices.size(), fromAscii.vertices.size(), threeMfVertices, exactVertices, noisyVertices);
    std::printf("faces_%ldk: %zu binary, %zu ascii, %zu 3mf\n", made / 1000, mesh.faces.size(), fromAscii.faces.size(),
                threeMfFaces);
    std::printf("3mf_xml_%ldk: %.0f MB\n", made / 1000, double(xmlBytes) / 1e6);
    row("binary_stl_load", made, binary);
    row("ascii_stl_load", made, text);
    ratio("ascii_over_binary", made, text, binary);
    row("binary_stl_to_model", made, binaryModel);
    row("3mf_to_model", made, model3mf);
    ratio("3mf_over_binary", made, model3mf, binaryModel);
    row("3mf_prefixed_to_model", made, modelPrefixed);
    ratio("3mf_prefixed_over_3mf", made, modelPrefixed, model3mf);
    row("exact_weld", made, exact);
    row("noisy_weld", made, noise);
    ratio("noisy_over_exact", made, noise, exact);
    QFile::remove(bin);
    QFile::remove(ascii);
    QFile::remove(threeMf);
    QFile::remove(prefixed3mf);
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atol(argv[i]));
    if (sizes.empty())
        sizes = {1000000, 4000000};
    for (long faces : sizes)
        if (!runSize(dir.path(), faces))
            return 1;

    size_t exactVertices = 0, noisyVertices = 0, cornerVertices = 0;
    const double exact = weldSheet(400, 0, exactVertices);
    const double noisySheet = weldSheet(400, 1, noisyVertices);
    const double cornerNoisy = weldSheet(400, 2, cornerVertices);
    std::printf("sheet_triangles: %d\n", 2 * 400 * 400);
    std::printf("sheet_exact_weld: %.3f s\n", exact);
    std::printf("sheet_noisy_weld: %.3f s\n", noisySheet);
    std::printf("sheet_noisy_corners_weld: %.3f s\n", cornerNoisy);
    std::printf("sheet_vertices: %zu exact, %zu noisy, %zu noisy corners\n", exactVertices, noisyVertices, cornerVertices);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_memory: %.0f MB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
