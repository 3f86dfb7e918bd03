#include "Thread/EngineProgress.h"

#include <QList>

#include <algorithm>
#include <climits>

#include "app/QsLog.h"

namespace {

// Engine chatter without line ends is dropped beyond this, so it cannot grow without bound.
constexpr int kMaxPending = 64 * 1024;

int stageIndex(const QByteArray& name)
{
    static const char* const stages[] = {"DiameterCompensation", "inset", "skin", "overhang",
                                         "deleteSmallAreas", "unionSupportAreas", "export"};
    for (int i = 0; i < 7; ++i)
        if (name == stages[i])
            return i;
    if (name == "tree")
        return 5;
    return -1;
}

} // namespace

void EngineProgress::reset()
{
    pending.clear();
    total = 0;
    progress = 0;
}

bool EngineProgress::feed(const QByteArray& output)
{
    pending += output;
    const int end = pending.lastIndexOf('\n');
    if (end < 0) {
        if (pending.size() > kMaxPending)
            pending.clear();
        return false;
    }
    const QByteArray complete = pending.left(end);
    pending.remove(0, end + 1);
    // Only the newest complete line counts.
    const QList<QByteArray> lines = complete.split('\n');
    for (int i = lines.size() - 1; i >= 0; --i) {
        const QByteArray line = lines[i].trimmed();
        if (!line.isEmpty())
            return applyLine(line);
    }
    return false;
}

bool EngineProgress::applyLine(const QByteArray& line)
{
    QList<QByteArray> fields = line.split(':');
    fields.removeAll(QByteArray());
    if (fields.size() != 4)
        return false;
    if (total == 0) {
        bool ok = false;
        const qint64 count = fields[3].toLongLong(&ok);
        if (ok && count > 0 && count <= INT_MAX / 7)
            total = int(count * 7);
        return false;
    }
    const int stage = stageIndex(fields[1]);
    if (stage < 0)
        return false;
    bool ok = false;
    const qint64 v = fields[2].toLongLong(&ok);
    if (!ok)
        return false;
    QLOG_INFO() << "Thread\\FDMSliceProcess@" << __LINE__ << "progress = " << v;
    const qint64 n = v + qint64(stage) * (total / 7);
    if (n == 0)
        return false;
    // 10000 belongs to the finished print-task file alone.
    const int next = int(std::clamp<qint64>(qint64(double(n) * 9400.0 / total + 500.0), 500, 9900));
    const bool changed = next != progress;
    progress = next;
    return changed;
}
