#include "UI/BVViewPort.h"

#include "ui_BVViewPort.h"

#include <QRegion>

BVViewPort::BVViewPort(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::BVViewPortClass)
{
    ui->setupUi(this);
}

BVViewPort::~BVViewPort()
{
    delete ui;
}

// Only the five buttons take the mouse: the corners between them belong to the view below.
void BVViewPort::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    QRegion buttons;
    for (QWidget* b : {ui->btn_up, ui->btn_left, ui->btn_home, ui->btn_right, ui->btn_down})
        buttons += b->geometry();
    setMask(buttons);
}

bool BVViewPort::retranslate()
{
    ui->retranslateUi(this);
    return true;
}

// Up and down are front and back; left and right do not follow the screen order of the numbers.
void BVViewPort::on_btn_up_clicked()
{
    emit sendView(ViewFront);
}

void BVViewPort::on_btn_down_clicked()
{
    emit sendView(ViewBack);
}

void BVViewPort::on_btn_left_clicked()
{
    emit sendView(ViewLeft);
}

void BVViewPort::on_btn_right_clicked()
{
    emit sendView(ViewRight);
}

void BVViewPort::on_btn_home_clicked()
{
    emit sendView(ViewDefault);
}
