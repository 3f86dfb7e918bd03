#pragma once

#include <atomic>
#include <cstdint>

// A number no other mesh of this run carries, renewed on copy. The renderer keys its GPU
// buffers by it: a MeshList slot reused by another mesh (even at a reused address) is
// uploaded again.
struct MeshStamp
{
    MeshStamp() : value(next()) {}
    MeshStamp(const MeshStamp&) : value(next()) {}
    MeshStamp& operator=(const MeshStamp&)
    {
        value = next();
        return *this;
    }
    uint64_t value;

    static uint64_t next()
    {
        static std::atomic<uint64_t> counter{0};
        return ++counter;
    }
};
