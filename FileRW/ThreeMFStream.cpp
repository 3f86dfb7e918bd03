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

void NumberTexts::clear()
{
    for (auto& b : batches)
        if (b->worker.joinable())
            b->worker.join();
    batches.clear();
    filling.reset();
    added = running = 0;
}

} // namespace ThreeMFStream
