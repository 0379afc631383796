#include "app.h"

#ifdef MOXEL_EARLY_FONTCONFIG
#include "factories.h"

#include <fontconfig/fontconfig.h>

#include <cstdlib>
#include <system_error>
#include <thread>

namespace {

// fontconfig reads its configuration and caches on first use, in the middle
// of the first render. Begun here it runs beside reading the first line and
// connecting to the display, and makes the Han rules while at it.
std::thread *earlyFontconfig = nullptr;
QByteArray hanRules; // written by the thread, read once it has been joined

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
        earlyFontconfig = new std::thread([] {
            FcInit();
            hanRules = moxel::simplifiedChineseHanRules();
        });
        std::atexit(joinEarlyFontconfig);
    } catch (const std::system_error &) {
        // No thread to spare: the program sets fontconfig up itself.
        return moxel::run(argc, argv);
    }
    // The program waits for the thread rather than meeting fontconfig half
    // loaded: a second caller would load everything again beside it. The
    // rules go in here, where nothing else is using fontconfig.
    return moxel::run(argc, argv, [] {
        joinEarlyFontconfig();
        moxel::addFontconfigRules(hanRules);
    });
#else
    return moxel::run(argc, argv);
#endif
}
