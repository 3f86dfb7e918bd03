#pragma once

#include <Eigen/Geometry>

#include <atomic>
#include <cstdint>
#include <vector>

#include "scene/BigAllocator.h"

// One face of the face tree: three indices into the joint vertex list
// (the model mesh's vertices followed by the support mesh's).
struct FaceIndex
{
    int32_t v[3];
};

// A box hierarchy over faces, split at the median of the face centres along x, y, z in turn.
// Node x has children children[2x] and children[2x + 1]; an index of boxes.size() or more
// names object (index - boxes.size()). With fewer than two faces there is no node and the
// root index is -1, whose children are all the faces.
class FaceTree
{
public:
    using Volume = Eigen::AlignedBox3d;
    using Index = int;
    using VolumeIterator = const int*;
    using ObjectIterator = const FaceIndex*;
    // What a built tree holds per face: a node (box and two children) and the face itself.
    static constexpr long long kBytesPerFace = sizeof(Volume) + 2 * sizeof(int) + sizeof(FaceIndex);

    // Every corner of every face must index vertices. A cancelled build leaves the tree empty
    // and returns false; the work is checked against the flag every few thousand faces.
    bool build(std::vector<FaceIndex> faces, const std::vector<Eigen::Vector3d>& vertices,
               const std::atomic<bool>* cancelled = nullptr);
    void clear();

    Index getRootIndex() const { return int(boxes.size()) - 1; }
    void getChildren(Index index, VolumeIterator& outVBegin, VolumeIterator& outVEnd, ObjectIterator& outOBegin,
                     ObjectIterator& outOEnd) const;
    const Volume& getVolume(Index index) const { return boxes[size_t(index)]; }

private:
    struct Centre
    {
        float c[3];
        int32_t face;
    };
    struct Builder;

    // Large and filled once each: huge pages, and no clearing before they are written.
    std::vector<int, BigAllocator<int>> children;
    std::vector<Volume, BigAllocator<Volume>> boxes;
    std::vector<FaceIndex, BigAllocator<FaceIndex>> objects;
};
