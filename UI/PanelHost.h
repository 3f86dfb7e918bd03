#pragma once

#include <QWidget>

// What the edit panels need from the window around them. The main window implements it;
// tests use a small fake top-level widget. Every panel works without a host (it then asks
// nothing and refreshes nothing).
class PanelHost
{
public:
    virtual ~PanelHost() = default;

    // Guards before a scene edit; false means the user refused.
    virtual bool confirmEraseSliceData() = 0;
    virtual bool confirmQuitSupportMode() = 0;
    // The plate may not change now: a job reads it, or a print-task file is shown over it.
    virtual bool plateHeld() const { return false; }

    // The one refresh after a scene change (status, buttons and every panel), and a repaint.
    virtual void updateStatus() = 0;
    virtual void updateGLView() = 0;

    // The cut plane of the 3D view: position in millimetres, commands as the view takes them
    // (3 start the cut, 4 enter and 5 leave the ready state); false when a command is refused.
    virtual void setCuttingValue(float value) = 0;
    virtual float cuttingValue() const = 0;
    virtual bool sendCuttingCommand(int command) = 0;
    virtual void setCuttingMode(bool ready) = 0;

    // Manual supports: the delete cursor of the view, and the automatic supports job.
    virtual void setSupportCursor(bool deleting) = 0;
    virtual void runAutoSupport(double size, double angle) = 0;

    // The host of a panel is its top-level window, when that window is one.
    static PanelHost* of(const QWidget* w)
    {
        return w ? dynamic_cast<PanelHost*>(w->window()) : nullptr;
    }
};
