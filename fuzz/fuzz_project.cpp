// Project file: header, mesh slots, model and support records; models built as on a load.
#include "FileRW/ProjectFile.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietQt();
    ProjectData project;
    std::atomic<int> progress{0};
    std::atomic<bool> cancelled{false};
    ProjectFile::read(fuzz::inputFile(data, size, ".brev"), project, progress, cancelled);
    return 0;
}
