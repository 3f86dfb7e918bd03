#pragma once

#include <QOpenGLWidget>

#include <memory>

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

    std::unique_ptr<RenderEngine> renderer;
    ViewHost* host = nullptr;
    ViewCamera camera;
    float cursorX = 0, cursorY = 0;
    float lastX = 0, lastY = 0;
    double clipHeight = 1000.0;
    // 100 shows every layer; 0 would clip every model away until the slider moves.
    double showLayer = 100.0;
    bool initialised = false;
};
