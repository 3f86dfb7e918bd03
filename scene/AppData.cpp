#include "scene/AppData.h"

#include <QLocale>
#include <QSettings>

#include <unordered_map>
#include <unordered_set>

#include "render/GcodePreviewData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {
AppData* g_appData = nullptr;
}

AppData* AppData::instance()
{
    if (!g_appData)
        g_appData = new AppData();
    return g_appData;
}

AppData::AppData()
    : workingObject(new MeshModel())
    , gcodePreview(new GcodePreviewData())
{
    language = QLocale::system().country() == QLocale::China ? 1 : 0;
}

AppData::~AppData()
{
    delete workingObject;
}

void AppData::clearModels(bool all)
{
    for (MeshModel* m : models)
        delete m;
    models.clear();
    for (MeshModel* s : supports)
        delete s;
    supports.clear();
    if (all) {
        delete gcodePreview;
        gcodePreview = nullptr;
        if (g_appData == this)
            g_appData = nullptr;
        delete this;
    }
}

bool AppData::setEditMode(int mode)
{
    editMode = mode;
    return true;
}

void AppData::setSupportEditing(bool on)
{
    supportEditing = on;
    if (!on) {
        delete workingObject;
        workingObject = new MeshModel();
    }
}

void AppData::setReliefParameters(double sign, double a, double b, double c)
{
    reliefParams = {sign, a, b, c};
}

// ---- Models ----

MeshModel* AppData::getModel(int i) const
{
    if (i < 0 || i >= int(models.size()))
        return nullptr;
    return models[size_t(i)];
}

MeshModel* AppData::findModel(const std::string& name) const
{
    if (name.empty())
        return nullptr;
    for (MeshModel* m : models)
        if (m->name == name)
            return m;
    return nullptr;
}

std::string AppData::getSelectedModelName() const
{
    const MeshModel* m = getModel(selectedIndex);
    return m ? m->name : std::string();
}

void AppData::selectModel(int i, int force)
{
    if (selectionEnabled || force == 1)
        selectedIndex = i;
}

void AppData::addModel(MeshModel* m)
{
    if (!m)
        return;
    models.push_back(m);
    updateSelectionColours();
}

void AppData::addModels(const std::vector<MeshModel*>& added)
{
    for (MeshModel* m : added)
        if (m)
            models.push_back(m);
    updateSelectionColours();
}

void AppData::moveSelectionAfterRemoval(int removed)
{
    if (selectedIndex >= removed && selectedIndex != 0)
        --selectedIndex;
}

void AppData::removeModel(int i)
{
    if (i < 0 || i >= int(models.size()))
        return;
    removeSupportsOwnedBy(models[size_t(i)]);
    delete models[size_t(i)];
    models.erase(models.begin() + i);
    moveSelectionAfterRemoval(i);
}

void AppData::removeModelByName(const char* name)
{
    if (!name)
        return;
    for (size_t i = 0; i < models.size(); ++i) {
        if (models[i]->name == name) {
            removeSupportsOwnedBy(models[i]);
            delete models[i];
            models.erase(models.begin() + long(i));
            moveSelectionAfterRemoval(int(i));
            return;
        }
    }
}

void AppData::removeModelBySlot(int slot)
{
    if (slot < 0)
        return;
    for (size_t i = 0; i < models.size(); ++i) {
        if (models[i]->meshSlot == slot) {
            removeSupportsOwnedBy(models[i]);
            delete models[i];
            models.erase(models.begin() + long(i));
            moveSelectionAfterRemoval(int(i));
            return;
        }
    }
}

void AppData::updateSelectionColours()
{
    for (MeshModel* m : models)
        m->setColour(false);
    if (MeshModel* sel = getModel(selectedIndex))
        sel->setColour(true);
}

void AppData::refresh()
{
    updateSelectionColours();
    makeNamesUnique();
    freeUnusedMeshes();
}

void AppData::makeNamesUnique()
{
    std::unordered_set<std::string> seen;
    seen.reserve(models.size() * 2);
    std::vector<size_t> repeats;
    for (size_t i = 0; i < models.size(); ++i) {
        if (!seen.insert(models[i]->name).second)
            repeats.push_back(i);
    }
    if (repeats.empty())
        return;
    // Where the search for each base and start number stopped: every number before it is taken,
    // and taken numbers stay taken, so the next repeat of that name goes on from there.
    std::unordered_map<std::string, int> searched;
    std::unordered_map<uint64_t, MeshModel*> renamed;
    for (size_t i : repeats) {
        std::string base;
        const int start = MeshModel::splitNameNumber(models[i]->name, base);
        int& n = searched.emplace(base + '\0' + std::to_string(start), start).first->second;
        for (;;) {
            std::string candidate = base + "(" + std::to_string(++n) + ")";
            if (seen.insert(candidate).second) {
                models[i]->setName(candidate);
                renamed[models[i]->serial] = models[i];
                break;
            }
        }
    }
    for (MeshModel* s : supports) {
        const auto owner = renamed.find(s->ownerSerial);
        if (owner != renamed.end())
            s->ownerName = owner->second->name;
    }
}

void AppData::renameModel(MeshModel* m, const std::string& name)
{
    if (!m || name.empty())
        return;
    bool taken = false;
    for (const MeshModel* other : models)
        taken = taken || (other != m && other->name == name);
    if (!taken) {
        setModelName(m, name);
        return;
    }
    // The model being renamed yields; the one that has the name keeps it.
    std::string base;
    int n = MeshModel::splitNameNumber(name, base);
    for (;;) {
        const std::string candidate = base + "(" + std::to_string(++n) + ")";
        const MeshModel* holder = findModel(candidate);
        if (!holder || holder == m) {
            setModelName(m, candidate);
            return;
        }
    }
}

void AppData::setModelName(MeshModel* m, const std::string& name)
{
    m->setName(name);
    for (MeshModel* s : supports)
        if (s->ownerSerial == m->serial)
            s->ownerName = m->name;
}

bool AppData::allModelsInVolume() const
{
    for (const MeshModel* m : models)
        if (m->meshSlot >= 0 && m->visible && !m->isInsideVolume())
            return false;
    return true;
}

int AppData::countVisibleModels() const
{
    int n = 0;
    for (const MeshModel* m : models)
        if (m->meshSlot >= 0 && m->visible)
            ++n;
    return n;
}

std::array<double, 3> AppData::getSelectedCenter() const
{
    if (const MeshModel* m = getModel(selectedIndex)) {
        return {(m->box[0] + m->box[3]) / 2, (m->box[1] + m->box[4]) / 2, (m->box[2] + m->box[5]) / 2};
    }
    return {0.0, 0.0, machineHeight() / 2};
}

double AppData::getMaxTop() const
{
    double top = 0.0;
    for (const MeshModel* m : models)
        top = std::max(top, m->box[5]);
    return top;
}

void AppData::mergeVisibleModels(MeshData& out) const
{
    out.vertices.clear();
    out.faces.clear();
    out.normals.clear();
    for (const MeshModel* m : models) {
        if (m->meshSlot < 0 || !m->visible)
            continue;
        const MeshData* mesh = m->getMesh();
        if (!mesh)
            continue;
        MeshData placed;
        Eigen::Matrix4d matrix = m->getModelMatrix();
        MeshData::transform(*mesh, matrix.data(), placed);
        MeshData::appendMesh(out, placed);
    }
}

namespace {
struct Digest
{
    uint64_t h = 1469598103934665603ull; // FNV-1a
    template <typename T> void add(const T& v)
    {
        const auto* b = reinterpret_cast<const unsigned char*>(&v);
        for (size_t i = 0; i < sizeof(T); ++i)
            h = (h ^ b[i]) * 1099511628211ull;
    }
    void addObject(const MeshModel* m)
    {
        add(m->serial);
        add(m->ownerSerial);
        add(m->visible);
        // A slot refilled by another mesh carries another stamp.
        for (const MeshData* mesh : {m->getMesh(), m->getSupportMesh()})
            add(mesh ? mesh->stamp.value : 0);
        const Eigen::Matrix4d matrix = m->getModelMatrix();
        for (int i = 0; i < 16; ++i)
            add(matrix.data()[i]);
    }
};
} // namespace

uint64_t AppData::plateRevision() const
{
    Digest d;
    d.add(choiceType);
    d.add(models.size());
    for (const MeshModel* m : models)
        d.addObject(m);
    d.add(supports.size());
    for (const MeshModel* s : supports)
        d.addObject(s);
    return d.h;
}

// ---- Support objects ----

void AppData::commitSupport(MeshModel* s)
{
    if (!s) {
        s = workingObject;
        workingObject = new MeshModel();
    }
    // The owner is bound by identity here, while names are still unique.
    MeshModel* owner = nullptr;
    for (MeshModel* m : models) {
        if (s->ownerSerial ? m->serial == s->ownerSerial : m->name == s->ownerName) {
            owner = m;
            break;
        }
    }
    if (owner) {
        s->ownerSerial = owner->serial;
        s->ownerName = owner->name;
        owner->hasSupport = 1;
    }
    supports.push_back(s);
}

MeshModel* AppData::getSupport(int i) const
{
    if (i < 0 || i >= int(supports.size()))
        return nullptr;
    return supports[size_t(i)];
}

void AppData::removeSupport(int i)
{
    if (i < 0 || i >= int(supports.size()))
        return;
    delete supports[size_t(i)];
    supports.erase(supports.begin() + i);
}

void AppData::removeSupportsOf(const std::string& name)
{
    for (size_t i = 0; i < supports.size();) {
        if (supports[i]->ownerName == name) {
            MeshList::instance()->remove(supports[i]->supportSlot);
            delete supports[i];
            supports.erase(supports.begin() + long(i));
        } else {
            ++i;
        }
    }
}

void AppData::removeSupportsOwnedBy(const MeshModel* m)
{
    for (size_t i = 0; i < supports.size();) {
        if (supports[i]->ownerSerial == m->serial) {
            MeshList::instance()->remove(supports[i]->supportSlot);
            delete supports[i];
            supports.erase(supports.begin() + long(i));
        } else {
            ++i;
        }
    }
}

void AppData::removeAllSupports()
{
    while (!supports.empty()) {
        MeshList::instance()->remove(supports.front()->supportSlot);
        delete supports.front();
        supports.erase(supports.begin());
    }
    clearSupportFlags();
}

void AppData::updateSupportFlag(const std::string& name)
{
    for (const MeshModel* s : supports)
        if (s->ownerName == name)
            return;
    for (MeshModel* m : models) {
        if (m->name == name) {
            m->hasSupport = 0;
            return;
        }
    }
}

void AppData::clearSupportFlags()
{
    for (MeshModel* m : models)
        m->hasSupport = 0;
}

std::vector<std::array<double, 3>> AppData::getSupportPoints() const
{
    std::vector<std::array<double, 3>> points;
    points.reserve(supports.size());
    for (const MeshModel* s : supports)
        points.push_back(s->supportPoint);
    return points;
}

// ---- Meshes ----

void AppData::freeMeshes(bool spareWorkingObject)
{
    MeshList* list = MeshList::instance();
    const int count = list->size();
    std::vector<int> refs(size_t(count), 0);
    auto mark = [&](int slot) {
        if (slot >= 0 && slot < count)
            ++refs[size_t(slot)];
    };
    for (const MeshModel* m : models) {
        mark(m->meshSlot);
        mark(m->supportSlot);
    }
    for (const MeshModel* s : supports)
        mark(s->supportSlot);
    const int spared = spareWorkingObject && workingObject ? workingObject->supportSlot : -1;
    for (int i = 0; i < count; ++i) {
        if (list->at(i) && refs[size_t(i)] == 0 && i != spared)
            list->remove(i);
    }
}

void AppData::freeUnusedMeshes()
{
    freeMeshes(true);
}

void AppData::freeUnreferencedMeshes()
{
    freeMeshes(false);
}
