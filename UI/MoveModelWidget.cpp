#include "UI/MoveModelWidget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <cmath>

#include "UI/BVDoubleSpinBox.h"
#include "UI/EditGuard.h"
#include "UI/PanelHost.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

void MoveModelForm::setupUi(QWidget* w)
{
    w->setObjectName(QStringLiteral("MoveModelWidget"));
    w->setFixedHeight(170);
    auto* grid = new QGridLayout(w);
    grid->setContentsMargins(12, 8, 12, 8);
    QLabel** labels[3] = {&labMove_x, &labMove_y, &labMove_z};
    BVDoubleSpinBox** boxes[3] = {&SpinBox_moveX, &SpinBox_moveY, &SpinBox_moveZ};
    QLabel** units[3] = {&label, &label_2, &label_3};
    const char* labelNames[3] = {"labMove_x", "labMove_y", "labMove_z"};
    const char* boxNames[3] = {"SpinBox_moveX", "SpinBox_moveY", "SpinBox_moveZ"};
    const char* unitNames[3] = {"label", "label_2", "label_3"};
    for (int i = 0; i < 3; ++i) {
        *labels[i] = new QLabel(w);
        (*labels[i])->setObjectName(labelNames[i]);
        auto* box = new BVDoubleSpinBox(w);
        box->setObjectName(boxNames[i]);
        box->setRange(-1000.0, 1000.0);
        box->setDecimals(2);
        box->setSingleStep(1.0);
        box->setFixedHeight(22);
        box->setAlignment(Qt::AlignCenter);
        box->setContextMenuPolicy(Qt::NoContextMenu);
        *boxes[i] = box;
        *units[i] = new QLabel(w);
        (*units[i])->setObjectName(unitNames[i]);
        grid->addWidget(*labels[i], i, 0);
        grid->addWidget(box, i, 1, 1, 2);
        grid->addWidget(*units[i], i, 3);
    }
    btn_movecenter = new QPushButton(w);
    btn_movecenter->setObjectName(QStringLiteral("btn_movecenter"));
    btn_reset = new QPushButton(w);
    btn_reset->setObjectName(QStringLiteral("btn_reset"));
    btn_movetoZ0 = new QPushButton(w);
    btn_movetoZ0->setObjectName(QStringLiteral("btn_movetoZ0"));
    auto* row = new QHBoxLayout();
    for (QPushButton* b : {btn_movecenter, btn_reset, btn_movetoZ0}) {
        b->setFixedHeight(22);
        row->addWidget(b);
    }
    grid->addLayout(row, 3, 0, 1, 4);
    retranslateUi(w);
    QMetaObject::connectSlotsByName(w);
}

void MoveModelForm::retranslateUi(QWidget*)
{
    labMove_x->setText(QStringLiteral("X:"));
    labMove_y->setText(QStringLiteral("Y:"));
    labMove_z->setText(QStringLiteral("Z:"));
    for (QLabel* l : {label, label_2, label_3})
        l->setText(QCoreApplication::translate("MoveModelWidget", "mm"));
    btn_movecenter->setText(QCoreApplication::translate("MoveModelWidget", "Center"));
    btn_reset->setText(QCoreApplication::translate("MoveModelWidget", "Reset"));
    btn_movetoZ0->setText(QCoreApplication::translate("MoveModelWidget", "Set Plate"));
}

MoveModelWidget::MoveModelWidget(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    setEnabled(false);
}

void MoveModelWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui.retranslateUi(this);
    QWidget::changeEvent(event);
}

void MoveModelWidget::updateValues()
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    const std::array<float, 3> c = m ? m->getBottomCenter() : std::array<float, 3>{0.f, 0.f, 0.f};
    BVDoubleSpinBox* boxes[3] = {ui.SpinBox_moveX, ui.SpinBox_moveY, ui.SpinBox_moveZ};
    for (int i = 0; i < 3; ++i) {
        const bool blocked = boxes[i]->blockSignals(true);
        const double shown = boxes[i]->valueFromText(boxes[i]->cleanText());
        if (std::fabs(shown - double(c[size_t(i)])) > 0.0001)
            boxes[i]->setValue(double(c[size_t(i)]));
        boxes[i]->blockSignals(blocked);
    }
}

void MoveModelWidget::moveAxisTo(int axis, double value)
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || axis < 0 || axis > 2)
        return;
    double d[3] = {0.0, 0.0, 0.0};
    d[axis] = value - double(m->getBottomCenter()[size_t(axis)]);
    translateBy(d[0], d[1], d[2], true);
}

// Every move of the panel passes here, and asks before it is made.
void MoveModelWidget::translateBy(double dx, double dy, double dz, bool fromBox)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || (std::fabs(dx) < 1e-6 && std::fabs(dy) < 1e-6 && std::fabs(dz) < 1e-6))
        return;
    if (!EditGuard::allows(this, EditGuard::SelectedSupports)) {
        updateValues();
        return;
    }
    if (fromBox)
        AppData::instance()->setEditMode(1);
    const double d[3] = {dx, dy, dz};
    m->translate(d);
    // The view draws on demand: without this the typed place shows only at the next repaint.
    if (PanelHost* host = PanelHost::of(this))
        host->updateStatus();
}

void MoveModelWidget::on_SpinBox_moveX_valueChanged(double arg1)
{
    moveAxisTo(0, arg1);
}

void MoveModelWidget::on_SpinBox_moveY_valueChanged(double arg1)
{
    moveAxisTo(1, arg1);
}

void MoveModelWidget::on_SpinBox_moveZ_valueChanged(double arg1)
{
    moveAxisTo(2, arg1);
}

void MoveModelWidget::on_btn_reset_clicked()
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m)
        return;
    const auto c = m->getBottomCenter();
    const auto s = m->getSavedBottomCenter();
    translateBy(double(s[0] - c[0]), double(s[1] - c[1]), double(s[2] - c[2]));
}

void MoveModelWidget::on_btn_movecenter_clicked()
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m)
        return;
    const auto c = m->getBottomCenter();
    translateBy(-double(c[0]), -double(c[1]), 0.0);
}

void MoveModelWidget::on_btn_movetoZ0_clicked()
{
    // A raised model's supports stand where it was: they are asked about as for any move.
    if (const MeshModel* m = AppData::instance()->getSelectedModel())
        translateBy(0.0, 0.0, -m->getBoundValue(2));
}
