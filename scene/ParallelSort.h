#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <thread>
#include <vector>

// Sorts [first, last) on several threads: sorted chunks, then pairwise merges.
// Small ranges are sorted in place on the calling thread.
template <typename It, typename Less>
void parallelSort(It first, It last, Less less)
{
    const std::ptrdiff_t n = last - first;
    unsigned threads = std::thread::hardware_concurrency();
    if (threads < 2 || n < 200000) {
        std::sort(first, last, less);
        return;
    }
    threads = std::min(threads, 8u);
    std::vector<std::ptrdiff_t> bounds;
    for (unsigned i = 0; i <= threads; ++i)
        bounds.push_back(n * std::ptrdiff_t(i) / std::ptrdiff_t(threads));
    {
        std::vector<std::thread> pool;
        for (unsigned i = 0; i < threads; ++i)
            pool.emplace_back([=] { std::sort(first + bounds[i], first + bounds[i + 1], less); });
        for (auto& t : pool)
            t.join();
    }
    while (bounds.size() > 2) {
        std::vector<std::ptrdiff_t> next;
        std::vector<std::thread> pool;
        size_t i = 0;
        for (; i + 2 < bounds.size(); i += 2) {
            const std::ptrdiff_t a = bounds[i], b = bounds[i + 1], c = bounds[i + 2];
            pool.emplace_back([=] { std::inplace_merge(first + a, first + b, first + c, less); });
            next.push_back(a);
        }
        for (; i < bounds.size(); ++i)
            next.push_back(bounds[i]);
        for (auto& t : pool)
            t.join();
        bounds.swap(next);
    }
}
