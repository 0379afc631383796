#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

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
        const QString binary = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (binary.isEmpty())
            return false;
        const int base = 100 + int(QRandomGenerator::global()->bounded(400));
        for (int n = base; n < base + 20; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
                QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                continue;
            m_process.start(binary, {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                                     QStringLiteral("0"), size + QStringLiteral("x24"),
                                     QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                     QStringLiteral("-noreset")});
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

    // Runs `program` (openbox) as the window manager, with a configuration
    // folder of its own; returns once it has announced itself on the root window.
    bool startWindowManager(const QString &program = QStringLiteral("openbox"))
    {
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path());
        env.insert(QStringLiteral("HOME"), m_home.path());
        m_wm.setProcessEnvironment(env);
        m_wm.start(program, {});
        if (!m_wm.waitForStarted())
            return false;
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_wm.state() == QProcess::Running) {
            if (rootProperty(QStringLiteral("_NET_SUPPORTING_WM_CHECK")).contains(u'#'))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // Opens a terminal titled "chat" and gives it the keyboard, as the
    // salesperson's chat window has it when the popup appears. Returns its id.
    QString startChat()
    {
        m_chat.setProcessEnvironment(environment());
        m_chat.start(QStringLiteral("xterm"),
                     {QStringLiteral("-title"), QStringLiteral("chat"), QStringLiteral("-geometry"),
                      QStringLiteral("80x24+0+0"), QStringLiteral("-e"), QStringLiteral("cat")});
        if (!m_chat.waitForStarted())
            return {};
        const QString id =
            run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                            QStringLiteral("--onlyvisible"),
                                            QStringLiteral("--name"), QStringLiteral("^chat$")})
                .trimmed()
                .section(u'\n', 0, 0);
        if (id.isEmpty())
            return {};
        // windowactivate needs a window manager; a bare server only sets the focus.
        const bool managed = m_wm.state() == QProcess::Running;
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            run(QStringLiteral("xdotool"),
                {managed ? QStringLiteral("windowactivate") : QStringLiteral("windowfocus"), id});
            if (run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed() == id)
                return id;
            QTest::qWait(50);
        }
        return {};
    }

    QString display() const { return m_display; }

    QString rootProperty(const QString &name) const
    {
        return run(QStringLiteral("xprop"), {QStringLiteral("-root"), name});
    }

private:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    QString run(const QString &program, const QStringList &args) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(program, args);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
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
