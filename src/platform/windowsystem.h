#pragma once

#include <QList>
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <optional>

// What the popup asks of the window system beyond what Qt offers: X11 through
// xcb, macOS through AppKit. Every call is safe everywhere; where the running
// platform has no such thing it does nothing, or answers that it does not know.
namespace moxel::windowsystem {

// The program runs on X11 (Qt's xcb platform).
bool isX11();

// macOS: no Dock icon and no menu bar.
void makeAccessoryApplication();
// macOS: floats at the screen-saver level, above the chat.
void raiseToScreenSaverLevel(QWidget *window);
// X11: out of the taskbar and the pager; set before the window is mapped.
void skipTaskbar(QWidget *window);

// Whether the window manager tells windows their decorations
// (_NET_FRAME_EXTENTS). A bare X server, or one that publishes nothing, does not.
bool publishesFrameExtents();
// The decorations the window manager set on `window`, in device pixels; none
// while it has not said (or never does).
std::optional<QMargins> frameExtents(const QWidget *window);
// Asks for the decorations `window` will get, before it is mapped; they come
// with WindowEvents::extentsChanged. False where the window manager does not
// take the request (KWin), and nothing was asked.
bool requestFrameExtents(QWidget *window);
// The client area as the X server has it, in device pixels of the root window.
std::optional<QRect> nativeGeometry(const QWidget *window);
void setNativeGeometry(QWidget *window, const QRect &client);
// KWin maximises a new window whose frame does not fit the screen and marks
// one it did not activate as wanting attention; the popup asked for neither.
void dropUnaskedStates(QWidget *window);
// Qt asks for resizing in steps of the scale factor, so that the size in
// points stays whole; the window manager then cannot give the frame its exact
// size in pixels. The popup's size in points need not be whole.
void dropResizeIncrement(QWidget *window);

// Space the docks reserve (_NET_WM_STRUT_PARTIAL, or the older _NET_WM_STRUT,
// as their raw values) and the window manager's per-monitor work areas
// (_GTK_WORKAREAS_D<n>), in device pixels of the root window.
struct Reservations
{
    QSize root;
    QList<QList<int>> struts;
    QList<QRect> workAreas;
};
std::optional<Reservations> reservations();

// Gives `window` the keyboard in answer to the user's own click or key at
// `timestamp` (server time; 0 for now), as ICCCM lets a window that declines
// input do. The window manager is not asked: some refuse a request that
// comes after their own handling of the click. False where this is not X11.
bool focusWindow(QWidget *window, unsigned long timestamp);
// The window that has the keyboard now: the window manager's active window,
// or the input focus where there is no window manager; 0 for none or unknown.
unsigned long keyboardOwner();
// Hands the keyboard to another program's window found by keyboardOwner(),
// through the window manager as a pager asks for it.
void activateOther(unsigned long window);

// Whether the text the program copied goes with it when it exits: on X11
// where no clipboard manager runs to take it over.
bool clipboardEndsWithProgram();
// Hands `text` to a detached xclip, which owns the clipboard once this returns
// (after two seconds at most) and serves it until another program copies.
// False where there is no xclip to take it.
bool serveClipboardAfterExit(const QString &text);

// The window system's events about the program's own windows, as they come.
class WindowEvents final : public QObject
{
    Q_OBJECT
public:
    // Created on first use; lives as long as the application.
    static WindowEvents *instance();

Q_SIGNALS:
    void mapped(WId window);
    void extentsChanged(WId window);
    void stateChanged(WId window); // _NET_WM_STATE
    // The client area's size, in device pixels, and its position on the root
    // window where the event tells it: from the window manager's own notice
    // (ICCCM's synthetic event), or for a window no window manager has framed.
    void configured(WId window, QSize size, std::optional<QPoint> at);

private:
    explicit WindowEvents(QObject *parent);
};

} // namespace moxel::windowsystem
