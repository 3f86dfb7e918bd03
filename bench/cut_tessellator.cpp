// The cap fill of our sweep beside GLU's tessellator (the SGI sweep) on the same rings: the
// section outlines of the shapes whose caps are one large set of rings, at about 1M faces each
// (parts side by side, as fins on a base, are many small sets, and their section is the live
// preview's union, not meant for a million faces). Both fill
// every ring of the section at once by the even-odd rule; times in ms, and the triangles each
// gave with the area they cover.
#include <GL/glu.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>
#include <functional>

#include "../tests/cutting/testutil_meshes.h"
#include "FileRW/PolygonTriangulator.h"
#include "cutting/CutEngine.h"
#include "cutting/CutWorkData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {

using GridPoint = PolygonTriangulator::GridPoint;

struct Rings
{
    std::vector<GridPoint> points;
    std::vector<std::vector<int32_t>> rings;
};

// The section's outlines at the plane, as rings over one point table.
Rings sectionRings(const MeshData& mesh, int axis, double plane)
{
    MeshModel* m = new MeshModel();
    m->setMeshSlot(MeshList::instance()->add(new MeshData(mesh)));
    Rings r;
    if (computeCutSection(m, 0, int(std::lround(plane * 1000.0)), axis, true))
        for (const SectionRegion& region : cutWorkData().regions)
            for (const auto& outline : region.outlines) {
                std::vector<int32_t> ring;
                for (const auto& p : outline) {
                    ring.push_back(int32_t(r.points.size()));
                    r.points.push_back({p.X, p.Y});
                }
                r.rings.push_back(std::move(ring));
            }
    resetCutSection();
    delete m;
    return r;
}

double area(const std::vector<GridPoint>& p, const std::vector<PolygonTriangulator::Triangle>& tris)
{
    double sum = 0.0;
    for (const auto& t : tris) {
        const GridPoint &a = p[size_t(t[0])], &b = p[size_t(t[1])], &c = p[size_t(t[2])];
        sum += std::abs(double(b[0] - a[0]) * double(c[1] - a[1]) - double(b[1] - a[1]) * double(c[0] - a[0])) / 2.0;
    }
    return sum * 1e-6; // mm^2
}

struct GluOut
{
    std::vector<GridPoint> points;
    std::vector<PolygonTriangulator::Triangle> tris;
    std::vector<int32_t> corner;
    bool failed = false;
};

void GLAPIENTRY onBegin(GLenum, void*) {}
void GLAPIENTRY onEdge(GLboolean, void*) {}
void GLAPIENTRY onVertex(void* vertex, void* data)
{
    GluOut* out = static_cast<GluOut*>(data);
    out->corner.push_back(int32_t(reinterpret_cast<intptr_t>(vertex)));
    if (out->corner.size() == 3) {
        out->tris.push_back({out->corner[0], out->corner[1], out->corner[2]});
        out->corner.clear();
    }
}
void GLAPIENTRY onCombine(GLdouble coords[3], void*[4], GLfloat[4], void** made, void* data)
{
    GluOut* out = static_cast<GluOut*>(data);
    *made = reinterpret_cast<void*>(intptr_t(out->points.size()));
    out->points.push_back({std::llround(coords[0]), std::llround(coords[1])});
}
void GLAPIENTRY onError(GLenum, void* data) { static_cast<GluOut*>(data)->failed = true; }

// GLU's fill of the rings, even-odd, triangles only (an edge flag callback asks for them).
GluOut gluFill(const Rings& r)
{
    GluOut out;
    out.points = r.points;
    std::vector<std::array<GLdouble, 3>> coords(r.points.size());
    for (size_t i = 0; i < r.points.size(); ++i)
        coords[i] = {GLdouble(r.points[i][0]), GLdouble(r.points[i][1]), 0.0};
    GLUtesselator* tess = gluNewTess();
    gluTessProperty(tess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_ODD);
    gluTessNormal(tess, 0.0, 0.0, 1.0);
    gluTessCallback(tess, GLU_TESS_BEGIN_DATA, reinterpret_cast<void(GLAPIENTRY*)()>(onBegin));
    gluTessCallback(tess, GLU_TESS_EDGE_FLAG_DATA, reinterpret_cast<void(GLAPIENTRY*)()>(onEdge));
    gluTessCallback(tess, GLU_TESS_VERTEX_DATA, reinterpret_cast<void(GLAPIENTRY*)()>(onVertex));
    gluTessCallback(tess, GLU_TESS_COMBINE_DATA, reinterpret_cast<void(GLAPIENTRY*)()>(onCombine));
    gluTessCallback(tess, GLU_TESS_ERROR_DATA, reinterpret_cast<void(GLAPIENTRY*)()>(onError));
    gluTessBeginPolygon(tess, &out);
    for (const auto& ring : r.rings) {
        gluTessBeginContour(tess);
        for (int32_t id : ring)
            gluTessVertex(tess, coords[size_t(id)].data(), reinterpret_cast<void*>(intptr_t(id)));
        gluTessEndContour(tess);
    }
    gluTessEndPolygon(tess);
    gluDeleteTess(tess);
    return out;
}

int side(size_t faces, double perCell) { return std::max(2, int(std::sqrt(double(faces) / perCell))); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const size_t f = argc > 1 ? size_t(QByteArray(argv[1]).toULongLong()) : size_t(1000000);
    struct Shape
    {
        const char* name;
        std::function<MeshData()> make;
        int axis;
        double plane;
    };
    const std::vector<Shape> shapes = {
        {"sphere", [f] { const int k = side(f, 2); return testmesh::sphere(40.0, k, k); }, 2, 0.123},
        {"spiral_wall_50_turns", [f] { return testmesh::spiralWall(50, int(f / 8)); }, 2, 5.0},
        {"plate_holes", [f] { return testmesh::perforatedPlate(side(f, 96), 2.0, 4.0, 0.6); }, 2, 2.0},
        {"noisy_relief", [f] { return testmesh::noisyRelief(side(f, 2), 100.0, 10.0, 0.2); }, 2, 10.0},
        {"noisy_pole_sphere", [f] { const int k = side(f, 2); return testmesh::noisySphere(40.0, k, k, 0.05); }, 0, 0.0},
    };
    const QString only = argc > 2 ? QString(argv[2]) : QString();
    for (const Shape& s : shapes) {
        if (!only.isEmpty() && only != s.name)
            continue;
        const Rings r = sectionRings(s.make(), s.axis, s.plane);
        QElapsedTimer t;
        t.start();
        std::vector<PolygonTriangulator::Triangle> ours;
        const auto result = PolygonTriangulator::fillRings(r.points, r.rings, ours);
        const long long oursMs = t.elapsed();
        t.restart();
        const GluOut glu = gluFill(r);
        const long long gluMs = t.elapsed();
        std::printf("%s_rings: %zu count\n", s.name, r.rings.size());
        std::printf("%s_points: %zu count\n", s.name, r.points.size());
        std::printf("%s_sweep_fill: %lld ms\n", s.name, oursMs);
        std::printf("%s_sweep_triangles: %zu count\n", s.name, result == PolygonTriangulator::Fill::Done ? ours.size() : size_t(0));
        std::printf("%s_sweep_area: %.1f mm2\n", s.name, area(r.points, ours));
        std::printf("%s_glu_fill: %lld ms\n", s.name, gluMs);
        std::printf("%s_glu_triangles: %zu count\n", s.name, glu.failed ? size_t(0) : glu.tris.size());
        std::printf("%s_glu_area: %.1f mm2\n", s.name, area(glu.points, glu.tris));
        std::printf("%s_glu_ratio: %.2f x\n", s.name, double(gluMs) / std::max(1.0, double(oursMs)));
        std::fflush(stdout);
    }
    return 0;
}
