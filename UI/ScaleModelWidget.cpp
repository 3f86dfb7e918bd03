#include "UI/ScaleModelWidget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <cmath>

#include "UI/BVDoubleSpinBox.h"
#include "UI/EditGuard.h"
#include "UI/IconHelper.h"
#include "UI/PanelHost.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

BVDoubleSpinBox* scaleBox(QWidget* w, const char* name, double min, double step, double value)
{
    auto* b = new BVDoubleSpinBox(w);
    b->setObjectName(QString::fromLatin1(name));
    b->setRange(min, 1000000.0);
    b->setSingleStep(step);
    b->setDecimals(2);
    b->setValue(value);
    b->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    b->setAlignment(Qt::AlignCenter);
    b->setFixedHeight(22);
    return b;
}

} // namespace

void ScaleModelForm::setupUi(QWidget* w)
{
    w->setObjectName(QStringLiteral("ScaleModelWidget"));
    w->setFixedHeight(138);
    auto* grid = new QGridLayout(w);
    grid->setContentsMargins(12, 8, 12, 8);
    labScale_x = new QLabel(w);
    labScale_x->setObjectName(QStringLiteral("labScale_x"));
    labZomm_y = new QLabel(w);
    labZomm_y->setObjectName(QStringLiteral("labZomm_y"));
    labScale_z = new QLabel(w);
    labScale_z->setObjectName(QStringLiteral("labScale_z"));
    labScale_z_2 = new QLabel(w);
    labScale_z_2->setObjectName(QStringLiteral("labScale_z_2"));
    dsbScale_x = scaleBox(w, "dsbScale_x", 0.1, 0.1, 50.0);
    dsbScale_y = scaleBox(w, "dsbScale_y", 0.1, 0.1, 50.0);
    dsbScale_z = scaleBox(w, "dsbScale_z", 0.1, 0.1, 50.0);
    dsbScale_s = scaleBox(w, "dsbScale_s", 0.01, 0.01, 1.0);
    labScale_xmm = new QLabel(w);
    labScale_xmm->setObjectName(QStringLiteral("labScale_xmm"));
    labScale_ymm = new QLabel(w);
    labScale_ymm->setObjectName(QStringLiteral("labScale_ymm"));
    labScale_zmm = new QLabel(w);
    labScale_zmm->setObjectName(QStringLiteral("labScale_zmm"));
    btnScale_undo = new QPushButton(w);
    btnScale_undo->setObjectName(QStringLiteral("btnScale_undo"));
    btnScale_undo->setFixedSize(24, 22);
    QLabel* labels[4] = {labScale_x, labZomm_y, labScale_z, labScale_z_2};
    BVDoubleSpinBox* boxes[4] = {dsbScale_x, dsbScale_y, dsbScale_z, dsbScale_s};
    QWidget* tails[4] = {labScale_xmm, labScale_ymm, labScale_zmm, btnScale_undo};
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(labels[i], i, 0);
        grid->addWidget(boxes[i], i, 1);
        grid->addWidget(tails[i], i, 2);
    }
    retranslateUi(w);
    QMetaObject::connectSlotsByName(w);
}

void ScaleModelForm::retranslateUi(QWidget*)
{
    labScale_x->setText(QStringLiteral("X:"));
    labZomm_y->setText(QStringLiteral("Y:"));
    labScale_z->setText(QStringLiteral("Z:"));
    labScale_z_2->setText(QStringLiteral("S:"));
    for (QLabel* l : {labScale_xmm, labScale_ymm, labScale_zmm})
        l->setText(QCoreApplication::translate("ScaleModelWidget", "mm"));
}

ScaleModelWidget::ScaleModelWidget(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    setEnabled(false);
    IconHelper::instance()->setIcon(ui.btnScale_undo, QChar(0xF0E2), 10);
    // Once the user leaves a box it follows the model again (another selection, an undo).
    for (BVDoubleSpinBox* b : {ui.dsbScale_x, ui.dsbScale_y, ui.dsbScale_z, ui.dsbScale_s}) {
        connect(b, &QAbstractSpinBox::editingFinished, this, [this] {
            editingAxis = -1;
            updateValues();
        });
    }
}

void ScaleModelWidget::updateValues()
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    double values[4] = {50.0, 50.0, 50.0, 1.0};
    if (m) {
        for (int i = 0; i < 3; ++i)
            values[i] = m->size[size_t(i)];
        values[3] = m->factor[0] * m->scale[0];
    }
    BVDoubleSpinBox* boxes[4] = {ui.dsbScale_x, ui.dsbScale_y, ui.dsbScale_z, ui.dsbScale_s};
    for (int i = 0; i < 4; ++i) {
        // Only a box typed in keeps its text; one stepped from its menu, never focused, would
        // else show a size of its own from then on.
        const bool typing = i == editingAxis && boxes[i]->hasFocus();
        if (!typing && std::fabs(boxes[i]->value() - values[i]) > 0.01) {
            // A refresh is not an edit: it must not mark the box as the one being typed in.
            const bool blocked = boxes[i]->blockSignals(true);
            boxes[i]->setValue(values[i]);
            boxes[i]->blockSignals(blocked);
        }
    }
}

// Every scale of the panel passes here, and asks before it is made.
void ScaleModelWidget::scaleTo(double target, bool fromSize)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || !std::isfinite(target) || target <= 0.0)
        return;
    // A size box has tested its own difference: a fine step on a large model is a small factor.
    if (!fromSize && std::fabs(m->scale[0] - target) < 0.01)
        return;
    if (!EditGuard::allows(this, EditGuard::SelectedSupports)) {
        // Every box, the edited one too, shows the model's size again.
        editingAxis = -1;
        updateValues();
        return;
    }
    if (fromSize)
        AppData::instance()->setEditMode(3);
    m->setScale(target);
    if (PanelHost* host = PanelHost::of(this))
        host->updateStatus();
}

void ScaleModelWidget::setAxisSize(int axis, double value)
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || axis < 0 || axis > 2)
        return;
    const double size = m->size[size_t(axis)];
    // A model flat along this axis has no size to scale from.
    if (!(size > 0.0) || std::fabs(size - value) < 0.01)
        return;
    scaleTo(m->scale[0] * value / size, true);
}

void ScaleModelWidget::on_dsbScale_x_valueChanged(double value)
{
    editingAxis = 0;
    setAxisSize(0, value);
}

void ScaleModelWidget::on_dsbScale_y_valueChanged(double value)
{
    editingAxis = 1;
    setAxisSize(1, value);
}

void ScaleModelWidget::on_dsbScale_z_valueChanged(double value)
{
    editingAxis = 2;
    setAxisSize(2, value);
}

void ScaleModelWidget::on_dsbScale_s_valueChanged(double value)
{
    editingAxis = 3;
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || !(m->factor[0] > 0.0))
        return;
    scaleTo(value / m->factor[0]);
}

void ScaleModelWidget::on_btnScale_undo_clicked()
{
    editingAxis = -1;
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || !(m->factor[0] > 0.0))
        return;
    scaleTo(1.0 / m->factor[0]);
}
