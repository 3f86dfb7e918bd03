#pragma once

#include <QMatrix4x4>
#include <QOpenGLFunctions>
#include <QQuaternion>
#include <QVector2D>
#include <QVector3D>
#include <QVector4D>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "render/RenderGeometry.h"

class QOpenGLBuffer;
class QOpenGLShaderProgram;
class QOpenGLTexture;
class QOpenGLVertexArrayObject;
class QPaintDevice;
class ViewHost;
struct MeshData;
struct ToolPathMesh;

// The OpenGL renderer of the 3D view. Constructing it makes no GL call; initialize() and
// every draw run with the view's context current. GL work asked for outside painting
// (releasing buffers, rebuilding the cut plane, a tool-path chunk) is recorded and done at
// the next frame.
class RenderEngine : protected QOpenGLFunctions
{
public:
    RenderEngine();
    virtual ~RenderEngine();
    RenderEngine(const RenderEngine&) = delete;
    RenderEngine& operator=(const RenderEngine&) = delete;

    void setHost(ViewHost* h) { host = h; }

    bool initialize();
    bool loadShaders();
    // Folder the shader sources are read from; tests point it at broken copies.
    static QString shaderRoot;
    bool isInitialized() const { return initialised; }

    void setProjection(const QMatrix4x4& m) { projection = m; }
    void setView(const QQuaternion& rotation, const QVector3D& translation, double scale);
    void setViewportSize(double h, double w);
    void setClipPlane(float a, float b, float c, float d);
    void clearFrame();
    void enableDepthAndBlend();
    void releasePrograms();

    // Mesh slots, keyed by MeshList slot and the mesh's stamp.
    bool uploadMesh(int slot, const MeshData& mesh);
    void releaseMeshSlot(int slot);
    // Called outside painting (after MeshList was cleared): done at the next frame.
    void releaseModelBuffers() { releaseAllPending = true; }
    bool isSlotUploaded(int slot) const;
    // How many mesh uploads were made since construction.
    int meshUploadCount() const { return uploads; }

    // While the camera moves, large meshes are drawn through their coarse proxy; every
    // still frame draws the full mesh.
    void setCameraMoving(bool moving) { cameraMoving = moving; }
    bool isCameraMoving() const { return cameraMoving; }
    // Faces of the slot's proxy (0 without one), and counters for tests and benchmarks.
    size_t proxyFaceCount(int slot) const;
    int proxyUploadCount() const { return proxyUploads; }
    int fullMeshDrawCount() const { return fullDraws; }
    int proxyDrawCount() const { return proxyDraws; }

    void setNewModelTipResult(int r) { newModelTipResult = r; }
    int getNewModelTipResult() const { return newModelTipResult; }

    // One frame: every pass in drawing order, then the caller draws the overlay.
    void drawScene();
    void drawMachineFrame();
    void drawAxisArrows();
    void drawRotateRings();
    template <typename Shapes, typename Build>
    void drawGizmo(Shapes& shapes, Build build);
    void drawModels();
    void drawWorkingSupport();
    void drawPlateTexture();
    void drawCylinderTop();
    void drawCylinderWall();
    void drawCutPlane();
    // The text overlay, painted over the frame; no painter is opened without labels.
    void drawOverlay(QPaintDevice* device);
    std::vector<OverlayLabel> overlayLabels() const;

    // Cut plane and commands.
    void setCutPosition(float v);
    bool cuttingCommand(int command);
    float cutPosition() const { return float(cutPos); }
    int cutAxis() const { return cutAxisValue; }
    bool isCutPlaneShown() const { return cutPlaneShown; }
    bool isCutRefused() const;
    // Asks the window for the section at the plane, unless the guard refuses.
    void previewSection();

    // Display mode: 0 model view, 1 tool-path slots made and empty, 2 tool-path preview
    // shown, 3 slots to be remade at the next frame.
    int displayMode() const { return mode; }
    void setDisplayMode(int m) { mode = m; }

    // Tool-path chunks.
    bool uploadGcodeChunk(const ToolPathMesh& chunk);
    // The same, freeing each of the chunk's lists once the GL holds its copy, so that the
    // reader's chunk and the GL's copy of it are not both held whole.
    bool uploadGcodeChunk(ToolPathMesh&& chunk);
    // Asks for the preview data's finished chunk to be uploaded at the next frame.
    void requestGcodeRefresh() { gcodeRefreshPending = true; }
    void refreshGcodeChunk();
    // With the context current: takes the pending batch at once (slots remade first when due).
    void takeGcodeChunk();
    void drawGcodeChunks();
    int gcodeChunkCount() const;
    // Clip height of the layer chosen on the slider, from the preview data.
    double toolPathClipHeight(int sliderValue) const;

    void setHoveredSupport(int slot) { hoveredSupport = slot; }
    int getHoveredSupport() const { return hoveredSupport; }

    PlateSize plateSize() const { return plate; }
    QMatrix4x4 viewMatrix() const;

private:
    bool uploadGcodeLists(const ToolPathMesh& chunk, ToolPathMesh* release);
    struct MeshSlot
    {
        std::unique_ptr<QOpenGLBuffer> vertices;
        std::unique_ptr<QOpenGLBuffer> indices;
        std::unique_ptr<QOpenGLVertexArrayObject> vao;
        uint64_t stamp = 0;
        size_t vertexCount = 0;
        size_t faceCount = 0;
        bool drawable = false; // false: uploaded key recorded but the mesh was refused
        // The coarse set of a large mesh, made with the full one and released with it.
        std::unique_ptr<QOpenGLBuffer> proxyVertices;
        std::unique_ptr<QOpenGLBuffer> proxyIndices;
        std::unique_ptr<QOpenGLVertexArrayObject> proxyVao;
        size_t proxyFaces = 0;
    };
    struct Shape
    {
        std::unique_ptr<QOpenGLBuffer> vertices;
        std::unique_ptr<QOpenGLBuffer> indices;
        std::unique_ptr<QOpenGLBuffer> normals;
        std::unique_ptr<QOpenGLVertexArrayObject> vao;
        int indexCount = 0;
    };

    bool ensureSlotCurrent(int slot, const MeshData* mesh);
    void drawMesh(int slot, const QVector4D& colour, const QMatrix4x4& model);
    void makeShape(Shape& s, bool textured);
    void writeTextured(Shape& s, const std::vector<TexturedVertex>& v, const std::vector<uint32_t>& idx);
    void writeLines(Shape& s, const LineShape& l);
    void drawLines(Shape& s, const QVector4D& colour, GLenum mode, QOpenGLShaderProgram& program);
    void drawTextured(Shape& s, QOpenGLTexture* tex, QOpenGLShaderProgram& program, GLenum mode);
    void rebuildCutPlane();
    void remakeGcodeSlots();
    void destroyGcodeSlots();
    void processPendingWork();
    QOpenGLTexture* loadTexture(const QString& path, const QColor& fallback);
    bool hasSelectedModel() const;

    ViewHost* host = nullptr;
    bool initialised = false;

    std::unique_ptr<QOpenGLShaderProgram> lighting, wireframe, texture, bottomture, gcode, wideline;

    // Light of the lighting program and of the gcode program.
    QVector4D lightAmbient{0.2f, 0.2f, 0.2f, 1.0f}, lightDiffuse{0.8f, 0.8f, 0.8f, 1.0f},
        lightSpecular{1.0f, 1.0f, 1.0f, 1.0f};
    QVector3D lightDirection{0.0f, 0.0f, -1.0f};
    QVector4D gcodeAmbient{0.2f, 0.2f, 0.2f, 1.0f}, gcodeDiffuse{0.8f, 0.8f, 0.8f, 1.0f},
        gcodeSpecular{1.0f, 1.0f, 1.0f, 1.0f};
    QVector3D gcodeDirection{0.57735f, 0.57735f, -0.57735f};

    std::vector<MeshSlot> meshSlots;
    int uploads = 0;
    bool cameraMoving = false;
    int proxyUploads = 0, fullDraws = 0, proxyDraws = 0;

    Shape boxEdgesShape, bandShape, plateShape, topShape, cutPlaneShape;
    std::unique_ptr<QOpenGLTexture> plateTexture, roundPlateTexture, bandTexture, topTexture, cutTexture;

    static constexpr int gcodeSlotCount = 16;
    std::array<Shape, gcodeSlotCount> gcodeSlots;
    std::array<int, gcodeSlotCount> gcodeFaceCount{};
    bool gcodeSlotsMade = false;

    std::array<Shape, 3> ringShapes, arrowShapes;

    QMatrix4x4 projection;
    QQuaternion cameraRotation;
    QVector3D viewTranslation;
    double viewScale = 1.0;
    double viewportHeight = 0.0, viewportWidth = 0.0;

    PlateSize plate;
    float clipPlane[4] = {0.0f, 0.0f, -1.0f, 10000.0f};

    int newModelTipResult = 0;
    bool cutPlaneShown = false;
    float cutPositionF = 0.0f;
    int cutAxisValue = 2;
    double cutPos = 5.0;
    int hoveredSupport = -1;
    int mode = 3;

    bool releaseAllPending = false;
    bool cutPlaneDirty = true;
    bool gcodeRefreshPending = false;
};
