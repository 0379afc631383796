#include "app.h"

#ifdef MOXEL_EARLY_FONTCONFIG
#include <fontconfig/fontconfig.h>

#include <cstdlib>
#include <system_error>
#include <thread>

namespace {

// fontconfig reads its configuration and caches on first use, in the middle
// of the first render. Begun here it runs beside reading the first line and
// connecting to the display; Qt then finds it ready.
std::thread *earlyFontconfig = nullptr;

void joinEarlyFontconfig()
{
    // Every exit passes here, also the one for a bad first line: the thread
    // ends before the process tears itself down.
    if (earlyFontconfig && earlyFontconfig->joinable())
        earlyFontconfig->join();
}

} // namespace
#endif

int main(int argc, char *argv[])
{
#ifdef MOXEL_EARLY_FONTCONFIG
    try {
        earlyFontconfig = new std::thread([] { FcInit(); });
        std::atexit(joinEarlyFontconfig);
    } catch (const std::system_error &) {
        // No thread to spare: fontconfig starts on first use, as it would anyway.
    }
#endif
    return moxel::run(argc, argv);
}
