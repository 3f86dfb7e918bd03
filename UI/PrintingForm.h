#pragma once

#include <QWidget>

#include "Thread/SignalTypes.h"

class QLabel;
class QPushButton;

// The printing panel's form, written by hand: the controls by object name.
class Ui_PrintingForm
{
public:
    QWidget* widget;
    QLabel* label;
    QLabel* label_status;
    QLabel* label_2;
    QLabel* label_extruder;
    QLabel* label_6;
    QLabel* label_5;
    QLabel* label_bedtemp;
    QLabel* label_8;
    QLabel* label_3;
    QLabel* label_progress;
    QLabel* label_7;
    QLabel* label_4;
    QPushButton* btn_pause;
    QPushButton* btn_stop;

    void setupUi(QWidget* form);
    void retranslateUi(QWidget* form);
};

// The panel over the 3D view that follows a running print and offers pause, resume and stop.
class PrintingForm : public QWidget
{
    Q_OBJECT
public:
    explicit PrintingForm(QWidget* parent = nullptr);

    bool isPaused() const { return paused; }
    Ui_PrintingForm& form() { return ui; }

signals:
    void signStopPrint();
    void signPausePrint();
    void signRestorePrint();

public slots:
    void printStatus(SendPrintStatus s);
    void on_btn_stop_clicked();
    void on_btn_pause_clicked();

protected:
    void changeEvent(QEvent* e) override;

private:
    void onLinkStatus(bool up);
    void setPauseSprite();
    void setButtonsEnabled(bool on);
    void setLanguageButtonEnabled(bool on);

    Ui_PrintingForm ui;
    bool paused = false;
};
