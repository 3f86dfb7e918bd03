// Draws the images of the print panels and the settings window, deterministically, so they
// can be remade and committed. The tray animation is written as a GIF by a small encoder
// here, since Qt reads GIF but cannot write it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>

#include "artwork/ArtworkCommon.h"
#include <functional>
#include <vector>

namespace {

QString g_root;

bool save(const QImage& img, const QString& rel)
{
    return Artwork::savePng(img, g_root + "/" + rel);
}

using Artwork::blank;
using Artwork::sprite;

const QColor kFill[4] = {QColor(0x29, 0xc2, 0xf5), QColor(0x5c, 0xd3, 0xfa), QColor(0x18, 0x95, 0xc4),
                         QColor(0xb8, 0xb8, 0xb8)};

QImage panelBack(int w, int h)
{
    QImage img = blank(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(255, 255, 255, 235));
    g.setColorAt(1, QColor(232, 240, 245, 235));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x29, 0xc2, 0xf5), 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 6, 6);
    return img;
}

// Pause: two bars; start: a triangle. 18 x 18 frames.
QImage playSprite(bool pause)
{
    return sprite(18, 18, [pause](QPainter& p, int f) {
        p.setPen(Qt::NoPen);
        p.setBrush(kFill[f]);
        p.drawEllipse(QRectF(0.5, 0.5, 17, 17));
        p.setBrush(Qt::white);
        if (pause) {
            p.drawRect(QRectF(6, 5, 2, 8));
            p.drawRect(QRectF(10, 5, 2, 8));
        } else {
            QPainterPath t;
            t.moveTo(7, 5);
            t.lineTo(13, 9);
            t.lineTo(7, 13);
            t.closeSubpath();
            p.drawPath(t);
        }
    });
}

QImage stopSprite()
{
    return sprite(18, 18, [](QPainter& p, int f) {
        p.setPen(Qt::NoPen);
        p.setBrush(f == 3 ? kFill[3] : QColor(0xe0 - f * 0x10, 0x50, 0x50));
        p.drawEllipse(QRectF(0.5, 0.5, 17, 17));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6, 6, 6, 6));
    });
}

// The jog cross: a round pad the five buttons sit on.
QImage levelingBack()
{
    QImage img = blank(180, 180);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xc8, 0xd4, 0xdc), 2));
    p.setBrush(QColor(0xee, 0xf3, 0xf6));
    p.drawEllipse(QRectF(2, 2, 176, 176));
    p.setPen(QPen(QColor(0xd6, 0xe0, 0xe6), 1, Qt::DashLine));
    p.drawLine(90, 14, 90, 166);
    p.drawLine(14, 90, 166, 90);
    return img;
}

QImage levelingZBack()
{
    QImage img = blank(60, 180);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xc8, 0xd4, 0xdc), 2));
    p.setBrush(QColor(0xee, 0xf3, 0xf6));
    p.drawRoundedRect(QRectF(2, 2, 56, 176), 26, 26);
    return img;
}

// A round jog button with an arrow (angle in degrees, 0 pointing up) or, for the origin, a house.
QImage jogSprite(int angle, bool origin)
{
    return sprite(44, 44, [=](QPainter& p, int f) {
        p.setPen(Qt::NoPen);
        p.setBrush(kFill[f]);
        p.drawEllipse(QRectF(2, 2, 40, 40));
        p.setBrush(Qt::white);
        p.translate(22, 22);
        if (origin) {
            QPainterPath h;
            h.moveTo(0, -11);
            h.lineTo(11, 0);
            h.lineTo(7, 0);
            h.lineTo(7, 9);
            h.lineTo(-7, 9);
            h.lineTo(-7, 0);
            h.lineTo(-11, 0);
            h.closeSubpath();
            p.drawPath(h);
            return;
        }
        p.rotate(angle);
        QPainterPath a;
        a.moveTo(0, -12);
        a.lineTo(10, 0);
        a.lineTo(4, 0);
        a.lineTo(4, 11);
        a.lineTo(-4, 11);
        a.lineTo(-4, 0);
        a.lineTo(-10, 0);
        a.closeSubpath();
        p.drawPath(a);
    });
}

// The tray buttons: a spool with an arrow into it (in) or out of it (out). 80 x 80 frames.
QImage traySprite(bool in)
{
    return sprite(80, 80, [in](QPainter& p, int f) {
        p.setPen(QPen(f == 2 ? QColor(0x18, 0x95, 0xc4) : QColor(0xc8, 0xd4, 0xdc), 2));
        p.setBrush(f == 1 ? QColor(0xe6, 0xf7, 0xfd) : QColor(0xf7, 0xf7, 0xf7));
        p.drawRoundedRect(QRectF(2, 2, 76, 76), 8, 8);
        const QColor c = kFill[f];
        p.setPen(QPen(c, 3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(40, 44), 20, 20);
        p.drawEllipse(QPointF(40, 44), 6, 6);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        QPainterPath a;
        if (in) {
            a.moveTo(40, 30);
            a.lineTo(30, 18);
            a.lineTo(50, 18);
        } else {
            a.moveTo(40, 8);
            a.lineTo(30, 20);
            a.lineTo(50, 20);
        }
        a.closeSubpath();
        p.drawPath(a);
    });
}

QImage qualitySprite()
{
    return sprite(56, 56, [](QPainter& p, int f) {
        p.setPen(QPen(f == 2 ? QColor(0x54, 0xc8, 0xea) : QColor(0xc8, 0xd4, 0xdc), 3));
        p.setBrush(f == 3 ? QColor(0xdd, 0xdd, 0xdd) : f == 1 ? QColor(0xe6, 0xf7, 0xfd) : QColor(0xff, 0xff, 0xff));
        p.drawEllipse(QRectF(3, 3, 50, 50));
        p.setPen(Qt::NoPen);
        p.setBrush(f == 2 ? QColor(0x54, 0xc8, 0xea) : QColor(0x90, 0xa0, 0xaa));
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(16, 18 + i * 8, 24, 4));
    });
}

QImage closeSprite()
{
    const QColor colours[4] = {QColor(0x60, 0x60, 0x60), QColor(0xe0, 0x40, 0x40), QColor(0xa0, 0x20, 0x20),
                               QColor(0xc0, 0xc0, 0xc0)};
    return sprite(28, 28, [&](QPainter& p, int f) {
        p.setPen(QPen(colours[f], 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 9), QPointF(19, 19));
        p.drawLine(QPointF(19, 9), QPointF(9, 19));
    });
}

// --- GIF writer: one global palette, every frame whole; codes stay 9 bits wide because the
// code table is cleared long before it would grow.

void putWord(QByteArray& b, int v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

QByteArray lzwStream(const std::vector<uchar>& pixels)
{
    QByteArray out;
    quint32 acc = 0;
    int bits = 0;
    auto put = [&](int code) {
        acc |= quint32(code) << bits;
        bits += 9;
        while (bits >= 8) {
            out.append(char(acc & 0xff));
            acc >>= 8;
            bits -= 8;
        }
    };
    const int clear = 256, end = 257;
    put(clear);
    int sinceClear = 0;
    for (uchar px : pixels) {
        put(px);
        if (++sinceClear == 250) {
            put(clear);
            sinceClear = 0;
        }
    }
    put(end);
    if (bits > 0)
        out.append(char(acc & 0xff));
    return out;
}

bool writeGif(const QVector<QImage>& frames, const QVector<QRgb>& palette, int delayCs, const QString& rel)
{
    const int w = frames.first().width(), h = frames.first().height();
    QByteArray b("GIF89a");
    putWord(b, w);
    putWord(b, h);
    b.append(char(0xf7)); // global table of 256 entries
    b.append(char(0));
    b.append(char(0));
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
        b.append(char(qRed(c)));
        b.append(char(qGreen(c)));
        b.append(char(qBlue(c)));
    }
    // Loop for ever.
    b.append("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (const QImage& frame : frames) {
        b.append("\x21\xf9\x04\x00", 4);
        putWord(b, delayCs);
        b.append("\x00\x00", 2);
        b.append(char(0x2c));
        putWord(b, 0);
        putWord(b, 0);
        putWord(b, w);
        putWord(b, h);
        b.append(char(0));
        b.append(char(8));
        std::vector<uchar> pixels;
        pixels.reserve(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels.push_back(uchar(frame.pixelIndex(x, y)));
        const QByteArray data = lzwStream(pixels);
        for (int i = 0; i < data.size(); i += 255) {
            const int n = qMin(255, data.size() - i);
            b.append(char(n));
            b.append(data.constData() + i, n);
        }
        b.append(char(0));
    }
    b.append(char(0x3b));
    const QString path = g_root + "/" + rel;
    QDir().mkpath(path.section('/', 0, -2));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(b) != b.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A turning spool with a strand running off it: eight frames.
bool trayMovie()
{
    QVector<QRgb> palette;
    for (int i = 0; i < 16; ++i) // white to the house blue
        palette << qRgb(255 - (255 - 0x29) * i / 15, 255 - (255 - 0xc2) * i / 15, 255 - (255 - 0xf5) * i / 15);
    QVector<QImage> frames;
    for (int n = 0; n < 8; ++n) {
        QImage rgb(64, 64, QImage::Format_RGB32);
        rgb.fill(Qt::white);
        QPainter p(&rgb);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x29, 0xc2, 0xf5), 3));
        p.drawEllipse(QPointF(32, 28), 20, 20);
        p.translate(32, 28);
        p.rotate(n * 45.0 / 2);
        for (int s = 0; s < 4; ++s) {
            p.drawLine(QPointF(0, 0), QPointF(0, -18));
            p.rotate(90);
        }
        p.resetTransform();
        p.setPen(QPen(QColor(0x29, 0xc2, 0xf5), 2, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        QPen dash = p.pen();
        dash.setDashOffset(n);
        p.setPen(dash);
        p.drawLine(QPointF(52, 28), QPointF(52, 62));
        p.end();
        frames << rgb.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
    }
    return writeGif(frames, palette, 10, "Resources/new/setting/tary_in_out.gif");
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    bool ok = true;
    ok &= save(panelBack(192, 150), "Resources/new/print/PrintingFormback.png");
    ok &= save(panelBack(192, 64), "Resources/new/print/PrintMessageFormback.png");
    ok &= save(playSprite(true), "Resources/new/print/pause.png");
    ok &= save(playSprite(false), "Resources/new/print/start.png");
    ok &= save(stopSprite(), "Resources/new/print/stop.png");
    ok &= save(levelingBack(), "Resources/new/setting/levelingback.png");
    ok &= save(levelingZBack(), "Resources/new/setting/levelingZback.png");
    ok &= save(jogSprite(0, false), "Resources/new/setting/jog_up.png");
    ok &= save(jogSprite(180, false), "Resources/new/setting/jog_down.png");
    ok &= save(jogSprite(270, false), "Resources/new/setting/jog_left.png");
    ok &= save(jogSprite(90, false), "Resources/new/setting/jog_right.png");
    ok &= save(jogSprite(0, true), "Resources/new/setting/jog_origin.png");
    ok &= save(traySprite(true), "Resources/new/setting/taryIN.png");
    ok &= save(traySprite(false), "Resources/new/setting/taryOUT.png");
    ok &= save(qualitySprite(), "Resources/new/setting/quality.png");
    ok &= save(closeSprite(), "Resources/new/setting/close.png");
    ok &= trayMovie();
    return ok ? 0 : 1;
}
