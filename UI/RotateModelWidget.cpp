#include "UI/RotateModelWidget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExpValidator>
#include <QSlider>
#include <cmath>

#include "UI/EditGuard.h"
#include "UI/PanelHost.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

struct Preset
{
    const char* name;
    const char* sprite;
    int angles[3];
};

// In form order: first row front, left, top; second row back, right, down.
const Preset kPresets[6] = {
    {"btnRotate_front", ":/new/rotate_1", {270, 0, 0}}, {"btnRotate_left", ":/new/rotate2", {0, 90, 0}},
    {"btnRotate_top", ":/new/rotate3", {0, 180, 0}},    {"btnRotate_back", ":/new/rotate4", {90, 0, 0}},
    {"btnRotate_right", ":/new/rotate5", {0, 270, 0}},  {"btnRotate_down", ":/new/rotate6", {0, 0, 0}},
};

QString spriteStyle(const char* image)
{
    // Four frames of 34 pixels side by side: normal, hover, checked, disabled.
    const QString url = QString::fromLatin1(image);
    return QStringLiteral("QPushButton{border-image:url(%1) 0 102 0 0;}"
                          "QPushButton:hover{border-image:url(%1) 0 68 0 34;}"
                          "QPushButton:checked{border-image:url(%1) 0 34 0 68;}"
                          "QPushButton:disabled{border-image:url(%1) 0 0 0 102;}")
        .arg(url);
}

} // namespace

void RotateModelForm::setupUi(QWidget* w)
{
    w->setObjectName(QStringLiteral("RotateModelWidget"));
    auto* grid = new QGridLayout(w);
    grid->setContentsMargins(12, 8, 12, 8);
    QLabel** labels[3] = {&labRotate_x, &labRotate_y, &labRotate_z};
    QSlider** sliders[3] = {&hsdRotate_x, &hsdRotate_y, &hsdRotate_z};
    QLineEdit** edits[3] = {&letRotate_x, &letRotate_y, &letRotate_z};
    QLabel** degrees[3] = {&labRotate_xd, &labRotate_yd, &labRotate_zd};
    const char* axes = "xyz";
    for (int i = 0; i < 3; ++i) {
        const QString a(QChar::fromLatin1(axes[i]));
        *labels[i] = new QLabel(w);
        (*labels[i])->setObjectName("labRotate_" + a);
        auto* s = new QSlider(Qt::Horizontal, w);
        s->setObjectName("hsdRotate_" + a);
        s->setRange(0, 360);
        s->setFixedHeight(22);
        *sliders[i] = s;
        auto* e = new QLineEdit(w);
        e->setObjectName("letRotate_" + a);
        e->setFixedSize(40, 22);
        e->setText(QStringLiteral("0"));
        e->setAlignment(Qt::AlignCenter);
        *edits[i] = e;
        *degrees[i] = new QLabel(w);
        (*degrees[i])->setObjectName("labRotate_" + a + "d");
        grid->addWidget(*labels[i], i, 0);
        grid->addWidget(s, i, 1, 1, 3);
        grid->addWidget(e, i, 4);
        grid->addWidget(*degrees[i], i, 5);
    }
    QPushButton** presets[6] = {&btnRotate_front, &btnRotate_left, &btnRotate_top,
                                &btnRotate_back,  &btnRotate_right, &btnRotate_down};
    for (int i = 0; i < 6; ++i) {
        auto* b = new QPushButton(w);
        b->setObjectName(kPresets[i].name);
        b->setFixedSize(40, 40);
        b->setFlat(true);
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setStyleSheet(spriteStyle(kPresets[i].sprite));
        *presets[i] = b;
        grid->addWidget(b, 3 + i / 3, 1 + i % 3, Qt::AlignCenter);
    }
    btn_hide = new QPushButton(w);
    btn_hide->setObjectName(QStringLiteral("btn_hide"));
    btn_hide->setCheckable(true);
    btn_hide->setChecked(true);
    btn_hide->setAutoExclusive(true);
    btn_hide->setFixedSize(0, 0);
    grid->addWidget(btn_hide, 5, 0);
    retranslateUi(w);
    QMetaObject::connectSlotsByName(w);
}

void RotateModelForm::retranslateUi(QWidget*)
{
    labRotate_x->setText(QStringLiteral("X:"));
    labRotate_y->setText(QStringLiteral("Y:"));
    labRotate_z->setText(QStringLiteral("Z:"));
    for (QLabel* l : {labRotate_xd, labRotate_yd, labRotate_zd})
        l->setText(QStringLiteral("°     "));
    btnRotate_front->setToolTip(QCoreApplication::translate("RotateModelWidget", "Rotate along X axis 270°"));
    btnRotate_left->setToolTip(QCoreApplication::translate("RotateModelWidget", "Rotate along Y axis 90°"));
    btnRotate_top->setToolTip(QCoreApplication::translate("RotateModelWidget", "Rotate along Y axis 180°"));
    btnRotate_back->setToolTip(QCoreApplication::translate("RotateModelWidget", "Rotate along X axis 90°"));
    btnRotate_right->setToolTip(QCoreApplication::translate("RotateModelWidget", "Rotate along Y axis 270°"));
    btnRotate_down->setToolTip(QCoreApplication::translate("RotateModelWidget", "Reset"));
    btn_hide->setText(QStringLiteral("PushButton"));
}

RotateModelWidget::RotateModelWidget(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    setEnabled(false);
    ui.btn_hide->hide();
    validator = new QRegExpValidator(QRegExp(QStringLiteral("[0-9]*$")), this);
    for (QLineEdit* e : {ui.letRotate_x, ui.letRotate_y, ui.letRotate_z})
        e->setValidator(validator);
    for (QPushButton* b : presetButtons())
        connect(b, &QPushButton::clicked, this, &RotateModelWidget::BtnRotateClicked);
}

QList<QPushButton*> RotateModelWidget::presetButtons() const
{
    return {ui.btnRotate_front, ui.btnRotate_left, ui.btnRotate_top,
            ui.btnRotate_back,  ui.btnRotate_right, ui.btnRotate_down};
}

void RotateModelWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui.retranslateUi(this);
    QWidget::changeEvent(event);
}

void RotateModelWidget::updateValues()
{
    const MeshModel* m = AppData::instance()->getSelectedModel();
    int a[3] = {0, 0, 0};
    if (m) {
        for (int i = 0; i < 3; ++i)
            a[i] = int(m->rotationAngles[size_t(i)] + 1e-6);
    }
    QSlider* sliders[3] = {ui.hsdRotate_x, ui.hsdRotate_y, ui.hsdRotate_z};
    QLineEdit* edits[3] = {ui.letRotate_x, ui.letRotate_y, ui.letRotate_z};
    // The controls show whole degrees; their change handlers must not write that back.
    for (int i = 0; i < 3; ++i) {
        const bool sb = sliders[i]->blockSignals(true);
        sliders[i]->setValue(a[i]);
        sliders[i]->blockSignals(sb);
        const bool eb = edits[i]->blockSignals(true);
        edits[i]->setText(QString::number(a[i]));
        edits[i]->blockSignals(eb);
    }
    checkRotateBtn(a[0], a[1], a[2]);
}

int RotateModelWidget::wrappedDegrees(double value)
{
    // Absurdly long typed numbers are first brought near the circle so the int never overflows.
    if (std::fabs(value) > 1e9)
        value = std::fmod(value, 360.0);
    long long a = static_cast<long long>(value + 0.5);
    if (value > 360.0 || value < 0.0) {
        const long long q = a / 360;
        a = (1 - q) * 360 + a;
        a = a % 360;
    }
    return int(a);
}

void RotateModelWidget::setAxisAngle(int axis, double value)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m || axis < 0 || axis > 2 || !std::isfinite(value))
        return;
    const int a = wrappedDegrees(value);
    if (std::fabs(m->rotationAngles[size_t(axis)] - a) < 0.01)
        return;
    // Slid, typed, pasted or dropped: the controls go back to the model's angles when refused.
    if (!EditGuard::allows(this, EditGuard::SelectedSupports)) {
        updateValues();
        return;
    }
    m->setAxisRotation(axis, a);
    AppData::instance()->setEditMode(2);
    if (PanelHost* host = PanelHost::of(this))
        host->updateStatus();
}

void RotateModelWidget::setAngles(double x, double y, double z)
{
    MeshModel* m = AppData::instance()->getSelectedModel();
    if (!m)
        return;
    if (!EditGuard::allows(this, EditGuard::SelectedSupports)) {
        // A pressed preset checked itself; the checks go back to the model's angles.
        updateValues();
        return;
    }
    const double angles[3] = {x, y, z};
    m->setRotation(angles, true);
    if (PanelHost* host = PanelHost::of(this))
        host->updateStatus();
}

void RotateModelWidget::on_hsdRotate_x_valueChanged(int value)
{
    setAxisAngle(0, value);
}

void RotateModelWidget::on_hsdRotate_y_valueChanged(int value)
{
    setAxisAngle(1, value);
}

void RotateModelWidget::on_hsdRotate_z_valueChanged(int value)
{
    setAxisAngle(2, value);
}

void RotateModelWidget::on_letRotate_x_textChanged(const QString& text)
{
    setAxisAngle(0, text.toDouble());
}

void RotateModelWidget::on_letRotate_y_textChanged(const QString& text)
{
    setAxisAngle(1, text.toDouble());
}

void RotateModelWidget::on_letRotate_z_textChanged(const QString& text)
{
    setAxisAngle(2, text.toDouble());
}

void RotateModelWidget::BtnRotateClicked()
{
    const QObject* s = sender();
    if (!s)
        return;
    for (const Preset& p : kPresets) {
        if (s->objectName() != QLatin1String(p.name))
            continue;
        setAngles(p.angles[0], p.angles[1], p.angles[2]);
        return;
    }
}

void RotateModelWidget::checkRotateBtn(int value0, int value1, int value2)
{
    if (value0 % 90 || value1 % 90 || value2 % 90) {
        for (QPushButton* b : presetButtons())
            b->setChecked(false);
        ui.btn_hide->setChecked(true);
        return;
    }
    QPushButton* target = nullptr;
    switch ((value0 * 1000 + value1) * 1000 + value2) {
    case 270000000: target = ui.btnRotate_front; break;
    case 90000000: target = ui.btnRotate_back; break;
    case 90000: target = ui.btnRotate_left; break;
    case 270000: target = ui.btnRotate_right; break;
    case 180000: target = ui.btnRotate_top; break;
    case 0: target = ui.btnRotate_down; break;
    default: return;
    }
    for (QPushButton* b : presetButtons())
        b->setChecked(false);
    target->setChecked(true);
}

void RotateModelWidget::checkPresetButton(int n)
{
    for (QPushButton* b : presetButtons())
        b->setChecked(false);
    ui.btn_hide->setChecked(false);
    switch (n) {
    case 1: ui.btnRotate_front->setChecked(true); break;
    case 2: ui.btnRotate_back->setChecked(true); break;
    case 3: ui.btnRotate_right->setChecked(true); break;
    case 4: ui.btnRotate_left->setChecked(true); break;
    case 5: ui.btnRotate_top->setChecked(true); break;
    case 6: ui.btnRotate_down->setChecked(true); break;
    default: ui.btn_hide->setChecked(true); break;
    }
}
