#pragma once

namespace moxel {

// Copy, close the popup, paste: the copied reply must outlive the program.
// Call it once the event loop has ended, while the application still exists.
// Where a clipboard manager runs, Qt hands the text to it as the application
// goes. Where none does on X11, a detached xclip takes the clipboard over,
// serves the text until another program copies something, and then ends.
// It holds none of our descriptors and runs in a session of its own, so the
// caller sees our output end with us and no terminal is kept.
void keepClipboardAfterExit();

} // namespace moxel
