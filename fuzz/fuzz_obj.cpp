// OBJ: vertex and face lines, polygons cut into triangles; then the weld.
#include "FileRW/FileReaderWriter.h"
#include "FuzzInput.h"
#include "scene/MeshData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietQt();
    FileReaderWriter rw;
    MeshData mesh;
    rw.loadMesh(fuzz::inputFile(data, size, ".obj"), &mesh);
    return 0;
}
