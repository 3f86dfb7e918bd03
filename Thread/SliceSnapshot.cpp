#include "Thread/SliceSnapshot.h"

#include "scene/AppData.h"
#include "scene/MeshData.h"

SliceSnapshot SliceSnapshot::take(const QString& outputPath)
{
    const AppData* app = AppData::instance();
    SliceSnapshot s;
    s.mesh = std::make_shared<MeshData>();
    app->mergeVisibleModels(*s.mesh);
    s.machineType = app->getChoiceType();
    s.boxLength = app->getBoxLength();
    s.boxWidth = app->getBoxWidth();
    s.temperature = app->getTemperature();
    s.hotbed = app->getHotbed();
    s.appDir = app->getAppDir();
    s.settingsDir = app->getSettingsDir();
    s.outputPath = outputPath;
    return s;
}
