#include "FileRW/ObjFile.h"

#include <QFile>

#include <charconv>
#include <cmath>
#include <cstring>

#include "FileRW/CheckedWriter.h"
#include "FileRW/PolygonTriangulator.h"
#include "app/QsLog.h"
#include "scene/MeshData.h"

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A cursor over one line.
struct LineCursor
{
    const char* p;
    const char* end;

    void skipSpace()
    {
        while (p < end && isSpace(*p))
            ++p;
    }
    // The next whitespace-separated token, empty at the end.
    std::pair<const char*, const char*> token()
    {
        skipSpace();
        const char* b = p;
        while (p < end && !isSpace(*p))
            ++p;
        return {b, p};
    }
};

bool parseDouble(const char* b, const char* e, double& out)
{
    if (b < e && *b == '+')
        ++b;
    auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e;
}

// The leading integer of a face reference ("12", "12/4/7", "-3//2").
bool parseReference(const char* b, const char* e, long long& out)
{
    if (b < e && *b == '+')
        ++b;
    auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && (r.ptr == e || *r.ptr == '/');
}

struct ObjParser
{
    std::vector<std::array<double, 3>> vertices;
    std::vector<char> valid; // a "v" line without three finite numbers keeps its number
    CornerList corners;
    std::vector<long long> refs;
    std::vector<PolygonTriangulator::Point3> polygon;
    std::vector<PolygonTriangulator::Triangle> triangles;
    qint64 lineNumber = 0;
    qint64 droppedFaces = 0;
    const std::atomic<bool>* cancelled = nullptr;

    bool cancelledNow() const { return cancelled && cancelled->load(std::memory_order_relaxed); }

    // A line too long to read: a vertex still takes its number, so later references keep
    // their meaning; anything else is simply skipped.
    void dropLine(const char* b, const char* e)
    {
        ++lineNumber;
        LineCursor cur{b, e};
        const auto key = cur.token();
        if (key.second - key.first == 1 && *key.first == 'v') {
            vertices.push_back({0.0, 0.0, 0.0});
            valid.push_back(0);
        } else if (key.second - key.first == 1 && *key.first == 'f') {
            ++droppedFaces;
        }
    }

    void addCorner(int32_t index)
    {
        const auto& v = vertices[size_t(index)];
        corners.push_back({v[0], v[1], v[2], int32_t(corners.size())});
    }

    void parseLine(const char* b, const char* e)
    {
        ++lineNumber;
        if (!std::memchr(b, 'v', size_t(e - b)) && !std::memchr(b, 'f', size_t(e - b)))
            return;
        LineCursor cur{b, e};
        const auto key = cur.token();
        const size_t keyLen = size_t(key.second - key.first);
        if (keyLen != 1)
            return;
        if (*key.first == 'v')
            parseVertex(cur);
        else if (*key.first == 'f')
            parseFace(cur);
    }

    void parseVertex(LineCursor& cur)
    {
        std::array<double, 3> v{0.0, 0.0, 0.0};
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            const auto t = cur.token();
            ok = t.first < t.second && parseDouble(t.first, t.second, v[size_t(i)]) && std::isfinite(v[size_t(i)]);
        }
        vertices.push_back(v);
        valid.push_back(ok ? 1 : 0);
    }

    void parseFace(LineCursor& cur)
    {
        refs.clear();
        for (;;) {
            const auto t = cur.token();
            long long r = 0;
            if (t.first == t.second || !parseReference(t.first, t.second, r))
                break;
            refs.push_back(r);
        }
        if (refs.size() < 3)
            return; // fewer than three references make no triangle
        const long long count = (long long)vertices.size();
        for (long long& r : refs) {
            r = r >= 1 ? r - 1 : r + count;
            if (r < 0 || r >= count || !valid[size_t(r)]) {
                ++droppedFaces;
                QLOG_INFO() << "FileRW\\ObjFile@" << __LINE__ << "face on line" << lineNumber
                            << "refers to a missing vertex; dropped";
                return;
            }
        }
        if (refs.size() == 3) {
            for (long long r : refs)
                addCorner(int32_t(r));
            return;
        }
        polygon.clear();
        for (long long r : refs)
            polygon.push_back(vertices[size_t(r)]);
        PolygonTriangulator tri;
        tri.cancelled = cancelled;
        triangles.clear();
        if (tri.projectPolygon(polygon))
            tri.earClip(triangles);
        if (triangles.empty()) {
            ++droppedFaces;
            QLOG_INFO() << "FileRW\\ObjFile@" << __LINE__ << "polygon on line" << lineNumber << "cannot be filled; dropped";
        }
        for (const auto& t : triangles)
            for (int32_t k : t)
                addCorner(int32_t(refs[size_t(k)]));
    }
};

} // namespace

bool ObjFile::readCorners(const QString& path, CornerList& corners,
                          std::atomic<int>& progress, const std::atomic<bool>& cancelled)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 total = file.size();
    ObjParser parser;
    parser.cancelled = &cancelled;
    QByteArray block;
    QByteArray carry; // the unfinished line of the previous block
    bool overlong = false; // carry holds only the start of a line past kMaxLine
    auto dropLine = [&] {
        QLOG_INFO() << "FileRW\\ObjFile@" << __LINE__ << "line" << parser.lineNumber + 1 << "longer than"
                    << kMaxLine << "bytes dropped";
        parser.dropLine(carry.constData(), carry.constData() + carry.size());
        carry.clear();
        overlong = false;
    };
    qint64 done = 0;
    constexpr qint64 kBlock = 1 << 20;
    for (;;) {
        if (cancelled.load(std::memory_order_relaxed))
            return false;
        block = file.read(kBlock);
        const bool atEnd = block.isEmpty();
        if (atEnd && file.error() != QFileDevice::NoError)
            return false;
        const char* b = block.constData();
        const char* e = b + block.size();
        while (b < e) {
            if (parser.cancelledNow())
                return false;
            const char* nl = static_cast<const char*>(std::memchr(b, '\n', size_t(e - b)));
            const char* stop = nl ? nl : e;
            if (carry.isEmpty() && nl && nl - b <= kMaxLine) {
                parser.parseLine(b, nl);
            } else {
                // Past the limit only the line's start is kept, to tell what it was.
                if (!overlong)
                    carry.append(b, int(std::min<qint64>(stop - b, kMaxLine + 1 - carry.size())));
                overlong = carry.size() > kMaxLine;
                if (nl) {
                    if (overlong)
                        dropLine();
                    else
                        parser.parseLine(carry.constData(), carry.constData() + carry.size());
                    carry.clear();
                }
            }
            b = nl ? nl + 1 : e;
        }
        if (atEnd)
            break;
        done += block.size();
        if (total > 0)
            progress = int(std::min<qint64>(done, total) * 9200 / total);
    }
    // The last line needs no line feed.
    if (overlong)
        dropLine();
    else if (!carry.isEmpty())
        parser.parseLine(carry.constData(), carry.constData() + carry.size());
    if (parser.cancelledNow())
        return false;
    if (parser.droppedFaces) {
        QLOG_INFO() << "FileRW\\ObjFile@" << __LINE__ << path << ":" << parser.droppedFaces << "faces dropped";
    }
    const int32_t base = int32_t(corners.size());
    if (corners.empty()) {
        corners.swap(parser.corners);
    } else {
        for (CornerRecord c : parser.corners) {
            c.corner += base;
            corners.push_back(c);
        }
    }
    progress = 9200;
    return true;
}

bool ObjFile::write(const QString& path, const MeshData& mesh, std::atomic<int>& progress, QString* error)
{
    CheckedWriter file(path);
    auto failed = [&] {
        if (error)
            *error = file.errorString();
        return false;
    };
    if (!file.open(true))
        return failed();
    const qint64 total = qint64(mesh.vertices.size()) + qint64(mesh.faces.size());
    QByteArray buffer;
    buffer.reserve(1 << 20);
    auto flush = [&]() {
        const bool ok = file.write(buffer);
        buffer.clear();
        return ok;
    };
    qint64 k = 0;
    for (const auto& v : mesh.vertices) {
        buffer += "v ";
        buffer += QByteArray::number(v[0], 'g', 6);
        buffer += ' ';
        buffer += QByteArray::number(v[1], 'g', 6);
        buffer += ' ';
        buffer += QByteArray::number(v[2], 'g', 6);
        buffer += '\n';
        if ((++k & 0xffff) == 0) {
            progress = int(k * 10000 / total);
            if (!flush())
                return failed();
        }
    }
    for (const auto& f : mesh.faces) {
        buffer += "f ";
        buffer += QByteArray::number(qint64(f[0]) + 1);
        buffer += ' ';
        buffer += QByteArray::number(qint64(f[1]) + 1);
        buffer += ' ';
        buffer += QByteArray::number(qint64(f[2]) + 1);
        buffer += '\n';
        if ((++k & 0xffff) == 0) {
            progress = int(k * 10000 / total);
            if (!flush())
                return failed();
        }
    }
    if (!flush() || !file.commit())
        return failed();
    progress = 10000;
    return true;
}
