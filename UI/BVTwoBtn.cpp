#include "UI/BVTwoBtn.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

namespace {
QPushButton* makeButton(QWidget* parent, const char* name, const char* image)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setFixedSize(60, 22);
    b->setCheckable(true);
    b->setStyleSheet(QStringLiteral("QPushButton { border-image: url(%1) 0 180 0 0; color: white; }\n"
                                    "QPushButton:hover { border-image: url(%1) 0 120 0 60; }\n"
                                    "QPushButton:checked { border-image: url(%1) 0 60 0 120; color: #54c8ea; }\n"
                                    "QPushButton:disabled { border-image: url(%1) 0 0 0 180; }")
                         .arg(QLatin1String(image)));
    return b;
}
} // namespace

BVTwoBtn::BVTwoBtn(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(120, 22);
    btn_yes = makeButton(this, "btn_yes", ":/new/btn_yes");
    btn_no = makeButton(this, "btn_no", ":/new/btn_no");
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(btn_yes);
    group->addButton(btn_no);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(btn_yes);
    layout->addWidget(btn_no);
    btn_yes->setChecked(true);
    QMetaObject::connectSlotsByName(this);
}

void BVTwoBtn::setButtons(QString no, QString yes, int noV, int yesV)
{
    noText = no;
    yesText = yes;
    noValue = noV;
    yesValue = yesV;
    btn_no->setText(no);
    btn_yes->setText(yes);
}

int BVTwoBtn::value() const
{
    return btn_yes->isChecked() ? yesValue : noValue;
}

void BVTwoBtn::setValue(int v)
{
    if (v == noValue)
        btn_no->setChecked(true);
    else if (v == yesValue)
        btn_yes->setChecked(true);
}

void BVTwoBtn::setYesChecked(bool yes)
{
    // In an exclusive pair, unchecking one means checking the other.
    (yes ? btn_yes : btn_no)->setChecked(true);
}

void BVTwoBtn::on_btn_yes_clicked()
{
    emit sendClicked(btn_yes->isChecked());
}

void BVTwoBtn::on_btn_no_clicked()
{
    emit sendClicked(btn_yes->isChecked());
}
