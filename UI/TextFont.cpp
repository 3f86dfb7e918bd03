#include "UI/TextFont.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

#include "app/QsLog.h"

namespace TextFont {

QStringList formFamilies()
{
    return {QStringLiteral("Microsoft YaHei"), QStringLiteral("微软雅黑"), QStringLiteral("Arial")};
}

QString install()
{
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/Resources/wqy-microhei.ttc"));
        // The file holds a proportional face and a monospaced one; texts take the first.
        QString own;
        for (const QString& f : QFontDatabase::applicationFontFamilies(id))
            if (own.isEmpty() && !QFontDatabase().isFixedPitch(f))
                own = f;
        if (own.isEmpty()) {
            QLOG_WARN() << "UI\\TextFont @" << __LINE__ << "text font not loaded";
            return QString();
        }
        for (const QString& name : formFamilies())
            QFont::insertSubstitution(name, own);
        QFont font = QGuiApplication::font();
        font.setFamily(own);
        QGuiApplication::setFont(font);
        return own;
    }();
    return family;
}

} // namespace TextFont
