// Cut times (section and cut) of shapes that are hard for the section's union and caps, each
// beside a closed sphere of as many faces in the same run; the live preview step of shapes
// within the preview limit; and how long a cut takes to end after a stop request.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QtConcurrent/QtConcurrent>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <thread>

#include "../tests/cutting/testutil_meshes.h"
#include "FileRW/PolygonTriangulator.h"
#include "cutting/CutEngine.h"
#include "cutting/SectionPreview.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {

MeshModel* model(const MeshData& mesh)
{
    MeshModel* m = new MeshModel();
    m->setMeshSlot(MeshList::instance()->add(new MeshData(mesh)));
    m->setName("part");
    return m;
}

struct Shape
{
    const char* name;
    std::function<MeshData(size_t faces)> make;
    int axis;
    std::function<double(const MeshData&)> plane; // mm
};

double maxZ(const MeshData& m)
{
    double z = -1e300;
    for (const auto& v : m.vertices)
        z = std::max(z, v[2]);
    return z;
}

int side(size_t faces, double perCell) { return std::max(2, int(std::sqrt(double(faces) / perCell))); }

const std::vector<Shape>& shapes()
{
    static const std::vector<Shape> list = {
        {"chains_at_one_point", [](size_t f) { return testmesh::vSheets(int(f / 4)); }, 2, [](const MeshData&) { return 5.0; }},
        {"spiral_wall_50_turns", [](size_t f) { return testmesh::spiralWall(50, int(f / 8)); }, 2, [](const MeshData&) { return 5.0; }},
        {"fins_on_base", [](size_t f) { return testmesh::finsOnBase(int(f / 12), 1.0); }, 0, [](const MeshData&) { return 0.0; }},
        {"plate_holes", [](size_t f) { return testmesh::perforatedPlate(side(f, 96), 2.0, 4.0, 0.6); }, 2, [](const MeshData&) { return 2.0; }},
        {"plate_holes_8_sides", [](size_t f) { return testmesh::perforatedPlate(side(f, 48), 1.0, 4.0, 0.3, 8); }, 2, [](const MeshData&) { return 2.0; }},
        {"noisy_relief", [](size_t f) { return testmesh::noisyRelief(side(f, 2), 100.0, 10.0, 0.2); }, 2, [](const MeshData&) { return 10.0; }},
        {"near_tangent_relief", [](size_t f) { return testmesh::noisyRelief(side(f, 2), 100.0, 10.0, 0.2); }, 2,
         [](const MeshData& m) { return std::floor(maxZ(m) * 1000.0) * 0.001 - 0.001; }},
        {"noisy_pole_sphere", [](size_t f) { const int k = side(f, 2); return testmesh::noisySphere(40.0, k, k, 0.05); }, 0, [](const MeshData&) { return 0.0; }},
        {"blades_on_axis", [](size_t f) { return testmesh::bladesOnAxis(int(f / 8)); }, 2, [](const MeshData&) { return 5.0; }},
        // With a cavity beside them, whose search for an outline around it makes the grid of
        // the blades' bounds, which all overlap.
        {"blades_and_cavity", [](size_t f) {
             return testmesh::joined({testmesh::bladesOnAxis(int(f / 8)), testmesh::cuboid(30, 30, 0, 31, 31, 10, true)});
         }, 2, [](const MeshData&) { return 5.0; }},
        {"inside_out_boxes", [](size_t f) {
             // Inside-out cubes in a row, as many faces as asked.
             std::vector<MeshData> parts;
             for (size_t i = 0; i < std::max<size_t>(1, f / 12); ++i)
                 parts.push_back(testmesh::cuboid(0, 2.0 * double(i), 0, 10, 2.0 * double(i) + 1.0, 10, true));
             return testmesh::joined(parts);
         }, 2, [](const MeshData&) { return 5.0; }},
    };
    return list;
}

MeshData sphereOf(size_t faces)
{
    const int k = side(faces, 2);
    return testmesh::sphere(40.0, k, k);
}

// A cut from scratch, the section included; ms, or -1 when it failed.
long long timeCut(const MeshData& mesh, int axis, double plane, bool* ok = nullptr)
{
    MeshModel* m = model(mesh);
    resetCutSection();
    g_jobState = 0;
    QElapsedTimer t;
    t.start();
    // On a thread of the global pool, as the window's cut job runs: a thread other than the
    // first takes its memory from a malloc arena of its own, which behaves otherwise.
    CutResult r;
    QtConcurrent::run([&] { r = cutModel(m, 0, int(plane * 1000.0), axis); }).waitForFinished();
    const long long ms = t.elapsed();
    if (ok)
        *ok = r.ok;
    delete m;
    return ms;
}

// A cut in a process of its own: the first after loading the model (cold: every list and
// table still to be grown), then the same cut again (warm). ms each, -1 when it failed or
// did not end.
std::pair<long long, long long> childCut(const QString& shape, size_t faces)
{
    // A cut that does not end within CUT_BENCH_LIMIT_S seconds (300 unless set) is given up.
    bool set = false;
    const int limit = qEnvironmentVariableIntValue("CUT_BENCH_LIMIT_S", &set);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--child", shape, QString::number(qulonglong(faces))});
    if (!child.waitForFinished((set && limit > 0 ? limit : 300) * 1000)) {
        child.kill();
        child.waitForFinished(-1);
        return {-1, -1};
    }
    const QList<QByteArray> fields = child.readAllStandardOutput().simplified().split(' ');
    if (fields.size() < 2)
        return {-1, -1};
    return {fields[0].toLongLong(), fields[1].toLongLong()};
}

// The median of CUT_BENCH_RUNS (3 unless set) child cuts, cold and warm each; a failed cut
// counts as the slowest.
std::pair<long long, long long> medianCut(const QString& shape, size_t faces)
{
    bool set = false;
    const int asked = qEnvironmentVariableIntValue("CUT_BENCH_RUNS", &set);
    const int runs = set ? std::max(1, asked) : 3;
    std::vector<long long> cold, warm;
    for (int i = 0; i < runs; ++i) {
        const auto ms = childCut(shape, faces);
        cold.push_back(ms.first < 0 ? LLONG_MAX : ms.first);
        warm.push_back(ms.second < 0 ? LLONG_MAX : ms.second);
    }
    std::sort(cold.begin(), cold.end());
    std::sort(warm.begin(), warm.end());
    auto mid = [](const std::vector<long long>& v) { return v[v.size() / 2] == LLONG_MAX ? -1 : v[v.size() / 2]; };
    return {mid(cold), mid(warm)};
}

void cutCase(const Shape& s, size_t faces)
{
    // The sphere before and after the shape, each in fresh processes like the shape: the
    // machine's load changes over a run, and a cold cut varies by a tenth from one process to
    // the next.
    const auto before = medianCut("sphere", faces);
    const auto ms = medianCut(s.name, faces);
    const auto after = medianCut("sphere", faces);
    const double cold = std::max(1.0, double(before.first + after.first) / 2.0);
    const double warm = std::max(1.0, double(before.second + after.second) / 2.0);
    const QByteArray tag = QByteArray(s.name) + "_" + QByteArray::number(qulonglong(faces / 1000)) + "k";
    std::printf("%s_cut: %lld ms\n", tag.constData(), ms.first);
    std::printf("%s_sphere_cut: %.0f ms\n", tag.constData(), cold);
    std::printf("%s_ratio: %.2f x\n", tag.constData(), double(ms.first) / cold);
    std::printf("%s_warm_cut: %lld ms\n", tag.constData(), ms.second);
    std::printf("%s_warm_sphere_cut: %.0f ms\n", tag.constData(), warm);
    std::printf("%s_warm_ratio: %.2f x\n", tag.constData(), double(ms.second) / warm);
    std::fflush(stdout);
}

// The live preview of shapes within the preview limit: the section's own time at the first
// plane position (what the GUI thread held when it computed the section itself), then a drag
// to the last position, one step every 16 ms: the longest the GUI thread holds for one step
// (the hand-over to the preview's thread) and the wait from the last step until its section
// is in place.
void previewCases(const QString& only)
{
    struct Preview
    {
        const char* name;
        std::function<MeshData()> make;
        int axis;
        double from, to; // mm
    };
    const std::vector<Preview> list = {
        {"chains_at_one_point_6800", [] { return testmesh::vSheets(6800); }, 2, 5.0, 8.0},
        {"crowded_sheets_10000", [] { return testmesh::crowdedSheets(10000); }, 2, 2.0, 8.0},
        {"fins_on_base_500", [] { return testmesh::finsOnBase(500); }, 0, -20.0, 20.0},
        {"fins_on_base_3400", [] { return testmesh::finsOnBase(3400); }, 0, -20.0, 20.0},
        {"spiral_wall_10000", [] { return testmesh::spiralWall(50, 10000); }, 2, 2.0, 8.0},
        {"plate_holes_2500_8_sides", [] { return testmesh::perforatedPlate(50, 2.0, 4.0, 0.6, 8); }, 2, 1.0, 3.0},
        {"noisy_relief_140", [] { return testmesh::noisyRelief(140, 100.0, 10.0, 0.2); }, 2, 9.9, 10.1},
        {"noisy_pole_sphere_140", [] { return testmesh::noisySphere(40.0, 143, 143, 0.05); }, 0, 0.0, 5.0},
    };
    AppData* app = AppData::instance();
    long long worstSection = 0;
    qint64 worstStepNs = 0;
    for (const Preview& p : list) {
        if (!only.isEmpty() && only != "preview" && only != p.name)
            continue;
        MeshModel* m = model(p.make());
        app->addModel(m);
        const int index = app->modelCount() - 1;
        const int fromUm = int(p.from * 1000.0), toUm = int(p.to * 1000.0), steps = 60;
        g_jobState = 0;
        QElapsedTimer t;
        t.start();
        const bool done = computeCutSection(m, index, fromUm, p.axis, false);
        const long long ms = t.elapsed();
        worstSection = std::max(worstSection, ms);
        std::printf("preview_%s_vertices: %zu count\n", p.name, m->getMesh()->vertices.size());
        std::printf("preview_%s_section: %lld ms\n", p.name, ms);
        std::printf("preview_%s_done: %d bool\n", p.name, int(done));
        resetCutSection();
        SectionPreview preview;
        qint64 stepNs = 0;
        for (int k = 0; k <= steps; ++k) {
            t.restart();
            preview.request(m, index, fromUm + (toUm - fromUm) * k / steps, p.axis);
            stepNs = std::max(stepNs, t.nsecsElapsed());
            t.restart();
            while (t.elapsed() < 16)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        t.restart();
        while (preview.isBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        worstStepNs = std::max(worstStepNs, stepNs);
        std::printf("preview_%s_step: %.3f ms\n", p.name, double(stepNs) / 1e6);
        std::printf("preview_%s_last: %lld ms\n", p.name, (long long)t.elapsed());
        std::printf("preview_%s_latest: %d bool\n", p.name, int(cutWorkData().planeUm == toUm && cutWorkData().model == m));
        std::fflush(stdout);
        resetCutSection();
        app->clearModels(false);
    }
    std::printf("preview_worst_section: %lld ms\n", worstSection);
    std::printf("preview_worst_step: %.3f ms\n", double(worstStepNs) / 1e6);
}

// A stop request after delayMs: how long the cut still runs.
void stopCase(const Shape& s, size_t faces)
{
    const MeshData mesh = s.make(faces);
    const double plane = s.plane(mesh);
    long long worst = 0;
    for (int delayMs : {50, 200, 400, 800}) {
        MeshModel* m = model(mesh);
        resetCutSection();
        g_jobState = 0;
        QElapsedTimer t;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            t.start();
            g_jobState = 1;
        });
        cutModel(m, 0, int(plane * 1000.0), s.axis);
        stopper.join();
        worst = std::max(worst, t.elapsed());
        if (qEnvironmentVariableIsSet("STOP_DETAIL"))
            std::printf("  after %d ms: %lld ms\n", delayMs, (long long)t.elapsed());
        delete m;
    }
    g_jobState = 0;
    std::printf("stop_%s_latency: %lld ms\n", s.name, worst);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 3 && QByteArray(argv[1]) == "--child") {
        // One cut: the shape or the sphere of about that many faces; prints its ms, -1 failed.
        const size_t faces = size_t(QByteArray(argv[3]).toULongLong());
        const QByteArray name(argv[2]);
        MeshData mesh;
        int axis = 2;
        double plane = 0.123;
        if (name == "sphere")
            mesh = sphereOf(faces);
        for (const Shape& s : shapes())
            if (name == s.name) {
                mesh = s.make(faces);
                axis = s.axis;
                plane = s.plane(mesh);
            }
        bool ok = false, again = false;
        const long long cold = timeCut(mesh, axis, plane, &ok);
        const long long warm = timeCut(mesh, axis, plane, &again);
        std::printf("%lld %lld\n", ok ? cold : -1, again ? warm : -1);
        return 0;
    }
    // Arguments: a case (a shape's name, "preview", "obj", "stop" or "sphere"; empty for all) and
    // the face count of the cut cases (1,000,000 unless given).
    const QString only = argc > 1 ? QString(argv[1]) : QString();
    const size_t faces = argc > 2 ? size_t(QByteArray(argv[2]).toULongLong()) : size_t(1000000);
    if (only.isEmpty() || only == "sphere")
        std::printf("sphere_%zuk_cut: %lld ms\n", faces / 1000, medianCut("sphere", faces).first);
    for (const Shape& s : shapes())
        if (only.isEmpty() || only == s.name)
            cutCase(s, faces);
    if (only.isEmpty() || only == "preview" || only.startsWith("preview_"))
        previewCases(only.startsWith("preview_") ? only.mid(8) : QString());
    if (only.isEmpty() || only == "obj") {
        // An OBJ face shaped as a star of 100,000 corners, filled by the same sweep.
        std::vector<PolygonTriangulator::Point3> star;
        for (int i = 0; i < 100000; ++i) {
            const double a = 2 * M_PI * i / 100000, r = i % 2 ? 50.0 : 100.0;
            star.push_back({r * std::cos(a), r * std::sin(a), 0.0});
        }
        QElapsedTimer t;
        t.start();
        const size_t triangles = PolygonTriangulator::triangulate(star).size();
        std::printf("obj_star_100000_corners_face: %lld ms\n", (long long)t.elapsed());
        std::printf("obj_star_100000_corners_triangles: %zu count\n", triangles);
    }
    if (only == "stop")
        for (const Shape& s : shapes())
            stopCase(s, faces);
    return 0;
}
