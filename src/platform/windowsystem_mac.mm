// Built on Apple platforms only: the popup is an accessory application (no
// Dock icon, no menu bar) and floats at the screen-saver level above the chat.
#include "windowsystem.h"

#import <AppKit/AppKit.h>

namespace moxel::windowsystem {

void makeAccessoryApplication()
{
    [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory];
}

void raiseToScreenSaverLevel(QWidget *window)
{
    NSView *view = reinterpret_cast<NSView *>(window->winId());
    [[view window] setLevel:NSScreenSaverWindowLevel];
}

} // namespace moxel::windowsystem
