#include "UI/AboutDialog.h"

#include "ui_AboutDialog.h"

#include <QMouseEvent>

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

void AboutDialog::on_btn_ok_clicked()
{
    close();
}

void AboutDialog::on_about_close_clicked()
{
    close();
}

// The title strip: the top rows under the one-pixel frame.
void AboutDialog::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->pos();
    if (p.x() >= 1 && p.x() < width() && p.y() >= 1 && p.y() <= 29) {
        dragging = true;
        dragOffset = p;
    }
    QDialog::mousePressEvent(event);
}

void AboutDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging)
        move(event->globalPos() - dragOffset);
    QDialog::mouseMoveEvent(event);
}

void AboutDialog::mouseReleaseEvent(QMouseEvent* event)
{
    dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void AboutDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
