#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

// Blocks from this size start on a 2 MB boundary and are marked for huge pages, here and in
// operator new (scene/HugeNew.cpp): such a block may take up to twice its size in whole huge
// pages, but a cut or a load of a million faces makes dozens of lists of 1 to 4 MB (one entry
// per point, per face or per section edge), and touching them page by page cost a third of a
// closed sphere's cut.
constexpr std::size_t HugeBlockFrom = std::size_t(1) << 20;
constexpr std::size_t HugePageBytes = std::size_t(2) << 20;

// A block of bytes for releaseBlock(): from HugeBlockFrom on a 2 MB boundary, marked for huge
// pages, which saves most of the page faults of touching it; below, from malloc, without the
// rounding up. Null when there is no such block.
void* allocateBlock(std::size_t bytes) noexcept;
// Gives back a block of allocateBlock or malloc. One of HugeBlockFrom or more is kept for a
// later block of about its size, up to a bound on all kept: on this kind of machine a page
// given back to the system costs as much to get again as to fill, and every cut, load and weld
// of a model makes and drops lists of megabytes.
void releaseBlock(void* p) noexcept;
// Bytes kept for later blocks, and the bound on them; tests set the bound (0 keeps none).
std::size_t keptBlockBytes() noexcept;
std::size_t keptBlockLimit() noexcept;
void setKeptBlockLimit(std::size_t bytes) noexcept;

// Writes a zero to each page of the fresh room [p, p + bytes), on every core when it is
// large: a page touched for the first time costs far more than filling it, and a list filled
// on one thread would take each of its page faults in turn.
void touchPages(void* p, std::size_t bytes) noexcept;

// Allocator for large scratch arrays, its blocks from allocateBlock, touched by touchPages.
template <typename T>
struct BigAllocator
{
    using value_type = T;
    BigAllocator() = default;
    template <typename U>
    BigAllocator(const BigAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        void* p = allocateBlock(n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        touchPages(p, n * sizeof(T));
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { releaseBlock(p); }

    // resize() leaves plain records uninitialised: the readers write every one of them.
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const BigAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const BigAllocator<U>&) const noexcept
    {
        return false;
    }
};

// Marks the whole 2 MB pages inside [p, p + bytes) for huge pages, before they are first touched.
inline void adviseHugePages(void* p, std::size_t bytes)
{
#ifdef __linux__
    constexpr std::size_t Huge = HugePageBytes;
    const std::size_t begin = (reinterpret_cast<std::size_t>(p) + Huge - 1) / Huge * Huge;
    const std::size_t end = (reinterpret_cast<std::size_t>(p) + bytes) / Huge * Huge;
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// Room for n items, its pages marked for huge pages before they are first touched: lists
// made afresh for every model cost as much to touch page by page as to fill.
template <typename V>
void reserveHuge(V& list, std::size_t n)
{
    if (n <= list.capacity())
        return;
    list.reserve(n);
    using T = typename V::value_type;
    adviseHugePages(list.data(), list.capacity() * sizeof(T));
    touchPages(list.data() + list.size(), (list.capacity() - list.size()) * sizeof(T));
}

// A list of n copies of value, made as reserveHuge makes its room, with room for `room` more
// (touched too), so that it can grow that far without being copied.
template <typename V>
void assignHuge(V& list, std::size_t n, const typename V::value_type& value, std::size_t room = 0)
{
    list.clear();
    reserveHuge(list, n + room);
    list.assign(n, value);
}

// A list whose room of 1 MB and more is all on huge pages, from its first byte, as operator
// new gives it (scene/HugeNew.cpp), and whose resize leaves plain records unset.
template <typename T>
using HugeList = std::vector<T, BigAllocator<T>>;
