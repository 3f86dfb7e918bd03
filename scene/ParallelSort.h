#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <iterator>
#include <vector>

#include "scene/BigAllocator.h"
#include "scene/Parallel.h"

namespace parallel_sort_detail {
// Work is cut into pieces of a few milliseconds each, so that a cancelled sort stops soon:
// chunks sorted on their own, and pieces of the merged output.
constexpr std::ptrdiff_t ChunkSize = 1 << 17;
constexpr std::ptrdiff_t PieceSize = 1 << 17;

// Runs task(0..count-1) on up to `threads` threads; stops handing out tasks once cancelled.
template <typename Task>
void runPieces(std::ptrdiff_t count, unsigned threads, const std::atomic<bool>* cancelled, Task task)
{
    std::atomic<std::ptrdiff_t> next{0};
    auto worker = [&] {
        for (;;) {
            if (cancelled && cancelled->load(std::memory_order_relaxed))
                return;
            const std::ptrdiff_t i = next.fetch_add(1);
            if (i >= count)
                return;
            task(i);
        }
    };
    runParts(size_t(std::min<std::ptrdiff_t>(threads, count)), [&](size_t) { worker(); });
}

// How many of the first k merged elements of [a, a + na) and [b, b + nb) come from a
// (the merge path; ties go to a, as std::merge does).
template <typename T, typename Less>
std::ptrdiff_t mergeSplit(const T* a, std::ptrdiff_t na, const T* b, std::ptrdiff_t nb, std::ptrdiff_t k, Less less)
{
    std::ptrdiff_t lo = std::max<std::ptrdiff_t>(0, k - nb), hi = std::min(k, na);
    while (lo < hi) {
        const std::ptrdiff_t i = (lo + hi) / 2;
        // Taking i + 1 from a is right when a[i] does not come after b[k - i - 1].
        if (!less(b[k - i - 1], a[i]))
            lo = i + 1;
        else
            hi = i;
    }
    return lo;
}
} // namespace parallel_sort_detail

// Sorts [base, base + n) on several threads: sorted chunks, then rounds of pairwise merges cut
// into pieces. Small ranges are sorted on the calling thread. When `cancelled` becomes true the
// sort stops early and leaves the range in no particular order (and possibly with repeated
// elements).
template <typename T, typename Less>
void parallelSortRange(T* base, std::ptrdiff_t n, Less less, const std::atomic<bool>* cancelled = nullptr)
{
    using namespace parallel_sort_detail;
    if (n < ChunkSize) {
        std::sort(base, base + n, less);
        return;
    }
    const unsigned threads = workerThreads();
    std::vector<std::ptrdiff_t> bounds;
    const std::ptrdiff_t chunks = (n + ChunkSize - 1) / ChunkSize;
    for (std::ptrdiff_t i = 0; i <= chunks; ++i)
        bounds.push_back(n * i / chunks);
    runPieces(chunks, threads, cancelled, [&](std::ptrdiff_t i) { std::sort(base + bounds[size_t(i)], base + bounds[size_t(i) + 1], less); });
    if (cancelled && cancelled->load())
        return;
    std::vector<T, BigAllocator<T>> scratch(static_cast<size_t>(n));
    T* src = base;
    T* dst = scratch.data();
    while (bounds.size() > 2) {
        // One round: runs 2k and 2k+1 merge into one; an odd last run is copied across.
        struct Piece
        {
            std::ptrdiff_t a, b, c, from, to; // runs [a, b) and [b, c); output [from, to) of their merge
        };
        std::vector<Piece> pieces;
        std::vector<std::ptrdiff_t> next;
        for (size_t i = 0; i + 1 < bounds.size(); i += 2) {
            const std::ptrdiff_t a = bounds[i], b = bounds[i + 1], c = i + 2 < bounds.size() ? bounds[i + 2] : b;
            for (std::ptrdiff_t from = 0; from < c - a; from += PieceSize)
                pieces.push_back({a, b, c, from, std::min(c - a, from + PieceSize)});
            next.push_back(a);
        }
        next.push_back(n);
        runPieces(std::ptrdiff_t(pieces.size()), threads, cancelled, [&](std::ptrdiff_t k) {
            const Piece& p = pieces[size_t(k)];
            const T* a = src + p.a;
            const T* b = src + p.b;
            const std::ptrdiff_t na = p.b - p.a, nb = p.c - p.b;
            const std::ptrdiff_t i0 = mergeSplit(a, na, b, nb, p.from, less);
            const std::ptrdiff_t i1 = mergeSplit(a, na, b, nb, p.to, less);
            std::merge(a + i0, a + i1, b + (p.from - i0), b + (p.to - i1), dst + p.a + p.from, less);
        });
        if (cancelled && cancelled->load())
            return;
        bounds.swap(next);
        std::swap(src, dst);
    }
    if (src != base)
        std::copy(src, src + n, base);
}

template <typename Vec, typename Less>
void parallelSort(Vec& data, Less less, const std::atomic<bool>* cancelled = nullptr)
{
    parallelSortRange(data.data(), std::ptrdiff_t(data.size()), less, cancelled);
}
