// AppData::writeEngineConfig: turns the user's print profile, the machine's platform and the
// manual support columns into keys of the engine ini copied from a shipped profile.
#include "scene/AppData.h"

#include <QFile>
#include <QSettings>

#include <algorithm>
#include <cmath>

#include "scene/IniFileEditor.h"

namespace {

const QString kStartAnchor = QStringLiteral("startCode");
const QString kRaftAnchor = QStringLiteral("gcodeFlavor");

// Support columns as the engine reads them: x, y, z in micrometres, each followed by a blank.
QString supportPointsText(const std::vector<std::array<double, 3>>& points)
{
    QString text = QStringLiteral("\"\"\"\n");
    for (const auto& p : points)
        for (double c : p)
            text += QString::number(c * 1000.0, 'g', 6) + ' ';
    return text;
}

} // namespace

bool AppData::writeEngineConfig(const QString& rawPath, QString* error)
{
    PrintProfile p;
    loadPrintProfile(printQuality, p);

    QString path = rawPath;
    path.replace('\\', '/');
    if (!QFile::exists(path))
        return false;

    IniFileEditor ini;
    ini.load(path);
    QSettings settings(settingsFilePath(), QSettings::IniFormat);

    ini.setValue("supportType", p.support_type, kStartAnchor);
    ini.setValue("supportAngle", p.support != 0 ? p.support_angle : -1, kStartAnchor);
    // A density of 0 or less can only come from a hand-edited setting.ini; the profile's
    // own distance is kept rather than dividing by it.
    if (p.support_fill_density > 0)
        ini.setValue("supportLineDistance", 40000 / p.support_fill_density, kStartAnchor);

    const int extrusionWidth = ini.getValue("extrusionWidth").trimmed().toInt();
    const int fillDensity = std::clamp(p.fill_density, 0, 100);
    const int infillDistance = fillDensity == 0 ? 0 : extrusionWidth * 100 / fillDensity;

    if (p.print_raft_Layers != 1) {
        ini.setValue("raftBaseThickness", 0, kRaftAnchor);
        ini.setValue("raftInterfaceThickness", 0, kRaftAnchor);
        ini.setValue("raftSurfaceThickness", 0, kRaftAnchor);
    } else {
        const double gapUm = p.first_layer_airgap * 1000.0;
        ini.setValue("raftBaseThickness", 200, kRaftAnchor);
        ini.setValue("raftAirGap", gapUm - 50.0, kRaftAnchor);
        ini.setValue("raftAirGapLayer0", gapUm, kRaftAnchor);
        // The trailing blank is part of the key the engine's profile has always carried.
        ini.setValue("insetraftAirGapLayer0 ", gapUm + 40.0, kRaftAnchor);
    }

    ini.setValue("sparseInfillLineDistance", infillDistance, kStartAnchor);
    ini.setValue("infillPattern", p.infill_pattern, kStartAnchor);
    ini.setValue("retractionZHop", p.z_hop_when_retracting, kStartAnchor);

    if (choiceType == 2 || choiceType == 3) {
        ini.setValue("platformx", settings.value("Box/Diameter").toInt() * 1000, kStartAnchor);
        ini.setValue("platformy", 0, kStartAnchor);
    } else {
        ini.setValue("platformx", settings.value("Box/Length").toInt() * 1000, kStartAnchor);
        ini.setValue("platformy", settings.value("Box/Width").toInt() * 1000, kStartAnchor);
    }

    const std::vector<std::array<double, 3>> points = getSupportPoints();
    if (!points.empty()) {
        ini.setValue("manualSupportEnable", 1, kStartAnchor);
        ini.setValue("manualSupportSideLen", int(supportSize * 1000.0), kStartAnchor);
        ini.setValue("manualSupportPoints", supportPointsText(points), kStartAnchor);
    }
    return ini.save(error);
}
