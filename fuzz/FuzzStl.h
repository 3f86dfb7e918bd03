#pragma once
// Both STL targets: one reader on the input as a file, then the weld.
#include <new>

#include "FileRW/FileReaderWriter.h"
#include "FuzzInput.h"
#include "scene/MeshData.h"

namespace fuzz {

inline int stl(const uint8_t* data, size_t size, bool (FileReaderWriter::*read)())
{
    quietQt();
    FileReaderWriter rw;
    MeshData mesh;
    rw.fileName = inputFile(data, size, ".stl");
    rw.target = &mesh;
    try {
        if ((rw.*read)())
            rw.weldVertices();
    } catch (const std::bad_alloc&) {
    }
    return 0;
}

} // namespace fuzz
