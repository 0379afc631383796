#include "clipboardkeeper.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>

#ifdef MOXEL_X11
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace moxel {

#ifdef MOXEL_X11
namespace {

bool clipboardManagerRuns()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    constexpr char name[] = "CLIPBOARD_MANAGER";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

// Writes all of `bytes`, or gives up when the reader has gone.
void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

void handToXclip(const QByteArray &path, const QByteArray &text)
{
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0)
        return;
    const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    char *const argv[] = {const_cast<char *>("xclip"), const_cast<char *>("-selection"),
                          const_cast<char *>("clipboard"), const_cast<char *>("-in"), nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        // Only what is safe between fork and exec in a threaded process.
        ::setsid();
        ::dup2(input[0], STDIN_FILENO);
        if (devnull >= 0) {
            ::dup2(devnull, STDOUT_FILENO);
            ::dup2(devnull, STDERR_FILENO);
        }
        ::closefrom(3);
        ::execv(path.constData(), argv);
        ::_exit(127);
    }
    ::close(input[0]);
    if (devnull >= 0)
        ::close(devnull);
    if (child < 0) {
        ::close(input[1]);
        return;
    }
    writeAll(input[1], text);
    ::close(input[1]);
    // xclip owns the clipboard before its first process ends and leaves the
    // serving to a child of its own; waiting for that means no paste finds
    // the clipboard empty in between.
    const QDeadlineTimer deadline(2000);
    while (::waitpid(child, nullptr, WNOHANG) == 0 && !deadline.hasExpired())
        QThread::msleep(5);
}

} // namespace
#endif

void keepClipboardAfterExit()
{
#ifdef MOXEL_X11
    if (QGuiApplication::platformName() != u"xcb")
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->ownsClipboard())
        return;
    const QString text = clipboard->text(QClipboard::Clipboard);
    if (text.isEmpty() || clipboardManagerRuns())
        return;
    const QString xclip = QStandardPaths::findExecutable(QStringLiteral("xclip"));
    if (!xclip.isEmpty())
        handToXclip(QFile::encodeName(xclip), text.toUtf8());
#endif
}

} // namespace moxel
