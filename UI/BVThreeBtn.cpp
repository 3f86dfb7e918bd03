#include "UI/BVThreeBtn.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

namespace {
QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, const char* image)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setFixedSize(66, 34);
    b->setCheckable(true);
    b->setStyleSheet(QStringLiteral("QPushButton { border-image: url(%1) 0 270 0 0; color: white; }\n"
                                    "QPushButton:hover { border-image: url(%1) 0 180 0 90; }\n"
                                    "QPushButton:checked { border-image: url(%1) 0 90 0 180; color: #54c8ea; }\n"
                                    "QPushButton:disabled { border-image: url(%1) 0 0 0 270; }")
                         .arg(QLatin1String(image)));
    return b;
}
} // namespace

BVThreeBtn::BVThreeBtn(QWidget* parent)
    : QWidget(parent)
{
    btn_1 = makeButton(this, "btn_1", QStringLiteral("1"), ":/new/btn_1");
    btn_2 = makeButton(this, "btn_2", QStringLiteral("5"), ":/new/btn_5");
    btn_3 = makeButton(this, "btn_3", QStringLiteral("10"), ":/new/btn_10");
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* b : {btn_1, btn_2, btn_3}) {
        group->addButton(b);
        layout->addWidget(b);
    }
    btn_2->setChecked(true);
    QMetaObject::connectSlotsByName(this);
}

void BVThreeBtn::setButtonTexts(QString first, QString second, QString third)
{
    btn_1->setText(first);
    btn_2->setText(second);
    btn_3->setText(third);
}

void BVThreeBtn::setText(QString text)
{
    Q_UNUSED(text);
}

void BVThreeBtn::on_btn_1_clicked()
{
    emit sendClicked(btn_1->text().toDouble());
}

void BVThreeBtn::on_btn_2_clicked()
{
    emit sendClicked(btn_2->text().toDouble());
}

void BVThreeBtn::on_btn_3_clicked()
{
    emit sendClicked(btn_3->text().toDouble());
}
