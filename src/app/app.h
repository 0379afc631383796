#pragma once

namespace moxel {

// The program: options, the first payload, the window, the reader of later
// payloads and the event loop. Returns the process's exit status.
int run(int argc, char *argv[]);

} // namespace moxel
