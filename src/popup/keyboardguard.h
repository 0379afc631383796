#pragma once

#include "keyboard.h"

#include <QObject>

class QWidget;

namespace moxel {

// Keeps the keyboard with the chat while the salesperson reads the popup.
//
// The window declines the keyboard (on X11 its input hint is false, ICCCM's
// "globally active" model, since Qt always offers WM_TAKE_FOCUS) from its
// first map, when some window managers (icewm) would otherwise give it as to
// any new window, and for every click that is not into a box to type in:
// window managers and Qt both hand the keyboard to a window that accepts it
// wherever it is clicked. A click into the draft or the unlocked mirror lets
// the window accept the keyboard and takes it, with the click's time, as
// ICCCM allows. Once the keyboard has gone to another program the window
// declines again. The copy confirmation takes the keyboard while it is open
// and hands it back to whoever had it when it closes.
class KeyboardGuard final : public QObject
{
    Q_OBJECT
public:
    explicit KeyboardGuard(QWidget *window);
    Q_DISABLE_COPY_MOVE(KeyboardGuard)

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void dialogShown(QWidget *dialog, bool shown);

    QWidget *m_window;
    KeyboardHolder m_holder; // who gets the keyboard back from the confirmation
};

} // namespace moxel
