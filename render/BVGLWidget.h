#pragma once

#include <QWidget>

class GLWidget;

namespace Ui {
class BVGLWidget;
}

// The host of the 3D view in the main window: the view between two thin margins.
class BVGLWidget : public QWidget
{
    Q_OBJECT

public:
    explicit BVGLWidget(QWidget* parent = nullptr);
    ~BVGLWidget() override;

    GLWidget* view() const;

protected:
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    Ui::BVGLWidget* ui;
};
