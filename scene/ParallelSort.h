#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <thread>
#include <vector>

#include "scene/BigAllocator.h"

namespace parallel_sort_detail {
// Merges sorted [a0, a1) and [b0, b1) into out on up to `parts` threads, each taking a slice of
// the first range and the matching slice of the second.
template <typename It, typename Out, typename Less>
void parallelMerge(It a0, It a1, It b0, It b1, Out out, Less less, unsigned parts)
{
    const std::ptrdiff_t na = a1 - a0;
    if (parts < 2 || na < 4096) {
        std::merge(a0, a1, b0, b1, out, less);
        return;
    }
    std::vector<std::thread> pool;
    It prevA = a0, prevB = b0;
    for (unsigned p = 1; p <= parts; ++p) {
        It cutA = p == parts ? a1 : a0 + na * std::ptrdiff_t(p) / std::ptrdiff_t(parts);
        It cutB = p == parts ? b1 : std::lower_bound(b0, b1, *cutA, less);
        Out dst = out + ((prevA - a0) + (prevB - b0));
        pool.emplace_back([=] { std::merge(prevA, cutA, prevB, cutB, dst, less); });
        prevA = cutA;
        prevB = cutB;
    }
    for (auto& t : pool)
        t.join();
}
} // namespace parallel_sort_detail

// Sorts a vector on several threads: sorted chunks, then rounds of parallel pairwise merges
// through one scratch buffer. Small ranges are sorted on the calling thread.
template <typename Vec, typename Less>
void parallelSort(Vec& data, Less less)
{
    using T = typename Vec::value_type;
    const std::ptrdiff_t n = std::ptrdiff_t(data.size());
    unsigned threads = std::min(8u, std::thread::hardware_concurrency());
    if (threads < 2 || n < 200000) {
        std::sort(data.begin(), data.end(), less);
        return;
    }
    std::vector<std::ptrdiff_t> bounds;
    for (unsigned i = 0; i <= threads; ++i)
        bounds.push_back(n * std::ptrdiff_t(i) / std::ptrdiff_t(threads));
    {
        std::vector<std::thread> pool;
        for (unsigned i = 0; i < threads; ++i)
            pool.emplace_back([&, i] { std::sort(data.begin() + bounds[i], data.begin() + bounds[i + 1], less); });
        for (auto& t : pool)
            t.join();
    }
    std::vector<T, BigAllocator<T>> scratch(data.size());
    T* src = data.data();
    T* dst = scratch.data();
    while (bounds.size() > 2) {
        std::vector<std::ptrdiff_t> next;
        const unsigned pairs = unsigned((bounds.size() - 1) / 2);
        const unsigned each = std::max(1u, threads / std::max(1u, pairs));
        std::vector<std::thread> pool;
        size_t i = 0;
        for (; i + 2 < bounds.size(); i += 2) {
            const std::ptrdiff_t a = bounds[i], b = bounds[i + 1], c = bounds[i + 2];
            pool.emplace_back([=] {
                parallel_sort_detail::parallelMerge(src + a, src + b, src + b, src + c, dst + a, less, each);
            });
            next.push_back(a);
        }
        if (i + 1 < bounds.size()) {
            // An odd chunk left over is carried across unchanged.
            const std::ptrdiff_t a = bounds[i], c = bounds[i + 1];
            std::copy(src + a, src + c, dst + a);
            next.push_back(a);
        }
        next.push_back(n);
        for (auto& t : pool)
            t.join();
        bounds.swap(next);
        std::swap(src, dst);
    }
    if (src != data.data())
        std::copy(src, src + n, data.data());
}
