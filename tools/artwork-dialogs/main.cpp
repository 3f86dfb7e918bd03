// Draws the dialogs' images deterministically, so they can be remade and committed.
// The Chinese guide pictures need a CJK font (Droid Sans Fallback on Debian).
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVector>

#include <algorithm>
#include <cstdio>

#include "artwork/ArtworkCommon.h"
#include <functional>

namespace {

const QColor kBlue(0x29, 0xc2, 0xf5);
const QColor kDarkBlue(0x22, 0xb3, 0xe3);
const QColor kInk(0x30, 0x30, 0x30);

bool save(const QImage& img, const QString& path)
{
    return Artwork::savePng(img, path);
}

using Artwork::blank;
using Artwork::sprite;

QFont uiFont(int px, bool bold = false)
{
    QFont f(QStringLiteral("Droid Sans Fallback"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// Product mark: a nozzle over three printed layers.
void drawMark(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10.0;
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    QPainterPath nozzle;
    nozzle.moveTo(r.left() + 3 * u, r.top() + u);
    nozzle.lineTo(r.left() + 7 * u, r.top() + u);
    nozzle.lineTo(r.left() + 7 * u, r.top() + 3.5 * u);
    nozzle.lineTo(r.left() + 5.6 * u, r.top() + 5 * u);
    nozzle.lineTo(r.left() + 4.4 * u, r.top() + 5 * u);
    nozzle.lineTo(r.left() + 3 * u, r.top() + 3.5 * u);
    nozzle.closeSubpath();
    p.drawPath(nozzle);
    const QColor layers[3] = {kDarkBlue, QColor(0x54, 0xc8, 0xea), QColor(0x9a, 0xdf, 0xf5)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(layers[i]);
        p.drawRoundedRect(QRectF(r.left() + (1 + i * 0.6) * u, r.top() + (8.6 - i * 1.3) * u,
                                 (8 - i * 1.2) * u, 1.0 * u), 0.4 * u, 0.4 * u);
    }
}

QImage aboutLogo()
{
    QImage img = blank(92, 90);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawMark(p, QRectF(6, 5, 80, 80));
    return img;
}

QImage closeSprite()
{
    const QColor colours[4] = {QColor(0x60, 0x60, 0x60), QColor(0xff, 0xff, 0xff), QColor(0xff, 0xff, 0xff),
                               QColor(0xc0, 0xc0, 0xc0)};
    return sprite(30, 36, [&](QPainter& p, int f) {
        if (f == 1)
            p.fillRect(QRect(0, 0, 30, 36), QColor(0xe8, 0x4a, 0x4a));
        if (f == 2)
            p.fillRect(QRect(0, 0, 30, 36), QColor(0xb8, 0x2a, 0x2a));
        p.setPen(QPen(colours[f], 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 13), QPointF(20, 23));
        p.drawLine(QPointF(20, 13), QPointF(10, 23));
    });
}

QImage choiceBack()
{
    QImage img(670, 44, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 44);
    g.setColorAt(0, QColor(0xf4, 0xfa, 0xfd));
    g.setColorAt(1, QColor(0xdc, 0xee, 0xf6));
    p.fillRect(img.rect(), g);
    p.setPen(kBlue);
    p.drawLine(0, 43, 669, 43);
    return img;
}

// A printer seen from the front; round marks the delta-style round machine.
void drawPrinter(QPainter& p, bool round, const QColor& body, const QColor& accent)
{
    p.setPen(QPen(body, 3));
    p.setBrush(Qt::NoBrush);
    if (round) {
        p.drawLine(QPointF(30, 20), QPointF(30, 120));
        p.drawLine(QPointF(84, 20), QPointF(84, 120));
        p.drawLine(QPointF(57, 14), QPointF(57, 112));
        p.drawEllipse(QPointF(57, 112), 30, 8);
        p.setBrush(accent);
        p.drawEllipse(QPointF(57, 62), 6, 6);
    } else {
        p.drawRect(QRectF(22, 18, 70, 100));
        p.drawLine(QPointF(22, 50), QPointF(92, 50));
        p.setBrush(accent);
        p.drawRect(QRectF(50, 44, 14, 12));
        p.drawRect(QRectF(30, 100, 54, 6));
    }
}

QImage printerSprite(bool round)
{
    return sprite(114, 144, [&](QPainter& p, int f) {
        const QColor frameColour[4] = {QColor(0xdb, 0xdb, 0xdb), kBlue, kDarkBlue, QColor(0xe6, 0xe6, 0xe6)};
        p.setPen(QPen(frameColour[f], f == 2 ? 3 : 1.5));
        p.setBrush(f == 3 ? QColor(0xf2, 0xf2, 0xf2) : QColor(0xff, 0xff, 0xff));
        p.drawRoundedRect(QRectF(1.5, 1.5, 111, 141), 6, 6);
        const QColor body = f == 3 ? QColor(0xc8, 0xc8, 0xc8) : kInk;
        const QColor accent = f == 3 ? QColor(0xd8, 0xd8, 0xd8) : kBlue;
        drawPrinter(p, round, body, accent);
        if (f == 2) {
            p.setPen(Qt::NoPen);
            p.setBrush(kDarkBlue);
            p.drawEllipse(QPointF(98, 128), 9, 9);
            p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({QPointF(94, 128), QPointF(97, 131), QPointF(103, 125)}));
        }
    });
}

enum class Face { Up, Down, Left, Right, Home };

QImage viewSprite(Face face)
{
    return sprite(32, 32, [&](QPainter& p, int f) {
        const QColor fill[4] = {QColor(0xf7, 0xf7, 0xf7, 230), QColor(0xe2, 0xf5, 0xfc, 240), kBlue,
                                QColor(0xe0, 0xe0, 0xe0, 160)};
        const QColor ink = f == 2 ? QColor(Qt::white) : f == 3 ? QColor(0xb0, 0xb0, 0xb0) : kInk;
        p.setPen(QPen(f == 3 ? QColor(0xcc, 0xcc, 0xcc) : QColor(0xb8, 0xb8, 0xb8), 1));
        p.setBrush(fill[f]);
        p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 5, 5);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        if (face == Face::Home) {
            QPainterPath house;
            house.moveTo(16, 8);
            house.lineTo(25, 16);
            house.lineTo(22, 16);
            house.lineTo(22, 24);
            house.lineTo(18, 24);
            house.lineTo(18, 19);
            house.lineTo(14, 19);
            house.lineTo(14, 24);
            house.lineTo(10, 24);
            house.lineTo(10, 16);
            house.lineTo(7, 16);
            house.closeSubpath();
            p.drawPath(house);
            return;
        }
        // An arrow pointing up, turned for the other faces.
        const qreal angle = face == Face::Up ? 0 : face == Face::Right ? 90 : face == Face::Down ? 180 : 270;
        p.translate(16, 16);
        p.rotate(angle);
        p.drawPolygon(QPolygonF({QPointF(0, -9), QPointF(8, 1), QPointF(3, 1), QPointF(3, 8), QPointF(-3, 8),
                                 QPointF(-3, 1), QPointF(-8, 1)}));
    });
}

QImage dropdownArrow()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(4, 6), QPointF(8, 10), QPointF(12, 6)}));
    return img;
}

// Where the arrows end, in the pictures' own pixels; the guide places each picture so that
// one tip touches its control. The second picture's arrows end one pixel under the file
// buttons' centres (the open button's at kOpenX, the others at their spacing in the title
// strip); the third picture's right edge lies on the window's right edge, its arrows ending
// under the menu button's centre and five pixels left of the direction pad's middle.
constexpr qreal kOpenX = 190, kSaveX = kOpenX + 86, kExportX = kOpenX + 169.5, kSliceX = kOpenX + 250;
constexpr qreal kToolbarTipY = 78;
constexpr qreal kMenuFromRight = 130, kMenuTipY = 24, kPadFromRight = 180, kPadTipY = 168;

struct GuideText
{
    QString title;
    QStringList lines;
};

// A guide card: a rounded panel, arrows toward what it explains, a title and numbered lines.
// Each arrow runs from the card to a control of the window, in the picture's own coordinates:
// the guide places each picture at a fixed corner of the window.
QImage guideCard(int w, int h, const QRectF& card, const QVector<QLineF>& arrows, const GuideText& text)
{
    QImage img = blank(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(QPen(kBlue, 3));
    p.setBrush(QColor(255, 255, 255, 240));
    p.drawRoundedRect(card, 14, 14);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    for (const QLineF& arrow : arrows) {
        const QPointF base = arrow.p1(), tip = arrow.p2();
        p.drawLine(base, tip);
        // A head of fixed size, whatever the arrow's length.
        const QPointF d = (tip - base) * (12.0 / arrow.length());
        const QPointF n(-d.y() / 2.0, d.x() / 2.0);
        p.drawPolygon(QPolygonF({tip, tip - d + n, tip - d - n}));
    }

    p.setPen(kInk);
    p.setFont(uiFont(30, true));
    p.drawText(QRectF(card.left() + 30, card.top() + 24, card.width() - 60, 44), Qt::AlignLeft | Qt::AlignVCenter,
               text.title);
    p.setFont(uiFont(20));
    qreal y = card.top() + 92;
    // Each item takes the lines it wraps to; a text that leaves the card fails the picture.
    const QFontMetricsF fm(uiFont(20));
    for (int i = 0; i < text.lines.size(); ++i) {
        const qreal textWidth = card.width() - 100;
        const qreal height = fm.boundingRect(QRectF(0, 0, textWidth, 1000), Qt::AlignLeft | Qt::TextWordWrap, text.lines[i]).height();
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(card.left() + 44, y + 15), 13, 13);
        p.setPen(Qt::white);
        p.setFont(uiFont(16, true));
        p.drawText(QRectF(card.left() + 31, y + 2, 26, 26), Qt::AlignCenter, QString::number(i + 1));
        p.setPen(kInk);
        p.setFont(uiFont(20));
        if (y + height > card.bottom() - 4) {
            std::fprintf(stderr, "\"%s\" leaves its card\n", qPrintable(text.lines[i]));
            return QImage();
        }
        const QRectF line(card.left() + 70, y, textWidth, height);
        p.drawText(line, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text.lines[i]);
        y += std::max<qreal>(62, height + 8);
    }
    return img;
}

GuideText leftText(bool zh)
{
    if (zh)
        return {QStringLiteral("左侧编辑面板"),
                {QStringLiteral("在三维视图中单击模型将其选中。"),
                 QStringLiteral("展开“移动”、“旋转”或“缩放”，输入数值或拖动模型。"),
                 QStringLiteral("“切割”沿一个坐标轴把模型分成两半。"),
                 QStringLiteral("“支撑”自动或手动为悬空部分添加支撑。"),
                 QStringLiteral("模型列表显示已载入的全部模型。")}};
    return {QStringLiteral("The edit panel on the left"),
            {QStringLiteral("Click a model in the 3D view to select it."),
             QStringLiteral("Open Move, Rotate or Scale, then type a value or drag the model."),
             QStringLiteral("Cut splits the model in two along one axis."),
             QStringLiteral("Support adds columns under overhangs, automatically or by hand."),
             QStringLiteral("The model list shows every model loaded.")}};
}

GuideText topText(bool zh)
{
    if (zh)
        return {QStringLiteral("顶部工具栏"),
                {QStringLiteral("打开：载入模型（STL、OBJ、3MF）、图片或工程文件。"),
                 QStringLiteral("保存与导出：保存工程，或导出模型与打印文件。"),
                 QStringLiteral("预览：在模型与打印文件的路径之间切换。"),
                 QStringLiteral("打印（视图右下角的圆形按钮）：将打印文件发送到已连接的打印机。")}};
    return {QStringLiteral("The toolbar at the top"),
            {QStringLiteral("Open: load models (STL, OBJ, 3MF), pictures or project files."),
             QStringLiteral("Save and export: keep the project, or export models and print files."),
             QStringLiteral("Preview: switch between the models and the print file's paths."),
             QStringLiteral("Print (the round button at the bottom right): send the print file to the connected printer.")}};
}

GuideText helpText(bool zh)
{
    if (zh)
        return {QStringLiteral("帮助与设置"),
                {QStringLiteral("设置（工具栏中的齿轮）：打印质量、温度、调平、进退料与舱门。"),
                 QStringLiteral("右上角菜单中的“向导”可随时再次打开本向导。"),
                 QStringLiteral("同一菜单中的“选择打印机”：切换为您的打印机型号。"),
                 QStringLiteral("右上角的方向按钮可快速切换视角。")}};
    return {QStringLiteral("Help and settings"),
            {QStringLiteral("Settings (the gear in the toolbar): print quality, temperature, levelling, filament and door."),
             QStringLiteral("Guide, in the menu at the top right, opens this guide again at any time."),
             QStringLiteral("Select Printer, in the same menu: switch to your printer's model."),
             QStringLiteral("The direction pad at the top right turns the view at once.")}};
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString root = (argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources"))
                         + QStringLiteral("/Resources/new/dialogs/");
    bool ok = true;
    ok &= save(aboutLogo(), root + "aboutlog.png");
    ok &= save(closeSprite(), root + "sclose.png");
    ok &= save(choiceBack(), root + "ChoiceTypeBack.png");
    ok &= save(printerSprite(false), root + "PX5_1.png");
    ok &= save(printerSprite(true), root + "PX6.png");
    ok &= save(viewSprite(Face::Up), root + "view_up.png");
    ok &= save(viewSprite(Face::Down), root + "view_down.png");
    ok &= save(viewSprite(Face::Left), root + "view_left.png");
    ok &= save(viewSprite(Face::Right), root + "view_right.png");
    ok &= save(viewSprite(Face::Home), root + "view_home.png");
    ok &= save(dropdownArrow(), root + "dropdown2.png");
    ok &= save(dropdownArrow().mirrored(false, true), root + "spinup.png");
    for (bool zh : {false, true}) {
        const QString suffix = zh ? "-cn.png" : "-en.png";
        // The first picture lies right of the edit panel.
        ok &= save(guideCard(568, 521, QRectF(40, 40, 488, 401), {QLineF(38, 90, 4, 60)}, leftText(zh)),
                   root + "wizard-left" + suffix);
        // The second under the title strip: up to the open, save, export and preview buttons.
        QVector<QLineF> toolbar;
        for (const qreal x : {kOpenX, kSaveX, kExportX, kSliceX})
            toolbar << QLineF(x, 130, x, kToolbarTipY);
        ok &= save(guideCard(780, 488, QRectF(20, 130, 740, 348), toolbar, topText(zh)), root + "wizard-top" + suffix);
        // The third at the window's top right: to the menu button and the direction pad.
        const int right = 780;
        ok &= save(guideCard(right, 529, QRectF(20, 60, right - kPadFromRight - 60, 440),
                             {QLineF(right - kPadFromRight - 100, 60, right - kMenuFromRight, kMenuTipY),
                              QLineF(right - kPadFromRight - 40, kPadTipY, right - kPadFromRight, kPadTipY)},
                             helpText(zh)),
                   root + "wizard-help" + suffix);
    }
    return ok ? 0 : 1;
}
