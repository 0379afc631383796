#pragma once

#include <QPalette>

namespace moxel {

// The colours every control is drawn with: buttons, scroll bars, text boxes
// and the copy confirmation, in every state.
QPalette fixedPalette();

// Gives the application one style and fixedPalette(), so that what the popup
// draws is the same on every desktop, whatever its theme, style or colour
// scheme. Call it once the application exists, before any widget is made.
void useFixedLook();

} // namespace moxel
