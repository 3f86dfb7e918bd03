#include "FileRW/FileReaderWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <numeric>
#include <new>
#include <thread>

#include "FileRW/AsciiStl.h"
#include "FileRW/CheckedWriter.h"
#include "FileRW/ThreeMFReader.h"
#include "app/QsLog.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/ParallelSort.h"
#include "scene/Parallel.h"

namespace {
constexpr double WeldEps = 1e-6;
constexpr qint64 StlHeader = 84;
constexpr qint64 StlRecord = 50;
// Corner numbers are 32-bit; more triangles than this cannot be indexed.
constexpr qint64 MaxTriangles = (std::numeric_limits<int32_t>::max() - 2) / 3;

const char* const kCannotOpen = QT_TRANSLATE_NOOP("FileReaderWriter", "The file cannot be opened.");
const char* const kNoTriangles = QT_TRANSLATE_NOOP("FileReaderWriter", "The file holds no triangles that can be used.");
const char* const kNotNumber = QT_TRANSLATE_NOOP("FileReaderWriter", "The file holds a coordinate that is not a number.");
const char* const kTooManyTriangles = QT_TRANSLATE_NOOP("FileReaderWriter", "The file holds more than %1 triangles.");

QString translated(const char* text)
{
    return QCoreApplication::translate("FileReaderWriter", text);
}

bool finite3(double x, double y, double z)
{
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

float readFloat(const char* p)
{
    const quint32 bits = qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(p));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void putFloat(char* p, double v)
{
    const float f = float(v);
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    qToLittleEndian<quint32>(bits, reinterpret_cast<uchar*>(p));
}

// For the ranges of parallelParts(n, grain): out[k] = the items before range k for which
// pred holds; out.back() = all of them.
template <typename Pred>
std::vector<size_t> countsBefore(size_t n, size_t grain, Pred pred)
{
    std::vector<size_t> counts(partCount(n, grain) + 1, 0);
    parallelParts(n, grain, [&](size_t part, size_t b, size_t e) {
        size_t c = 0;
        for (size_t i = b; i < e; ++i)
            c += pred(i) ? 1 : 0;
        counts[part + 1] = c;
    });
    std::partial_sum(counts.begin(), counts.end(), counts.begin());
    return counts;
}

// The weld's arrays of a few MB, on huge pages too: touched once each, in 4 kB pages they cost
// a fault for every 1000 entries, and float noise makes them several times as long.
template <typename T>
using WeldArray = HugeList<T>;

struct LessXyz
{
    bool operator()(const CornerRecord& a, const CornerRecord& b) const
    {
        if (a.x != b.x)
            return a.x < b.x;
        if (a.y != b.y)
            return a.y < b.y;
        return a.z < b.z;
    }
};

int32_t findRoot(WeldArray<int32_t>& parent, int32_t i)
{
    while (parent[size_t(i)] != i) {
        parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        i = parent[size_t(i)];
    }
    return i;
}

bool near(const CornerRecord& a, const CornerRecord& b)
{
    return std::fabs(a.x - b.x) < WeldEps && std::fabs(a.y - b.y) < WeldEps && std::fabs(a.z - b.z) < WeldEps;
}

// The weld grid's cell of one coordinate, cells WeldEps wide. From 2^33 mm on, neighbouring
// doubles lie further apart than WeldEps, so each value there gets a cell of its own, keyed by
// its bits (beyond every ordinary cell number, in the same order).
int64_t cellOf(double v)
{
    if (std::fabs(v) < 8589934592.0) {
        // floor() by truncation: without SSE4.1 std::floor is a library call, paid per corner.
        const double t = v * 1e6;
        const int64_t i = int64_t(t);
        return i - (double(i) > t ? 1 : 0);
    }
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int64_t magnitude = int64_t(bits & 0x7fffffffffffffffULL);
    return v < 0 ? -magnitude : magnitude;
}

// A group of sorted corners in one cell (its point is the group's number).
struct CellPoint
{
    int64_t cx, cy, cz;
    int32_t point;
    bool operator<(const CellPoint& o) const
    {
        if (cx != o.cx)
            return cx < o.cx;
        if (cy != o.cy)
            return cy < o.cy;
        if (cz != o.cz)
            return cz < o.cz;
        return point < o.point;
    }
};

// The sorted corners, cut into groups of corners in one cell: group g is
// [first[g], first[g + 1]), and equal corners are always in one group.
struct Groups
{
    const CornerList& corners;
    const WeldArray<int32_t>& first;

    // Calls f on each distinct point of the groups in [c, c + n).
    template <typename F>
    void forPoints(const CellPoint* c, size_t n, F f) const
    {
        for (size_t i = 0; i < n; ++i) {
            const size_t g = size_t(c[i].point);
            const size_t e = size_t(first[g + 1]);
            for (size_t k = size_t(first[g]); k < e; ++k)
                if (k == size_t(first[g]) || corners[k].x != corners[k - 1].x || corners[k].y != corners[k - 1].y
                    || corners[k].z != corners[k - 1].z)
                    f(corners[k]);
        }
    }
    size_t cornerCount(const CellPoint* c, size_t n) const
    {
        size_t count = 0;
        for (size_t i = 0; i < n; ++i)
            count += size_t(first[size_t(c[i].point) + 1] - first[size_t(c[i].point)]);
        return count;
    }
    size_t pointCount(const CellPoint* c, size_t n) const
    {
        size_t count = 0;
        forPoints(c, n, [&](const CornerRecord&) { ++count; });
        return count;
    }
};

// Whether some point of a lies within WeldEps of some point of b on every axis, for cells that
// differ by `step` (each -1, 0 or 1): on the axes where the cells agree every pair is near.
bool cellsTouch(const Groups& groups, const CellPoint* a, size_t na, const CellPoint* b, size_t nb, const int step[3])
{
    // Repeated corners only repeat a test; the distinct points are counted only when the corners
    // alone do not settle which way is taken.
    const size_t ca = groups.cornerCount(a, na), cb = groups.cornerCount(b, nb);
    const size_t pa = ca * cb <= 64 ? ca : groups.pointCount(a, na), pb = ca * cb <= 64 ? cb : groups.pointCount(b, nb);
    if (pa * pb <= 64) {
        for (size_t i = 0; i < na; ++i) {
            const size_t ga = size_t(a[i].point);
            for (size_t k = size_t(groups.first[ga]); k < size_t(groups.first[ga + 1]); ++k)
                for (size_t j = 0; j < nb; ++j) {
                    const size_t gb = size_t(b[j].point);
                    for (size_t l = size_t(groups.first[gb]); l < size_t(groups.first[gb + 1]); ++l)
                        if (near(groups.corners[k], groups.corners[l]))
                            return true;
                }
        }
        return false;
    }
    // Large cells (only in crafted files): with u = step * coordinate on each axis, some pair
    // needs u(b) - u(a) < WeldEps on all three. Sweep the first axis, keep the a's that pass it
    // in a tree over the second axis holding the largest third, and ask it for every b.
    using U = std::array<double, 3>;
    auto lift = [&](const CellPoint* c, size_t n, size_t points) {
        std::vector<U> out;
        out.reserve(points);
        groups.forPoints(c, n, [&](const CornerRecord& p) { out.push_back({step[0] * p.x, step[1] * p.y, step[2] * p.z}); });
        std::sort(out.begin(), out.end(), [](const U& l, const U& r) { return l[0] > r[0]; });
        return out;
    };
    const std::vector<U> ua = lift(a, na, pa), ub = lift(b, nb, pb);
    na = ua.size();
    std::vector<double> ys(na);
    for (size_t i = 0; i < na; ++i)
        ys[i] = ua[i][1];
    std::sort(ys.begin(), ys.end(), std::greater<double>());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    // Prefix maxima over the second axis, largest first (a Fenwick tree).
    std::vector<double> tree(ys.size() + 1, -std::numeric_limits<double>::infinity());
    size_t taken = 0;
    for (const U& q : ub) {
        for (; taken < na && ua[taken][0] > q[0] - WeldEps; ++taken) {
            const size_t rank = size_t(std::lower_bound(ys.begin(), ys.end(), ua[taken][1], std::greater<double>()) - ys.begin());
            for (size_t k = rank + 1; k < tree.size(); k += k & (~k + 1))
                tree[k] = std::max(tree[k], ua[taken][2]);
        }
        size_t count = size_t(std::lower_bound(ys.begin(), ys.end(), q[1] - WeldEps, std::greater<double>()) - ys.begin());
        double best = -std::numeric_limits<double>::infinity();
        for (; count > 0; count -= count & (~count + 1))
            best = std::max(best, tree[count]);
        if (best > q[2] - WeldEps)
            return true;
    }
    return false;
}

// Merges the groups of sorted corners whose points lie within WeldEps of each other on every
// axis, and so on transitively; parent[g] becomes the first group of g's class. Groups go into a
// grid of WeldEps cells: the points of one cell are all near each other, and a pair can only be
// near in the same or a neighbouring cell, so the work stays linear however the coordinates
// crowd. Classes are joined cell by cell. False when cancelled.
bool joinNearPoints(const Groups& groups, WeldArray<int32_t>& parent, const std::atomic<bool>& cancelled)
{
    const size_t n = groups.first.size() - 1;
    WeldArray<CellPoint> cells(n);
    parallelRanges(n, 1 << 16, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i) {
            const CornerRecord& c = groups.corners[size_t(groups.first[i])];
            cells[i] = {cellOf(c.x), cellOf(c.y), cellOf(c.z), int32_t(i)};
        }
    });
    // Sorted by x, the points are already in cell order along x; within a column of equal x
    // cells they usually are too (equal x, sorted by y then z). With float noise nearly every
    // point opens a short column of its own: those are sorted in place, on every core.
    constexpr size_t LongColumn = 1 << 16;
    std::vector<std::pair<size_t, size_t>> longColumns;
    std::mutex longLock;
    parallelRanges(n, 1 << 16, [&](size_t b, size_t e) {
        // A column belongs to the range it starts in.
        while (b > 0 && b < e && cells[b].cx == cells[b - 1].cx)
            ++b;
        while (b < e) {
            size_t end = b + 1;
            while (end < n && cells[end].cx == cells[b].cx)
                ++end;
            if (end - b >= LongColumn) {
                std::lock_guard<std::mutex> lk(longLock);
                longColumns.emplace_back(b, end);
            } else if (!std::is_sorted(cells.begin() + long(b), cells.begin() + long(end))) {
                std::sort(cells.begin() + long(b), cells.begin() + long(end));
            }
            b = end;
        }
    });
    for (const auto& c : longColumns) {
        if (!std::is_sorted(cells.begin() + long(c.first), cells.begin() + long(c.second)))
            parallelSortRange(cells.data() + c.first, std::ptrdiff_t(c.second - c.first), std::less<CellPoint>(), &cancelled);
        if (cancelled.load(std::memory_order_relaxed))
            return false;
    }
    auto sameCell = [](const CellPoint& a, const CellPoint& b) { return a.cx == b.cx && a.cy == b.cy && a.cz == b.cz; };
    // Runs of equal cells: the points of one run are near each other, and its first point is
    // its smallest.
    const std::vector<size_t> runsBefore =
        countsBefore(n, 1 << 16, [&](size_t i) { return i == 0 || !sameCell(cells[i], cells[i - 1]); });
    WeldArray<int32_t> runs(runsBefore.back() + 1);
    parallelParts(n, 1 << 16, [&](size_t part, size_t b, size_t e) {
        size_t at = runsBefore[part];
        for (size_t i = b; i < e; ++i)
            if (i == 0 || !sameCell(cells[i], cells[i - 1]))
                runs[at++] = int32_t(i);
    });
    runs.back() = int32_t(n);
    const size_t runCount = runs.size() - 1;
    // Classes of runs, each rooted at the run whose first point is smallest.
    WeldArray<int32_t> runParent(runCount);
    WeldArray<int32_t> runFirst(runCount);
    parallelRanges(runCount, 1 << 16, [&](size_t b, size_t e) {
        for (size_t r = b; r < e; ++r) {
            runParent[r] = int32_t(r);
            runFirst[r] = cells[size_t(runs[r])].point;
        }
    });
    auto firstPoint = [&](int32_t run) { return runFirst[size_t(run)]; };
    auto joinRuns = [&](int32_t a, int32_t b) {
        a = findRoot(runParent, a);
        b = findRoot(runParent, b);
        if (a == b)
            return;
        if (firstPoint(a) < firstPoint(b))
            runParent[size_t(b)] = a;
        else
            runParent[size_t(a)] = b;
    };
    // The 13 neighbours that come later in cell order; walking the runs in order, each one's
    // position only moves forwards.
    static constexpr int Steps[13][3] = {{0, 0, 1},  {0, 1, -1}, {0, 1, 0},  {0, 1, 1},  {1, -1, -1},
                                         {1, -1, 0}, {1, -1, 1}, {1, 0, -1}, {1, 0, 0},  {1, 0, 1},
                                         {1, 1, -1}, {1, 1, 0},  {1, 1, 1}};
    auto before = [&](size_t run, int64_t x, int64_t y, int64_t z) {
        const CellPoint& c = cells[size_t(runs[run])];
        return c.cx != x ? c.cx < x : c.cy != y ? c.cy < y : c.cz < z;
    };
    // Pairs of neighbouring runs whose points touch, found on every core and joined in order.
    std::vector<std::vector<std::pair<int32_t, int32_t>>> touching(partCount(runCount, 1 << 14));
    std::atomic<bool> stop{false};
    parallelParts(runCount, 1 << 14, [&](size_t part, size_t first, size_t last) {
        std::vector<std::pair<int32_t, int32_t>>& pairs = touching[part];
        // Float noise gives about one pair per run; rarely more.
        pairs.reserve(last - first);
        // Each neighbour lies later in cell order than its run.
        size_t at[13];
        std::fill(at, at + 13, first);
        for (size_t r = first; r < last; ++r) {
            if ((r & 0xffff) == 0 && (stop.load(std::memory_order_relaxed) || cancelled.load(std::memory_order_relaxed))) {
                stop = true;
                return;
            }
            const CellPoint& c = cells[size_t(runs[r])];
            for (int s = 0; s < 13; ++s) {
                const int64_t x = c.cx + Steps[s][0], y = c.cy + Steps[s][1], z = c.cz + Steps[s][2];
                size_t& o = at[s];
                while (o < runCount && before(o, x, y, z))
                    ++o;
                if (o == runCount)
                    continue;
                const CellPoint& d = cells[size_t(runs[o])];
                if (d.cx != x || d.cy != y || d.cz != z)
                    continue;
                if (cellsTouch(groups, &cells[size_t(runs[r])], size_t(runs[r + 1] - runs[r]), &cells[size_t(runs[o])],
                               size_t(runs[o + 1] - runs[o]), Steps[s]))
                    pairs.emplace_back(int32_t(r), int32_t(o));
            }
        }
    });
    if (stop.load())
        return false;
    for (const auto& pairs : touching)
        for (const auto& p : pairs)
            joinRuns(p.first, p.second);
    // Every run names its root itself: halving alone leaves longer paths pointing part way.
    for (size_t r = 0; r < runCount; ++r)
        runParent[r] = findRoot(runParent, int32_t(r));
    parallelRanges(runCount, 1 << 14, [&](size_t b, size_t e) {
        for (size_t r = b; r < e; ++r) {
            const int32_t root = firstPoint(runParent[r]);
            for (int32_t i = runs[r]; i < runs[r + 1]; ++i)
                parent[size_t(cells[size_t(i)].point)] = root;
        }
    });
    return true;
}
} // namespace

FileReaderWriter::FileReaderWriter() = default;

FileReaderWriter::~FileReaderWriter() = default;

int FileReaderWriter::getFileType(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "obj")
        return 1;
    if (suffix == "stl")
        return 2;
    if (suffix == "bmp" || suffix == "png" || suffix == "jpg")
        return 3;
    return 0;
}

bool FileReaderWriter::loadMesh(const QString& path, MeshData* mesh)
{
    setProgress(0);
    fileName = path;
    target = mesh;
    failureReason.clear();
    overModelLimit = false;
    CornerList().swap(corners);
    if (!mesh)
        return false;
    bool ok = false;
    try {
        switch (getFileType(path)) {
        case 1:
            loadObj();
            break;
        case 2:
            if (!loadBinaryStl() && !cancelled && failureReason.isEmpty())
                loadAsciiStl();
            break;
        case 3:
            loadImageRelief();
            break;
        // Further mesh formats hook in here by their type.
        default:
            return false;
        }
        ok = !cancelled && failureReason.isEmpty() && weldVertices();
    } catch (const std::bad_alloc&) {
        QLOG_INFO() << "FileRW\\FileReaderWriter @" << __LINE__ << "out of memory loading" << path;
        failureReason = outOfMemoryReason();
        ok = false;
    }
    CornerList().swap(corners);
    // Every reader's refusal says why; what none of them named is told apart here.
    if (!ok && !cancelled && failureReason.isEmpty())
        failureReason = translated(QFile(path).open(QIODevice::ReadOnly) ? kNoTriangles : kCannotOpen);
    return ok;
}

QString FileReaderWriter::outOfMemoryReason()
{
    return ThreeMFReader::outOfMemoryReason();
}

bool FileReaderWriter::saveMesh(const QString& path, MeshData* mesh)
{
    fileName = path;
    source = mesh;
    failureReason.clear();
    switch (getFileType(path)) {
    case 1:
        return saveObj();
    case 2:
        return saveBinaryStl();
    case 3:
        return true;
    // Further mesh formats hook in here by their type.
    default:
        return false;
    }
}

bool FileReaderWriter::loadModel(const QString& path, LoadedModel& out)
{
    out = LoadedModel();
    try {
        auto mesh = std::make_unique<MeshData>();
        if (!loadMesh(path, mesh.get()))
            return false;
        out = LoadedModel::fromMesh(std::move(mesh), QFileInfo(path).completeBaseName().toLocal8Bit().toStdString(),
                                   &cancelled, &failureReason);
    } catch (const std::bad_alloc&) {
        out = LoadedModel();
        failureReason = outOfMemoryReason();
        return false;
    }
    return out.isValid();
}

bool FileReaderWriter::loadBinaryStl()
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 fileSize = file.size();
    if (fileSize < StlHeader)
        return false;
    char head[StlHeader];
    if (file.read(head, StlHeader) != StlHeader)
        return false;
    const qint64 count = qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(head + 80));
    if (count * StlRecord + StlHeader != fileSize)
        return false;
    if (count > MaxTriangles) {
        QLOG_INFO() << "FileRW\\FileReaderWriter @" << __LINE__ << "too many triangles" << count;
        failureReason = translated(kTooManyTriangles).arg(MaxTriangles);
        return false;
    }
    CornerList read;
    read.reserve(size_t(count) * 3);
    adviseHugePages(read.data(), read.capacity() * sizeof(CornerRecord));
    read.resize(size_t(count) * 3); // records stay uninitialised; every one is written below
    // Read in large blocks of whole records; each block is parsed from memory by several threads.
    constexpr qint64 BlockRecords = 160000;
    std::vector<char> buffer(size_t(std::min(count, BlockRecords) * StlRecord));
    const unsigned threads = workerThreads();
    std::atomic<bool> finite{true};
    qint64 done = 0;
    while (done < count) {
        if (cancelled)
            return false;
        const qint64 records = std::min(BlockRecords, count - done);
        const qint64 bytes = records * StlRecord;
        if (file.read(buffer.data(), bytes) != bytes)
            return false;
        auto parse = [&, done](qint64 from, qint64 to) {
            CornerRecord* out = read.data() + (done + from) * 3;
            for (qint64 r = from; r < to; ++r) {
                const char* p = buffer.data() + r * StlRecord + 12;
                for (int c = 0; c < 3; ++c, p += 12, ++out) {
                    const double x = readFloat(p), y = readFloat(p + 4), z = readFloat(p + 8);
                    if (!finite3(x, y, z))
                        finite.store(false, std::memory_order_relaxed);
                    *out = CornerRecord(x, y, z, int32_t(out - read.data()));
                }
            }
        };
        if (threads < 2 || records < 20000) {
            parse(0, records);
        } else {
            std::vector<std::thread> pool;
            for (unsigned t = 0; t < threads; ++t)
                pool.emplace_back(parse, records * t / threads, records * (t + 1) / threads);
            for (auto& t : pool)
                t.join();
        }
        if (!finite.load()) {
            failureReason = translated(kNotNumber);
            return false;
        }
        done += records;
        setProgress(int(done * 9200.0 / double(count)));
    }
    corners.swap(read);
    return true;
}

bool FileReaderWriter::loadAsciiStl()
{
    CornerList read;
    if (!AsciiStl::readCorners(fileName, read, progress, cancelled))
        return false;
    if (qint64(read.size()) / 3 > MaxTriangles) {
        failureReason = translated(kTooManyTriangles).arg(MaxTriangles);
        return false;
    }
    corners.swap(read);
    return true;
}

bool FileReaderWriter::saveBinaryStl()
{
    if (!source)
        return false;
    const MeshData& mesh = *source;
    const size_t nv = mesh.vertices.size();
    auto unusable = [this](const char* why) {
        failureReason = CheckedWriter::cannotWrite(fileName, QString::fromLatin1(why));
        return false;
    };
    if (mesh.faces.size() > size_t(std::numeric_limits<quint32>::max()))
        return unusable("too many triangles for an STL file");
    for (const auto& f : mesh.faces)
        for (int k = 0; k < 3; ++k)
            if (f[k] < 0 || size_t(f[k]) >= nv)
                return unusable("a triangle refers to a missing vertex");
    CheckedWriter file(fileName);
    auto failed = [&] {
        failureReason = file.errorString();
        return false;
    };
    if (!file.open())
        return failed();
    char head[StlHeader] = {};
    qToLittleEndian<quint32>(quint32(mesh.faces.size()), reinterpret_cast<uchar*>(head + 80));
    if (!file.write(head, StlHeader))
        return failed();
    constexpr size_t BlockRecords = 20000;
    std::vector<char> buffer(BlockRecords * size_t(StlRecord));
    const size_t count = mesh.faces.size();
    size_t i = 0;
    while (i < count) {
        const size_t records = std::min(BlockRecords, count - i);
        char* p = buffer.data();
        for (size_t r = 0; r < records; ++r, ++i) {
            const auto& f = mesh.faces[i];
            const auto& a = mesh.vertices[size_t(f[0])];
            const auto& b = mesh.vertices[size_t(f[1])];
            const auto& c = mesh.vertices[size_t(f[2])];
            const double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            const double e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
            const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            for (double& v : n)
                v = len > 0.0 && std::isfinite(len) ? v / len : 0.0;
            for (int k = 0; k < 3; ++k)
                putFloat(p + 4 * k, n[k]);
            p += 12;
            for (const auto* v : {&a, &b, &c}) {
                for (int k = 0; k < 3; ++k)
                    putFloat(p + 4 * k, (*v)[size_t(k)]);
                p += 12;
            }
            p[0] = 0;
            p[1] = 0;
            p += 2;
        }
        if (!file.write(buffer.data(), qint64(records) * StlRecord))
            return failed();
        setProgress(int(double(i) * 10000.0 / double(count)));
    }
    return file.commit() || failed();
}

bool FileReaderWriter::weldVertices()
{
    if (corners.size() < 3 || !target)
        return false;
    // Trailing corners that make no whole triangle belong to no face and no vertex.
    const size_t faceCount = corners.size() / 3;
    corners.resize(faceCount * 3);
    const size_t n = corners.size();
    for (size_t i = 0; i < n; ++i)
        corners[i].corner = int32_t(i);
    MeshData welded;
    // The mesh's own lists are filled at once: fresh, on huge pages they fault a few times, not
    // once per 4 kB.
    welded.faces.reserve(faceCount);
    adviseHugePages(welded.faces.data(), faceCount * sizeof(welded.faces[0]));
    welded.faces.resize(faceCount);
    setProgress(9300);

    auto stopped = [this] { return cancelled.load(std::memory_order_relaxed); };
    parallelSort(corners, LessXyz(), &cancelled);
    if (stopped())
        return false;
    setProgress(9600);

    // Corners in a row that share a weld cell are near each other: they go in one group, so that
    // float noise, which leaves several points where one was meant, adds no more groups than
    // the cells it crosses. Equal corners share a cell, and their cells are not worked out.
    auto startsGroup = [&](size_t i) {
        if (i == 0)
            return true;
        const CornerRecord &a = corners[i - 1], &b = corners[i];
        return (a.x != b.x && cellOf(a.x) != cellOf(b.x)) || (a.y != b.y && cellOf(a.y) != cellOf(b.y))
               || (a.z != b.z && cellOf(a.z) != cellOf(b.z));
    };
    // Each part numbers its groups from 0 while it counts them, then adds the groups before it.
    WeldArray<int32_t> groupOf(n);
    std::vector<size_t> groupsBefore(partCount(n, 1 << 16) + 1, 0);
    parallelParts(n, 1 << 16, [&](size_t part, size_t b, size_t e) {
        int32_t at = -1;
        for (size_t i = b; i < e; ++i) {
            at += startsGroup(i) ? 1 : 0;
            groupOf[i] = at;
        }
        groupsBefore[part + 1] = size_t(at + 1);
    });
    std::partial_sum(groupsBefore.begin(), groupsBefore.end(), groupsBefore.begin());
    WeldArray<int32_t> groupFirst(groupsBefore.back() + 1);
    parallelParts(n, 1 << 16, [&](size_t part, size_t b, size_t e) {
        // A part that goes on with the group before it starts at -1.
        const int32_t base = int32_t(groupsBefore[part]);
        int32_t previous = -1;
        for (size_t i = b; i < e; ++i) {
            const int32_t local = groupOf[i];
            if (local != previous)
                groupFirst[size_t(local + base)] = int32_t(i);
            previous = local;
            groupOf[i] = local + base;
        }
    });
    groupFirst.back() = int32_t(n);
    // Then groups within WeldEps on every axis, whatever lies between them in sorted order.
    const size_t groupCount = groupFirst.size() - 1;
    WeldArray<int32_t> parent(groupCount);
    if (!joinNearPoints(Groups{corners, groupFirst}, parent, cancelled))
        return false;
    // Each class becomes the vertex at its first point; vertices keep the points' order.
    auto isRoot = [&](size_t i) { return parent[i] == int32_t(i); };
    const std::vector<size_t> verticesBefore = countsBefore(groupCount, 1 << 16, isRoot);
    welded.vertices.reserve(verticesBefore.back());
    adviseHugePages(welded.vertices.data(), verticesBefore.back() * sizeof(welded.vertices[0]));
    welded.vertices.resize(verticesBefore.back());
    WeldArray<int32_t> vertexOf(groupCount);
    parallelParts(groupCount, 1 << 16, [&](size_t part, size_t b, size_t e) {
        int32_t at = int32_t(verticesBefore[part]);
        for (size_t i = b; i < e; ++i)
            if (isRoot(i)) {
                const CornerRecord& c = corners[size_t(groupFirst[i])];
                welded.vertices[size_t(at)] = {c.x, c.y, c.z};
                vertexOf[i] = at++;
            }
    });
    parallelRanges(n, 1 << 16, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i) {
            const size_t c = size_t(corners[i].corner);
            welded.faces[c / 3][c % 3] = vertexOf[size_t(parent[size_t(groupOf[i])])];
        }
    });
    CornerList().swap(corners);
    decltype(groupFirst)().swap(groupFirst);
    decltype(groupOf)().swap(groupOf);

    setProgress(9700);
    MeshData::sortFaces(welded, &cancelled);
    if (welded.faces.empty() || stopped())
        return false;
    setProgress(9900);
    if (!MeshData::computeNormals(welded, &cancelled))
        return false;
    std::swap(target->vertices, welded.vertices);
    std::swap(target->faces, welded.faces);
    std::swap(target->normals, welded.normals);
    return true;
}
