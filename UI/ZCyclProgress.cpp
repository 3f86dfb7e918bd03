#include "UI/ZCyclProgress.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

ZCyclProgress::ZCyclProgress(QString picturePath, int step, QWidget* parent)
    : QLabel(parent)
    , angleStep(step)
    , picture(picturePath)
{
    setFixedSize(picture.size());
}

void ZCyclProgress::startAnimation(int interval)
{
    if (timerId == 0)
        timerId = startTimer(interval, Qt::CoarseTimer);
    show();
}

void ZCyclProgress::stopAnimation()
{
    if (timerId != 0) {
        killTimer(timerId);
        timerId = 0;
    }
    hide();
}

void ZCyclProgress::setCyclPixmap(QPixmap pixmap)
{
    picture = pixmap;
    update();
}

void ZCyclProgress::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timerId || timerId == 0) {
        QLabel::timerEvent(event);
        return;
    }
    angle += angleStep;
    if (angle >= 360.0)
        angle -= 360.0;
    update();
}

void ZCyclProgress::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QPointF centre(picture.width() / 2.0, picture.height() / 2.0);
    p.translate(centre);
    p.rotate(angle);
    p.translate(-centre);
    p.drawPixmap(0, 0, picture);
}

void ZCyclProgress::mouseMoveEvent(QMouseEvent* event)
{
    event->ignore();
}
