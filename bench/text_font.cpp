// What the program's own text font costs at start: each run is a fresh process (the font
// database and glyph caches start empty), once with the machine's fonts only and once with the
// built-in font installed, side by side, RUNS times each (first argument, default 15); the
// medians are reported. Also what a zlib-compressed resource would add to unpack it.
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "UI/TextFont.h"

namespace {

// Lays out and draws a line of the window's texts, Latin and Chinese, as the first paint does.
void drawSample()
{
    QImage img(600, 40, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    QFont f = QGuiApplication::font();
    f.setFamily(QStringLiteral("Microsoft YaHei"));
    p.setFont(f);
    p.drawText(10, 25, QStringLiteral("Model  Move  Rotate  Scale  20.00 x 15.50 x 3.00mm  模型 移动 旋转 缩放 切割 支撑"));
}

// One start in this process: prints the milliseconds to the first drawn text.
int child(bool own)
{
    QElapsedTimer t;
    t.start();
    if (own && TextFont::install().isEmpty())
        return 1;
    drawSample();
    std::printf("%.3f\n", t.nsecsElapsed() / 1e6);
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::string(argv[1]) == "--own" || std::string(argv[1]) == "--machine")) {
        QGuiApplication app(argc, argv);
        return child(std::string(argv[1]) == "--own");
    }
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::vector<double> machine, own;
    for (int i = 0; i < runs; ++i) {
        for (const char* mode : {"--machine", "--own"}) {
            QProcess p;
            p.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode)});
            if (!p.waitForFinished(60000) || p.exitCode() != 0) {
                std::printf("error: %s run failed\n", mode);
                return 1;
            }
            (mode[2] == 'o' ? own : machine).push_back(p.readAllStandardOutput().trimmed().toDouble());
        }
    }
    QFile font(QStringLiteral(":/Resources/wqy-microhei.ttc"));
    if (!font.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray data = font.readAll();
    const QByteArray packed = qCompress(data, 9);
    QElapsedTimer t;
    t.start();
    const QByteArray unpacked = qUncompress(packed);
    const double unpackMs = t.nsecsElapsed() / 1e6;
    std::printf("font_resource: %lld bytes\n", qlonglong(data.size()));
    std::printf("font_resource_zlib9: %lld bytes\n", qlonglong(packed.size()));
    std::printf("first_text_machine_fonts: %.1f ms\n", median(machine));
    std::printf("first_text_own_font: %.1f ms\n", median(own));
    std::printf("own_font_adds: %.1f ms\n", median(own) - median(machine));
    std::printf("zlib_unpack_would_add: %.1f ms\n", unpacked.size() == data.size() ? unpackMs : -1.0);
    return 0;
}
