#include "FileRW/BVTReader.h"

#include <QFile>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "FileRW/FileReaderWriter.h"
#include "FileRW/TeaCipher.h"
#include "app/QsLog.h"
#include "render/GcodePreviewData.h"
#include "scene/AppData.h"
#include "scene/Parallel.h"

namespace {

const char kFirstLine[] = ";Brevant 1.0.00\n";
constexpr size_t kFirstBlock = 16;

// The whole file is held at once; on Linux large pages spare most of its page faults.
void preferLargePages(char* p, size_t n)
{
#ifdef __linux__
    const size_t page = 2u << 20;
    const uintptr_t b = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~uintptr_t(page - 1);
    const uintptr_t e = reinterpret_cast<uintptr_t>(p + n) & ~uintptr_t(page - 1);
    if (e > b)
        madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

// What one slab of the text holds: line feeds, the longest run without one, and whether a
// byte appears that no written file has (control characters other than tab and line feed).
struct SlabScan
{
    qint64 lineFeeds = 0;
    size_t headRun = 0; // bytes before the first line feed
    size_t tailRun = 0; // bytes after the last line feed
    size_t maxInner = 0; // longest line wholly inside the slab
    bool hasFeed = false;
    bool badByte = false;
};

struct ByteClass
{
    bool bad[256];
    ByteClass()
    {
        for (int c = 0; c < 256; ++c)
            bad[c] = (c < 0x20 && c != '\t' && c != '\n') || c == 0x7f;
    }
};
const ByteClass kBytes;

SlabScan scanSlab(const char* p, size_t n)
{
    SlabScan s;
    size_t lineStart = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '\n') {
            const size_t len = i - lineStart;
            if (!s.hasFeed) {
                s.headRun = len;
                s.hasFeed = true;
            } else {
                s.maxInner = std::max(s.maxInner, len);
            }
            ++s.lineFeeds;
            lineStart = i + 1;
        } else if (kBytes.bad[c]) {
            s.badByte = true;
        }
    }
    if (s.hasFeed)
        s.tailRun = n - lineStart;
    else
        s.headRun = n;
    return s;
}

// Scans [p, p + n) on all cores and folds the slabs: line count, longest line, bad bytes.
void scanText(const char* p, size_t n, qint64& lines, size_t& longest, bool& bad)
{
    const size_t parts = n < (1u << 20) ? 1 : std::min<size_t>(hardwareThreads(), n >> 18);
    std::vector<SlabScan> scans(parts);
    const size_t per = (n + parts - 1) / parts;
    std::vector<std::thread> workers;
    for (size_t i = 1; i < parts; ++i)
        workers.emplace_back([&, i] {
            const size_t b = std::min(n, i * per);
            scans[i] = scanSlab(p + b, std::min(n, b + per) - b);
        });
    scans[0] = scanSlab(p, std::min(n, per));
    for (std::thread& t : workers)
        t.join();
    lines = 0;
    longest = 0;
    bad = false;
    size_t run = 0; // the open line carried across slabs
    for (const SlabScan& s : scans) {
        bad = bad || s.badByte;
        lines += s.lineFeeds;
        if (s.hasFeed) {
            longest = std::max({longest, run + s.headRun, s.maxInner});
            run = s.tailRun;
        } else {
            run += s.headRun;
        }
    }
    longest = std::max(longest, run);
}

// Reads a decimal number as the print-task format writes it: optional "-", digits, optional
// "." and digits. p stops on the first character after the number.
inline double readNumber(const char*& p)
{
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    double whole = 0.0;
    while (unsigned(*p - '0') < 10u)
        whole = whole * 10.0 + double(*p++ - '0');
    if (*p == '.') {
        ++p;
        static const double scale[] = {1.0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8, 1e-9,
                                       1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15, 1e-16, 1e-17, 1e-18};
        uint64_t frac = 0;
        int digits = 0;
        while (unsigned(*p - '0') < 10u) {
            if (digits < 18) {
                frac = frac * 10 + uint64_t(*p - '0');
                ++digits;
            }
            ++p;
        }
        whole += double(frac) * scale[digits];
    }
    return negative ? -whole : whole;
}

// What one line says about the tool path: its G number (-1 without one) and the coordinates
// it names, the last of each word counting. A line that names no coordinate changes nothing.
struct LineWords
{
    qint64 line; // counted from the start of its piece, then from the start of the list
    int g;
    unsigned named;
    double x, y, z;
};
constexpr unsigned kNamesX = 1, kNamesY = 2, kNamesZ = 4;

// A run of whole lines, parsed on a thread of its own.
struct Piece
{
    const char* begin;
    const char* end;
    std::vector<LineWords> words;
    qint64 lines = 0;
};

void parsePiece(Piece& piece)
{
    const char* p = piece.begin;
    const char* const end = piece.end;
    // About a third of the lines of a print are moves; room left unused costs no memory.
    piece.words.reserve(size_t(end - p) / 16);
    qint64 line = 0;
    for (; p < end; ++line) {
        LineWords w{line, -1, 0, 0.0, 0.0, 0.0};
        // Every line ends with a line feed, so the scan never runs past the text.
        while (*p != '\n') {
            const char c = *p++;
            switch (c) {
            case 'X':
                w.x = readNumber(p);
                w.named |= kNamesX;
                break;
            case 'Y':
                w.y = readNumber(p);
                w.named |= kNamesY;
                break;
            case 'Z':
                w.z = readNumber(p);
                w.named |= kNamesZ;
                break;
            case 'G':
                w.g = 0;
                while (unsigned(*p - '0') < 10u) {
                    if (w.g < 100000000)
                        w.g = w.g * 10 + (*p - '0');
                    ++p;
                }
                break;
            case 'E':
            case ';':
                p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
                continue;
            default:
                continue;
            }
            // Words are separated by one character, taken with the number.
            if (*p != '\n')
                ++p;
        }
        ++p;
        if (w.named)
            piece.words.push_back(w);
    }
    piece.lines = line;
}

std::atomic<size_t> g_pieceBytesForTests{0};

// The text of a header line without its line feed, in the local 8-bit encoding.
QString headerText(const char* begin, const char* end)
{
    return QString::fromLocal8Bit(begin, int(end - begin));
}

} // namespace

BVTReader::BVTReader(GcodePreviewData& p, int type, double boxLength, double boxWidth)
    : preview(p), machineType(type)
{
    // The engine placed the rectangular machine's parts off-centre; undo it.
    if (machineType == 1) {
        offsetX = boxLength * 0.5 + 25.5;
        offsetY = boxWidth * 0.5 + 11.5;
    }
}

bool BVTReader::loadForFileWorker(FileReaderWriter& rw, const QString& path)
{
    const AppData* app = AppData::instance();
    BVTReader reader(*app->getGcodePreview(), app->getChoiceType(), app->getBoxLength(), app->getBoxWidth());
    reader.progress = &rw.progress;
    reader.cancel = &rw.cancelled;
    reader.onPrintMessage = [&rw](const QString& time, const QString& length) { emit rw.signPrintMessage(time, length); };
    reader.onGcodeReady = [&rw](bool over) { emit rw.signSendGcodeReady(over); };
    return reader.LoadGCO(path);
}

bool BVTReader::fail(const QString& why)
{
    refusal = why;
    QLOG_WARN() << "FileRW\\BVTReader@" << __LINE__ << "print-task file refused:" << why;
    data.reset();
    return false;
}

bool BVTReader::LoadGCO(const QString& path)
{
    if (cancel == &ownCancel)
        ownCancel.store(false);
    QLOG_INFO() << "FileRW\\BVTReader@" << __LINE__ << "/n LoadGCO start";
    setProgress(0);
    refusal.clear();
    modelName.clear();
    printTime = filamentLength = QStringLiteral("xxx");
    lineCount = 0;
    step = 1;
    batches = layerCount = keptLayers = 0;
    try {
        if (!readText(path) || !readHeader())
            return false;
        const bool ok = replay();
        data.reset();
        return ok;
    } catch (const std::bad_alloc&) {
        return fail(QStringLiteral("out of memory"));
    }
}

bool BVTReader::readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open"));
    const qint64 size = file.size();
    // Whole blocks only: a shorter tail is a cut or damaged file.
    if (size < qint64(kFirstBlock) || size % 8 != 0)
        return fail(QStringLiteral("length %1 is not whole cipher blocks").arg(size));
    if (quint64(size) > quint64(SIZE_MAX / 2))
        return fail(QStringLiteral("too large"));
    data.reset(new (std::nothrow) char[size_t(size) + 1]);
    if (!data)
        return fail(QStringLiteral("out of memory"));
    preferLargePages(data.get(), size_t(size));
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(data.get() + got, size - got);
        if (n <= 0)
            return fail(QStringLiteral("read error"));
        got += n;
    }
    file.close();
    data[size_t(size)] = '\0';
    auto* bytes = reinterpret_cast<uint8_t*>(data.get());

    // The first block on its own: only a file that starts with our line 1 is read further.
    TeaCipher::decipherBlocks(bytes, kFirstBlock, TeaCipher::kPrintTaskKey);
    if (std::memcmp(data.get(), kFirstLine, kFirstBlock) != 0)
        return fail(QStringLiteral("not a print-task file"));
    TeaCipher::decipherBlocks(bytes + kFirstBlock, size_t(size) - kFirstBlock, TeaCipher::kPrintTaskKey);

    // Only zero padding (less than a block) may follow the last line feed.
    size_t end = size_t(size);
    while (end > kFirstBlock && data[end - 1] == '\0')
        --end;
    if (size_t(size) - end >= 8 || end == kFirstBlock || data[end - 1] != '\n')
        return fail(QStringLiteral("the text does not end with a whole line"));
    textBegin = kFirstBlock;
    textEnd = end;

    size_t longest = 0;
    bool bad = false;
    scanText(data.get() + textBegin, textEnd - textBegin, lineCount, longest, bad);
    if (bad)
        return fail(QStringLiteral("damaged text"));
    if (longest > size_t(kMaxLineBytes))
        return fail(QStringLiteral("a line of %1 bytes").arg(longest));
    if (lineCount > kMaxLines)
        return fail(QStringLiteral("%1 lines are too many").arg(lineCount));
    return true;
}

bool BVTReader::readHeader()
{
    const char* p = data.get() + textBegin;
    const char* end = data.get() + textEnd;
    const char* first = p;
    const char* firstEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));

    QString name;
    for (int i = 0; i < 10 && p < end; ++i) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const QString line = headerText(p, nl + 1);
        if (line.contains(QLatin1String("M300"))) {
            const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (parts.size() == 2)
                name = parts[1];
        }
        if (line.contains(QLatin1String(";Print time:\t")))
            printTime = QString(line).remove(QLatin1String(";Print time:\t")).trimmed();
        if (line.contains(QLatin1String("M998 P")))
            filamentLength = QString(line).remove(QLatin1String("M998 P")).trimmed();
        p = nl + 1;
    }
    modelName = name.trimmed();

    // Line 2 counts the lines after line 1; a cut or spliced file no longer matches it.
    const QByteArray countLine(first, int(firstEnd - first));
    bool countOk = false;
    const qint64 claimed = countLine.startsWith("M102 L") ? countLine.mid(6).toLongLong(&countOk) : -1;
    if (!countOk || claimed != lineCount)
        return fail(QStringLiteral("line count %1 does not match the header").arg(lineCount));
    // And the printer stops only at the final M25.
    const char* lastBegin = end - 1;
    while (lastBegin > first && lastBegin[-1] != '\n')
        --lastBegin;
    if (QByteArray(lastBegin, int(end - 1 - lastBegin)) != "M25")
        return fail(QStringLiteral("the last line is not M25"));

    const char* expected = machineType == 1 ? "PX5" : machineType == 2 ? "PX6_A" : machineType == 3 ? "PX6_B" : nullptr;
    if (expected && modelName != QLatin1String(expected))
        return fail(QStringLiteral("made for %1").arg(modelName));
    if (printTime.isEmpty() || filamentLength.isEmpty())
        return fail(QStringLiteral("no print time or filament length"));

    if (onPrintMessage)
        onPrintMessage(printTime, filamentLength);
    setProgress(500);
    return true;
}

void BVTReader::setPieceBytesForTests(size_t bytes)
{
    g_pieceBytesForTests = bytes;
}

bool BVTReader::replay()
{
    // A batch from an earlier, abandoned load may still be pending.
    if (!preview.reclaim(*cancel))
        return fail(QStringLiteral("cancelled"));
    preview.clear();

    step = lineCount > 4000000 ? 4 : lineCount > 2000000 ? 2 : 1;
    const qint64 lastStepped = lineCount - 10; // from the line after it, every layer counts
    qint64 limit = kBatchLines;
    double x = 0, y = 0, z = 0;
    int keptLayer = 0; // last layer number found not thinned away
    // A layer is a height at which the file extrudes, above the layers before: a nozzle lift
    // between two extrusions of one layer makes none, and neither does a lower move within it
    // (drawn at the layer's height). A travel point waits for the next extrusion and takes its
    // height, so a lifted travel draws nothing in mid-air.
    double layerTop = 0.0, lastPointZ = 0.0;
    bool inLayer = false;
    bool travelWaits = false;
    double travelX = 0.0, travelY = 0.0;
    auto addPoint = [&](int g, double px, double py, double pz) {
        preview.addPathPoint(g, px - offsetX, py - offsetY, pz);
        lastPointZ = pz;
    };

    // The engine's start: the header and its first lines are not moves.
    const char* p = data.get() + textBegin;
    const char* const end = data.get() + textEnd;
    qint64 index = 0; // the next line to handle
    for (; index < 18 && p < end; ++index)
        p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p))) + 1;

    auto keepCheck = [&](qint64 line) {
        const int stepNow = line > lastStepped ? 1 : step;
        const bool kept = layerCount < 6 || layerCount % stepNow == 0;
        if (kept && keptLayer != layerCount) {
            keptLayer = layerCount;
            ++keptLayers;
        }
        return kept;
    };
    bool stopped = false;
    // Lines [index, to) name no coordinate: they change nothing but the step, on the line after
    // the last thinned one.
    auto passLines = [&](qint64 to) {
        if (index <= lastStepped + 1 && lastStepped + 1 < to)
            keepCheck(lastStepped + 1);
        if ((index >> 16) != (to >> 16)) {
            setProgress(int(double(to) * 9500.0 / double(lineCount) + 500.0));
            stopped = stopped || cancel->load(std::memory_order_relaxed);
        }
        index = std::max(index, to);
    };
    auto handle = [&](const LineWords& w) {
        const bool horizontal = (w.named & (kNamesX | kNamesY)) != 0;
        if (w.named & kNamesX)
            x = w.x;
        if (w.named & kNamesY)
            y = w.y;
        if (w.named & kNamesZ)
            z = w.z;
        const bool extrudes = w.g > 0 && horizontal;
        if (extrudes && (!inLayer || z > layerTop + 1e-6)) {
            ++layerCount;
            layerTop = z;
            inLayer = true;
        }
        const bool kept = keepCheck(w.line);
        if (w.g == 0 && horizontal) {
            travelWaits = true;
            travelX = x;
            travelY = y;
        } else if (w.g > 0 && horizontal && kept) {
            const double pz = inLayer ? std::max(z, layerTop) : z;
            if (travelWaits)
                addPoint(0, travelX, travelY, pz);
            travelWaits = false;
            addPoint(w.g, x, y, pz);
        }
        passLines(w.line + 1);
    };
    auto startBatch = [&] {
        // Room for every line of the batch as a point: a thinned batch keeps fewer, but how
        // many depends on its layers' sizes. Untouched room costs no memory.
        const qint64 batchLines = std::min(limit, lineCount - 1) - index + 1;
        preview.setBatchHint(size_t(std::clamp<qint64>(batchLines, 0, kBatchLines + 1)));
    };
    // Ends the batch of the lines before index and waits for the renderer to take it; false
    // when that was the last batch or the wait was given up.
    auto endBatch = [&] {
        limit += kBatchLines;
        ++batches;
        if (travelWaits && (layerCount < 6 || layerCount % (index > lastStepped ? 1 : step) == 0))
            addPoint(0, travelX, travelY, inLayer ? layerTop : z);
        travelWaits = false;
        preview.addPathPoint(-1, x - offsetX, y - offsetY, lastPointZ + 0.2);
        const bool over = index >= lineCount;
        if (over) {
            // Thinned or not, the slider counts the layers kept, one step at a time.
            g_gcodeLayerCount.store(std::max(0, keptLayers - 1));
            layerStep.store(1);
            setProgress(10000);
        }
        preview.publishChunk();
        if (onGcodeReady)
            onGcodeReady(over);
        if (over)
            return false;
        if (!preview.waitUntilTaken(*cancel))
            stopped = true;
        else
            startBatch();
        return !stopped;
    };
    // Batches end after every kBatchLines lines, wherever the moves are.
    auto endBatchesBefore = [&](qint64 line) {
        while (line > limit) {
            passLines(limit + 1);
            if (!endBatch())
                return false;
        }
        return true;
    };

    // The lines are parsed in waves of a piece per core, each piece on its own thread, and
    // handled in order on this one.
    const size_t forTests = g_pieceBytesForTests.load();
    const size_t pieceBytes = forTests ? forTests : size_t(1) << 20;
    startBatch();
    qint64 pieceStart = index;
    while (p < end) {
        if (stopped || cancel->load(std::memory_order_relaxed))
            return fail(QStringLiteral("cancelled"));
        std::vector<Piece> pieces;
        for (unsigned t = 0; t < workerThreads() && p < end; ++t) {
            const char* stop = p + std::min(pieceBytes, size_t(end - p));
            if (stop < end)
                stop = static_cast<const char*>(std::memchr(stop - 1, '\n', size_t(end - (stop - 1)))) + 1;
            pieces.push_back({p, stop, {}, 0});
            p = stop;
        }
        parallelParts(pieces.size(), 1, [&](size_t, size_t b, size_t e) {
            for (size_t i = b; i < e; ++i)
                parsePiece(pieces[i]);
        });
        for (Piece& piece : pieces) {
            for (LineWords& w : piece.words) {
                w.line += pieceStart;
                if (!endBatchesBefore(w.line))
                    return fail(QStringLiteral("cancelled"));
                passLines(w.line);
                handle(w);
            }
            pieceStart += piece.lines;
            std::vector<LineWords>().swap(piece.words);
        }
    }
    if (!endBatchesBefore(lineCount - 1))
        return fail(QStringLiteral("cancelled"));
    passLines(lineCount);
    endBatch(); // the last one
    return true;
}
