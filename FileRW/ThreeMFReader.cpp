#include "FileRW/ThreeMFReader.h"

#include <QXmlStreamReader>

#include <climits>
#include <cmath>

#include <quazip.h>
#include <quazipfile.h>

#include "app/QsLog.h"
#include "scene/MeshData.h"

namespace {
constexpr int kMaxDepth = 64; // components nest a few levels in real files

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
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < 12)
        return false;
    for (int i = 0; i < 12; ++i) {
        bool ok = false;
        const float v = parts[i].trimmed().toFloat(&ok);
        if (!ok || !std::isfinite(v))
            return false;
        out[size_t(i)] = v;
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
    if (!parseModel(xml))
        return false;
    if (progress)
        *progress = 5000;
    return true;
}

bool ThreeMFReader::parseModel(const QByteArray& xml)
{
    objects.clear();
    byId.clear();
    items.clear();
    producedVertices = 0;
    expansions = 0;

    QXmlStreamReader x(xml);
    if (!x.readNextStartElement() || x.name() != QLatin1String("model"))
        return fail(QStringLiteral("no model root"));

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
                        std::vector<int32_t> rawTriangles;
                        while (x.readNextStartElement()) {
                            if (x.name() == QLatin1String("vertices") && !sawVertices) {
                                sawVertices = true;
                                while (x.readNextStartElement()) {
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
                                    if (x.name() == QLatin1String("triangle")) {
                                        const QXmlStreamAttributes a = x.attributes();
                                        rawTriangles.push_back(readIndex(a, QLatin1String("v1")));
                                        rawTriangles.push_back(readIndex(a, QLatin1String("v2")));
                                        rawTriangles.push_back(readIndex(a, QLatin1String("v3")));
                                    }
                                    x.skipCurrentElement();
                                }
                            } else {
                                x.skipCurrentElement();
                            }
                        }
                        const qint64 n = qint64(obj.vertices.size() / 3);
                        for (int32_t v : rawTriangles)
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
        auto* mesh = new MeshData;
        mesh->vertices.resize(n);
        const float* v = obj.vertices.data();
        for (size_t i = 0; i < n; ++i, v += 3) {
            const float x = v[0], y = v[1], z = v[2];
            mesh->vertices[i] = {double(x * m[0] + y * m[3] + z * m[6] + m[9]),
                                 double(x * m[1] + y * m[4] + z * m[7] + m[10]),
                                 double(x * m[2] + y * m[5] + z * m[8] + m[11])};
        }
        mesh->faces.resize(obj.triangles.size() / 3);
        for (size_t f = 0; f < mesh->faces.size(); ++f)
            mesh->faces[f] = {obj.triangles[3 * f], obj.triangles[3 * f + 1], obj.triangles[3 * f + 2]};
        out.push_back(mesh);
        for (const auto& p : mesh->vertices)
            if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
                return fail(QStringLiteral("transformed vertex not finite"));
    }
    stack.pop_back();
    return true;
}

bool ThreeMFReader::readItem(int item, std::vector<MeshData*>& out)
{
    out.clear();
    if (item < 0 || item >= itemCount())
        return false;
    std::vector<QString> stack;
    std::vector<MeshData*> meshes;
    if (!readObject(items[size_t(item)].objectId, items[size_t(item)].transform, stack, meshes)) {
        for (MeshData* m : meshes)
            delete m;
        return false;
    }
    out.swap(meshes);
    return true;
}

bool ThreeMFReader::load(const QString& path, std::vector<MeshData*>& meshes, std::atomic<int>& progress,
                         const std::atomic<bool>& cancelled, QString* error)
{
    progress = 0;
    ThreeMFReader reader;
    std::vector<MeshData*> all;
    auto refuse = [&]() {
        for (MeshData* m : all)
            delete m;
        if (error)
            *error = reader.errorString();
        QLOG_INFO() << "FileRW\\ThreeMFReader@" << __LINE__ << path << "refused:" << reader.errorString();
        return false;
    };
    if (!reader.open(path, &progress, &cancelled))
        return refuse();
    if (reader.itemCount() == 0) {
        reader.fail(QStringLiteral("no build items"));
        return refuse();
    }
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
