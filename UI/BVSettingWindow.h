#pragma once

#include <QDialog>
#include <QMovie>
#include <QPoint>

#include "Thread/SignalTypes.h"
#include "UI/BVSettingWindowForm.h"
#include "scene/PrintProfile.h"

class QPushButton;
class BVTwoBtn;

// The machine-settings dialog: bed levelling and the door switch, feeding and returning
// filament, and the print profile of the three print qualities. It reaches the printer only
// through queued signals to the printer link.
class BVSettingWindow : public QDialog
{
    Q_OBJECT
public:
    explicit BVSettingWindow(QWidget* parent = nullptr);

    Ui_BVSettingWindowClass& form() { return ui; }
    int quality() const { return currentQuality; }
    bool isLevelingBusy() const { return levelingBusy; }
    bool isTrayBusy() const { return trayBusy; }
    int jogPositionX() const { return jogX; }
    int jogPositionY() const { return jogY; }
    int jogPositionZ() const { return jogZ; }
    int xyJogStep() const { return xyStep; }
    int zJogStep() const { return zStep; }
    QMovie* movie() { return &trayMovie; }

    // Reloads the profile page from setting.ini.
    void refresh();

signals:
    void signOutTray();
    void signInTray();
    void signStopTray();
    void signPX5_1BeginLeveling();
    void signPX5_1LevelingCommand(QString command);
    void signPX5_1StopLeveling(int LeveingZ);
    void signPX6BeginLeveling(QString LeveingZ);
    void signDoorActive(int isActive);

public slots:
    int exec() override;
    void on_btn_low_clicked();
    void on_btn_mid_clicked();
    void on_btn_high_clicked();
    void on_btn_ok_clicked();
    void changeTabWidget(int tab);
    void on_btnLevel_Origin_clicked();
    void on_btnLevel_Xplus_clicked();
    void on_btnLevel_Xminus_clicked();
    void on_btnLevel_Yplus_clicked();
    void on_btnLevel_Yminus_clicked();
    void on_btn_leveling_three_clicksed(int value);
    void on_btn_reset_clicked();
    bool close();
    void on_btn_support_clicked(bool flag);
    void on_btn_raft_layers_clicked();
    void PX6LevelStatus(PX6LevelingStatus status);
    void PX5_1LevelStatus(PX5_1LevelingStatus status);
    void on_btntray_out_clicked();
    void on_btntray_in_clicked();
    void on_btntray_stop_clicked();
    void on_btnLevel_PX6_clicked();
    void on_btnLevel_Zplus_clicked();
    void on_btnLevel_Zminus_clicked();
    void linkStatus(bool link);
    void slotTray(TrayStaus status);
    void selectMachineType(ChoiceType type);
    void selectDoorActive(int isActive);
    void setLevelingData(int data);
    void printStatus(SendPrintStatus status);
    void on_btn_linmitApply_clicked();
    void onSetSuccessDlg();
    void onChangeLimitState();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void askTray(bool feeding);
    void connectForm();
    void connectLink();
    void setChoiceTexts();
    void highlightQuality(int q);
    void showProfile(const PrintProfile& p);
    void setQuality(int q);
    void setJogButtonsEnabled(bool on);
    void setJogOnlyEnabled(bool on);
    // A jog to n along one axis: refused with message kind 11 outside [min, max].
    bool jog(int& axis, int n, int min, int max, const QString& command);
    void showTrayBusy(const QString& state);
    void resetTrayPage();
    void popUp();

    Ui_BVSettingWindowClass ui;
    int currentQuality = 1;
    int xyStep = 5;
    int jogX = 0;
    int jogY = 0;
    int jogZ = 0;
    int zStep = 10;
    int currentTab = 4;
    int dragging = 0;
    QPoint dragStart;
    bool levelingBusy = false;
    bool trayBusy = false;
    QMovie trayMovie;
};
