#pragma once

#include <QCoreApplication>

class QDialog;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTabWidget;
class QWidget;
class BVThreeBtn;
class BVTwoBtn;
class BWDoubleSpinBox;

// The settings window's form, written by hand: the controls the window works with, by object name.
class Ui_BVSettingWindowClass
{
public:
    QWidget* widget_top;
    QLabel* label_12;
    QPushButton* btn_win_close;
    QTabWidget* tabWidget;

    // Machine control.
    QWidget* tab_Leveing;
    QStackedWidget* LevelingstackedWidget;
    QWidget* PX5_1Leveling;
    QWidget* widget_leveling;
    QPushButton* btnLevel_Yplus;
    QPushButton* btnLevel_Xminus;
    QPushButton* btnLevel_Origin;
    QPushButton* btnLevel_Xplus;
    QPushButton* btnLevel_Yminus;
    QWidget* widget_levelingZ;
    QPushButton* btnLevel_Zplus;
    QPushButton* btnLevel_Zminus;
    QLabel* label_xystep;
    BVThreeBtn* btn_leveling;
    QLabel* label_zstep;
    BVThreeBtn* btn_leveling_Z;
    QWidget* PX6Leveling;
    QGroupBox* groupBox_leveling;
    QLabel* label_leveling;
    BWDoubleSpinBox* first_layer_airgap_2;
    QLabel* label_levelingNote;
    QPushButton* btnLevel_PX6;
    QGroupBox* groupBox_limit;
    QLabel* label_limit;
    BVTwoBtn* btn_limit;
    QLabel* label_limitNote;
    QPushButton* btn_linmitApply;

    // Filament.
    QWidget* tab_Material;
    QPushButton* btntray_in;
    QLabel* label_in;
    QPushButton* btntray_out;
    QLabel* label_out;
    QWidget* widget_tray_msg;
    QLabel* label_traymovie;
    QLabel* label_tarystate;
    QLabel* label_14;
    QLabel* label_15;
    QLabel* label_16;
    QPushButton* btntray_stop;

    // Print profile.
    QWidget* tab_3;
    QPushButton* btn_low;
    QPushButton* btn_mid;
    QPushButton* btn_high;
    QLabel* label_low;
    QLabel* label_mid;
    QLabel* label_high;
    QLabel* label_support;
    BVTwoBtn* have_support;
    QLabel* label_supportType;
    BVTwoBtn* support_type;
    QLabel* label_supportAngle;
    QSpinBox* support_angle;
    QLabel* label_supportDensity;
    QSpinBox* support_fill_density;
    QLabel* label_raft;
    BVTwoBtn* print_raft_layers;
    QLabel* label_pattern;
    BVTwoBtn* Infill_Pattern;
    QLabel* label_density;
    QSpinBox* fill_density;
    QLabel* label_zhop;
    BVTwoBtn* Z_Hop_Retracting;
    QLabel* label_airgap;
    QDoubleSpinBox* first_layer_airgap;
    QLabel* label_temperature;
    QSpinBox* Temperature;
    QWidget* widget_hot;
    QLabel* label_19;
    BVTwoBtn* Chassis_effect;
    QPushButton* btn_reset;
    QPushButton* btn_ok;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};
