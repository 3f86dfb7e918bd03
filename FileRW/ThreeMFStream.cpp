#include "FileRW/ThreeMFStream.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>

#include <quazip.h>
#include <quazipfile.h>

#include "scene/Parallel.h"

namespace ThreeMFStream {

namespace {
constexpr size_t kBatchItems = 1 << 15;

// A number's text without surrounding blanks or a leading '+', which from_chars does not take.
std::string_view numberText(std::string_view v)
{
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '\n' || v.front() == '\r'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\n' || v.back() == '\r'))
        v.remove_suffix(1);
    if (v.size() > 1 && v.front() == '+' && v[1] != '-')
        v.remove_prefix(1);
    return v;
}

// A coordinate as the file gives it: not a number reads as 0, rounded to single precision.
bool readFloat(std::string_view text, float& out)
{
    double d = 0.0;
    const std::string_view v = numberText(text);
    const auto r = std::from_chars(v.data(), v.data() + v.size(), d);
    if (r.ec == std::errc::result_out_of_range)
        return false;
    if (r.ec != std::errc() || r.ptr != v.data() + v.size())
        d = 0.0;
    out = float(d);
    return std::isfinite(out);
}

// A vertex index; -1 stands for anything outside 0..INT32_MAX, refused once the count is known.
int32_t readIndex(std::string_view text)
{
    const std::string_view v = numberText(text);
    long long n = 0;
    const auto r = std::from_chars(v.data(), v.data() + v.size(), n);
    if (r.ec == std::errc::result_out_of_range)
        return -1;
    if (r.ec != std::errc() || r.ptr != v.data() + v.size())
        return 0;
    return n < 0 || n > INT32_MAX ? -1 : int32_t(n);
}
} // namespace

// ---- inflating ----

InflatingReader::InflatingReader(QuaZipFile& p, size_t chunkBytes, int depth)
    : part(p)
{
    for (int i = 0; i < depth; ++i) {
        free.push_back(std::make_unique<Chunk>());
        free.back()->bytes.resize(chunkBytes);
    }
    worker = std::thread([this] { inflate(); });
}

InflatingReader::~InflatingReader()
{
    {
        std::lock_guard<std::mutex> lk(lock);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
}

void InflatingReader::inflate()
{
    for (;;) {
        std::unique_ptr<Chunk> chunk;
        {
            std::unique_lock<std::mutex> lk(lock);
            changed.wait(lk, [this] { return stopping || !free.empty(); });
            if (stopping)
                return;
            chunk = std::move(free.back());
            free.pop_back();
        }
        const qint64 n = part.read(chunk->bytes.data(), qint64(chunk->bytes.size()));
        const bool error = n < 0 || part.getZipError() != UNZ_OK;
        {
            std::lock_guard<std::mutex> lk(lock);
            if (error) {
                failed = true;
            } else {
                chunk->size = n;
                full.push_back(std::move(chunk));
                ended = n == 0;
            }
        }
        changed.notify_all();
        if (error || n == 0)
            return;
    }
}

bool InflatingReader::next(const char*& data, qint64& n)
{
    std::unique_lock<std::mutex> lk(lock);
    if (reading) {
        free.push_back(std::move(reading));
        changed.notify_all();
    }
    changed.wait(lk, [this] { return !full.empty() || failed; });
    if (full.empty())
        return false;
    reading = std::move(full.front());
    full.pop_front();
    data = reading->bytes.data();
    n = reading->size;
    return true;
}

// ---- numbers ----

NumberTexts::NumberTexts(Kind k)
    : kind(k)
{
}

NumberTexts::~NumberTexts()
{
    clear();
}

void NumberTexts::add(const char* a, const char* b, const char* c)
{
    if (!filling) {
        filling = std::make_unique<Batch>();
        filling->text.reserve(kBatchItems * 24);
    }
    for (const char* v : {a, b, c}) {
        if (v)
            filling->text.append(v);
        filling->text.push_back('\0');
    }
    ++added;
    if (++filling->count == kBatchItems)
        startBatch();
}

void NumberTexts::convert(Batch& b) const
{
    try {
        const char* p = b.text.data();
        auto nextValue = [&p] {
            const size_t len = std::strlen(p);
            const std::string_view v(p, len);
            p += len + 1;
            return v;
        };
        if (kind == Kind::Coordinates) {
            b.coordinates.resize(b.count * 3);
            for (float& f : b.coordinates)
                if (!readFloat(nextValue(), f))
                    b.bad = true;
        } else {
            b.indices.resize(b.count);
            for (auto& t : b.indices)
                for (int32_t& v : t)
                    v = readIndex(nextValue());
        }
        std::string().swap(b.text);
    } catch (const std::bad_alloc&) {
        b.noMemory = true;
    }
}

void NumberTexts::startBatch()
{
    Batch& b = *filling;
    batches.push_back(std::move(filling));
    // Only so many batches convert at once; the parser waits for the oldest beyond that.
    while (batches.size() - running > 2 * size_t(workerThreads()))
        wait(*batches[running++]);
    try {
        b.worker = std::thread([this, &b] { convert(b); });
    } catch (const std::system_error&) {
        convert(b); // no thread to be had: converted here
    }
}

void NumberTexts::wait(Batch& b)
{
    if (b.worker.joinable())
        b.worker.join();
    if (b.noMemory)
        throw std::bad_alloc();
}

bool NumberTexts::settle()
{
    if (filling) {
        // The last, partial batch is converted here: starting a thread for it gains nothing.
        convert(*filling);
        batches.push_back(std::move(filling));
    }
    bool ok = true;
    for (auto& b : batches) {
        wait(*b);
        ok = ok && !b->bad;
    }
    running = batches.size();
    return ok;
}

bool NumberTexts::takeCoordinates(std::vector<float>& out)
{
    out.clear();
    const bool ok = settle();
    if (ok) {
        out.reserve(added * 3);
        for (const auto& b : batches)
            out.insert(out.end(), b->coordinates.begin(), b->coordinates.end());
    }
    clear();
    return ok;
}

void NumberTexts::takeIndices(std::vector<std::array<int32_t, 3>>& out)
{
    out.clear();
    settle();
    out.reserve(added);
    for (const auto& b : batches)
        out.insert(out.end(), b->indices.begin(), b->indices.end());
    clear();
}

void NumberTexts::addConverted(std::vector<float>&& coordinates, std::vector<std::array<int32_t, 3>>&& indices,
                               size_t count, bool bad)
{
    if (count == 0)
        return;
    if (filling)
        startBatch(); // the texts added before come first
    auto b = std::make_unique<Batch>();
    b->count = count;
    b->coordinates = std::move(coordinates);
    b->indices = std::move(indices);
    b->bad = bad;
    batches.push_back(std::move(b));
    added += count;
}

void NumberTexts::clear()
{
    for (auto& b : batches)
        if (b->worker.joinable())
            b->worker.join();
    batches.clear();
    filling.reset();
    added = running = 0;
}

// ---- runs of plain elements ----

namespace {
constexpr size_t kMaxRunElementBytes = 4096;
constexpr size_t kRunHead = 1 << 16; // read on the caller's thread before the pool is woken

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool nameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Past the blanks at s; their line ends are added to lines, a pair "\r\n" once.
const char* skipBlanks(const char* s, const char* end, size_t& lines)
{
    for (; s < end && blank(*s); ++s)
        if (*s == '\n' || (*s == '\r' && (s + 1 == end || s[1] != '\n')))
            ++lines;
    return s;
}

// One empty element at s in the plain form; past its "/>", or null for anything else.
const char* plainElement(NumberTexts::Kind kind, const RunScanner::Names& allowed, const char* s, const char* end,
                         std::string_view (&values)[3])
{
    static constexpr std::string_view vertexNames[] = {"x", "y", "z"};
    static constexpr std::string_view triangleNames[] = {"v1", "v2", "v3", "p1", "p2", "p3", "pid"};
    const bool coordinates = kind == NumberTexts::Kind::Coordinates;
    const std::string_view name = coordinates ? "vertex" : "triangle";
    const std::string_view* names = coordinates ? vertexNames : triangleNames;
    const size_t nameCount = coordinates ? 3 : 7;
    const char* start = s;
    if (s == end || *s != '<')
        return nullptr;
    ++s;
    const std::string_view prefix = allowed.prefix;
    if (!prefix.empty() && size_t(end - s) >= prefix.size() && std::memcmp(s, prefix.data(), prefix.size()) == 0)
        s += prefix.size();
    else if (!allowed.unprefixed)
        return nullptr;
    if (size_t(end - s) < name.size() || std::memcmp(s, name.data(), name.size()) != 0)
        return nullptr;
    s += name.size();
    unsigned seen = 0;
    for (;;) {
        if (size_t(s - start) > kMaxRunElementBytes)
            return nullptr;
        const char* before = s;
        while (s < end && blank(*s)) // no line end here: an element holds none
            if (*s++ != ' ')
                return nullptr;
        if (s == end)
            return nullptr;
        if (*s == '/')
            return s + 1 < end && s[1] == '>' ? s + 2 : nullptr;
        if (s == before) // an attribute follows a blank
            return nullptr;
        const char* n0 = s;
        while (s < end && nameChar(*s))
            ++s;
        const std::string_view attr(n0, size_t(s - n0));
        size_t which = 0;
        while (which < nameCount && names[which] != attr)
            ++which;
        if (which == nameCount || (seen & (1u << which)))
            return nullptr;
        seen |= 1u << which;
        if (s == end || *s != '=' || ++s == end || (*s != '"' && *s != '\''))
            return nullptr;
        const char quote = *s++;
        const char* v0 = s;
        for (; s < end && *s != quote; ++s)
            if (*s < 0x20 || *s > 0x7e || *s == '<' || *s == '&')
                return nullptr;
        if (s == end)
            return nullptr;
        if (which < 3)
            values[which] = std::string_view(v0, size_t(s - v0));
        ++s;
    }
}

void scanPiece(NumberTexts::Kind kind, const RunScanner::Names& names, const char* text, RunScanner::Piece& p)
{
    try {
        const char* const begin = text + p.begin;
        const char* const end = text + p.end;
        const size_t guess = (p.end - p.begin) / 40 + 1;
        if (kind == NumberTexts::Kind::Coordinates)
            p.coordinates.reserve(guess * 3);
        else
            p.indices.reserve(guess);
        size_t pending = 0; // line ends since the last element
        for (const char* s = begin;;) {
            s = skipBlanks(s, end, pending);
            if (s == end) {
                p.whole = true;
                break;
            }
            std::string_view values[3];
            const char* next = plainElement(kind, names, s, end, values);
            if (!next)
                break;
            if (kind == NumberTexts::Kind::Coordinates) {
                for (const std::string_view& v : values) {
                    float f = 0.0f;
                    if (!readFloat(v, f) && p.firstBad == SIZE_MAX)
                        p.firstBad = p.count;
                    p.coordinates.push_back(f);
                }
            } else {
                p.indices.push_back({readIndex(values[0]), readIndex(values[1]), readIndex(values[2])});
            }
            ++p.count;
            p.lines += pending;
            pending = 0;
            s = next;
            p.last = size_t(s - begin);
        }
        p.trailingLines = pending;
    } catch (const std::bad_alloc&) {
        p.noMemory = true;
        p.whole = false;
    }
}

// The first '<' at or after from, or n.
size_t tagAt(const char* text, size_t n, size_t from)
{
    if (from >= n)
        return n;
    const void* lt = std::memchr(text + from, '<', n - from);
    return lt ? size_t(static_cast<const char*>(lt) - text) : n;
}
} // namespace

struct RunScanner::Job
{
    const char* text = nullptr;
    NumberTexts::Kind kind = NumberTexts::Kind::Coordinates;
    RunScanner::Names names;
    Piece* pieces = nullptr;
    size_t count = 0;
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::condition_variable finished;
    size_t done = 0;
};

RunScanner::~RunScanner()
{
    {
        std::lock_guard<std::mutex> lk(lock);
        stopping = true;
    }
    changed.notify_all();
    for (std::thread& t : threads)
        t.join();
}

void RunScanner::startPool()
{
    started = true;
    try {
        for (unsigned i = 1; i < workerThreads(); ++i)
            threads.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        // fewer threads: the caller reads what they leave
    }
}

void RunScanner::work()
{
    std::shared_ptr<Job> seen;
    for (;;) {
        {
            std::unique_lock<std::mutex> lk(lock);
            changed.wait(lk, [&] { return stopping || (job && job != seen); });
            if (stopping)
                return;
            seen = job;
        }
        runJob(*seen);
    }
}

void RunScanner::runJob(Job& j)
{
    // A thread that comes late to a finished job takes no piece and touches nothing of it.
    size_t mine = 0;
    for (size_t i; (i = j.next.fetch_add(1)) < j.count; ++mine)
        scanPiece(j.kind, j.names, j.text, j.pieces[i]);
    if (mine > 0) {
        std::lock_guard<std::mutex> lk(j.lock);
        j.done += mine;
        if (j.done == j.count)
            j.finished.notify_all();
    }
}

RunScanner::Run RunScanner::scan(NumberTexts::Kind kind, const Names& names, const char* text, size_t n)
{
    auto startPiece = [this](size_t i, size_t begin, size_t end) {
        if (parts.size() <= i)
            parts.resize(i + 1);
        parts[i] = Piece();
        parts[i].begin = begin;
        parts[i].end = end;
    };
    startPiece(0, 0, tagAt(text, n, kRunHead));
    scanPiece(kind, names, text, parts[0]);
    used = 1;
    if (parts[0].whole && parts[0].end < n) {
        const size_t rest = n - parts[0].end;
        const size_t count = std::max<size_t>(1, std::min<size_t>(4 * workerThreads(), rest / kRunHead));
        for (size_t i = 0; i < count; ++i) {
            const size_t begin = parts[i].end;
            startPiece(i + 1, begin, i + 1 == count ? n : std::max(begin, tagAt(text, n, parts[0].end + rest * (i + 1) / count)));
        }
        used = count + 1;
        if (!started)
            startPool();
        auto j = std::make_shared<Job>();
        j->text = text;
        j->kind = kind;
        j->names = names;
        j->pieces = parts.data() + 1;
        j->count = count;
        {
            std::lock_guard<std::mutex> lk(lock);
            job = j;
        }
        changed.notify_all();
        runJob(*j);
        {
            std::unique_lock<std::mutex> lk(j->lock);
            j->finished.wait(lk, [&] { return j->done == j->count; });
        }
        std::lock_guard<std::mutex> lk(lock);
        job.reset();
    }
    // The run goes on through whole pieces and ends in the first one that is not.
    Run run;
    size_t carried = 0; // line ends after the run's last element so far
    for (size_t i = 0; i < used; ++i) {
        const Piece& p = parts[i];
        if (p.noMemory)
            throw std::bad_alloc();
        if (p.count > 0) {
            run.count += p.count;
            run.lines += carried + p.lines;
            run.bytes = p.begin + p.last;
            carried = 0;
        }
        if (!p.whole) {
            used = i + 1;
            break;
        }
        carried += p.trailingLines;
    }
    return run;
}

} // namespace ThreeMFStream
