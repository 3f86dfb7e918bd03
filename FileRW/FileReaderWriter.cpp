#include "FileRW/FileReaderWriter.h"

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

// Merges the distinct points (sorted by x, y, z) that lie within WeldEps of each other on every
// axis. The search walks each point's few neighbours in sorted order: points with the same x
// (sorted by y, then z), then points of the next x values less than WeldEps away.
void joinNearPoints(const std::vector<Point>& pts, std::vector<int32_t>& parent)
{
    const size_t n = pts.size();
    // Ends of runs of equal x and of equal (x, y).
    std::vector<int32_t> xEnd(n), yEnd(n);
    for (size_t i = n; i-- > 0;) {
        const bool sameX = i + 1 < n && pts[i + 1].x == pts[i].x;
        xEnd[i] = sameX ? xEnd[i + 1] : int32_t(i + 1);
        yEnd[i] = sameX && pts[i + 1].y == pts[i].y ? yEnd[i + 1] : int32_t(i + 1);
    }
    auto close = [&](size_t i, size_t j) {
        return std::fabs(pts[j].x - pts[i].x) < WeldEps && std::fabs(pts[j].y - pts[i].y) < WeldEps
               && std::fabs(pts[j].z - pts[i].z) < WeldEps;
    };
    // Scans the block [from, blockEnd) of equal x, sorted by (y, z), for partners of i.
    auto scanBlock = [&](size_t i, size_t from, size_t blockEnd) {
        size_t j = from;
        while (j < blockEnd && pts[j].y < pts[i].y + WeldEps) {
            // One run of equal y, sorted by z: find z near pts[i].z by binary search.
            const size_t runEnd = size_t(yEnd[j]);
            const double lo = pts[i].z - WeldEps;
            auto it = std::lower_bound(pts.begin() + long(j), pts.begin() + long(runEnd), lo,
                                       [](const Point& p, double v) { return p.z <= v; });
            for (size_t k = size_t(it - pts.begin()); k < runEnd && pts[k].z < pts[i].z + WeldEps; ++k)
                if (k != i && close(i, k))
                    join(parent, int32_t(i), int32_t(k));
            j = runEnd;
        }
    };
    for (size_t i = 0; i < n; ++i) {
        // The rest of this point's own x block, from its own y run on.
        scanBlock(i, i + 1, size_t(xEnd[i]));
        // Later x blocks less than WeldEps away (none on ordinary meshes).
        for (size_t b = size_t(xEnd[i]); b < n && pts[b].x < pts[i].x + WeldEps; b = size_t(xEnd[b])) {
            const double lo = pts[i].y - WeldEps;
            auto it = std::lower_bound(pts.begin() + long(b), pts.begin() + long(xEnd[b]), lo,
                                       [](const Point& p, double v) { return p.y <= v; });
            scanBlock(i, size_t(it - pts.begin()), size_t(xEnd[b]));
        }
    }
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
            if (!loadBinaryStl())
                loadAsciiStl();
            break;
        case 3:
            loadImageRelief();
            break;
        // Further mesh formats hook in here by their type.
        default:
            return false;
        }
        ok = weldVertices();
    } catch (const std::bad_alloc&) {
        QLOG_INFO() << "FileRW\\FileReaderWriter @" << __LINE__ << "out of memory loading" << path;
        ok = false;
    }
    CornerList().swap(corners);
    return ok;
}

bool FileReaderWriter::saveMesh(const QString& path, MeshData* mesh)
{
    fileName = path;
    source = mesh;
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
        out = LoadedModel::fromMesh(std::move(mesh), QFileInfo(path).completeBaseName().toLocal8Bit().toStdString());
    } catch (const std::bad_alloc&) {
        out = LoadedModel();
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
        if (!finite.load())
            return false;
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
    constexpr size_t MaxLine = 255;
    std::vector<char> block(static_cast<size_t>(BlockSize));
    std::string line;
    qint64 consumed = 0;
    for (;;) {
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
            if (line.empty() && nl && size_t(nl - p) < MaxLine) {
                handleLine(p, nl);
            } else {
                line.append(p, stop);
                if (line.size() + (nl ? 1 : 0) > MaxLine) {
                    QLOG_INFO() << "FileRW\\FileReaderWriter @" << __LINE__ << "LoadAssicSTL2 end false";
                    return false;
                }
                if (nl) {
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
    if (!line.empty())
        handleLine(line.data(), line.data() + line.size());
    closeFacet();
    if (qint64(read.size()) / 3 > MaxTriangles)
        return false;
    corners.swap(read);
    return true;
}

bool FileReaderWriter::saveBinaryStl()
{
    if (!source)
        return false;
    const MeshData& mesh = *source;
    const size_t nv = mesh.vertices.size();
    if (mesh.faces.size() > size_t(std::numeric_limits<quint32>::max()))
        return false;
    for (const auto& f : mesh.faces)
        for (int k = 0; k < 3; ++k)
            if (f[k] < 0 || size_t(f[k]) >= nv)
                return false;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    char head[StlHeader] = {};
    qToLittleEndian<quint32>(quint32(mesh.faces.size()), reinterpret_cast<uchar*>(head + 80));
    if (file.write(head, StlHeader) != StlHeader)
        return false;
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
        const qint64 bytes = qint64(records) * StlRecord;
        if (file.write(buffer.data(), bytes) != bytes)
            return false;
        setProgress(int(double(i) * 10000.0 / double(count)));
    }
    if (!file.flush())
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
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

    parallelSort(corners, LessXyz());
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
    joinNearPoints(points, parent);
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
    MeshData::sortFaces(welded);
    if (welded.faces.empty())
        return false;
    setProgress(9900);
    MeshData::computeNormals(welded);
    std::swap(target->vertices, welded.vertices);
    std::swap(target->faces, welded.faces);
    std::swap(target->normals, welded.normals);
    return true;
}
