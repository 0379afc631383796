#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

inline QString xtool(const QString &display, const QString &program, const QStringList &args);

// A private X server for the tests that need real window geometry, stacking
// hints and focus. It listens on a local socket only. On request it also runs
// a window manager and a terminal that stands in for the chat window.
class XvfbServer
{
public:
    ~XvfbServer()
    {
        for (QProcess *p : {&m_chat, &m_wm, &m_process}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                p->waitForFinished(5000);
            }
        }
    }

    // Starts Xvfb with one screen of `size` pixels; returns false if none could start.
    bool start(const QString &size = QStringLiteral("1440x900"))
    {
        return launch(QStringLiteral("Xvfb"), {QStringLiteral("-screen"), QStringLiteral("0"),
                                               size + QStringLiteral("x24")});
    }

    // Xvfb gives Qt one screen whatever it is told, so two monitors side by side,
    // each `width` x `height`, the left one primary, come from Xorg's dummy driver.
    bool startTwoMonitors(int width, int height)
    {
        QFile conf(m_home.filePath(QStringLiteral("dummy.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        const QByteArray mode = QByteArray::number(2 * width) + 'x' + QByteArray::number(height);
        conf.write("Section \"Device\"\n Identifier \"d\"\n Driver \"dummy\"\n VideoRam 65536\n"
                   "EndSection\nSection \"Monitor\"\n Identifier \"m\"\n HorizSync 5-1000\n"
                   " VertRefresh 5-200\n Modeline \"" +
                   mode + "\" 100 " + QByteArray::number(2 * width) + ' ' +
                   QByteArray::number(2 * width + 8) + ' ' + QByteArray::number(2 * width + 16) +
                   ' ' + QByteArray::number(2 * width + 24) + ' ' + QByteArray::number(height) +
                   ' ' + QByteArray::number(height + 1) + ' ' + QByteArray::number(height + 2) +
                   ' ' + QByteArray::number(height + 3) +
                   "\nEndSection\nSection \"Screen\"\n Identifier \"s\"\n Device \"d\"\n"
                   " Monitor \"m\"\n DefaultDepth 24\n SubSection \"Display\"\n  Depth 24\n"
                   "  Modes \"" +
                   mode +
                   "\"\n EndSubSection\nEndSection\n"
                   "Section \"ServerFlags\"\n Option \"AutoAddDevices\" \"false\"\n"
                   " Option \"DontVTSwitch\" \"true\"\nEndSection\n");
        conf.close();
        if (!launch(QStringLiteral("Xorg"),
                    {QStringLiteral("-config"), conf.fileName(), QStringLiteral("-logfile"),
                     m_home.filePath(QStringLiteral("Xorg.log"))}))
            return false;
        const QString output =
            xtool(m_display, QStringLiteral("xrandr"), {QStringLiteral("--listmonitors")})
                .section(u' ', -1)
                .trimmed();
        const QString w = QString::number(width), h = QString::number(height);
        // The first claims the real output, which makes it primary; the second has none.
        xtool(m_display, QStringLiteral("xrandr"),
              {QStringLiteral("--setmonitor"), QStringLiteral("left"),
               w + QStringLiteral("/300x") + h + QStringLiteral("/200+0+0"), output});
        xtool(m_display, QStringLiteral("xrandr"),
              {QStringLiteral("--setmonitor"), QStringLiteral("right"),
               w + QStringLiteral("/300x") + h + QStringLiteral("/200+") + w + QStringLiteral("+0"),
               QStringLiteral("none")});
        return xtool(m_display, QStringLiteral("xrandr"), {QStringLiteral("--listmonitors")})
            .startsWith(QStringLiteral("Monitors: 2"));
    }

    // Runs a window manager (openbox, kwin_x11, icewm) with a configuration
    // folder of its own; returns once it has announced itself on the root window.
    bool startWindowManager(const QString &name = QStringLiteral("openbox"))
    {
        QProcessEnvironment env = environment();
        for (const char *var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "HOME", "XDG_RUNTIME_DIR"})
            env.insert(QString::fromLatin1(var), m_home.path());
        // KWin without compositing, as on a machine without a GPU; it is a Qt program itself.
        env.insert(QStringLiteral("KWIN_COMPOSE"), QStringLiteral("N"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (const char *var : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS"})
            env.remove(QString::fromLatin1(var));
        m_wm.setProcessEnvironment(env);
        m_wm.setStandardOutputFile(QProcess::nullDevice());
        m_wm.setStandardErrorFile(QProcess::nullDevice());
        m_wm.start(name, {});
        const auto announced = [this] {
            return rootProperty(QStringLiteral("_NET_SUPPORTING_WM_CHECK")).contains(u'#');
        };
        return m_wm.waitForStarted() && QTest::qWaitFor(announced, 20000);
    }

    // Opens a terminal titled "chat" and gives it the keyboard, as the
    // salesperson's chat window has it when the popup appears. Returns its id.
    QString startChat()
    {
        const auto words = [](const char *text) { return QString::fromLatin1(text).split(u' '); };
        m_chat.setProcessEnvironment(environment());
        // What reaches the chat is kept, key by key.
        m_chat.start(QStringLiteral("xterm"),
                     words("-title chat -geometry 80x24+0+0 -e sh -c")
                         << QStringLiteral("stty -icanon; cat > ") +
                                m_home.filePath(QStringLiteral("chat.txt")));
        if (!m_chat.waitForStarted())
            return {};
        const QString id = xtool(m_display, QStringLiteral("xdotool"),
                                 words("search --sync --onlyvisible --name ^chat$"))
                               .trimmed()
                               .section(u'\n', 0, 0);
        // windowactivate needs a window manager; a bare server only sets the focus.
        const char *give = m_wm.state() == QProcess::Running ? "windowactivate" : "windowfocus";
        const auto focused = [&] {
            xtool(m_display, QStringLiteral("xdotool"), words(give) << id);
            return xtool(m_display, QStringLiteral("xdotool"), words("getwindowfocus")).trimmed();
        };
        return !id.isEmpty() && QTest::qWaitFor([&] { return focused() == id; }, 10000) ? id
                                                                                        : QString();
    }

    qint64 windowManagerPid() const { return m_wm.processId(); }

    // What was typed into the chat so far.
    QByteArray chatTyped() const
    {
        QFile typed(m_home.filePath(QStringLiteral("chat.txt")));
        return typed.open(QIODevice::ReadOnly) ? typed.readAll() : QByteArray();
    }

    QString display() const { return m_display; }

    QString rootProperty(const QString &name) const
    {
        return xtool(m_display, QStringLiteral("xprop"), {QStringLiteral("-root"), name});
    }

private:
    bool launch(const QString &program, const QStringList &args)
    {
        const QString binary = QStandardPaths::findExecutable(program);
        if (binary.isEmpty())
            return false;
        const int base = 100 + int(QRandomGenerator::global()->bounded(400));
        for (int n = base; n < base + 20; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
                QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                continue;
            m_process.start(binary, QStringList{QStringLiteral(":%1").arg(n)}
                                        << args << QStringLiteral("-nolisten")
                                        << QStringLiteral("tcp") << QStringLiteral("-noreset"));
            if (!m_process.waitForStarted())
                continue;
            QDeadlineTimer deadline(10000);
            while (!deadline.hasExpired() && m_process.state() == QProcess::Running &&
                   !QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                QTest::qWait(50);
            if (m_process.state() == QProcess::Running) {
                m_display = QStringLiteral(":%1").arg(n);
                return true;
            }
        }
        return false;
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    QProcess m_process;
    QProcess m_wm;
    QProcess m_chat;
    QTemporaryDir m_home;
    QString m_display;
};

// Runs an X11 command-line tool against `display` and returns its output.
inline QString xtool(const QString &display, const QString &program, const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}
