// X11 only: what the window manager does around the popup. Qt has no flag for
// keeping a normal window out of the taskbar, and it learns the size of the
// decorations only after the window is mapped, which is too late to place the
// outer frame without a visible jump.
#include "x11window.h"
#include "frame.h"
#include "x11.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QHash>
#include <QList>
#include <QMargins>
#include <QThread>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

namespace moxel {

using namespace x11;

namespace {

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

std::optional<QRect> nativeGeometry(const QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window->internalWinId())
        return std::nullopt;
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    const auto geometry = xcb_get_geometry(c, id);
    const Reply<xcb_get_geometry_reply_t> size(xcb_get_geometry_reply(c, geometry, nullptr));
    if (!size)
        return std::nullopt;
    // A reparenting window manager's frame is in between, so the position is asked of the root.
    const Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, id, size->root, 0, 0), nullptr));
    if (!at)
        return std::nullopt;
    return QRect(at->dst_x, at->dst_y, size->width, size->height);
}

void setNativeGeometry(QWidget *window, const QRect &client)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const uint32_t values[] = {uint32_t(client.x()), uint32_t(client.y()),
                               uint32_t(qMax(1, client.width())),
                               uint32_t(qMax(1, client.height()))};
    xcb_configure_window(c, xcb_window_t(window->winId()),
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    xcb_flush(c);
}

// Mapped, and framed: either the window manager publishes no decorations or
// it has told this window its own.
bool mappedAndFramed(const QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window->internalWinId())
        return false;
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    const Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return false;
    return !wmSupports(c, rootOf(c, id), "_NET_FRAME_EXTENTS") || readExtents(c, id).has_value();
}

// Qt asks for resizing in steps of the scale factor, rounded, so that the
// size in points stays whole; the window manager then cannot give the frame
// its exact size in pixels. The popup's size in points need not be whole.
void dropResizeIncrement(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window->internalWinId())
        return;
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    QList<uint32_t> hints = values32(c, id, "WM_NORMAL_HINTS", XCB_ATOM_WM_SIZE_HINTS, 18);
    const uint32_t resizeIncrement = 1u << 6;
    if (hints.size() < 18 || !(hints[0] & resizeIncrement))
        return;
    hints[0] &= ~resizeIncrement;
    hints[9] = hints[10] = 1;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, uint32_t(hints.size()), hints.constData());
    xcb_flush(c);
}

// KWin maximises a new window whose frame does not fit the screen and marks
// one it did not activate as wanting attention; the popup asked for neither.
void dropUnaskedStates(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window->internalWinId())
        return;
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    const QList<uint32_t> states = values32(c, id, "_NET_WM_STATE", XCB_ATOM_ATOM, 64);
    const uint32_t remove = 0;
    for (const auto &[first, second] :
         {std::pair{"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"},
          std::pair{"_NET_WM_STATE_DEMANDS_ATTENTION", ""}}) {
        const xcb_atom_t a = atom(c, first);
        const xcb_atom_t b = *second ? atom(c, second) : xcb_atom_t(XCB_ATOM_NONE);
        if (states.contains(a) || (b != XCB_ATOM_NONE && states.contains(b)))
            sendToRoot(c, id, "_NET_WM_STATE", {remove, a, b, 1});
    }
    xcb_flush(c);
}

QRect x11VisibleArea(const QRect &screen)
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = c ? defaultRoot(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (root == XCB_WINDOW_NONE)
        return screen;
    const Reply<xcb_get_geometry_reply_t> rootGeometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
    if (!rootGeometry)
        return screen;
    const QSize rootSize(rootGeometry->width, rootGeometry->height);

    // Per-monitor work areas, where the window manager publishes them (mutter does).
    QList<QRect> workAreas;
    const QList<uint32_t> desktop = values32(c, root, "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, 1);
    const QByteArray name = "_GTK_WORKAREAS_D" + QByteArray::number(desktop.value(0));
    const QList<uint32_t> areas = values32(c, root, name.constData(), XCB_ATOM_CARDINAL, 4 * 64);
    for (qsizetype i = 0; i + 3 < areas.size(); i += 4)
        workAreas.append(
            QRect(int(areas[i]), int(areas[i + 1]), int(areas[i + 2]), int(areas[i + 3])));

    QList<Strut> struts;
    const QList<uint32_t> clients = values32(c, root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 4096);
    for (const uint32_t client : clients) {
        QList<uint32_t> v = values32(c, client, "_NET_WM_STRUT_PARTIAL", XCB_ATOM_CARDINAL, 12);
        if (v.size() < 12)
            v = values32(c, client, "_NET_WM_STRUT", XCB_ATOM_CARDINAL, 4);
        if (v.size() >= 4) {
            QList<int> ints;
            for (const uint32_t x : v)
                ints.append(int(qMin(x, 1u << 20)));
            struts.append(Strut::fromValues(ints, rootSize));
        }
    }
    return visibleArea(screen, rootSize, struts, workAreas);
}

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

// The decorations the window will get, in device pixels: none where the
// window manager publishes none, nothing known where it does not answer the
// request before mapping (KWin does not list it).
std::optional<QMargins> requestFrameExtents(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return QMargins();
    const xcb_window_t id = xcb_window_t(window->winId());
    const xcb_window_t root = rootOf(c, id);
    if (!wmSupports(c, root, "_NET_FRAME_EXTENTS"))
        return QMargins();
    if (!wmSupports(c, root, "_NET_REQUEST_FRAME_EXTENTS"))
        return std::nullopt;
    sendToRoot(c, id, "_NET_REQUEST_FRAME_EXTENTS", {});
    xcb_flush(c);
    // The answer is a property on our own window; a window manager that
    // ignores the request costs a fifth of a second, once.
    QDeadlineTimer deadline(200);
    do {
        if (const auto extents = readExtents(c, id))
            return *extents;
        QThread::msleep(2);
    } while (!deadline.hasExpired());
    return std::nullopt;
}

} // namespace moxel
