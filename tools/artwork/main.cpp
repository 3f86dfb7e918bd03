// Draws the program's own images, deterministically, so they can be remade and committed.
#include <QGuiApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <utility>
#include <cstdio>

#include "artwork/ArtworkCommon.h"

namespace {

bool save(const QImage& img, const QString& path)
{
    return Artwork::savePng(img, path);
}

QImage splash()
{
    QImage img(640, 360, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 360);
    g.setColorAt(0, QColor(0x41, 0x50, 0x5e));
    g.setColorAt(1, QColor(0x1c, 0x2c, 0x36));
    p.fillRect(img.rect(), g);
    // A stylised nozzle over stacked layers.
    for (int i = 0; i < 8; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(72 + i * 6, 133 + i * 4, 174 + i * 3));
        p.drawRoundedRect(QRectF(200 + i * 6, 250 - i * 14, 240 - i * 12, 11), 4, 4);
    }
    QPainterPath nozzle;
    nozzle.moveTo(300, 60);
    nozzle.lineTo(340, 60);
    nozzle.lineTo(340, 110);
    nozzle.lineTo(326, 130);
    nozzle.lineTo(314, 130);
    nozzle.lineTo(300, 110);
    nozzle.closeSubpath();
    p.setBrush(QColor(203, 34, 32));
    p.drawPath(nozzle);
    p.setPen(QColor(240, 240, 240));
    QFont f("DejaVu Sans", 34, QFont::Bold);
    p.setFont(f);
    p.drawText(QRectF(0, 140, 640, 60), Qt::AlignCenter, "Brevant");
    f.setPointSize(12);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRectF(0, 310, 640, 30), Qt::AlignCenter, "Tarni 3.0.7");
    return img;
}


// Four frames side by side: normal, hover, pressed or checked, disabled.
using IconPainter = void (*)(QPainter&, const QRectF&, const QColor&);

QImage sprite(int w, int h, IconPainter icon, const QString& label = QString())
{
    QImage img(w * 4, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor backs[4] = {QColor(0, 0, 0, 0), QColor(255, 255, 255, 40), QColor(0, 0, 0, 60), QColor(0, 0, 0, 0)};
    const QColor fores[4] = {QColor(240, 244, 246), QColor(255, 255, 255), QColor(85, 199, 235), QColor(120, 130, 138)};
    for (int f = 0; f < 4; ++f) {
        const QRectF frame(f * w, 0, w, h);
        p.setPen(Qt::NoPen);
        p.setBrush(backs[f]);
        p.drawRoundedRect(frame.adjusted(2, 2, -2, -2), 6, 6);
        const qreal side = qMin<qreal>(w, label.isEmpty() ? h : h - 18) * 0.55;
        const QRectF box(frame.center().x() - side / 2, (label.isEmpty() ? frame.center().y() : (h - 18) / 2.0) - side / 2, side, side);
        icon(p, box, fores[f]);
        if (!label.isEmpty()) {
            p.setPen(fores[f]);
            QFont font("DejaVu Sans", 8);
            p.setFont(font);
            p.drawText(QRectF(frame.left(), h - 20, w, 16), Qt::AlignCenter, label);
        }
    }
    return img;
}

void penFor(QPainter& p, const QColor& c, qreal width = 2.5)
{
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
}

void iconOpen(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c);
    QPainterPath path;
    path.moveTo(r.left(), r.bottom());
    path.lineTo(r.left(), r.top() + r.height() * 0.15);
    path.lineTo(r.left() + r.width() * 0.4, r.top() + r.height() * 0.15);
    path.lineTo(r.left() + r.width() * 0.5, r.top() + r.height() * 0.3);
    path.lineTo(r.right(), r.top() + r.height() * 0.3);
    path.lineTo(r.right(), r.bottom());
    path.closeSubpath();
    p.drawPath(path);
}

void iconSave(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c);
    p.drawRoundedRect(r, 3, 3);
    p.drawRect(QRectF(r.left() + r.width() * 0.25, r.top(), r.width() * 0.5, r.height() * 0.3));
    p.drawRect(QRectF(r.left() + r.width() * 0.2, r.top() + r.height() * 0.55, r.width() * 0.6, r.height() * 0.45));
}

void iconExport(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c);
    const qreal cx = r.center().x();
    p.drawLine(QPointF(cx, r.top()), QPointF(cx, r.top() + r.height() * 0.65));
    p.drawLine(QPointF(cx - r.width() * 0.2, r.top() + r.height() * 0.45), QPointF(cx, r.top() + r.height() * 0.65));
    p.drawLine(QPointF(cx + r.width() * 0.2, r.top() + r.height() * 0.45), QPointF(cx, r.top() + r.height() * 0.65));
    p.drawLine(QPointF(r.left(), r.bottom()), QPointF(r.right(), r.bottom()));
}

void iconSlice(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c);
    for (int i = 0; i < 4; ++i) {
        const qreal y = r.top() + r.height() * (0.15 + 0.25 * i);
        const qreal inset = r.width() * 0.08 * (3 - i);
        p.drawLine(QPointF(r.left() + inset, y), QPointF(r.right() - inset, y));
    }
}

void iconSliceIn(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c);
    p.drawRect(r.adjusted(r.width() * 0.15, r.height() * 0.15, -r.width() * 0.15, -r.height() * 0.15));
    p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
}

void iconGear(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c);
    const QPointF o = r.center();
    const qreal R = r.width() * 0.45, rIn = r.width() * 0.18;
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * M_PI / 4;
        p.drawLine(QPointF(o.x() + std::cos(a) * R * 0.65, o.y() + std::sin(a) * R * 0.65),
                   QPointF(o.x() + std::cos(a) * R, o.y() + std::sin(a) * R));
    }
    p.drawEllipse(o, R * 0.65, R * 0.65);
    p.drawEllipse(o, rIn, rIn);
}

void iconDropdown(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c, 2);
    p.drawLine(QPointF(r.left(), r.top() + r.height() * 0.3), QPointF(r.center().x(), r.top() + r.height() * 0.7));
    p.drawLine(QPointF(r.right(), r.top() + r.height() * 0.3), QPointF(r.center().x(), r.top() + r.height() * 0.7));
}

void iconMin(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c, 2);
    p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
}

void iconMax(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c, 2);
    p.drawRect(r);
}

void iconRestore(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c, 2);
    p.drawRect(r.adjusted(0, r.height() * 0.3, -r.width() * 0.3, 0));
    p.drawLine(QPointF(r.left() + r.width() * 0.3, r.top() + r.height() * 0.3), QPointF(r.left() + r.width() * 0.3, r.top()));
    p.drawLine(QPointF(r.left() + r.width() * 0.3, r.top()), QPointF(r.right(), r.top()));
    p.drawLine(QPointF(r.right(), r.top()), QPointF(r.right(), r.top() + r.height() * 0.7));
    p.drawLine(QPointF(r.right(), r.top() + r.height() * 0.7), QPointF(r.right() - r.width() * 0.3, r.top() + r.height() * 0.7));
}

void iconClose(QPainter& p, const QRectF& r, const QColor& c)
{
    penFor(p, c, 2);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

void iconLetters(QPainter& p, const QRectF& r, const QColor& c, const QString& text)
{
    p.setPen(c);
    QFont f("DejaVu Sans", 1, QFont::Bold);
    f.setPixelSize(int(r.height() * 0.7));
    p.setFont(f);
    p.drawText(r.adjusted(-r.width(), 0, r.width(), 0), Qt::AlignCenter, text);
}
void iconEnglish(QPainter& p, const QRectF& r, const QColor& c) { iconLetters(p, r, c, "EN"); }
void iconChinese(QPainter& p, const QRectF& r, const QColor& c) { iconLetters(p, r, c, QString::fromUtf8("\u4e2d")); }

QImage titleBack()
{
    QImage img(1200, 78, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 78);
    g.setColorAt(0, QColor(0x2a, 0x3a, 0x46));
    g.setColorAt(1, QColor(0x1c, 0x2c, 0x36));
    p.fillRect(img.rect(), g);
    p.setPen(QColor(0x54, 0xc8, 0xea));
    p.drawLine(0, 77, 1200, 77);
    return img;
}

QImage logo()
{
    QImage img(160, 60, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(84, 200, 234));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(6, 12, 36, 36));
    p.setPen(QColor(255, 255, 255));
    QFont f("DejaVu Sans", 1, QFont::Bold);
    f.setPixelSize(22);
    p.setFont(f);
    p.drawText(QRectF(6, 12, 36, 36), Qt::AlignCenter, "B");
    f.setPixelSize(20);
    p.setFont(f);
    p.drawText(QRectF(48, 0, 112, 60), Qt::AlignVCenter | Qt::AlignLeft, "Brevant");
    return img;
}

QImage light(bool on)
{
    QImage img(24, 24, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(12, 12, 11);
    g.setColorAt(0, on ? QColor(140, 255, 140) : QColor(255, 150, 150));
    g.setColorAt(1, on ? QColor(20, 160, 40) : QColor(170, 30, 30));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(2, 2, 20, 20));
    return img;
}

QImage menuBack()
{
    QImage img(142, 200, QImage::Format_ARGB32);
    img.fill(QColor(0x41, 0x50, 0x5e));
    QPainter p(&img);
    p.setPen(QColor(0x54, 0xc8, 0xea));
    p.drawRect(0, 0, 141, 199);
    return img;
}

QImage printSprite()
{
    // Two frames side by side, as the button cuts them: enabled left, disabled right (52 x 52 each).
    QImage img(104, 52, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int f = 0; f < 2; ++f) {
        p.setPen(Qt::NoPen);
        p.setBrush(f == 0 ? QColor(84, 200, 234) : QColor(150, 150, 150));
        p.drawEllipse(QRectF(2 + f * 52, 2, 48, 48));
        iconSave(p, QRectF(15 + f * 52, 15, 22, 22), QColor(255, 255, 255));
    }
    return img;
}

// The support-delete cursor: a cross-hair whose centre is the hot spot, with a red bar.
QImage deleteCursor()
{
    QImage img = Artwork::blank(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (const auto& [pen, width] : {std::pair<QColor, qreal>(QColor(0, 0, 0), 4), std::pair<QColor, qreal>(QColor(255, 255, 255), 2)}) {
        p.setPen(QPen(pen, width, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(16, 2), QPointF(16, 12));
        p.drawLine(QPointF(16, 20), QPointF(16, 30));
        p.drawLine(QPointF(2, 16), QPointF(12, 16));
        p.drawLine(QPointF(20, 16), QPointF(30, 16));
    }
    p.setPen(QPen(QColor(255, 255, 255), 1.5));
    p.setBrush(QColor(203, 34, 32));
    p.drawEllipse(QPointF(24, 8), 6.5, 6.5);
    p.setPen(QPen(QColor(255, 255, 255), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(21, 8), QPointF(27, 8));
    return img;
}

// A recent-file entry's icon: a page with its place in the list.
QImage recentIcon(int number)
{
    QImage img = Artwork::blank(20, 20);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath page;
    page.moveTo(3.5, 1.5);
    page.lineTo(12.5, 1.5);
    page.lineTo(16.5, 5.5);
    page.lineTo(16.5, 18.5);
    page.lineTo(3.5, 18.5);
    page.closeSubpath();
    p.setPen(QPen(QColor(84, 200, 234), 1));
    p.setBrush(QColor(240, 244, 246));
    p.drawPath(page);
    p.setPen(QColor(28, 44, 54));
    QFont f("DejaVu Sans", 1, QFont::Bold);
    f.setPixelSize(11);
    p.setFont(f);
    p.drawText(QRectF(3, 5, 14, 13), Qt::AlignCenter, QString::number(number));
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    bool ok = save(splash(), root + "/Resources/splashscreen.png");
    const QString n = root + "/Resources/new/";
    ok &= save(titleBack(), n + "titleback.png");
    ok &= save(logo(), n + "logo.png");
    ok &= save(sprite(84, 76, iconOpen), n + "open.png");
    ok &= save(sprite(84, 76, iconSave), n + "save.png");
    ok &= save(sprite(79, 76, iconExport), n + "export.png");
    ok &= save(sprite(78, 76, iconSlice), n + "slice.png");
    ok &= save(sprite(78, 76, iconSliceIn), n + "slice_in.png");
    ok &= save(sprite(82, 76, iconGear), n + "setting.png");
    ok &= save(sprite(80, 76, iconEnglish), n + "english.png");
    ok &= save(sprite(80, 76, iconChinese), n + "chinese.png");
    ok &= save(sprite(36, 22, iconDropdown), n + "dropdown.png");
    ok &= save(sprite(36, 22, iconMin), n + "min.png");
    ok &= save(sprite(36, 22, iconMax), n + "max1.png");
    ok &= save(sprite(36, 22, iconRestore), n + "max2.png");
    ok &= save(sprite(40, 22, iconClose), n + "close.png");
    ok &= save(light(true), n + "connect.png");
    ok &= save(light(false), n + "disconnect.png");
    ok &= save(menuBack(), n + "menubg.png");
    ok &= save(printSprite(), root + "/Resources/new/add/print.png");
    ok &= save(deleteCursor(), n + "mousedelete.png");
    for (int i = 1; i <= 5; ++i)
        ok &= save(recentIcon(i), root + QString("/Resources/new/add/recent%1.png").arg(i));
    return ok ? 0 : 1;
}
