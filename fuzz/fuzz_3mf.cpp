// 3MF: an input that starts like a zip archive is the file itself; any other input is the
// model part, packed into an archive here so that the mutations reach the XML.
#include <quazip.h>
#include <quazipfile.h>

#include "FileRW/FileReaderWriter.h"
#include "FuzzInput.h"
#include "scene/LoadedModel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietQt();
    QString path;
    if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
        path = fuzz::inputFile(data, size, ".3mf");
    } else {
        path = fuzz::inputFile(nullptr, 0, ".3mf");
        QuaZip zip(path);
        if (!zip.open(QuaZip::mdCreate))
            return 0;
        QuaZipFile part(&zip);
        if (!part.open(QIODevice::WriteOnly, QuaZipNewInfo(QStringLiteral("3D/3dmodel.model"))))
            return 0;
        part.write(reinterpret_cast<const char*>(data), qint64(size));
        part.close();
        zip.close();
    }
    FileReaderWriter rw;
    std::vector<LoadedModel> models;
    rw.load3mf(path, models);
    return 0;
}
