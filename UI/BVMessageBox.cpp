#include "UI/BVMessageBox.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>

#include "ui_BVMessageBox.h"

BVMessageBox::BVMessageBox(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::BrevMessageBoxClass)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->btn_ok->show();
    ui->btn_no->hide();
    ui->btn_cancel->hide();
    setModal(true);
    setStyleSheet(QStringLiteral("#BrevMessageBoxClass\n{\n\tborder-image: url(:/new/dialogback);\n}\n"));
    ui->btn_ok->setFocus();
}

BVMessageBox::~BVMessageBox()
{
    delete ui;
}

QPushButton* BVMessageBox::button(int btn) const
{
    switch (btn) {
    case FirstButton:
        return ui->btn_ok;
    case SecondButton:
        return ui->btn_no;
    default:
        return ui->btn_cancel;
    }
}

void BVMessageBox::on_btn_ok_clicked()
{
    accept();
}

void BVMessageBox::on_btn_close_clicked()
{
    if (closeResult != 0)
        done(closeResult);
    else
        reject();
}

void BVMessageBox::on_btn_no_clicked()
{
    reject();
}

void BVMessageBox::on_btn_cancel_clicked()
{
    done(2);
}

void BVMessageBox::setIcon(MES_ICON icon)
{
    const char* path = ":/new/infor";
    if (icon == Warning)
        path = ":/new/warning";
    else if (icon == Critical)
        path = ":/new/error";
    ui->label_2->setPixmap(QPixmap(QString::fromLatin1(path)));
}

void BVMessageBox::setWindowTitle(QString title)
{
    ui->title->setText(title);
}

void BVMessageBox::setStandardButtons(int num)
{
    if (num < 1 || num > 3)
        return;
    ui->btn_ok->setVisible(true);
    ui->btn_no->setVisible(num >= 2);
    ui->btn_cancel->setVisible(num >= 3);
}

void BVMessageBox::setButtonText(MES_BTN btn, QString text)
{
    button(btn)->setText(text);
}

void BVMessageBox::setText(QString text)
{
    ui->context->setText(text);
}

void BVMessageBox::addButton(MES_BTN btn)
{
    if (btn >= FirstButton && btn <= ThirdButton)
        button(btn)->setVisible(true);
}

void BVMessageBox::setFocusButton(int btn)
{
    pendingFocus = (btn == 2 || btn == 1) ? btn : 0;
    button(pendingFocus)->setFocus();
}

void BVMessageBox::disableClose()
{
    ui->btn_close->setEnabled(false);
    closeEnabled = false;
}

QString BVMessageBox::titleText() const
{
    return ui->title->text();
}

QString BVMessageBox::text() const
{
    return ui->context->text();
}

QString BVMessageBox::buttonText(int btn) const
{
    return button(btn)->text();
}

bool BVMessageBox::isButtonShown(int btn) const
{
    return !button(btn)->isHidden();
}

int BVMessageBox::focusButton() const
{
    return pendingFocus;
}

void BVMessageBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (!closeEnabled)
            return;
        on_btn_close_clicked();
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void BVMessageBox::closeEvent(QCloseEvent* event)
{
    // Alt+F4 or close() must not read as the second button: a box that cannot be closed
    // stays, the others answer as their close button does.
    if (!closeEnabled) {
        event->ignore();
        return;
    }
    if (isVisible())
        on_btn_close_clicked();
    event->accept();
}

void BVMessageBox::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->pos();
    if (p.x() >= 1 && p.x() < width() && p.y() >= 1 && p.y() <= 29) {
        dragging = true;
        dragOffset = p;
    }
    QDialog::mousePressEvent(event);
}

void BVMessageBox::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging)
        move(event->globalPos() - dragOffset);
    QDialog::mouseMoveEvent(event);
}

void BVMessageBox::mouseReleaseEvent(QMouseEvent* event)
{
    dragging = false;
    QDialog::mouseReleaseEvent(event);
}
