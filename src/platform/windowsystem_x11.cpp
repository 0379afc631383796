// X11: what the window manager does around the popup. Qt has no flag for
// keeping a normal window out of the taskbar, learns the size of the
// decorations only after the window is mapped (too late to place the outer
// frame without a visible jump), and cannot say who has the keyboard.
#include "windowsystem.h"
#include "x11.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSet>

#include <utility>

namespace moxel::windowsystem {

using namespace x11;

namespace {

xcb_window_t idOf(const QWidget *window)
{
    return xcb_window_t(window->internalWinId());
}

// _NET_FRAME_EXTENTS (left, right, top, bottom) from a property reply.
std::optional<QMargins> extentsFrom(xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) != 16)
        return std::nullopt;
    const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(reply));
    // A hostile or broken window manager must not shrink the popup to nothing.
    for (int i = 0; i < 4; ++i) {
        if (v[i] > 512)
            return std::nullopt;
    }
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
}

// The events that tell where a new window stands: mapped, framed, told its
// decorations, moved or resized by the window manager.
class EventFilter final : public QAbstractNativeEventFilter
{
public:
    explicit EventFilter(WindowEvents *events) : m_events(events)
    {
        if (xcb_connection_t *c = connection()) {
            m_extents = atom(c, "_NET_FRAME_EXTENTS");
            m_state = atom(c, "_NET_WM_STATE");
            m_root = defaultRoot(c);
        }
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        switch (event->response_type & ~0x80) {
        case XCB_MAP_NOTIFY:
            Q_EMIT m_events->mapped(
                WId(reinterpret_cast<const xcb_map_notify_event_t *>(event)->window));
            break;
        case XCB_REPARENT_NOTIFY: {
            const auto *reparent = reinterpret_cast<const xcb_reparent_notify_event_t *>(event);
            if (reparent->parent == m_root)
                m_framed.remove(reparent->window);
            else
                m_framed.insert(reparent->window);
            break;
        }
        case XCB_DESTROY_NOTIFY: // its id may come back for another window
            m_framed.remove(reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window);
            break;
        case XCB_CONFIGURE_NOTIFY: {
            const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
            // A framed window's own event gives its place in the frame.
            const bool onRoot =
                (event->response_type & 0x80) || !m_framed.contains(configure->window);
            Q_EMIT m_events->configured(
                WId(configure->window), QSize(configure->width, configure->height),
                onRoot ? std::optional(QPoint(configure->x, configure->y)) : std::nullopt);
            break;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto *property = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            if (property->atom == m_extents && m_extents != XCB_ATOM_NONE)
                Q_EMIT m_events->extentsChanged(WId(property->window));
            else if (property->atom == m_state && m_state != XCB_ATOM_NONE)
                Q_EMIT m_events->stateChanged(WId(property->window));
            break;
        }
        default:
            break;
        }
        return false; // Qt goes on with every event as before
    }

private:
    WindowEvents *m_events;
    xcb_atom_t m_extents = XCB_ATOM_NONE;
    xcb_atom_t m_state = XCB_ATOM_NONE;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    QSet<xcb_window_t> m_framed; // reparented by a window manager
};

} // namespace

bool isX11()
{
    return QGuiApplication::platformName() == u"xcb";
}

WindowEvents::WindowEvents(QObject *parent) : QObject(parent)
{
    if (!isX11())
        return;
    static EventFilter filter(this);
    QCoreApplication::instance()->installNativeEventFilter(&filter);
}

void skipTaskbar(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip[] = {atom(c, "_NET_WM_STATE_SKIP_TASKBAR")};
    if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE)
        return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), state,
                        XCB_ATOM_ATOM, 32, 1, skip);
    xcb_flush(c);
}

bool publishesFrameExtents()
{
    xcb_connection_t *c = connection();
    return c && wmSupports(c, defaultRoot(c), "_NET_FRAME_EXTENTS");
}

std::optional<QMargins> frameExtents(const QWidget *window)
{
    xcb_connection_t *c = connection();
    const xcb_atom_t extents = c ? atom(c, "_NET_FRAME_EXTENTS") : xcb_atom_t(XCB_ATOM_NONE);
    if (extents == XCB_ATOM_NONE || !idOf(window))
        return std::nullopt;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, idOf(window), extents, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    return extentsFrom(reply.get());
}

bool requestFrameExtents(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !wmSupports(c, defaultRoot(c), "_NET_REQUEST_FRAME_EXTENTS"))
        return false;
    sendToRoot(c, xcb_window_t(window->winId()), "_NET_REQUEST_FRAME_EXTENTS", {});
    xcb_flush(c);
    return true;
}

std::optional<QRect> nativeGeometry(const QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !idOf(window))
        return std::nullopt;
    // A reparenting window manager's frame is in between, so the position is
    // asked of the root; both questions go out before either answer is read.
    const xcb_window_t root = defaultRoot(c);
    const auto sizeCookie = xcb_get_geometry(c, idOf(window));
    const auto atCookie = xcb_translate_coordinates(c, idOf(window), root, 0, 0);
    const Reply<xcb_get_geometry_reply_t> size(xcb_get_geometry_reply(c, sizeCookie, nullptr));
    Reply<xcb_translate_coordinates_reply_t> at(
        xcb_translate_coordinates_reply(c, atCookie, nullptr));
    if (size && size->root != root) // a window on another X screen
        at.reset(xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, idOf(window), size->root, 0, 0), nullptr));
    if (!size || !at)
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

void dropUnaskedStates(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !idOf(window))
        return;
    const QList<uint32_t> states = values32(c, idOf(window), "_NET_WM_STATE", XCB_ATOM_ATOM, 64);
    const uint32_t remove = 0;
    for (const auto &[first, second] :
         {std::pair{"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"},
          std::pair{"_NET_WM_STATE_DEMANDS_ATTENTION", ""}}) {
        const xcb_atom_t a = atom(c, first);
        const xcb_atom_t b = *second ? atom(c, second) : xcb_atom_t(XCB_ATOM_NONE);
        if (states.contains(a) || (b != XCB_ATOM_NONE && states.contains(b)))
            sendToRoot(c, idOf(window), "_NET_WM_STATE", {remove, a, b, 1});
    }
    xcb_flush(c);
}

void dropResizeIncrement(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !idOf(window))
        return;
    QList<uint32_t> hints =
        values32(c, idOf(window), "WM_NORMAL_HINTS", XCB_ATOM_WM_SIZE_HINTS, 18);
    const uint32_t resizeIncrement = 1u << 6;
    if (hints.size() < 18 || !(hints[0] & resizeIncrement))
        return;
    hints[0] &= ~resizeIncrement;
    hints[9] = hints[10] = 1;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, idOf(window), XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, uint32_t(hints.size()), hints.constData());
    xcb_flush(c);
}

std::optional<Reservations> reservations()
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = c ? defaultRoot(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (root == XCB_WINDOW_NONE)
        return std::nullopt;
    const Reply<xcb_get_geometry_reply_t> rootGeometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
    if (!rootGeometry)
        return std::nullopt;
    Reservations found;
    found.root = QSize(rootGeometry->width, rootGeometry->height);

    // Per-monitor work areas, where the window manager publishes them (mutter does).
    const QList<uint32_t> desktop = values32(c, root, "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, 1);
    const QByteArray name = "_GTK_WORKAREAS_D" + QByteArray::number(desktop.value(0));
    const QList<uint32_t> areas = values32(c, root, name.constData(), XCB_ATOM_CARDINAL, 4 * 64);
    for (qsizetype i = 0; i + 3 < areas.size(); i += 4)
        found.workAreas.append(
            QRect(int(areas[i]), int(areas[i + 1]), int(areas[i + 2]), int(areas[i + 3])));

    const QList<uint32_t> clients = values32(c, root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 4096);
    for (const uint32_t client : clients) {
        QList<uint32_t> v = values32(c, client, "_NET_WM_STRUT_PARTIAL", XCB_ATOM_CARDINAL, 12);
        if (v.size() < 12)
            v = values32(c, client, "_NET_WM_STRUT", XCB_ATOM_CARDINAL, 4);
        if (v.size() < 4)
            continue;
        QList<int> ints;
        for (const uint32_t x : std::as_const(v))
            ints.append(int(qMin(x, 1u << 20)));
        found.struts.append(ints);
    }
    return found;
}

bool focusWindow(QWidget *window, unsigned long timestamp)
{
    xcb_connection_t *c = connection();
    if (!c || !idOf(window))
        return false;
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, idOf(window), xcb_timestamp_t(timestamp));
    xcb_flush(c);
    return true;
}

unsigned long keyboardOwner()
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = c ? defaultRoot(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (root == XCB_WINDOW_NONE)
        return 0;
    if (wmSupports(c, root, "_NET_ACTIVE_WINDOW"))
        return values32(c, root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 1).value(0);
    const Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    // None and PointerRoot are 0 and 1: nobody's window.
    return focus && focus->focus > 1 ? focus->focus : 0;
}

void activateOther(unsigned long window)
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = c ? defaultRoot(c) : xcb_window_t(XCB_WINDOW_NONE);
    if (root == XCB_WINDOW_NONE || window == 0)
        return;
    if (wmSupports(c, root, "_NET_ACTIVE_WINDOW")) {
        const uint32_t pager = 2;
        sendToRoot(c, xcb_window_t(window), "_NET_ACTIVE_WINDOW", {pager, XCB_CURRENT_TIME});
    } else {
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, xcb_window_t(window), XCB_CURRENT_TIME);
    }
    xcb_flush(c);
}

} // namespace moxel::windowsystem
