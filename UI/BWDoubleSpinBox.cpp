#include "UI/BWDoubleSpinBox.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QPushButton>

namespace {
QPushButton* makeButton(QWidget* parent, const char* name, const char* image)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setFixedSize(22, 22);
    b->setStyleSheet(QStringLiteral("border-image: url(%1);").arg(QLatin1String(image)));
    return b;
}
} // namespace

BWDoubleSpinBox::BWDoubleSpinBox(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(24);
    btn_dec = makeButton(this, "btn_dec", ":/add/Resources/new/add/dec.png");
    doubleSpinBox = new QDoubleSpinBox(this);
    doubleSpinBox->setObjectName(QStringLiteral("doubleSpinBox"));
    doubleSpinBox->setFixedHeight(22);
    doubleSpinBox->setAlignment(Qt::AlignCenter);
    doubleSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    btn_add = makeButton(this, "btn_add", ":/add/Resources/new/add/add.png");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 1, 0, 1);
    layout->setSpacing(2);
    layout->addWidget(btn_dec);
    layout->addWidget(doubleSpinBox);
    layout->addWidget(btn_add);
    connect(btn_add, &QPushButton::clicked, doubleSpinBox, &QDoubleSpinBox::stepUp);
    connect(btn_dec, &QPushButton::clicked, doubleSpinBox, &QDoubleSpinBox::stepDown);
    connect(doubleSpinBox, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &BWDoubleSpinBox::valueChanged);
}

void BWDoubleSpinBox::setSingleStep(double step) { doubleSpinBox->setSingleStep(step); }
void BWDoubleSpinBox::setSuffix(const QString& suffix) { doubleSpinBox->setSuffix(suffix); }
void BWDoubleSpinBox::setMinimum(double min) { doubleSpinBox->setMinimum(min); }
void BWDoubleSpinBox::setMaximum(double max) { doubleSpinBox->setMaximum(max); }
void BWDoubleSpinBox::setValue(double value) { doubleSpinBox->setValue(value); }
void BWDoubleSpinBox::setAlignment(Qt::Alignment alignment) { doubleSpinBox->setAlignment(alignment); }
void BWDoubleSpinBox::setDecimals(int decimals) { doubleSpinBox->setDecimals(decimals); }
QString BWDoubleSpinBox::text() const { return doubleSpinBox->text(); }
