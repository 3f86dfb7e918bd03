#include "UI/EditGuard.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScopedValueRollback>
#include <QTimer>
#include <QWidget>

#include "UI/BrevMessageBox.h"
#include "UI/PanelHost.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

bool g_asking = false;

// Whether a slider is in a press: dragged, or paging while held (the repeat is its own).
struct SliderPress : QAbstractSlider
{
    static bool held(const QAbstractSlider* s)
    {
        return s->isSliderDown() || (s->*(&SliderPress::repeatAction))() != SliderNoAction;
    }
};

// A question shown during a press takes the press's release: a slider would go on paging
// or dragging, a spin box on stepping, each step now made without a question. Once the press
// handler is done (it may start the repeat after the change), the press is ended.
void endPresses(QWidget* from)
{
    QTimer::singleShot(0, from, [from = QPointer<QWidget>(from)] {
        if (!from)
            return;
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        for (QAbstractSlider* s : from->findChildren<QAbstractSlider*>()) {
            // A slider that is not pressed passes the release on to its parents.
            if (SliderPress::held(s))
                QCoreApplication::sendEvent(s, &release);
        }
        for (QAbstractSpinBox* b : from->findChildren<QAbstractSpinBox*>())
            QCoreApplication::sendEvent(b, &release);
    });
}

// Ok deletes the supports in the way; true on Ok.
bool deleteSupports(QWidget* from, PanelHost* host, EditGuard::Supports supports)
{
    AppData* data = AppData::instance();
    const MeshModel* m = data->getSelectedModel();
    const bool inTheWay = supports == EditGuard::AnySupports ? data->hasSupports()
                                                             : supports == EditGuard::SelectedSupports && m && m->hasSupport;
    if (!inTheWay)
        return true;
    BrevMessageBox box(20, from ? from->window() : nullptr);
    if (box.exec() != 1)
        return false;
    if (supports == EditGuard::AnySupports) {
        data->removeAllSupports();
    } else {
        const std::string name = m->getName();
        data->removeSupportsOf(name);
        data->updateSupportFlag(name);
    }
    if (host)
        host->updateStatus();
    return true;
}

template <typename Questions> bool ask(QWidget* from, Questions questions)
{
    PanelHost* host = PanelHost::of(from);
    // One question at a time: a change tried while one is open (a repeat, an edit that loses
    // its focus to the box) is not made.
    if (g_asking || QApplication::activeModalWidget() || (host && host->plateHeld()))
        return false;
    const QScopedValueRollback<bool> asking(g_asking, true);
    const int before = BrevMessageBox::runCount();
    const bool ok = questions(host);
    if (from && BrevMessageBox::runCount() != before)
        endPresses(from);
    return ok;
}

} // namespace

bool EditGuard::allows(QWidget* from, Supports supports, AfterSupports after)
{
    return ask(from, [&](PanelHost* host) {
        if (host && (!host->confirmEraseSliceData() || !host->confirmQuitSupportMode()))
            return false;
        const int before = BrevMessageBox::runCount();
        if (!deleteSupports(from, host, supports))
            return false;
        return after == MakeChange || BrevMessageBox::runCount() == before;
    });
}

bool EditGuard::allowsErase(QWidget* from)
{
    return ask(from, [](PanelHost* host) { return !host || host->confirmEraseSliceData(); });
}
