#include "render/RenderEngine.h"

#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>
#include <QPainter>

#include <cmath>

#include "app/QsLog.h"
#include "render/GcodePreviewData.h"
#include "render/MeshProxy.h"
#include "render/ToolPathMesh.h"
#include "render/ViewHost.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {

QMatrix4x4 toQMatrix(const Eigen::Matrix4d& m)
{
    QMatrix4x4 q;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            q(r, c) = float(m(r, c));
    return q;
}

QVector4D rgba(const std::array<double, 3>& c)
{
    return QVector4D(float(c[0]), float(c[1]), float(c[2]), 1.0f);
}

const QVector4D gizmoColours[3] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};

} // namespace

RenderEngine::RenderEngine() = default;

RenderEngine::~RenderEngine()
{
    // The GL objects below are freed by their owners' destructors, with the view's context
    // current; textures and programs first, as they may reference nothing else.
    plateTexture.reset();
    roundPlateTexture.reset();
    bandTexture.reset();
    topTexture.reset();
    cutTexture.reset();
    meshSlots.clear();
}

bool RenderEngine::initialize()
{
    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    if (!ctx)
        return false;
    initializeOpenGLFunctions();
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    QLOG_INFO() << "render\\RenderEngine@" << __LINE__ << "byteGlVersion[0]=" << (version ? version[0] : '?')
                << "version:" << (version ? version : "none");
    // The context's own numbers decide, not the text: "10.0" would pass a first-digit test.
    const QSurfaceFormat fmt = ctx->format();
    if (fmt.majorVersion() < 3 || (fmt.majorVersion() == 3 && fmt.minorVersion() < 3)) {
        QLOG_ERROR() << "render\\RenderEngine@" << __LINE__ << "OpenGL 3.3 or later is needed, got"
                     << fmt.majorVersion() << fmt.minorVersion();
        return false;
    }
    if (!loadShaders())
        return false;

    glClearColor(0.96f, 0.97f, 0.97f, 1.0f);
    enableDepthAndBlend();

    AppData* app = AppData::instance();
    plate.halfX = app->getBoxLength() / 2.0;
    plate.halfY = app->getBoxWidth() / 2.0;
    plate.height = app->getBoxHeight();
    plate.cylinderRadius = app->getBoxDiameter() / 2.0;
    plate.cylinderHeight = app->getBoxDHeight();

    makeShape(boxEdgesShape, false);
    writeLines(boxEdgesShape, RenderGeometry::boxEdges(plate));

    makeShape(plateShape, true);
    writeTextured(plateShape, RenderGeometry::plateQuad(plate.halfX, plate.halfY, 0.0), {0, 1, 2, 3});
    plateTexture.reset(loadTexture(":/new/bottom_px5_1", QColor(222, 224, 226)));
    roundPlateTexture.reset(loadTexture(":/new/bottom_px6", QColor(222, 224, 226)));

    makeShape(bandShape, true);
    writeTextured(bandShape, RenderGeometry::cylinderBand(plate.cylinderRadius),
                  RenderGeometry::cylinderBandIndices());
    bandTexture.reset(loadTexture(":/new/Model_PX6", QColor(100, 104, 110, 90)));

    makeShape(topShape, true);
    const double topHalf = std::trunc(plate.cylinderRadius);
    writeTextured(topShape, RenderGeometry::plateQuad(topHalf, topHalf, plate.cylinderHeight), {0, 1, 2, 3});
    topTexture.reset(loadTexture(":/new/top_px6", QColor(100, 104, 110, 60)));

    makeShape(cutPlaneShape, true);
    writeTextured(cutPlaneShape, RenderGeometry::plateQuad(plate.halfX, plate.halfY, 10.0), {0, 1, 2, 3, 3});
    cutTexture.reset(loadTexture(":/Resources/cube.png", QColor(85, 199, 235, 90)));
    cutPlaneDirty = false;

    for (int k = 0; k < 3; ++k) {
        makeShape(ringShapes[k], false);
        makeShape(arrowShapes[k], false);
    }

    remakeGcodeSlots();

    initialised = true;
    return true;
}

bool RenderEngine::loadShaders()
{
    struct Source
    {
        std::unique_ptr<QOpenGLShaderProgram>* program;
        const char* name;
    };
    const Source sources[] = {{&lighting, "lighting"},
                              {&wireframe, "wireframe"},
                              {&texture, "texture"},
                              {&bottomture, "bottomture"},
                              {&gcode, "gcode"}};
    for (const Source& s : sources) {
        auto p = std::make_unique<QOpenGLShaderProgram>();
        const QString base = shaderRoot + s.name;
        if (!p->addShaderFromSourceFile(QOpenGLShader::Vertex, base + ".vert") ||
            !p->addShaderFromSourceFile(QOpenGLShader::Fragment, base + ".frag") || !p->link()) {
            QLOG_ERROR() << "render\\RenderEngine@" << __LINE__ << "shader program" << s.name
                         << "failed:" << p->log();
            return false;
        }
        *s.program = std::move(p);
    }
    // The gizmo's wide lines: the wireframe colour, drawn as quads by a geometry stage.
    {
        auto p = std::make_unique<QOpenGLShaderProgram>();
        if (!p->addShaderFromSourceFile(QOpenGLShader::Vertex, shaderRoot + "wideline.vert") ||
            !p->addShaderFromSourceFile(QOpenGLShader::Geometry, shaderRoot + "wideline.geom") ||
            !p->addShaderFromSourceFile(QOpenGLShader::Fragment, shaderRoot + "wireframe.frag") || !p->link()) {
            QLOG_ERROR() << "render\\RenderEngine@" << __LINE__ << "shader program wideline failed:" << p->log();
            return false;
        }
        wideline = std::move(p);
    }
    // The lights belong to the programs: new programs need them again.
    lighting->bind();
    lighting->setUniformValue("light.Ambient", lightAmbient);
    lighting->setUniformValue("light.Diffuse", lightDiffuse);
    lighting->setUniformValue("light.Specular", lightSpecular);
    lighting->setUniformValue("light.Direction", lightDirection);
    lighting->setUniformValue("eyePos", QVector3D(0, 0, 0));
    gcode->bind();
    gcode->setUniformValue("light.Ambient", gcodeAmbient);
    gcode->setUniformValue("light.Diffuse", gcodeDiffuse);
    gcode->setUniformValue("light.Specular", gcodeSpecular);
    gcode->setUniformValue("light.Direction", gcodeDirection);
    gcode->setUniformValue("eyePos", QVector3D(0, 0, 0));
    gcode->release();
    return true;
}

void RenderEngine::setView(const QQuaternion& rotation, const QVector3D& translation, double scale)
{
    cameraRotation = rotation;
    viewTranslation = translation;
    viewScale = scale;
}

void RenderEngine::setViewportSize(double h, double w)
{
    viewportHeight = h;
    viewportWidth = w;
}

void RenderEngine::setClipPlane(float a, float b, float c, float d)
{
    clipPlane[0] = a;
    clipPlane[1] = b;
    clipPlane[2] = c;
    clipPlane[3] = d;
}

void RenderEngine::clearFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

void RenderEngine::enableDepthAndBlend()
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void RenderEngine::releasePrograms()
{
    for (auto* p : {&lighting, &wireframe, &texture, &bottomture, &gcode, &wideline})
        if (*p)
            (*p)->release();
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
}

QMatrix4x4 RenderEngine::viewMatrix() const
{
    QMatrix4x4 v;
    v.translate(viewTranslation);
    v.rotate(cameraRotation);
    v.scale(float(viewScale));
    return v;
}

// ---- mesh slots ----

bool RenderEngine::uploadMesh(int slot, const MeshData& mesh)
{
    if (slot < 0)
        return false;
    if (size_t(slot) >= meshSlots.size())
        meshSlots.resize(size_t(slot) + 1);
    releaseMeshSlot(slot);
    MeshSlot& s = meshSlots[size_t(slot)];
    s.stamp = mesh.stamp.value;
    s.vertexCount = mesh.vertices.size();
    s.faceCount = mesh.faces.size();
    s.drawable = false;
    ++uploads;

    // A face naming a vertex that does not exist would make the GPU read past the buffer.
    const size_t nv = mesh.vertices.size();
    if (nv == 0 || mesh.faces.empty() || nv * 12 > size_t(INT32_MAX) || mesh.faces.size() * 12 > size_t(INT32_MAX))
        return false;
    for (const auto& f : mesh.faces)
        for (int32_t i : f)
            if (i < 0 || size_t(i) >= nv) {
                QLOG_WARN() << "render\\RenderEngine@" << __LINE__ << "mesh in slot" << slot
                            << "has a face index out of range; not drawn";
                return false;
            }

    std::vector<float> positions(nv * 3);
    for (size_t i = 0; i < nv; ++i)
        for (int k = 0; k < 3; ++k)
            positions[i * 3 + k] = float(mesh.vertices[i][k]);

    s.vao = std::make_unique<QOpenGLVertexArrayObject>();
    s.vao->create();
    s.vao->bind();
    s.vertices = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    s.vertices->create();
    s.vertices->setUsagePattern(QOpenGLBuffer::StaticDraw);
    s.vertices->bind();
    s.vertices->allocate(positions.data(), int(positions.size() * sizeof(float)));
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
    // Every model vertex has the colour (-1, -1, -1, 1), so the shader takes the material
    // colour; a constant attribute says that without 16 bytes per vertex.
    glDisableVertexAttribArray(1);
    s.indices = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::IndexBuffer);
    s.indices->create();
    s.indices->setUsagePattern(QOpenGLBuffer::StaticDraw);
    s.indices->bind();
    s.indices->allocate(mesh.faces.data(), int(mesh.faces.size() * sizeof(mesh.faces[0])));
    s.vao->release();
    s.drawable = true;

    // Triangle setup dominates a software renderer's frame, so a large mesh also gets a
    // coarse set for the frames drawn while the camera moves.
    const MeshProxy proxy = MeshProxy::build(mesh);
    if (proxy.faceCount() > 0) {
        s.proxyVao = std::make_unique<QOpenGLVertexArrayObject>();
        s.proxyVao->create();
        s.proxyVao->bind();
        s.proxyVertices = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
        s.proxyVertices->create();
        s.proxyVertices->setUsagePattern(QOpenGLBuffer::StaticDraw);
        s.proxyVertices->bind();
        s.proxyVertices->allocate(proxy.positions.data(), int(proxy.positions.size() * sizeof(float)));
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
        glDisableVertexAttribArray(1);
        s.proxyIndices = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::IndexBuffer);
        s.proxyIndices->create();
        s.proxyIndices->setUsagePattern(QOpenGLBuffer::StaticDraw);
        s.proxyIndices->bind();
        s.proxyIndices->allocate(proxy.indices.data(), int(proxy.indices.size() * sizeof(uint32_t)));
        s.proxyVao->release();
        s.proxyFaces = proxy.faceCount();
        ++proxyUploads;
    }
    return true;
}

size_t RenderEngine::proxyFaceCount(int slot) const
{
    if (slot < 0 || size_t(slot) >= meshSlots.size())
        return 0;
    return meshSlots[size_t(slot)].proxyFaces;
}

void RenderEngine::releaseMeshSlot(int slot)
{
    if (slot < 0 || size_t(slot) >= meshSlots.size())
        return;
    meshSlots[size_t(slot)] = MeshSlot();
}

bool RenderEngine::isSlotUploaded(int slot) const
{
    return slot >= 0 && size_t(slot) < meshSlots.size() && meshSlots[size_t(slot)].drawable;
}

bool RenderEngine::ensureSlotCurrent(int slot, const MeshData* mesh)
{
    if (slot < 0)
        return false;
    if (!mesh) {
        releaseMeshSlot(slot);
        return false;
    }
    if (size_t(slot) < meshSlots.size()) {
        const MeshSlot& s = meshSlots[size_t(slot)];
        if (s.stamp == mesh->stamp.value && s.vertexCount == mesh->vertices.size() &&
            s.faceCount == mesh->faces.size())
            return s.drawable;
    }
    return uploadMesh(slot, *mesh);
}

void RenderEngine::drawMesh(int slot, const QVector4D& colour, const QMatrix4x4& model)
{
    if (!isSlotUploaded(slot) || meshSlots[size_t(slot)].faceCount == 0)
        return;
    const QMatrix4x4 mv = viewMatrix() * model;
    lighting->setUniformValue("mvp_matrix", projection * mv);
    lighting->setUniformValue("mv_matrix", mv);
    lighting->setUniformValue("trans_matrix", model);
    lighting->setUniformValue("u_mat.Ambient", colour);
    lighting->setUniformValue("u_mat.Diffuse", colour);
    lighting->setUniformValue("u_mat.Specular", QVector4D(0.5f, 0.5f, 0.5f, 16.0f));
    lighting->setUniformValue("clipPlane", QVector4D(clipPlane[0], clipPlane[1], clipPlane[2], clipPlane[3]));
    MeshSlot& s = meshSlots[size_t(slot)];
    const bool coarse = cameraMoving && s.proxyFaces > 0;
    QOpenGLVertexArrayObject* vao = coarse ? s.proxyVao.get() : s.vao.get();
    vao->bind();
    glVertexAttrib4f(1, -1.0f, -1.0f, -1.0f, 1.0f);
    glDrawElements(GL_TRIANGLES, GLsizei((coarse ? s.proxyFaces : s.faceCount) * 3), GL_UNSIGNED_INT, nullptr);
    vao->release();
    ++(coarse ? proxyDraws : fullDraws);
}

// ---- frame ----

void RenderEngine::processPendingWork()
{
    if (releaseAllPending) {
        meshSlots.clear();
        releaseAllPending = false;
    }
    if (cutPlaneDirty)
        rebuildCutPlane();
    if (gcodeRefreshPending) {
        gcodeRefreshPending = false;
        refreshGcodeChunk();
    }
}

bool RenderEngine::hasSelectedModel() const
{
    return AppData::instance()->getSelectedModel() != nullptr;
}

void RenderEngine::drawScene()
{
    if (!initialised)
        return;
    processPendingWork();
    clearFrame();
    enableDepthAndBlend();
    AppData* app = AppData::instance();
    if (app->getChoiceType() == 1)
        drawMachineFrame();
    if (mode != 2 && hasSelectedModel()) {
        const int edit = app->getEditMode();
        if (edit == 1 || edit == 3)
            drawAxisArrows();
        else if (edit == 2)
            drawRotateRings();
    }
    drawGcodeChunks();
    drawModels();
    drawWorkingSupport();
    drawPlateTexture();
    drawCylinderTop();
    drawCylinderWall();
    drawCutPlane();
    releasePrograms();
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void RenderEngine::makeShape(Shape& s, bool textured)
{
    s.vao = std::make_unique<QOpenGLVertexArrayObject>();
    s.vao->create();
    s.vao->bind();
    s.vertices = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    s.vertices->create();
    s.vertices->setUsagePattern(QOpenGLBuffer::DynamicDraw);
    s.vertices->bind();
    glEnableVertexAttribArray(0);
    if (textured) {
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(TexturedVertex), nullptr);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(TexturedVertex),
                              reinterpret_cast<void*>(3 * sizeof(float)));
    } else {
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(QVector3D), nullptr);
    }
    s.indices = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::IndexBuffer);
    s.indices->create();
    s.indices->setUsagePattern(QOpenGLBuffer::DynamicDraw);
    s.indices->bind();
    s.vao->release();
}

void RenderEngine::writeTextured(Shape& s, const std::vector<TexturedVertex>& v, const std::vector<uint32_t>& idx)
{
    s.vao->bind();
    s.vertices->bind();
    s.vertices->allocate(v.data(), int(v.size() * sizeof(TexturedVertex)));
    s.indices->bind();
    s.indices->allocate(idx.data(), int(idx.size() * sizeof(uint32_t)));
    s.indexCount = int(idx.size());
    s.vao->release();
}

void RenderEngine::writeLines(Shape& s, const LineShape& l)
{
    s.vao->bind();
    s.vertices->bind();
    s.vertices->allocate(l.vertices.data(), int(l.vertices.size() * sizeof(QVector3D)));
    s.indices->bind();
    s.indices->allocate(l.indices.data(), int(l.indices.size() * sizeof(uint32_t)));
    s.indexCount = int(l.indices.size());
    s.vao->release();
}

void RenderEngine::drawLines(Shape& s, const QVector4D& colour, GLenum primitive, QOpenGLShaderProgram& program)
{
    program.setUniformValue("color", colour);
    s.vao->bind();
    glDrawElements(primitive, s.indexCount, GL_UNSIGNED_INT, nullptr);
    s.vao->release();
}

void RenderEngine::drawTextured(Shape& s, QOpenGLTexture* tex, QOpenGLShaderProgram& program, GLenum primitive)
{
    program.bind();
    program.setUniformValue("mvp_matrix", projection * viewMatrix());
    program.setUniformValue("u_texture", 0);
    glActiveTexture(GL_TEXTURE0);
    tex->bind();
    s.vao->bind();
    glDrawElements(primitive, s.indexCount, GL_UNSIGNED_INT, nullptr);
    s.vao->release();
    tex->release();
}

void RenderEngine::drawMachineFrame()
{
    wireframe->bind();
    wireframe->setUniformValue("mvp_matrix", projection * viewMatrix());
    wireframe->setUniformValue("clipPlane", QVector4D(0, 0, -1, float(plate.height * 40.0)));
    drawLines(boxEdgesShape, QVector4D(0.25f, 0.25f, 0.25f, 1.0f), GL_LINES, *wireframe);
}

void RenderEngine::drawAxisArrows()
{
    drawGizmo(arrowShapes, &RenderGeometry::axisArrow);
}

void RenderEngine::drawRotateRings()
{
    drawGizmo(ringShapes, &RenderGeometry::rotateRing);
}

// The three coloured line shapes around the selected model's centroid, rewritten every frame.
template <typename Shapes, typename Build>
void RenderEngine::drawGizmo(Shapes& shapes, Build build)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m)
        return;
    const auto c = m->getCentroid();
    const float r = float(m->getViewRadius());
    GLint viewport[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, viewport);
    wideline->bind();
    wideline->setUniformValue("mvp_matrix", projection * viewMatrix());
    wideline->setUniformValue("clipPlane", QVector4D(0, 0, -1, float(plate.height * 40.0)));
    wideline->setUniformValue("viewportSize", QVector2D(float(std::max(viewport[2], 1)), float(std::max(viewport[3], 1))));
    wideline->setUniformValue("lineWidth", 3.0f);
    for (int k = 0; k < 3; ++k) {
        writeLines(shapes[k], build(k, QVector3D(c[0], c[1], c[2]), r));
        drawLines(shapes[k], gizmoColours[k], GL_LINES, *wideline);
    }
}

void RenderEngine::drawModels()
{
    if (mode == 2)
        return;
    MeshList* list = MeshList::instance();
    for (size_t s = 0; s < meshSlots.size(); ++s)
        if (int(s) >= list->size() || !list->at(int(s)))
            releaseMeshSlot(int(s));

    lighting->bind();
    float pitch = 0, yaw = 0, roll = 0;
    cameraRotation.getEulerAngles(&pitch, &yaw, &roll);
    lighting->setUniformValue("transparency", yaw < -90.0f || yaw > 90.0f);

    AppData* app = AppData::instance();
    for (MeshModel* m : app->getModels()) {
        if (!m || m->meshSlot < 0)
            continue;
        if (!ensureSlotCurrent(m->meshSlot, list->at(m->meshSlot)) || !m->visible)
            continue;
        drawMesh(m->meshSlot, rgba(m->colour), toQMatrix(m->getModelMatrix()));
    }
    const QVector4D hovered(0.9176f, 0.3372f, 0.3372f, 1.0f);
    for (int i = 0; i < app->supportCount(); ++i) {
        MeshModel* s = app->getSupport(i);
        if (!s || !ensureSlotCurrent(s->supportSlot, list->at(s->supportSlot)) || !s->drawn)
            continue;
        drawMesh(s->supportSlot, s->supportSlot == hoveredSupport ? hovered : rgba(s->outlineColour),
                 toQMatrix(s->getModelMatrix()));
    }
}

void RenderEngine::drawWorkingSupport()
{
    if (mode == 2)
        return;
    MeshModel* w = AppData::instance()->getWorkingObject();
    if (!w || w->supportSlot < 0)
        return;
    MeshList* list = MeshList::instance();
    if (!ensureSlotCurrent(w->supportSlot, list->at(w->supportSlot)) || !w->drawn)
        return;
    lighting->bind();
    drawMesh(w->supportSlot, rgba(w->outlineColour), toQMatrix(w->getModelMatrix()));
}

void RenderEngine::drawPlateTexture()
{
    const int type = AppData::instance()->getChoiceType();
    QOpenGLTexture* tex = plateTexture.get();
    if (RenderGeometry::isRoundMachine(type)) {
        const double half = std::trunc(3.0 * plate.cylinderRadius);
        writeTextured(plateShape, RenderGeometry::plateQuad(half, half, 0.0), {0, 1, 2, 3});
        tex = roundPlateTexture.get();
    } else {
        writeTextured(plateShape, RenderGeometry::plateQuad(plate.halfX, plate.halfY, 0.0), {0, 1, 2, 3});
    }
    drawTextured(plateShape, tex, *texture, GL_TRIANGLE_STRIP);
}

void RenderEngine::drawCylinderTop()
{
    if (RenderGeometry::isRoundMachine(AppData::instance()->getChoiceType()))
        drawTextured(topShape, topTexture.get(), *texture, GL_TRIANGLE_STRIP);
}

void RenderEngine::drawCylinderWall()
{
    if (RenderGeometry::isRoundMachine(AppData::instance()->getChoiceType()))
        drawTextured(bandShape, bandTexture.get(), *texture, GL_TRIANGLE_STRIP);
}

void RenderEngine::drawCutPlane()
{
    if (cutPlaneShown)
        drawTextured(cutPlaneShape, cutTexture.get(), *bottomture, GL_TRIANGLE_STRIP);
}

std::vector<OverlayLabel> RenderEngine::overlayLabels() const
{
    if (mode == 2 || !initialised)
        return {};
    return RenderGeometry::overlayLabels(*AppData::instance(), projection * viewMatrix(), int(viewportWidth),
                                         int(viewportHeight), cutAxisValue, cutPos, plate);
}

void RenderEngine::drawOverlay(QPaintDevice* device)
{
    const auto labels = overlayLabels();
    // Most frames have no labels; opening a painter on the GL surface is not free.
    if (labels.empty())
        return;
    QPainter painter(device);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(QFont(QStringLiteral("Microsoft YaHei"), 14));
    for (const OverlayLabel& l : labels) {
        painter.setPen(l.colour);
        painter.drawText(l.pixel, l.text);
    }
    painter.end();
    enableDepthAndBlend();
}

QString RenderEngine::shaderRoot = QStringLiteral(":/Render/");

QOpenGLTexture* RenderEngine::loadTexture(const QString& path, const QColor& fallback)
{
    QImage img(path);
    if (img.isNull()) {
        // A missing image still gives a valid texture: a plain checker in the fallback colour.
        QLOG_WARN() << "render\\RenderEngine@" << __LINE__ << "texture" << path << "missing; drawn plain";
        img = QImage(64, 64, QImage::Format_ARGB32);
        const QColor dark = fallback.darker(115);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                img.setPixelColor(x, y, ((x / 8 + y / 8) % 2) ? fallback : dark);
    }
    auto* t = new QOpenGLTexture(img.mirrored());
    t->setMinificationFilter(QOpenGLTexture::Nearest);
    t->setMagnificationFilter(QOpenGLTexture::Linear);
    t->setWrapMode(QOpenGLTexture::Repeat);
    return t;
}

// ---- cut plane and commands ----

void RenderEngine::rebuildCutPlane()
{
    if (!initialised) {
        cutPlaneDirty = true;
        return;
    }
    writeTextured(cutPlaneShape,
                  RenderGeometry::cutPlaneQuad(cutAxisValue, cutPos, AppData::instance()->getChoiceType(), plate),
                  {0, 1, 2, 3, 3});
    cutPlaneDirty = false;
}

bool RenderEngine::isCutRefused() const
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || cutAxisValue < 0 || cutAxisValue > 2)
        return true;
    const double lo = m->getBoundValue(cutAxisValue);
    const double hi = m->getBoundValue(cutAxisValue + 3);
    return !(lo + 0.0011 < cutPos && cutPos < hi - 0.0011);
}

void RenderEngine::previewSection()
{
    if (!isCutRefused() && host)
        host->previewCutSection(int(std::trunc(cutPos * 1000.0)), cutAxisValue);
}

void RenderEngine::setCutPosition(float v)
{
    if (!std::isfinite(v))
        return;
    cutPositionF = v;
    cutPos = v;
    cutPlaneDirty = true;
    previewSection();
}

bool RenderEngine::cuttingCommand(int command)
{
    switch (command) {
    case 0:
    case 1:
    case 2:
        cutAxisValue = command;
        cutPlaneDirty = true;
        previewSection();
        return true;
    case 3:
        if (isCutRefused() || !host)
            return false;
        host->startCut(cutPos * 1000.0, cutAxisValue);
        return true;
    case 4:
        cutPlaneShown = true;
        return true;
    case 5:
        cutPlaneShown = false;
        return true;
    case 6:
        cutPlaneDirty = true;
        return true;
    case 7:
        if (host)
            host->setJobState(1);
        return true;
    case 8:
        if (host)
            host->setJobState(0);
        return true;
    default:
        // Only the commands above exist; anything else would set an axis the cut cannot use.
        return false;
    }
}

// ---- tool-path chunks ----

void RenderEngine::destroyGcodeSlots()
{
    for (int i = 0; i < gcodeSlotCount; ++i) {
        gcodeSlots[size_t(i)] = Shape();
        gcodeFaceCount[size_t(i)] = 0;
    }
    gcodeSlotsMade = false;
}

void RenderEngine::remakeGcodeSlots()
{
    destroyGcodeSlots();
    const std::vector<char> empty(1200, 0);
    // A small placeholder buffer; attribute -1 means an index buffer.
    auto placeholder = [&](QOpenGLBuffer::Type type, int attribute) {
        auto b = std::make_unique<QOpenGLBuffer>(type);
        b->create();
        b->setUsagePattern(QOpenGLBuffer::StaticDraw);
        b->bind();
        b->allocate(empty.data(), int(empty.size()));
        if (attribute >= 0) {
            glEnableVertexAttribArray(GLuint(attribute));
            glVertexAttribPointer(GLuint(attribute), 3, GL_FLOAT, GL_FALSE, 12, nullptr);
        }
        return b;
    };
    for (Shape& s : gcodeSlots) {
        s.vao = std::make_unique<QOpenGLVertexArrayObject>();
        s.vao->create();
        s.vao->bind();
        s.vertices = placeholder(QOpenGLBuffer::VertexBuffer, 0);
        s.normals = placeholder(QOpenGLBuffer::VertexBuffer, 1);
        s.indices = placeholder(QOpenGLBuffer::IndexBuffer, -1);
        s.vao->release();
    }
    gcodeSlotsMade = true;
    if (mode == 3)
        mode = 1;
}

bool RenderEngine::uploadGcodeChunk(const ToolPathMesh& chunk)
{
    return uploadGcodeLists(chunk, nullptr);
}

bool RenderEngine::uploadGcodeChunk(ToolPathMesh&& chunk)
{
    return uploadGcodeLists(chunk, &chunk);
}

bool RenderEngine::uploadGcodeLists(const ToolPathMesh& chunk, ToolPathMesh* release)
{
    if (!gcodeSlotsMade)
        return false;
    const size_t nv = chunk.vertices.size() / 3;
    if (chunk.vertices.size() % 3 != 0 || chunk.normals.size() != chunk.vertices.size() ||
        chunk.triangles.size() % 3 != 0 || chunk.triangles.empty())
        return false;
    for (uint32_t i : chunk.triangles)
        if (i >= nv)
            return false;
    for (int i = 0; i < gcodeSlotCount; ++i) {
        if (gcodeFaceCount[size_t(i)] != 0)
            continue;
        Shape& s = gcodeSlots[size_t(i)];
        const int faces = chunk.triangleCount();
        s.vao->bind();
        s.vertices->bind();
        s.vertices->allocate(chunk.vertices.data(), int(chunk.vertices.size() * sizeof(float)));
        if (release)
            decltype(release->vertices)().swap(release->vertices);
        s.normals->bind();
        s.normals->allocate(chunk.normals.data(), int(chunk.normals.size() * sizeof(float)));
        if (release)
            decltype(release->normals)().swap(release->normals);
        s.indices->bind();
        s.indices->allocate(chunk.triangles.data(), int(chunk.triangles.size() * sizeof(uint32_t)));
        if (release)
            decltype(release->triangles)().swap(release->triangles);
        s.vao->release();
        gcodeFaceCount[size_t(i)] = faces;
        return true;
    }
    return false; // all sixteen in use: the chunk is dropped, the shown ones stay
}

void RenderEngine::refreshGcodeChunk()
{
    // Takes the reader's finished batch (if one is pending), releases it and wakes the reader.
    if (GcodePreviewData* preview = AppData::instance()->getGcodePreview())
        preview->takeChunk([this](ToolPathMesh& chunk) { uploadGcodeChunk(std::move(chunk)); },
                           [this] { gcodeFaceCount.fill(0); });
}

void RenderEngine::takeGcodeChunk()
{
    if (mode == 3)
        remakeGcodeSlots();
    gcodeRefreshPending = false;
    refreshGcodeChunk();
}

double RenderEngine::toolPathClipHeight(int sliderValue) const
{
    const GcodePreviewData* preview = AppData::instance()->getGcodePreview();
    return preview ? preview->clipHeightForLayer(sliderValue) : 1000.0;
}

int RenderEngine::gcodeChunkCount() const
{
    int n = 0;
    for (int c : gcodeFaceCount)
        n += c > 0;
    return n;
}

void RenderEngine::drawGcodeChunks()
{
    if (mode == 3)
        remakeGcodeSlots();
    if (mode != 2)
        return;
    const QMatrix4x4 mv = viewMatrix();
    gcode->bind();
    gcode->setUniformValue("mvp_matrix", projection * mv);
    gcode->setUniformValue("mv_matrix", mv);
    gcode->setUniformValue("normal_matrix", mv.normalMatrix());
    gcode->setUniformValue("clipPlane", QVector4D(clipPlane[0], clipPlane[1], clipPlane[2], clipPlane[3]));
    for (int i = 0; i < gcodeSlotCount; ++i) {
        if (gcodeFaceCount[size_t(i)] <= 0)
            continue;
        Shape& s = gcodeSlots[size_t(i)];
        s.vao->bind();
        glDrawElements(GL_TRIANGLES, gcodeFaceCount[size_t(i)] * 3, GL_UNSIGNED_INT, nullptr);
        s.vao->release();
    }
}
