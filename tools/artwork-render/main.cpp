// Draws the renderer's textures (build plates, the round machine's band and top, the cut
// plane) deterministically, so they can be remade and committed.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool save(const QImage& img, const QString& dir, const QString& name)
{
    QDir().mkpath(dir);
    const QString path = dir + "/" + name;
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A grey plate with a 10 mm grid, a 50 mm grid and a border; side in millimetres.
void drawGrid(QPainter& p, int px, double sideMm)
{
    const double step = px / sideMm;
    p.setPen(QPen(QColor(188, 190, 192), 1));
    for (int i = 0; i <= int(sideMm); i += 10) {
        p.drawLine(QPointF(i * step, 0), QPointF(i * step, px));
        p.drawLine(QPointF(0, i * step), QPointF(px, i * step));
    }
    p.setPen(QPen(QColor(150, 152, 155), 2));
    const double mid = px / 2.0;
    for (int i = 0; i <= int(sideMm / 2); i += 50) {
        p.drawLine(QPointF(mid + i * step, 0), QPointF(mid + i * step, px));
        p.drawLine(QPointF(mid - i * step, 0), QPointF(mid - i * step, px));
        p.drawLine(QPointF(0, mid + i * step), QPointF(px, mid + i * step));
        p.drawLine(QPointF(0, mid - i * step), QPointF(px, mid - i * step));
    }
}

QImage rectangularPlate()
{
    const int px = 512;
    QImage img(px, px, QImage::Format_ARGB32);
    img.fill(QColor(222, 224, 226));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawGrid(p, px, 145.0);
    p.setPen(QPen(QColor(110, 112, 116), 6));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(3, 3, px - 6, px - 6));
    p.setPen(QColor(140, 142, 146));
    p.setFont(QFont("DejaVu Sans", 22, QFont::Bold));
    p.drawText(QRectF(0, px - 60, px - 16, 50), Qt::AlignRight | Qt::AlignVCenter, "PX5");
    return img;
}

// The round machines' plate covers a square of three radii; the bed is the inner circle.
QImage roundPlate()
{
    const int px = 512;
    QImage img(px, px, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double r = px / 6.0;
    const QPointF c(px / 2.0, px / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(222, 224, 226));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(QColor(188, 190, 192), 1));
    for (int i = -7; i <= 7; ++i) {
        const double d = i * r / 7.5;
        const double h = std::sqrt(std::max(0.0, r * r - d * d));
        p.drawLine(QPointF(c.x() + d, c.y() - h), QPointF(c.x() + d, c.y() + h));
        p.drawLine(QPointF(c.x() - h, c.y() + d), QPointF(c.x() + h, c.y() + d));
    }
    p.setPen(QPen(QColor(110, 112, 116), 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
    return img;
}

QImage band()
{
    QImage img(256, 64, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, QColor(120, 124, 130, 30));
    g.setColorAt(1, QColor(90, 94, 100, 150));
    p.fillRect(img.rect(), g);
    p.setPen(QPen(QColor(80, 84, 90, 200), 2));
    p.drawLine(0, 63, 256, 63);
    return img;
}

QImage top()
{
    const int px = 256;
    QImage img(px, px, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 94, 100, 160), 3));
    p.drawEllipse(QPointF(px / 2.0, px / 2.0), px / 2.0 - 3, px / 2.0 - 3);
    return img;
}

QImage cutPlane()
{
    const int px = 256;
    QImage img(px, px, QImage::Format_ARGB32);
    img.fill(QColor(85, 199, 235, 90));
    QPainter p(&img);
    p.setPen(QPen(QColor(40, 140, 200, 200), 4));
    p.drawRect(QRectF(2, 2, px - 4, px - 4));
    p.setPen(QPen(QColor(40, 140, 200, 80), 1));
    for (int i = 32; i < px; i += 32) {
        p.drawLine(i, 0, i, px);
        p.drawLine(0, i, px, i);
    }
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources/Render");
    bool ok = save(rectangularPlate(), dir, "bottom_px5_1.png");
    ok = save(roundPlate(), dir, "bottom_px6.png") && ok;
    ok = save(band(), dir, "Model_PX6.png") && ok;
    ok = save(top(), dir, "top_px6.png") && ok;
    ok = save(cutPlane(), dir, "cube.png") && ok;
    return ok ? 0 : 1;
}
