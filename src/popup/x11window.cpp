// X11 only: what the window manager does around the popup. Qt has no flag for
// keeping a normal window out of the taskbar, and it learns the size of the
// decorations only after the window is mapped, which is too late to place the
// outer frame without a visible jump.
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QHash>
#include <QMargins>
#include <QThread>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace moxel {

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { free(p); }
};
template<typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// Interned once: the frame is read on every move of a drag.
xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    static QHash<QByteArray, xcb_atom_t> known;
    const auto it = known.constFind(name);
    if (it != known.cend())
        return *it;
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    known.insert(name, reply->atom);
    return reply->atom;
}

xcb_window_t rootOf(xcb_connection_t *c, xcb_window_t window)
{
    const Reply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    return reply ? reply->root : xcb_window_t(XCB_WINDOW_NONE);
}

// Whether the running window manager lists `name` in _NET_SUPPORTED. A bare
// X server, or a window manager that publishes nothing, supports nothing.
bool wmSupports(xcb_connection_t *c, xcb_window_t root, const char *name)
{
    const xcb_atom_t wanted = atom(c, name);
    const xcb_atom_t supported = atom(c, "_NET_SUPPORTED");
    if (wanted == XCB_ATOM_NONE || supported == XCB_ATOM_NONE)
        return false;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, supported, XCB_ATOM_ATOM, 0, 4096), nullptr));
    if (!reply || reply->format != 32)
        return false;
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / int(sizeof(xcb_atom_t));
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == wanted)
            return true;
    }
    return false;
}

// _NET_FRAME_EXTENTS of `window` (left, right, top, bottom), if set.
std::optional<QMargins> readExtents(xcb_connection_t *c, xcb_window_t window)
{
    const xcb_atom_t extents = atom(c, "_NET_FRAME_EXTENTS");
    if (extents == XCB_ATOM_NONE)
        return std::nullopt;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 16)
        return std::nullopt;
    const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
    // Sanity bound: a hostile or broken window manager must not shrink the popup to nothing.
    for (int i = 0; i < 4; ++i) {
        if (v[i] > 512)
            return std::nullopt;
    }
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
}

} // namespace

void skipTaskbar(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const xcb_window_t id = xcb_window_t(window->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip[] = {atom(c, "_NET_WM_STATE_SKIP_TASKBAR")};
    if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE)
        return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, 1, skip);
    xcb_flush(c);
}

QMargins frameExtents(const QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window->internalWinId())
        return {};
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    if (!wmSupports(c, rootOf(c, id), "_NET_FRAME_EXTENTS"))
        return {};
    return readExtents(c, id).value_or(QMargins());
}

QMargins requestFrameExtents(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return {};
    const xcb_window_t id = xcb_window_t(window->winId());
    const xcb_window_t root = rootOf(c, id);
    if (!wmSupports(c, root, "_NET_FRAME_EXTENTS") ||
        !wmSupports(c, root, "_NET_REQUEST_FRAME_EXTENTS"))
        return {};
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(c);
    // The answer is a property on our own window; a window manager that
    // ignores the request costs a fifth of a second, once.
    QDeadlineTimer deadline(200);
    do {
        if (const auto extents = readExtents(c, id))
            return *extents;
        QThread::msleep(2);
    } while (!deadline.hasExpired());
    return {};
}

} // namespace moxel
