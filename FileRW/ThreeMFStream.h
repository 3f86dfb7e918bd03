#pragma once

#include <QtGlobal>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class QuaZipFile;

// The stages of reading a 3MF model part that run beside the XML parser, so that inflating,
// parsing and converting numbers overlap instead of taking turns on one thread.
namespace ThreeMFStream {

// Inflates a zip entry on a thread of its own, a few chunks ahead of the reader. The entry is
// touched by that thread only, until the reader is destroyed.
class InflatingReader
{
public:
    explicit InflatingReader(QuaZipFile& part, size_t chunkBytes = size_t(1) << 20, int depth = 4);
    // Stops the inflating thread (it ends within one chunk) and waits for it.
    ~InflatingReader();
    InflatingReader(const InflatingReader&) = delete;
    InflatingReader& operator=(const InflatingReader&) = delete;

    // The next chunk; n = 0 at the end of the entry. False when the entry cannot be read.
    // The chunk stays valid until the next call.
    bool next(const char*& data, qint64& n);

private:
    struct Chunk
    {
        std::vector<char> bytes;
        qint64 size = 0;
    };
    void inflate();

    QuaZipFile& part;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::unique_ptr<Chunk>> full;  // inflated, waiting for the reader
    std::vector<std::unique_ptr<Chunk>> free; // given back, ready to be filled
    std::unique_ptr<Chunk> reading;           // the chunk the reader holds
    bool ended = false, failed = false, stopping = false;
    std::thread worker;
};

// The texts of three numbers per element (a vertex's x, y, z or a triangle's v1, v2, v3) as the
// parser hands them out, converted in batches on worker threads. A missing number reads as 0,
// and so does text that is not a number.
class NumberTexts
{
public:
    enum class Kind { Coordinates, Indices };
    explicit NumberTexts(Kind kind);
    // Waits for the conversions still running.
    ~NumberTexts();
    NumberTexts(const NumberTexts&) = delete;
    NumberTexts& operator=(const NumberTexts&) = delete;

    // The three attribute values of one element; null for one that is missing.
    void add(const char* a, const char* b, const char* c);
    size_t count() const { return added; }

    // Coordinates: waits for every batch and hands out x, y, z per vertex, rounded to single
    // precision; false (out left empty) when one of them is out of range or not finite.
    bool takeCoordinates(std::vector<float>& out);
    // Indices: v1, v2, v3 per triangle; -1 for a number outside 0..INT32_MAX.
    void takeIndices(std::vector<std::array<int32_t, 3>>& out);
    // Waits for the batches handed out so far; false when a coordinate among them cannot be used.
    bool settle();
    // Drops every text and number, for the next element list.
    void clear();
    // Numbers converted elsewhere, after those added so far; bad when one of them cannot be used.
    void addConverted(std::vector<float>&& coordinates, std::vector<std::array<int32_t, 3>>&& indices,
                      size_t count, bool bad);

private:
    struct Batch
    {
        std::string text; // the values, each ended by a zero byte
        size_t count = 0;
        std::vector<float> coordinates;
        std::vector<std::array<int32_t, 3>> indices;
        bool bad = false;      // a coordinate cannot be used
        bool noMemory = false;
        std::thread worker;
    };
    void startBatch();
    void convert(Batch& b) const;
    void wait(Batch& b);

    Kind kind;
    std::vector<std::unique_ptr<Batch>> batches;
    std::unique_ptr<Batch> filling;
    size_t added = 0;
    size_t running = 0; // batches[running..] may still be converting
};

// Reads the start of an element list's text when it is made only of blanks and empty vertex
// (or triangle) elements in a plain form the XML parser reads alike: known attributes once each,
// quoted printable ASCII values without '<' or '&'. Anything else ends the run and is left to
// the parser. Past a short head, the text is read in pieces on a pool of threads that lives as
// long as the scanner.
class RunScanner
{
public:
    struct Piece
    {
        size_t begin = 0, end = 0; // bytes of the text
        size_t count = 0;          // whole elements read
        size_t last = 0;           // just past the last of them, from begin
        size_t lines = 0;          // line ends before last
        size_t trailingLines = 0;  // line ends after it
        size_t firstBad = SIZE_MAX; // the first element with a coordinate that cannot be used
        bool whole = false;        // nothing but elements and blanks up to end
        bool noMemory = false;
        std::vector<float> coordinates;
        std::vector<std::array<int32_t, 3>> indices;
    };
    struct Run
    {
        size_t bytes = 0; // up to the end of the run's last element
        size_t count = 0;
        size_t lines = 0; // line ends among those bytes, a pair "\r\n" counted once
    };

    RunScanner() = default;
    // Stops the pool's threads, which are idle between scans.
    ~RunScanner();
    RunScanner(const RunScanner&) = delete;
    RunScanner& operator=(const RunScanner&) = delete;

    // How the elements may be named: with prefix ("p:", or empty for none), or with none at all.
    struct Names
    {
        std::string prefix;
        bool unprefixed = false;
    };

    // The run at the start of [text, text + n). Its numbers are in pieces()[0 .. pieceCount),
    // in order, until the next scan.
    Run scan(NumberTexts::Kind kind, const Names& names, const char* text, size_t n);
    std::vector<Piece>& pieces() { return parts; }
    size_t pieceCount() const { return used; }

private:
    struct Job;
    void startPool();
    void work();
    static void runJob(Job& job);

    std::vector<Piece> parts;
    size_t used = 0;
    std::vector<std::thread> threads;
    std::mutex lock;
    std::condition_variable changed;
    std::shared_ptr<Job> job; // the scan the pool works on
    bool stopping = false, started = false;
};

} // namespace ThreeMFStream
