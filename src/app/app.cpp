#include "app.h"
#include "clipboardkeeper.h"
#include "inputreader.h"
#include "lines.h"
#include "options.h"
#include "selftest.h"

#include "content.h"
#include "factories.h"
#include "look.h"
#include "popup.h"
#include "servicerequest.h"
#include "synccontroller.h"
#include "windowsystem.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace moxel {

namespace {

[[noreturn]] void badFirstLine()
{
    std::fputs("moxel-popup: 第一行不是合法 JSON\n", stderr);
    std::fflush(stderr);
    std::exit(2);
}

// Qt cannot place or raise a window of its own under Wayland; XWayland can.
void preferX11OnWayland()
{
#if defined(Q_OS_LINUX)
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", "xcb");
#endif
}

// The XDG base directory rules ignore a relative XDG_CONFIG_HOME; Qt would
// put the settings under the current folder.
void ignoreRelativeConfigHome()
{
    const QByteArray home = qgetenv("XDG_CONFIG_HOME");
    if (!home.isEmpty() && !QDir::isAbsolutePath(QFile::decodeName(home)))
        qunsetenv("XDG_CONFIG_HOME");
}

// MOXEL_TEST_TIME_SCALE, a hook for the tests of this program: a factor in
// (0, 1] for the self-test's two steps, the pause before a sync and the
// request time-out. Unset, or anything else, leaves every timing as it is.
double testTimeScale()
{
    bool ok = false;
    const double scale = qEnvironmentVariable("MOXEL_TEST_TIME_SCALE").toDouble(&ok);
    return ok && scale > 0 && scale <= 1 ? scale : 1;
}

} // namespace

int run(int argc, char *argv[], const std::function<void()> &fontsReady)
{
    // A reader that has gone away must not kill us while we print diagnostics.
    std::signal(SIGPIPE, SIG_IGN);

    QList<QByteArray> args;
    for (int i = 0; i < argc; ++i)
        args.append(QByteArray(argv[i]));
    const Options options = parseOptions(args);

    // The first line decides whether there is a window at all, so it is read
    // before the application connects to the display.
    auto lines = std::make_unique<LineReader>(STDIN_FILENO);
    QByteArray first;
    if (lines->next(&first) != LineReader::Result::Line)
        badFirstLine();
    const std::optional<QJsonObject> payload = parseFirstLine(first);
    if (!payload)
        badFirstLine();

    preferX11OnWayland();
    ignoreRelativeConfigHome();
    // Qt would act on options of its own (-platform, -geometry, -reverse …);
    // every argument but ours is to be ignored, so Qt sees only the program path.
    int qtArgc = argc > 0 ? 1 : 0;
    char *qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setQuitOnLastWindowClosed(false);
    useFixedLook();
    if (fontsReady)
        fontsReady();
    else
        preferSimplifiedChineseHan();
    windowsystem::makeAccessoryApplication();

    // SYNC_T0 keeps running from the program's load: the stamps count from
    // the start, however late the first line came.
    SyncController &sync = SYNC();
    sync.debug = options.debugMode;
    const double scale = testTimeScale();
    if (scale != 1) {
        using std::chrono::round, std::chrono::milliseconds;
        sync.setDebounce(round<milliseconds>(SyncController::Debounce * scale));
        setRequestTimeouts(round<milliseconds>(TransferTimeout * scale),
                           round<milliseconds>(RequestDeadline * scale));
    }

    int status = 0;
    {
        Popup popup(PopupOptions{options.fixedPos, options.fixedSize, options.debugMode});
        popup.render(*payload);
        if (options.selfTestSync)
            scheduleSelfTest(scale);
        // The FRAME lines owed at the end of input tell the frame the window got.
        InputReader reader(
            std::move(lines), [&popup](const QJsonObject &p) { popup.render(p); },
            [&popup] { popup.afterFrameLines([] { QCoreApplication::quit(); }); });
        reader.start();
        status = QApplication::exec();
        keepClipboardAfterExit();
        // Release this render's views and targets before the window goes.
        clearRenderRegistries();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return status;
}

} // namespace moxel
