#include "UI/BVDoubleSpinBox.h"

#include <QKeyEvent>

#include "UI/BVSpinBox.h"
#include "app/QsLog.h"

BVDoubleSpinBox::BVDoubleSpinBox(QWidget* parent)
    : QDoubleSpinBox(parent)
{
}

void BVDoubleSpinBox::keyPressEvent(QKeyEvent* event)
{
    QLOG_DEBUG() << "key id =" << event->key();
    if (!BVSpinBox::applyKeyRule(event, text(), digitLimit, true))
        QDoubleSpinBox::keyPressEvent(event);
}
