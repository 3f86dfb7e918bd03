#include "UI/BVSettingWindow.h"

#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BVThreeBtn.h"
#include "UI/BVTwoBtn.h"
#include "UI/BWDoubleSpinBox.h"
#include "UI/BrevMessageBox.h"
#include "scene/AppData.h"

#include <QButtonGroup>

namespace {


// Shows a value on a two-button choice; a value that is neither choice checks neither.
void setChoice(BVTwoBtn* choice, int value, int first, int second)
{
    if (value == first || value == second) {
        choice->setValue(value);
        return;
    }
    const auto buttons = choice->findChildren<QPushButton*>();
    QButtonGroup* group = buttons.isEmpty() ? nullptr : buttons.first()->group();
    if (group)
        group->setExclusive(false);
    for (QPushButton* b : buttons)
        b->setChecked(false);
    if (group)
        group->setExclusive(true);
}

int intOf(const QString& text)
{
    return text.trimmed().toInt(); // not a number gives 0
}

} // namespace

BVSettingWindow::BVSettingWindow(QWidget* parent)
    : QDialog(parent)
    , trayMovie(QStringLiteral(":/new/Resources/new/setting/tary_in_out.gif"))
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
    // Spin-box texts are read back as numbers and sent to the printer: always with a '.'.
    setLocale(QLocale::c());

    ui.setupUi(this);
    connectForm();

    ui.tabWidget->setCurrentIndex(0);
    currentTab = 4;
    dragging = 0;

    ui.btn_leveling->setButtonTexts(QStringLiteral("10"), QStringLiteral("5"), QStringLiteral("1"));
    ui.btn_leveling_Z->setButtonTexts(QStringLiteral("0.2"), QStringLiteral("0.1"), QStringLiteral("0.05"));
    ui.btn_limit->setValue(0);
    setChoiceTexts();

    refresh();
    connect(ui.tabWidget, &QTabWidget::currentChanged, this, &BVSettingWindow::changeTabWidget);
    connectLink();

    ui.label_traymovie->setMovie(&trayMovie);
    trayMovie.start();
    linkStatus(false);

    // The bed temperature starts at 0 on every program start.
    AppData::instance()->setHotbed(0);
}

void BVSettingWindow::connectForm()
{
    connect(ui.btn_leveling, &BVThreeBtn::sendClicked, this,
            [this](double v) { on_btn_leveling_three_clicksed(int(v)); });
    connect(ui.btn_leveling_Z, &BVThreeBtn::sendClicked, this, [this](double v) { zStep = int(v * 100 + 1e-9); });
    connect(ui.btn_win_close, &QPushButton::clicked, this, &BVSettingWindow::close);
    connect(ui.have_support, &BVTwoBtn::sendClicked, this, &BVSettingWindow::on_btn_support_clicked);
    connect(ui.print_raft_layers, &BVTwoBtn::sendClicked, this, &BVSettingWindow::on_btn_raft_layers_clicked);
    connect(ui.btn_limit, &BVTwoBtn::sendClicked, this, &BVSettingWindow::onChangeLimitState);

    const auto click = [this](QPushButton* b, void (BVSettingWindow::*slot)()) {
        connect(b, &QPushButton::clicked, this, [this, slot] { (this->*slot)(); });
    };
    click(ui.btn_low, &BVSettingWindow::on_btn_low_clicked);
    click(ui.btn_mid, &BVSettingWindow::on_btn_mid_clicked);
    click(ui.btn_high, &BVSettingWindow::on_btn_high_clicked);
    click(ui.btn_ok, &BVSettingWindow::on_btn_ok_clicked);
    click(ui.btn_reset, &BVSettingWindow::on_btn_reset_clicked);
    click(ui.btnLevel_Origin, &BVSettingWindow::on_btnLevel_Origin_clicked);
    click(ui.btnLevel_Xplus, &BVSettingWindow::on_btnLevel_Xplus_clicked);
    click(ui.btnLevel_Xminus, &BVSettingWindow::on_btnLevel_Xminus_clicked);
    click(ui.btnLevel_Yplus, &BVSettingWindow::on_btnLevel_Yplus_clicked);
    click(ui.btnLevel_Yminus, &BVSettingWindow::on_btnLevel_Yminus_clicked);
    click(ui.btnLevel_Zplus, &BVSettingWindow::on_btnLevel_Zplus_clicked);
    click(ui.btnLevel_Zminus, &BVSettingWindow::on_btnLevel_Zminus_clicked);
    click(ui.btnLevel_PX6, &BVSettingWindow::on_btnLevel_PX6_clicked);
    click(ui.btntray_in, &BVSettingWindow::on_btntray_in_clicked);
    click(ui.btntray_out, &BVSettingWindow::on_btntray_out_clicked);
    click(ui.btntray_stop, &BVSettingWindow::on_btntray_stop_clicked);
    click(ui.btn_linmitApply, &BVSettingWindow::on_btn_linmitApply_clicked);
}

void BVSettingWindow::connectLink()
{
    ThreadPool* pool = ThreadPool::instance();
    if (!pool)
        return;
    CommunicateThread* link = pool->linkWorker();
    const auto q = Qt::QueuedConnection;
    connect(link, &CommunicateThread::linkStatus, this, &BVSettingWindow::linkStatus);
    connect(this, &BVSettingWindow::signInTray, link, &CommunicateThread::inTray, q);
    connect(this, &BVSettingWindow::signOutTray, link, &CommunicateThread::outTray, q);
    connect(this, &BVSettingWindow::signStopTray, link, &CommunicateThread::stopTray, q);
    connect(link, &CommunicateThread::signTrayStatus, this, &BVSettingWindow::slotTray, q);
    connect(link, &CommunicateThread::signPX5_1LevelingStatus, this, &BVSettingWindow::PX5_1LevelStatus, q);
    connect(this, &BVSettingWindow::signPX5_1BeginLeveling, link, &CommunicateThread::beginLeveling, q);
    connect(this, &BVSettingWindow::signPX5_1LevelingCommand, link, &CommunicateThread::levelingCommand, q);
    connect(this, &BVSettingWindow::signDoorActive, link, &CommunicateThread::setDoorActive, q);
    connect(link, &CommunicateThread::setSuccess, this, &BVSettingWindow::onSetSuccessDlg, q);
    connect(this, &BVSettingWindow::signPX5_1StopLeveling, link, &CommunicateThread::stopLeveling, q);
    connect(link, &CommunicateThread::signPX6LevelingStatus, this, &BVSettingWindow::PX6LevelStatus, q);
    connect(this, &BVSettingWindow::signPX6BeginLeveling, link, &CommunicateThread::PX6Leveling, q);
    connect(link, &CommunicateThread::signMachineType, this, &BVSettingWindow::selectMachineType, q);
    connect(link, &CommunicateThread::signDoorActive, this, &BVSettingWindow::selectDoorActive, q);
    connect(link, &CommunicateThread::signLevelingData, this, &BVSettingWindow::setLevelingData, q);
    connect(link, &CommunicateThread::signTrayTemperature, this,
            [this](int t) { ui.label_15->setText(QString::number(t)); }, q);
    connect(link, &CommunicateThread::signPrintStatus, this, &BVSettingWindow::printStatus);
}

void BVSettingWindow::setChoiceTexts()
{
    const QString no = tr("NO"), yes = tr("YES");
    ui.btn_limit->setButtons(no, yes, 0, 1);
    ui.have_support->setButtons(no, yes, 0, 1);
    ui.support_type->setButtons(tr("ROD"), tr("TREE"), 1, 2);
    ui.print_raft_layers->setButtons(no, yes, 0, 1);
    ui.Infill_Pattern->setButtons(tr("CELLULAR"), tr("GRID"), 4, 1);
    ui.Z_Hop_Retracting->setButtons(no, yes, 0, 1);
    ui.Chassis_effect->setButtons(no, yes, 0, 1);
}

// --- Profile page.

void BVSettingWindow::refresh()
{
    AppData* data = AppData::instance();
    currentQuality = data->getPrintQuality();
    QPushButton* buttons[3] = {ui.btn_low, ui.btn_mid, ui.btn_high};
    for (int i = 0; i < 3; ++i)
        buttons[i]->setAutoExclusive(false);
    for (int i = 0; i < 3; ++i)
        buttons[i]->setChecked(i == currentQuality);
    for (int i = 0; i < 3; ++i)
        buttons[i]->setAutoExclusive(true);
    highlightQuality(currentQuality);

    PrintProfile profile;
    data->loadPrintProfile(currentQuality, profile);
    showProfile(profile);
    ui.Temperature->setValue(data->getTemperature());
    ui.btn_linmitApply->setEnabled(true);
}

void BVSettingWindow::showProfile(const PrintProfile& p)
{
    setChoice(ui.have_support, p.support, 0, 1);
    setChoice(ui.support_type, p.support_type, 1, 2);
    setChoice(ui.print_raft_layers, p.print_raft_Layers, 0, 1);
    setChoice(ui.Infill_Pattern, p.infill_pattern, 4, 1);
    // Stored as 0 or 2000: any lift shows as YES, so "Confirm" keeps it.
    setChoice(ui.Z_Hop_Retracting, p.z_hop_when_retracting > 0 ? 1 : 0, 0, 1);
    setChoice(ui.Chassis_effect, p.heatingBed, 0, 1);
    ui.support_angle->setValue(p.support_angle);
    ui.support_fill_density->setValue(p.support_fill_density);
    ui.fill_density->setValue(p.fill_density);
    ui.first_layer_airgap->setValue(p.first_layer_airgap);
}

void BVSettingWindow::highlightQuality(int q)
{
    const QString style = QStringLiteral("background: rgb(218, 218, 218); color: %1; font: 9pt \"微软雅黑\";");
    QLabel* labels[3] = {ui.label_low, ui.label_mid, ui.label_high};
    for (QLabel* l : labels)
        l->setStyleSheet(style.arg(QStringLiteral("#000000")));
    if (q >= 0 && q <= 2)
        labels[q]->setStyleSheet(style.arg(QStringLiteral("#54c8ea")));
}

void BVSettingWindow::setQuality(int q)
{
    currentQuality = q;
    AppData::instance()->setPrintQuality(q);
    highlightQuality(q);
    refresh();
}

void BVSettingWindow::on_btn_low_clicked() { setQuality(0); }
void BVSettingWindow::on_btn_mid_clicked() { setQuality(1); }
void BVSettingWindow::on_btn_high_clicked() { setQuality(2); }

void BVSettingWindow::on_btn_reset_clicked()
{
    ui.have_support->setValue(0);
    ui.support_type->setValue(1);
    ui.support_angle->setValue(60);
    ui.support_fill_density->setValue(20);
    ui.print_raft_layers->setValue(1);
    ui.Infill_Pattern->setValue(1);
    ui.fill_density->setValue(currentQuality == 1 ? 20 : currentQuality == 2 ? 30 : 10);
    ui.Z_Hop_Retracting->setValue(0);
    ui.first_layer_airgap->setValue(0.11);
    ui.Temperature->setValue(210);
    ui.Chassis_effect->setValue(1);
}

void BVSettingWindow::on_btn_support_clicked(bool flag)
{
    // Supports always print on a raft.
    if (flag)
        ui.print_raft_layers->setValue(1);
}

void BVSettingWindow::on_btn_raft_layers_clicked()
{
    if (ui.have_support->value() == 1)
        ui.print_raft_layers->setValue(1);
}

void BVSettingWindow::on_btn_ok_clicked()
{
    PrintProfile p;
    p.support = ui.have_support->value();
    p.support_type = ui.support_type->value();
    p.support_angle = intOf(ui.support_angle->text());
    p.support_fill_density = intOf(ui.support_fill_density->text());
    p.print_raft_Layers = ui.print_raft_layers->value();
    p.infill_pattern = ui.Infill_Pattern->value();
    p.z_hop_when_retracting = ui.Z_Hop_Retracting->value() * 2000;
    p.first_layer_airgap = ui.first_layer_airgap->text().trimmed().toDouble();
    p.fill_density = intOf(ui.fill_density->text());
    p.heatingBed = ui.Chassis_effect->value();
    // Dense infill prints best as lines.
    if (p.fill_density >= 50)
        p.infill_pattern = 0;

    AppData* data = AppData::instance();
    QString why;
    if (!data->savePrintProfile(currentQuality, p, &why)) {
        // The profile is read from the file at every slice: the window stays for another try.
        BrevMessageBox box(1, this);
        box.setText(tr("Fail to save the file!"));
        box.addReason(why);
        box.exec();
        return;
    }
    const int type = data->getChoiceType();
    if (type >= 1 && type <= 3)
        data->setHotbed(0);
    data->setTemperature(ui.Temperature->value());
    accept();
}

// --- The window.

int BVSettingWindow::exec()
{
    refresh();
    ui.tabWidget->setCurrentIndex(0);
    switch (AppData::instance()->getChoiceType()) {
    case 1:
    case 2:
        ui.widget_hot->hide();
        ui.LevelingstackedWidget->setCurrentIndex(AppData::instance()->getChoiceType() == 1 ? 0 : 1);
        ui.label_19->hide();
        ui.Chassis_effect->hide();
        break;
    case 3:
        ui.LevelingstackedWidget->setCurrentIndex(1);
        // The row lives in widget_hot, which an earlier opening may have hidden.
        ui.widget_hot->show();
        ui.label_19->show();
        ui.Chassis_effect->show();
        break;
    default:
        ui.widget_hot->show();
        break;
    }
    return QDialog::exec();
}

bool BVSettingWindow::close()
{
    // Closing is how a levelling run of the first model ends: the printer keeps the Z offset.
    if (levelingBusy && AppData::instance()->getChoiceType() == 1)
        emit signPX5_1StopLeveling(-jogZ);
    return QDialog::close();
}

void BVSettingWindow::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::LanguageChange) {
        ui.retranslateUi(this);
        // The choice texts are set in code; keep the shown values.
        BVTwoBtn* choices[] = {ui.btn_limit,        ui.have_support,     ui.support_type,  ui.print_raft_layers,
                               ui.Infill_Pattern,   ui.Z_Hop_Retracting, ui.Chassis_effect};
        int values[7];
        for (int i = 0; i < 7; ++i)
            values[i] = choices[i]->value();
        setChoiceTexts();
        for (int i = 0; i < 7; ++i)
            choices[i]->setValue(values[i]);
    }
    QDialog::changeEvent(e);
}

void BVSettingWindow::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        // A running operation cannot be left with Escape.
        if (ui.btn_win_close->isEnabled())
            close();
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void BVSettingWindow::mousePressEvent(QMouseEvent* e)
{
    if (ui.widget_top->geometry().contains(e->pos(), true)) {
        dragging = 1;
        dragStart = e->pos();
    }
    QDialog::mousePressEvent(e);
}

void BVSettingWindow::mouseMoveEvent(QMouseEvent* e)
{
    if (dragging)
        move(e->globalPos() - dragStart);
    QDialog::mouseMoveEvent(e);
}

void BVSettingWindow::mouseReleaseEvent(QMouseEvent* e)
{
    dragging = 0;
    QDialog::mouseReleaseEvent(e);
}

void BVSettingWindow::changeTabWidget(int tab)
{
    if (levelingBusy) {
        if (tab != 0)
            ui.tabWidget->setCurrentIndex(0);
        return;
    }
    if (trayBusy) {
        if (tab != 1)
            ui.tabWidget->setCurrentIndex(1);
        return;
    }
    currentTab = tab;
    if (tab == 1) {
        refresh();
    } else if (tab == 2) {
        const int type = AppData::instance()->getChoiceType();
        ui.LevelingstackedWidget->setCurrentIndex(type == 2 || type == 3 ? 1 : 0);
    }
}

void BVSettingWindow::linkStatus(bool link)
{
    if (!link) {
        ui.tab_Leveing->setEnabled(false);
        ui.tab_Material->setEnabled(false);
        slotTray(TrayReset);
        levelingBusy = false;
        ui.btnLevel_PX6->setEnabled(true);
        ui.btn_win_close->setEnabled(true);
        setJogOnlyEnabled(false);
        ui.btnLevel_Origin->setEnabled(true);
        return;
    }
    ui.tab_Leveing->setEnabled(true);
    ui.btnLevel_Origin->setEnabled(true);
    setJogOnlyEnabled(false);
    ui.tab_Material->setEnabled(true);
}

void BVSettingWindow::printStatus(SendPrintStatus s)
{
    if (s.ended) {
        ui.tab_Leveing->setEnabled(true);
        ui.tab_Material->setEnabled(true);
    } else if (!s.paused) {
        ui.tab_Leveing->setEnabled(false);
        ui.tab_Material->setEnabled(false);
    } else {
        ui.tab_Leveing->setEnabled(false);
        ui.tab_Material->setEnabled(true);
    }
}

void BVSettingWindow::selectMachineType(ChoiceType type)
{
    ui.LevelingstackedWidget->setCurrentIndex(type == ChoicePX6A || type == ChoicePX6B ? 1 : 0);
}

void BVSettingWindow::popUp()
{
    if (isHidden()) {
        // Shown modal without a nested event loop: the status slot that asks must return.
        setModal(true);
        show();
    }
    raise();
    activateWindow();
}
