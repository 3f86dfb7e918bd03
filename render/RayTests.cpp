#include "render/RayTests.h"

#include <cfloat>
#include <cmath>

#include "scene/MeshData.h"
#include "scene/MeshModel.h"

bool rayBoxSlab(const double ray[6], const double box[6], double& t)
{
    double tmin = -DBL_MAX, tmax = DBL_MAX;
    for (int k = 0; k < 3; ++k) {
        const double o = ray[k], d = ray[3 + k];
        if (std::fabs(d) < 1e-6) {
            if (o < box[k] || o > box[3 + k])
                return false;
            continue;
        }
        const double t1 = (box[k] - o) / d, t2 = (box[3 + k] - o) / d;
        tmin = std::max(std::min(t1, t2), tmin);
        tmax = std::min(std::max(t1, t2), tmax);
        if (tmin > tmax)
            return false;
    }
    t = tmin;
    return true;
}

bool rayTriangle(const double ray[6], const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                 const Eigen::Vector3d& c, double& t, double angle)
{
    const Eigen::Vector3d o(ray[0], ray[1], ray[2]);
    const Eigen::Vector3d d(ray[3], ray[4], ray[5]);
    const Eigen::Vector3d e1 = b - a, e2 = c - a;
    const Eigen::Vector3d p = d.cross(e2);
    const double det = e1.dot(p);
    if (det > -1e-6 && det < 1e-6)
        return false;
    const Eigen::Vector3d s = o - a;
    const double u = s.dot(p) / det;
    if (u < -1e-6 || u > 1.000001)
        return false;
    const Eigen::Vector3d q = s.cross(e1);
    const double v = d.dot(q) / det;
    if (v < -1e-6 || u + v > 1.000001)
        return false;
    t = e2.dot(q) / det;
    if (angle != 0.0) {
        const Eigen::Vector3d n = e1.cross(e2);
        const double k = std::fabs(n.dot(d)) / (n.norm() * d.norm());
        if (!(std::cos((90.0 - angle) * 3.14159265359 / 180.0) > k))
            t = -t;
    }
    return true;
}

bool rayTriangleSigned(const double ray[6], const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                       const Eigen::Vector3d& c, double& t, double& signedT, double angle)
{
    if (!rayTriangle(ray, a, b, c, t, 0.0))
        return false;
    signedT = t;
    if (angle != 0.0)
        rayTriangle(ray, a, b, c, signedT, angle);
    return true;
}

namespace {

// A model prepared for the ray: its face tree, meshes and the matrices between the scene
// and the tree's frame.
struct RayModelFrame
{
    const MeshModel* model = nullptr;
    const MeshData* mesh = nullptr;
    const MeshData* support = nullptr;
    Eigen::Matrix4d sceneToTree = Eigen::Matrix4d::Identity();
    Eigen::Matrix4d vertexToScene = Eigen::Matrix4d::Identity();
};

RayModelFrame rayModelFrame(const MeshModel* model)
{
    RayModelFrame f;
    f.model = model;
    if (!model)
        return f;
    f.mesh = model->getMesh();
    f.support = model->getSupportMesh();
    const Eigen::Matrix4d treeToScene = model->getTranslationMatrix() * model->getRotationMatrix() * model->getScaleMatrix();
    f.sceneToTree = treeToScene.inverse();
    f.vertexToScene = model->getModelMatrix();
    return f;
}

// Walks the face tree with the ray carried into the tree's frame (the affine map keeps t);
// faces are tested in the scene so that angles and hit points are the scene's.
template <typename OnHit>
void walkTree(const double ray[6], const RayModelFrame& f, double angle, OnHit onHit)
{
    if (!f.model || !f.model->faceTree)
        return;
    const FaceTree& tree = *f.model->faceTree;
    const Eigen::Vector4d o = f.sceneToTree * Eigen::Vector4d(ray[0], ray[1], ray[2], 1.0);
    const Eigen::Vector4d d = f.sceneToTree * Eigen::Vector4d(ray[3], ray[4], ray[5], 0.0);
    const double local[6] = {o[0], o[1], o[2], d[0], d[1], d[2]};
    const size_t nMesh = f.mesh ? f.mesh->vertices.size() : 0;
    const size_t nSupport = f.support ? f.support->vertices.size() : 0;
    auto vertex = [&](int32_t i, Eigen::Vector3d& out) {
        if (i < 0)
            return false;
        const std::array<double, 3>* p;
        if (size_t(i) < nMesh)
            p = &f.mesh->vertices[size_t(i)];
        else if (size_t(i) - nMesh < nSupport)
            p = &f.support->vertices[size_t(i) - nMesh];
        else
            return false;
        out = (f.vertexToScene * Eigen::Vector4d((*p)[0], (*p)[1], (*p)[2], 1.0)).head<3>();
        return true;
    };
    std::vector<int> stack;
    stack.reserve(64);
    stack.push_back(tree.getRootIndex());
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        FaceTree::VolumeIterator vb = nullptr, ve = nullptr;
        FaceTree::ObjectIterator ob = nullptr, oe = nullptr;
        tree.getChildren(node, vb, ve, ob, oe);
        for (; vb != ve; ++vb) {
            const auto& box = tree.getVolume(*vb);
            const double b[6] = {box.min()[0], box.min()[1], box.min()[2], box.max()[0], box.max()[1], box.max()[2]};
            double tb;
            if (rayBoxSlab(local, b, tb))
                stack.push_back(*vb);
        }
        for (; ob != oe; ++ob) {
            Eigen::Vector3d a, b, c;
            if (!vertex(ob->v[0], a) || !vertex(ob->v[1], b) || !vertex(ob->v[2], c))
                continue;
            double t, signedT;
            if (!rayTriangleSigned(ray, a, b, c, t, signedT, angle))
                continue;
            onHit(t, signedT);
        }
    }
}

} // namespace

bool rayHitsModel(const double ray[6], const MeshModel* model, double& t)
{
    t = DBL_MAX;
    walkTree(ray, rayModelFrame(model), 0.0, [&](double th, double) {
        if (th < t)
            t = th;
    });
    return t < DBL_MAX;
}

bool rayIntersectModel(const double ray[6], const MeshModel* model,
                       std::vector<std::array<double, 4>>& hits, double angle)
{
    const size_t before = hits.size();
    walkTree(ray, rayModelFrame(model), angle, [&](double t, double signedT) {
        hits.push_back({ray[0] + t * ray[3], ray[1] + t * ray[4], ray[2] + t * ray[5], signedT});
    });
    return hits.size() > before;
}
