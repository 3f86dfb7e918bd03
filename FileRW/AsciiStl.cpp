#include "FileRW/AsciiStl.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "app/QsLog.h"
#include "scene/BigAllocator.h"
#include "scene/Parallel.h"

namespace {
constexpr size_t kDefaultBlock = size_t(8) << 20;
// A thread's share of a block is at least this much text.
constexpr size_t kDefaultPiece = size_t(1) << 20;
// Malformed lines logged one by one; the rest are counted.
constexpr qint64 kLoggedLines = 100;
std::atomic<size_t> g_blockForTests{0};

// The C locale's white space, tested as bytes.
inline bool isSpace(unsigned char c)
{
    return c == ' ' || unsigned(c - '\t') < 5u;
}

// Locale-independent parse of one whole token.
bool parseNumber(const char* b, const char* e, double& out)
{
    if (b < e && *b == '+')
        ++b;
    const auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e && std::isfinite(out);
}

struct Vertex
{
    double x, y, z;
};

// The facet being read: it counts only when it ends with exactly three good corners.
struct Facet
{
    Vertex corner[3];
    int count = 0;
    bool bad = false;

    void add(const Vertex& v)
    {
        if (count == 3)
            bad = true;
        else
            corner[count++] = v;
    }
    bool whole() const { return !bad && count == 3; }
};

// What a run of whole lines holds. Up to its first keyword line it goes on with the facet the
// lines before it left open (its lead); from there on its facets are its own.
struct Run
{
    Vertex lead[3];
    int leadCount = 0; // may pass 3: the facet it goes on with is then bad
    bool leadBad = false;
    bool closes = false; // holds a keyword line
    Facet open;          // left open at its end, after its first keyword
    CornerList corners;  // facets ended inside it, after its first keyword
    CornerRecord head[3]; // the facet its first keyword ended, when whole (filled when joined)
    int headCount = 0;
    qint64 lines = 0;     // line feeds in it
    qint64 malformed = 0; // vertex lines without four parts
    std::vector<qint64> malformedAt; // the first few of them, counted from its first line

    void vertex(const Vertex& v)
    {
        if (closes) {
            open.add(v);
        } else {
            if (leadCount < 3)
                lead[leadCount] = v;
            ++leadCount;
        }
    }
    void badVertex()
    {
        if (closes)
            open.bad = true;
        else
            leadBad = true;
    }
    void keyword()
    {
        if (closes)
            finish(open);
        open = Facet();
        closes = true;
    }
    void finish(const Facet& f)
    {
        if (f.whole())
            for (const Vertex& v : f.corner)
                corners.emplace_back(v.x, v.y, v.z, 0);
    }

    // One line, its line feed excluded.
    void line(const char* b, const char* e)
    {
        if (size_t(e - b) > AsciiStl::kMaxLine) {
            dropLine(b);
            return;
        }
        while (b < e && isSpace(uchar(*b)))
            ++b;
        while (e > b && isSpace(uchar(e[-1])))
            --e;
        if (b == e)
            return;
        if (*b != 'v') {
            keyword();
            return;
        }
        const char* parts[4][2];
        int n = 0;
        for (const char* p = b; p < e;) {
            while (p < e && isSpace(uchar(*p)))
                ++p;
            if (p == e)
                break;
            const char* s = p;
            while (p < e && !isSpace(uchar(*p)))
                ++p;
            if (n == 4) {
                ++n;
                break;
            }
            parts[n][0] = s;
            parts[n][1] = p;
            ++n;
        }
        if (n != 4) {
            if (malformedAt.size() < size_t(kLoggedLines))
                malformedAt.push_back(lines);
            ++malformed;
            badVertex();
            return;
        }
        Vertex v;
        if (!parseNumber(parts[1][0], parts[1][1], v.x) || !parseNumber(parts[2][0], parts[2][1], v.y)
            || !parseNumber(parts[3][0], parts[3][1], v.z)) {
            badVertex();
            return;
        }
        vertex(v);
    }
    // A line too long to read: only its start tells whether it was meant as a vertex; one
    // that is all blanks there still ends the facet, as any keyword.
    void dropLine(const char* b)
    {
        QLOG_INFO() << "FileRW\\AsciiStl @" << __LINE__ << "line longer than" << AsciiStl::kMaxLine << "bytes dropped";
        const char* e = b + AsciiStl::kMaxLine + 1;
        while (b < e && isSpace(uchar(*b)))
            ++b;
        if (b < e && *b == 'v')
            badVertex();
        else
            keyword();
    }
    // Stops early when the load is stopped: what it holds then is thrown away.
    void parse(const char* p, const char* end, const std::atomic<bool>& cancelled)
    {
        // A facet takes a few hundred bytes as exporters write it; room that stays unused
        // costs no memory.
        corners.reserve(size_t(end - p) / 64 + 3);
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            line(p, nl ? nl : end);
            if (!nl)
                return;
            // A block takes a thread some tens of milliseconds on a busy machine.
            if ((++lines & 0xfff) == 0 && cancelled.load(std::memory_order_relaxed))
                return;
            p = nl + 1;
        }
    }
};

// Parses runs on threads of their own; a failure to allocate comes back to the caller.
class Parsers
{
public:
    explicit Parsers(const std::atomic<bool>& cancelled) : cancelled(cancelled) {}
    void start(Run& run, const char* b, const char* e)
    {
        auto work = [this, &run, b, e] {
            try {
                run.parse(b, e, cancelled);
            } catch (...) {
                failed.store(true);
            }
        };
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            work(); // no thread to be had: parsed here
        }
    }
    void join()
    {
        for (std::thread& t : threads)
            t.join();
        threads.clear();
        if (failed.load())
            throw std::bad_alloc();
    }
    ~Parsers()
    {
        for (std::thread& t : threads)
            t.join();
    }

private:
    const std::atomic<bool>& cancelled;
    std::vector<std::thread> threads;
    std::atomic<bool> failed{false};
};

// Joins the runs in file order: each one's lead goes on with the facet left open before it.
// Returns the corner count; logs the malformed lines with their line numbers.
size_t joinRuns(std::vector<std::unique_ptr<Run>>& runs)
{
    Facet open;
    size_t total = 0;
    qint64 line = 0, logged = 0, malformed = 0;
    for (auto& r : runs) {
        for (int i = 0; i < std::min(r->leadCount, 3); ++i)
            open.add(r->lead[i]);
        if (r->leadCount > 3 || r->leadBad)
            open.bad = true;
        if (r->closes) {
            if (open.whole()) {
                for (int i = 0; i < 3; ++i)
                    r->head[i] = CornerRecord(open.corner[i].x, open.corner[i].y, open.corner[i].z, 0);
                r->headCount = 3;
            }
            open = r->open;
        }
        total += size_t(r->headCount) + r->corners.size();
        for (qint64 at : r->malformedAt) {
            if (logged < kLoggedLines) {
                QLOG_INFO() << "FileRW\\AsciiStl @" << __LINE__ << "!4 at line" << line + at + 1;
                ++logged;
            }
        }
        malformed += r->malformed;
        line += r->lines;
    }
    if (open.whole()) {
        // The last facet, ended by the end of the file: it goes into a run of its own.
        auto last = std::make_unique<Run>();
        for (int i = 0; i < 3; ++i)
            last->head[i] = CornerRecord(open.corner[i].x, open.corner[i].y, open.corner[i].z, 0);
        last->headCount = 3;
        runs.push_back(std::move(last));
        total += 3;
    }
    if (malformed > logged) {
        QLOG_INFO() << "FileRW\\AsciiStl @" << __LINE__ << malformed - logged << "more lines without four parts";
    }
    return total;
}

// Copies the joined runs into one list on all cores, freeing each run's corners as it goes.
void gather(std::vector<std::unique_ptr<Run>>& runs, size_t total, CornerList& out)
{
    CornerList all;
    all.reserve(total);
    adviseHugePages(all.data(), total * sizeof(CornerRecord));
    all.resize(total); // records stay uninitialised; every one is written below
    std::vector<size_t> at(runs.size() + 1, 0);
    for (size_t i = 0; i < runs.size(); ++i)
        at[i + 1] = at[i] + size_t(runs[i]->headCount) + runs[i]->corners.size();
    std::atomic<size_t> next{0};
    auto copy = [&] {
        for (size_t i; (i = next.fetch_add(1)) < runs.size();) {
            Run& r = *runs[i];
            CornerRecord* dst = all.data() + at[i];
            std::copy(r.head, r.head + r.headCount, dst);
            std::copy(r.corners.begin(), r.corners.end(), dst + r.headCount);
            for (size_t k = at[i]; k < at[i + 1]; ++k)
                all[k].corner = int32_t(k);
            CornerList().swap(r.corners);
        }
    };
    std::vector<std::thread> threads;
    const unsigned n = unsigned(std::min<size_t>(workerThreads(), runs.size() / 4 + 1));
    try {
        for (unsigned t = 1; t < n; ++t)
            threads.emplace_back(copy);
    } catch (const std::system_error&) {
        // fewer threads copy
    }
    copy();
    for (std::thread& t : threads)
        t.join();
    out.swap(all);
}
} // namespace

void AsciiStl::setBlockBytesForTests(size_t bytes)
{
    g_blockForTests = bytes;
}

bool AsciiStl::readCorners(const QString& path, CornerList& corners, std::atomic<int>& progress,
                           const std::atomic<bool>& cancelled)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 fileSize = std::max<qint64>(1, file.size());
    const size_t forTests = g_blockForTests.load();
    const size_t block = forTests ? forTests : kDefaultBlock;
    const size_t piece = forTests ? std::max<size_t>(1, forTests / 8) : kDefaultPiece;
    const unsigned threads = workerThreads();

    // Two buffers: one is parsed while the next block is read into the other. Each starts with
    // the unfinished last line of the block before, at most kMaxLine bytes.
    std::vector<char> buffers[2];
    for (auto& b : buffers)
        b.resize(kMaxLine + 1 + block);
    size_t carry = 0;   // bytes of the unfinished line at the start of the next buffer
    bool skipping = false; // inside a dropped line, up to its line feed
    std::vector<std::unique_ptr<Run>> runs;
    Parsers parsers(cancelled);
    // Cuts [b, b + n) at line ends into a run per thread, each parsed on its own thread.
    auto startRuns = [&](const char* b, size_t n) {
        const size_t share = std::max(piece, n / threads + 1);
        for (size_t from = 0; from < n;) {
            size_t to = std::min(n, from + share);
            if (to < n) {
                const char* nl = static_cast<const char*>(std::memchr(b + to - 1, '\n', n - to + 1));
                to = nl ? size_t(nl + 1 - b) : n;
            }
            runs.push_back(std::make_unique<Run>());
            parsers.start(*runs.back(), b + from, b + to);
            from = to;
        }
    };
    qint64 consumed = 0;
    int current = 0;
    for (bool atEnd = false; !atEnd;) {
        if (cancelled.load(std::memory_order_relaxed)) {
            parsers.join();
            return false;
        }
        std::vector<char>& buf = buffers[current];
        progress.store(int(std::min(1.0, double(consumed) / double(fileSize)) * 9200.0), std::memory_order_relaxed);
        const qint64 got = file.read(buf.data() + carry, qint64(block));
        parsers.join(); // the other buffer is free again
        if (got < 0)
            return false;
        atEnd = got == 0;
        consumed += got;
        const char* begin = buf.data();
        const char* fresh = begin + carry; // the carried part holds no line feed
        const char* const end = fresh + got;
        carry = 0;
        if (skipping) {
            // The rest of a dropped line; what it was is in the run made when it began.
            const char* nl = static_cast<const char*>(std::memchr(begin, '\n', size_t(end - begin)));
            if (!nl)
                continue;
            skipping = false;
            begin = fresh = nl + 1;
        }
        const size_t length = size_t(end - begin);
        // Whole lines go to the threads; the unfinished last one waits for the next block (at
        // the end of the file it is a line of its own).
        size_t whole = length;
        if (!atEnd) {
            const char* last = static_cast<const char*>(memrchr(fresh, '\n', size_t(end - fresh)));
            whole = last ? size_t(last + 1 - begin) : 0;
        }
        startRuns(begin, whole);
        const size_t tail = length - whole;
        if (tail > kMaxLine) {
            auto dropped = std::make_unique<Run>();
            dropped->dropLine(begin + whole);
            dropped->lines = 1;
            runs.push_back(std::move(dropped));
            skipping = true;
        } else if (whole == 0) {
            // Only part of a line so far: the next block goes on after it in this buffer.
            std::memmove(buf.data(), begin, tail);
            carry = tail;
            continue;
        } else if (tail > 0) {
            std::memmove(buffers[1 - current].data(), begin + whole, tail);
            carry = tail;
        }
        current = 1 - current;
    }
    progress.store(9200, std::memory_order_relaxed);
    parsers.join();
    if (cancelled.load(std::memory_order_relaxed))
        return false;
    const size_t total = joinRuns(runs);
    gather(runs, total, corners);
    return true;
}
