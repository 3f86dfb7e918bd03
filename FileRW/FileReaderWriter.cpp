#include "FileRW/FileReaderWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <thread>

#include "FileRW/CheckedWriter.h"
#include "FileRW/ThreeMFReader.h"
#include "app/QsLog.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/ParallelSort.h"

namespace {
constexpr double WeldEps = 1e-6;
constexpr qint64 StlHeader = 84;
constexpr qint64 StlRecord = 50;
// Corner numbers are 32-bit; more triangles than this cannot be indexed.
constexpr qint64 MaxTriangles = (std::numeric_limits<int32_t>::max() - 2) / 3;
// Text lines may be long (names, comments), but not without end.
constexpr size_t MaxTextLine = 1 << 20;

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

// Locale-independent number parse of one whole token.
bool parseNumber(const char* b, const char* e, double& out)
{
    if (b < e && *b == '+')
        ++b;
    const auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e && std::isfinite(out);
}

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

struct Point
{
    double x, y, z;
};

int32_t findRoot(std::vector<int32_t>& parent, int32_t i)
{
    while (parent[size_t(i)] != i) {
        parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        i = parent[size_t(i)];
    }
    return i;
}

// Joins the classes of a and b; the smaller index (the first in sorted order) stays the root,
// so a merged vertex keeps the position that comes first.
void join(std::vector<int32_t>& parent, int32_t a, int32_t b)
{
    a = findRoot(parent, a);
    b = findRoot(parent, b);
    if (a == b)
        return;
    if (a < b)
        parent[size_t(b)] = a;
    else
        parent[size_t(a)] = b;
}

bool near(const Point& a, const Point& b)
{
    return std::fabs(a.x - b.x) < WeldEps && std::fabs(a.y - b.y) < WeldEps && std::fabs(a.z - b.z) < WeldEps;
}

// The weld grid's cell of one coordinate, cells WeldEps wide. From 2^33 mm on, neighbouring
// doubles lie further apart than WeldEps, so each value there gets a cell of its own, keyed by
// its bits (beyond every ordinary cell number, in the same order).
int64_t cellOf(double v)
{
    if (std::fabs(v) < 8589934592.0)
        return int64_t(std::floor(v * 1e6));
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int64_t magnitude = int64_t(bits & 0x7fffffffffffffffULL);
    return v < 0 ? -magnitude : magnitude;
}

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

// Whether some point of a lies within WeldEps of some point of b on every axis, for cells that
// differ by `step` (each -1, 0 or 1): on the axes where the cells agree every pair is near.
bool cellsTouch(const std::vector<Point>& pts, const CellPoint* a, size_t na, const CellPoint* b, size_t nb,
                const int step[3])
{
    if (na * nb <= 64) {
        for (size_t i = 0; i < na; ++i)
            for (size_t j = 0; j < nb; ++j)
                if (near(pts[size_t(a[i].point)], pts[size_t(b[j].point)]))
                    return true;
        return false;
    }
    // Large cells (only in crafted files): with u = step * coordinate on each axis, some pair
    // needs u(b) - u(a) < WeldEps on all three. Sweep the first axis, keep the a's that pass it
    // in a tree over the second axis holding the largest third, and ask it for every b.
    using U = std::array<double, 3>;
    auto lift = [&](const CellPoint* c, size_t n) {
        std::vector<U> out(n);
        for (size_t i = 0; i < n; ++i) {
            const Point& p = pts[size_t(c[i].point)];
            out[i] = {step[0] * p.x, step[1] * p.y, step[2] * p.z};
        }
        std::sort(out.begin(), out.end(), [](const U& l, const U& r) { return l[0] > r[0]; });
        return out;
    };
    const std::vector<U> ua = lift(a, na), ub = lift(b, nb);
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

// Merges the distinct points (sorted by x, y, z) that lie within WeldEps of each other on every
// axis, and so on transitively. Points go into a grid of WeldEps cells: the points of one cell
// are all near each other, and a pair can only be near in the same or a neighbouring cell, so
// the work stays linear however the coordinates crowd. False when cancelled.
bool joinNearPoints(const std::vector<Point>& pts, std::vector<int32_t>& parent, const std::atomic<bool>& cancelled)
{
    const size_t n = pts.size();
    std::vector<CellPoint, BigAllocator<CellPoint>> cells(n);
    for (size_t i = 0; i < n; ++i)
        cells[i] = {cellOf(pts[i].x), cellOf(pts[i].y), cellOf(pts[i].z), int32_t(i)};
    // Sorted by x, the points are already in cell order along x; within a column of equal x
    // cells they usually are too (equal x, sorted by y then z).
    for (size_t b = 0; b < n;) {
        size_t e = b + 1;
        while (e < n && cells[e].cx == cells[b].cx)
            ++e;
        if (!std::is_sorted(cells.begin() + long(b), cells.begin() + long(e))) {
            if (e - b == n) {
                parallelSort(cells, std::less<CellPoint>(), &cancelled);
            } else {
                std::vector<CellPoint> column(cells.begin() + long(b), cells.begin() + long(e));
                parallelSort(column, std::less<CellPoint>(), &cancelled);
                std::copy(column.begin(), column.end(), cells.begin() + long(b));
            }
            if (cancelled.load(std::memory_order_relaxed))
                return false;
        }
        b = e;
    }
    // Runs of equal cells: the points of one run are near each other.
    std::vector<size_t> runs;
    for (size_t i = 0; i < n; ++i) {
        if (i == 0 || cells[i].cx != cells[i - 1].cx || cells[i].cy != cells[i - 1].cy || cells[i].cz != cells[i - 1].cz)
            runs.push_back(i);
        else
            join(parent, cells[i - 1].point, cells[i].point);
    }
    runs.push_back(n);
    const size_t runCount = runs.size() - 1;
    // The 13 neighbours that come later in cell order; walking the runs in order, each one's
    // position only moves forwards.
    static constexpr int Steps[13][3] = {{0, 0, 1},  {0, 1, -1}, {0, 1, 0},  {0, 1, 1},  {1, -1, -1},
                                         {1, -1, 0}, {1, -1, 1}, {1, 0, -1}, {1, 0, 0},  {1, 0, 1},
                                         {1, 1, -1}, {1, 1, 0},  {1, 1, 1}};
    size_t at[13] = {};
    auto before = [&](size_t run, int64_t x, int64_t y, int64_t z) {
        const CellPoint& c = cells[runs[run]];
        return c.cx != x ? c.cx < x : c.cy != y ? c.cy < y : c.cz < z;
    };
    for (size_t r = 0; r < runCount; ++r) {
        if ((r & 0xffff) == 0 && cancelled.load(std::memory_order_relaxed))
            return false;
        const CellPoint& c = cells[runs[r]];
        for (int s = 0; s < 13; ++s) {
            const int64_t x = c.cx + Steps[s][0], y = c.cy + Steps[s][1], z = c.cz + Steps[s][2];
            size_t& o = at[s];
            while (o < runCount && before(o, x, y, z))
                ++o;
            if (o == runCount)
                continue;
            const CellPoint& d = cells[runs[o]];
            if (d.cx != x || d.cy != y || d.cz != z || findRoot(parent, c.point) == findRoot(parent, d.point))
                continue;
            if (cellsTouch(pts, &cells[runs[r]], runs[r + 1] - runs[r], &cells[runs[o]], runs[o + 1] - runs[o], Steps[s]))
                join(parent, c.point, d.point);
        }
    }
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
    const unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
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
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 fileSize = std::max<qint64>(1, file.size());
    CornerList read;
    // The corners of the facet being read; it counts only when it ends with exactly three good ones.
    CornerRecord pending[3];
    int pendingCount = 0;
    bool facetBad = false;
    auto closeFacet = [&] {
        if (!facetBad && pendingCount == 3)
            for (int c = 0; c < 3; ++c) {
                pending[c].corner = int32_t(read.size());
                read.push_back(pending[c]);
            }
        pendingCount = 0;
        facetBad = false;
    };
    auto handleLine = [&](const char* b, const char* e) {
        while (b < e && std::isspace(uchar(*b)))
            ++b;
        while (e > b && std::isspace(uchar(e[-1])))
            --e;
        if (b == e)
            return;
        if (*b != 'v') {
            // Any other keyword starts or ends a facet.
            closeFacet();
            return;
        }
        const char* parts[4][2];
        int n = 0;
        for (const char* p = b; p < e;) {
            while (p < e && std::isspace(uchar(*p)))
                ++p;
            if (p == e)
                break;
            const char* s = p;
            while (p < e && !std::isspace(uchar(*p)))
                ++p;
            if (n < 4) {
                parts[n][0] = s;
                parts[n][1] = p;
            }
            ++n;
        }
        if (n != 4) {
            QLOG_INFO() << "FileRW\\FileReaderWriter @" << __LINE__ << "!4";
            facetBad = true;
            return;
        }
        double v[3];
        for (int k = 0; k < 3; ++k)
            if (!parseNumber(parts[k + 1][0], parts[k + 1][1], v[k])) {
                facetBad = true;
                return;
            }
        if (pendingCount == 3) {
            facetBad = true;
            return;
        }
        pending[pendingCount++] = {v[0], v[1], v[2], 0};
    };

    constexpr qint64 BlockSize = 1 << 20;
    std::vector<char> block(static_cast<size_t>(BlockSize));
    std::string line;
    // A line longer than this is dropped whole; a dropped vertex line spoils its facet.
    bool overlong = false;
    auto dropLine = [&] {
        const size_t start = line.find_first_not_of(" \t\r\v\f");
        QLOG_INFO() << "FileRW\\FileReaderWriter @" << __LINE__ << "line longer than" << MaxTextLine << "bytes dropped";
        if (start != std::string::npos && line[start] == 'v')
            facetBad = true;
        else
            closeFacet();
        line.clear();
        overlong = false;
    };
    qint64 consumed = 0;
    for (;;) {
        if (cancelled)
            return false;
        const qint64 got = file.read(block.data(), BlockSize);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        const char* p = block.data();
        const char* end = p + got;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            const char* stop = nl ? nl : end;
            if (line.empty() && nl && size_t(nl - p) <= MaxTextLine) {
                handleLine(p, nl);
            } else {
                // Past the limit only the line's start is kept, to tell what it was.
                if (!overlong)
                    line.append(p, std::min(stop, p + (MaxTextLine + 1 - line.size())));
                overlong = line.size() > MaxTextLine;
                if (nl) {
                    if (overlong)
                        dropLine();
                    else
                        handleLine(line.data(), line.data() + line.size());
                    line.clear();
                }
            }
            p = nl ? nl + 1 : end;
        }
        consumed += got;
        setProgress(int(std::min(1.0, double(consumed) / double(fileSize)) * 9200.0));
    }
    // The last line counts even without a line feed.
    if (overlong)
        dropLine();
    else if (!line.empty())
        handleLine(line.data(), line.data() + line.size());
    closeFacet();
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
    welded.faces.resize(faceCount);
    setProgress(9300);

    auto stopped = [this] { return cancelled.load(std::memory_order_relaxed); };
    parallelSort(corners, LessXyz(), &cancelled);
    if (stopped())
        return false;
    setProgress(9600);

    // Exactly equal positions first: one distinct point per run.
    std::vector<Point> points;
    std::vector<int32_t, BigAllocator<int32_t>> pointOf(n);
    for (size_t i = 0; i < n; ++i) {
        const CornerRecord& c = corners[i];
        if (points.empty() || c.x != points.back().x || c.y != points.back().y || c.z != points.back().z)
            points.push_back({c.x, c.y, c.z});
        pointOf[i] = int32_t(points.size() - 1);
    }
    // Then points within WeldEps on every axis, whatever lies between them in sorted order.
    std::vector<int32_t> parent(points.size());
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = int32_t(i);
    if (!joinNearPoints(points, parent, cancelled))
        return false;
    std::vector<int32_t> vertexOf(points.size(), -1);
    for (size_t i = 0; i < points.size(); ++i) {
        const int32_t root = findRoot(parent, int32_t(i));
        if (root == int32_t(i)) {
            vertexOf[i] = int32_t(welded.vertices.size());
            welded.vertices.push_back({points[i].x, points[i].y, points[i].z});
        } else {
            vertexOf[i] = vertexOf[size_t(root)];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        const size_t c = size_t(corners[i].corner);
        welded.faces[c / 3][c % 3] = vertexOf[size_t(pointOf[i])];
    }
    CornerList().swap(corners);
    std::vector<Point>().swap(points);
    decltype(pointOf)().swap(pointOf);

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
