#include "StlMesh.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace brev {

namespace {

constexpr uint64_t kHeaderBytes = 84;
constexpr uint64_t kFacetBytes = 50;
// 100 m from the origin: far beyond any plate, and safe in 32-bit micrometres with the offsets.
constexpr double kMaxCoordMm = 100000.0;

float readFloatLE(const unsigned char* p)
{
    uint32_t bits = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace

bool StlMesh::load(const std::string& path, int64_t shiftXUm, int64_t shiftYUm, std::string& error)
{
    triangles.clear();
    maxZUm = 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open the STL file " + path;
        return false;
    }
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        error = "the STL file is not a plain file";
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    unsigned char header[kHeaderBytes];
    if (size < kHeaderBytes || std::fread(header, 1, kHeaderBytes, f) != kHeaderBytes) {
        std::fclose(f);
        error = "the STL file is too short";
        return false;
    }
    const uint64_t count = uint64_t(header[80]) | uint64_t(header[81]) << 8
                           | uint64_t(header[82]) << 16 | uint64_t(header[83]) << 24;
    if (count * kFacetBytes + kHeaderBytes > size) {
        std::fclose(f);
        error = "the STL file is shorter than its triangle count says";
        return false;
    }
    triangles.reserve(count);
    constexpr uint64_t kBatch = 65536;
    std::vector<unsigned char> buf(kBatch * kFacetBytes);
    for (uint64_t done = 0; done < count;) {
        uint64_t n = std::min(kBatch, count - done);
        if (std::fread(buf.data(), kFacetBytes, n, f) != n) {
            std::fclose(f);
            error = "cannot read the STL file";
            return false;
        }
        if (!addFacets(buf.data(), n, shiftXUm, shiftYUm, error)) {
            std::fclose(f);
            return false;
        }
        done += n;
    }
    std::fclose(f);
    return true;
}

bool StlMesh::loadBytes(const unsigned char* data, uint64_t size, int64_t shiftXUm,
                        int64_t shiftYUm, std::string& error)
{
    triangles.clear();
    maxZUm = 0;
    if (size < kHeaderBytes) {
        error = "the STL file is too short";
        return false;
    }
    const uint64_t count = uint64_t(data[80]) | uint64_t(data[81]) << 8 | uint64_t(data[82]) << 16
                           | uint64_t(data[83]) << 24;
    if (count * kFacetBytes + kHeaderBytes > size) {
        error = "the STL file is shorter than its triangle count says";
        return false;
    }
    triangles.reserve(count);
    return addFacets(data + kHeaderBytes, count, shiftXUm, shiftYUm, error);
}

bool StlMesh::addFacets(const unsigned char* data, uint64_t count, int64_t shiftXUm,
                        int64_t shiftYUm, std::string& error)
{
    for (uint64_t i = 0; i < count; ++i) {
        // The normal (first 12 bytes) is ignored: writers may leave it NaN.
        const unsigned char* v = data + i * kFacetBytes + 12;
        Triangle t;
        for (int k = 0; k < 3; ++k) {
            double c[3];
            for (int a = 0; a < 3; ++a) {
                c[a] = readFloatLE(v + 12 * k + 4 * a);
                if (!std::isfinite(c[a]) || std::fabs(c[a]) > kMaxCoordMm) {
                    error = "the STL file has a vertex that is not a finite coordinate in range";
                    return false;
                }
            }
            t.x[k] = static_cast<int32_t>(std::llround(c[0] * 1000.0) + shiftXUm);
            t.y[k] = static_cast<int32_t>(std::llround(c[1] * 1000.0) + shiftYUm);
            t.z[k] = static_cast<int32_t>(std::llround(c[2] * 1000.0));
        }
        t.zMin = std::min({t.z[0], t.z[1], t.z[2]});
        t.zMax = std::max({t.z[0], t.z[1], t.z[2]});
        maxZUm = std::max<int64_t>(maxZUm, t.zMax);
        triangles.push_back(t);
    }
    return true;
}

} // namespace brev
