#include "Progress.h"

#include <algorithm>
#include <cstdio>

namespace brev {

Progress::Progress(bool enabled, int total) : enabled_(enabled), total_(std::max(1, total)) {}

void Progress::beginStage(const char* name)
{
    stage_ = name;
    done_.store(0);
    lastPrinted_ = -1;
    print(0);
}

void Progress::step()
{
    int v = done_.fetch_add(1) + 1;
    if (v > total_)
        return;
    if (v == total_ || v * 100 / total_ != (v - 1) * 100 / total_)
        print(v);
}

void Progress::endStage()
{
    print(total_);
}

void Progress::print(int value)
{
    if (!enabled_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (value <= lastPrinted_)
        return;
    lastPrinted_ = value;
    char line[128];
    int n = std::snprintf(line, sizeof line, "P:%s:%d:%d\n", stage_, value, total_);
    std::fwrite(line, 1, static_cast<size_t>(n), stdout);
    std::fflush(stdout);
}

} // namespace brev
