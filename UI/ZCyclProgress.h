#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>

// A label that turns its picture about its centre, a step per timer tick.
class ZCyclProgress : public QLabel
{
    Q_OBJECT
public:
    ZCyclProgress(QString picturePath, int angleStep, QWidget* parent = nullptr);

    double currentAngle() const { return angle; }
    int animationTimer() const { return timerId; }

public slots:
    void startAnimation(int interval);
    void stopAnimation();
    void setCyclPixmap(QPixmap pixmap);

protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    int timerId = 0;
    int angleStep;
    QPixmap picture;
    double angle = 0.0;
};
