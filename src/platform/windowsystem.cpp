#include "windowsystem.h"

#include <QCoreApplication>

namespace moxel::windowsystem {

WindowEvents *WindowEvents::instance()
{
    static WindowEvents *events = new WindowEvents(QCoreApplication::instance());
    return events;
}

#ifndef MOXEL_X11
// Nothing of X11 where it is not built.
WindowEvents::WindowEvents(QObject *parent) : QObject(parent) {}
bool isX11()
{
    return false;
}
void skipTaskbar(QWidget *) {}
bool publishesFrameExtents()
{
    return false;
}
std::optional<QMargins> frameExtents(const QWidget *)
{
    return std::nullopt;
}
bool requestFrameExtents(QWidget *)
{
    return false;
}
std::optional<QRect> nativeGeometry(const QWidget *)
{
    return std::nullopt;
}
void setNativeGeometry(QWidget *, const QRect &) {}
void dropUnaskedStates(QWidget *) {}
void dropResizeIncrement(QWidget *) {}
std::optional<Reservations> reservations()
{
    return std::nullopt;
}
bool focusWindow(QWidget *, unsigned long)
{
    return false;
}
unsigned long keyboardOwner()
{
    return 0;
}
void activateOther(unsigned long) {}
bool clipboardEndsWithProgram()
{
    return false;
}
bool serveClipboardAfterExit(const QString &)
{
    return false;
}
#endif

#ifndef Q_OS_MACOS
void makeAccessoryApplication() {}
void raiseToScreenSaverLevel(QWidget *) {}
#endif

} // namespace moxel::windowsystem
