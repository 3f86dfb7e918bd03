// The OBJ, picture-relief, 3MF and project operations of FileReaderWriter.
#include "FileRW/FileReaderWriter.h"

#include <new>

#include "FileRW/ImageRelief.h"
#include "FileRW/ObjFile.h"
#include "FileRW/ProjectFile.h"
#include "FileRW/ThreeMFReader.h"
#include "app/QsLog.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"

bool FileReaderWriter::loadObj()
{
    return ObjFile::readCorners(fileName, corners, progress, cancelled);
}

bool FileReaderWriter::saveObj()
{
    return source && ObjFile::write(fileName, *source, progress, &failureReason);
}

bool FileReaderWriter::loadImageRelief()
{
    return ImageRelief::readCorners(fileName, reliefParams, corners, progress, cancelled, &failureReason);
}

bool FileReaderWriter::load3mf(const QString& path, std::vector<LoadedModel>& out)
{
    fileName = path;
    out.clear();
    failureReason.clear();
    overModelLimit = false;
    std::vector<MeshData*> meshes;
    try {
        if (!ThreeMFReader::load(path, meshes, progress, cancelled, nullptr, &failureReason, true,
                                 &overModelLimit))
            return false;
        std::vector<std::unique_ptr<MeshData>> owned;
        owned.reserve(meshes.size());
        for (MeshData* m : meshes)
            owned.emplace_back(m);
        meshes.clear();
        for (auto& m : owned) {
            LoadedModel lm = LoadedModel::fromMesh(std::move(m), "model", &cancelled, &failureReason);
            if (cancelled || !lm.isValid()) {
                out.clear();
                return false;
            }
            out.push_back(std::move(lm));
            out.back().model->saveBottomCenter();
        }
    } catch (const std::bad_alloc&) {
        for (MeshData* m : meshes)
            delete m;
        out.clear();
        failureReason = ThreeMFReader::outOfMemoryReason();
        QLOG_INFO() << "FileRW\\FileReaderWriter@" << __LINE__ << "out of memory loading" << path;
        return false;
    }
    progress = 10000;
    return !out.empty();
}

bool FileReaderWriter::loadProject(const QString& path, ProjectData& out)
{
    fileName = path;
    failureReason.clear();
    overModelLimit = false;
    try {
        return ProjectFile::read(path, out, progress, cancelled, nullptr, &failureReason, &overModelLimit);
    } catch (const std::bad_alloc&) {
        out = ProjectData();
        failureReason = outOfMemoryReason();
        QLOG_INFO() << "FileRW\\FileReaderWriter@" << __LINE__ << "out of memory loading" << path;
        return false;
    }
}

bool FileReaderWriter::saveProject(const QString& path, const ProjectData& data)
{
    fileName = path;
    failureReason.clear();
    return ProjectFile::write(path, data, progress, &failureReason);
}
