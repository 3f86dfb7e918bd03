// ASCII STL: solid, facets, vertices; then the weld.
#include "FuzzStl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::stl(data, size, &FileReaderWriter::loadAsciiStl);
}
