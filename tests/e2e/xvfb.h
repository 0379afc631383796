#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

// A private X server for the tests that need real window geometry, stacking
// hints and focus. It listens on a local socket only.
class XvfbServer
{
public:
    ~XvfbServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }

    // Starts Xvfb with one 1440 x 900 screen; returns false if none could start.
    bool start()
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
                                     QStringLiteral("0"), QStringLiteral("1440x900x24"),
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

    QString display() const { return m_display; }

private:
    QProcess m_process;
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
