#pragma once

// Drawing helpers shared by the artwork generators.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdio>
#include <functional>

namespace Artwork {

// Writes a PNG, making its folder; false (with a line on stderr) when it cannot.
inline bool savePng(const QImage& img, const QString& path)
{
    QDir().mkpath(path.section('/', 0, -2));
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

inline QImage blank(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

// Four frames side by side: normal, hover, pressed or checked, disabled.
inline QImage sprite(int frameW, int frameH, const std::function<void(QPainter&, int frame)>& draw)
{
    QImage img = blank(frameW * 4, frameH);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int f = 0; f < 4; ++f) {
        p.save();
        p.translate(f * frameW, 0);
        draw(p, f);
        p.restore();
    }
    return img;
}

} // namespace Artwork
