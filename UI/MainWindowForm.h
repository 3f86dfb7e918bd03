#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <QWidget>

class BVGLWidget;
class EditTreeWidget;

// The main window's form, written by hand: the controls the window works with, by object name.
class Ui_MainWindow
{
public:
    QAction* actionAbout;
    QAction* actionTarni;
    QAction* actionFirmware;
    QAction* actionChoiceType;
    QAction* actionHelp;
    QAction* actionModelLibrary;
    QAction* actionWizard;

    QVBoxLayout* mainLayout;
    QWidget* wgtMain_upMenu;
    QLabel* labMain_logo;
    QPushButton* btnMain_open;
    QPushButton* btnMain_save;
    QPushButton* btnMain_export;
    QPushButton* btnMain_Slice;
    QPushButton* cbbMain_language;
    QPushButton* btnMain_setcura;
    QPushButton* btnMain_setting;
    QPushButton* btnMain_min;
    QPushButton* btnMain_max;
    QPushButton* btnMain_close;
    QProgressBar* pgbMain_progress;
    QWidget* wgtMain_center;
    QGridLayout* gridLayout;
    QWidget* wgtMain_layer;
    QLabel* TotalLayer;
    QLabel* label_3;
    QSlider* vsdMain_layer;
    QLabel* NowLayer;
    BVGLWidget* glwMain_show;
    QWidget* wgtMain_ctrl;
    EditTreeWidget* twtMain_edit;
    QPushButton* btnMain_ctrl;
    QWidget* wgtMain_dnMenu;
    QLabel* labMain_typeTitle;
    QLabel* labMain_type;
    QLabel* labMain_sizeTitle;
    QLineEdit* letMain_size;
    QLabel* labMain_light;
    QLabel* labMain_statusTitle;
    QLabel* labMain_Status;

    void setupUi(QWidget* MainWindow);
    void retranslateUi(QWidget* MainWindow);
};
