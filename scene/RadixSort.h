#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scene/BigAllocator.h"
#include "scene/Parallel.h"
#include "scene/ParallelSort.h"

namespace radix_sort_detail {
// Digits of up to 11 bits: 2048 counters per range stay in the first-level cache.
constexpr int MaxDigitBits = 11;
// Elements per range of a pass; shorter lists are sorted on the calling thread.
constexpr size_t Grain = size_t(1) << 16;
// Below this a pass's counters cost more than sorting by insertion.
constexpr size_t SmallList = 64;
} // namespace radix_sort_detail

// Sorts [base, base + n) by key(element), an unsigned 64-bit number, keeping equal keys in the
// order they came: digit by digit from the lowest, only over the bits in which keys differ.
// A comparison sort of points or edges spends its time waiting for memory at every step; this
// reads and writes the list a few times in order. T is copied as a whole, so it should be
// small and trivially copyable.
template <typename T, typename KeyOf>
void radixSortRange(T* base, size_t n, KeyOf key)
{
    using namespace radix_sort_detail;
    if (n < SmallList) {
        // In place and in order, without the buffer std::stable_sort would ask for: the cut's
        // fill sorts the corners of thousands of small rings.
        for (size_t i = 1; i < n; ++i) {
            const T v = base[i];
            const uint64_t k = key(v);
            size_t j = i;
            for (; j > 0 && key(base[j - 1]) > k; --j)
                base[j] = base[j - 1];
            base[j] = v;
        }
        return;
    }
    // The bits some key has different from the first.
    const uint64_t k0 = key(base[0]);
    const size_t parts = partCount(n, Grain);
    std::vector<uint64_t> partDiff(parts, 0);
    runParts(parts, [&](size_t part) {
        uint64_t d = 0;
        for (size_t i = n * part / parts, e = n * (part + 1) / parts; i < e; ++i)
            d |= key(base[i]) ^ k0;
        partDiff[part] = d;
    });
    uint64_t diff = 0;
    for (uint64_t d : partDiff)
        diff |= d;
    if (diff == 0)
        return;
    const int lowBit = __builtin_ctzll(diff), highBit = 63 - __builtin_clzll(diff);
    const int span = highBit - lowBit + 1;
    const int passes = (span + MaxDigitBits - 1) / MaxDigitBits;
    const int digitBits = (span + passes - 1) / passes;
    const size_t buckets = size_t(1) << digitBits;
    const uint64_t mask = buckets - 1;
    HugeList<T> scratch(n);
    T* src = base;
    T* dst = scratch.data();
    // counts[part * buckets + digit]: first how many, then where that part's run of the digit starts.
    std::vector<size_t> counts(parts * buckets);
    for (int pass = 0; pass < passes; ++pass) {
        const int shift = lowBit + pass * digitBits;
        std::fill(counts.begin(), counts.end(), 0);
        runParts(parts, [&](size_t part) {
            size_t* c = counts.data() + part * buckets;
            for (size_t i = n * part / parts, e = n * (part + 1) / parts; i < e; ++i)
                ++c[(key(src[i]) >> shift) & mask];
        });
        // Digit by digit, and within a digit part by part, which keeps equal keys in order.
        size_t at = 0;
        for (size_t d = 0; d < buckets; ++d)
            for (size_t part = 0; part < parts; ++part) {
                size_t& c = counts[part * buckets + d];
                const size_t count = c;
                c = at;
                at += count;
            }
        runParts(parts, [&](size_t part) {
            size_t* c = counts.data() + part * buckets;
            for (size_t i = n * part / parts, e = n * (part + 1) / parts; i < e; ++i)
                dst[c[(key(src[i]) >> shift) & mask]++] = src[i];
        });
        std::swap(src, dst);
    }
    if (src != base)
        std::copy(src, src + n, base);
}

// Sorts a list by first(e), then second(e), both ids in [0, ids); entries alike in both end up
// in any order. Counted out by the first id, then each id's entries put in order by the
// second: where the first ids run much as the list does (points numbered as their edges are
// met), this reads and writes the list twice, in order, where radixSortRange passes over it
// once for every digit of both.
template <typename List, typename First, typename Second>
void sortByIdPair(List& list, size_t ids, First first, Second second)
{
    using T = typename List::value_type;
    HugeList<size_t> end(ids + 1, 0);
    for (const T& e : list)
        ++end[size_t(first(e)) + 1];
    for (size_t i = 0; i < ids; ++i)
        end[i + 1] += end[i];
    List out(list.size());
    for (const T& e : list)
        out[end[size_t(first(e))]++] = e;
    // end[i] is now where id i's run ends, and end[i - 1] where it starts.
    for (size_t i = 0, from = 0; i < ids; from = end[i++])
        if (end[i] - from > 1)
            std::sort(out.data() + from, out.data() + end[i], [&](const T& a, const T& b) { return second(a) < second(b); });
    list.swap(out);
}

// For each point at(0) .. at(n - 1), store(i, key) with a number that orders the points by x,
// then y, equal for equal points: each coordinate less the smallest, y in the low bits. False,
// with nothing stored, when both spans do not fit in 64 bits together; any section or face on
// a micrometre grid of this size fits.
template <typename PointAt, typename Store>
bool placeKeysFit(size_t n, PointAt at, Store store)
{
    if (n == 0)
        return true;
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (size_t i = 0; i < n; ++i) {
        const auto& p = at(i);
        x0 = std::min<int64_t>(x0, p[0]);
        y0 = std::min<int64_t>(y0, p[1]);
        x1 = std::max<int64_t>(x1, p[0]);
        y1 = std::max<int64_t>(y1, p[1]);
    }
    auto bitsOf = [](uint64_t v) { return v == 0 ? 0 : 64 - __builtin_clzll(v); };
    const int xBits = bitsOf(uint64_t(x1) - uint64_t(x0)), yBits = bitsOf(uint64_t(y1) - uint64_t(y0));
    if (xBits + yBits > 64)
        return false;
    auto keys = [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i) {
            const auto& p = at(i);
            const uint64_t xs = uint64_t(p[0]) - uint64_t(x0), ys = uint64_t(p[1]) - uint64_t(y0);
            store(i, yBits == 64 ? ys : (xs << yBits) | ys);
        }
    };
    if (n < radix_sort_detail::Grain)
        keys(0, n);
    else
        parallelRanges(n, radix_sort_detail::Grain, keys);
    return true;
}

// placeKeysFit, and where the spans do not fit, each point's rank among the places instead,
// found by a comparison sort.
template <typename PointAt, typename Store>
void placeKeys(size_t n, PointAt at, Store store)
{
    if (placeKeysFit(n, at, store))
        return;
    HugeList<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = uint32_t(i);
    const auto less = [&](uint32_t a, uint32_t b) {
        const auto &p = at(a), &q = at(b);
        return p[0] != q[0] ? p[0] < q[0] : p[1] < q[1];
    };
    parallelSortRange(order.data(), std::ptrdiff_t(n), less);
    uint64_t rank = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && less(order[i - 1], order[i]))
            ++rank;
        store(order[i], rank);
    }
}
