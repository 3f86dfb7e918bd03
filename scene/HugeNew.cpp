// Blocks of operator new from 1 MB, which every std::vector and Qt container takes its room
// from, start on a 2 MB boundary and are marked for huge pages. A block from malloc starts on a
// 4 KB boundary, and a page of 4 KB touched for the first time costs about as much as filling
// it: a cut, a load or a weld of a million faces makes lists of tens of megabytes afresh each
// time, which then cost more to touch than to fill. Blocks of aligned_alloc go back with free,
// as the library's operator delete does.
//
// Not under AddressSanitizer, whose own operator new checks what each block is freed with.

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNI_PLAIN_NEW 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TARNI_PLAIN_NEW 1
#endif

#if defined(__linux__) && !defined(TARNI_PLAIN_NEW)
#include "scene/BigAllocator.h"

namespace {

void* allocate(std::size_t n)
{
    for (;;) {
        if (void* p = allocateBlock(n))
            return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void* allocateNoThrow(std::size_t n) noexcept
{
    try {
        return allocate(n);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocateNoThrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocateNoThrow(n); }
// Large blocks go back through releaseBlock, which keeps some for later blocks.
void operator delete(void* p) noexcept { releaseBlock(p); }
void operator delete[](void* p) noexcept { releaseBlock(p); }
void operator delete(void* p, std::size_t n) noexcept { n < HugeBlockFrom ? std::free(p) : releaseBlock(p); }
void operator delete[](void* p, std::size_t n) noexcept { n < HugeBlockFrom ? std::free(p) : releaseBlock(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { releaseBlock(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { releaseBlock(p); }
#endif
