#include "FileRW/AsciiStl.h"

#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "app/QsLog.h"
#include "scene/BigAllocator.h"
#include "scene/Parallel.h"

namespace {
// A run is 1 to 4 MB of text: a few per core, so that a thread held up on a busy machine
// leaves its share to the others, and small enough that each thread reads its own into a
// buffer it keeps.
constexpr size_t kMinPiece = size_t(1) << 20;
constexpr size_t kMaxPiece = size_t(4) << 20;
// Malformed lines logged one by one; the rest are counted.
constexpr qint64 kLoggedLines = 100;
std::atomic<size_t> g_blockForTests{0};
std::function<void(qint64)> g_beforeRead;

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

// The number at p as from_chars reads it, up to where from_chars stops. Plain decimals, as
// exporters write them ("-1.25", "3.5e-05"), are converted here: a whole number of at most 2^53
// and a power of ten up to 22 are both exact doubles, so one multiply or divide rounds the
// value correctly, as from_chars does. Anything else is left to from_chars.
std::from_chars_result readNumber(const char* p, const char* end, double& out)
{
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* const start = p;
    auto digit = [&] { return p < end && unsigned(*p - '0') < 10u; };
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    uint64_t m = 0;
    int digits = 0, scale = 0;
    bool any = false;
    for (; digit(); ++p, ++digits, any = true)
        m = m * 10 + unsigned(*p - '0');
    if (p < end && *p == '.')
        for (++p; digit(); ++p, ++digits, --scale, any = true)
            m = m * 10 + unsigned(*p - '0');
    if (any && digits <= 19 && p < end && (*p == 'e' || *p == 'E')) {
        const char* e = p + 1;
        const bool down = e < end && *e == '-';
        if (e < end && (*e == '-' || *e == '+'))
            ++e;
        const char* const first = e;
        int power = 0; // held where it cannot overflow, and beyond any power taken here
        for (; e < end && unsigned(*e - '0') < 10u; ++e)
            power = std::min(power * 10 + (*e - '0'), 1000);
        // No digits: from_chars stops before the e.
        if (e == first)
            any = false;
        scale += down ? -power : power;
        p = e;
    }
    if (!any || digits > 19 || m > (uint64_t(1) << 53) || scale < -22 || scale > 22)
        return std::from_chars(start, end, out);
    const double v = scale < 0 ? double(m) / kPow10[-scale] : double(m) * kPow10[scale];
    out = negative ? -v : v;
    return {p, std::errc()};
}

// A thread's corners, for all the runs it parses; huge pages save most of the page faults.
using Arena = std::vector<CornerRecord, BigAllocator<CornerRecord>>;

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
    Arena* corners = nullptr; // facets ended inside it, after its first keyword, are added here
    size_t first = 0, count = 0;  // where they are in it
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
                corners->emplace_back(v.x, v.y, v.z, 0);
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
    // A well-formed vertex line starting at p, read in one pass: the end of the line (its line
    // feed or end) on success, null for anything else, which line() then reads as it stands.
    static const char* quickVertex(const char* p, const char* end, Vertex& v)
    {
        const char* const start = p;
        auto blank = [&] {
            while (p < end && *p != '\n' && isSpace(uchar(*p)))
                ++p;
        };
        blank();
        if (p == end || *p != 'v')
            return nullptr;
        while (p < end && !isSpace(uchar(*p)))
            ++p;
        double* out[3] = {&v.x, &v.y, &v.z};
        for (double* d : out) {
            blank();
            const char* b = p < end && *p == '+' ? p + 1 : p;
            const auto r = readNumber(b, end, *d);
            // The number must be its whole word; any space ends one, and none is part of one.
            if (r.ec != std::errc() || (r.ptr < end && !isSpace(uchar(*r.ptr))) || !std::isfinite(*d))
                return nullptr;
            p = r.ptr;
        }
        blank();
        if ((p < end && *p != '\n') || size_t(p - start) > AsciiStl::kMaxLine)
            return nullptr;
        return p;
    }

    // Whole lines, the last one ended by end. Stops early when the load is stopped: what it
    // holds then is thrown away.
    void parse(const char* p, const char* end, const std::atomic<bool>& cancelled)
    {
        first = corners->size();
        parseLines(p, end, cancelled);
        count = corners->size() - first;
    }
    void parseLines(const char* p, const char* end, const std::atomic<bool>& cancelled)
    {
        while (p < end) {
            Vertex v;
            const char* nl = quickVertex(p, end, v);
            if (nl) {
                vertex(v);
                if (nl == end)
                    return;
            } else {
                nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
                line(p, nl ? nl : end);
                if (!nl)
                    return;
            }
            // A run takes a thread some tens of milliseconds on a busy machine.
            if ((++lines & 0xfff) == 0 && cancelled.load(std::memory_order_relaxed))
                return;
            p = nl + 1;
        }
    }
};

// Reads [at, at + length) of the file whole; a file that shrank under us ends in a short read,
// which fails.
bool readAt(int fd, char* to, size_t length, size_t at)
{
    while (length > 0) {
        const ssize_t got = ::pread(fd, to, length, off_t(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        length -= size_t(got);
        at += size_t(got);
    }
    return true;
}

// One thread's share of the load: the runs it takes in turn, each read into its own buffer
// with a positioned read, so that threads never wait on each other for text.
struct RunReader
{
    int fd;
    size_t fileSize;
    size_t piece;
    std::unique_ptr<char[]> text;
    Arena corners;

    // A run holds the lines that start in [a, b); its last line may go on past b, and is read
    // on up to its line feed, or as far as it takes to know it is too long. False when the
    // file cannot be read there.
    bool read(Run& run, size_t a, size_t b, const std::atomic<bool>& cancelled)
    {
        // A run, the byte before it and what its last line needs past it; never more than
        // the file.
        if (!text)
            text.reset(new char[std::min(piece + AsciiStl::kMaxLine + 2, fileSize + 1)]);
        if (g_beforeRead)
            g_beforeRead(qint64(a));
        // From the byte before a: a line starts at a when that byte is a line feed.
        const size_t from = a > 0 ? a - 1 : 0;
        size_t have = b - from;
        if (!readAt(fd, text.get(), have, from))
            return false;
        const char* p = text.get();
        if (a > 0) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', have));
            if (!nl)
                return true; // inside a line that started before a
            p = nl + 1;
        }
        const size_t begin = size_t(p - text.get());
        if (begin == have)
            return true;
        bool cut = false; // the last line is too long and was read only in part
        if (b < fileSize && text[have - 1] != '\n') {
            const char* last = static_cast<const char*>(memrchr(p, '\n', have - begin));
            const size_t start = last ? size_t(last + 1 - text.get()) : begin;
            const size_t limit = std::min(fileSize - from, start + AsciiStl::kMaxLine + 1);
            bool ended = false;
            while (!ended && have < limit) {
                const size_t more = std::min(limit - have, std::max<size_t>(4096, have - start));
                if (!readAt(fd, text.get() + have, more, from + have))
                    return false;
                const char* nl = static_cast<const char*>(std::memchr(text.get() + have, '\n', more));
                have = nl ? size_t(nl + 1 - text.get()) : have + more;
                ended = nl != nullptr;
            }
            cut = !ended && have < fileSize - from;
        }
        run.corners = &corners;
        run.parse(p, text.get() + have, cancelled);
        if (cut)
            ++run.lines; // its line feed, further on, ends it
        return true;
    }
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
        total += size_t(r->headCount) + r->count;
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

// Copies the joined runs' corners into one list on all cores, each run straight to its place.
void gather(const std::vector<std::unique_ptr<Run>>& runs, size_t total, CornerList& out)
{
    CornerList all;
    all.reserve(total);
    adviseHugePages(all.data(), total * sizeof(CornerRecord));
    all.resize(total); // records stay uninitialised; every one is written below
    std::vector<size_t> at(runs.size() + 1, 0);
    for (size_t i = 0; i < runs.size(); ++i)
        at[i + 1] = at[i] + size_t(runs[i]->headCount) + runs[i]->count;
    parallelRanges(runs.size(), 4, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            const Run& r = *runs[i];
            CornerRecord* dst = all.data() + at[i];
            std::copy(r.head, r.head + r.headCount, dst);
            if (r.count > 0)
                std::copy_n(r.corners->data() + r.first, r.count, dst + r.headCount);
            for (size_t k = at[i]; k < at[i + 1]; ++k)
                all[k].corner = int32_t(k);
        }
    });
    out.swap(all);
}
} // namespace

void AsciiStl::setBlockBytesForTests(size_t bytes)
{
    g_blockForTests = bytes;
}

void AsciiStl::setBeforeReadForTests(std::function<void(qint64)> hook)
{
    g_beforeRead = std::move(hook);
}

bool AsciiStl::readCorners(const QString& path, CornerList& corners, std::atomic<int>& progress,
                           const std::atomic<bool>& cancelled)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || file.handle() < 0)
        return false;
    const qint64 size = file.size();
    if (size < 0 || quint64(size) > quint64(std::numeric_limits<off_t>::max() / 2))
        return false;
    const size_t n = size_t(size);
    const size_t threads = workerThreads();
    const size_t forTests = g_blockForTests.load();
    const size_t piece = forTests ? forTests : std::clamp(n / (threads * 4) + 1, kMinPiece, kMaxPiece);
    const size_t runCount = n / piece + (n % piece ? 1 : 0);
    std::vector<std::unique_ptr<Run>> runs;
    runs.reserve(runCount);
    for (size_t i = 0; i < runCount; ++i)
        runs.push_back(std::make_unique<Run>());

    std::vector<RunReader> readers(std::min(threads, std::max<size_t>(1, runCount)));
    for (RunReader& r : readers) {
        r.fd = file.handle();
        r.fileSize = n;
        r.piece = piece;
        // About one corner in 64 bytes of text is as densely as exporters write; more grows.
        r.corners.reserve(n / 64 / readers.size() + 16);
    }
    std::atomic<size_t> next{0}, done{0};
    std::atomic<bool> unreadable{false};
    // A failure to allocate comes back here once every thread has ended.
    runParts(readers.size(), [&](size_t part) {
        RunReader& reader = readers[part];
        try {
            for (size_t i; (i = next.fetch_add(1)) < runCount && !cancelled.load(std::memory_order_relaxed);) {
                const size_t a = i * piece, b = std::min(n, a + piece);
                if (!reader.read(*runs[i], a, b, cancelled)) {
                    unreadable.store(true);
                    next.store(runCount);
                    return;
                }
                const size_t d = done.fetch_add(b - a, std::memory_order_relaxed) + (b - a);
                const int want = int(double(d) / double(n) * 9200.0);
                // Threads finish in any order; the progress only goes up.
                for (int seen = progress.load(); seen < want && !progress.compare_exchange_weak(seen, want);) {
                }
            }
        } catch (...) {
            next.store(runCount);
            throw;
        }
    });
    if (unreadable.load() || cancelled.load(std::memory_order_relaxed))
        return false;
    const size_t total = joinRuns(runs);
    gather(runs, total, corners);
    return true;
}
