#pragma once

class QWidget;

// The questions asked before the plate changes, in the one place every change passes: the
// functions that apply a move, rotation, scale, copy, paste, delete, cut or support change
// call it, whatever route (mouse, key, wheel, typed, pasted or dropped text, menus) led there.
class EditGuard
{
public:
    // Whose supports stand in the way of the change.
    enum Supports { NoSupports, SelectedSupports, AnySupports };
    // What Ok to "delete the support?" leads to: the supports go and the change waits for the
    // next try, or the change is made without them.
    enum AfterSupports { DropChange, MakeChange };

    // Erase the slice data (19), leave support mode (18), delete the supports (20), in that
    // order; true when the change may be made now. Nothing is asked, and false returned, while
    // the plate is held (a job reads it, a print-task file is shown) or another question is
    // open. A refused change is the caller's to undo on its widget.
    static bool allows(QWidget* from, Supports supports, AfterSupports after = DropChange);

    // The slice-data question alone: for changes that meet neither support mode nor the
    // supports' places (hiding or deleting a model, deleting every support).
    static bool allowsErase(QWidget* from);
};
