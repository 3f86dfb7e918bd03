#include "scene/BigAllocator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>

#include "scene/Parallel.h"

#ifdef __linux__
#include <malloc.h>
#include <unistd.h>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNI_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TARNI_ASAN 1
#endif

namespace {

// Blocks given back and kept, each at the size malloc says it has.
struct Kept
{
    void* p = nullptr;
    std::size_t bytes = 0;
};

struct KeptBlocks
{
    std::mutex lock;
    std::array<Kept, 64> blocks;
    std::size_t count = 0;
    std::size_t total = 0;
    std::size_t limit = defaultLimit();

    // A gigabyte, or a sixteenth of the memory on a smaller machine. None under AddressSanitizer,
    // which would no longer see a kept block used after it was given back.
    static std::size_t defaultLimit()
    {
#ifdef TARNI_ASAN
        return 0;
#endif
        std::size_t bytes = std::size_t(1) << 30;
#ifdef __linux__
        const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
        if (pages > 0 && page > 0)
            bytes = std::min(bytes, std::size_t(pages) / 16 * std::size_t(page));
#endif
        return bytes;
    }
};

// Never destroyed: blocks are given back until the last static object is gone.
KeptBlocks& kept()
{
    static KeptBlocks* k = new (std::malloc(sizeof(KeptBlocks))) KeptBlocks;
    return *k;
}

std::size_t usableBytes(void* p)
{
#ifdef __linux__
    return malloc_usable_size(p);
#else
    (void)p;
    return 0;
#endif
}

} // namespace

void* allocateBlock(std::size_t bytes) noexcept
{
    if (bytes < HugeBlockFrom)
        return std::malloc(bytes ? bytes : 1);
    if (bytes > SIZE_MAX - HugePageBytes)
        return nullptr;
    const std::size_t rounded = (bytes + HugePageBytes - 1) / HugePageBytes * HugePageBytes;
    {
        // The smallest kept block that fits and wastes no more than a quarter of itself.
        KeptBlocks& k = kept();
        std::lock_guard<std::mutex> hold(k.lock);
        std::size_t best = k.count;
        for (std::size_t i = 0; i < k.count; ++i) {
            const std::size_t have = k.blocks[i].bytes, waste = have > rounded ? have - rounded : 0;
            if (have >= bytes && waste <= have / 4 && (best == k.count || have < k.blocks[best].bytes))
                best = i;
        }
        if (best < k.count) {
            void* p = k.blocks[best].p;
            k.total -= k.blocks[best].bytes;
            k.blocks[best] = k.blocks[--k.count];
            return p;
        }
    }
    void* p = std::aligned_alloc(HugePageBytes, rounded);
#ifdef __linux__
    if (p)
        madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return p;
}

void releaseBlock(void* p) noexcept
{
    if (!p)
        return;
    // Only blocks on a huge page's boundary are kept: what a later block of that size expects.
    const std::size_t bytes = reinterpret_cast<std::uintptr_t>(p) % HugePageBytes == 0 ? usableBytes(p) : 0;
    if (bytes < HugeBlockFrom) {
        std::free(p);
        return;
    }
    void* drop = p;
    {
        KeptBlocks& k = kept();
        std::lock_guard<std::mutex> hold(k.lock);
        if (bytes <= k.limit) {
            // Room is made by dropping the largest kept blocks, while they are larger than it.
            while (k.count > 0 && (k.total + bytes > k.limit || k.count == k.blocks.size())) {
                std::size_t largest = 0;
                for (std::size_t i = 1; i < k.count; ++i)
                    if (k.blocks[i].bytes > k.blocks[largest].bytes)
                        largest = i;
                if (k.blocks[largest].bytes < bytes)
                    break;
                std::free(k.blocks[largest].p);
                k.total -= k.blocks[largest].bytes;
                k.blocks[largest] = k.blocks[--k.count];
            }
            if (k.total + bytes <= k.limit && k.count < k.blocks.size()) {
                k.blocks[k.count++] = {p, bytes};
                k.total += bytes;
                drop = nullptr;
            }
        }
    }
    if (drop)
        std::free(drop);
}

std::size_t keptBlockBytes() noexcept
{
    KeptBlocks& k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    return k.total;
}

std::size_t keptBlockLimit() noexcept
{
    KeptBlocks& k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    return k.limit;
}

void setKeptBlockLimit(std::size_t bytes) noexcept
{
    KeptBlocks& k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    k.limit = bytes;
    while (k.count > 0 && k.total > k.limit) {
        --k.count;
        std::free(k.blocks[k.count].p);
        k.total -= k.blocks[k.count].bytes;
    }
}

void touchPages(void* p, std::size_t bytes) noexcept
{
    constexpr std::size_t Page = 4096, From = std::size_t(4) << 20;
    if (!p || bytes < From)
        return;
    char* const begin = static_cast<char*>(p);
    // The first whole page on, and a byte of each page after it.
    const std::size_t first = (Page - reinterpret_cast<std::uintptr_t>(begin) % Page) % Page;
    const std::size_t pages = (bytes - first + Page - 1) / Page;
    try {
        parallelRanges(pages, 256, [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                *static_cast<volatile char*>(begin + first + i * Page) = 0;
        });
    } catch (...) {
        // Touching is only to save time: whatever is not touched here is touched when used.
    }
}
