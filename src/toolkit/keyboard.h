#pragma once

class QWidget;

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

// Hands the keyboard back to `owner`, found by windowsystem::keyboardOwner():
// `ours` takes it into its focus widget itself; another program's window is
// activated through the window manager.
void giveKeyboardBack(unsigned long owner, QWidget *ours);

// True when a mouse press on `clicked` would put the caret into a box the
// salesperson can type in: the first widget up from it that takes focus on a
// click is editable text. Buttons, labels, read-only boxes, scroll bars and
// the space between them take none.
bool pressTypesInto(const QWidget *clicked);

// A read-only box can be selected with the mouse but does not take the
// focus from a box being typed in; an editable one takes it on a click.
void setTypable(QWidget *box, bool typable);

} // namespace moxel
