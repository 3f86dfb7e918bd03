#include "UI/BVPushBtn.h"

BVPushBtn::BVPushBtn(QWidget* parent)
    : QPushButton(parent)
{
}

void BVPushBtn::mouseDoubleClickEvent(QMouseEvent* event)
{
    Q_UNUSED(event);
    emit DblClick();
}
