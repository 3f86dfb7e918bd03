// What a file adds to the scene, worst case beside a typical input of the same size:
// - a project of 50 records over one 1,000,000-face mesh beside one record over it (face trees);
// - 10,000 models of one name beside 10,000 of different names (unique names);
// - committing 50 models of 20,000 vertices each on the round machine beside one of 1,000,000
//   (colours renewed once per load).
#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>

#include "FileRW/ProjectFile.h"
#include "scene/AppData.h"
#include "scene/FaceTree.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {
double since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A UV sphere of about 2 * slices * stacks faces, radius 20 mm, standing on the plate.
std::unique_ptr<MeshData> sphere(int slices, int stacks)
{
    auto m = std::make_unique<MeshData>();
    m->vertices.push_back({0, 0, 40});
    for (int i = 1; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const double t = M_PI * i / stacks, p = 2 * M_PI * j / slices;
            m->vertices.push_back({20 * std::sin(t) * std::cos(p), 20 * std::sin(t) * std::sin(p), 20 + 20 * std::cos(t)});
        }
    m->vertices.push_back({0, 0, 0});
    const int last = int(m->vertices.size()) - 1;
    for (int j = 0; j < slices; ++j)
        m->faces.push_back({0, 1 + j, 1 + (j + 1) % slices});
    for (int i = 0; i + 2 < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const int a = 1 + i * slices + j, b = 1 + i * slices + (j + 1) % slices;
            m->faces.push_back({a, a + slices, b + slices});
            m->faces.push_back({a, b + slices, b});
        }
    for (int j = 0; j < slices; ++j)
        m->faces.push_back({1 + (stacks - 2) * slices + j, last, 1 + (stacks - 2) * slices + (j + 1) % slices});
    return m;
}

void clearScene()
{
    AppData::instance()->clearModels(false);
    MeshList::clear(false);
}

void projectCase(const QTemporaryDir& dir, int records)
{
    ProjectData data;
    data.meshSlots.push_back(sphere(1000, 500));
    ProjectData::Model r;
    r.name = "ball";
    r.meshSlot = 0;
    data.models.assign(size_t(records), r);
    std::atomic<int> progress{0};
    std::atomic<bool> cancelled{false};
    const QString path = dir.filePath(QStringLiteral("p%1.brev").arg(records));
    ProjectFile::write(path, data, progress);
    ProjectData read;
    auto t = std::chrono::steady_clock::now();
    if (!ProjectFile::read(path, read, progress, cancelled))
        std::printf("project_%d_records: refused\n", records);
    const double readSeconds = since(t);
    std::set<const FaceTree*> trees;
    for (const auto& m : read.prepared)
        trees.insert(m->faceTree.get());
    t = std::chrono::steady_clock::now();
    ProjectFile::commit(read);
    AppData::instance()->refresh();
    const double commitSeconds = since(t);
    const double treeMb = double(trees.size()) * double(FaceTree::kBytesPerFace) * 1e6 / (1 << 20);
    std::printf("project_%d_records_read: %.3f s\n", records, readSeconds);
    std::printf("project_%d_records_commit: %.3f s\n", records, commitSeconds);
    std::printf("project_%d_records_face_trees: %.0f MB\n", records, treeMb);
    clearScene();
}

void namesCase(bool oneName)
{
    std::vector<MeshModel*> added;
    for (int i = 0; i < 10000; ++i) {
        auto* m = new MeshModel();
        m->name = oneName ? std::string("model") : "model" + std::to_string(i);
        added.push_back(m);
    }
    AppData::instance()->addModels(added);
    const auto t = std::chrono::steady_clock::now();
    AppData::instance()->makeNamesUnique();
    std::printf("unique_names_10000_%s: %.4f s\n", oneName ? "of_one_name" : "different", since(t));
    clearScene();
}

void commitCase(int models, int slices, int stacks)
{
    std::vector<LoadedModel> loaded;
    for (int i = 0; i < models; ++i)
        loaded.push_back(LoadedModel::fromMesh(sphere(slices, stacks), "ball"));
    const auto t = std::chrono::steady_clock::now();
    LoadedModel::commitAll(loaded);
    AppData::instance()->refresh();
    std::printf("commit_%d_models_of_%d_vertices: %.4f s\n", models, (stacks - 1) * slices + 2, since(t));
    clearScene();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    AppData::instance()->setSettingsDir(dir.path());
    AppData::instance()->setChoiceType(2); // the round machine: colours test every vertex
    projectCase(dir, 1);
    projectCase(dir, 50);
    namesCase(false);
    namesCase(true);
    commitCase(1, 1000, 1000);
    commitCase(50, 200, 100);
    return 0;
}
