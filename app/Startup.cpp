#include "app/Startup.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "platform/Platform.h"
#include "scene/AppData.h"

QString absoluteFileArgument(int argc, char** argv)
{
    if (argc < 2)
        return QString();
    const QString arg = QString::fromLocal8Bit(argv[1]);
    // "raise_window_noop" and similar plain words are not paths; keep them as they are.
    if (arg.isEmpty() || QDir::isAbsolutePath(arg) || !QFileInfo::exists(arg))
        return arg;
    return QFileInfo(arg).absoluteFilePath();
}

void initEnvironment(int argc, char** /*argv*/)
{
    const QString programDir = Platform::executableDir();
    if (argc > 1)
        QDir::setCurrent(programDir);

    QString dataDir = Platform::dataDirectory();
    QDir().mkpath(dataDir);

    AppData* data = AppData::instance();
    data->setAppDir(QString(programDir).replace('\\', '/'));
    data->setSettingsDir(dataDir.replace('\\', '/'));

    loadRecentFiles(*data);

    const QString settingsPath = data->settingsFilePath();
    if (QFileInfo::exists(settingsPath)) {
        int language, quality, choice, temperature, hotbed;
        {
            QSettings s(settingsPath, QSettings::IniFormat);
            language = s.value("General/Language").toInt();
            quality = s.value("General/printQuality").toInt();
            choice = s.value("General/ChoiceType").toInt();
            temperature = s.value("TEMPERATURE/temperature").toInt();
            hotbed = s.value("TEMPERATURE/hotbed").toInt();
        }
        if (choice < 1 || choice > 3)
            choice = 0;
        data->setChoiceType(choice);
        data->setBoxSize(145, 145, 140, 150, 175);
        data->setLanguage(language);
        data->setPrintQuality(quality);
        data->setTemperature(temperature);
        data->setHotbed(hotbed);
    } else {
        data->setBoxSize(145, 145, 140, 150, 175);
        data->setPrintQuality(1);
        data->setLanguage(data->getLanguage());
    }
}

void loadRecentFiles(AppData& data)
{
    QSettings s(data.getAppDir() + "/recentfile.ini", QSettings::IniFormat);
    const QString value = s.value("Recentfile/filenames").toString();
    const QStringList entries = value.split('%', Qt::SkipEmptyParts);
    data.setRecentFiles(entries);
    removeStalePrintFiles(data, entries);
}

void removeStalePrintFiles(AppData& data, const QStringList& recent)
{
    QDir gco(data.getAppDir() + "/gco");
    if (!gco.exists())
        return;
    const QFileInfoList entries = gco.entryInfoList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& info : entries) {
        const QString name = info.fileName();
        if (recent.contains(name))
            continue;
        // Only regular files that really are print-task files.
        if (!info.isFile() || info.isSymLink() || !name.endsWith(QLatin1String(".BVT")))
            continue;
        QFile::remove(info.absoluteFilePath());
    }
}
