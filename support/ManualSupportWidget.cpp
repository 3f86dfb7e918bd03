#include "support/ManualSupportWidget.h"

#include <QDoubleSpinBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

#include "UI/BrevMessageBox.h"
#include "UI/EditGuard.h"
#include "UI/PanelHost.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

const char* const kToggleStyle = "QPushButton\n{\n\tbackground:#008ccc;\n}\n\nQPushButton:checked\n{\n\tbackground:#ff0000;\n}\n"
                                 "QPushButton:disabled\n{\n\tbackground:grey;\n}";
const char* const kPressStyle = "QPushButton\n{\n\tbackground:#008ccc;\n}\n\nQPushButton:pressed\n{\n\tbackground:#007ccc;\n}\n"
                                "QPushButton:disabled\n{\n\tbackground:grey;\n}";
const char* const kPanelStyle =
    "#ManualSupportWidget\n{\n\tbackground:transparent;\n}\n"
    "QPushButton\n{\n\tbackground:grey;\n\tcolor:white;\n\t\n}\nQPushButton:checked\n{\n\tbackground:#008ccc;\n}\n"
    "QPushButton:disabled\n{\n\tbackground:grey;\n}\n\n"
    "QLineEdit\n{\n\tbackground-color: rgb(255, 255, 255);\n\tcolor: rgb(0, 0, 0);\n}\n\n"
    "QLineEdit::disabled\n{\n\tbackground-color: rgb(255, 255, 255);\n\tcolor: grey;\n}\n\n"
    "QDoubleSpinBox\n{\n\tcolor: #000000;\n\tfont:bold,25px,arial;\n\tbackground-color: #ffffff;\n}\n"
    "QDoubleSpinBox:disabled\n{\n\tcolor: grey;\n\tbackground-color: #ffffff;\n}\n\n\n"
    "QSpinBox\n{\n\tcolor: #000000;\n\tfont:bold,25px,arial;\n\tbackground-color: #ffffff;\n}\n"
    "QSpinBox:disabled\n{\n\tcolor: grey;\n\tbackground-color: #ffffff;\n}\n";

QLabel* label(QWidget* w, const char* name)
{
    auto* l = new QLabel(w);
    l->setObjectName(QString::fromLatin1(name));
    l->setStyleSheet(QStringLiteral("background:transparent;"));
    return l;
}

QPushButton* button(QWidget* w, const char* name, bool checkable, const char* style)
{
    auto* b = new QPushButton(w);
    b->setObjectName(QString::fromLatin1(name));
    b->setCheckable(checkable);
    b->setMinimumWidth(40);
    b->setMaximumWidth(400);
    b->setFixedHeight(22);
    b->setStyleSheet(QString::fromLatin1(style));
    return b;
}

} // namespace

void ManualSupportForm::setupUi(QWidget* w)
{
    w->setObjectName(QStringLiteral("ManualSupportWidget"));
    w->setFixedHeight(138);
    w->setStyleSheet(QString::fromLatin1(kPanelStyle));
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(12, 6, 12, 6);

    SizeLayout = new QHBoxLayout();
    SizeLayout->setObjectName(QStringLiteral("SizeLayout"));
    labSize = label(w, "labSize");
    labSize->setFixedSize(52, 22);
    labSize->setFrameShape(QFrame::NoFrame);
    letSupport_size = new QDoubleSpinBox(w);
    letSupport_size->setObjectName(QStringLiteral("letSupport_size"));
    letSupport_size->setFixedSize(54, 22);
    letSupport_size->setRange(1.0, 5.0);
    letSupport_size->setContextMenuPolicy(Qt::NoContextMenu);
    labSize_mm = label(w, "labSize_mm");
    SizeLayout->addWidget(labSize);
    SizeLayout->addWidget(letSupport_size);
    SizeLayout->addWidget(labSize_mm);
    SizeLayout->addStretch();
    column->addLayout(SizeLayout);

    DegreeLayout = new QHBoxLayout();
    DegreeLayout->setObjectName(QStringLiteral("DegreeLayout"));
    labDegree = label(w, "labDegree");
    labDegree->setFixedSize(52, 22);
    letSupport_degree = new QSpinBox(w);
    letSupport_degree->setObjectName(QStringLiteral("letSupport_degree"));
    letSupport_degree->setFixedSize(54, 22);
    letSupport_degree->setRange(0, 60);
    letSupport_degree->setContextMenuPolicy(Qt::NoContextMenu);
    letSupport_degree->setPrefix(QString());
    labDegree_d = label(w, "labDegree_d");
    DegreeLayout->addWidget(labDegree);
    DegreeLayout->addWidget(letSupport_degree);
    DegreeLayout->addWidget(labDegree_d);
    DegreeLayout->addStretch();
    column->addLayout(DegreeLayout);

    btnSupport_add = button(w, "btnSupport_add", true, kToggleStyle);
    btnSupport_delete = button(w, "btnSupport_delete", true, kToggleStyle);
    btnSupport_delete->setEnabled(false);
    auto* row1 = new QHBoxLayout();
    row1->addWidget(btnSupport_add);
    row1->addWidget(btnSupport_delete);
    column->addLayout(row1);

    btnSupport_auto = button(w, "btnSupport_auto", false, kPressStyle);
    btnSupport_deleteall = button(w, "btnSupport_deleteall", false, kPressStyle);
    btnSupport_deleteall->setEnabled(false);
    auto* row2 = new QHBoxLayout();
    row2->addWidget(btnSupport_auto);
    row2->addWidget(btnSupport_deleteall);
    column->addLayout(row2);

    retranslateUi(w);
    QMetaObject::connectSlotsByName(w);
}

void ManualSupportForm::retranslateUi(QWidget*)
{
    labSize->setText(QCoreApplication::translate("ManualSupportWidget", "Size:"));
    labSize_mm->setText(QCoreApplication::translate("ManualSupportWidget", "mm"));
    labDegree->setText(QCoreApplication::translate("ManualSupportWidget", "Angel:"));
    labDegree_d->setText(QStringLiteral("°"));
    btnSupport_add->setText(btnSupport_add->isChecked()
                                ? QCoreApplication::translate("ManualSupportWidget", "Quit Adding")
                                : QCoreApplication::translate("ManualSupportWidget", "Add Support"));
    btnSupport_delete->setText(QCoreApplication::translate("ManualSupportWidget", "Delete Support"));
    btnSupport_auto->setText(QCoreApplication::translate("ManualSupportWidget", "Auto Generating"));
    btnSupport_deleteall->setText(QCoreApplication::translate("ManualSupportWidget", "Delete All"));
}

ManualSupportWidget::ManualSupportWidget(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    setEnabled(false);
}

void ManualSupportWidget::repaintView()
{
    if (PanelHost* host = PanelHost::of(this))
        host->updateGLView();
}

void ManualSupportWidget::updateFromAppData()
{
    AppData* data = AppData::instance();
    ui.letSupport_size->setValue(data->getSupportSize());
    ui.letSupport_degree->setValue(int(data->getSupportAngle()));
    setSupportDisabled(!data->hasSupports());
}

void ManualSupportWidget::setSupportSize(double size)
{
    if (size > 0)
        ui.letSupport_size->setValue(size);
}

void ManualSupportWidget::setSupportDisabled(bool disabled)
{
    if (disabled && ui.btnSupport_delete->isChecked()) {
        ui.btnSupport_delete->setChecked(false);
        on_btnSupport_delete_clicked();
    }
    ui.btnSupport_delete->setEnabled(!disabled);
    ui.btnSupport_deleteall->setEnabled(!disabled);
}

void ManualSupportWidget::retranslate()
{
    ui.retranslateUi(this);
}

bool ManualSupportWidget::isSupportEditing() const
{
    return (ui.btnSupport_add->isEnabled() && ui.btnSupport_add->isChecked())
        || (ui.btnSupport_delete->isEnabled() && ui.btnSupport_delete->isChecked());
}

void ManualSupportWidget::leaveAdding()
{
    AppData::instance()->setSupportEditing(false);
    ui.letSupport_size->setEnabled(true);
    ui.letSupport_degree->setEnabled(true);
    ui.btnSupport_add->setText(tr("Add Support"));
}

void ManualSupportWidget::on_btnSupport_add_clicked()
{
    PanelHost* host = PanelHost::of(this);
    // Leaving the mode changes nothing on the plate, and asks nothing.
    if (ui.btnSupport_add->isChecked() && host && !host->confirmEraseSliceData()) {
        // Refused: the button keeps showing the mode that is really on.
        ui.btnSupport_add->setChecked(AppData::instance()->isSupportEditing());
        return;
    }
    AppData* data = AppData::instance();
    data->setEditMode(0);
    if (ui.btnSupport_delete->isChecked()) {
        ui.btnSupport_delete->setChecked(false);
        data->setSupportDeleting(false);
        if (host)
            host->setSupportCursor(false);
    }
    if (ui.btnSupport_add->isChecked()) {
        data->setSupportEditing(true);
        ui.btnSupport_add->setText(tr("Quit Adding"));
        ui.letSupport_size->setEnabled(false);
        ui.letSupport_degree->setEnabled(false);
        emit signStopCutWork();
    } else {
        leaveAdding();
        // An unfinished column leaves its mesh behind.
        data->freeUnreferencedMeshes();
    }
    repaintView();
}

void ManualSupportWidget::on_btnSupport_delete_clicked()
{
    AppData* data = AppData::instance();
    PanelHost* host = PanelHost::of(this);
    // Each click of this mode takes a support off the plate the slice was made from.
    if (ui.btnSupport_delete->isChecked() && host && !host->confirmEraseSliceData()) {
        ui.btnSupport_delete->setChecked(data->isSupportDeleting());
        return;
    }
    if (ui.btnSupport_add->isChecked()) {
        ui.btnSupport_add->setChecked(false);
        leaveAdding();
    }
    if (ui.btnSupport_delete->isChecked()) {
        data->setSupportDeleting(true);
        emit signStopCutWork();
        if (host)
            host->setSupportCursor(true);
    } else {
        data->setSupportDeleting(false);
        if (host)
            host->setSupportCursor(false);
    }
}

void ManualSupportWidget::on_btnSupport_auto_clicked()
{
    AppData* data = AppData::instance();
    // The job is refused for a model outside the volume: before anything is asked or deleted.
    if (!data->allModelsInVolume()) {
        BrevMessageBox box(4, window());
        box.exec();
        return;
    }
    // The new supports replace the old ones: asked once, then made. The mode the auto job
    // ends is left without its own question, once the slice may go.
    if (!EditGuard::allowsErase(this))
        return;
    slotStopSupportWork();
    if (!EditGuard::allows(this, EditGuard::AnySupports, EditGuard::MakeChange))
        return;
    data->setEditMode(0);
    emit signStopCutWork();
    if (data->hasSupports())
        data->removeAllSupports();
    ui.btnSupport_delete->setEnabled(true);
    ui.btnSupport_deleteall->setEnabled(true);
    if (PanelHost* host = PanelHost::of(this))
        host->runAutoSupport(data->getSupportSize(), data->getSupportAngle());
    repaintView();
}

void ManualSupportWidget::on_btnSupport_deleteall_clicked()
{
    if (!EditGuard::allowsErase(this))
        return;
    BrevMessageBox box(10, window());
    if (box.exec() == 1 && AppData::instance()->hasSupports()) {
        AppData::instance()->removeAllSupports();
        ui.btnSupport_delete->setChecked(false);
        on_btnSupport_delete_clicked();
        ui.btnSupport_delete->setEnabled(false);
        ui.btnSupport_deleteall->setEnabled(false);
    }
    repaintView();
}

// The engine takes one column size for every support: the supports standing already are
// asked about before another size or angle is kept. A refusal shows the kept value again.
bool ManualSupportWidget::supportParameterMayChange(double now, double kept)
{
    if (std::fabs(now - kept) < 1e-6 || !AppData::instance()->hasSupports()
        || EditGuard::allows(this, EditGuard::AnySupports, EditGuard::MakeChange))
        return true;
    updateFromAppData();
    return false;
}

void ManualSupportWidget::on_letSupport_size_editingFinished()
{
    // Taken before the question: deleting the supports refreshes the panel.
    const double size = ui.letSupport_size->value();
    if (!supportParameterMayChange(size, AppData::instance()->getSupportSize()))
        return;
    AppData::instance()->setSupportSize(size);
    if (PanelHost* host = PanelHost::of(this))
        host->updateStatus();
}

void ManualSupportWidget::on_letSupport_degree_editingFinished()
{
    const int angle = ui.letSupport_degree->value();
    if (!supportParameterMayChange(angle, int(AppData::instance()->getSupportAngle())))
        return;
    AppData::instance()->setSupportAngle(angle);
    if (PanelHost* host = PanelHost::of(this))
        host->updateStatus();
}

void ManualSupportWidget::slotStopSupportWork()
{
    if (ui.btnSupport_add->isEnabled() && ui.btnSupport_add->isChecked()) {
        ui.btnSupport_add->setChecked(false);
        on_btnSupport_add_clicked();
    }
    if (ui.btnSupport_delete->isEnabled() && ui.btnSupport_delete->isChecked()) {
        ui.btnSupport_delete->setChecked(false);
        on_btnSupport_delete_clicked();
    }
    repaintView();
}
