#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// The machine's hardware threads, asked once: glibc answers std::thread::hardware_concurrency()
// by opening and reading /sys/devices/system/cpu/online on every call.
inline unsigned hardwareThreads()
{
    static const unsigned count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

// Threads a parallel step of one load uses: all cores, up to eight.
inline unsigned workerThreads()
{
    return std::min(8u, hardwareThreads());
}

// How many ranges parallelParts cuts [0, n) into: up to workerThreads(), each of at least
// `grain` items.
inline size_t partCount(size_t n, size_t grain)
{
    return std::max<size_t>(1, std::min<size_t>(workerThreads(), n / std::max<size_t>(1, grain)));
}

// Runs fn(part) for each part in [0, parts), the first on the calling thread. An exception
// thrown by any part comes back here once all of them have ended.
template <typename Fn>
void runParts(size_t parts, Fn fn)
{
    if (parts <= 1) {
        fn(size_t(0));
        return;
    }
    std::exception_ptr failure;
    std::mutex failureLock;
    auto run = [&](size_t part) {
        try {
            fn(part);
        } catch (...) {
            std::lock_guard<std::mutex> lk(failureLock);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    size_t part = 1;
    try {
        for (; part < parts; ++part)
            threads.emplace_back(run, part);
    } catch (const std::system_error&) {
        // no more threads to be had: the rest run here
    }
    for (size_t rest = part; rest < parts; ++rest)
        run(rest);
    run(0);
    for (std::thread& t : threads)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

// Runs fn(part, begin, end) for each of the partCount(n, grain) ranges of [0, n), in order of
// part, the first on the calling thread, as runParts does.
template <typename Fn>
void parallelParts(size_t n, size_t grain, Fn fn)
{
    const size_t parts = partCount(n, grain);
    runParts(parts, [&](size_t part) { fn(part, n * part / parts, n * (part + 1) / parts); });
}

// parallelParts without the part number.
template <typename Fn>
void parallelRanges(size_t n, size_t grain, Fn fn)
{
    parallelParts(n, grain, [&fn](size_t, size_t b, size_t e) { fn(b, e); });
}
