// ASCII STL: solid, facets, vertices; then the weld.
#include <new>

#include "FileRW/FileReaderWriter.h"
#include "FuzzInput.h"
#include "scene/MeshData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietQt();
    FileReaderWriter rw;
    MeshData mesh;
    rw.fileName = fuzz::inputFile(data, size, ".stl");
    rw.target = &mesh;
    try {
        if (rw.loadAsciiStl())
            rw.weldVertices();
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
