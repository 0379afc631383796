// X11: a copied text lives in the program that copied it. Where no
// clipboard manager takes it over, a detached xclip keeps serving it.
#include "windowsystem.h"
#include "x11.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace moxel::windowsystem {

namespace {

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

bool clipboardEndsWithProgram()
{
    xcb_connection_t *c = x11::connection();
    if (!c)
        return false;
    const xcb_atom_t manager = x11::atom(c, "CLIPBOARD_MANAGER");
    if (manager == XCB_ATOM_NONE)
        return true;
    const x11::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager), nullptr));
    return !owner || owner->owner == XCB_WINDOW_NONE;
}

bool serveClipboardAfterExit(const QString &text)
{
    const QString xclip = QStandardPaths::findExecutable(QStringLiteral("xclip"));
    if (xclip.isEmpty())
        return false;
    handToXclip(QFile::encodeName(xclip), text.toUtf8());
    return true;
}

} // namespace moxel::windowsystem
