// Draws the images of the message boxes and the small widgets, deterministically,
// so they can be remade and committed.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>

#include "artwork/ArtworkCommon.h"
#include <functional>

namespace {

bool save(const QImage& img, const QString& path)
{
    return Artwork::savePng(img, path);
}

using Artwork::blank;
using Artwork::sprite;

QImage dialogBack()
{
    QImage img(378, 172, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(img.rect(), QColor(0xf7, 0xf7, 0xf7));
    QLinearGradient g(0, 0, 0, 36);
    g.setColorAt(0, QColor(0xe9, 0xf6, 0xfb));
    g.setColorAt(1, QColor(0xcf, 0xea, 0xf4));
    p.fillRect(QRect(0, 0, 378, 36), g);
    p.setPen(QColor(0x29, 0xc2, 0xf5));
    p.drawLine(0, 36, 377, 36);
    p.setPen(QColor(0xb0, 0xb0, 0xb0));
    p.drawRect(0, 0, 377, 171);
    return img;
}

QImage dialogClose()
{
    const QColor colours[4] = {QColor(0x60, 0x60, 0x60), QColor(0xe0, 0x40, 0x40), QColor(0xa0, 0x20, 0x20),
                               QColor(0xc0, 0xc0, 0xc0)};
    return sprite(28, 28, [&](QPainter& p, int f) {
        if (f == 1 || f == 2)
            p.fillRect(QRect(2, 2, 24, 24), QColor(255, 255, 255, 120));
        p.setPen(QPen(colours[f], 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 9), QPointF(19, 19));
        p.drawLine(QPointF(19, 9), QPointF(9, 19));
    });
}

enum class Sign { Info, Warning, Error };

QImage icon(Sign s)
{
    QImage img = blank(47, 40);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = s == Sign::Info ? QColor(0x29, 0x9c, 0xe0) : s == Sign::Warning ? QColor(0xf0, 0xa8, 0x20)
                                                                                  : QColor(0xd0, 0x30, 0x30);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    if (s == Sign::Warning) {
        QPainterPath tri;
        tri.moveTo(23.5, 2);
        tri.lineTo(44, 37);
        tri.lineTo(3, 37);
        tri.closeSubpath();
        p.drawPath(tri);
    } else {
        p.drawEllipse(QRectF(5.5, 2, 36, 36));
    }
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    if (s == Sign::Info) {
        p.drawPoint(QPointF(23.5, 11));
        p.drawLine(QPointF(23.5, 18), QPointF(23.5, 30));
    } else if (s == Sign::Warning) {
        p.drawLine(QPointF(23.5, 14), QPointF(23.5, 25));
        p.drawPoint(QPointF(23.5, 31));
    } else {
        p.drawLine(QPointF(16.5, 13), QPointF(30.5, 27));
        p.drawLine(QPointF(30.5, 13), QPointF(16.5, 27));
    }
    return img;
}

// Frames of the step and yes/no buttons: normal, hover, checked, disabled.
QImage toggleSprite(int frameW, int frameH)
{
    const QColor fills[4] = {QColor(0x4a, 0x55, 0x60), QColor(0x5a, 0x68, 0x75), QColor(0x2c, 0x3a, 0x46),
                             QColor(0x88, 0x88, 0x88)};
    return sprite(frameW, frameH, [&](QPainter& p, int f) {
        p.setPen(f == 2 ? QPen(QColor(0x54, 0xc8, 0xea), 1.5) : QPen(QColor(0x30, 0x38, 0x40), 1));
        p.setBrush(fills[f]);
        p.drawRoundedRect(QRectF(1, 1, frameW - 2, frameH - 2), 3, 3);
    });
}

QImage waitSpinner()
{
    QImage img = blank(84, 84);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(42, 42);
    for (int i = 0; i < 12; ++i) {
        p.setPen(QPen(QColor(0x29, 0xc2, 0xf5, 40 + i * 18), 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -22), QPointF(0, -34));
        p.rotate(30);
    }
    return img;
}

QImage playSprite()
{
    // Frames 52 px apart: 0 play, 1 play disabled, 2 stop, 3 stop disabled.
    return sprite(52, 52, [](QPainter& p, int f) {
        const bool disabled = f == 1 || f == 3;
        p.setPen(Qt::NoPen);
        p.setBrush(disabled ? QColor(0x9a, 0x9a, 0x9a) : QColor(0x29, 0xc2, 0xf5));
        p.drawEllipse(QRectF(2, 2, 48, 48));
        p.setBrush(Qt::white);
        if (f < 2) {
            QPainterPath tri;
            tri.moveTo(20, 15);
            tri.lineTo(37, 26);
            tri.lineTo(20, 37);
            tri.closeSubpath();
            p.drawPath(tri);
        } else {
            p.drawRect(QRectF(18, 18, 16, 16));
        }
    });
}

QImage stepButton(bool plus)
{
    QImage img = blank(22, 22);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x30, 0x38, 0x40), 1));
    p.setBrush(QColor(0x4a, 0x55, 0x60));
    p.drawRoundedRect(QRectF(0.5, 0.5, 21, 21), 3, 3);
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(6, 11), QPointF(16, 11));
    if (plus)
        p.drawLine(QPointF(11, 6), QPointF(11, 16));
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = (argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources"))
                         + "/Resources/new";
    bool ok = true;
    ok &= save(dialogBack(), root + "/dialogback.png");
    ok &= save(dialogClose(), root + "/dialog_close.png");
    ok &= save(icon(Sign::Info), root + "/infor.png");
    ok &= save(icon(Sign::Warning), root + "/warning.png");
    ok &= save(icon(Sign::Error), root + "/error.png");
    ok &= save(toggleSprite(90, 34), root + "/btn_1.png");
    ok &= save(toggleSprite(90, 34), root + "/btn_5.png");
    ok &= save(toggleSprite(90, 34), root + "/btn_10.png");
    ok &= save(toggleSprite(60, 22), root + "/btn_yes.png");
    ok &= save(toggleSprite(60, 22), root + "/btn_no.png");
    ok &= save(waitSpinner(), root + "/wait.png");
    ok &= save(playSprite(), root + "/add/play.png");
    ok &= save(stepButton(false), root + "/add/dec.png");
    ok &= save(stepButton(true), root + "/add/add.png");
    return ok ? 0 : 1;
}
