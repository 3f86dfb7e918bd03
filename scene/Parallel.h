#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
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

namespace parallel_detail {

// Threads started once and kept: a thread started for each step costs its start and a fresh
// malloc arena, whose every page faults on first touch, and the cut alone has dozens of steps.
// A caller takes part in its own job, so a part that runs parts of its own never waits on
// threads that are all busy waiting.
class Pool
{
public:
    static Pool& instance()
    {
        // Never destroyed: a worker may still be waiting when static objects go.
        static Pool* pool = new Pool(workerThreads() > 1 ? workerThreads() - 1 : 0);
        return *pool;
    }

    // part(k) for every k in [0, parts), part 0 first on the calling thread; part must not throw.
    void run(size_t parts, const std::function<void(size_t)>& part)
    {
        Job job(&part, parts);
        if (workers > 0) {
            std::lock_guard<std::mutex> lk(lock);
            queue.push_back(&job);
        }
        wake.notify_all();
        part(0);
        finish(job);
        for (size_t k; (k = job.next.fetch_add(1)) < parts;) {
            part(k);
            finish(job);
        }
        std::unique_lock<std::mutex> lk(lock);
        queue.erase(std::remove(queue.begin(), queue.end(), &job), queue.end());
        job.finished.wait(lk, [&] { return job.done == job.parts; });
    }

private:
    struct Job
    {
        Job(const std::function<void(size_t)>* part, size_t parts) : part(part), parts(parts) {}
        const std::function<void(size_t)>* part;
        size_t parts;
        std::atomic<size_t> next{1}; // part 0 is the caller's
        size_t done = 0; // under lock
        std::condition_variable finished;
    };

    explicit Pool(unsigned count)
    {
        for (unsigned i = 0; i < count; ++i) {
            try {
                std::thread([this] { work(); }).detach();
                ++workers;
            } catch (const std::system_error&) {
                break; // no more threads to be had: callers do the rest
            }
        }
    }

    void finish(Job& job)
    {
        std::lock_guard<std::mutex> lk(lock);
        if (++job.done == job.parts)
            job.finished.notify_all();
    }

    void work()
    {
        std::unique_lock<std::mutex> lk(lock);
        for (;;) {
            wake.wait(lk, [&] { return !queue.empty(); });
            Job* job = queue.front();
            const size_t k = job->next.fetch_add(1);
            if (k + 1 >= job->parts)
                queue.pop_front();
            if (k >= job->parts)
                continue;
            lk.unlock();
            (*job->part)(k);
            lk.lock();
            if (++job->done == job->parts)
                job->finished.notify_all();
        }
    }

    std::mutex lock;
    std::condition_variable wake;
    std::deque<Job*> queue;
    unsigned workers = 0;
};

} // namespace parallel_detail

// Runs fn(part) for each part in [0, parts), the first on the calling thread, the rest on the
// kept threads and this one. An exception thrown by any part comes back here once all of them
// have ended.
template <typename Fn>
void runParts(size_t parts, Fn fn)
{
    if (parts <= 1) {
        fn(size_t(0));
        return;
    }
    std::exception_ptr failure;
    std::mutex failureLock;
    const std::function<void(size_t)> run = [&](size_t part) {
        try {
            fn(part);
        } catch (...) {
            std::lock_guard<std::mutex> lk(failureLock);
            if (!failure)
                failure = std::current_exception();
        }
    };
    parallel_detail::Pool::instance().run(parts, run);
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
