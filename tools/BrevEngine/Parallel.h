#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace brev {

// Runs fn(i) for i in [0, n) on all cores; the first exception thrown is rethrown here.
template <class Fn>
void parallelFor(size_t n, Fn&& fn)
{
    if (n == 0)
        return;
    size_t threads = std::max(1u, std::thread::hardware_concurrency());
    threads = std::min(threads, n);
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto work = [&] {
        for (;;) {
            size_t i = next.fetch_add(1);
            if (i >= n)
                return;
            try {
                fn(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(failureMutex);
                if (!failure)
                    failure = std::current_exception();
                next.store(n);
                return;
            }
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace brev
