#include "UI/TextFont.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QResource>

#include "app/QsLog.h"

namespace TextFont {

QStringList formFamilies()
{
    return {QStringLiteral("Microsoft YaHei"), QStringLiteral("微软雅黑"), QStringLiteral("Arial")};
}

QString install()
{
    static const QString family = [] {
        // Read in place from the program's image, so only the pages of the glyphs drawn come in
        // (a copy of the whole 5 MB file took a hundred milliseconds of every start).
        const QString path = QStringLiteral(":/Resources/wqy-microhei.ttc");
        const QResource file(path);
        const int id = file.isValid() && file.compressionAlgorithm() == QResource::NoCompression
            ? QFontDatabase::addApplicationFontFromData(
                  QByteArray::fromRawData(reinterpret_cast<const char*>(file.data()), int(file.size())))
            : QFontDatabase::addApplicationFont(path);
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
