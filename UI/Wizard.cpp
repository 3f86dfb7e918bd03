#include "UI/Wizard.h"

#include "ui_Wizard.h"

#include "scene/AppData.h"

#include <QPainter>

namespace {
// Where the main window's left panel lies under the first page.
const QRect kPanelHole(QPoint(1, 78), QPoint(214, 510));
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

void Wizard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
