#include "keyboardguard.h"

#include "keyboard.h"
#include "windowsystem.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace moxel {

KeyboardGuard::KeyboardGuard(QWidget *window) : QObject(window), m_window(window)
{
    setAcceptsKeyboard(window, false);
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *now) {
        if (!now)
            setAcceptsKeyboard(m_window, false);
    });
}

bool KeyboardGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        // Before the box takes the focus of the window, the window takes the keyboard.
        if (widget->window() == m_window && pressTypesInto(widget))
            takeKeyboard(widget, static_cast<QMouseEvent *>(event)->timestamp());
        break;
    case QEvent::Show:
    case QEvent::Close:
    case QEvent::Hide:
        if (widget->isWindow() && widget->parentWidget() == m_window)
            dialogShown(widget, event->type() == QEvent::Show);
        break;
    default:
        break;
    }
    return false;
}

// The window declines the keyboard while the confirmation is open: the
// confirmation's window is gone before its loss of the focus can be heard,
// and a window still accepting the keyboard would take it at the next click.
void KeyboardGuard::dialogShown(QWidget *dialog, bool shown)
{
    if (shown) {
        // Out of the taskbar as the popup is; set before it is mapped.
        windowsystem::skipTaskbar(dialog);
        m_holder = keyboardHolder(m_window);
        setAcceptsKeyboard(m_window, false);
        return;
    }
    // Handed back while the confirmation still has it (Close comes before
    // Hide), so that no window manager falls back to a window of its own
    // choosing when it goes.
    giveKeyboardBack(std::exchange(m_holder, {}), m_window);
}

} // namespace moxel
