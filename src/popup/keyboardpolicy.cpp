#include "keyboardpolicy.h"

#include "windowsystem.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace moxel {

namespace {

// The box named as `gone` nearest to `near`: what a render put in its place.
QWidget *namesake(QWidget *gone, const QWidget *near)
{
    if (gone->objectName().isEmpty())
        return gone;
    for (const QWidget *w = near->parentWidget(); w; w = w->parentWidget()) {
        for (QPlainTextEdit *found : w->findChildren<QPlainTextEdit *>(gone->objectName()))
            if (found != gone)
                return found;
    }
    return gone;
}

} // namespace

KeyboardPolicy::KeyboardPolicy(QWidget *window)
    : KeyboardRequests(window), m_window(window), m_declines(windowsystem::isX11())
{
    if (!m_declines)
        return;
    setAccepts(false);
    // Its clicks reach the native window first; that comes with the window id.
    window->installEventFilter(this);
    if (QWindow *handle = window->windowHandle())
        handle->installEventFilter(this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *now) {
        if (!now)
            setAccepts(false);
    });
}

void KeyboardPolicy::typeInto(QPlainTextEdit *box)
{
    // A render that replaces the box being typed into unlocks its successor:
    // the keyboard still goes back to whoever had it before the first, or to
    // the successor of the box that had it. The render is no request to type:
    // the successor has the window's focus, and the keyboard stays where it is.
    if (m_lentTo && m_lentTo != box) {
        if (m_lentFrom.box)
            m_lentFrom.box = namesake(m_lentFrom.box, box);
        m_lentTo = box;
        box->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_lentFrom = holder();
    m_lentTo = box;
    take(box);
}

void KeyboardPolicy::doneTyping(QPlainTextEdit *box)
{
    m_lentTo = nullptr;
    // Done typing there: the next keys go where they went before.
    if (box->hasFocus())
        giveBack(std::exchange(m_lentFrom, {}));
}

void KeyboardPolicy::confirmationOpening(QMessageBox *box)
{
    if (!m_declines)
        return;
    m_confirmation = box;
    box->installEventFilter(this);
}

bool KeyboardPolicy::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_confirmation) {
        if (event->type() == QEvent::Show)
            confirmationShown(true);
        else if (event->type() == QEvent::Close || event->type() == QEvent::Hide)
            confirmationShown(false);
    } else if (watched == m_window) {
        if (event->type() == QEvent::WinIdChange && m_window->windowHandle())
            m_window->windowHandle()->installEventFilter(this);
    } else if (event->type() == QEvent::MouseButtonPress && watched == m_window->windowHandle()) {
        // Before the box takes the focus of the window, the window takes the keyboard.
        const auto *press = static_cast<QMouseEvent *>(event);
        QWidget *clicked = m_window->childAt(press->position().toPoint());
        if (QPlainTextEdit *box = pressTypesInto(clicked ? clicked : m_window))
            take(box, press->timestamp());
    }
    return false;
}

// The window declines the keyboard while the confirmation is open: the
// confirmation's window is gone before its loss of the focus can be heard,
// and a window still accepting the keyboard would take it at the next click.
void KeyboardPolicy::confirmationShown(bool shown)
{
    if (shown) {
        // Out of the taskbar as the popup is; set before it is mapped.
        windowsystem::skipTaskbar(m_confirmation);
        m_confirmedFrom = holder();
        setAccepts(false);
        return;
    }
    // Handed back while the confirmation still has it (Close comes before
    // Hide), so that no window manager falls back to a window of its own
    // choosing when it goes.
    giveBack(std::exchange(m_confirmedFrom, {}));
}

// Who has the keyboard now. Where the window system cannot say, Qt's active
// window decides between the popup and nobody.
KeyboardPolicy::Holder KeyboardPolicy::holder() const
{
    const unsigned long owner = windowsystem::keyboardOwner();
    if (owner ? owner == m_window->internalWinId() : m_window->isActiveWindow())
        return {0, true, m_window->focusWidget()};
    return {owner, false, nullptr};
}

void KeyboardPolicy::giveBack(const Holder &holder)
{
    if (!holder.ours) {
        windowsystem::activateOther(holder.other);
        return;
    }
    // The box may have gone with a render meanwhile; its successor has the focus.
    QWidget *box = holder.box && holder.box->window() == m_window ? holder.box.data()
                                                                  : m_window->focusWidget();
    if (box)
        take(box);
}

// Gives `box` the focus of the window and the window the keyboard, in answer
// to the salesperson's own click or key at `timestamp` (0: now).
void KeyboardPolicy::take(QWidget *box, unsigned long timestamp)
{
    box->setFocus(Qt::OtherFocusReason);
    if (box == m_window)
        return;
    setAccepts(true);
    if (!m_window->isActiveWindow() && !windowsystem::focusWindow(m_window, timestamp))
        m_window->activateWindow();
}

void KeyboardPolicy::setAccepts(bool accepts)
{
    const Qt::WindowFlags flags = m_window->windowFlags();
    if (bool(flags & Qt::WindowDoesNotAcceptFocus) == !accepts)
        return;
    // Set on the native window as well: QWidget::setWindowFlags() would hide
    // and re-create a window that is on screen.
    m_window->overrideWindowFlags(flags ^ Qt::WindowDoesNotAcceptFocus);
    if (QWindow *handle = m_window->windowHandle())
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, !accepts);
}

} // namespace moxel
