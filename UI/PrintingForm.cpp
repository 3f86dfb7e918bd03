#include "UI/PrintingForm.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "UI/MainWindow.h"
#include "scene/AppData.h"

namespace {

const char* const kLabelStyle = "color: #000000; font: 9pt \"微软雅黑\"; background: transparent;";

QLabel* makeLabel(QWidget* parent, const char* name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setStyleSheet(QLatin1String(kLabelStyle));
    return l;
}

QPushButton* makeButton(QWidget* parent, const char* name)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setFixedSize(18, 18);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

// A four-frame sprite as a border image: normal, hover, pressed, disabled.
QString spriteStyle(const QString& url)
{
    return QStringLiteral("QPushButton{border-image: url(%1) 0 54 0 0; border:none;}"
                          "QPushButton:hover{border-image: url(%1) 0 36 0 18;}"
                          "QPushButton:pressed{border-image: url(%1) 0 18 0 36;}"
                          "QPushButton:disabled{border-image: url(%1) 0 0 0 54;}")
        .arg(url);
}

} // namespace

void Ui_PrintingForm::setupUi(QWidget* form)
{
    form->setObjectName(QStringLiteral("PrintingForm"));
    form->setFixedWidth(192);
    form->setMinimumHeight(104);
    form->setMaximumHeight(150);
    auto* outer = new QVBoxLayout(form);
    outer->setContentsMargins(0, 0, 0, 0);
    widget = new QWidget(form);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setAttribute(Qt::WA_StyledBackground);
    widget->setStyleSheet(QStringLiteral("#widget{border-image: url(:/new/PrintingFormback);}"));
    outer->addWidget(widget);

    auto* grid = new QGridLayout(widget);
    grid->setContentsMargins(14, 8, 14, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    label = makeLabel(widget, "label");
    label_status = makeLabel(widget, "label_status");
    label_2 = makeLabel(widget, "label_2");
    label_extruder = makeLabel(widget, "label_extruder");
    label_6 = makeLabel(widget, "label_6");
    label_5 = makeLabel(widget, "label_5");
    label_bedtemp = makeLabel(widget, "label_bedtemp");
    label_8 = makeLabel(widget, "label_8");
    label_3 = makeLabel(widget, "label_3");
    label_progress = makeLabel(widget, "label_progress");
    label_7 = makeLabel(widget, "label_7");
    label_4 = makeLabel(widget, "label_4");
    btn_pause = makeButton(widget, "btn_pause");
    btn_stop = makeButton(widget, "btn_stop");
    btn_stop->setStyleSheet(spriteStyle(QStringLiteral(":/new/Resources/new/print/stop.png")));

    grid->addWidget(label, 0, 0);
    grid->addWidget(label_status, 0, 1, 1, 2);
    grid->addWidget(label_2, 1, 0);
    grid->addWidget(label_extruder, 1, 1);
    grid->addWidget(label_6, 1, 2);
    grid->addWidget(label_5, 2, 0);
    grid->addWidget(label_bedtemp, 2, 1);
    grid->addWidget(label_8, 2, 2);
    grid->addWidget(label_3, 3, 0);
    grid->addWidget(label_progress, 3, 1);
    grid->addWidget(label_7, 3, 2);
    grid->addWidget(label_4, 4, 0);
    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(10);
    buttons->addWidget(btn_pause);
    buttons->addWidget(btn_stop);
    buttons->addStretch();
    grid->addLayout(buttons, 4, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    label_status->setText(QStringLiteral("Printing"));
    label_extruder->setText(QStringLiteral("0"));
    label_bedtemp->setText(QStringLiteral("0"));
    label_progress->setText(QStringLiteral("0"));
    retranslateUi(form);
    QMetaObject::connectSlotsByName(form);
}

void Ui_PrintingForm::retranslateUi(QWidget* form)
{
    form->setWindowTitle(QCoreApplication::translate("PrintingForm", "Form"));
    label->setText(QCoreApplication::translate("PrintingForm", "State:"));
    label_2->setText(QCoreApplication::translate("PrintingForm", "Temp:"));
    label_6->setText(QStringLiteral("℃"));
    label_5->setText(QCoreApplication::translate("PrintingForm", "BedTemp:"));
    label_8->setText(QStringLiteral("℃"));
    label_3->setText(QCoreApplication::translate("PrintingForm", "Progress:"));
    label_7->setText(QStringLiteral("%"));
    label_4->setText(QCoreApplication::translate("PrintingForm", "Ctrl:"));
}

PrintingForm::PrintingForm(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    setPauseSprite();
    if (ThreadPool* pool = ThreadPool::instance()) {
        CommunicateThread* link = pool->linkWorker();
        connect(this, &PrintingForm::signStopPrint, link, &CommunicateThread::stopPrint, Qt::QueuedConnection);
        connect(this, &PrintingForm::signPausePrint, link, &CommunicateThread::pausePrint, Qt::QueuedConnection);
        connect(this, &PrintingForm::signRestorePrint, link, &CommunicateThread::restorePrint,
                Qt::QueuedConnection);
        connect(link, &CommunicateThread::signPrintStatus, this, &PrintingForm::printStatus, Qt::QueuedConnection);
        connect(link, &CommunicateThread::linkStatus, this, &PrintingForm::onLinkStatus, Qt::QueuedConnection);
    }
    hide();
}

void PrintingForm::onLinkStatus(bool up)
{
    if (up)
        return;
    // The print cannot be followed any more; a later report shows the panel afresh.
    if (isVisible())
        setLanguageButtonEnabled(true);
    hide();
}

void PrintingForm::printStatus(SendPrintStatus s)
{
    const int type = AppData::instance()->getChoiceType();
    const bool bedShown = !(type == 1 || type == 2);
    for (QWidget* w : {static_cast<QWidget*>(ui.label_5), static_cast<QWidget*>(ui.label_bedtemp),
                       static_cast<QWidget*>(ui.label_8)})
        w->setVisible(bedShown);

    if (s.ended) {
        setLanguageButtonEnabled(true);
        hide();
        return;
    }
    if (isHidden()) {
        // A print has just begun.
        ui.label_progress->setText(QStringLiteral("0.00"));
        ui.label_extruder->setText(QStringLiteral("0"));
        setButtonsEnabled(true);
        ui.label_status->setText(tr("Printing"));
        paused = false;
        setPauseSprite();
        show();
        raise();
        setLanguageButtonEnabled(false);
    }
    paused = s.paused;
    ui.label_status->setText(paused ? tr("Pause") : tr("Printing"));
    setButtonsEnabled(true);
    setPauseSprite();
    ui.label_progress->setText(QString::number(s.progress / 100.0, 'f', 2));
    ui.label_extruder->setText(QString::number(s.nozzleTemp));
    ui.label_bedtemp->setText(QString::number(s.bedTemp));
    adjustSize();
}

void PrintingForm::on_btn_stop_clicked()
{
    BrevMessageBox box(6, parentWidget());
    if (box.exec() != 1)
        return;
    emit signStopPrint();
    setButtonsEnabled(false);
    ui.label_status->setText(tr("Wait Stop"));
}

void PrintingForm::on_btn_pause_clicked()
{
    BrevMessageBox box(paused ? 9 : 8, parentWidget());
    if (box.exec() != 1)
        return;
    if (paused)
        emit signRestorePrint();
    else
        emit signPausePrint();
    setPauseSprite();
    setButtonsEnabled(false);
}

void PrintingForm::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::LanguageChange) {
        ui.retranslateUi(this);
        ui.label_status->setText(paused ? tr("Pause") : tr("Printing"));
    }
    QWidget::changeEvent(e);
}

void PrintingForm::setPauseSprite()
{
    ui.btn_pause->setStyleSheet(spriteStyle(paused ? QStringLiteral(":/new/Resources/new/print/start.png")
                                                   : QStringLiteral(":/new/Resources/new/print/pause.png")));
}

void PrintingForm::setButtonsEnabled(bool on)
{
    ui.btn_pause->setEnabled(on);
    ui.btn_stop->setEnabled(on);
}

void PrintingForm::setLanguageButtonEnabled(bool on)
{
    if (auto* w = qobject_cast<MainWindow*>(window()))
        w->setLanguageButtonEnabled(on);
}
