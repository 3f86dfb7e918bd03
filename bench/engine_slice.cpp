// Slices a 2,000,000-triangle sphere of 60 mm at 0.14 mm layers with the built engine, once
// plain, once with tree supports, a raft, cellular infill and Z hop, and once more so with
// support angle 0, which supports the whole lower half.
//   bench_engine_slice [path/to/BrevEngine]
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void putFloat(std::vector<unsigned char>& out, float f)
{
    unsigned char b[4];
    std::memcpy(b, &f, 4);
    out.insert(out.end(), b, b + 4);
}

// A UV sphere standing on the plate: rings × segments × 2 triangles, less the pole fans' halves.
bool writeSphere(const std::string& path, double radius, int rings, int segments, uint32_t& count)
{
    std::vector<unsigned char> data(80, 0);
    data.resize(84);
    count = 0;
    auto vertex = [&](int ring, int seg, float v[3]) {
        double theta = M_PI * ring / rings;
        double phi = 2 * M_PI * seg / segments;
        v[0] = float(radius * std::sin(theta) * std::cos(phi));
        v[1] = float(radius * std::sin(theta) * std::sin(phi));
        v[2] = float(radius - radius * std::cos(theta));
    };
    auto tri = [&](const float* a, const float* b, const float* c) {
        for (int i = 0; i < 3; ++i)
            putFloat(data, NAN);
        for (const float* v : {a, b, c})
            for (int i = 0; i < 3; ++i)
                putFloat(data, v[i]);
        data.push_back(0);
        data.push_back(0);
        ++count;
    };
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            float a[3], b[3], c[3], d[3];
            vertex(r, s, a);
            vertex(r + 1, s, b);
            vertex(r + 1, s + 1, c);
            vertex(r, s + 1, d);
            if (r != rings - 1)
                tri(a, b, c);
            if (r != 0)
                tri(a, c, d);
        }
    data[80] = count & 0xff;
    data[81] = (count >> 8) & 0xff;
    data[82] = (count >> 16) & 0xff;
    data[83] = (count >> 24) & 0xff;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    std::string engine = argc > 1 ? argv[1] : std::string();
    if (argc <= 1) {
        // Next to this program: <build>/bench/.. /BrevEngine/BrevEngine.
        std::string self = argv[0];
        size_t slash = self.rfind('/');
        std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
        engine = dir + "/../BrevEngine/BrevEngine";
    }
    char tmpl[] = "/tmp/bench_engineXXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    const std::string stl = dir + "/sphere.stl";
    const std::string ini = dir + "/Brev.ini";
    const std::string out = dir + "/sphere.gcode";
    uint32_t count = 0;
    if (!writeSphere(stl, 30.0, 1000, 1001, count)) {
        std::fprintf(stderr, "cannot write %s\n", stl.c_str());
        return 1;
    }
    const std::string common =
        "layerThickness = 140\r\ninsetCount = 3\r\nupSkinCount = 5\r\nextrusionWidth = 400\r\n"
        "sparseInfillLineDistance = 2000\r\nskinLineSpacing = 400\r\nplatformx=145000\r\nplatformy=145000\r\n"
        "startCode = \"\"\"\r\n;Start GCode\r\nG92 E0\r\n\"\"\"\r\n"
        "endCode = \"\"\"\r\n;End GCode\r\nM25\r\n\"\"\"\r\n";
    // What the settings window writes for TREE, a raft, CELLULAR and Z hop.
    const std::string full =
        "supportType = 2\r\nsupportLineDistance = 2000\r\nsupportTreeRadiusMax = 3000\r\n"
        "raftBaseThickness = 200\r\nraftInterfaceThickness = 175\r\nraftSurfaceThickness = 140\r\n"
        "raftAirGap = 59.99999940395355\r\nraftAirGapLayer0 = 109.99999940395355\r\n"
        "insetraftAirGapLayer0  = 149.99999940395355\r\ninfillPattern = 4\r\nretractionZHop = 2000\r\n";
    bool failed = false;
    for (const auto& run : {std::make_pair(std::string("engine_sphere"), common),
                            std::make_pair(std::string("engine_sphere_tree_raft_cellular"),
                                           "supportAngle = 60\r\n" + full + common),
                            std::make_pair(std::string("engine_sphere_tree_angle0"),
                                           "supportAngle = 0\r\n" + full + common)}) {
        FILE* f = std::fopen(ini.c_str(), "wb");
        if (!f)
            return 1;
        std::fputs(run.second.c_str(), f);
        std::fclose(f);

        const std::string cmd = "'" + engine + "' -p -c '" + ini + "' -s posx=98000 -s posy=84000 -o '"
                                + out + "' '" + stl + "' > /dev/null";
        auto t0 = std::chrono::steady_clock::now();
        int rc = std::system(cmd.c_str());
        auto t1 = std::chrono::steady_clock::now();
        double seconds = std::chrono::duration<double>(t1 - t0).count();
        long lines = 0;
        long bytes = 0;
        if (FILE* g = std::fopen(out.c_str(), "rb")) {
            int ch;
            while ((ch = std::fgetc(g)) != EOF) {
                ++bytes;
                lines += ch == '\n';
            }
            std::fclose(g);
        }
        std::remove(out.c_str());
        if (rc != 0) {
            std::fprintf(stderr, "engine failed (%d): %s\n", rc, engine.c_str());
            failed = true;
            break;
        }
        const char* name = run.first.c_str();
        std::printf("%s_slice: %.3f s\n", name, seconds);
        std::printf("%s_gcode_lines: %ld lines\n", name, lines);
        std::printf("%s_gcode_size: %.1f MB\n", name, bytes / 1e6);
    }
    std::remove(stl.c_str());
    std::remove(ini.c_str());
    rmdir(dir.c_str());
    if (failed)
        return 1;
    std::printf("engine_sphere_triangles: %u count\n", count);
    return 0;
}
