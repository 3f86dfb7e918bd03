#include "FileRW/ThreeMFReader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QXmlStreamReader>

#include <climits>
#include <cmath>
#include <new>

#include <unistd.h>

#include <quazip.h>
#include <quazipfile.h>

#include "app/QsLog.h"
#include "scene/MeshData.h"

namespace {
constexpr int kMaxDepth = 64; // components nest a few levels in real files
constexpr qint64 kSaturated = qint64(1) << 60;

qint64 saturatedAdd(qint64 a, qint64 b)
{
    return std::min(kSaturated, a + b);
}

// Millimetres per unit; millimetres when the unit is missing or unknown.
double unitInMm(const QStringRef& unit)
{
    static const std::pair<const char*, double> units[] = {
        {"micron", 0.001}, {"millimeter", 1.0}, {"centimeter", 10.0}, {"inch", 25.4}, {"foot", 304.8}, {"meter", 1000.0}};
    for (const auto& u : units)
        if (unit == QLatin1String(u.first))
            return u.second;
    return 1.0;
}

// A coordinate as the file gives it: not a number reads as 0, rounded to single precision.
bool readFloat(const QXmlStreamAttributes& a, QLatin1String name, float& out)
{
    bool ok = false;
    const double d = a.value(name).toDouble(&ok);
    out = ok ? float(d) : 0.0f;
    return std::isfinite(out);
}

// A vertex index; -1 stands for anything outside 0..INT32_MAX, refused once the count is known.
int32_t readIndex(const QXmlStreamAttributes& a, QLatin1String name)
{
    bool ok = false;
    const qint64 v = a.value(name).toLongLong(&ok, 10);
    if (!ok)
        return 0;
    return v < 0 || v > INT32_MAX ? -1 : int32_t(v);
}
} // namespace

ThreeMFReader::ThreeMFReader() = default;
ThreeMFReader::~ThreeMFReader() = default;

bool ThreeMFReader::fail(const QString& why)
{
    if (error.isEmpty())
        error = why;
    return false;
}

ThreeMFReader::Matrix ThreeMFReader::identity()
{
    return {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
}

ThreeMFReader::Matrix ThreeMFReader::multiply(const Matrix& a, const Matrix& b)
{
    // Rows of a are (a[3r], a[3r+1], a[3r+2], 0 or 1); the product keeps the affine form.
    Matrix r{};
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) {
            float s = a[row * 3 + 0] * b[0 + col] + a[row * 3 + 1] * b[3 + col] + a[row * 3 + 2] * b[6 + col];
            if (row == 3)
                s += b[9 + col];
            r[row * 3 + col] = s;
        }
    }
    return r;
}

bool ThreeMFReader::parseTransform(const QString& text, Matrix& out)
{
    // Any white space separates (a tab may come as a character reference); a part that is not
    // a number reads as 0.
    QVector<QStringRef> parts;
    for (int i = 0, n = text.size(); i < n;) {
        while (i < n && text[i].isSpace())
            ++i;
        const int start = i;
        while (i < n && !text[i].isSpace())
            ++i;
        if (i > start)
            parts.push_back(text.midRef(start, i - start));
    }
    if (parts.size() < 12)
        return false;
    for (int i = 0; i < 12; ++i) {
        bool ok = false;
        const float v = parts[i].toFloat(&ok);
        if (ok && !std::isfinite(v))
            return false;
        out[size_t(i)] = ok ? v : 0.0f;
    }
    return true;
}

bool ThreeMFReader::open(const QString& path, std::atomic<int>* progress, const std::atomic<bool>* cancelled)
{
    error.clear();
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return fail(QStringLiteral("not a zip archive"));
    bool found = false;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (zip.getCurrentFileName().contains(QLatin1String("3D/3dmodel.model"))) {
            found = true;
            break;
        }
    }
    if (!found)
        return fail(QStringLiteral("no model part"));
    QuaZipFileInfo64 info;
    if (!zip.getCurrentFileInfo(&info) || info.uncompressedSize > quint64(kMaxModelBytes))
        return fail(QStringLiteral("model part too large"));

    QuaZipFile part(&zip);
    if (!part.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("model part unreadable"));
    QByteArray xml;
    xml.reserve(int(info.uncompressedSize));
    constexpr qint64 kChunk = 1 << 20;
    for (;;) {
        if (cancelled && cancelled->load(std::memory_order_relaxed))
            return fail(QStringLiteral("cancelled"));
        const QByteArray chunk = part.read(kChunk);
        if (chunk.isEmpty())
            break;
        // The header's size is a claim; the data decides.
        if (qint64(xml.size()) + chunk.size() > kMaxModelBytes)
            return fail(QStringLiteral("model part too large"));
        xml += chunk;
        if (progress && info.uncompressedSize > 0)
            *progress = int(std::min<qint64>(xml.size(), qint64(info.uncompressedSize)) * 2000 / qint64(info.uncompressedSize));
    }
    const bool readError = part.getZipError() != UNZ_OK;
    part.close();
    if (readError || part.getZipError() != UNZ_OK)
        return fail(QStringLiteral("model part damaged"));
    if (!parseModel(xml, cancelled))
        return false;
    if (progress)
        *progress = 5000;
    return true;
}

bool ThreeMFReader::parseModel(const QByteArray& xml, const std::atomic<bool>* cancelled)
{
    objects.clear();
    byId.clear();
    items.clear();
    producedVertices = 0;
    expansions = 0;
    cancel = cancelled;
    qint64 elements = 0;
    // Looked at every few thousand elements: a few milliseconds of parsing.
    auto stopped = [&] { return (++elements & 0xfff) == 0 && cancel && cancel->load(std::memory_order_relaxed); };

    // Read through a device, so that the text is decoded as parsing goes rather than all at once.
    QBuffer source;
    source.setData(xml);
    source.open(QIODevice::ReadOnly);
    QXmlStreamReader x(&source);
    if (!x.readNextStartElement() || x.name() != QLatin1String("model"))
        return fail(QStringLiteral("no model root"));
    unit = unitInMm(x.attributes().value(QLatin1String("unit")));

    qint64 storedVertices = 0;
    bool sawResources = false, sawBuild = false;
    while (x.readNextStartElement()) {
        if (x.name() == QLatin1String("resources") && !sawResources) {
            sawResources = true;
            while (x.readNextStartElement()) {
                if (x.name() != QLatin1String("object")) {
                    x.skipCurrentElement();
                    continue;
                }
                Object obj;
                const QString id = x.attributes().value(QLatin1String("id")).toString();
                bool sawMesh = false, sawComponents = false;
                while (x.readNextStartElement()) {
                    if (x.name() == QLatin1String("mesh") && !sawMesh) {
                        sawMesh = true;
                        bool sawVertices = false, sawTriangles = false;
                        std::vector<std::array<int32_t, 3>> rawTriangles;
                        while (x.readNextStartElement()) {
                            if (x.name() == QLatin1String("vertices") && !sawVertices) {
                                sawVertices = true;
                                while (x.readNextStartElement()) {
                                    if (stopped())
                                        return fail(QStringLiteral("cancelled"));
                                    if (x.name() == QLatin1String("vertex")) {
                                        const QXmlStreamAttributes a = x.attributes();
                                        float v[3];
                                        if (!readFloat(a, QLatin1String("x"), v[0]) || !readFloat(a, QLatin1String("y"), v[1])
                                            || !readFloat(a, QLatin1String("z"), v[2]))
                                            return fail(QStringLiteral("vertex not finite"));
                                        if (++storedVertices > kMaxTotalVertices)
                                            return fail(QStringLiteral("too many vertices"));
                                        obj.vertices.insert(obj.vertices.end(), v, v + 3);
                                    }
                                    x.skipCurrentElement();
                                }
                            } else if (x.name() == QLatin1String("triangles") && !sawTriangles) {
                                sawTriangles = true;
                                while (x.readNextStartElement()) {
                                    if (stopped())
                                        return fail(QStringLiteral("cancelled"));
                                    if (x.name() == QLatin1String("triangle")) {
                                        const QXmlStreamAttributes a = x.attributes();
                                        rawTriangles.push_back({readIndex(a, QLatin1String("v1")), readIndex(a, QLatin1String("v2")),
                                                                readIndex(a, QLatin1String("v3"))});
                                    }
                                    x.skipCurrentElement();
                                }
                            } else {
                                x.skipCurrentElement();
                            }
                        }
                        const qint64 n = qint64(obj.vertices.size() / 3);
                        for (const auto& t : rawTriangles)
                            for (int32_t v : t)
                                if (v < 0 || v >= n)
                                    return fail(QStringLiteral("triangle index out of range"));
                        obj.triangles.swap(rawTriangles);
                    } else if (x.name() == QLatin1String("components")) {
                        obj.hasComponents = true;
                        if (sawComponents) {
                            x.skipCurrentElement();
                            continue;
                        }
                        sawComponents = true;
                        while (x.readNextStartElement()) {
                            if (stopped())
                                return fail(QStringLiteral("cancelled"));
                            if (x.name() == QLatin1String("component")) {
                                const QXmlStreamAttributes a = x.attributes();
                                Component c{a.value(QLatin1String("objectid")).toString(), identity()};
                                if (a.hasAttribute(QLatin1String("transform"))
                                    && !parseTransform(a.value(QLatin1String("transform")).toString(), c.transform))
                                    return fail(QStringLiteral("bad component transform"));
                                obj.components.push_back(c);
                            }
                            x.skipCurrentElement();
                        }
                    } else {
                        x.skipCurrentElement();
                    }
                }
                byId[id].push_back(int(objects.size()));
                objects.push_back(std::move(obj));
            }
        } else if (x.name() == QLatin1String("build") && !sawBuild) {
            sawBuild = true;
            while (x.readNextStartElement()) {
                if (x.name() == QLatin1String("item")) {
                    const QXmlStreamAttributes a = x.attributes();
                    Item item{a.value(QLatin1String("objectid")).toString(), identity()};
                    if (a.hasAttribute(QLatin1String("transform"))
                        && !parseTransform(a.value(QLatin1String("transform")).toString(), item.transform))
                        return fail(QStringLiteral("bad item transform"));
                    items.push_back(item);
                }
                x.skipCurrentElement();
            }
        } else {
            x.skipCurrentElement();
        }
    }
    if (x.hasError())
        return fail(QStringLiteral("XML error: %1").arg(x.errorString()));
    return true;
}

bool ThreeMFReader::readObject(const QString& id, const Matrix& m, std::vector<QString>& stack,
                               std::vector<MeshData*>& out)
{
    if (++expansions > kMaxExpansions)
        return fail(QStringLiteral("too many components"));
    if (int(stack.size()) >= kMaxDepth)
        return fail(QStringLiteral("components nested too deep"));
    for (const QString& s : stack)
        if (s == id)
            return fail(QStringLiteral("component cycle through object %1").arg(id));
    const auto found = byId.constFind(id);
    if (found == byId.constEnd())
        return true;
    stack.push_back(id);
    for (int index : *found) {
        const Object& obj = objects[size_t(index)];
        if (obj.hasComponents) {
            for (const Component& c : obj.components)
                if (!readObject(c.objectId, multiply(c.transform, m), stack, out))
                    return false;
            continue;
        }
        const size_t n = obj.vertices.size() / 3;
        if (n == 0 || obj.triangles.empty())
            continue; // a mesh without vertices or triangles adds no model
        producedVertices += qint64(n);
        if (producedVertices > kMaxTotalVertices)
            return fail(QStringLiteral("too many vertices"));
        if (cancel && cancel->load(std::memory_order_relaxed))
            return fail(QStringLiteral("cancelled"));
        auto* mesh = new MeshData;
        out.push_back(mesh);
        mesh->vertices.resize(n);
        const float* v = obj.vertices.data();
        for (size_t i = 0; i < n; ++i, v += 3) {
            if ((i & 0xffff) == 0xffff && cancel && cancel->load(std::memory_order_relaxed))
                return fail(QStringLiteral("cancelled"));
            const float x = v[0], y = v[1], z = v[2];
            mesh->vertices[i] = {double(x * m[0] + y * m[3] + z * m[6] + m[9]) * unit,
                                 double(x * m[1] + y * m[4] + z * m[7] + m[10]) * unit,
                                 double(x * m[2] + y * m[5] + z * m[8] + m[11]) * unit};
        }
        mesh->faces = obj.triangles;
        for (const auto& p : mesh->vertices)
            if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
                return fail(QStringLiteral("transformed vertex not finite"));
    }
    stack.pop_back();
    return true;
}

bool ThreeMFReader::placedSize(const QString& id, std::vector<QString>& stack,
                               QHash<QString, std::pair<qint64, qint64>>& sizes, std::pair<qint64, qint64>& out)
{
    const auto known = sizes.constFind(id);
    if (known != sizes.constEnd()) {
        out = *known;
        return true;
    }
    if (int(stack.size()) >= kMaxDepth)
        return fail(QStringLiteral("components nested too deep"));
    for (const QString& s : stack)
        if (s == id)
            return fail(QStringLiteral("component cycle through object %1").arg(id));
    std::pair<qint64, qint64> sum{0, 0};
    const auto found = byId.constFind(id);
    if (found != byId.constEnd()) {
        stack.push_back(id);
        for (int index : *found) {
            const Object& obj = objects[size_t(index)];
            if (!obj.hasComponents) {
                if (!obj.vertices.empty() && !obj.triangles.empty()) {
                    sum.first = saturatedAdd(sum.first, qint64(obj.triangles.size()));
                    sum.second = saturatedAdd(sum.second, qint64(obj.vertices.size() / 3));
                }
                continue;
            }
            for (const Component& c : obj.components) {
                std::pair<qint64, qint64> part;
                if (!placedSize(c.objectId, stack, sizes, part))
                    return false;
                sum.first = saturatedAdd(sum.first, part.first);
                sum.second = saturatedAdd(sum.second, part.second);
            }
        }
        stack.pop_back();
    }
    sizes.insert(id, sum);
    out = sum;
    return true;
}

qint64 ThreeMFReader::memoryBudget()
{
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return qint64(4) << 30;
    return qint64(pages) * qint64(pageSize) / 2;
}

bool ThreeMFReader::checkBudget()
{
    QHash<QString, std::pair<qint64, qint64>> sizes;
    qint64 faces = 0, vertices = 0;
    for (const Item& item : items) {
        std::vector<QString> stack;
        std::pair<qint64, qint64> part;
        if (!placedSize(item.objectId, stack, sizes, part))
            return false;
        faces = saturatedAdd(faces, part.first);
        vertices = saturatedAdd(vertices, part.second);
    }
    // Past either limit the file may well be sound, so the user is told which limit it meets.
    if (vertices > kMaxTotalVertices) {
        sizeMessage = QCoreApplication::translate("ThreeMFReader", "The model has too many vertices.");
        return fail(QStringLiteral("too many vertices: the build places %1").arg(vertices));
    }
    const qint64 budget = memoryBudget();
    const qint64 need = std::min(kSaturated, faces) / 1024 * kBytesPerFace / 1024
                        + std::min(kSaturated, vertices) / 1024 * kBytesPerVertex / 1024;
    if (need > budget / (1024 * 1024)) {
        sizeMessage = QCoreApplication::translate("ThreeMFReader", "The model is too large for this computer.");
        return fail(QStringLiteral("model too large: its components place %1 triangles and %2 vertices, "
                                   "about %3 MB, more than the %4 MB this computer can spare")
                        .arg(faces)
                        .arg(vertices)
                        .arg(need)
                        .arg(budget / (1024 * 1024)));
    }
    return true;
}

bool ThreeMFReader::readItem(int item, std::vector<MeshData*>& out)
{
    out.clear();
    if (item < 0 || item >= itemCount())
        return false;
    std::vector<QString> stack;
    std::vector<MeshData*> meshes;
    bool ok = false;
    try {
        ok = readObject(items[size_t(item)].objectId, items[size_t(item)].transform, stack, meshes);
    } catch (const std::bad_alloc&) {
        ok = fail(QStringLiteral("out of memory"));
    }
    if (!ok) {
        for (MeshData* m : meshes)
            delete m;
        return false;
    }
    out.swap(meshes);
    return true;
}

bool ThreeMFReader::load(const QString& path, std::vector<MeshData*>& meshes, std::atomic<int>& progress,
                         const std::atomic<bool>& cancelled, QString* error, QString* sizeRefusal)
{
    progress = 0;
    ThreeMFReader reader;
    std::vector<MeshData*> all;
    auto refuse = [&]() {
        for (MeshData* m : all)
            delete m;
        if (error)
            *error = reader.errorString();
        if (sizeRefusal)
            *sizeRefusal = reader.sizeRefusal();
        QLOG_INFO() << "FileRW\\ThreeMFReader@" << __LINE__ << path << "refused:" << reader.errorString();
        return false;
    };
    if (!reader.open(path, &progress, &cancelled))
        return refuse();
    if (reader.itemCount() == 0) {
        reader.fail(QStringLiteral("no build items"));
        return refuse();
    }
    if (!reader.checkBudget())
        return refuse();
    for (int i = 0; i < reader.itemCount(); ++i) {
        if (cancelled.load(std::memory_order_relaxed)) {
            reader.fail(QStringLiteral("cancelled"));
            return refuse();
        }
        std::vector<MeshData*> itemMeshes;
        if (!reader.readItem(i, itemMeshes))
            return refuse();
        all.insert(all.end(), itemMeshes.begin(), itemMeshes.end());
        progress = 5000 + int(5000LL * (i + 1) / reader.itemCount());
    }
    if (all.empty()) {
        reader.fail(QStringLiteral("no mesh with triangles"));
        return refuse();
    }
    meshes.insert(meshes.end(), all.begin(), all.end());
    progress = 10000;
    return true;
}
