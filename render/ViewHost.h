#pragma once

// What the 3D view needs from the window around it. The main window implements it; tests
// use a small fake, so the view can be built and tested without the main window.
class ViewHost
{
public:
    virtual ~ViewHost() = default;

    // The worker pool's task state: 0 idle, 1 loading, 2 print-task file ready, 3 slicing,
    // 4 sending, 6 levelling.
    virtual int taskState() const = 0;

    // Guards before a scene edit; false means the user refused.
    virtual bool confirmEraseSliceData() = 0;
    virtual bool confirmClearSlicePreview() = 0;
    virtual bool confirmQuitSupportMode() = 0;
    // "Before editing the model, delete the support?"; true on Ok.
    virtual bool confirmDeleteSupports() = 0;

    // Refresh of the window's status and buttons after a scene change.
    virtual void updateStatus() = 0;
    virtual void updateSupportButtons() = 0;

    // The cut engine, reached through the window: the live section preview, the cut job
    // (shown behind the wait dialog, run on the global pool) and the long-job state.
    virtual void previewCutSection(int positionUm, int axis) = 0;
    virtual void startCut(double positionUm, int axis) = 0;
    virtual void setJobState(int state) = 0;
};
