#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brev {

// A triangle in whole micrometres, already shifted by the plate offsets.
struct Triangle {
    int32_t x[3];
    int32_t y[3];
    int32_t z[3];
    int32_t zMin;
    int32_t zMax;
};

struct StlMesh {
    std::vector<Triangle> triangles;
    int64_t maxZUm = 0;

    // Binary STL only. shiftX/YUm move the mesh on the plate.
    bool load(const std::string& path, int64_t shiftXUm, int64_t shiftYUm, std::string& error);
    // The same from bytes in memory (tests).
    bool loadBytes(const unsigned char* data, uint64_t size, int64_t shiftXUm, int64_t shiftYUm,
                   std::string& error);

private:
    bool addFacets(const unsigned char* data, uint64_t count, int64_t shiftXUm, int64_t shiftYUm,
                   std::string& error);
};

} // namespace brev
