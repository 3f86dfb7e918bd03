#include "render/BVGLWidget.h"

#include "ui_BVGLWidget.h"

BVGLWidget::BVGLWidget(QWidget* parent) : QWidget(parent), ui(new Ui::BVGLWidget)
{
    ui->setupUi(this);
}

BVGLWidget::~BVGLWidget()
{
    delete ui;
}

GLWidget* BVGLWidget::view() const
{
    return ui->openGLWidget;
}

void BVGLWidget::mouseMoveEvent(QMouseEvent* e)
{
    QWidget::mouseMoveEvent(e);
}
