#include "FileRW/ProjectFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "FileRW/CheckedWriter.h"
#include "app/QsLog.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "scene/SceneBudget.h"

const char ProjectFile::kIdentification[] = "Create By Brevant V1.0.2";

ProjectData::ProjectData() = default;
ProjectData::~ProjectData() = default;
ProjectData::ProjectData(ProjectData&&) noexcept = default;
ProjectData& ProjectData::operator=(ProjectData&&) noexcept = default;

namespace {

const char* const kCannotOpen = QT_TRANSLATE_NOOP("ProjectFile", "The file cannot be opened.");
const char* const kNotProject = QT_TRANSLATE_NOOP("ProjectFile", "The file is not a project of this program.");
const char* const kDamaged = QT_TRANSLATE_NOOP("ProjectFile", "The project file is damaged or cut short.");
const char* const kTooLarge = QT_TRANSLATE_NOOP("ProjectFile", "The project is too large for this computer.");

// Little-endian output into a buffer that is flushed to the file in large pieces.
class Writer
{
public:
    explicit Writer(CheckedWriter& f) : file(f) { buffer.reserve(1 << 20); }

    void i32(int32_t v)
    {
        char b[4];
        qToLittleEndian<qint32>(v, b);
        buffer.append(b, 4);
    }
    void u8(uint8_t v) { buffer.append(char(v)); }
    void f64(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        char b[8];
        qToLittleEndian<quint64>(bits, b);
        buffer.append(b, 8);
    }
    void bytes(const QByteArray& a) { buffer.append(a); }
    void field(const QByteArray& a, int size)
    {
        QByteArray f(size, '\0');
        std::memcpy(f.data(), a.constData(), size_t(std::min(a.size(), size)));
        buffer.append(f);
    }
    bool flush(bool force = false)
    {
        if (!force && buffer.size() < (1 << 20))
            return !file.failed();
        const bool ok = file.write(buffer);
        buffer.clear();
        return ok;
    }

private:
    CheckedWriter& file;
    QByteArray buffer;
};

// Reads from the file with every claim checked against the bytes left.
class Reader
{
public:
    explicit Reader(QFile& f) : file(f), left(f.size()) {}

    qint64 remaining() const { return left; }
    bool bytes(char* out, qint64 n)
    {
        if (n < 0 || n > left || file.read(out, n) != n)
            return false;
        left -= n;
        return true;
    }
    bool i32(int32_t& v)
    {
        char b[4];
        if (!bytes(b, 4))
            return false;
        v = qFromLittleEndian<qint32>(b);
        return true;
    }
    bool u8(uint8_t& v)
    {
        char b;
        if (!bytes(&b, 1))
            return false;
        v = uint8_t(b);
        return true;
    }
    bool f64(double& v)
    {
        char b[8];
        if (!bytes(b, 8))
            return false;
        const quint64 bits = qFromLittleEndian<quint64>(b);
        std::memcpy(&v, &bits, 8);
        return true;
    }
    bool finite(double& v) { return f64(v) && std::isfinite(v); }
    // A zero-terminated name in a fixed field.
    bool name(std::string& out)
    {
        char f[ProjectFile::kNameField];
        if (!bytes(f, sizeof f))
            return false;
        const void* zero = std::memchr(f, 0, sizeof f);
        if (!zero)
            return false;
        out.assign(static_cast<const char*>(f), static_cast<const char*>(zero));
        return true;
    }

private:
    QFile& file;
    qint64 left;
};

} // namespace

namespace {
// At most max bytes of the name, cut on a UTF-8 character boundary.
QByteArray cutName(const char* name, size_t size, size_t max)
{
    size_t n = std::min(size, max);
    if (n < size) {
        // Step back over continuation bytes so no character is cut in half.
        while (n > 0 && (uchar(name[n]) & 0xC0) == 0x80)
            --n;
    }
    return QByteArray(name, int(n));
}
} // namespace

QByteArray ProjectFile::nameField(const std::string& name)
{
    return cutName(name.data(), name.size(), size_t(kNameField - 1));
}

std::vector<QByteArray> ProjectFile::storedNames(const std::vector<ProjectData::Model>& models)
{
    std::vector<QByteArray> names;
    names.reserve(models.size());
    QSet<QByteArray> taken;
    for (const auto& m : models) {
        names.push_back(nameField(m.name));
        taken.insert(names.back());
    }
    // Names that read the same in the stored bytes: the first keeps it, the later ones get a
    // number that fits, so that each support finds its own model again.
    QSet<QByteArray> seen;
    QHash<QByteArray, int> nextNumber;
    for (QByteArray& name : names) {
        if (!seen.contains(name)) {
            seen.insert(name);
            continue;
        }
        int& n = nextNumber[name];
        for (;;) {
            const QByteArray number = "(" + QByteArray::number(++n) + ")";
            const QByteArray candidate =
                cutName(name.constData(), size_t(name.size()), size_t(kNameField - 1 - number.size())) + number;
            if (!taken.contains(candidate)) {
                taken.insert(candidate);
                seen.insert(candidate);
                name = candidate;
                break;
            }
        }
    }
    return names;
}

void ProjectFile::snapshot(ProjectData& out)
{
    out = ProjectData();
    MeshList* list = MeshList::instance();
    out.meshSlots.resize(size_t(list->size()));
    for (int s = 0; s < list->size(); ++s)
        if (const MeshData* m = list->at(s)) {
            auto copy = std::make_unique<MeshData>();
            copy->vertices = m->vertices;
            copy->faces = m->faces;
            out.meshSlots[size_t(s)] = std::move(copy);
        }
    AppData* app = AppData::instance();
    for (int i = 0; i < app->modelCount(); ++i) {
        const MeshModel* m = app->getModel(i);
        ProjectData::Model r;
        r.name = m->getName();
        r.meshSlot = m->meshSlot;
        r.supportSlot = m->supportSlot;
        r.visible = m->visible;
        r.factor = m->factor[0];
        r.scale = m->scale[0];
        r.position = m->position;
        r.rotationAngles = m->rotationAngles;
        r.orientation = {m->orientation.x(), m->orientation.y(), m->orientation.z(), m->orientation.w()};
        out.models.push_back(r);
    }
    out.selectedIndex = app->getSelectedIndex();
    out.supportSize = app->getSupportSize();
    const auto points = app->getSupportPoints();
    for (int i = 0; i < app->supportCount(); ++i) {
        const MeshModel* s = app->getSupport(i);
        ProjectData::Support r{points[size_t(i)], s->getOwnerName(), -1};
        for (int k = 0; s->ownerSerial && k < app->modelCount(); ++k)
            if (app->getModel(k)->serial == s->ownerSerial)
                r.owner = k;
        out.supports.push_back(std::move(r));
    }
}

bool ProjectFile::write(const QString& path, const ProjectData& data, std::atomic<int>& progress, QString* error)
{
    progress = 0;
    CheckedWriter file(path);
    auto failed = [&] {
        if (error)
            *error = file.errorString();
        return false;
    };
    if (!file.open())
        return failed();
    Writer w(file);
    w.field(QByteArray(kIdentification), kHeaderSize);

    qint64 totalVertices = 0, totalFaces = 0;
    for (const auto& m : data.meshSlots) {
        if (m && !m->vertices.empty()) {
            totalVertices += qint64(m->vertices.size());
            totalFaces += qint64(m->faces.size());
        }
    }
    if (data.meshSlots.size() > size_t(INT32_MAX) || totalVertices > INT32_MAX || totalFaces > INT32_MAX) {
        if (error)
            *error = CheckedWriter::cannotWrite(path, QStringLiteral("the scene is too large for a project file"));
        return false;
    }
    w.i32(int32_t(data.meshSlots.size()));
    w.i32(int32_t(totalVertices));
    w.i32(int32_t(totalFaces));

    const qint64 total = std::max<qint64>(1, totalVertices + totalFaces);
    qint64 written = 0;
    for (const auto& m : data.meshSlots) {
        if (!m || m->vertices.empty()) {
            w.i32(0);
            w.i32(0);
            continue;
        }
        w.i32(int32_t(m->vertices.size()));
        w.i32(int32_t(m->faces.size()));
        for (const auto& v : m->vertices) {
            w.f64(v[0]);
            w.f64(v[1]);
            w.f64(v[2]);
            if ((++written & 0xffff) == 0) {
                progress = int(written * 10000 / total);
                if (!w.flush())
                    return failed();
            }
        }
        for (const auto& f : m->faces) {
            w.i32(f[0]);
            w.i32(f[1]);
            w.i32(f[2]);
            if ((++written & 0xffff) == 0) {
                progress = int(written * 10000 / total);
                if (!w.flush())
                    return failed();
            }
        }
    }

    const std::vector<QByteArray> names = storedNames(data.models);
    w.i32(int32_t(data.models.size()));
    for (size_t i = 0; i < data.models.size(); ++i) {
        const auto& r = data.models[i];
        w.field(names[i], kNameField);
        w.i32(r.meshSlot);
        w.i32(r.supportSlot);
        w.u8(r.visible ? 1 : 0);
        w.f64(r.factor);
        w.f64(r.scale);
        for (double v : r.position)
            w.f64(v);
        for (double v : r.rotationAngles)
            w.f64(v);
        for (double v : r.orientation)
            w.f64(v);
    }
    w.i32(data.selectedIndex);
    w.i32(int32_t(data.supports.size()));
    w.f64(data.supportSize);
    for (const auto& s : data.supports) {
        for (double v : s.point)
            w.f64(v);
        const bool owned = s.owner >= 0 && size_t(s.owner) < names.size();
        w.field(owned ? names[size_t(s.owner)] : nameField(s.ownerName), kNameField);
    }
    if (!w.flush(true) || !file.commit())
        return failed();
    progress = 10000;
    return true;
}

bool ProjectFile::read(const QString& path, ProjectData& out, std::atomic<int>& progress,
                       const std::atomic<bool>& cancelled, QString* error, QString* userReason, bool* modelLimit)
{
    out = ProjectData();
    progress = 0;
    if (modelLimit)
        *modelLimit = false;
    // user: what the user reads; the details go to the log.
    auto refuseWith = [&](const QString& user, const QString& detail) {
        if (error)
            *error = detail;
        if (userReason)
            *userReason = user;
        QLOG_INFO() << "FileRW\\ProjectFile@" << __LINE__ << path << "refused:" << detail;
        return false;
    };
    auto refuseAs = [&](const char* user, const char* detail) {
        return refuseWith(QCoreApplication::translate("ProjectFile", user), QString::fromLatin1(detail));
    };
    // Damage of any kind: the details say which.
    auto refuse = [&](const char* detail) {
        return refuseWith(cancelled ? QString() : QCoreApplication::translate("ProjectFile", kDamaged), QString::fromLatin1(detail));
    };

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuseAs(kCannotOpen, "cannot open");
    Reader r(file);

    char header[kHeaderSize];
    const int identLength = int(sizeof kIdentification); // text and its zero byte
    if (!r.bytes(header, kHeaderSize) || std::memcmp(header, kIdentification, size_t(identLength)) != 0)
        return refuseAs(kNotProject, "not a project file");

    ProjectData data;
    int32_t slotCount = 0, totalVertices = 0, totalFaces = 0;
    if (!r.i32(slotCount) || !r.i32(totalVertices) || !r.i32(totalFaces))
        return refuse("truncated header");
    if (slotCount < 0 || totalVertices < 0 || totalFaces < 0 || qint64(slotCount) * 8 > r.remaining())
        return refuse("bad counts");

    data.meshSlots.resize(size_t(slotCount));
    const qint64 total = std::max<qint64>(1, qint64(totalVertices) + totalFaces);
    qint64 sumVertices = 0, sumFaces = 0;
    std::vector<char> raw;
    for (int32_t s = 0; s < slotCount; ++s) {
        if (cancelled.load(std::memory_order_relaxed))
            return refuse("cancelled");
        int32_t vc = 0, fc = 0;
        if (!r.i32(vc) || !r.i32(fc))
            return refuse("truncated mesh block");
        if (vc < 0 || fc < 0 || (vc == 0 && fc > 0))
            return refuse("bad mesh block");
        sumVertices += vc;
        sumFaces += fc;
        if (sumVertices > totalVertices || sumFaces > totalFaces)
            return refuse("mesh counts disagree with the totals");
        if (vc == 0)
            continue;
        const qint64 bytes = qint64(vc) * 24 + qint64(fc) * 12;
        if (bytes > r.remaining())
            return refuse("mesh block beyond the end");
        auto mesh = std::make_unique<MeshData>();
        raw.resize(size_t(qint64(vc) * 24));
        if (!r.bytes(raw.data(), qint64(raw.size())))
            return refuse("truncated vertices");
        mesh->vertices.resize(size_t(vc));
        const char* p = raw.data();
        for (auto& v : mesh->vertices) {
            for (double& c : v) {
                const quint64 bits = qFromLittleEndian<quint64>(p);
                std::memcpy(&c, &bits, 8);
                p += 8;
                if (!std::isfinite(c))
                    return refuse("vertex not finite");
            }
        }
        raw.resize(size_t(qint64(fc) * 12));
        if (!r.bytes(raw.data(), qint64(raw.size())))
            return refuse("truncated faces");
        mesh->faces.resize(size_t(fc));
        p = raw.data();
        for (auto& f : mesh->faces) {
            for (int32_t& i : f) {
                i = qFromLittleEndian<qint32>(p);
                p += 4;
                if (i < 0 || i >= vc)
                    return refuse("face index out of range");
            }
        }
        data.meshSlots[size_t(s)] = std::move(mesh);
        progress = int((sumVertices + sumFaces) * 10000 / total);
    }
    if (sumVertices != totalVertices || sumFaces != totalFaces)
        return refuse("mesh counts disagree with the totals");

    int32_t modelCount = 0;
    if (!r.i32(modelCount) || modelCount < 0 || qint64(modelCount) * kModelRecord > r.remaining())
        return refuse("bad model count");
    QString why;
    if (!SceneBudget::admitsModels(0, modelCount, &why)) {
        if (modelLimit)
            *modelLimit = true;
        return refuseWith(why, QStringLiteral("%1 models").arg(modelCount));
    }
    auto occupied = [&](int32_t slot) {
        return slot >= 0 && slot < slotCount && data.meshSlots[size_t(slot)] != nullptr;
    };
    for (int32_t i = 0; i < modelCount; ++i) {
        ProjectData::Model m;
        uint8_t visible = 0;
        if (!r.name(m.name) || !r.i32(m.meshSlot) || !r.i32(m.supportSlot) || !r.u8(visible))
            return refuse("bad model record");
        if (!occupied(m.meshSlot) || (m.supportSlot != -1 && !occupied(m.supportSlot)))
            return refuse("model refers to a missing mesh");
        m.visible = visible != 0;
        bool ok = r.finite(m.factor) && r.finite(m.scale);
        for (double& v : m.position)
            ok = ok && r.finite(v);
        for (double& v : m.rotationAngles)
            ok = ok && r.finite(v);
        double norm = 0.0;
        for (double& v : m.orientation) {
            ok = ok && r.finite(v);
            norm += v * v;
        }
        if (!ok || m.factor <= 0.0 || !(norm > 1e-12))
            return refuse("bad model transform");
        data.models.push_back(std::move(m));
    }

    if (!r.i32(data.selectedIndex))
        return refuse("truncated scene section");
    int32_t supportCount = 0;
    if (!r.i32(supportCount) || supportCount < 0)
        return refuse("bad support count");
    if (supportCount > 0) {
        if (!r.finite(data.supportSize) || data.supportSize <= 0.0
            || qint64(supportCount) * kSupportRecord > r.remaining())
            return refuse("bad support section");
        for (int32_t i = 0; i < supportCount; ++i) {
            ProjectData::Support s;
            bool ok = true;
            for (double& v : s.point)
                ok = ok && r.finite(v);
            if (!ok || !r.name(s.ownerName) || s.point[2] <= 0.0)
                return refuse("bad support record");
            for (double v : s.point)
                if (!SceneBudget::admitsLength(v))
                    return refuseWith(SceneBudget::lengthReason(v), QStringLiteral("support at %1").arg(v));
            data.supports.push_back(std::move(s));
        }
        if (!SceneBudget::admitsLength(data.supportSize))
            return refuseWith(SceneBudget::supportSizeReason(data.supportSize),
                              QStringLiteral("support size %1").arg(data.supportSize));
    }
    // The models are built here, off the GUI thread. A tree lives in the frame of its mesh's
    // centre and the factor, so records over the same meshes with the same factor share one;
    // what is built is charged, with the meshes, against what the machine can spare.
    const qint64 budget = SceneBudget::memoryBytes();
    qint64 charged = 0;
    for (const auto& mesh : data.meshSlots)
        if (mesh)
            charged += qint64(mesh->vertices.size()) * qint64(sizeof mesh->vertices[0])
                       + qint64(mesh->faces.size()) * qint64(sizeof mesh->faces[0]);
    std::map<std::tuple<int32_t, int32_t, double>, std::shared_ptr<const FaceTree>> trees;
    for (const auto& m : data.models) {
        if (cancelled.load(std::memory_order_relaxed))
            return refuse("cancelled");
        const MeshData& mesh = *data.meshSlots[size_t(m.meshSlot)];
        const MeshData* support = m.supportSlot >= 0 ? data.meshSlots[size_t(m.supportSlot)].get() : nullptr;
        auto model = std::make_unique<MeshModel>();
        model->setName(m.name);
        model->factor = {m.factor, m.factor, m.factor};
        std::shared_ptr<const FaceTree>& tree = trees[{m.meshSlot, m.supportSlot, m.factor}];
        if (!tree) {
            charged += FaceTree::kBytesPerFace * qint64(mesh.faces.size() + (support ? support->faces.size() : 0));
            if (charged > budget)
                return refuseAs(kTooLarge, "the models' face trees need more memory than the machine can spare");
        }
        if (!model->prepareMesh(mesh, &cancelled, support, tree))
            return refuse("cancelled");
        tree = model->faceTree;
        // Placed as stored; a scale no printer can use is refused by the number.
        const double scale = m.scale > 1e-6 ? m.scale : 1.0;
        double rawSize = 0.0;
        for (int k = 0; k < 3; ++k)
            rawSize = std::max(rawSize, model->rawMax[size_t(k)] - model->rawMin[size_t(k)]);
        const double length = rawSize * m.factor * scale;
        if (!SceneBudget::admitsLength(length))
            return refuseWith(SceneBudget::scaleReason(m.factor * scale, length), QStringLiteral("scale %1").arg(scale));
        model->scale = {scale, scale, scale};
        model->visible = m.visible;
        model->position = m.position;
        model->rotationAngles = m.rotationAngles;
        model->orientation = Eigen::Quaterniond(m.orientation[3], m.orientation[0], m.orientation[1], m.orientation[2]);
        model->measureWith(&mesh, support);
        for (double v : model->box)
            if (!SceneBudget::admitsLength(v))
                return refuseWith(SceneBudget::lengthReason(v), QStringLiteral("model reaches %1").arg(v));
        data.prepared.push_back(std::move(model));
    }
    out = std::move(data);
    progress = 10000;
    return true;
}

void ProjectFile::commit(ProjectData& data, std::vector<MeshModel*>* added)
{
    MeshList* list = MeshList::instance();
    AppData* app = AppData::instance();
    // Slots come back where they were when the scene was cleared first (as the main window
    // does); otherwise the meshes take free slots and the models follow them.
    const bool keepSlots = list->size() == 0;
    const int modelsBefore = app->modelCount();
    // The stored support columns are rebuilt from their points: only the meshes a model uses
    // come back, so the columns take the same slots again and the list does not grow.
    std::vector<bool> used(data.meshSlots.size(), false);
    for (const auto& r : data.models)
        for (int32_t slot : {r.meshSlot, r.supportSlot})
            if (slot >= 0 && size_t(slot) < used.size())
                used[size_t(slot)] = true;
    std::vector<int> slotOf(data.meshSlots.size(), -1);
    std::vector<MeshModel*> models;
    for (size_t s = 0; s < data.meshSlots.size(); ++s) {
        if (!used[s])
            continue;
        MeshData* mesh = data.meshSlots[s].release();
        if (!mesh)
            continue;
        if (keepSlots) {
            list->setAt(int(s), mesh);
            slotOf[s] = int(s);
        } else {
            slotOf[s] = list->add(mesh);
        }
    }
    for (size_t i = 0; i < data.models.size() && i < data.prepared.size(); ++i) {
        const auto& r = data.models[i];
        MeshModel* m = data.prepared[i].release();
        // Measured and built by the reader from these very meshes: only the slots are new.
        m->meshSlot = slotOf[size_t(r.meshSlot)];
        m->supportSlot = r.supportSlot >= 0 ? slotOf[size_t(r.supportSlot)] : -1;
        if (m->exceedsVolume())
            m->fitPending = 1;
        models.push_back(m);
    }
    data.prepared.clear();
    app->addModels(models);
    if (added)
        added->insert(added->end(), models.begin(), models.end());
    app->selectModel(data.selectedIndex + modelsBefore, 1);
    if (data.supports.empty())
        return;
    app->setSupportSize(data.supportSize);
    for (const auto& s : data.supports) {
        auto* support = new MeshModel;
        support->isSupport = true;
        const double foot[3] = {s.point[0], s.point[1], 0.0};
        support->buildSupportBox(foot, s.point[2], true);
        support->ownerName = s.ownerName;
        // The owner is one of the models just read, even when the scene has one of that name.
        for (int i = modelsBefore; i < app->modelCount(); ++i) {
            if (app->getModel(i)->name == s.ownerName) {
                support->ownerSerial = app->getModel(i)->serial;
                break;
            }
        }
        app->commitSupport(support);
    }
}
