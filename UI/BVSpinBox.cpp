#include "UI/BVSpinBox.h"

#include <QKeyEvent>

BVSpinBox::BVSpinBox(QWidget* parent)
    : QSpinBox(parent)
{
}

bool BVSpinBox::applyKeyRule(QKeyEvent* event, const QString& text, int limit, bool strict)
{
    const int key = event->key();
    if (key == Qt::Key_Enter || key == Qt::Key_Return) {
        event->accept();
        return true;
    }
    if (key == Qt::Key_Plus) {
        event->ignore();
        return true;
    }
    if (key == Qt::Key_0) {
        const bool longEnough = strict ? text.length() > limit : text.length() >= limit;
        if (longEnough && text.toInt() == 0) {
            event->accept();
            return true;
        }
    }
    return false;
}

void BVSpinBox::keyPressEvent(QKeyEvent* event)
{
    if (!applyKeyRule(event, text(), digitLimit, false))
        QSpinBox::keyPressEvent(event);
}
