#pragma once

#include "settingsfile.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// Runs the real moxel-popup binary with its own configuration folder, feeding
// standard input and collecting standard output and error. Anything on standard
// error but `expectedErr`, the one fatal message, fails the test.
class PopupProcess
{
public:
    explicit PopupProcess(const QString &platform = QStringLiteral("offscreen"))
    {
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.remove(QStringLiteral("http_proxy"));
    }

    ~PopupProcess()
    {
        process.kill();
        process.waitForFinished(10000);
        err += process.readAllStandardError();
        if (err != expectedErr && !QTest::currentTestFailed())
            QTest::qFail(("unexpected standard error: " + err).constData(), __FILE__, __LINE__);
    }
    Q_DISABLE_COPY_MOVE(PopupProcess)

    QString settingsFile() const { return moxel::test::settingsFile(config.path()); }

    void start(const QStringList &args)
    {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(MOXEL_POPUP_BIN), args);
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    }

    void write(const QByteArray &bytes) { process.write(bytes); }
    void closeInput() { process.closeWriteChannel(); }

    // Waits for the process to end; returns false on a time-out.
    bool finish(int ms = 30000)
    {
        const bool done = process.state() == QProcess::NotRunning || process.waitForFinished(ms);
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return done;
    }

    // Waits until standard output holds `count` lines beginning with `prefix`.
    bool waitForLines(const QByteArray &prefix, int count, int ms = 30000)
    {
        QDeadlineTimer deadline(ms);
        while (lines(prefix).size() < count) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return lines(prefix).size() >= count;
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        return true;
    }

    QList<QByteArray> lines(const QByteArray &prefix) const
    {
        QList<QByteArray> found;
        for (const QByteArray &l : out.split('\n')) {
            if (l.startsWith(prefix))
                found.append(l);
        }
        return found;
    }

    int exitCode() const { return process.exitCode(); }
    bool crashed() const { return process.exitStatus() == QProcess::CrashExit; }

    QTemporaryDir config;
    QProcessEnvironment env;
    QProcess process;
    QByteArray out;
    QByteArray err;
    QByteArray expectedErr;
};
