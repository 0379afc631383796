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

    // Runs openbox with a configuration folder of its own; returns once it has
    // announced itself on the root window.
    bool startWindowManager()
    {
        QProcessEnvironment env = environment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "HOME"})
            env.insert(QString::fromLatin1(name), m_home.path());
        m_wm.setProcessEnvironment(env);
        m_wm.start(QStringLiteral("openbox"), {});
        const auto announced = [this] {
            return rootProperty(QStringLiteral("_NET_SUPPORTING_WM_CHECK")).contains(u'#');
        };
        return m_wm.waitForStarted() && QTest::qWaitFor(announced, 10000);
    }

    // Opens a terminal titled "chat" and gives it the keyboard, as the
    // salesperson's chat window has it when the popup appears. Returns its id.
    QString startChat()
    {
        const auto words = [](const char *text) { return QString::fromLatin1(text).split(u' '); };
        m_chat.setProcessEnvironment(environment());
        m_chat.start(QStringLiteral("xterm"), words("-title chat -geometry 80x24+0+0 -e cat"));
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

    QString display() const { return m_display; }

    QString rootProperty(const QString &name) const
    {
        return xtool(m_display, QStringLiteral("xprop"), {QStringLiteral("-root"), name});
    }

private:
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
