#include "UI/EditGuard.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#include "UI/BrevMessageBox.h"
#include "UI/PanelHost.h"
#include "platform/Platform.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

int EditGuard::dialogThresholdMs()
{
    return Platform::scaledMs(10);
}

void EditGuard::askDeleteSelectedSupports(QWidget* panel)
{
    AppData* data = AppData::instance();
    MeshModel* m = data->getSelectedModel();
    if (!m)
        return;
    PanelHost* host = PanelHost::of(panel);
    BrevMessageBox box(20, panel ? panel->window() : nullptr);
    if (box.exec() != 1)
        return;
    const std::string name = m->getName();
    data->removeSupportsOf(name);
    data->updateSupportFlag(name);
    if (host)
        host->updateGLView();
}

bool EditGuard::swallow(QWidget* panel, QEvent* event, bool watchRelease)
{
    if (!panel || !panel->isEnabled())
        return false;
    PanelHost* host = PanelHost::of(panel);
    const QEvent::Type type = event->type();
    const bool mouse = type == QEvent::MouseButtonPress || (watchRelease && type == QEvent::MouseButtonRelease);
    const auto hasSupport = [] {
        const MeshModel* m = AppData::instance()->getSelectedModel();
        return m && m->hasSupport;
    };

    if (mouse || type == QEvent::Wheel) {
        QElapsedTimer clock;
        clock.start();
        if (host && !host->confirmEraseSliceData())
            return true;
        if (mouse && !(static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton))
            return clock.elapsed() > dialogThresholdMs();
        if (host && !host->confirmQuitSupportMode())
            return true;
        if (hasSupport()) {
            askDeleteSelectedSupports(panel);
            return true;
        }
        return clock.elapsed() > dialogThresholdMs();
    }
    if (type == QEvent::KeyPress) {
        if (host && !host->confirmEraseSliceData())
            return true;
        if (hasSupport()) {
            askDeleteSelectedSupports(panel);
            return true;
        }
    }
    return false;
}
