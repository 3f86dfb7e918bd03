// The settings window's machine pages: levelling, the door switch and filament.
#include "UI/BVSettingWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>

#include "UI/BVTwoBtn.h"
#include "UI/BWDoubleSpinBox.h"
#include "UI/BrevMessageBox.h"
#include "scene/AppData.h"

namespace {
constexpr int kMaxJogX = 187;
constexpr int kMaxJogY = 171;
constexpr int kMinJogZ = -500;
constexpr int kMaxJogZ = 500;
} // namespace

// --- Levelling of the first model: jogs.

void BVSettingWindow::on_btn_leveling_three_clicksed(int value)
{
    xyStep = value;
}

void BVSettingWindow::setJogOnlyEnabled(bool on)
{
    for (QPushButton* b : {ui.btnLevel_Xplus, ui.btnLevel_Xminus, ui.btnLevel_Yplus, ui.btnLevel_Yminus,
                           ui.btnLevel_Zplus, ui.btnLevel_Zminus})
        b->setEnabled(on);
}

void BVSettingWindow::setJogButtonsEnabled(bool on)
{
    setJogOnlyEnabled(on);
    if (!on)
        return;
    // A button that would pass a limit stays off.
    ui.btnLevel_Xminus->setEnabled(jogX > 0);
    ui.btnLevel_Xplus->setEnabled(jogX < kMaxJogX);
    ui.btnLevel_Yplus->setEnabled(jogY < kMaxJogY);
    ui.btnLevel_Yminus->setEnabled(jogY > 0);
    ui.btnLevel_Zminus->setEnabled(jogZ < kMaxJogZ);
    ui.btnLevel_Zplus->setEnabled(jogZ > kMinJogZ);
}

bool BVSettingWindow::jog(int& axis, int n, int min, int max, const QString& command)
{
    if (n < min || n > max) {
        BrevMessageBox box(11, this);
        box.exec();
        return false;
    }
    axis = n;
    emit signPX5_1LevelingCommand(command.arg(axis));
    // Until the printer acknowledges the move.
    setJogOnlyEnabled(false);
    ui.btn_win_close->setEnabled(false);
    return true;
}

void BVSettingWindow::on_btnLevel_Origin_clicked()
{
    emit signPX5_1BeginLeveling();
    levelingBusy = true;
    jogX = jogY = jogZ = 0;
    setJogOnlyEnabled(false);
    ui.btnLevel_Origin->setEnabled(false);
    ui.btn_win_close->setEnabled(false);
}

void BVSettingWindow::on_btnLevel_Xplus_clicked()
{
    if (jog(jogX, jogX + xyStep, 0, kMaxJogX, QStringLiteral("X%1")))
        ui.btnLevel_Origin->setEnabled(false);
}

void BVSettingWindow::on_btnLevel_Xminus_clicked()
{
    jog(jogX, jogX - xyStep, 0, kMaxJogX, QStringLiteral("X%1"));
}

void BVSettingWindow::on_btnLevel_Yplus_clicked()
{
    jog(jogY, jogY + xyStep, 0, kMaxJogY, QStringLiteral("Y%1"));
}

void BVSettingWindow::on_btnLevel_Yminus_clicked()
{
    jog(jogY, jogY - xyStep, 0, kMaxJogY, QStringLiteral("Y%1"));
}

void BVSettingWindow::on_btnLevel_Zplus_clicked()
{
    // Z+ brings the nozzle closer: the offset goes down.
    const int n = jogZ - zStep;
    if (n < kMinJogZ) {
        BrevMessageBox box(11, this);
        box.exec();
        return;
    }
    jogZ = n;
    emit signPX5_1LevelingCommand(QStringLiteral("Z%1").arg(QString::number(jogZ / 100.0, 'g')));
    setJogOnlyEnabled(false);
    ui.btn_win_close->setEnabled(false);
}

void BVSettingWindow::on_btnLevel_Zminus_clicked()
{
    const int n = jogZ + zStep;
    if (n > kMaxJogZ) {
        BrevMessageBox box(11, this);
        box.exec();
        return;
    }
    jogZ = n;
    emit signPX5_1LevelingCommand(QStringLiteral("Z%1").arg(QString::number(jogZ / 100.0, 'g')));
    setJogOnlyEnabled(false);
    ui.btn_win_close->setEnabled(false);
}

void BVSettingWindow::PX5_1LevelStatus(PX5_1LevelingStatus status)
{
    switch (status) {
    case PX5_1Idle:
        levelingBusy = false;
        ui.btn_win_close->setEnabled(true);
        setJogOnlyEnabled(false);
        ui.btnLevel_Origin->setEnabled(true);
        break;
    case PX5_1Started:
        // The printer levels on its own: bring the page up.
        levelingBusy = true;
        ui.btn_win_close->setEnabled(true);
        setJogOnlyEnabled(false);
        ui.btnLevel_Origin->setEnabled(true);
        ui.tabWidget->setCurrentIndex(0);
        ui.LevelingstackedWidget->setCurrentIndex(0);
        popUp();
        break;
    case PX5_1Accepted:
        levelingBusy = true;
        ui.btn_win_close->setEnabled(true);
        setJogButtonsEnabled(true);
        break;
    case PX5_1Ended:
        levelingBusy = false;
        ui.btnLevel_Origin->setEnabled(true);
        ui.btn_win_close->setEnabled(true);
        setJogOnlyEnabled(false);
        break;
    }
}

// --- Levelling of the second model: one step.

void BVSettingWindow::on_btnLevel_PX6_clicked()
{
    emit signPX6BeginLeveling(QStringLiteral("E") + ui.first_layer_airgap_2->text());
    ui.btnLevel_PX6->setEnabled(false);
    levelingBusy = true;
    ui.btn_win_close->setEnabled(false);
}

void BVSettingWindow::PX6LevelStatus(PX6LevelingStatus status)
{
    const auto finish = [this](bool on) {
        ui.btnLevel_PX6->setEnabled(on);
        ui.btn_win_close->setEnabled(on);
    };
    switch (status) {
    case PX6Refused:
        levelingBusy = false;
        finish(true);
        break;
    case PX6Leveling: {
        levelingBusy = true;
        finish(false);
        ui.tabWidget->setCurrentIndex(0);
        ui.LevelingstackedWidget->setCurrentIndex(1);
        popUp();
        break;
    }
    case PX6EndedFirst:
    case PX6EndedSecond: {
        levelingBusy = false;
        finish(true);
        BrevMessageBox box(status == PX6EndedFirst ? 55 : 56, this);
        box.exec();
        break;
    }
    }
}

void BVSettingWindow::setLevelingData(int data)
{
    ui.first_layer_airgap_2->setValue(data == 0 ? 0.8 : data / 1000.0);
}

// --- Door switch.

void BVSettingWindow::selectDoorActive(int isActive)
{
    ui.btn_limit->setValue(isActive);
}

void BVSettingWindow::onChangeLimitState()
{
    ui.btn_linmitApply->setEnabled(true);
}

void BVSettingWindow::on_btn_linmitApply_clicked()
{
    emit signDoorActive(ui.btn_limit->value());
}

void BVSettingWindow::onSetSuccessDlg()
{
    ui.btn_linmitApply->setEnabled(false);
}

// --- Filament.

void BVSettingWindow::on_btntray_in_clicked()
{
    askTray(true);
}

void BVSettingWindow::on_btntray_out_clicked()
{
    askTray(false);
}

void BVSettingWindow::askTray(bool feeding)
{
    QPushButton* chosen = feeding ? ui.btntray_in : ui.btntray_out;
    ui.btntray_in->setChecked(feeding);
    ui.btntray_out->setChecked(!feeding);
    if (trayBusy)
        return;
    BrevMessageBox box(feeding ? 50 : 51, this);
    if (box.exec() != 1) {
        chosen->setChecked(false);
        return;
    }
    trayBusy = true;
    slotTray(feeding ? TrayFeeding : TrayReturning);
    if (feeding)
        emit signInTray();
    else
        emit signOutTray();
}

void BVSettingWindow::on_btntray_stop_clicked()
{
    BrevMessageBox box(52, this);
    if (box.exec() != 1)
        return;
    const bool feeding = ui.btntray_in->isChecked();
    ui.tabWidget->setCurrentIndex(1);
    showTrayBusy(feeding ? tr("Stop Feeding...") : tr("Stop Returning..."));
    if (!isActiveWindow())
        popUp();
    ui.btntray_in->setEnabled(false);
    ui.btntray_out->setChecked(false);
    ui.btntray_stop->setEnabled(false);
    emit signStopTray();
}

// A stop under way: nothing to press until the printer reports.
void BVSettingWindow::showTrayBusy(const QString& state)
{
    trayBusy = true;
    ui.btntray_in->setChecked(false);
    ui.btntray_out->setChecked(false);
    for (QWidget* w : {static_cast<QWidget*>(ui.btntray_stop), static_cast<QWidget*>(ui.btntray_out),
                       static_cast<QWidget*>(ui.btn_win_close), static_cast<QWidget*>(ui.label_out)})
        w->setEnabled(false);
    ui.widget_tray_msg->show();
    trayMovie.start();
    ui.label_tarystate->setText(state);
}

void BVSettingWindow::resetTrayPage()
{
    trayBusy = false;
    for (QWidget* w : {static_cast<QWidget*>(ui.btntray_in), static_cast<QWidget*>(ui.btntray_out),
                       static_cast<QWidget*>(ui.btn_win_close), static_cast<QWidget*>(ui.label_in),
                       static_cast<QWidget*>(ui.label_out)})
        w->setEnabled(true);
    ui.btntray_stop->setEnabled(false);
    ui.label_15->setText(QStringLiteral("-"));
    ui.widget_tray_msg->hide();
    trayMovie.stop();
}

void BVSettingWindow::slotTray(TrayStaus status)
{
    switch (status) {
    case TrayReset:
        resetTrayPage();
        ui.btntray_in->setChecked(false);
        ui.btntray_out->setChecked(false);
        ui.label_in->setStyleSheet(QStringLiteral("color: #000000;"));
        ui.label_out->setStyleSheet(QStringLiteral("color: #000000;"));
        return;
    case TrayFeeding:
    case TrayReturning: {
        const bool in = status == TrayFeeding;
        ui.tabWidget->setCurrentIndex(1);
        trayBusy = true;
        ui.btntray_in->setChecked(in);
        ui.btntray_out->setChecked(!in);
        ui.btntray_stop->setEnabled(true);
        // The other direction is off while this one runs.
        ui.btntray_in->setEnabled(in);
        ui.label_in->setEnabled(in);
        ui.btntray_out->setEnabled(!in);
        ui.label_out->setEnabled(!in);
        ui.btn_win_close->setEnabled(false);
        ui.label_15->setText(QStringLiteral("-"));
        ui.widget_tray_msg->show();
        trayMovie.start();
        ui.label_tarystate->setText(in ? tr("Feed Material...") : tr("Returning..."));
        break;
    }
    case TrayStopped:
        resetTrayPage();
        ui.btntray_in->setChecked(false);
        ui.btntray_out->setChecked(false);
        ui.label_tarystate->clear();
        return;
    case TrayDone: {
        resetTrayPage();
        ui.label_tarystate->clear();
        BrevMessageBox box(ui.btntray_in->isChecked() ? 53 : 54, this);
        box.exec();
        ui.btntray_in->setChecked(false);
        ui.btntray_out->setChecked(false);
        return;
    }
    case TrayStoppingFeed:
    case TrayStoppingReturn:
        ui.tabWidget->setCurrentIndex(1);
        showTrayBusy(status == TrayStoppingFeed ? tr("Stop Feeding...") : tr("Stop Returning..."));
        break;
    default:
        return;
    }
    // A printer-side operation brings the window up.
    if (!isActiveWindow())
        popUp();
}
