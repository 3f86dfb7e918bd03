#include "UI/MainWindowForm.h"

#include "UI/EditTreeWidget.h"
#include "render/BVGLWidget.h"

namespace {

// A sprite of four frames side by side (normal, hover, pressed or checked, disabled), each w wide.
QString spriteStyle(const QString& image, int w)
{
    auto cut = [&](int frame) {
        return QString("border-image: url(%1) 0 %2 0 %3;").arg(image).arg((3 - frame) * w).arg(frame * w);
    };
    return QString("QPushButton{%1 border:none;}"
                   "QPushButton:hover{%2}"
                   "QPushButton:pressed, QPushButton:checked{%3}"
                   "QPushButton:disabled{%4}")
        .arg(cut(0), cut(1), cut(2), cut(3));
}

QPushButton* spriteButton(QWidget* parent, const char* name, int w, int h, const QString& image)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(name);
    b->setFixedSize(w, h);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(spriteStyle(image, w));
    return b;
}

QLabel* label(QWidget* parent, const char* name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    return l;
}

} // namespace

void Ui_MainWindow::setupUi(QWidget* MainWindow)
{
    if (MainWindow->objectName().isEmpty())
        MainWindow->setObjectName("MainWindow");
    MainWindow->setMinimumSize(800, 720);
    MainWindow->setStyleSheet(
        "QWidget#MainWindow{background:#54c8ea;}"
        // Only the window's own parts: the rule would cascade into every dialog it opens.
        "#wgtMain_upMenu QLabel, #wgtMain_center QLabel, #wgtMain_dnMenu QLabel{color:white; font:bold;}"
        "QScrollBar:vertical{background:#41505e; width:8px;}"
        "QScrollBar::handle:vertical{background:#54c8ea; min-height:20px; border-radius:4px;}");

    actionAbout = new QAction(MainWindow);
    actionAbout->setObjectName("actionAbout");
    actionTarni = new QAction(MainWindow);
    actionTarni->setObjectName("actionTarni");
    actionFirmware = new QAction(MainWindow);
    actionFirmware->setObjectName("actionFirmware");
    actionChoiceType = new QAction(MainWindow);
    actionChoiceType->setObjectName("actionChoiceType");
    actionHelp = new QAction(MainWindow);
    actionHelp->setObjectName("actionHelp");
    actionModelLibrary = new QAction(MainWindow);
    actionModelLibrary->setObjectName("actionModelLibrary");
    actionWizard = new QAction(MainWindow);
    actionWizard->setObjectName("actionWizard");

    mainLayout = new QVBoxLayout(MainWindow);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);

    // Title strip.
    wgtMain_upMenu = new QWidget(MainWindow);
    wgtMain_upMenu->setObjectName("wgtMain_upMenu");
    wgtMain_upMenu->setFixedHeight(78);
    wgtMain_upMenu->setAttribute(Qt::WA_StyledBackground);
    wgtMain_upMenu->setStyleSheet("#wgtMain_upMenu{border-image: url(:/new/titleback);}");
    auto* up = new QHBoxLayout(wgtMain_upMenu);
    up->setContentsMargins(8, 0, 0, 0);
    up->setSpacing(2);
    labMain_logo = label(wgtMain_upMenu, "labMain_logo");
    labMain_logo->setPixmap(QPixmap(":/new/logo"));
    // In the narrowest window the gap and then the logo's empty right margin give way, so the
    // buttons keep their sizes and the window buttons stay whole at the right edge.
    labMain_logo->setMinimumWidth(1);
    up->addWidget(labMain_logo);
    up->addSpacerItem(new QSpacerItem(20, 0, QSizePolicy::Preferred, QSizePolicy::Minimum));
    btnMain_open = spriteButton(wgtMain_upMenu, "btnMain_open", 84, 76, ":/new/open");
    btnMain_save = spriteButton(wgtMain_upMenu, "btnMain_save", 84, 76, ":/new/save");
    btnMain_export = spriteButton(wgtMain_upMenu, "btnMain_export", 79, 76, ":/new/export");
    btnMain_Slice = spriteButton(wgtMain_upMenu, "btnMain_Slice", 78, 76, ":/new/slice");
    btnMain_Slice->setCheckable(true);
    btnMain_Slice->setStyleSheet(
        spriteStyle(":/new/slice", 78) +
        QString("QPushButton:checked{border-image: url(:/new/slice_in) 0 78 0 156;}"));
    cbbMain_language = spriteButton(wgtMain_upMenu, "cbbMain_language", 80, 76, ":/new/english");
    cbbMain_language->setCheckable(true);
    cbbMain_language->setStyleSheet(
        spriteStyle(":/new/english", 80) +
        QString("QPushButton:checked{border-image: url(:/new/chinese) 0 240 0 0;}"
                "QPushButton:checked:hover{border-image: url(:/new/chinese) 0 160 0 80;}"));
    btnMain_setcura = spriteButton(wgtMain_upMenu, "btnMain_setcura", 82, 76, ":/new/setting");
    for (QPushButton* b : {btnMain_open, btnMain_save, btnMain_export, btnMain_Slice, cbbMain_language, btnMain_setcura})
        up->addWidget(b, 0, Qt::AlignVCenter);
    up->addStretch(1);
    auto* windowButtons = new QVBoxLayout();
    windowButtons->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout();
    row->setSpacing(0);
    btnMain_setting = spriteButton(wgtMain_upMenu, "btnMain_setting", 36, 22, ":/new/dropdown");
    // The sprite draws its own chevron: no menu triangle beside it.
    btnMain_setting->setStyleSheet(spriteStyle(":/new/dropdown", 36)
                                   + "QPushButton::menu-indicator{image:none; width:0px;}");
    btnMain_min = spriteButton(wgtMain_upMenu, "btnMain_min", 36, 22, ":/new/min");
    btnMain_max = spriteButton(wgtMain_upMenu, "btnMain_max", 36, 22, ":/new/max1");
    btnMain_close = spriteButton(wgtMain_upMenu, "btnMain_close", 40, 22, ":/new/close");
    for (QPushButton* b : {btnMain_setting, btnMain_min, btnMain_max, btnMain_close})
        row->addWidget(b);
    windowButtons->addLayout(row);
    windowButtons->addStretch(1);
    up->addLayout(windowButtons);
    mainLayout->addWidget(wgtMain_upMenu);

    pgbMain_progress = new QProgressBar(MainWindow);
    pgbMain_progress->setObjectName("pgbMain_progress");
    pgbMain_progress->setFixedHeight(6);
    pgbMain_progress->setRange(0, 10000);
    pgbMain_progress->setValue(10000);
    pgbMain_progress->setTextVisible(false);
    pgbMain_progress->setStyleSheet(
        "QProgressBar{border:none; background:#1c2c36;} QProgressBar::chunk{background:#54c8ea;}");
    mainLayout->addWidget(pgbMain_progress);

    // Centre: the view, with the layer column and the edit panel over it.
    wgtMain_center = new QWidget(MainWindow);
    wgtMain_center->setObjectName("wgtMain_center");
    gridLayout = new QGridLayout(wgtMain_center);
    gridLayout->setObjectName("gridLayout");
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setSpacing(0);

    wgtMain_layer = new QWidget(wgtMain_center);
    wgtMain_layer->setObjectName("wgtMain_layer");
    wgtMain_layer->setFixedWidth(45);
    auto* layer = new QVBoxLayout(wgtMain_layer);
    layer->setContentsMargins(2, 8, 2, 8);
    TotalLayer = label(wgtMain_layer, "TotalLayer");
    TotalLayer->setAlignment(Qt::AlignCenter);
    label_3 = label(wgtMain_layer, "label_3");
    label_3->setAlignment(Qt::AlignCenter);
    vsdMain_layer = new QSlider(Qt::Vertical, wgtMain_layer);
    vsdMain_layer->setObjectName("vsdMain_layer");
    vsdMain_layer->setMaximum(100);
    NowLayer = label(wgtMain_layer, "NowLayer");
    NowLayer->setAlignment(Qt::AlignCenter);
    for (QLabel* l : {TotalLayer, label_3, NowLayer})
        l->setStyleSheet("color:#1c2c36;");
    layer->addWidget(TotalLayer);
    layer->addWidget(label_3);
    layer->addWidget(vsdMain_layer, 1, Qt::AlignHCenter);
    layer->addWidget(NowLayer);

    glwMain_show = new BVGLWidget(wgtMain_center);
    glwMain_show->setObjectName("glwMain_show");

    wgtMain_ctrl = new QWidget(wgtMain_center);
    wgtMain_ctrl->setObjectName("wgtMain_ctrl");
    wgtMain_ctrl->setFixedWidth(250);
    auto* ctrl = new QVBoxLayout(wgtMain_ctrl);
    ctrl->setContentsMargins(0, 0, 0, 0);
    ctrl->setSpacing(0);
    twtMain_edit = new EditTreeWidget(wgtMain_ctrl);
    twtMain_edit->setObjectName("twtMain_edit");
    btnMain_ctrl = new QPushButton(wgtMain_ctrl);
    btnMain_ctrl->setObjectName("btnMain_ctrl");
    btnMain_ctrl->setFixedSize(250, 25);
    btnMain_ctrl->setStyleSheet("QPushButton{background:#41505e; color:white; border:none;}");
    ctrl->addWidget(twtMain_edit);
    ctrl->addWidget(btnMain_ctrl);

    // The edit panel on the window's left, the layer column beside it: the overlays keep the
    // view's right side, so at any window size neither covers the other.
    gridLayout->addWidget(glwMain_show, 0, 0, 1, 3);
    gridLayout->addWidget(wgtMain_ctrl, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    gridLayout->addWidget(wgtMain_layer, 0, 1, Qt::AlignLeft);
    gridLayout->setColumnStretch(2, 1);
    mainLayout->addWidget(wgtMain_center, 1);

    // Bottom bar.
    wgtMain_dnMenu = new QWidget(MainWindow);
    wgtMain_dnMenu->setObjectName("wgtMain_dnMenu");
    wgtMain_dnMenu->setFixedHeight(40);
    wgtMain_dnMenu->setAttribute(Qt::WA_StyledBackground);
    wgtMain_dnMenu->setStyleSheet("#wgtMain_dnMenu{background:#1c2c36;}");
    auto* dn = new QHBoxLayout(wgtMain_dnMenu);
    dn->setContentsMargins(12, 0, 12, 0);
    labMain_typeTitle = label(wgtMain_dnMenu, "labMain_typeTitle");
    labMain_type = label(wgtMain_dnMenu, "labMain_type");
    labMain_sizeTitle = label(wgtMain_dnMenu, "labMain_sizeTitle");
    letMain_size = new QLineEdit(wgtMain_dnMenu);
    letMain_size->setObjectName("letMain_size");
    letMain_size->setFixedWidth(180);
    letMain_size->setReadOnly(true);
    letMain_size->setFocusPolicy(Qt::NoFocus);
    // Narrow enough that a three-digit size fits the 180 px whole.
    letMain_size->setStyleSheet("QLineEdit{background:transparent; border:none; color:white; font-size:11px; font-weight:normal;}");
    labMain_light = label(wgtMain_dnMenu, "labMain_light");
    labMain_light->setMinimumWidth(120);
    labMain_light->setIndent(28);
    labMain_statusTitle = label(wgtMain_dnMenu, "labMain_statusTitle");
    labMain_Status = label(wgtMain_dnMenu, "labMain_Status");
    dn->addWidget(labMain_typeTitle);
    dn->addWidget(labMain_type);
    dn->addSpacing(24);
    dn->addWidget(labMain_sizeTitle);
    dn->addWidget(letMain_size);
    dn->addStretch(1);
    dn->addWidget(labMain_light);
    dn->addSpacing(24);
    dn->addWidget(labMain_statusTitle);
    dn->addWidget(labMain_Status);
    mainLayout->addWidget(wgtMain_dnMenu);

    btnMain_Slice->setChecked(true);
    cbbMain_language->setChecked(true);

    retranslateUi(MainWindow);
}

void Ui_MainWindow::retranslateUi(QWidget* MainWindow)
{
    MainWindow->setWindowTitle(QCoreApplication::translate("MainWindow", "Brevant"));
    actionAbout->setText(QCoreApplication::translate("MainWindow", "About"));
    actionTarni->setText(QCoreApplication::translate("MainWindow", "Check For Tarni"));
    actionFirmware->setText(QCoreApplication::translate("MainWindow", "Machine info"));
    actionChoiceType->setText(QCoreApplication::translate("MainWindow", "Select Printer"));
    actionChoiceType->setToolTip(QCoreApplication::translate("MainWindow", "Select Printer"));
    actionHelp->setText(QCoreApplication::translate("MainWindow", "Help"));
    actionModelLibrary->setText(QCoreApplication::translate("MainWindow", "Model Library"));
    actionModelLibrary->setToolTip(QCoreApplication::translate("MainWindow", "Model Library"));
    actionWizard->setText(QCoreApplication::translate("MainWindow", "Guide"));
    btnMain_open->setToolTip(QCoreApplication::translate("MainWindow", "Open File"));
    btnMain_save->setToolTip(QCoreApplication::translate("MainWindow", "Save File"));
    btnMain_export->setToolTip(QCoreApplication::translate("MainWindow", "Export Gcode"));
    btnMain_Slice->setToolTip(QCoreApplication::translate("MainWindow", "Switch preview"));
    cbbMain_language->setToolTip(QCoreApplication::translate("MainWindow", "Language Setting"));
    btnMain_setcura->setToolTip(QCoreApplication::translate("MainWindow", "Setting"));
    TotalLayer->setText(QCoreApplication::translate("MainWindow", "100"));
    label_3->setText(QCoreApplication::translate("MainWindow", "Layer"));
    labMain_typeTitle->setText(QCoreApplication::translate("MainWindow", "Type："));
    labMain_sizeTitle->setText(QCoreApplication::translate("MainWindow", "Size:"));
    labMain_statusTitle->setText(QCoreApplication::translate("MainWindow", "System Status："));
    labMain_Status->setText(QCoreApplication::translate("MainWindow", "No Task"));
}
