// Draws the program's own images, deterministically, so they can be remade and committed.
#include <QGuiApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

bool save(const QImage& img, const QString& path)
{
    QDir().mkpath(path.section('/', 0, -2));
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
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

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    bool ok = save(splash(), root + "/Resources/splashscreen.png");
    return ok ? 0 : 1;
}
