#pragma once

#include "keyboard.h"

#include <QPointer>

class QMessageBox;
class QPlainTextEdit;
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
// and hands it back to whoever had it when it closes; so does locking the
// mirror after typing there. Where the window system lets a window take the
// keyboard only by activating it, only the last two hold.
class KeyboardPolicy final : public KeyboardRequests
{
    Q_OBJECT
public:
    explicit KeyboardPolicy(QWidget *window);
    Q_DISABLE_COPY_MOVE(KeyboardPolicy)

    void typeInto(QPlainTextEdit *box) override;
    void doneTyping(QPlainTextEdit *box) override;
    void confirmationOpening(QMessageBox *box) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Who had the keyboard before the popup took it for a while: another
    // program's window, or a box of the popup's own, with its caret where it was.
    struct Holder
    {
        unsigned long other = 0;
        bool ours = false;
        QPointer<QWidget> box; // with `ours`; null: the window's focus widget
    };

    Holder holder() const;
    void giveBack(const Holder &holder);
    void take(QWidget *box, unsigned long timestamp = 0);
    void setAccepts(bool accepts);
    void confirmationShown(bool shown);

    QWidget *const m_window;
    const bool m_declines;             // the window declines the keyboard unless asked
    QPointer<QPlainTextEdit> m_lentTo; // the box typed into, unlocked
    Holder m_lentFrom;                 // who gets the keyboard back from it
    // A QWidget: its Hide comes from ~QWidget, when it is a QMessageBox no more.
    QPointer<QWidget> m_confirmation;
    Holder m_confirmedFrom; // who gets the keyboard back from the confirmation
};

} // namespace moxel
