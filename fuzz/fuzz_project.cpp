// Project file: header, mesh slots, model and support records; models built as on a load.
// A model's name becomes a file name when it is printed: it must never leave its folder.
#include <cstdlib>

#include "FileRW/ProjectFile.h"
#include "FileRW/SafeFileName.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietQt();
    ProjectData project;
    std::atomic<int> progress{0};
    std::atomic<bool> cancelled{false};
    if (!ProjectFile::read(fuzz::inputFile(data, size, ".brev"), project, progress, cancelled))
        return 0;
    for (const ProjectData::Model& m : project.models) {
        const QString file = safeFileName(QString::fromLocal8Bit(m.name.c_str()), QStringLiteral("3DPRINT"));
        if (file.contains('/') || file.contains('\\') || file == QLatin1String("..") || file.isEmpty())
            std::abort();
    }
    return 0;
}
