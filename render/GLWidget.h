#pragma once

#include <QOpenGLWidget>
#include <QTimer>

#include <QVector4D>

#include <memory>
#include <string>

#include "render/ViewCamera.h"

class RenderEngine;
class ViewHost;

// The 3D view: owns the renderer, keeps the camera and turns mouse input into camera
// motion. It repaints on demand (after a change, while dragging), never in a loop.
class GLWidget : public QOpenGLWidget
{
    Q_OBJECT

public:
    explicit GLWidget(QWidget* parent = nullptr);
    ~GLWidget() override;

    void setHost(ViewHost* h);
    ViewHost* getHost() const { return host; }

    // Operations of the main window.
    int showMode() const;
    void setSliceView(bool shown);
    void clearSliceView();
    void refreshGcodeView(bool show);
    void setShowLayer(int value);
    void setViewDirect(int preset);
    void releaseModelBuffers();
    float getBottomValue() const;
    void clearHoverModel();
    // Result of initializeGL: false when GL could not be started (no 3.3 context, a broken
    // shader); the main window then reports it and stops.
    bool isInitialised() const { return initialised; }

    // The ray through a pixel, in scene units.
    PickRay pickRay(float cx, float cy) const { return camera.pickRay(cx, cy); }
    const ViewCamera& getCamera() const { return camera; }
    RenderEngine* getRenderer() const { return renderer.get(); }
    double getClipHeight() const { return clipHeight; }
    double getShowLayer() const { return showLayer; }

    // Height of the horizontal clip plane for a display mode; never infinite or NaN.
    static double clipHeightFor(int displayMode, double showLayer, double maxTop, double layerClipHeight);

    // Picking. Indexes are AppData's; -1 when nothing is hit. Hidden objects are never hit.
    int pickModel(const PickRay& ray) const;
    int pickSupport(const PickRay& ray) const;
    // The selected model's axis arrow under the ray (axis, -1 when none) and the coordinate
    // plane a drag along it moves in.
    void pickMoveAxis(const PickRay& ray, float& axis, float& plane) const;
    // The ray's point on the plane through the selected model's centroid across axis k;
    // w is k, or -1 without a selected model.
    QVector4D intersectDragPlane(const PickRay& ray, int k) const;
    // The rotate ring under the ray: its point and axis in w (-1 when none).
    QVector4D pickRotateRing(const PickRay& ray) const;
    // The ray's point on the cut plane {coordinate axis = position}; w is the drag plane.
    QVector4D intersectCutPlane(const PickRay& ray, int axis, double position) const;
    // Where a support column would start: the nearest model surface under the ray, else
    // the plate inside the machine's footprint.
    bool pickSupportBase(const PickRay& ray, double point[3]) const;
    // The vertical column through a picked point: lower and upper end, the model it meets
    // at its upper end (empty when none) and whether it ends on a model.
    bool computeSupportColumn(const double point[3], double lower[3], double upper[3],
                              std::string& owner, bool& onModel) const;

    // True from an orbit, pan or zoom until the camera has rested a moment; frames drawn
    // meanwhile may use the coarse proxies of large meshes.
    bool isCameraMoving() const { return settleTimer.isActive(); }
    // Ends the moving state now, so the next frame is a full one.
    void settleCamera();

    // Drag state, for tests.
    bool isMoveDragging() const { return moveDrag; }
    bool isRotateDragging() const { return rotateDrag; }
    bool isScaleDragging() const { return scaleDrag; }
    bool isCutPlaneDragging() const { return cutPlaneDrag; }

signals:
    void sendNewMdTip();

public slots:
    void SetBottomValue(float vz);
    bool SendCuttingCMD(int direct);
    void setLowFormat(int bf);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    void releaseGL();
    // The guard before a model edit from the mouse: slice data, support mode, the model's
    // supports. False swallows the press.
    bool editGuardAgrees();
    // The arrows and rings are drawn, so they can be grabbed: not over the tool-path preview,
    // nor while the workers load, read or slice what the plate is.
    bool gizmoShown() const;
    bool supportClickAllowed();
    void placeSupport(const PickRay& ray, bool commit);
    void deleteSupport(const PickRay& ray);
    void dragMove(const PickRay& ray);
    void dragRotate(const PickRay& ray);
    void dragScale(const PickRay& ray);
    void dragCutPlane(const PickRay& ray);
    void dragPlane(float dx, float dy);
    void rightButtonDrag(float dx, float dy);
    void cameraMoved();

    std::unique_ptr<RenderEngine> renderer;
    ViewHost* host = nullptr;
    ViewCamera camera;
    float cursorX = 0, cursorY = 0;
    float lastX = 0, lastY = 0;
    double clipHeight = 1000.0;
    // 100 shows every layer; 0 would clip every model away until the slider moves.
    double showLayer = 100.0;
    bool initialised = false;

    // The last support column.
    bool columnOnModel = false;
    double pickPoint[3] = {0, 0, 0};
    double columnEnd[3] = {0, 0, 0};

    // Drag state of one press.
    bool rotateDrag = false, moveDrag = false, scaleDrag = false, cutPlaneDrag = false;
    int rotateAxis = -1;
    float pickedAxis = -1, pickedPlane = -1;
    double lastPoint[3] = {0, 0, 0};
    double startPoint[3] = {0, 0, 0};
    double startScale[3] = {1, 1, 1};
    // A refused guard swallows the rest of the press (no orbit, no plane drag).
    bool pressSwallowed = false;
    // The right press passed its guard; the supports question is asked once per press.
    bool rightDragAllowed = false;
    // Single shot after the last camera motion: one full repaint.
    QTimer settleTimer;
};
