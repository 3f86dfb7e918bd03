#include "UI/BVSettingWindowForm.h"

#include <QDialog>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "UI/BVThreeBtn.h"
#include "UI/BVTwoBtn.h"
#include "UI/BWDoubleSpinBox.h"

namespace {

const char* const kText = "color: #000000; font: 9pt \"微软雅黑\";";

QLabel* label(QWidget* parent, const char* name, const QString& text = QString())
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setStyleSheet(QLatin1String(kText));
    return l;
}

QPushButton* button(QWidget* parent, const char* name)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    // Enter must not fire a printer command by accident.
    b->setAutoDefault(false);
    return b;
}

// A button drawn from a four-frame sprite of the given frame width.
QPushButton* spriteButton(QWidget* parent, const char* name, const QString& url, int frame, int height)
{
    QPushButton* b = button(parent, name);
    b->setFixedSize(frame, height);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QStringLiteral("QPushButton{border-image: url(%1) 0 %2 0 0; border:none;}"
                                    "QPushButton:hover{border-image: url(%1) 0 %3 0 %4;}"
                                    "QPushButton:pressed, QPushButton:checked{border-image: url(%1) 0 %4 0 %3;}"
                                    "QPushButton:disabled{border-image: url(%1) 0 0 0 %2;}")
                         .arg(url)
                         .arg(frame * 3)
                         .arg(frame * 2)
                         .arg(frame));
    return b;
}

QPushButton* textButton(QWidget* parent, const char* name)
{
    QPushButton* b = button(parent, name);
    b->setMinimumSize(96, 30);
    b->setStyleSheet(QStringLiteral("QPushButton{background: #29c2f5; color: white; border: none; border-radius: 4px;"
                                    " font: 9pt \"微软雅黑\";}"
                                    "QPushButton:hover{background: #5cd3fa;}"
                                    "QPushButton:pressed{background: #1895c4;}"
                                    "QPushButton:disabled{background: #b8b8b8;}"));
    return b;
}

QSpinBox* spinBox(QWidget* parent, const char* name, int min, int max)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    s->setSingleStep(1);
    s->setFixedWidth(120);
    return s;
}

BVTwoBtn* twoBtn(QWidget* parent, const char* name)
{
    auto* b = new BVTwoBtn(parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

} // namespace

void Ui_BVSettingWindowClass::setupUi(QDialog* dialog)
{
    dialog->setObjectName(QStringLiteral("BVSettingWindowClass"));
    dialog->resize(660, 520);
    dialog->setStyleSheet(QStringLiteral("QDialog#BVSettingWindowClass{background: #f7f7f7; border: 1px solid #b0b0b0;}"));
    auto* root = new QVBoxLayout(dialog);
    root->setContentsMargins(1, 1, 1, 1);
    root->setSpacing(0);

    widget_top = new QWidget(dialog);
    widget_top->setObjectName(QStringLiteral("widget_top"));
    widget_top->setFixedHeight(36);
    widget_top->setAttribute(Qt::WA_StyledBackground);
    widget_top->setStyleSheet(QStringLiteral("#widget_top{background: #cfeaf4; border-bottom: 1px solid #29c2f5;}"));
    auto* top = new QHBoxLayout(widget_top);
    top->setContentsMargins(12, 0, 6, 0);
    label_12 = label(widget_top, "label_12");
    top->addWidget(label_12);
    top->addStretch();
    btn_win_close = spriteButton(widget_top, "btn_win_close", QStringLiteral(":/new/Resources/new/setting/close.png"),
                                 28, 28);
    top->addWidget(btn_win_close);
    root->addWidget(widget_top);

    tabWidget = new QTabWidget(dialog);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    root->addWidget(tabWidget);

    // --- Machine control: the jog page of the first model, the one-step page of the second.
    tab_Leveing = new QWidget();
    tab_Leveing->setObjectName(QStringLiteral("tab_Leveing"));
    auto* levLayout = new QVBoxLayout(tab_Leveing);
    LevelingstackedWidget = new QStackedWidget(tab_Leveing);
    LevelingstackedWidget->setObjectName(QStringLiteral("LevelingstackedWidget"));
    levLayout->addWidget(LevelingstackedWidget);

    PX5_1Leveling = new QWidget();
    PX5_1Leveling->setObjectName(QStringLiteral("PX5_1Leveling"));
    auto* px5 = new QGridLayout(PX5_1Leveling);
    widget_leveling = new QWidget(PX5_1Leveling);
    widget_leveling->setObjectName(QStringLiteral("widget_leveling"));
    widget_leveling->setFixedSize(180, 180);
    widget_leveling->setAttribute(Qt::WA_StyledBackground);
    widget_leveling->setStyleSheet(QStringLiteral("#widget_leveling{border-image: url(:/new/levelingback);}"));
    const QString setting = QStringLiteral(":/new/Resources/new/setting/");
    btnLevel_Yplus = spriteButton(widget_leveling, "btnLevel_Yplus", setting + "jog_up.png", 44, 44);
    btnLevel_Xminus = spriteButton(widget_leveling, "btnLevel_Xminus", setting + "jog_left.png", 44, 44);
    btnLevel_Origin = spriteButton(widget_leveling, "btnLevel_Origin", setting + "jog_origin.png", 44, 44);
    btnLevel_Xplus = spriteButton(widget_leveling, "btnLevel_Xplus", setting + "jog_right.png", 44, 44);
    btnLevel_Yminus = spriteButton(widget_leveling, "btnLevel_Yminus", setting + "jog_down.png", 44, 44);
    btnLevel_Yplus->move(68, 10);
    btnLevel_Xminus->move(10, 68);
    btnLevel_Origin->move(68, 68);
    btnLevel_Xplus->move(126, 68);
    btnLevel_Yminus->move(68, 126);
    widget_levelingZ = new QWidget(PX5_1Leveling);
    widget_levelingZ->setObjectName(QStringLiteral("widget_levelingZ"));
    widget_levelingZ->setFixedSize(60, 180);
    widget_levelingZ->setAttribute(Qt::WA_StyledBackground);
    widget_levelingZ->setStyleSheet(QStringLiteral("#widget_levelingZ{border-image: url(:/new/levelingZback);}"));
    btnLevel_Zplus = spriteButton(widget_levelingZ, "btnLevel_Zplus", setting + "jog_up.png", 44, 44);
    btnLevel_Zminus = spriteButton(widget_levelingZ, "btnLevel_Zminus", setting + "jog_down.png", 44, 44);
    btnLevel_Zplus->move(8, 20);
    btnLevel_Zminus->move(8, 116);
    label_xystep = label(PX5_1Leveling, "label_xystep");
    btn_leveling = new BVThreeBtn(PX5_1Leveling);
    btn_leveling->setObjectName(QStringLiteral("btn_leveling"));
    label_zstep = label(PX5_1Leveling, "label_zstep");
    btn_leveling_Z = new BVThreeBtn(PX5_1Leveling);
    btn_leveling_Z->setObjectName(QStringLiteral("btn_leveling_Z"));
    px5->addWidget(widget_leveling, 0, 0, 1, 2, Qt::AlignCenter);
    px5->addWidget(widget_levelingZ, 0, 2, 1, 1, Qt::AlignCenter);
    px5->addWidget(label_xystep, 1, 0);
    px5->addWidget(btn_leveling, 1, 1, 1, 2);
    px5->addWidget(label_zstep, 2, 0);
    px5->addWidget(btn_leveling_Z, 2, 1, 1, 2);
    LevelingstackedWidget->addWidget(PX5_1Leveling);

    PX6Leveling = new QWidget();
    PX6Leveling->setObjectName(QStringLiteral("PX6Leveling"));
    auto* px6 = new QVBoxLayout(PX6Leveling);
    groupBox_leveling = new QGroupBox(PX6Leveling);
    groupBox_leveling->setObjectName(QStringLiteral("groupBox_leveling"));
    auto* g1 = new QGridLayout(groupBox_leveling);
    label_leveling = label(groupBox_leveling, "label_leveling");
    first_layer_airgap_2 = new BWDoubleSpinBox(groupBox_leveling);
    first_layer_airgap_2->setObjectName(QStringLiteral("first_layer_airgap_2"));
    first_layer_airgap_2->setMinimum(0.0);
    first_layer_airgap_2->setMaximum(5.0);
    first_layer_airgap_2->setSingleStep(0.1);
    first_layer_airgap_2->setDecimals(1);
    first_layer_airgap_2->setSuffix(QStringLiteral(" mm"));
    first_layer_airgap_2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    first_layer_airgap_2->setValue(0.8);
    first_layer_airgap_2->setFixedWidth(140);
    label_levelingNote = label(groupBox_leveling, "label_levelingNote");
    label_levelingNote->setWordWrap(true);
    btnLevel_PX6 = textButton(groupBox_leveling, "btnLevel_PX6");
    g1->addWidget(label_leveling, 0, 0);
    g1->addWidget(first_layer_airgap_2, 0, 1, Qt::AlignLeft);
    g1->addWidget(label_levelingNote, 1, 0, 1, 3);
    g1->addWidget(btnLevel_PX6, 2, 2);
    g1->setColumnStretch(1, 1);
    px6->addWidget(groupBox_leveling);
    groupBox_limit = new QGroupBox(PX6Leveling);
    groupBox_limit->setObjectName(QStringLiteral("groupBox_limit"));
    auto* g2 = new QGridLayout(groupBox_limit);
    label_limit = label(groupBox_limit, "label_limit");
    btn_limit = twoBtn(groupBox_limit, "btn_limit");
    label_limitNote = label(groupBox_limit, "label_limitNote");
    label_limitNote->setWordWrap(true);
    btn_linmitApply = textButton(groupBox_limit, "btn_linmitApply");
    g2->addWidget(label_limit, 0, 0);
    g2->addWidget(btn_limit, 0, 1, Qt::AlignLeft);
    g2->addWidget(label_limitNote, 1, 0, 1, 3);
    g2->addWidget(btn_linmitApply, 2, 2);
    g2->setColumnStretch(1, 1);
    px6->addWidget(groupBox_limit);
    LevelingstackedWidget->addWidget(PX6Leveling);
    tabWidget->addTab(tab_Leveing, QString());

    // --- Filament.
    tab_Material = new QWidget();
    tab_Material->setObjectName(QStringLiteral("tab_Material"));
    auto* mat = new QGridLayout(tab_Material);
    btntray_in = spriteButton(tab_Material, "btntray_in", setting + "taryIN.png", 80, 80);
    btntray_in->setCheckable(true);
    label_in = label(tab_Material, "label_in");
    btntray_out = spriteButton(tab_Material, "btntray_out", setting + "taryOUT.png", 80, 80);
    btntray_out->setCheckable(true);
    label_out = label(tab_Material, "label_out");
    widget_tray_msg = new QWidget(tab_Material);
    widget_tray_msg->setObjectName(QStringLiteral("widget_tray_msg"));
    auto* msg = new QHBoxLayout(widget_tray_msg);
    label_traymovie = label(widget_tray_msg, "label_traymovie");
    label_traymovie->setFixedSize(64, 64);
    label_tarystate = label(widget_tray_msg, "label_tarystate");
    label_14 = label(widget_tray_msg, "label_14");
    label_15 = label(widget_tray_msg, "label_15", QStringLiteral("-"));
    label_16 = label(widget_tray_msg, "label_16", QStringLiteral("℃"));
    msg->addWidget(label_traymovie);
    msg->addWidget(label_tarystate, 1);
    msg->addWidget(label_14);
    msg->addWidget(label_15);
    msg->addWidget(label_16);
    btntray_stop = textButton(tab_Material, "btntray_stop");
    mat->addWidget(btntray_in, 0, 0, Qt::AlignCenter);
    mat->addWidget(btntray_out, 0, 1, Qt::AlignCenter);
    mat->addWidget(label_in, 1, 0, Qt::AlignCenter);
    mat->addWidget(label_out, 1, 1, Qt::AlignCenter);
    mat->addWidget(widget_tray_msg, 2, 0, 1, 2);
    mat->addWidget(btntray_stop, 3, 0, 1, 2, Qt::AlignCenter);
    mat->setRowStretch(4, 1);
    tabWidget->addTab(tab_Material, QString());

    // --- Print profile.
    tab_3 = new QWidget();
    tab_3->setObjectName(QStringLiteral("tab_3"));
    auto* prof = new QGridLayout(tab_3);
    auto* qualities = new QGridLayout();
    const QString quality = setting + QStringLiteral("quality.png");
    btn_low = spriteButton(tab_3, "btn_low", quality, 56, 56);
    btn_mid = spriteButton(tab_3, "btn_mid", quality, 56, 56);
    btn_high = spriteButton(tab_3, "btn_high", quality, 56, 56);
    label_low = label(tab_3, "label_low");
    label_mid = label(tab_3, "label_mid");
    label_high = label(tab_3, "label_high");
    int column = 0;
    for (QPushButton* b : {btn_low, btn_mid, btn_high}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
        qualities->addWidget(b, 0, column++, Qt::AlignCenter);
    }
    column = 0;
    for (QLabel* l : {label_low, label_mid, label_high}) {
        l->setAlignment(Qt::AlignCenter);
        l->setMinimumWidth(56);
        qualities->addWidget(l, 1, column++, Qt::AlignCenter);
    }
    prof->addLayout(qualities, 0, 0, 1, 3);

    int row = 1;
    auto addRow = [&](QLabel* caption, QWidget* control, const QString& unit) {
        prof->addWidget(caption, row, 0);
        prof->addWidget(control, row, 1, Qt::AlignLeft);
        if (!unit.isEmpty())
            prof->addWidget(label(tab_3, "", unit), row, 2);
        ++row;
    };
    label_support = label(tab_3, "label_support");
    have_support = twoBtn(tab_3, "have_support");
    addRow(label_support, have_support, QString());
    label_supportType = label(tab_3, "label_supportType");
    support_type = twoBtn(tab_3, "support_type");
    addRow(label_supportType, support_type, QString());
    label_supportAngle = label(tab_3, "label_supportAngle");
    support_angle = spinBox(tab_3, "support_angle", 0, 60);
    addRow(label_supportAngle, support_angle, QStringLiteral("°"));
    label_supportDensity = label(tab_3, "label_supportDensity");
    support_fill_density = spinBox(tab_3, "support_fill_density", 1, 100);
    addRow(label_supportDensity, support_fill_density, QStringLiteral("%"));
    label_raft = label(tab_3, "label_raft");
    print_raft_layers = twoBtn(tab_3, "print_raft_layers");
    addRow(label_raft, print_raft_layers, QString());
    label_pattern = label(tab_3, "label_pattern");
    Infill_Pattern = twoBtn(tab_3, "Infill_Pattern");
    addRow(label_pattern, Infill_Pattern, QString());
    label_density = label(tab_3, "label_density");
    fill_density = spinBox(tab_3, "fill_density", 0, 100);
    addRow(label_density, fill_density, QStringLiteral("%"));
    label_zhop = label(tab_3, "label_zhop");
    Z_Hop_Retracting = twoBtn(tab_3, "Z_Hop_Retracting");
    addRow(label_zhop, Z_Hop_Retracting, QString());
    label_airgap = label(tab_3, "label_airgap");
    first_layer_airgap = new QDoubleSpinBox(tab_3);
    first_layer_airgap->setObjectName(QStringLiteral("first_layer_airgap"));
    first_layer_airgap->setRange(0.0, 0.4);
    first_layer_airgap->setSingleStep(0.01);
    first_layer_airgap->setDecimals(2);
    first_layer_airgap->setFixedWidth(120);
    addRow(label_airgap, first_layer_airgap, QStringLiteral("mm"));
    label_temperature = label(tab_3, "label_temperature");
    Temperature = spinBox(tab_3, "Temperature", 150, 250);
    Temperature->setValue(200);
    addRow(label_temperature, Temperature, QStringLiteral("℃"));
    widget_hot = new QWidget(tab_3);
    widget_hot->setObjectName(QStringLiteral("widget_hot"));
    auto* hot = new QHBoxLayout(widget_hot);
    hot->setContentsMargins(0, 0, 0, 0);
    label_19 = label(widget_hot, "label_19");
    Chassis_effect = twoBtn(widget_hot, "Chassis_effect");
    hot->addWidget(label_19, 1);
    hot->addWidget(Chassis_effect);
    hot->addStretch(1);
    prof->addWidget(widget_hot, row++, 0, 1, 3);

    auto* actions = new QHBoxLayout();
    btn_reset = textButton(tab_3, "btn_reset");
    btn_ok = textButton(tab_3, "btn_ok");
    actions->addStretch();
    actions->addWidget(btn_reset);
    actions->addWidget(btn_ok);
    prof->addLayout(actions, row, 0, 1, 3);
    prof->setColumnStretch(1, 1);
    tabWidget->addTab(tab_3, QString());

    retranslateUi(dialog);
}

void Ui_BVSettingWindowClass::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("BVSettingWindowClass", "Setting"));
    label_12->setText(QCoreApplication::translate("BVSettingWindowClass", "Setting"));
    tabWidget->setTabText(tabWidget->indexOf(tab_Leveing), QCoreApplication::translate("BVSettingWindowClass", "Machine Control"));
    tabWidget->setTabText(tabWidget->indexOf(tab_Material), QCoreApplication::translate("BVSettingWindowClass", "Change Materials"));
    tabWidget->setTabText(tabWidget->indexOf(tab_3), QCoreApplication::translate("BVSettingWindowClass", "Advanced Setting"));
    label_xystep->setText(QCoreApplication::translate("BVSettingWindowClass", "X/Y step (mm)"));
    label_zstep->setText(QCoreApplication::translate("BVSettingWindowClass", "Z step (mm)"));
    groupBox_leveling->setTitle(QCoreApplication::translate("BVSettingWindowClass", "Leveling control"));
    label_leveling->setText(QCoreApplication::translate("BVSettingWindowClass", "Leveling"));
    label_levelingNote->setText(QCoreApplication::translate(
        "BVSettingWindowClass", "The leveling parameter is the clearance between the model and bottom plate. If the model cannot \n"
           "be removed easily, increase the value and vice versa."));
    btnLevel_PX6->setText(QCoreApplication::translate("BVSettingWindowClass", "Leveling Start"));
    groupBox_limit->setTitle(QCoreApplication::translate("BVSettingWindowClass", "Limit Control"));
    label_limit->setText(QCoreApplication::translate("BVSettingWindowClass", "Confirm Active or not"));
    label_limitNote->setText(QCoreApplication::translate(
        "BVSettingWindowClass", "Yes: If the door limit switch is active while printing, opening the door will pause the printing; \n"
           "No: If the door limit switch is inactive while printing, opening the door would not pause the \n"
           "printing."));
    btn_linmitApply->setText(QCoreApplication::translate("BVSettingWindowClass", "apply"));
    label_in->setText(QCoreApplication::translate("BVSettingWindowClass", "Feed Material "));
    label_out->setText(QCoreApplication::translate("BVSettingWindowClass", "Rejected Material"));
    label_14->setText(QCoreApplication::translate("BVSettingWindowClass", "Temp:"));
    btntray_stop->setText(QCoreApplication::translate("BVSettingWindowClass", "Stop"));
    label_low->setText(QCoreApplication::translate("BVSettingWindowClass", "Low"));
    label_mid->setText(QCoreApplication::translate("BVSettingWindowClass", "Mid"));
    label_high->setText(QCoreApplication::translate("BVSettingWindowClass", "High"));
    label_support->setText(QCoreApplication::translate("BVSettingWindowClass", "Having Support or not"));
    label_supportType->setText(QCoreApplication::translate("BVSettingWindowClass", "Support Structure"));
    label_supportAngle->setText(QCoreApplication::translate("BVSettingWindowClass", "Support Angle"));
    label_supportDensity->setText(QCoreApplication::translate("BVSettingWindowClass", "Support Fill Density"));
    label_raft->setText(QCoreApplication::translate("BVSettingWindowClass", "Printing Model Pad"));
    label_pattern->setText(QCoreApplication::translate("BVSettingWindowClass", "Filling Pattern"));
    label_density->setText(QCoreApplication::translate("BVSettingWindowClass", "Filling Density"));
    label_zhop->setText(QCoreApplication::translate("BVSettingWindowClass", "Z Hop Retracting"));
    label_airgap->setText(QCoreApplication::translate("BVSettingWindowClass", "First Layer Clearance"));
    label_temperature->setText(QCoreApplication::translate("BVSettingWindowClass", "Printing Temperature"));
    label_19->setText(QCoreApplication::translate("BVSettingWindowClass", "Use Heatingbed"));
    btn_reset->setText(QCoreApplication::translate("BVSettingWindowClass", "Reset"));
    btn_ok->setText(QCoreApplication::translate("BVSettingWindowClass", "Confirm"));
}
