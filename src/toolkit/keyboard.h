#pragma once

#include <QPointer>
#include <QWidget>

namespace moxel {

// The salesperson types into the chat window while reading the popup, so the
// popup's window declines the keyboard (on X11 its WM_HINTS input field is
// false) and takes it only where they ask for it: a click into a box they can
// type in, or the button that unlocks one.

// Whether the window may be given the keyboard by its window manager.
void setAcceptsKeyboard(QWidget *window, bool accepts);

// Gives `box` the focus of its window and its window the keyboard, in
// answer to the salesperson's own click or key at `timestamp` (the window
// system's time; 0 for now).
void takeKeyboard(QWidget *box, unsigned long timestamp = 0);

// Who had the keyboard before the popup took it for a while (the copy
// confirmation, the unlocked mirror): another program's window, or a box of
// the popup's own window, with its caret where it was.
struct KeyboardHolder
{
    unsigned long other = 0;
    bool ours = false;
    QPointer<QWidget> box; // with `ours`; null: the window's focus widget
};

// Who has the keyboard now, seen from `ours`, the popup's window. Where the
// window system cannot say, Qt's active window decides between ours and nobody.
KeyboardHolder keyboardHolder(QWidget *ours);

// Hands the keyboard back to `holder`: a box of `ours` takes it itself;
// another program's window is activated through the window manager.
void giveKeyboardBack(const KeyboardHolder &holder, QWidget *ours);

// True when a mouse press on `clicked` would put the caret into a box the
// salesperson can type in: the first widget up from it that takes focus on a
// click is editable text. Buttons, labels, read-only boxes, scroll bars and
// the space between them take none.
bool pressTypesInto(const QWidget *clicked);

// A read-only box can be selected with the mouse but does not take the
// focus from a box being typed in; an editable one takes it on a click.
void setTypable(QWidget *box, bool typable);

} // namespace moxel
