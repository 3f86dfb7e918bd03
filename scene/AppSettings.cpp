// AppData's persistent settings: setting.ini in the data folder and recentfile.ini in the
// program folder. Every access opens its own QSettings; values are cached only in AppData.
#include "scene/AppData.h"

#include <QCoreApplication>
#include <QSettings>

#include "FileRW/CheckedWriter.h"

namespace {

const char* profilePrefix(int quality)
{
    switch (quality) {
    case 0: return "low/";
    case 1: return "mid/";
    case 2: return "high/";
    default: return nullptr;
    }
}

} // namespace

void AppData::setBoxSize(double length, double width, double height, double diameter, double dHeight)
{
    boxLength = length;
    boxWidth = width;
    boxHeight = height;
    boxDiameter = diameter;
    boxDHeight = dHeight;
    QSettings s(settingsFilePath(), QSettings::IniFormat);
    s.setValue("Box/Length", length);
    s.setValue("Box/Width", width);
    s.setValue("Box/Height", height);
    s.setValue("Box/Diameter", diameter);
    s.setValue("Box/DHeight", dHeight);
}

void AppData::setLanguage(int value)
{
    language = value;
    QSettings(settingsFilePath(), QSettings::IniFormat).setValue("General/Language", value);
}

void AppData::setPrintQuality(int quality)
{
    printQuality = quality;
    QSettings(settingsFilePath(), QSettings::IniFormat).setValue("General/printQuality", quality);
}

void AppData::setChoiceType(int type)
{
    choiceType = type;
    QSettings(settingsFilePath(), QSettings::IniFormat).setValue("General/ChoiceType", type);
}

void AppData::setTemperature(int t)
{
    temperature = (t < 150 || t > 250) ? 210 : t;
    QSettings(settingsFilePath(), QSettings::IniFormat).setValue("TEMPERATURE/temperature", temperature);
}

void AppData::setHotbed(int t)
{
    hotbed = t;
    QSettings(settingsFilePath(), QSettings::IniFormat).setValue("TEMPERATURE/hotbed", t);
}

bool AppData::savePrintProfile(int quality, const PrintProfile& p, QString* error)
{
    const char* prefix = profilePrefix(quality);
    if (!prefix)
        return false;
    const QString g = QString::fromLatin1(prefix);
    QSettings s(settingsFilePath(), QSettings::IniFormat);
    s.setValue(g + "support", p.support);
    s.setValue(g + "support_type", p.support_type);
    s.setValue(g + "support_angle", p.support_angle);
    s.setValue(g + "support_fill_density", p.support_fill_density);
    s.setValue(g + "print_raft_Layers", p.print_raft_Layers);
    s.setValue(g + "infill_pattern", p.infill_pattern);
    s.setValue(g + "z_hop_when_retracting", p.z_hop_when_retracting);
    s.setValue(g + "first_layer_airgap", p.first_layer_airgap);
    s.setValue(g + "fill_density", p.fill_density);
    // QSettings writes through a temporary file and keeps the old one when that fails.
    s.sync();
    if (s.status() == QSettings::NoError)
        return true;
    if (error)
        *error = CheckedWriter::cannotWrite(s.fileName(), QCoreApplication::translate("CheckedWriter", "the settings could not be saved"));
    return false;
}

void AppData::loadPrintProfile(int quality, PrintProfile& out)
{
    const bool missing = !QSettings(settingsFilePath(), QSettings::IniFormat).contains("low/fill_density");
    if (missing) {
        const int fills[3] = {10, 20, 30};
        for (int q = 0; q < 3; ++q) {
            out = PrintProfile();
            out.fill_density = fills[q];
            savePrintProfile(q, out);
        }
    }
    const char* prefix = profilePrefix(quality);
    if (!prefix)
        return;
    const QString g = QString::fromLatin1(prefix);
    QSettings s(settingsFilePath(), QSettings::IniFormat);
    out.support = s.value(g + "support").toInt();
    out.support_type = s.value(g + "support_type").toInt();
    out.support_angle = s.value(g + "support_angle").toInt();
    out.support_fill_density = s.value(g + "support_fill_density").toInt();
    out.print_raft_Layers = s.value(g + "print_raft_Layers").toInt();
    out.infill_pattern = s.value(g + "infill_pattern").toInt();
    out.z_hop_when_retracting = s.value(g + "z_hop_when_retracting").toInt();
    // Read in single precision, as the stored profile always was.
    out.first_layer_airgap = double(s.value(g + "first_layer_airgap").toFloat());
    out.fill_density = s.value(g + "fill_density").toInt();
}

void AppData::addRecentFile(const QString& name)
{
    if (name.isEmpty() || recentFiles.contains(name))
        return;
    if (recentFiles.size() >= 5)
        recentFiles.removeFirst();
    recentFiles.append(name);
    QString value;
    for (const QString& entry : qAsConst(recentFiles))
        if (!entry.isEmpty())
            value += entry + "%";
    QSettings(appDir + "/recentfile.ini", QSettings::IniFormat).setValue("Recentfile/filenames", value);
}
