#include "cutting/CutModelWidget.h"

#include <QButtonGroup>
#include <QDoubleSpinBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "UI/BrevMessageBox.h"
#include "UI/EditGuard.h"
#include "UI/PanelHost.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

// The scene holds at most this many models; a cut adds one.
constexpr int kModelLimit = 50;

const char* const kPanelStyle =
    "QDoubleSpinBox\n{\n\tcolor: #008ccc;\n\tfont:bold,25px,arial;\n\tbackground-color: rgba(50,50,50,100);\n}\n"
    "QDoubleSpinBox:disabled\n{\n\tcolor: grey;\n\tbackground-color: rgba(100,100,100,100);\n}\n"
    "QPushButton\n{\n\tbackground:grey;\n\tcolor:white;\n\t\n}\nQPushButton:checked\n{\n\tbackground:#008ccc;\n}\n"
    "QPushButton:disabled\n{\n\tbackground:grey;\n}\n\n"
    "QDoubleSpinBox\n{\n\tcolor: #000000;\n\tfont:bold,25px,arial;\n\tbackground-color: #ffffff;\n}\n"
    "QDoubleSpinBox:disabled\n{\n\tcolor: grey;\n\tbackground-color: #ffffff;\n}\n"
    "QLabel\n{\nbackground:transparent;\n}\n\n"
    "#btnStartCutting\n{\n\tbackground:#008ccc;\n\n}\n#btnStartCutting::disabled\n{\n\tbackground:grey;\n}";

const char* const kReadyStyle = "QPushButton\n{\n\tbackground:#008ccc;\n}\n\nQPushButton:checked\n{\n\tbackground:#ff0000;\n}\n"
                                "QPushButton:disabled\n{\n\tbackground:grey;\n}";

} // namespace

void CutModelForm::setupUi(QWidget* w)
{
    w->setObjectName(QStringLiteral("CutModelWidget"));
    w->setFixedHeight(106);
    w->setStyleSheet(QString::fromLatin1(kPanelStyle));
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(12, 6, 12, 6);

    auto* axes = new QHBoxLayout();
    auto* group = new QButtonGroup(w);
    group->setExclusive(true);
    QPushButton** buttons[3] = {&btn_x, &btn_y, &btn_z};
    const char* names[3] = {"btn_x", "btn_y", "btn_z"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QPushButton(w);
        b->setObjectName(QString::fromLatin1(names[i]));
        b->setCheckable(true);
        b->setMaximumWidth(40);
        b->setFixedHeight(22);
        group->addButton(b);
        axes->addWidget(b);
        *buttons[i] = b;
    }
    btn_z->setChecked(true);
    column->addLayout(axes);

    auto* distance = new QHBoxLayout();
    labScale_z = new QLabel(w);
    labScale_z->setObjectName(QStringLiteral("labScale_z"));
    dsbCutting = new QDoubleSpinBox(w);
    dsbCutting->setObjectName(QStringLiteral("dsbCutting"));
    dsbCutting->setRange(-10011.0, 1000000.0);
    dsbCutting->setSingleStep(1.0);
    dsbCutting->setValue(5.0);
    dsbCutting->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    dsbCutting->setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    dsbCutting->setContextMenuPolicy(Qt::NoContextMenu);
    labScale_zmm = new QLabel(w);
    labScale_zmm->setObjectName(QStringLiteral("labScale_zmm"));
    distance->addWidget(labScale_z);
    distance->addWidget(dsbCutting, 1);
    distance->addWidget(labScale_zmm);
    column->addLayout(distance);

    auto* actions = new QHBoxLayout();
    btnReadyCutting = new QPushButton(w);
    btnReadyCutting->setObjectName(QStringLiteral("btnReadyCutting"));
    btnReadyCutting->setCheckable(true);
    btnReadyCutting->setStyleSheet(QString::fromLatin1(kReadyStyle));
    btnStartCutting = new QPushButton(w);
    btnStartCutting->setObjectName(QStringLiteral("btnStartCutting"));
    for (QPushButton* b : {btnReadyCutting, btnStartCutting}) {
        b->setMinimumWidth(20);
        b->setMaximumWidth(2400);
        b->setFixedHeight(22);
        actions->addWidget(b);
    }
    column->addLayout(actions);
    retranslateUi(w);
    QMetaObject::connectSlotsByName(w);
}

void CutModelForm::retranslateUi(QWidget* w)
{
    w->setWindowTitle(QCoreApplication::translate("CutModelWidget", "Cut"));
    btn_x->setText(QStringLiteral("X"));
    btn_y->setText(QStringLiteral("Y"));
    btn_z->setText(QStringLiteral("Z"));
    labScale_z->setText(QCoreApplication::translate("CutModelWidget", "Distance:"));
    labScale_zmm->setText(QCoreApplication::translate("CutModelWidget", "mm"));
    btnReadyCutting->setText(QCoreApplication::translate("CutModelWidget", "Ready cut"));
    btnStartCutting->setText(QCoreApplication::translate("CutModelWidget", "Start cut"));
}

CutModelWidget::CutModelWidget(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    setEnabled(false);
    setCutControlsEnabled(false);
    // The main window announces the model count after a deletion; an empty scene ends the
    // ready state's label.
    if (QWidget* top = window()) {
        if (top != this && top->metaObject()->indexOfSignal("CutSign(int)") >= 0)
            connect(top, SIGNAL(CutSign(int)), this, SLOT(DeleteSlot(int)));
    }
}

void CutModelWidget::on_dsbCutting_valueChanged(double value)
{
    if (PanelHost* host = PanelHost::of(this))
        host->setCuttingValue(float(value));
}

void CutModelWidget::on_btnStartCutting_clicked()
{
    if (AppData::instance()->modelCount() >= kModelLimit) {
        BrevMessageBox box(12, window());
        box.exec();
        return;
    }
    PanelHost* host = PanelHost::of(this);
    if (!host || !EditGuard::allows(this, EditGuard::SelectedSupports))
        return;
    if (!host->sendCuttingCommand(3)) {
        BrevMessageBox box(44, window());
        box.exec();
    }
}

void CutModelWidget::on_btnReadyCutting_clicked()
{
    updateCutRange();
    const bool ready = ui.btnReadyCutting->isChecked();
    if (PanelHost* host = PanelHost::of(this))
        host->setCuttingMode(ready);
    if (ready) {
        AppData::instance()->setEditMode(4);
        ui.btnReadyCutting->setText(tr("exit cut"));
        emit signStopSupportWork();
    } else {
        AppData::instance()->setEditMode(0);
        ui.btnReadyCutting->setText(tr("Ready cut"));
    }
    setCutControlsEnabled(ready);
}

void CutModelWidget::chooseAxis(int axis)
{
    if (PanelHost* host = PanelHost::of(this))
        host->sendCuttingCommand(axis);
    updateCutRange();
}

void CutModelWidget::on_btn_z_clicked()
{
    chooseAxis(2);
}

void CutModelWidget::on_btn_y_clicked()
{
    chooseAxis(1);
}

void CutModelWidget::on_btn_x_clicked()
{
    chooseAxis(0);
}

void CutModelWidget::DeleteSlot(int size)
{
    if (size < 1)
        ui.btnReadyCutting->setText(tr("Ready cut"));
}

void CutModelWidget::slotStopCutWork()
{
    if (ui.btnReadyCutting->isEnabled() && ui.btnReadyCutting->isChecked()) {
        ui.btnReadyCutting->setChecked(false);
        on_btnReadyCutting_clicked();
    }
}

void CutModelWidget::exitCutting()
{
    slotStopCutWork();
}

void CutModelWidget::updateCutRange()
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m)
        return;
    const int code = ui.btn_z->isChecked() ? 14 : ui.btn_x->isChecked() ? 12 : 13;
    ui.dsbCutting->setValue(m->getBoundValue(code));
}

void CutModelWidget::syncCutValue()
{
    if (AppData::instance()->getEditMode() != 4)
        return;
    if (PanelHost* host = PanelHost::of(this))
        ui.dsbCutting->setValue(double(host->cuttingValue()));
}

void CutModelWidget::retranslate()
{
    ui.retranslateUi(this);
    ui.btnReadyCutting->setText(ui.btnReadyCutting->isChecked() ? tr("exit cut") : tr("Ready cut"));
}

void CutModelWidget::setCuttingDisabled(bool disabled)
{
    ui.btnReadyCutting->setEnabled(!disabled);
    if (disabled) {
        ui.btnReadyCutting->setChecked(false);
        ui.btnReadyCutting->setText(tr("Ready cut"));
        if (PanelHost* host = PanelHost::of(this))
            host->setCuttingMode(false);
    }
    setCutControlsEnabled(ui.btnReadyCutting->isChecked());
}

bool CutModelWidget::isReadyCutting() const
{
    return ui.btnReadyCutting->isChecked();
}

void CutModelWidget::setCutControlsEnabled(bool enabled)
{
    for (QWidget* w : {static_cast<QWidget*>(ui.btn_x), static_cast<QWidget*>(ui.btn_y),
                       static_cast<QWidget*>(ui.btn_z), static_cast<QWidget*>(ui.dsbCutting),
                       static_cast<QWidget*>(ui.btnStartCutting)})
        w->setEnabled(enabled);
}
