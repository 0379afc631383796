#pragma once

// X11 only: what the window manager does around the popup, through xcb.

#include <QMargins>
#include <QRect>

#include <optional>

class QWidget;

namespace moxel {

// Keeps the window out of the taskbar and the pager.
void skipTaskbar(QWidget *window);
// _NET_FRAME_EXTENTS as the window manager set them, or none where it publishes none.
QMargins frameExtents(const QWidget *window);
// The decorations the window will get, asked before it is mapped; nothing
// where the window manager does not answer.
std::optional<QMargins> requestFrameExtents(QWidget *window);
// The client area in device pixels, as the X server has it.
std::optional<QRect> nativeGeometry(const QWidget *window);
void setNativeGeometry(QWidget *window, const QRect &client);
// Mapped, and told its decorations where the window manager publishes them.
bool mappedAndFramed(const QWidget *window);
void dropUnaskedStates(QWidget *window);
void dropResizeIncrement(QWidget *window);
// The docks' reservations taken off `screen` (device pixels).
QRect x11VisibleArea(const QRect &screen);

} // namespace moxel
