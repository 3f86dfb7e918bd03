#pragma once

#include <atomic>
#include <mutex>

namespace brev {

// Progress lines "P:<stage>:<value>:<total>" on stdout, one per write, flushed. Workers call
// step() once per layer; a line goes out only when the value passes another percent.
class Progress {
public:
    Progress(bool enabled, int total);
    void beginStage(const char* name);
    void step();
    void endStage();

private:
    void print(int value);

    bool enabled_;
    int total_;
    const char* stage_ = "";
    std::atomic<int> done_{0};
    std::mutex mutex_;
    int lastPrinted_ = -1;
};

} // namespace brev
