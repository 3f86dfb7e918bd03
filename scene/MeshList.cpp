#include "scene/MeshList.h"

#include "scene/MeshData.h"

#include <cstddef>
using std::size_t;

namespace {
MeshList* s_instance = nullptr;

void freeMesh(MeshData* m)
{
    if (!m)
        return;
    MeshData::clear(*m);
    delete m;
}
} // namespace

MeshList* MeshList::instance()
{
    if (!s_instance)
        s_instance = new MeshList();
    return s_instance;
}

MeshList::~MeshList()
{
    for (MeshData* m : meshes)
        freeMesh(m);
}

int MeshList::add(MeshData* m)
{
    for (size_t i = 0; i < meshes.size(); ++i) {
        if (!meshes[i]) {
            meshes[i] = m;
            return int(i);
        }
    }
    meshes.push_back(m);
    return int(meshes.size()) - 1;
}

void MeshList::setAt(int i, MeshData* m)
{
    if (i < 0)
        return;
    if (size_t(i) >= meshes.size())
        meshes.resize(size_t(i) + 1, nullptr);
    meshes[size_t(i)] = m;
}

void MeshList::remove(int i)
{
    if (i >= 0 && size_t(i) < meshes.size()) {
        freeMesh(meshes[size_t(i)]);
        meshes[size_t(i)] = nullptr;
    }
    trim();
}

MeshData* MeshList::at(int i) const
{
    if (i < 0 || size_t(i) >= meshes.size())
        return nullptr;
    return meshes[size_t(i)];
}

void MeshList::resetAt(int i)
{
    if (MeshData* m = at(i))
        MeshData::clear(*m);
}

void MeshList::emptySlots(std::vector<int>& out) const
{
    out.clear();
    for (size_t i = 0; i < meshes.size(); ++i)
        if (!meshes[i])
            out.push_back(int(i));
}

void MeshList::clear(bool all)
{
    if (!s_instance)
        return;
    for (MeshData*& m : s_instance->meshes) {
        freeMesh(m);
        m = nullptr;
    }
    s_instance->meshes.clear();
    if (all) {
        delete s_instance;
        s_instance = nullptr;
    }
}

void MeshList::trim()
{
    while (!meshes.empty() && !meshes.back())
        meshes.pop_back();
}
