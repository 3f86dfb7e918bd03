#pragma once

class QEvent;
class QWidget;

// The questions a panel asks before it edits the selected model: erase the slice preview,
// leave support mode, delete the model's supports. A refusal swallows the user's input.
class EditGuard
{
public:
    // For a panel's event filter: true when the event is to be swallowed. Handles mouse
    // presses, wheels and key presses (and releases when watchRelease); other events and a
    // disabled panel pass.
    static bool swallow(QWidget* panel, QEvent* event, bool watchRelease);

    // Puts the panel's filter on a control. Presses and typing in a spin box's text land on
    // its inner line edit, which the box's filter never sees: they are guarded there too.
    static void watch(QWidget* panel, QWidget* control);

    // For a button's action, however it was pressed (mouse, Space, a call): the same three
    // questions; true when the edit may go ahead. The supports question swallows the press
    // whatever the answer: the next press edits.
    static bool allows(QWidget* panel);

    // Asks message kind 20 for the selected model's supports and deletes them on Ok.
    static void askDeleteSelectedSupports(QWidget* panel);

    // A question shown between two points in time makes the input stale; this many
    // milliseconds (scaled) tell an answered dialog from none.
    static int dialogThresholdMs();
};
