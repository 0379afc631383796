#include "keyboard.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QWidget>
#include <QWindow>

#ifdef MOXEL_X11
#include "x11.h"
#endif

namespace moxel {

namespace {

bool onX11()
{
    return QGuiApplication::platformName() == u"xcb";
}

#ifdef MOXEL_X11
// ICCCM lets a window that declines input take the focus itself in answer to
// a click or key. The window manager is not asked: some refuse a request
// that comes after their own handling of the click.
void focusX11(xcb_window_t window, unsigned long timestamp)
{
    if (xcb_connection_t *c = x11::connection()) {
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window, xcb_timestamp_t(timestamp));
        xcb_flush(c);
    }
}
#endif

} // namespace

void setAcceptsKeyboard(QWidget *window, bool accepts)
{
    const Qt::WindowFlags flags = window->windowFlags();
    if (bool(flags & Qt::WindowDoesNotAcceptFocus) == !accepts)
        return;
    // Set on the native window as well: QWidget::setWindowFlags() would hide
    // and re-create a window that is on screen.
    window->overrideWindowFlags(flags ^ Qt::WindowDoesNotAcceptFocus);
    if (QWindow *handle = window->windowHandle())
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, !accepts);
}

void takeKeyboard(QWidget *box, unsigned long timestamp)
{
    QWidget *window = box->window();
    box->setFocus(Qt::OtherFocusReason);
    if (window == box)
        return;
    setAcceptsKeyboard(window, true);
    if (window->isActiveWindow())
        return;
#ifdef MOXEL_X11
    if (onX11() && window->internalWinId()) {
        focusX11(xcb_window_t(window->internalWinId()), timestamp);
        return;
    }
#endif
    Q_UNUSED(timestamp);
    window->activateWindow();
}

unsigned long keyboardOwner()
{
#ifdef MOXEL_X11
    using namespace x11;
    xcb_connection_t *c = onX11() ? connection() : nullptr;
    const xcb_window_t root = c ? defaultRoot(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (root == XCB_WINDOW_NONE)
        return 0;
    if (wmSupports(c, root, "_NET_ACTIVE_WINDOW"))
        return values32(c, root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 1).value(0);
    const Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    // None and PointerRoot are 0 and 1: nobody's window.
    return focus && focus->focus > 1 ? focus->focus : 0;
#else
    return 0;
#endif
}

void giveKeyboardBack(unsigned long owner, QWidget *ours)
{
    if (owner == 0)
        return;
    if (ours && owner == ours->internalWinId()) {
        if (QWidget *box = ours->focusWidget())
            takeKeyboard(box);
        return;
    }
#ifdef MOXEL_X11
    using namespace x11;
    xcb_connection_t *c = onX11() ? connection() : nullptr;
    const xcb_window_t root = c ? defaultRoot(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (root == XCB_WINDOW_NONE)
        return;
    if (wmSupports(c, root, "_NET_ACTIVE_WINDOW")) {
        const uint32_t pager = 2;
        sendToRoot(c, xcb_window_t(owner), "_NET_ACTIVE_WINDOW", {pager, XCB_CURRENT_TIME});
        xcb_flush(c);
    } else {
        focusX11(xcb_window_t(owner), XCB_CURRENT_TIME);
    }
#endif
}

bool pressTypesInto(const QWidget *clicked)
{
    for (const QWidget *w = clicked; w; w = w->parentWidget()) {
        if (qobject_cast<const QScrollBar *>(w))
            return false;
        if (w->isEnabled() && (w->focusPolicy() & Qt::ClickFocus)) {
            const auto *box = qobject_cast<const QPlainTextEdit *>(w);
            return box && !box->isReadOnly();
        }
        if (w->isWindow())
            break;
    }
    return false;
}

void setTypable(QWidget *box, bool typable)
{
    box->setFocusPolicy(typable ? Qt::StrongFocus : Qt::TabFocus);
}

} // namespace moxel
