#include "UI/Wizard.h"

#include "ui_Wizard.h"

#include "scene/AppData.h"

#include <QPainter>

namespace {
// Where the main window's left panel lies under the first page.
const QRect kPanelHole(QPoint(1, 78), QPoint(214, 510));

// The tip of one arrow of a picture and the point of a main-window control it touches (the
// control's rectangle in the guide's coordinates gives the point); the picture is placed so
// the two meet, and its other arrows follow, the controls beside keeping their spacing.
struct Pointer
{
    QPoint tip;
    const char* control;
    QPoint (*target)(const QRect& control);
};
// The open button, one pixel under its centre.
const Pointer kToolbarPointer{QPoint(190, 78), "btnMain_open", [](const QRect& r) { return QPoint(r.center().x(), r.bottom() + 2); }};
// The direction pad, five pixels left of its middle.
const Pointer kPadPointer{QPoint(600, 168), "cbbMain_view", [](const QRect& r) { return QPoint(r.left() - 5, r.center().y()); }};
} // namespace

Wizard::Wizard(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::Wizard)
{
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    setAttribute(Qt::WA_TranslucentBackground);
    ui->stackedWidget->setCurrentWidget(ui->page);
    setPictures(AppData::instance()->getLanguage());
    if (parent)
        parent->window()->installEventFilter(this);
}

Wizard::~Wizard()
{
    delete ui;
}

// Any other language keeps the form's own (Chinese) pictures.
void Wizard::setPictures(int language)
{
    QString suffix;
    if (language == 1)
        suffix = QStringLiteral("cn");
    else if (language == 0)
        suffix = QStringLiteral("en");
    else
        return;
    const struct
    {
        QWidget* widget;
        const char* image;
    } pictures[] = {{ui->widget, "wizard-left"}, {ui->widget_2, "wizard-top"}, {ui->widget_3, "wizard-help"}};
    for (const auto& p : pictures)
        p.widget->setStyleSheet(QStringLiteral("#%1{background-image: url(:/new/%2-%3);}")
                                    .arg(p.widget->objectName(), QLatin1String(p.image), suffix));
}

void Wizard::on_btn_next1_clicked()
{
    ui->stackedWidget->setCurrentWidget(ui->page_2);
    pageState = 2;
    update();
}

void Wizard::on_btn_next2_clicked()
{
    ui->stackedWidget->setCurrentWidget(ui->page_3);
}

void Wizard::on_btn_finish_clicked()
{
    close();
}

void Wizard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), QColor(0, 0, 0, 128));
    if (pageState == 1)
        p.fillRect(kPanelHole, QColor(0, 0, 0, 0));
}

// The window resized or moved while the guide is open: the guide goes with it.
bool Wizard::eventFilter(QObject* watched, QEvent* event)
{
    if (parentWidget() && watched == parentWidget()->window() && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        setGeometry(parentWidget()->window()->geometry());
    return QDialog::eventFilter(watched, event);
}

void Wizard::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    placePictures();
}

// The second picture hangs from the file buttons, the third beside the direction pad; without
// the window (or its controls) they keep the form's corners.
void Wizard::placePictures()
{
    QWidget* host = parentWidget() ? parentWidget()->window() : nullptr;
    const auto offset = [this, host](const Pointer& p) {
        QWidget* c = host ? host->findChild<QWidget*>(QLatin1String(p.control)) : nullptr;
        if (!c || !c->isVisible())
            return QPoint(-1, -1);
        // The guide lies exactly over the window: the window's coordinates are the guide's.
        const QRect r(c->mapTo(host, QPoint(0, 0)), c->size());
        return p.target(r) - p.tip;
    };
    const QPoint top = offset(kToolbarPointer);
    if (top.x() >= 0 && top.y() >= 0)
        ui->page_2_h->setContentsMargins(top.x(), top.y(), 0, 0);
    const QPoint help = offset(kPadPointer);
    const int right = width() - help.x() - ui->widget_3->minimumWidth();
    if (help.x() >= 0 && help.y() >= 0 && right >= 0)
        ui->page_3_h->setContentsMargins(0, help.y(), right, 0);
}

void Wizard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
