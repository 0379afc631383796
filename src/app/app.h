#pragma once

#include <functional>

namespace moxel {

// The program: options, the first payload, the window, the reader of later
// payloads and the event loop. Returns the process's exit status.
//
// `fontsReady`, when given, is called once the display is connected and
// before any text is laid out, and returns when fontconfig has been set up
// as preferSimplifiedChineseHan() sets it up; without it the program does
// that itself at that point.
int run(int argc, char *argv[], const std::function<void()> &fontsReady = {});

} // namespace moxel
