#include "testutil_dialogs.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTranslator>
#include <QWidget>

#include "scene/AppData.h"

bool useTemporaryDataDir()
{
    static QTemporaryDir dir;
    if (!dir.isValid())
        return false;
    qputenv("LOCALAPPDATA", dir.path().toLocal8Bit());
    AppData::instance()->setSettingsDir(dir.path());
    return true;
}

QPoint dragBy(QWidget* window, QPoint pos, QPoint delta)
{
    const QPoint before = window->pos();
    const QPoint global = window->mapToGlobal(pos);
    QMouseEvent press(QEvent::MouseButtonPress, pos, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &press);
    QMouseEvent move(QEvent::MouseMove, pos + delta, global + delta, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, pos + delta, global + delta, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(window, &release);
    return window->pos() - before;
}

bool setChinese(bool on)
{
    static QTranslator zh;
    static bool loaded = false;
    if (!loaded) {
        if (!zh.load(QStringLiteral(":/brevant_zh.qm")))
            return false;
        loaded = true;
    }
    const bool ok = on ? QCoreApplication::installTranslator(&zh) : QCoreApplication::removeTranslator(&zh);
    QCoreApplication::processEvents();
    return ok || !on;
}

QImage renderTransparent(QWidget* w)
{
    QImage img(w->size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}
