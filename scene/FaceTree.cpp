#include "scene/FaceTree.h"

#include <algorithm>
#include <array>
#include <climits>
#include <system_error>
#include <thread>

#include "scene/Parallel.h"

namespace {
// Subtrees of at least this many faces may go to a thread of their own.
constexpr int ParallelFaces = 1 << 16;
// Nodes over at least this many faces are split at their median on several threads.
constexpr int ParallelSelect = 1 << 17;
// Nodes over at least this many faces look at the cancel flag (a few hundred microseconds of work).
constexpr int CheckFaces = 1 << 12;
} // namespace

struct FaceTree::Builder
{
    FaceTree& tree;
    const std::vector<FaceIndex>& faces;
    const std::vector<Eigen::Vector3d>& vertices;
    std::vector<Centre, BigAllocator<Centre>>& centres;
    const std::atomic<bool>* cancelled;
    int nodes; // boxes.size(): object k is child index nodes + k

    bool stopped() const { return cancelled && cancelled->load(std::memory_order_relaxed); }

    Volume faceBox(int at) const
    {
        const FaceIndex& f = faces[size_t(centres[size_t(at)].face)];
        Volume box(vertices[size_t(f.v[0])]);
        box.extend(vertices[size_t(f.v[1])]);
        box.extend(vertices[size_t(f.v[2])]);
        return box;
    }

    void partition(int from, int mid, int to, int axis, unsigned threads)
    {
        auto less = [axis](const Centre& a, const Centre& b) { return a.c[axis] < b.c[axis]; };
        if (threads == 0 || to - from < ParallelSelect || !splitAroundMedian(from, mid, to, axis, threads + 1))
            std::nth_element(centres.begin() + from, centres.begin() + mid, centres.begin() + to, less);
    }

    // nth_element for the large top nodes, on `parts` threads: two keys from a sample bracket
    // the median, the range is sorted into the three groups they make, and only the middle
    // group, a few percent of the range, is left for nth_element on one thread. False (and the
    // range untouched) when the sample missed the median.
    bool splitAroundMedian(int from, int mid, int to, int axis, unsigned parts)
    {
        const size_t n = size_t(to - from);
        Centre* c = centres.data() + from;
        constexpr size_t Samples = 1024;
        std::vector<float> sample(Samples);
        for (size_t i = 0; i < Samples; ++i)
            sample[i] = c[i * n / Samples].c[axis];
        std::sort(sample.begin(), sample.end());
        const size_t at = size_t(mid - from) * Samples / n;
        const float low = sample[at > 24 ? at - 24 : 0], high = sample[std::min(Samples - 1, at + 24)];
        auto group = [&](const Centre& x) { return x.c[axis] < low ? 0 : x.c[axis] > high ? 2 : 1; };
        std::vector<std::array<size_t, 3>> counts(parts, std::array<size_t, 3>{0, 0, 0});
        auto onParts = [&](auto fn) { runParts(parts, [&](size_t p) { fn(unsigned(p)); }); };
        auto range = [&](unsigned p) { return std::make_pair(n * p / parts, n * (p + 1) / parts); };
        onParts([&](unsigned p) {
            for (size_t i = range(p).first; i < range(p).second; ++i)
                ++counts[p][size_t(group(c[i]))];
        });
        std::array<size_t, 3> total{0, 0, 0};
        for (const auto& k : counts)
            for (int g = 0; g < 3; ++g)
                total[size_t(g)] += k[size_t(g)];
        const size_t rank = size_t(mid - from);
        if (rank < total[0] || rank >= total[0] + total[1])
            return false;
        // Where each part's elements of each group go.
        std::vector<std::array<size_t, 3>> start(parts);
        size_t next[3] = {0, total[0], total[0] + total[1]};
        for (unsigned p = 0; p < parts; ++p)
            for (int g = 0; g < 3; ++g) {
                start[p][size_t(g)] = next[g];
                next[g] += counts[p][size_t(g)];
            }
        std::vector<Centre, BigAllocator<Centre>> sorted(n);
        onParts([&](unsigned p) {
            std::array<size_t, 3> to3 = start[p];
            for (size_t i = range(p).first; i < range(p).second; ++i)
                sorted[to3[size_t(group(c[i]))]++] = c[i];
        });
        onParts([&](unsigned p) { std::copy(sorted.data() + range(p).first, sorted.data() + range(p).second, c + range(p).first); });
        std::nth_element(c + total[0], c + rank, c + total[0] + total[1],
                         [axis](const Centre& a, const Centre& b) { return a.c[axis] < b.c[axis]; });
        return true;
    }

    // Builds the nodes over centres [from, to) into node slots [base, base + to - from - 1), the
    // subtree's root last, children before parents as the walk expects. threads: how many more
    // threads this subtree may start.
    bool build(int from, int to, int base, int axis, unsigned threads)
    {
        const int count = to - from;
        if (count >= CheckFaces && stopped())
            return false;
        const int node = base + count - 2;
        int* child = &tree.children[2 * size_t(node)];
        if (count == 2) {
            tree.boxes[size_t(node)] = faceBox(from).merged(faceBox(from + 1));
            child[0] = nodes + from;
            child[1] = nodes + from + 1;
            return true;
        }
        const int next = (axis + 1) % 3;
        if (count == 3) {
            partition(from, from + 2, to, axis, 0);
            build(from, from + 2, base, next, 0);
            tree.boxes[size_t(node)] = tree.boxes[size_t(base)].merged(faceBox(from + 2));
            child[0] = base;
            child[1] = nodes + from + 2;
            return true;
        }
        const int mid = from + count / 2;
        partition(from, mid, to, axis, threads);
        const int leftBase = base, rightBase = base + (mid - from) - 1;
        bool leftDone = false, rightDone = false, split = false;
        if (threads > 0 && count >= ParallelFaces) {
            const unsigned leftThreads = (threads - 1) / 2, rightThreads = threads - 1 - leftThreads;
            std::thread left;
            try {
                left = std::thread([&] { leftDone = build(from, mid, leftBase, next, leftThreads); });
            } catch (const std::system_error&) {
                // no thread to be had: this one does both halves
            }
            if (left.joinable()) {
                split = true;
                rightDone = build(mid, to, rightBase, next, rightThreads);
                left.join();
            }
        }
        if (!split) {
            leftDone = build(from, mid, leftBase, next, 0);
            rightDone = leftDone && build(mid, to, rightBase, next, 0);
        }
        if (!leftDone || !rightDone)
            return false;
        const int leftRoot = leftBase + (mid - from) - 2, rightRoot = rightBase + (to - mid) - 2;
        tree.boxes[size_t(node)] = tree.boxes[size_t(leftRoot)].merged(tree.boxes[size_t(rightRoot)]);
        child[0] = leftRoot;
        child[1] = rightRoot;
        return true;
    }
};

void FaceTree::clear()
{
    decltype(children)().swap(children);
    decltype(boxes)().swap(boxes);
    decltype(objects)().swap(objects);
}

bool FaceTree::build(std::vector<FaceIndex> faces, const std::vector<Eigen::Vector3d>& vertices,
                     const std::atomic<bool>* cancelled)
{
    clear();
    if (faces.size() >= size_t(INT_MAX / 2))
        return false; // node and face numbers must fit an int
    const int n = int(faces.size());
    if (n < 2) {
        objects.assign(faces.begin(), faces.end());
        return true;
    }
    std::vector<Centre, BigAllocator<Centre>> centres(static_cast<size_t>(n));
    std::atomic<bool> stop{false};
    parallelRanges(size_t(n), 1 << 15, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i) {
            if ((i & 0xffff) == 0 && cancelled && cancelled->load(std::memory_order_relaxed)) {
                stop = true;
                return;
            }
            const FaceIndex& f = faces[i];
            const Eigen::Vector3d c = (vertices[size_t(f.v[0])] + vertices[size_t(f.v[1])] + vertices[size_t(f.v[2])]) / 3.0;
            Centre& out = centres[i];
            out = Centre{{float(c[0]), float(c[1]), float(c[2])}, int32_t(i)};
            for (float& x : out.c)
                if (x != x)
                    x = 0.f; // a NaN would break the median split's ordering
        }
    });
    if (stop)
        return false;
    children.resize(2 * size_t(n - 1));
    boxes.resize(size_t(n - 1));
    const unsigned threads = workerThreads() - 1;
    Builder builder{*this, faces, vertices, centres, cancelled, n - 1};
    if (!builder.build(0, n, 0, 0, threads)) {
        clear();
        return false;
    }
    objects.resize(size_t(n));
    parallelRanges(size_t(n), 1 << 15, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i)
            objects[i] = faces[size_t(centres[i].face)];
    });
    return true;
}

void FaceTree::getChildren(Index index, VolumeIterator& outVBegin, VolumeIterator& outVEnd,
                           ObjectIterator& outOBegin, ObjectIterator& outOEnd) const
{
    if (index < 0) {
        outVBegin = outVEnd = nullptr;
        outOBegin = objects.empty() ? nullptr : objects.data();
        outOEnd = outOBegin + objects.size();
        return;
    }
    const int numBoxes = int(boxes.size());
    const int* c = &children[size_t(2 * index)];
    if (c[1] < numBoxes) { // two nodes (the second index is always the larger)
        outVBegin = c;
        outVEnd = c + 2;
        outOBegin = outOEnd = nullptr;
    } else if (c[0] >= numBoxes) { // two faces
        outVBegin = outVEnd = nullptr;
        outOBegin = &objects[size_t(c[0] - numBoxes)];
        outOEnd = outOBegin + 2;
    } else { // a node and a face
        outVBegin = c;
        outVEnd = c + 1;
        outOBegin = &objects[size_t(c[1] - numBoxes)];
        outOEnd = outOBegin + 1;
    }
}
