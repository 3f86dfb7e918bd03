#include "UI/MainWindow.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QRegularExpression>
#include <QDesktopServices>
#include <QDir>
#include <QSettings>
#include <QUrl>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QTranslator>

#include "FileRW/CheckedWriter.h"
#include "FileRW/SafeFileName.h"
#include "Thread/FileRWThread.h"
#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/AboutDialog.h"
#include "UI/BVSettingWindow.h"
#include "UI/ChoiceTypeDialog.h"
#include "UI/Wizard.h"
#include "Update/Firmware/DownloadFirmware.h"
#include "Update/UpdaterTarni.h"
#include "UI/BVStateButton.h"
#include "UI/BVViewPort.h"
#include "UI/BVWaitDialog.h"
#include "UI/BrevMessageBox.h"
#include "UI/EditGuard.h"
#include "UI/EditTreeWidget.h"
#include "UI/IconHelper.h"
#include "UI/PictureSetting.h"
#include "UI/PrintMessageForm.h"
#include "UI/PrintingForm.h"
#include "UI/TextFont.h"
#include "UI/UpdateFirmware.h"
#include "app/QsLog.h"
#include "cutting/CutEngine.h"
#include "cutting/CutWorkData.h"
#include "cutting/SectionPreview.h"
#include "support/AutoSupport.h"
#include "platform/Platform.h"
#include "render/BVGLWidget.h"
#include "render/GLWidget.h"
#include "render/GcodePreviewData.h"
#include "render/RenderEngine.h"
#include "scene/AppData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

namespace {

ThreadPool* pool()
{
    return ThreadPool::instance();
}

// Where the maker's pages live; the browser opens them.
const char* const ModelLibraryUrl = "https://www.brevant.com/models";
const char* const ServiceUrl = "https://www.brevant.com/service";

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent)
{
    // The window and every dialog it opens draw with the program's own font.
    TextFont::install();
    // 1. Widget and form; frameless.
    ui.setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint);
    setMouseTracking(true);

    // 2. A fresh worker pool, which keeps this window as the parent of its boxes.
    delete ThreadPool::instance();
    new ThreadPool(this);

    // 3. The floating controls, then centre the window.
    createOverlays();
    centerOnScreen();

    // 4. Drops, frame state.
    setAcceptDrops(true);
    maximised = false;
    leftHeld = false;
    pressOffset = QPoint();
    normalGeometry = geometry();
    updateRegion(mapFromGlobal(QCursor::pos()));

    // 5. The view spans the grid; the layer column and the edit panel lie over it.
    ui.gridLayout->removeWidget(ui.glwMain_show);
    ui.gridLayout->addWidget(ui.glwMain_show, 0, 0, 1, 3);
    ui.wgtMain_layer->raise();
    ui.wgtMain_ctrl->raise();
    view()->setHost(this);
    sectionPreview = new SectionPreview(this);

    // 6. Layer slider at the top; nothing to print yet.
    ui.vsdMain_layer->setValue(100);
    btnMain_print->setDisabled(true);
    // The slice switch has nothing to switch to until a print-task file is read.
    ui.btnMain_Slice->setChecked(false);
    ui.btnMain_Slice->setEnabled(false);

    // 7. The Chinese translation, installed only by the language switch.
    translator = new QTranslator(this);
    translator->load(":/brevant_zh.qm");
    // Qt's own dialogs (the file dialog's buttons, labels and columns) follow the language too.
    qtTranslator = new QTranslator(this);
    qtTranslator->load(":/qtbase_zh_CN.qm");

    // 8-10.
    ui.wgtMain_upMenu->installEventFilter(this);
    // The frame band over the children, and the recent-file submenu's placing.
    qApp->installEventFilter(this);
    ui.twtMain_edit->initPanels();
    settingWindow = new BVSettingWindow(this);
    firmwareDialog = new UpdateFirmware(this);
    pictureDialog = new PictureSetting(this);

    // 11. The language button shows the stored language.
    ui.cbbMain_language->setChecked(AppData::instance()->getLanguage() == 1);
    on_cbbMain_language_clicked();

    // 12. Play state on the print button; its sprite carries the glyph.
    btnMain_print->setState(QString(QChar(0xF04B)));

    // 13. Connections.
    ThreadPool* p = pool();
    connect(p, &ThreadPool::ThreadStatusChanged, this, &MainWindow::updateStatus, Qt::QueuedConnection);
    connect(p, &ThreadPool::ThreadStatusChanged, this, &MainWindow::openKeptFiles, Qt::QueuedConnection);
    connect(ui.twtMain_edit, &EditTreeWidget::ItemExpandStateChanged, this, &MainWindow::resizeEditPanel);
    connect(ui.twtMain_edit, &EditTreeWidget::changeStyle, this, &MainWindow::ChangeStyleSheet);
    connect(p, &ThreadPool::SliceViewSign, this, &MainWindow::SliceViewChange);
    connect(ui.twtMain_edit, &EditTreeWidget::sendMousePress, this, &MainWindow::slot_mouse_press);
    connect(ui.twtMain_edit, &EditTreeWidget::sendMouseRelease, this, &MainWindow::slot_mouse_Release);
    connect(ui.twtMain_edit, &EditTreeWidget::sendMouseMove, this, &MainWindow::slot_mouse_Move);
    // The form's buttons, by the names of their handlers.
    connect(ui.btnMain_close, &QPushButton::clicked, this, &MainWindow::on_btnMain_close_clicked);
    connect(ui.btnMain_max, &QPushButton::clicked, this, &MainWindow::on_btnMain_max_clicked);
    connect(ui.btnMain_min, &QPushButton::clicked, this, &MainWindow::on_btnMain_min_clicked);
    connect(ui.btnMain_Slice, &QPushButton::clicked, this, &MainWindow::on_btnMain_Slice_clicked);
    connect(ui.btnMain_open, &QPushButton::clicked, this, &MainWindow::on_btnMain_open_clicked);
    connect(ui.btnMain_save, &QPushButton::clicked, this, &MainWindow::on_btnMain_save_clicked);
    connect(ui.btnMain_export, &QPushButton::clicked, this, &MainWindow::on_btnMain_export_clicked);
    connect(ui.btnMain_setcura, &QPushButton::clicked, this, &MainWindow::on_btnMain_setcura_clicked);
    connect(ui.cbbMain_language, &QPushButton::clicked, this, &MainWindow::on_cbbMain_language_clicked);
    connect(ui.vsdMain_layer, &QSlider::valueChanged, this, &MainWindow::on_vsdMain_layer_valueChanged);
    connect(ui.actionModelLibrary, &QAction::triggered, this, &MainWindow::on_actionTarniMB, Qt::QueuedConnection);
    connect(ui.actionAbout, &QAction::triggered, this, &MainWindow::on_actionAbout, Qt::QueuedConnection);
    connect(ui.actionTarni, &QAction::triggered, this, &MainWindow::on_actionTarni, Qt::QueuedConnection);
    connect(ui.actionFirmware, &QAction::triggered, this, &MainWindow::on_actionFirmware, Qt::QueuedConnection);
    connect(ui.actionChoiceType, &QAction::triggered, this, &MainWindow::on_actionChoiceType, Qt::QueuedConnection);
    connect(ui.actionHelp, &QAction::triggered, this, &MainWindow::on_actionHelp, Qt::QueuedConnection);
    connect(ui.actionWizard, &QAction::triggered, this, &MainWindow::on_actionWizard, Qt::QueuedConnection);
    connect(recentMenu, &QMenu::aboutToShow, this, &MainWindow::on_action2);
    CommunicateThread* link = p->linkWorker();
    connect(link, &CommunicateThread::signUpdate, this, &MainWindow::on_actionFirmware, Qt::QueuedConnection);
    connect(this, &MainWindow::signSendGcode, link, &CommunicateThread::BVTProcessing, Qt::QueuedConnection);
    connect(this, &MainWindow::signStopSendGcode, link, &CommunicateThread::stopSendGcode, Qt::QueuedConnection);
    connect(link, &CommunicateThread::signMachineType, this,
            [this](ChoiceType t) { onMachineTypeReported(t); }, Qt::QueuedConnection);
    connect(this, &MainWindow::startSerialdetection, link, &CommunicateThread::startSerialdetection,
            Qt::QueuedConnection);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    cutTimer = new QTimer(this);
    cutTimer->setSingleShot(true);
    connect(cutTimer, &QTimer::timeout, this, &MainWindow::on_Fail_CutingFun);
    connect(p->fileWorker(), &FileRWThread::signSendGcodeReady, this, &MainWindow::on_initGcodeData);
    connect(p->fileWorker(), &FileRWThread::signReplaceScene, this, &MainWindow::clearScene);
    // A refused print-task file leaves no earlier slice that would be printed in its name
    // (unless another file has been asked for meanwhile).
    connect(p->fileWorker(), &FileRWThread::StatusChanged, this, [this](const FileRWStatus& s) {
        if (s.load && s.finished && !s.success && s.filePath == pool()->printFilePath())
            on_btnMain_Slice_clear();
    });
    connect(view(), &GLWidget::sendNewMdTip, this, &MainWindow::slot_new_md_tip, Qt::QueuedConnection);
    // The long jobs' wait dialog: 1 opens it for a cut, 0 ends the job.
    connect(p, &ThreadPool::signWaitDialogHide, this,
            [this](int show) {
                if (show)
                    startCutting();
                else
                    onJobTimer();
            },
            Qt::QueuedConnection);
    connect(p, &ThreadPool::signStaleSlice, this, &MainWindow::dropStaleSlice);
    connect(p, &ThreadPool::signSupportSzie, this,
            [this](double size) {
                if (size > 0)
                    setSupportSize(size);
            },
            Qt::QueuedConnection);
}

MainWindow::~MainWindow()
{
    shutDown();
}

GLWidget* MainWindow::view() const
{
    return ui.glwMain_show->view();
}

void MainWindow::createOverlays()
{
    const int W = width() - 1, H = height() - 1;
    btnMain_print = new BVStateButton(this);
    btnMain_print->setObjectName("btnMain_print");
    btnMain_print->setGeometry(QRect(QPoint(W - 123, H - 125), QPoint(W - 72, H - 74)));
    btnMain_print->setMouseTracking(true);

    btnSD_print = new QPushButton(this);
    btnSD_print->setObjectName("btnSD_print");
    btnSD_print->setGeometry(QRect(QPoint(W - 123, H - 208), QPoint(W - 72, H - 157)));
    btnSD_print->setStyleSheet(
        "QPushButton{border-image: url(:/add/Resources/new/add/print.png) 0 52 0 0; border:none;}"
        "QPushButton:disabled{border-image: url(:/add/Resources/new/add/print.png) 0 0 0 52;}");
    btnSD_print->setMouseTracking(true);

    cbbMain_view = new BVViewPort(this);
    cbbMain_view->setObjectName("cbbMain_view");
    cbbMain_view->setMouseTracking(true);

    for (QWidget* w : {static_cast<QWidget*>(btnMain_print), static_cast<QWidget*>(btnSD_print),
                       static_cast<QWidget*>(cbbMain_view)})
        w->installEventFilter(this);

    printMessage = new PrintMessageForm(this);
    printMessage->move(W - 234, 230);
    printMessage->hide();
    printing = new PrintingForm(this);
    printing->move(W - 234, height() - printing->height() - 210);
    printing->hide();

    settingsMenu = new QMenu(this);
    settingsMenu->setWindowFlag(Qt::NoDropShadowWindowHint);
    recentMenu = settingsMenu->addMenu(tr("Recent file"));
    for (QAction* a : {ui.actionTarni, ui.actionFirmware, ui.actionChoiceType, ui.actionModelLibrary,
                       ui.actionHelp, ui.actionWizard, ui.actionAbout})
        settingsMenu->addAction(a);
    // 28 px for each entry and the 2 px border: the guide's entry must not push "About" out.
    settingsMenu->setStyleSheet(
        QString("QMenu{width: 142px; height: %1px;font: 9pt \"微软雅黑\";border-image: url(:/new/menubg);border:2px}"
                "QMenu::item{width: 106px; height: 28px;padding-left: 32px;margin-right:2px;color:white;}"
                "QMenu::item:selected{background: #29c2f5;}QMenu::item:disabled{color: #8a8a8a;}")
            .arg(28 * settingsMenu->actions().size() + 4));
    // The popup places the submenu after aboutToShow: the window's filter moves it when it shows.
    ui.btnMain_setting->setMenu(settingsMenu);

    connect(btnMain_print, &QPushButton::clicked, this, &MainWindow::on_btnMain_print_clicked);
    connect(btnSD_print, &QPushButton::clicked, this, &MainWindow::on_btnSD_print_clicked);
    connect(cbbMain_view, &BVViewPort::sendView, this, &MainWindow::on_cbbMain_view_send);
}

void MainWindow::layoutOverlays(int w, int h)
{
    resize(std::max(w, 800), std::max(h, 720));
    placeOverlays();
}

// Run on every resize, also those made by the window manager or another program.
void MainWindow::placeOverlays()
{
    if (!btnMain_print)
        return;
    const int W = width() - 1, H = height() - 1;
    btnMain_print->setGeometry(QRect(QPoint(W - 123, H - 125), QPoint(W - 72, H - 74)));
    btnSD_print->setGeometry(QRect(QPoint(W - 123, H - 205), QPoint(W - 72, H - 154)));
    cbbMain_view->setGeometry(QRect(QPoint(W - 175, 94), QPoint(W - 26, 243)));
    printMessage->move(W - 234, 230);
    printing->move(W - 234, height() - printing->height() - 65);
    update();
}

void MainWindow::resizeEditPanel()
{
    const int h = std::min(ui.twtMain_edit->contentHeight() + 40, ui.glwMain_show->height());
    ui.wgtMain_ctrl->resize(250, h);
    const int expanded = ui.twtMain_edit->updateItemStyles();
    if (expanded == 5)
        IconHelper::instance()->setIcon(ui.btnMain_ctrl, QChar(0xF102), 20);
    else if (expanded == 0)
        IconHelper::instance()->setIcon(ui.btnMain_ctrl, QChar(0xF103), 20);
}

void MainWindow::ChangeStyleSheet(bool style)
{
    const QString slider = "QSlider::groove:horizontal{height:4px; background:#1c2c36;}"
                           "QSlider::handle:horizontal{width:12px; margin:-4px 0; background:#54c8ea;}";
    const QString background = style
        ? QStringLiteral("background:#41505e;")
        : QStringLiteral("background:qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0.96 #41505e, stop:1 #1c2c36);");
    ui.twtMain_edit->setStyleSheet(QString("QTreeWidget{%1 color:white; border:none; font: bold 16px \"微软雅黑\";}%2")
                                       .arg(background, slider));
}

void MainWindow::on_cbbMain_language_clicked()
{
    const bool chinese = ui.cbbMain_language->isChecked();
    // The last installed is asked first: the program's own wording wins over Qt's.
    for (QTranslator* t : {qtTranslator, translator}) {
        if (chinese)
            QCoreApplication::installTranslator(t);
        else
            QCoreApplication::removeTranslator(t);
    }
    AppData::instance()->setLanguage(chinese ? 1 : 0);
    retranslate();
    updateStatus();
}

void MainWindow::retranslate()
{
    ui.retranslateUi(this);
    ui.twtMain_edit->retranslatePanels();
    const char* items[6] = {QT_TR_NOOP("   Model     ◢"), QT_TR_NOOP("   Move      ◢"), QT_TR_NOOP("   Rotate    ◢"),
                            QT_TR_NOOP("   Scale      ◢"), QT_TR_NOOP("   Cut          ◢"), QT_TR_NOOP("   Support  ◢")};
    for (int i = 0; i < ui.twtMain_edit->topLevelItemCount() && i < 6; ++i)
        ui.twtMain_edit->topLevelItem(i)->setText(0, tr(items[i]));
    btnMain_print->setToolTip(tr("Print Slice"));
    btnSD_print->setToolTip(tr("Print local file"));
    recentMenu->setTitle(tr("Recent file"));
    cbbMain_view->retranslate();
    updateMachineLabel();
}

void MainWindow::updateStatus()
{
    ThreadPool* p = pool();
    AppData* data = AppData::instance();

    // 1. Layer column.
    const int layers = ui.btnMain_Slice->isChecked() ? g_gcodeLayerCount.load() : 100;
    ui.TotalLayer->setText(QString::number(layers));
    if (ui.vsdMain_layer->maximum() != layers) {
        ui.vsdMain_layer->setMaximum(layers);
        ui.vsdMain_layer->setValue(layers);
    }

    // 2. Size of the selected model.
    QString size = QStringLiteral("-");
    if (const MeshModel* m = data->getSelectedModel())
        size = QString("%1 x %2 x %3mm").arg(m->size[0], 0, 'f', 2).arg(m->size[1], 0, 'f', 2).arg(m->size[2], 0, 'f', 2);
    showSize(size);

    // 3. Link light.
    if (p->isLinked()) {
        ui.actionChoiceType->setEnabled(false);
        ui.labMain_light->setStyleSheet("border-image: url(:/new/connect);font: 9pt \"微软雅黑\";");
        ui.labMain_light->setText(tr("Connected"));
    } else {
        ui.actionChoiceType->setEnabled(true);
        ui.labMain_light->setStyleSheet("border-image: url(:/new/disconnect);font: 9pt \"微软雅黑\";");
        ui.labMain_light->setText(tr("Not Connected"));
    }
    // The light image sits left of its text.
    ui.labMain_light->setStyleSheet(ui.labMain_light->styleSheet().replace("border-image", "background-repeat:no-repeat; background-position:left center; background-image"));

    // 4. Task text.
    switch (p->taskState()) {
    case 1: showTask(tr("Loading Model")); break;
    case 2: showTask(tr("Analyzing Model")); break;
    case 3: showTask(tr("Slicing")); break;
    case 4: showTask(tr("Importing to SD card")); break;
    case 5: showTask(tr("Wait for completing")); break;
    default: showTask(tr("No Task")); break;
    }

    // 5. Layer column visibility.
    if (p->hasPrintFile() == 1 && p->taskState() != 2) {
        for (QWidget* w : {static_cast<QWidget*>(ui.vsdMain_layer), static_cast<QWidget*>(ui.TotalLayer),
                           static_cast<QWidget*>(ui.label_3), static_cast<QWidget*>(ui.NowLayer)})
            w->show();
    } else if (p->hasPrintFile() == 0) {
        ui.vsdMain_layer->show();
        ui.TotalLayer->hide();
        ui.label_3->hide();
        ui.NowLayer->hide();
    }

    // 6.
    updateButtons();
    updateGLView();

    // 7.
    if (!p->isBusy()) {
        data->refresh();
        ui.twtMain_edit->updatePanels();
        // Offer to fit models that were loaded too large: on the GUI thread, after painting.
        for (MeshModel* m : data->getModels()) {
            if (m->fitPending) {
                QTimer::singleShot(0, this, &MainWindow::slot_new_md_tip);
                break;
            }
        }
    }

    // 8. Ready to cut: the section follows the selected model as it changes or moves.
    if (RenderEngine* r = view()->getRenderer(); r && r->isCutPlaneShown())
        r->previewSection();
}

namespace {

// The text whole when it fits the width; else its start and "...".
QString fittedText(const QFontMetrics& fm, const QString& text, int width)
{
    if (fm.horizontalAdvance(text) <= width)
        return text;
    QString cut = text;
    while (!cut.isEmpty() && fm.horizontalAdvance(cut + "...") > width)
        cut.chop(1);
    return cut + "...";
}

// Shows the text fitted to the width; a cut text is whole in the tool tip.
template <typename Shows> QString showFitted(Shows* w, const QFontMetrics& fm, const QString& text, int width)
{
    const QString shown = fittedText(fm, text, width);
    w->setText(shown);
    w->setToolTip(shown == text ? QString() : text);
    return shown;
}

} // namespace

// The field keeps its width; a size too long for it is cut, and shown whole in the tool tip.
void MainWindow::showSize(const QString& size)
{
    QLineEdit* field = ui.letMain_size;
    showFitted(field, field->fontMetrics(), size, field->width() - 6);
    field->setCursorPosition(0);
}

// The task text takes the room it needs at once (up to a limit, then cut with a tool tip):
// a label left to the next layout pass shows the start of a longer text only.
void MainWindow::showTask(const QString& task)
{
    const int MaxTaskWidth = 240;
    QLabel* label = ui.labMain_Status;
    const QString shown = showFitted(label, label->fontMetrics(), task, MaxTaskWidth);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(shown) + 2 * label->margin());
    ui.wgtMain_dnMenu->layout()->activate();
}

void MainWindow::animateProgress(int to)
{
    auto* anim = new QPropertyAnimation(ui.pgbMain_progress, "value", this);
    anim->setDuration(100);
    anim->setEasingCurve(QEasingCurve::Linear);
    anim->setStartValue(ui.pgbMain_progress->value());
    anim->setEndValue(to);
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainWindow::updateButtons()
{
    ThreadPool* p = pool();
    AppData* data = AppData::instance();
    if (p->isBusy()) {
        ui.actionFirmware->setEnabled(false);
        ui.twtMain_edit->setPanelsDisabled(true);
        for (QWidget* w : {ui.btnMain_open, ui.btnMain_setting, ui.btnMain_save, ui.btnMain_export,
                           ui.btnMain_setcura, ui.cbbMain_language})
            w->setEnabled(false);
        if (p->taskState() == 3 || p->taskState() == 4) {
            btnMain_print->setState(BVStateButton::stopGlyph());
            printGlyphIsStop = true;
            btnMain_print->setDisabled(false);
        } else {
            btnMain_print->setDisabled(true);
        }
        btnSD_print->setEnabled(false);
        data->setSelectionEnabled(false);
        if (p->progress() <= ui.pgbMain_progress->value())
            ui.pgbMain_progress->setValue(p->progress());
        else
            animateProgress(p->progress());
        return;
    }

    ui.actionFirmware->setEnabled(true);
    ui.twtMain_edit->setPanelsDisabled(data->modelCount() == 0 || p->hasPrintFile() == 1);
    ui.btnMain_open->setEnabled(true);
    ui.btnMain_setting->setEnabled(true);
    ui.cbbMain_language->setEnabled(printing->isHidden());
    if (p->hasPrintFile() == 1) {
        if (ui.twtMain_edit->isReadyCutting())
            ui.twtMain_edit->setCuttingDisabled(false);
        view()->SendCuttingCMD(5);
    }
    if (data->countVisibleModels() > 0 && view()->showMode() != 2) {
        ui.btnMain_save->setEnabled(true);
        ui.btnMain_export->setEnabled(true);
        btnMain_print->setDisabled(!p->isLinked());
        btnSD_print->setEnabled(p->isLinked());
    } else {
        if (ui.twtMain_edit->isReadyCutting())
            ui.twtMain_edit->setCuttingDisabled(false);
        view()->SendCuttingCMD(5);
        ui.btnMain_save->setEnabled(false);
        ui.btnMain_export->setEnabled(false);
        btnMain_print->setDisabled(!(p->isLinked() && p->hasPrintFile() == 1));
        btnSD_print->setEnabled(p->isLinked());
    }
    ui.btnMain_setcura->setEnabled(true);
    btnMain_print->setState(QString(QChar(0xF04B)));
    printGlyphIsStop = false;
    data->setSelectionEnabled(true);
    animateProgress(ui.pgbMain_progress->maximum());
}

void MainWindow::updateGLView()
{
    ui.glwMain_show->update();
    view()->update();
}

void MainWindow::updateMachineLabel()
{
    switch (AppData::instance()->getChoiceType()) {
    case 1: ui.labMain_type->setText("PX5"); break;
    case 2: ui.labMain_type->setText("PX6"); break;
    case 3: ui.labMain_type->setText("PX6-H"); break;
    default: ui.labMain_type->setText(tr("Error")); break;
    }
    view()->SendCuttingCMD(6);
    updateGLView();
    ui.twtMain_edit->updatePanels();
}

void MainWindow::updateSupportButtons()
{
    ui.twtMain_edit->setSupportDisabled(!AppData::instance()->hasSupports());
}

void MainWindow::setLanguageButtonEnabled(bool on)
{
    ui.cbbMain_language->setEnabled(on);
}

bool MainWindow::startUp()
{
    show();
    if (!view()->isInitialised()) {
        BrevMessageBox box(0, this);
        box.exec();
        return false;
    }
    updateStatus();
    // Silent checks for new software and firmware; they report only what they find.
    (new UpdaterTarni(this))->checkForUpdates(false);
    (new DownloadFirmware(this))->requestVersionInfo();
    emit startSerialdetection();
    if (AppData::instance()->getChoiceType() != 0)
        updateMachineLabel();
    else
        on_actionChoiceType();
    return true;
}

void MainWindow::onMachineTypeReported(ChoiceType type)
{
    // The open printer-model dialog may have stored the type already; a slice made for
    // another model still goes.
    if (int(type) == AppData::instance()->getChoiceType() && !pool()->sliceIsStale())
        return;
    AppData::instance()->setChoiceType(int(type));
    updateMachineLabel();
    // A slice under way is made for the other model.
    if (pool()->taskState() == ThreadPool::Slicing)
        pool()->killSlice();
    BrevMessageBox box(3, this);
    if (box.exec() != 1) {
        on_btnMain_Slice_clear();
        return;
    }
    // The slice was made for the other model and goes in any case; the scene only goes as it
    // does when the user picks the model, after the closing question.
    const int mode = view()->showMode();
    if ((mode == 0 || mode == 2) && sceneMayBeDropped())
        on_ExitBVT();
    else
        on_btnMain_Slice_clear();
}

void MainWindow::SliceViewChange()
{
    ui.btnMain_Slice->setEnabled(true);
    ui.btnMain_Slice->setChecked(true);
    printMessage->show();
}

void MainWindow::on_initGcodeData(bool isover)
{
    if (isover) {
        AppData::instance()->setEditMode(0);
        view()->setShowLayer(g_gcodeLayerCount.load());
    }
    view()->refreshGcodeView(isover);
    updateStatus();
}

void MainWindow::on_vsdMain_layer_valueChanged(int value)
{
    view()->setShowLayer(value);
    updateGLView();
    ui.NowLayer->setText(QString::number(value));
}

void MainWindow::on_cbbMain_view_send(int index)
{
    view()->setViewDirect(index);
    updateGLView();
}

void MainWindow::on_btnMain_Slice_clicked()
{
    ThreadPool* p = pool();
    if (ui.btnMain_Slice->isChecked()) {
        p->setHasPrintFile(1);
        view()->setSliceView(true);
        printMessage->show();
    } else {
        p->setHasPrintFile(0);
        if (AppData::instance()->modelCount() == 0) {
            on_btnMain_Slice_clear();
            return;
        }
        view()->setSliceView(false);
        printMessage->hide();
    }
    updateStatus();
}

void MainWindow::on_btnMain_Slice_clear()
{
    if (view()->showMode() == 1)
        return;
    ui.btnMain_Slice->setChecked(false);
    ui.btnMain_Slice->setEnabled(false);
    ThreadPool* p = pool();
    p->setHasPrintFile(0);
    // The dropped slice can be neither printed nor drawn again; a running slice or load
    // keeps the file it works on.
    if (!p->isBusy()) {
        p->setPrintFile(ThreadPool::TaskNone, QString());
        AppData::instance()->getGcodePreview()->clear();
    }
    view()->clearSliceView();
    printMessage->hide();
    updateStatus();
}

void MainWindow::slot_new_md_tip()
{
    AppData* data = AppData::instance();
    // Each marked model is asked about once; the mark goes either way.
    for (MeshModel* m : data->getModels()) {
        if (!m->fitPending)
            continue;
        m->fitPending = 0;
        update();
        updateGLView();
        BrevMessageBox box(42, this);
        const bool fit = box.exec() == 1;
        if (RenderEngine* r = view()->getRenderer())
            r->setNewModelTipResult(fit ? 1 : 2);
        if (fit)
            m->scaleToFit();
    }
    updateGLView();
    ui.twtMain_edit->updatePanels();
    QTimer::singleShot(100, this, &MainWindow::slot_update);
}

void MainWindow::slot_update()
{
    ui.twtMain_edit->updatePanels();
}

// ---- ViewHost ----

int MainWindow::taskState() const
{
    return pool()->taskState();
}

bool MainWindow::confirmQuitSupportMode()
{
    AppData* data = AppData::instance();
    if (!data->isSupportEditing() && !data->isSupportDeleting())
        return true;
    BrevMessageBox box(18, this);
    if (box.exec() == 1)
        emit ui.twtMain_edit->signExitSupportWork();
    return false;
}

bool MainWindow::askToDropSliceData(bool sliceDataAtStake)
{
    if (!sliceDataAtStake)
        return true;
    BrevMessageBox box(19, this);
    if (box.exec() != 1)
        return false;
    on_btnMain_Slice_clear();
    return true;
}

// Leaving the preview for another printer model drops the scene: not without the closing
// question. Save lets it go only when the save worked; Cancel keeps it.
bool MainWindow::sceneMayBeDropped()
{
    if (MeshList::instance()->size() == 0)
        return true;
    BrevMessageBox box(17, this);
    const int answer = box.exec();
    return answer == 0 || (answer == 1 && on_btnMain_save_clicked());
}

bool MainWindow::confirmEraseSliceData()
{
    return askToDropSliceData(view()->showMode() == 0);
}

// Jobs on other threads read the scene while a wait dialog is open, or the workers are busy.
bool MainWindow::jobRunning() const
{
    ThreadPool* p = pool();
    return waitingFlag || p->isBusy() || p->taskState() != 0;
}

bool MainWindow::plateHeld() const
{
    // A print-task file shown is drawn over the plate, which stays as the file has it.
    return jobRunning() || pool()->hasPrintFile() == 1 || view()->showMode() == 2;
}

bool MainWindow::confirmClearSlicePreview()
{
    const int mode = view()->showMode();
    return askToDropSliceData(mode == 0 || mode == 2);
}

bool MainWindow::confirmDeleteSupports()
{
    BrevMessageBox box(20, this);
    return box.exec() == 1;
}

void MainWindow::previewCutSection(int positionUm, int axis)
{
    AppData* app = AppData::instance();
    sectionPreview->request(app->getSelectedModel(), app->getSelectedIndex(), positionUm, axis);
}

void MainWindow::startCut(double positionUm, int axis)
{
    // The wait dialog opens first (queued); the job reports its end the same way.
    emit pool()->signWaitDialogHide(1);
    sectionPreview->cutStarted();
    startCutJob(int(positionUm), axis, this, [this](bool ok) {
        sectionPreview->cutEnded();
        // A cut that could not be made is reported as the stopped one is; the scene is unchanged.
        if (!ok)
            g_jobState.store(2);
        emit ThreadPool::instance()->signWaitDialogHide(0);
    });
}

void MainWindow::setJobState(int state)
{
    g_jobState.store(state);
}

void MainWindow::startCutting()
{
    if (waitDialog)
        return;
    waitDialog = new BVWaitDialog(this);
    showTask(tr("Cutting"));
    cutTimer->setSingleShot(true);
    cutTimer->start(Platform::scaledMs(18000));
    view()->SendCuttingCMD(8);
    connect(this, &MainWindow::signWaitClose, waitDialog, &BVWaitDialog::DoneClose);
    waitDialog->exec();
    delete waitDialog;
    waitDialog = nullptr;
}

void MainWindow::onJobTimer()
{
    emit signWaitClose();
    showTask(tr("No Task"));
    const int state = g_jobState.load();
    if (state < 2) {
        cutTimer->stop();
        g_jobState.store(0);
    } else if (state == 2) {
        cutTimer->stop();
        g_jobState.store(0);
        BrevMessageBox box(31, this);
        box.exec();
    } else if (state == 3) {
        AppData::instance()->removeAllSupports();
        cutTimer->stop();
        g_jobState.store(0);
        BrevMessageBox box(33, this);
        box.exec();
    }
    updateStatus();
    QTimer::singleShot(0, this, &MainWindow::openKeptFiles);
}

void MainWindow::on_Fail_CutingFun()
{
    view()->SendCuttingCMD(7);
    cutTimer->stop();
}

void MainWindow::setSupportSize(double size)
{
    ui.twtMain_edit->setSupportSize(size);
}

// The panel has refused a model outside the volume already, before the old supports went.
void MainWindow::runAutoSupport(double size, double angle)
{
    view()->clearHoverModel();
    waitDialog = new BVWaitDialog(this);
    showTask(tr("Auto Support"));
    g_jobState.store(0);
    startAutoSupportJob(size * 1.1, angle, this, [](bool) { emit ThreadPool::instance()->signWaitDialogHide(0); });
    connect(this, &MainWindow::signWaitClose, waitDialog, &BVWaitDialog::DoneClose);
    waitDialog->exec();
    delete waitDialog;
    waitDialog = nullptr;
}

void MainWindow::setCuttingValue(float value)
{
    view()->SetBottomValue(value);
    updateGLView();
}

float MainWindow::cuttingValue() const
{
    return view()->getBottomValue();
}

bool MainWindow::sendCuttingCommand(int command)
{
    const bool ok = view()->SendCuttingCMD(command);
    updateGLView();
    ui.twtMain_edit->updatePanels();
    return ok;
}

void MainWindow::setCuttingMode(bool on)
{
    if (!on)
        sectionPreview->cancel();
    view()->SendCuttingCMD(on ? 4 : 5);
    updateGLView();
}

void MainWindow::exitCuttingMode()
{
    if (ui.twtMain_edit->isReadyCutting())
        ui.twtMain_edit->setCuttingDisabled(false);
    sectionPreview->cancel();
    view()->SendCuttingCMD(5);
}

void MainWindow::setSupportCursor(bool deleting)
{
    if (deleting) {
        const QPixmap pix(":/new/mousedelete");
        ui.glwMain_show->setCursor(QCursor(pix, pix.width() / 2, pix.height() / 2));
    } else {
        ui.glwMain_show->setCursor(Qt::ArrowCursor);
    }
}

// ---- Menus ----

void MainWindow::on_actionTarniMB()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(ModelLibraryUrl)));
}

void MainWindow::on_actionHelp()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(ServiceUrl)));
}

void MainWindow::on_actionFirmware()
{
    if (!firmwareDialog->isVisible())
        firmwareDialog->exec();
}

void MainWindow::on_btnMain_setcura_clicked()
{
    if (confirmClearSlicePreview())
        settingWindow->exec();
}

void MainWindow::on_actionAbout()
{
    auto* about = new AboutDialog(this);
    about->exec();
    about->deleteLater();
}

void MainWindow::on_actionTarni()
{
    (new UpdaterTarni(this))->checkForUpdates(true);
    (new DownloadFirmware(this))->requestVersionInfo();
}

void MainWindow::on_actionChoiceType()
{
    auto* dialog = new ChoiceTypeDialog(this);
    const int mode = view()->showMode();
    dialog->setAskBeforeChange(mode == 0 || mode == 2);
    dialog->setLeaveCheck([this] { return sceneMayBeDropped(); });
    connect(dialog, &ChoiceTypeDialog::sign_ExitBVT, this, &MainWindow::on_ExitBVT);
    dialog->exec();
    dialog->deleteLater();
    updateStatus();
    updateMachineLabel();
}

void MainWindow::on_actionWizard()
{
    Wizard wizard(this);
    wizard.resize(size());
    wizard.setGeometry(geometry());
    ui.twtMain_edit->collapseAll();
    IconHelper::instance()->setIcon(ui.btnMain_ctrl, QChar(0xF103), 20);
    wizard.exec();
}

// ---- Files ----

namespace {

const int MaxModels = 50;
const int MaxNameLength = 53;

QString settingsValue(const QString& key)
{
    return QSettings(AppData::instance()->settingsFilePath(), QSettings::IniFormat).value(key).toString();
}

void setSettingsValue(const QString& key, const QString& value)
{
    QSettings(AppData::instance()->settingsFilePath(), QSettings::IniFormat).setValue(key, value);
}

bool isPrintTaskFile(const QString& path)
{
    return QFileInfo(path).suffix().toLower().contains("bvt");
}

QString fileNameOf(QString path)
{
    path.replace('\\', '/');
    return path.mid(path.lastIndexOf('/') + 1);
}

void showAllModels()
{
    for (MeshModel* m : AppData::instance()->getModels())
        m->visible = true;
}

} // namespace

namespace {
MainWindow::FileDialogHook g_fileDialogHook;
}

void MainWindow::setFileDialogHook(FileDialogHook hook)
{
    g_fileDialogHook = std::move(hook);
}

QStringList MainWindow::askFiles(const QString& title, const QString& dir, const QString& filter, bool save, bool many)
{
    if (g_fileDialogHook)
        return g_fileDialogHook(title, dir, filter, save);
    // Every dialog passes here: the list filters by patterns Qt reads, the type box keeps the
    // program's wording.
    QFileDialog dialog(this, title, dir, dialogNameFilter(filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : many ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    QMetaObject::invokeMethod(&dialog, [&dialog, filter] {
        if (auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            types->setItemText(0, filter);
    }, Qt::QueuedConnection);
    if (dialog.exec() != QDialog::Accepted)
        return QStringList();
    QStringList paths = dialog.selectedFiles();
    paths.removeAll(QString());
    return paths;
}

QString MainWindow::dialogNameFilter(const QString& shown)
{
    const int open = shown.lastIndexOf('('), close = shown.lastIndexOf(')');
    if (open < 0 || close < open)
        return shown;
    QStringList patterns;
    for (const QString& p : shown.mid(open + 1, close - open - 1).split(QRegularExpression("[;\\s]+"), Qt::SkipEmptyParts))
        for (const QString& variant : {p.toLower(), p.toUpper()})
            if (!patterns.contains(variant))
                patterns << variant;
    return shown.left(open).trimmed() + " (" + patterns.join(' ') + ")";
}

void MainWindow::clearScene()
{
    AppData::instance()->clearModels(false);
    MeshList::clear(false);
    view()->releaseModelBuffers();
    updateGLView();
}

void MainWindow::openFile(const QString& path)
{
    ThreadPool* p = pool();
    // Kept while a job runs, and opened with its questions once it is done.
    if (jobRunning()) {
        keptFiles.append({path, {}});
        return;
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool printTask = suffix.contains("bvt");
    static const QStringList sceneSuffixes{"brev", "bmp", "png", "jpg", "stl", "obj", "3mf"};
    const bool sceneFile = !printTask && std::any_of(sceneSuffixes.begin(), sceneSuffixes.end(),
                                                     [&](const QString& s) { return suffix.contains(s); });
    // Nothing to open (a second instance that only raises this window).
    if (!printTask && !sceneFile)
        return;
    // A model or project changes the scene: the old slice goes, if the user agrees.
    if (sceneFile && !confirmClearSlicePreview())
        return;
    if (view()->showMode() == 2) {
        ui.btnMain_Slice->setChecked(false);
        ui.btnMain_Slice->setEnabled(false);
        p->setHasPrintFile(0);
        view()->clearSliceView();
        printMessage->hide();
        updateStatus();
    }
    if (suffix.contains("brev")) {
        if (MeshList::instance()->size() > 0) {
            BrevMessageBox box(15, this);
            if (box.exec() != 1)
                return;
        }
        // The scene goes only once the project has been read whole.
        p->fileWorker()->loadFile(path, true);
    } else if (printTask) {
        p->setPrintFile(0, path);
        updateGLView();
        p->fileWorker()->loadFile(path);
    } else if (suffix.contains("bmp") || suffix.contains("png") || suffix.contains("jpg")) {
        pictureDialog->setImage(path);
        const int result = pictureDialog->exec();
        if (result == 0)
            return;
        if (result == 1) {
            showAllModels();
            ui.btnMain_Slice->setEnabled(false);
        }
        p->fileWorker()->loadFile(path);
    } else if (suffix.contains("stl") || suffix.contains("obj") || suffix.contains("3mf")) {
        const bool empty = AppData::instance()->modelCount() == 0;
        showAllModels();
        if (empty)
            ui.btnMain_Slice->setEnabled(false);
        p->fileWorker()->loadFile(path);
    }
}

void MainWindow::openKeptFiles()
{
    // The end of the job calls again.
    if (keptFiles.isEmpty() || jobRunning())
        return;
    // One question at a time: the file waits for the one on screen.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(Platform::scaledMs(200), this, &MainWindow::openKeptFiles);
        return;
    }
    const KeptFile next = keptFiles.takeFirst();
    if (next.drop.isEmpty())
        openFile(next.path);
    else
        openDropped(next.drop);
    // A file that loads nothing (refused, cancelled) starts no job whose end would call again.
    if (!keptFiles.isEmpty())
        QTimer::singleShot(0, this, &MainWindow::openKeptFiles);
}

void MainWindow::handOverFile(const QString& path)
{
    // A question on screen speaks of what is shown now: the file waits until it is answered.
    if (QApplication::activeModalWidget() || waitingFlag) {
        QTimer::singleShot(Platform::scaledMs(200), this, [this, path] { handOverFile(path); });
        return;
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    openFile(path);
}

void MainWindow::on_btnMain_open_clicked()
{
    if (!confirmClearSlicePreview() || !confirmQuitSupportMode())
        return;
    QString dir = settingsValue("Paths/OpenDir");
    if (dir.isEmpty())
        dir = AppData::instance()->getSettingsDir();
    const QStringList paths = askFiles(tr("Import Model"), dir,
                                       tr("3D Model File(*.stl;*.obj;*.brev;*.png;*.bmp;*.jpg;*.3mf;*.BVT)"), false, true);
    for (const QString& path : paths) {
        if (fileNameOf(path).size() > MaxNameLength) {
            BrevMessageBox box(32, this);
            box.exec();
            return;
        }
    }
    if (!paths.isEmpty() && AppData::instance()->modelCount() >= MaxModels) {
        BrevMessageBox box(12, this);
        box.exec();
        return;
    }
    for (const QString& path : paths) {
        openFile(path);
        setSettingsValue("Paths/OpenDir", QFileInfo(path).absolutePath());
    }
}

bool MainWindow::on_btnMain_save_clicked()
{
    if (!confirmQuitSupportMode())
        return false;
    QString dir = settingsValue("Paths/MeshSave");
    if (dir.isEmpty())
        dir = AppData::instance()->getSettingsDir();
    const QString proposed =
        dir + "/" + safeFileName(QString::fromLocal8Bit(AppData::instance()->getSelectedModelName().c_str()), QString());
    const QStringList answer = askFiles(tr("Save File"), proposed, tr("Brevant File (*.brev)"), true, false);
    if (answer.isEmpty() || answer.first().isEmpty())
        return false;
    QString path = answer.first();
    setSettingsValue("Paths/MeshSave", QFileInfo(path).absolutePath());
    if (QFileInfo(path).suffix().toLower() != "brev")
        path += ".brev";
    // The save runs on the file worker; the event loop keeps the window alive meanwhile.
    g_saveDone.store(false);
    const bool saved = pool()->fileWorker()->saveFileAndWait(path, 0);
    g_saveDone.store(false);
    // A failed save is reported by the pool; callers must not act as if it was made.
    return saved;
}

void MainWindow::on_btnMain_export_clicked()
{
    if (!confirmEraseSliceData() || !confirmQuitSupportMode())
        return;
    if (!AppData::instance()->allModelsInVolume()) {
        BrevMessageBox box(4, this);
        box.exec();
        return;
    }
    const QString last = settingsValue("Paths/GCodeSave");
    const QString proposed = last.isEmpty()
        ? AppData::instance()->getAppDir() + "/gco/3DPRINT.BVT"
        : last.left(last.lastIndexOf('/')) + "/"
            + safeFileName(QString::fromLocal8Bit(AppData::instance()->getSelectedModelName().c_str()), QString());
    const QStringList answer = askFiles(tr("Save GCode"), proposed, tr("Brevant File (*.BVT)"), true, false);
    if (answer.isEmpty() || answer.first().isEmpty())
        return;
    QString path = answer.first();
    if (QFileInfo(path).suffix() != "BVT")
        path += ".BVT";
    setSettingsValue("Paths/GCodeSave", path);
    if (prepareEngineIni())
        pool()->startSlice(1, path);
}

bool MainWindow::acceptableDrop(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return false;
    static const QStringList accepted{"brev", "obj", "stl", "bvt", "bmp", "png", "jpg", "3mf"};
    int projects = 0;
    for (const QUrl& url : urls) {
        const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
        if (!accepted.contains(suffix))
            return false;
        if (suffix == "brev")
            ++projects;
    }
    return projects == 0 || (projects == 1 && urls.size() == 1);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e)
{
    AppData* data = AppData::instance();
    if (data->isSupportEditing() || data->isSupportDeleting())
        emit ui.twtMain_edit->signExitSupportWork();
    // A drop while a job runs is kept for its end.
    if (e->mimeData()->hasUrls() && acceptableDrop(e->mimeData()->urls()))
        e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e)
{
    const QList<QUrl> urls = e->mimeData()->urls();
    // Only what the drag's entry accepted is opened (text dragged from a field is not).
    if (!acceptableDrop(urls)) {
        e->ignore();
        return;
    }
    if (jobRunning())
        keptFiles.append({QString(), urls});
    else
        openDropped(urls);
}

void MainWindow::openDropped(const QList<QUrl>& urls)
{
    if (AppData::instance()->modelCount() + urls.size() > MaxModels) {
        BrevMessageBox box(12, this);
        box.exec();
        return;
    }
    QStringList paths;
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        if (fileNameOf(path).size() > MaxNameLength) {
            BrevMessageBox box(32, this);
            box.exec();
            return;
        }
        paths << path;
    }
    if (!std::all_of(paths.begin(), paths.end(), isPrintTaskFile)) {
        if (!confirmClearSlicePreview())
            return;
    } else if (view()->showMode() == 2) {
        on_btnMain_Slice_clear();
    }
    if (paths.size() == 1) {
        openFile(paths.first());
        return;
    }
    // The worker stops after the first print-task file: that one is what the printer gets.
    const auto task = std::find_if(paths.begin(), paths.end(), isPrintTaskFile);
    if (task != paths.end())
        pool()->setPrintFile(ThreadPool::TaskNone, *task);
    pool()->fileWorker()->loadFiles(paths);
}

void MainWindow::on_action2()
{
    static const char* const icons[5] = {":/add/recent1", ":/add/recent2", ":/add/recent3", ":/add/recent4",
                                         ":/add/recent5"};
    recentMenu->clear();
    const QStringList entries = AppData::instance()->getRecentFiles();
    for (int i = 0; i < entries.size(); ++i) {
        QAction* a = recentMenu->addAction(
            QIcon::fromTheme("document-open", QIcon(icons[std::min(i, 4)])), entries[i]);
        a->setObjectName(entries[i]);
        connect(a, &QAction::triggered, this, &MainWindow::on_recentFile);
    }
    fitRecentMenu();
    placeRecentMenu();
}

// The settings menu's fixed size would pass to its submenu: the recent files get a size of
// their own, as tall as the entries and as wide as the names (a very long one cut, whole in
// its tool tip).
void MainWindow::fitRecentMenu()
{
    const int MaxNameWidth = 360;
    recentMenu->ensurePolished();
    const QFontMetrics fm(recentMenu->font());
    int widest = 106;
    for (QAction* a : recentMenu->actions()) {
        widest = std::max(widest, fm.horizontalAdvance(showFitted(a, fm, a->objectName(), MaxNameWidth)) + 8);
    }
    recentMenu->setToolTipsVisible(true);
    // An entry holds the icon column and the text; the menu adds the entry's padding, margin
    // and its own border.
    const int entry = widest + 24;
    recentMenu->setStyleSheet(QString("QMenu{width: %1px; height: %2px;}QMenu::item{width: %3px;}")
                                  .arg(entry + 32 + 2 + 4)
                                  .arg(28 * std::max(1, int(recentMenu->actions().size())) + 4)
                                  .arg(entry));
}

// Left of the settings menu, which opens under the button's left edge.
void MainWindow::placeRecentMenu()
{
    recentMenu->move(x() + ui.btnMain_setting->x() - recentMenu->sizeHint().width(), y() + ui.btnMain_setting->y() + 53);
}

void MainWindow::on_recentFile()
{
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    openRecentFile(action->objectName());
}

void MainWindow::openRecentFile(const QString& name)
{
    ThreadPool* p = pool();
    const int state = p->taskState();
    if (state >= 1 && state <= 4) {
        BrevMessageBox box(38, this);
        box.exec();
        return;
    }
    if (!confirmClearSlicePreview())
        return;
    const QString path = AppData::instance()->getAppDir() + "/gco/" + name;
    if (!QFileInfo::exists(path)) {
        BrevMessageBox box(37, this);
        box.exec();
        return;
    }
    const bool meshes = MeshList::instance()->size() > 0;
    if (view()->showMode() != 2) {
        if (meshes) {
            BrevMessageBox box(16, this);
            if (box.exec() != 1)
                return;
        }
    } else {
        BrevMessageBox box(16, this);
        if (box.exec() != 1)
            return;
        on_btnMain_Slice_clicked();
    }
    p->setPrintFile(0, path);
    p->fileWorker()->loadFile(path, meshes);
}

// ---- Slicing, preview and printing ----

bool MainWindow::prepareEngineIni()
{
    const QString dir = AppData::instance()->getAppDir() + "/BrevEngine";
    QDir().mkpath(dir);
    const QString ini = dir + "/Brev.ini";
    if (QFileInfo::exists(ini)) {
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(ini);
    }
    static const char* profiles[3] = {":/config/Resources/low.ini", ":/config/Resources/mid.ini",
                                      ":/config/Resources/high.ini"};
    const int quality = AppData::instance()->getPrintQuality();
    QString why;
    if (quality < 0 || quality > 2 || !CheckedWriter::copy(profiles[quality], ini, &why)
        || !AppData::instance()->writeEngineConfig(ini, &why)) {
        BrevMessageBox box(2, this);
        box.addReason(why);
        box.exec();
        return false;
    }
    return true;
}

void MainWindow::on_btnMain_print_clicked()
{
    ThreadPool* p = pool();
    if (!confirmQuitSupportMode())
        return;
    if (!AppData::instance()->allModelsInVolume()) {
        BrevMessageBox box(4, this);
        box.exec();
        return;
    }
    if (!printGlyphIsStop) {
        const int mode = view()->showMode();
        if (mode == 1 || mode == 3) {
            if (prepareEngineIni())
                p->startSlice(2, QString());
        } else {
            BrevMessageBox box(35, this);
            if (box.exec() != 1 || !p->sliceMayBePrinted())
                return;
            const QString path = p->printFilePath();
            emit signSendGcode(path);
            p->copyIntoProgramGco(path);
        }
        return;
    }
    if (p->taskState() == 3) {
        BrevMessageBox box(7, this);
        if (box.exec() == 1)
            p->killSlice();
    } else if (p->taskState() == 4) {
        BrevMessageBox box(5, this);
        if (box.exec() == 1)
            emit signStopSendGcode();
    }
}

void MainWindow::on_btnSD_print_clicked()
{
    BrevMessageBox box(40, this);
    if (box.exec() == 1 && pool()->sliceMayBePrinted())
        emit pool()->signBeginPrint(QStringLiteral("deflaut"));
}

// The last net under the guards: a slice whose plate changed without the question goes.
// It is gone already, so the user is told, not asked.
void MainWindow::dropStaleSlice()
{
    on_btnMain_Slice_clear();
    BrevMessageBox box(19, this);
    box.setStandardButtons(1);
    box.exec();
}

void MainWindow::on_ExitBVT()
{
    const int mode = view()->showMode();
    if (mode != 0 && mode != 2)
        return;
    on_btnMain_Slice_clear();
    if (MeshList::instance()->size() > 0)
        clearScene();
    updateStatus();
}

// ---- Frameless window ----

void MainWindow::centerOnScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    layoutOverlays(std::max(int(screen.width() * 0.8), 800), std::max(int(screen.height() * 0.8), 720));
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2 - 15);
}

int MainWindow::hitRegion(const QPoint& p) const
{
    if (maximised)
        return 0;
    const int row = p.y() <= 5 ? 10 : (p.y() >= height() - 5 ? 30 : 20);
    const int col = p.x() <= 5 ? 1 : (p.x() >= width() - 5 ? 3 : 2);
    const int r = row + col;
    if (r == 22)
        return p.y() < 78 ? 221 : 222;
    return r;
}

void MainWindow::setRegionCursor(int r)
{
    switch (r) {
    case 11: case 33: setCursor(Qt::SizeFDiagCursor); break;
    case 12: case 32: setCursor(Qt::SizeVerCursor); break;
    case 13: case 31: setCursor(Qt::SizeBDiagCursor); break;
    case 21: case 23: setCursor(Qt::SizeHorCursor); break;
    default: setCursor(Qt::ArrowCursor); break;
    }
}

void MainWindow::updateRegion(const QPoint& p)
{
    region = hitRegion(p);
    setRegionCursor(region);
}

void MainWindow::slot_mouse_press(QMouseEvent* event) { mousePressEvent(event); }
void MainWindow::slot_mouse_Release(QMouseEvent* event) { mouseReleaseEvent(event); }
void MainWindow::slot_mouse_Move(QMouseEvent* event) { mouseMoveEvent(event); }

void MainWindow::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        // Children do not track the mouse, so the region is taken where the press lands.
        if (!maximised)
            updateRegion(mapFromGlobal(e->globalPos()));
        leftHeld = true;
        pressOffset = e->globalPos() - pos();
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent*)
{
    setCursor(Qt::ArrowCursor);
    leftHeld = false;
}

void MainWindow::mouseMoveEvent(QMouseEvent* e)
{
    if (maximised)
        return;
    if (!leftHeld) {
        updateRegion(mapFromGlobal(e->globalPos()));
        return;
    }
    if (region < 101) {
        QRect r = geometry();
        int left = r.left(), top = r.top();
        int right = r.left() + r.width(), bottom = r.top() + r.height();
        int w = r.width(), h = r.height();
        const QPoint g = e->globalPos();
        if (region / 10 == 1) {
            h = std::max(720, bottom - g.y());
            top = bottom - h;
        } else if (region / 10 == 3) {
            h = std::max(720, g.y() - top);
        }
        if (region % 10 == 1) {
            w = std::max(800, right - g.x());
            left = right - w;
        } else if (region % 10 == 3) {
            w = std::max(800, g.x() - left);
        }
        move(left, top);
        layoutOverlays(w, h);
    } else if (region == 221 && !waitingFlag) {
        move(e->globalPos() - pressOffset);
    }
}

bool MainWindow::event(QEvent* e)
{
    if (e->type() == QEvent::MouseMove) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->pos().x() < 5) {
            mouseMoveEvent(me);
            return true;
        }
    }
    return QWidget::event(e);
}

// Children cover the window's edges and some take the mouse (the view, the edit tree, the
// title buttons): presses in the 5 px frame band, and the drags they start, belong to the frame.
bool MainWindow::frameMouseEvent(QObject* watched, QEvent* e)
{
    const QEvent::Type type = e->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w == this || w->window() != this || maximised)
        return false;
    auto* me = static_cast<QMouseEvent*>(e);
    const int here = hitRegion(mapFromGlobal(me->globalPos()));
    switch (type) {
    case QEvent::MouseButtonPress:
        if (me->button() != Qt::LeftButton || here >= 101)
            return false;
        mousePressEvent(me);
        return true;
    case QEvent::MouseMove:
        if (leftHeld)
            return region < 101 && (mouseMoveEvent(me), true);
        if ((here < 101) != (region < 101) || (here < 101 && here != region))
            updateRegion(mapFromGlobal(me->globalPos()));
        return false;
    default:
        if (!leftHeld || region >= 101)
            return false;
        mouseReleaseEvent(me);
        return true;
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == recentMenu && e->type() == QEvent::Show)
        placeRecentMenu();
    if (frameMouseEvent(watched, e))
        return true;
    // Every event of the program passes here: the cheap test first.
    if (e->type() == QEvent::MouseMove
        && (watched == btnMain_print || watched == btnSD_print || watched == cbbMain_view)) {
        setCursor(Qt::ArrowCursor);
    } else if (watched == ui.wgtMain_upMenu && e->type() == QEvent::MouseButtonDblClick) {
        if (cursor().shape() == Qt::ArrowCursor && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
            on_btnMain_max_clicked();
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

bool MainWindow::on_btnMain_max_clicked()
{
    if (maximised) {
        move(normalGeometry.topLeft());
        layoutOverlays(normalGeometry.width(), normalGeometry.height());
        ui.btnMain_max->setStyleSheet(ui.btnMain_max->styleSheet().replace(":/new/max2", ":/new/max1"));
    } else {
        normalGeometry = geometry();
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        move(avail.topLeft());
        layoutOverlays(avail.width(), avail.height());
        ui.btnMain_max->setStyleSheet(ui.btnMain_max->styleSheet().replace(":/new/max1", ":/new/max2"));
    }
    maximised = !maximised;
    return maximised;
}

void MainWindow::on_btnMain_min_clicked()
{
    showMinimized();
}

void MainWindow::on_btnMain_close_clicked()
{
    close();
}

void MainWindow::paintEvent(QPaintEvent* e)
{
    resizeEditPanel();
    QWidget::paintEvent(e);
}

void MainWindow::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    placeOverlays();
}

void MainWindow::keyPressEvent(QKeyEvent* e)
{
    ThreadPool* p = pool();
    AppData* data = AppData::instance();
    if (e->matches(QKeySequence::Paste)) {
        // The list makes the copy and asks as its copy button does.
        emit signPaste();
    } else if (e->key() == Qt::Key_Delete && !waitingFlag && p->hasPrintFile() != 1 && p->taskState() != 3
               && p->taskState() != 1) {
        if (data->isSupportEditing() || data->isSupportDeleting()) {
            ui.twtMain_edit->stopSupportWork();
            updateGLView();
        } else if (data->getSelectedModel() && EditGuard::allowsErase(this)) {
            data->removeModel(data->getSelectedIndex());
            data->refresh();
            ui.twtMain_edit->updatePanels();
            emit CutSign(data->modelCount());
            updateStatus();
        }
    } else if (e->key() == Qt::Key_Escape) {
        ui.twtMain_edit->exitCutting();
        ui.twtMain_edit->stopSupportWork();
    }
    QWidget::keyPressEvent(e);
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    ThreadPool* p = pool();
    int answer = -1;
    // A question about a slice or a transfer that ends while it is open is withdrawn, not
    // answered: the window stays, and closing again asks about what is there then.
    bool withdrawn = false;
    if (MeshList::instance()->size() == 0) {
        if (p->taskState() == 4) {
            BrevMessageBox box(23, this);
            answer = box.exec();
            withdrawn = box.withdrawn();
        }
    } else {
        QLOG_INFO() << "UI\\MainWindow @" << __LINE__ << "close, task state" << p->taskState();
        if (p->taskState() == 4) {
            BrevMessageBox box(22, this);
            box.exec();
            e->ignore();
            return;
        }
        BrevMessageBox box(p->taskState() == 3 ? 21 : 17, this);
        answer = box.exec();
        withdrawn = box.withdrawn();
    }
    if (answer == 2 || withdrawn) {
        e->ignore();
        return;
    }
    if (answer == 1 && MeshList::instance()->size() > 0) {
        // Nothing the user made is lost: a save that did not happen keeps the window open.
        if (!on_btnMain_save_clicked()) {
            e->ignore();
            return;
        }
        for (MeshModel* m : AppData::instance()->getModels())
            m->visible = true;
    }
    shutDown();
    e->accept();
}

void MainWindow::shutDown()
{
    if (shutDownDone)
        return;
    shutDownDone = true;
    sectionPreview->cancel();
    // Workers first: they may still read the scene.
    if (ThreadPool* p = ThreadPool::instance()) {
        p->stopThreads();
        delete p;
    }
    AppData::instance()->clearModels(true);
    MeshList::clear(true);
}
