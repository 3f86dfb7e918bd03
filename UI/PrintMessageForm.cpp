#include "UI/PrintMessageForm.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>

#include "Thread/FileRWThread.h"
#include "Thread/ThreadPool.h"

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, int x, int y)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(x, y, 70, 30);
    l->setFixedSize(70, 30);
    l->setStyleSheet(QStringLiteral("color: #000000; font: 9pt \"微软雅黑\"; background: transparent;"));
    return l;
}

} // namespace

void Ui_PrintMessageForm::setupUi(QWidget* form)
{
    form->setObjectName(QStringLiteral("PrintMessageForm"));
    form->setFixedSize(192, 64);
    widget = new QWidget(form);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setGeometry(0, 0, 192, 64);
    widget->setAttribute(Qt::WA_StyledBackground);
    widget->setStyleSheet(QStringLiteral("#widget{border-image: url(:/new/PrintMessageFormback);}"));
    label_3 = makeLabel(widget, "label_3", 16, 3);
    label_printtime = makeLabel(widget, "label_printtime", 96, 3);
    label = makeLabel(widget, "label", 16, 31);
    label_length = makeLabel(widget, "label_length", 96, 31);
    label_printtime->setText(QStringLiteral("0"));
    label_length->setText(QStringLiteral("0"));
    retranslateUi(form);
}

void Ui_PrintMessageForm::retranslateUi(QWidget* form)
{
    form->setWindowTitle(QCoreApplication::translate("PrintMessageForm", "Form"));
    label_3->setText(QCoreApplication::translate("PrintMessageForm", "Print Time:"));
    label->setText(QCoreApplication::translate("PrintMessageForm", "Materials:"));
}

PrintMessageForm::PrintMessageForm(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    // Clicks and wheel turns belong to the view below.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (ThreadPool* pool = ThreadPool::instance())
        connect(pool->fileWorker(), &FileRWThread::signPrintMessage, this, &PrintMessageForm::setPrintMessage);
}

void PrintMessageForm::setPrintMessage(QString time, QString length)
{
    ui.label_printtime->setText(time);
    ui.label_length->setText(length + QStringLiteral("mm"));
}

void PrintMessageForm::hideMessage()
{
    hide();
}

void PrintMessageForm::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::LanguageChange)
        ui.retranslateUi(this);
    QWidget::changeEvent(e);
}
