#include "UI/EditGuard.h"

#include <QAbstractSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWidget>

#include "UI/BrevMessageBox.h"
#include "UI/PanelHost.h"
#include "platform/Platform.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {
// Presses and typed text go to a spin box's line edit, not to the box.
class TextGuard : public QObject
{
public:
    TextGuard(QWidget* panel, QObject* text)
        : QObject(text)
        , panel(panel)
    {
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        return (type == QEvent::MouseButtonPress || type == QEvent::KeyPress) && EditGuard::swallow(panel, event, false);
    }

private:
    QWidget* panel;
};
} // namespace

void EditGuard::watch(QWidget* panel, QWidget* control)
{
    control->installEventFilter(panel);
    if (qobject_cast<QAbstractSpinBox*>(control)) {
        if (auto* text = control->findChild<QLineEdit*>())
            text->installEventFilter(new TextGuard(panel, text));
    }
}

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

bool EditGuard::allows(QWidget* panel)
{
    PanelHost* host = PanelHost::of(panel);
    if (host && (!host->confirmEraseSliceData() || !host->confirmQuitSupportMode()))
        return false;
    const MeshModel* m = AppData::instance()->getSelectedModel();
    if (m && m->hasSupport) {
        askDeleteSelectedSupports(panel);
        return false;
    }
    return true;
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
