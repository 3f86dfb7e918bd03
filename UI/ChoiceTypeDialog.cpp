#include "UI/ChoiceTypeDialog.h"

#include "ui_ChoiceTypeDialog.h"

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "app/QsLog.h"
#include "scene/AppData.h"

#include <QMouseEvent>

namespace {
const char* const kChosenStyle = "color:#54c8ea;font:9pt \"Microsoft YaHei\";";
const char* const kPlainStyle = "color:#000000;font:9pt \"Microsoft YaHei\";";
constexpr int kAskExitPreview = 41;
} // namespace

ChoiceTypeDialog::ChoiceTypeDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::ChoiceTypeDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);

    connect(ui->btn_px5, &BVPushBtn::DblClick, this, &ChoiceTypeDialog::slot_choicePX5);
    connect(ui->btn_px6_a, &BVPushBtn::DblClick, this, &ChoiceTypeDialog::slot_choicePX6_A);

    // The link lives on its own thread; its reports arrive queued.
    if (ThreadPool* pool = ThreadPool::instance()) {
        if (CommunicateThread* link = pool->linkWorker()) {
            connect(link, &CommunicateThread::signMachineType, this, &ChoiceTypeDialog::slot_update);
            connect(link, &CommunicateThread::linkStatus, this, &ChoiceTypeDialog::onLinkStatus);
        }
    }

    AppData* data = AppData::instance();
    switch (data->getChoiceType()) {
    case ChoicePX6A:
        on_btn_px6_a_clicked();
        break;
    case ChoicePX6B:
        on_btn_px6_b_clicked();
        break;
    default:
        // Nothing chosen yet (or an unknown value): the first model is stored at once.
        on_btn_px5_clicked();
        data->setChoiceType(ChoicePX5);
        break;
    }
}

ChoiceTypeDialog::~ChoiceTypeDialog()
{
    delete ui;
}

void ChoiceTypeDialog::setAskBeforeChange(bool ask)
{
    askBeforeChange = ask;
}

void ChoiceTypeDialog::highlight(QLabel* chosen)
{
    ui->label_px5_1->setStyleSheet(QLatin1String(chosen == ui->label_px5_1 ? kChosenStyle : kPlainStyle));
    ui->label_px6_a->setStyleSheet(QLatin1String(chosen == ui->label_px6_a ? kChosenStyle : kPlainStyle));
}

void ChoiceTypeDialog::on_btn_px5_clicked()
{
    highlight(ui->label_px5_1);
    ui->btn_px5->setChecked(true);
}

void ChoiceTypeDialog::on_btn_px6_a_clicked()
{
    highlight(ui->label_px6_a);
    ui->btn_px6_a->setChecked(true);
}

// The second model's other variant has no button of its own. Neither button stays checked, so
// the buttons do not show a model the printer contradicts and Ok cannot quietly replace it.
void ChoiceTypeDialog::on_btn_px6_b_clicked()
{
    highlight(nullptr);
    for (BVPushBtn* b : {ui->btn_px5, ui->btn_px6_a}) {
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(true);
    }
}

void ChoiceTypeDialog::on_about_close_clicked()
{
    close();
}

void ChoiceTypeDialog::slot_update(ChoiceType type)
{
    QLOG_INFO() << "UI\\ChoiceTypeDialog @" << __LINE__ << "printer reports type" << int(type);
    AppData* data = AppData::instance();
    switch (type) {
    case ChoicePX5:
        on_btn_px5_clicked();
        data->setChoiceType(ChoicePX5);
        break;
    case ChoicePX6A:
        on_btn_px6_a_clicked();
        data->setChoiceType(ChoicePX6A);
        break;
    case ChoicePX6B:
        on_btn_px6_b_clicked();
        data->setChoiceType(ChoicePX6B);
        break;
    default:
        break;
    }
    set_choiceDisable(type);
}

void ChoiceTypeDialog::set_choiceDisable(ChoiceType type)
{
    ui->btn_px5->setEnabled(type == ChoicePX5);
    ui->btn_px6_a->setEnabled(type == ChoicePX6A);
}

void ChoiceTypeDialog::onLinkStatus(bool up)
{
    if (up)
        return;
    ui->btn_px5->setEnabled(true);
    ui->btn_px6_a->setEnabled(true);
}

void ChoiceTypeDialog::on_btn_ok_clicked()
{
    AppData* data = AppData::instance();
    const int stored = data->getChoiceType();
    int choice = stored; // neither button checked: the printer's own variant stays
    if (ui->btn_px6_a->isChecked())
        choice = ChoicePX6A;
    else if (ui->btn_px5->isChecked())
        choice = ChoicePX5;
    choose(choice);
}

// Ok and a double-click take one road: a slice made for another model is not left armed.
void ChoiceTypeDialog::choose(int choice)
{
    AppData* data = AppData::instance();
    if (choice == data->getChoiceType()) {
        close();
        return;
    }
    if (askBeforeChange) {
        BrevMessageBox box(kAskExitPreview, this);
        if (box.exec() != 1 || (leaveCheck && !leaveCheck()))
            return;
        emit sign_ExitBVT();
    }
    data->setChoiceType(choice);
    close();
}

void ChoiceTypeDialog::slot_choicePX5()
{
    on_btn_px5_clicked();
    choose(ChoicePX5);
}

void ChoiceTypeDialog::slot_choicePX6_A()
{
    on_btn_px6_a_clicked();
    choose(ChoicePX6A);
}

void ChoiceTypeDialog::slot_choicePX6_B()
{
    choose(ChoicePX6B);
}

void ChoiceTypeDialog::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->pos();
    if (p.x() >= 1 && p.x() <= width() - 1 && p.y() >= 1 && p.y() <= 29) {
        dragging = true;
        dragOffset = p;
    }
    QDialog::mousePressEvent(event);
}

void ChoiceTypeDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging)
        move(event->globalPos() - dragOffset);
    QDialog::mouseMoveEvent(event);
}

void ChoiceTypeDialog::mouseReleaseEvent(QMouseEvent* event)
{
    dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void ChoiceTypeDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
