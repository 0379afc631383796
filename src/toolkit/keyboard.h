#pragma once

#include <QObject>

class QMessageBox;
class QPlainTextEdit;
class QWidget;

namespace moxel {

// The box a mouse press on `clicked` would put the caret into: the first
// widget up from it that takes focus on a click, when that is editable text.
// Buttons, labels, read-only boxes, scroll bars and the space between them
// take none; null then.
QPlainTextEdit *pressTypesInto(QWidget *clicked);

// A read-only box can be selected with the mouse but does not take the
// focus from a box being typed in; an editable one takes it on a click.
void setTypable(QWidget *box, bool typable);

// What the boxes and dialogs of a window ask of its keyboard policy, which
// decides who gets the keyboard. The policy is a child of the window.
class KeyboardRequests : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The policy of the window of `widget`; null where it has none.
    static KeyboardRequests *of(const QWidget *widget);

    // The salesperson asked to type into `box` (they unlocked it).
    virtual void typeInto(QPlainTextEdit *box) = 0;
    // They are done with `box` (they locked it again).
    virtual void doneTyping(QPlainTextEdit *box) = 0;
    // `box` is about to open over the window, modal to it.
    virtual void confirmationOpening(QMessageBox *box) = 0;
};

} // namespace moxel
