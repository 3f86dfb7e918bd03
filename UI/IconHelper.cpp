#include "UI/IconHelper.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFontDatabase>

#include "app/QsLog.h"

IconHelper* IconHelper::instance()
{
    // Function-local static: made once, safely, on first use.
    static IconHelper* helper = new IconHelper(QCoreApplication::instance());
    return helper;
}

IconHelper::IconHelper(QObject* parent)
    : QObject(parent)
{
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/Resources/fontawesome-webfont.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        QLOG_WARN() << "UI\\IconHelper @" << __LINE__ << "icon font not loaded";
        return;
    }
    font = QFont(families.first());
    loaded = true;
}

QFont IconHelper::iconFont(int size)
{
    font.setPointSize(size);
    return font;
}

void IconHelper::setIcon(QAbstractButton* button, QChar glyph, int size)
{
    if (!button)
        return;
    button->setFont(iconFont(size));
    button->setText(glyph);
}
