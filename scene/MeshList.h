#pragma once

#include <vector>

struct MeshData;

// The one list of meshes. Models refer to meshes by slot; slots of removed meshes are reused.
// Changed on the GUI thread only.
class MeshList
{
public:
    static MeshList* instance();

    int add(MeshData* m);
    void setAt(int i, MeshData* m);
    void remove(int i);
    MeshData* at(int i) const;
    void resetAt(int i);
    void emptySlots(std::vector<int>& out) const;
    int size() const { return int(meshes.size()); }
    static void clear(bool all);

private:
    MeshList() = default;
    ~MeshList();
    void trim();

    std::vector<MeshData*> meshes;
};
