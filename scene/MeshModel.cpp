#include "scene/MeshModel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <limits>

#include "scene/AppData.h"
#include "scene/Constants.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "support/Parallelepiped.h"

namespace {
Eigen::Vector3d transformed(const Eigen::Matrix4d& m, const std::array<double, 3>& p)
{
    return m.topLeftCorner<3, 3>() * Eigen::Vector3d(p[0], p[1], p[2]) + m.topRightCorner<3, 1>();
}

Eigen::Quaterniond axisQuaternion(int axis, double degrees)
{
    const double h = degrees / 180.0 * PI * 0.5;
    Eigen::Quaterniond q(std::cos(h), 0.0, 0.0, 0.0);
    q.coeffs()[axis] = std::sin(h); // coeffs() is x, y, z, w
    return q;
}

int largestAxis(const std::array<double, 3>& s)
{
    if (s[0] > s[1])
        return s[0] > s[2] ? 0 : 2;
    return s[1] > s[2] ? 1 : 2;
}
} // namespace

namespace {
std::atomic<uint64_t> g_nextSerial{1};
}

MeshModel::MeshModel()
    : serial(g_nextSerial++)
    , colour(Palette::SelectedInside)
    , outlineColour(Palette::SelectedInside)
{
}

MeshModel::~MeshModel() = default;

MeshModel* MeshModel::copy() const
{
    auto* m = new MeshModel();
    m->name = name;
    m->ownerName = ownerName;
    m->ownerSerial = ownerSerial;
    m->factor = factor;
    m->offset = offset;
    m->scale = scale;
    m->position = position;
    m->rotationAngles = rotationAngles;
    m->orientation = orientation;
    m->bottomCentre = bottomCentre;
    m->meshSlot = meshSlot;
    m->visible = visible;
    m->drawn = drawn;
    m->colour = colour;
    m->outlineColour = outlineColour;
    m->box = box;
    m->size = size;
    m->isSupport = isSupport;
    m->supportHeight = supportHeight;
    m->supportPoint = supportPoint;
    m->fitPending = fitPending;
    m->savedBottomCentre = savedBottomCentre;
    m->centroid = centroid;
    m->viewRadius = viewRadius;
    m->rawCentre = rawCentre;
    m->rawMax = rawMax;
    m->rawMin = rawMin;
    if (supportSlot >= 0) {
        // The copy has no support mesh, so its box and tree cover the model mesh alone.
        m->updateBounds();
        m->buildBoundsTree();
    } else {
        m->faceTree = faceTree; // shared: the tree is never changed in place
    }
    return m;
}

void MeshModel::setMeshSlot(int slot)
{
    meshSlot = slot;
    if (const MeshData* mesh = getMesh())
        prepareMesh(*mesh);
}

bool MeshModel::prepareMesh(const MeshData& mesh, const std::atomic<bool>* cancelled, const MeshData* support,
                            std::shared_ptr<const FaceTree> tree)
{
    if (mesh.vertices.empty()) {
        rawMin = rawMax = rawCentre = offset = {0.0, 0.0, 0.0};
    } else {
        rawMin = rawMax = mesh.vertices.front();
        for (const auto& p : mesh.vertices) {
            for (int k = 0; k < 3; ++k) {
                rawMin[k] = std::min(rawMin[k], p[k]);
                rawMax[k] = std::max(rawMax[k], p[k]);
            }
        }
        for (int k = 0; k < 3; ++k) {
            rawCentre[k] = (rawMax[k] + rawMin[k]) / 2;
            offset[k] = -rawCentre[k];
        }
    }
    position = rawCentre;
    if (!support)
        support = getSupportMesh();
    updateBoundsWith(&mesh, support);
    if (tree)
        faceTree = std::move(tree);
    else if (!buildTreeWith(&mesh, support, cancelled))
        return false;
    updateCentroidWith(&mesh);
    updateRadiusWith(&mesh);
    return true;
}

void MeshModel::measureWith(const MeshData* mesh, const MeshData* support)
{
    updateBoundsWith(mesh, support);
    updateCentroidWith(mesh);
    updateRadiusWith(mesh);
}

MeshData* MeshModel::getMesh() const
{
    return meshSlot >= 0 ? MeshList::instance()->at(meshSlot) : nullptr;
}

MeshData* MeshModel::getSupportMesh() const
{
    return supportSlot >= 0 ? MeshList::instance()->at(supportSlot) : nullptr;
}

void MeshModel::setName(const std::string& n)
{
    if (!n.empty())
        name = n;
}

void MeshModel::translate(const double delta[3])
{
    for (int k = 0; k < 3; ++k)
        position[size_t(k)] += delta[k];
    updateBounds();
    updateCentroid();
}

void MeshModel::setPosition(int axis, double value)
{
    if (axis < 0 || axis > 2)
        return;
    position[size_t(axis)] = value;
    updateBounds();
    updateCentroid();
}

void MeshModel::moveTo(const double p[3])
{
    position = {p[0], p[1], p[2]};
    updateBounds();
    updateCentroid();
}

void MeshModel::keepBottomCentre(const std::array<float, 3>& old)
{
    if (old != bottomCentre) {
        const double d[3] = {double(old[0] - bottomCentre[0]), double(old[1] - bottomCentre[1]),
                             double(old[2] - bottomCentre[2])};
        translate(d);
    }
}

void MeshModel::setScale(double s)
{
    if (!(s > 1e-6) || !std::isfinite(s))
        return;
    const auto old = bottomCentre;
    scale = {s, s, s};
    updateBounds();
    updateCentroid();
    updateRadius();
    keepBottomCentre(old);
}

void MeshModel::setAxisScale(int axis, double s)
{
    if (!(s > 1e-6) || !std::isfinite(s) || axis < 0 || axis > 2)
        return;
    const auto old = bottomCentre;
    scale[size_t(axis)] = s;
    updateBounds();
    updateCentroid();
    updateRadius();
    keepBottomCentre(old);
}

void MeshModel::scaleToFit()
{
    AppData* app = AppData::instance();
    if (app->getChoiceType() == 1) {
        const int i = largestAxis(size);
        const double dims[3] = {app->getBoxLength(), app->getBoxWidth(), app->getBoxHeight()};
        const double target = 0.75 * dims[i];
        // A flat or empty model has nothing to fit by.
        if (!(size[size_t(i)] > 0.0) || std::fabs(size[size_t(i)] - target) < 0.01)
            return;
        setScale(target * scale[0] / size[size_t(i)]);
        return;
    }
    const double x0 = box[0], y0 = box[1], x1 = box[3], y1 = box[4];
    const double far = std::max(std::max(x0 * x0 + y0 * y0, x0 * x0 + y1 * y1), std::max(x1 * x1 + y0 * y0, x1 * x1 + y1 * y1));
    const double r = double(std::sqrt(float(far)));
    const double maxZ = std::fabs(box[5]);
    if (!(r > 0.0) || !(maxZ > 0.0) || !std::isfinite(r) || !std::isfinite(maxZ))
        return;
    const double radial = std::fabs(app->getBoxDiameter() * 0.5) * 0.75 / r * scale[0];
    const double height = std::fabs(app->getBoxDHeight()) * 0.75 / maxZ * scale[0];
    const double s = std::min(radial, height);
    if (std::fabs(s - scale[0]) < 0.01)
        return;
    setScale(s);
}

void MeshModel::keepCentroid(const std::array<float, 3>& old)
{
    if (old != centroid) {
        for (int k = 0; k < 3; ++k)
            position[size_t(k)] += double(old[size_t(k)] - centroid[size_t(k)]);
        updateBounds();
        updateCentroid();
    }
}

void MeshModel::setRotation(const double angles[3], bool reset)
{
    if (std::isnan(angles[0]) || std::isnan(angles[1]) || std::isnan(angles[2]))
        return;
    const auto old = centroid;
    if (reset) {
        orientation = Eigen::Quaterniond(1.0, 0.0, 0.0, 0.0);
        for (int k = 0; k < 3; ++k)
            if (std::fabs(angles[k]) > 1e-6)
                orientation = axisQuaternion(k, angles[k]) * orientation;
    }
    rotationAngles = {angles[0], angles[1], angles[2]};
    updateBounds();
    updateCentroid();
    keepCentroid(old);
}

void MeshModel::setAxisRotation(int axis, double degrees)
{
    if (axis < 0 || axis > 2 || std::isnan(degrees))
        return;
    const double d = degrees - rotationAngles[size_t(axis)];
    if (std::fabs(d) < 1e-6)
        return;
    const auto old = centroid;
    rotationAngles[size_t(axis)] = degrees;
    orientation = axisQuaternion(axis, d) * orientation;
    updateBounds();
    updateCentroid();
    keepCentroid(old);
}

Eigen::Matrix4d MeshModel::getModelMatrix() const
{
    return getTranslationMatrix() * getRotationMatrix() * getScaleMatrix() * getOffsetMatrix();
}

Eigen::Matrix4d MeshModel::getOffsetMatrix() const
{
    Eigen::Matrix4d f = Eigen::Matrix4d::Identity();
    Eigen::Matrix4d o = Eigen::Matrix4d::Identity();
    for (int k = 0; k < 3; ++k) {
        f(k, k) = factor[size_t(k)];
        o(k, 3) = offset[size_t(k)];
    }
    return f * o;
}

Eigen::Matrix4d MeshModel::getScaleMatrix() const
{
    Eigen::Matrix4d s = Eigen::Matrix4d::Identity();
    for (int k = 0; k < 3; ++k)
        s(k, k) = scale[size_t(k)];
    return s;
}

Eigen::Matrix4d MeshModel::getRotationMatrix() const
{
    // The quaternion stays a product of unit quaternions; toRotationMatrix assumes exactly that.
    Eigen::Matrix4d r = Eigen::Matrix4d::Identity();
    r.topLeftCorner<3, 3>() = orientation.toRotationMatrix();
    return r;
}

Eigen::Matrix4d MeshModel::getTranslationMatrix() const
{
    Eigen::Matrix4d t = Eigen::Matrix4d::Identity();
    for (int k = 0; k < 3; ++k)
        t(k, 3) = position[size_t(k)];
    return t;
}

double MeshModel::getBoundValue(int code) const
{
    switch (code) {
    case 0: case 1: case 2:
        return box[size_t(code)];
    case 3: case 4:
        return box[size_t(code)];
    case 5: case 17:
        return box[5];
    case 6: case 7: case 8:
        return rawCentre[size_t(code - 6)];
    case 9: case 10: case 11:
        return position[size_t(code - 9)];
    case 12:
        return (box[0] + box[3]) / 2;
    case 13:
        return (box[1] + box[4]) / 2;
    case 14:
        return (box[5] - box[2]) / 2;
    case 15:
        return (rawMax[0] - rawMin[0]) / 2;
    case 16:
        return (rawMax[1] - rawMin[1]) / 2;
    default:
        return 0.0;
    }
}

double MeshModel::getViewRadius()
{
    if (viewRadius < 20.0)
        viewRadius = 20.0;
    return viewRadius;
}

bool MeshModel::isOutsideRadius(double r) const
{
    const MeshData* mesh = getMesh();
    if (!mesh)
        return false;
    const double r2 = r * r;
    // The box holds every vertex: when its farthest corner is within r, so is the mesh, and the
    // colour of every model can be renewed without transforming a vertex.
    const double x = std::max(std::fabs(box[0]), std::fabs(box[3])), y = std::max(std::fabs(box[1]), std::fabs(box[4]));
    if (x * x + y * y <= r2)
        return false;
    const Eigen::Matrix4d m = getModelMatrix();
    for (const auto& p : mesh->vertices) {
        const Eigen::Vector3d q = transformed(m, p);
        if (q.x() * q.x() + q.y() * q.y() > r2)
            return true;
    }
    return false;
}

bool MeshModel::isInsideVolume() const
{
    const AppData* app = AppData::instance();
    if (app->getChoiceType() == 1) {
        const double hl = app->getBoxLength() / 2, hw = app->getBoxWidth() / 2;
        return box[0] >= -hl && box[1] >= -hw && box[2] >= -0.001 && box[3] <= hl && box[4] <= hw
               && box[5] <= app->getBoxHeight();
    }
    return !isOutsideRadius(app->getBoxDiameter() * 0.5) && box[5] <= app->getBoxDHeight() && box[2] >= -0.001;
}

bool MeshModel::exceedsVolume() const
{
    const AppData* app = AppData::instance();
    if (app->getChoiceType() == 1) {
        const int i = largestAxis(size);
        const double dims[3] = {app->getBoxLength(), app->getBoxWidth(), app->getBoxHeight()};
        return size[size_t(i)] > dims[i];
    }
    return !isInsideVolume();
}

void MeshModel::setColour(bool selected)
{
    const bool inside = isInsideVolume();
    if (selected)
        colour = inside ? Palette::SelectedInside : Palette::SelectedOutside;
    else
        colour = inside ? Palette::UnselectedInside : Palette::UnselectedOutside;
    outlineColour = colour;
}

void MeshModel::setOutlineColour(bool highlight)
{
    outlineColour = highlight ? Palette::OutlineHighlight : Palette::OutlinePlain;
}

void MeshModel::buildSupportBox(const double foot[3], double height, bool highlight)
{
    supportPoint = {foot[0], foot[1], foot[2] + height};
    const double side = AppData::instance()->getSupportSize();
    Parallelepiped column(Eigen::Vector3d(foot[0], foot[1], foot[2] + height / 2), side, side, height);
    MeshData built;
    column.buildMesh(built);

    position[2] += (height - supportHeight) / 2;
    supportHeight = height;

    const Eigen::Matrix4d inverse = getModelMatrix().inverse();
    auto* mesh = new MeshData();
    MeshData::transform(built, inverse.data(), *mesh);
    MeshData::computeNormals(*mesh);

    MeshList* list = MeshList::instance();
    const int slot = list->add(mesh);
    list->remove(supportSlot);
    supportSlot = slot;

    setOutlineColour(highlight);
    updateBounds();
    buildBoundsTree();
}

int MeshModel::splitNameNumber(const std::string& name, std::string& base)
{
    base = name;
    const size_t n = name.size();
    if (n < 3 || name[n - 1] != ')')
        return 0;
    size_t open = n - 1;
    while (open > 0 && name[open - 1] >= '0' && name[open - 1] <= '9')
        --open;
    // open is now the index just after the "(" candidate.
    if (open == 0 || name[open - 1] != '(')
        return 0;
    const size_t bracket = open - 1;
    const size_t digits = n - 1 - open;
    if (digits > 3 || bracket == 0 || bracket >= 128)
        return 0;
    int value = 0;
    for (size_t i = open; i < n - 1; ++i)
        value = value * 10 + (name[i] - '0');
    base = name.substr(0, bracket);
    return value;
}

void MeshModel::updateBounds()
{
    updateBoundsWith(getMesh(), getSupportMesh());
}

void MeshModel::updateCentroid()
{
    updateCentroidWith(getMesh());
}

void MeshModel::updateRadius()
{
    updateRadiusWith(getMesh());
}

void MeshModel::buildBoundsTree()
{
    buildTreeWith(getMesh(), getSupportMesh());
}

void MeshModel::updateBoundsWith(const MeshData* mesh, const MeshData* support)
{
    const Eigen::Matrix4d m = getModelMatrix();
    // From the vertices themselves, so that one beyond the sentinels still counts.
    constexpr double inf = std::numeric_limits<double>::infinity();
    Eigen::Vector3d lo(inf, inf, inf), hi(-inf, -inf, -inf);
    for (const MeshData* d : {mesh, support}) {
        if (!d)
            continue;
        for (const auto& p : d->vertices) {
            const Eigen::Vector3d q = transformed(m, p);
            lo = lo.cwiseMin(q);
            hi = hi.cwiseMax(q);
        }
    }
    if (lo.x() == inf) {
        lo = Eigen::Vector3d(1e100, 1e100, 1e100);
        hi = -lo;
    }
    box = {lo.x(), lo.y(), lo.z(), hi.x(), hi.y(), hi.z()};
    bottomCentre = {float((lo.x() + hi.x()) / 2), float((lo.y() + hi.y()) / 2), float(lo.z())};
    size = {hi.x() - lo.x(), hi.y() - lo.y(), hi.z() - lo.z()};
}

void MeshModel::updateCentroidWith(const MeshData* mesh)
{
    centroid = {0.f, 0.f, 0.f};
    if (!mesh || mesh->vertices.empty())
        return;
    // Summed in double: a float running sum drifts by millimetres on large meshes.
    const Eigen::Matrix4d m = getModelMatrix();
    Eigen::Vector3d sum(0.0, 0.0, 0.0);
    for (const auto& p : mesh->vertices)
        sum += transformed(m, p);
    sum /= double(mesh->vertices.size());
    centroid = {float(sum.x()), float(sum.y()), float(sum.z())};
}

void MeshModel::updateRadiusWith(const MeshData* mesh)
{
    viewRadius = 0.0;
    if (!mesh)
        return;
    const Eigen::Matrix4d m = getModelMatrix();
    const Eigen::Vector3d c(centroid[0], centroid[1], centroid[2]);
    double best = 0.0;
    for (const auto& p : mesh->vertices)
        best = std::max(best, (transformed(m, p) - c).squaredNorm());
    viewRadius = std::sqrt(best);
}

bool MeshModel::buildTreeWith(const MeshData* mesh, const MeshData* support, const std::atomic<bool>* cancelled)
{
    const Eigen::Matrix4d frame = getOffsetMatrix();
    std::vector<FaceIndex> objects;
    std::vector<Eigen::Vector3d> placed;
    const size_t total = (mesh ? mesh->faces.size() : 0) + (support ? support->faces.size() : 0);
    objects.reserve(total);
    placed.reserve((mesh ? mesh->vertices.size() : 0) + (support ? support->vertices.size() : 0));
    // A stop is looked at every 64k elements, so a stopped load does not copy a large mesh first.
    auto stopped = [cancelled](size_t i) { return (i & 0xffff) == 0 && cancelled && cancelled->load(std::memory_order_relaxed); };
    auto addFaces = [&](const MeshData& d) {
        const int32_t base = int32_t(placed.size());
        const size_t nv = d.vertices.size();
        for (size_t i = 0; i < nv; ++i) {
            if (stopped(i))
                return false;
            placed.push_back(transformed(frame, d.vertices[i]));
        }
        for (size_t i = 0; i < d.faces.size(); ++i) {
            if (stopped(i))
                return false;
            const auto& f = d.faces[i];
            if (f[0] < 0 || f[1] < 0 || f[2] < 0 || size_t(f[0]) >= nv || size_t(f[1]) >= nv || size_t(f[2]) >= nv)
                continue;
            objects.push_back(FaceIndex{{f[0] + base, f[1] + base, f[2] + base}});
        }
        return true;
    };
    if ((mesh && !addFaces(*mesh)) || (support && !addFaces(*support)))
        return false;
    auto tree = std::make_shared<FaceTree>();
    if (!tree->build(std::move(objects), placed, cancelled))
        return false;
    faceTree = std::move(tree);
    return true;
}
