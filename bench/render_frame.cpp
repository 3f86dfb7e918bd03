// Frame time of the 3D view while orbiting a model of 200k and of 2M triangles, with the full
// mesh and with the coarse proxy drawn while the camera moves, and the time of the one upload. Needs a display (xvfb-run with LIBGL_ALWAYS_SOFTWARE=1 for Mesa).
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <cmath>
#include <cstdio>

#include "render/GLWidget.h"
#include "render/MeshProxy.h"
#include "render/RenderEngine.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {

// A UV sphere of radius r standing on the plate, with about 2 * stacks * slices triangles.
MeshData* sphere(int stacks, int slices, double r)
{
    auto* m = new MeshData;
    m->vertices.reserve(size_t(stacks + 1) * size_t(slices));
    for (int i = 0; i <= stacks; ++i) {
        const double t = M_PI * i / stacks;
        for (int j = 0; j < slices; ++j) {
            const double p = 2 * M_PI * j / slices;
            m->vertices.push_back({r * std::sin(t) * std::cos(p), r * std::sin(t) * std::sin(p), r + r * std::cos(t)});
        }
    }
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const int a = i * slices + j, b = i * slices + (j + 1) % slices;
            const int c = a + slices, d = b + slices;
            m->faces.push_back({a, c, b});
            m->faces.push_back({b, c, d});
        }
    return m;
}

void orbitStep(GLWidget& w, int step)
{
    const QPointF from(300 + step * 4, 300);
    const QPointF to(304 + step * 4, 300);
    QMouseEvent press(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &release);
}

// Draws one frame into the view's framebuffer and waits until the GL has finished it.
struct BenchView : GLWidget
{
    using GLWidget::paintGL;
};

void drawFrame(GLWidget& w)
{
    w.makeCurrent();
    static_cast<BenchView&>(w).paintGL();
    w.context()->functions()->glFinish();
    w.doneCurrent();
}

void run(GLWidget& w, const char* name, int stacks, int slices)
{
    RenderEngine* r = w.getRenderer();
    AppData::instance()->clearModels(false);
    MeshList::clear(false);
    MeshData* mesh = sphere(stacks, slices, 40.0);
    const size_t triangles = mesh->faces.size();
    const int slot = MeshList::instance()->add(mesh);
    auto* model = new MeshModel;
    model->name = name;
    model->setMeshSlot(slot);
    AppData::instance()->addModel(model);
    AppData::instance()->selectModel(0, 1);
    AppData::instance()->updateSelectionColours();

    const int uploadsBefore = r->meshUploadCount();
    QElapsedTimer t;
    t.start();
    drawFrame(w); // the first frame uploads
    const double firstMs = t.nsecsElapsed() / 1e6;
    const int uploads = r->meshUploadCount();

    // Full mesh: the camera is settled before each frame, as if every frame were still.
    const int frames = 20;
    t.restart();
    for (int i = 0; i < frames; ++i) {
        orbitStep(w, i);
        w.settleCamera();
        drawFrame(w);
    }
    const double avg = t.nsecsElapsed() / 1e6 / frames;
    // As the view draws while orbiting: the proxy where the mesh has one.
    const int proxyDrawsBefore = r->proxyDrawCount();
    t.restart();
    for (int i = 0; i < frames; ++i) {
        orbitStep(w, i);
        drawFrame(w);
    }
    const double avgProxy = t.nsecsElapsed() / 1e6 / frames;
    const int proxyDraws = r->proxyDrawCount() - proxyDrawsBefore;
    w.settleCamera();
    t.restart();
    drawFrame(w);
    const double settleMs = t.nsecsElapsed() / 1e6;
    // The proxy's share of the first frame.
    t.restart();
    const size_t rebuilt = MeshProxy::build(*mesh).faceCount();
    const double buildMs = t.nsecsElapsed() / 1e6;
    std::printf("%s_triangles: %zu count\n", name, triangles);
    std::printf("%s_first_frame: %.1f ms\n", name, firstMs);
    std::printf("%s_first_frame_uploads: %d count\n", name, uploads - uploadsBefore);
    std::printf("%s_orbit_frame: %.1f ms\n", name, avg);
    std::printf("%s_proxy_faces: %zu count\n", name, r->proxyFaceCount(slot));
    std::printf("%s_proxy_build: %.1f ms (%zu faces)\n", name, buildMs, rebuilt);
    std::printf("%s_orbit_frame_proxy: %.1f ms\n", name, avgProxy);
    std::printf("%s_orbit_proxy_draws: %d count\n", name, proxyDraws);
    std::printf("%s_settle_frame: %.1f ms\n", name, settleMs);
    std::printf("%s_uploads_while_orbiting: %d count\n", name, r->meshUploadCount() - uploads);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    AppData::instance()->setChoiceType(1);
    GLWidget w;
    // "samples=N" measures another multisample count than the view's own.
    for (int i = 1; i < argc; ++i)
        if (qstrncmp(argv[i], "samples=", 8) == 0)
            w.setLowFormat(atoi(argv[i] + 8));
    w.resize(1280, 800);
    w.show();
    QElapsedTimer wait;
    wait.start();
    while (!w.isInitialised() && wait.elapsed() < 10000)
        app.processEvents(QEventLoop::AllEvents, 50);
    if (!w.isInitialised()) {
        std::fprintf(stderr, "no OpenGL view; run under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1\n");
        return 1;
    }
    const char* renderer =
        reinterpret_cast<const char*>(w.context()->functions()->glGetString(GL_RENDERER));
    std::printf("gl_renderer: %s\n", renderer ? renderer : "?");
    run(w, "tri200k", 250, 400);
    run(w, "tri2m", 1000, 1000);
    return 0;
}
