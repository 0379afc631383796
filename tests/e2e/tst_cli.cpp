#include "popupprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray Fatal = "moxel-popup: 第一行不是合法 JSON\n";

QByteArray payload(const QByteArray &intent)
{
    return "{\"intent\":\"" + intent + "\",\"draft\":\"Olá\",\"cn\":\"你好\"}\n";
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void badFirstLine_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("closed at once") << QByteArray();
        QTest::newRow("empty line") << QByteArray("\n{}\n");
        QTest::newRow("array") << QByteArray("[]\n");
        QTest::newRow("number") << QByteArray("42\n");
        QTest::newRow("string") << QByteArray("\"x\"\n");
        QTest::newRow("two objects") << QByteArray("{}{}\n");
        QTest::newRow("lenient number") << QByteArray("{\"a\":.5}\n");
        QTest::newRow("broken") << QByteArray("{\"intent\":\n");
        QTest::newRow("invalid UTF-8 outside strings") << QByteArray("{\xff}\n");
        QTest::newRow("over the 32 MiB cap")
            << "{\"intent\":\"" + QByteArray(33 << 20, 'x') + "\"}\n{}\n";
    }
    void badFirstLine()
    {
        QFETCH(QByteArray, input);
        PopupProcess p;
        p.expectedErr = Fatal;
        p.start({u"--debug"_s});
        p.write(input);
        p.closeInput();
        QVERIFY(p.finish());
        QVERIFY(!p.crashed());
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.err, Fatal);
        QCOMPARE(p.out, QByteArray());
        QVERIFY(!QFile::exists(p.settingsFile()));
    }

    void badFirstLineNeedsNoDisplay()
    {
        // No window is ever made for a bad first line, so no display is needed.
        PopupProcess p(u"xcb"_s);
        p.expectedErr = Fatal;
        p.env.insert(u"DISPLAY"_s, u":999"_s);
        p.start({});
        p.write("nope\n");
        p.closeInput();
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.err, Fatal);
    }

    void endOfInputEndsTheProgram_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<bool>("relativeConfig"); // ignored, as an unset one
        QTest::newRow("offscreen") << u"offscreen"_s << false;
        // The user's own choice: Wayland has no window opacity, and standard
        // error must not say so on every start.
        QTest::newRow("native Wayland") << u"wayland"_s << false;
        QTest::newRow("relative XDG_CONFIG_HOME") << u"offscreen"_s << true;
    }

    void endOfInputEndsTheProgram()
    {
        QFETCH(QString, platform);
        QFETCH(bool, relativeConfig);
        QProcess weston; // outlives the popups, so they never see it go
        const auto stop = qScopeGuard([&] {
            weston.kill();
            weston.waitForFinished();
        });
        QString socket;
        if (platform == u"wayland"_s) {
            const QString exe = QStandardPaths::findExecutable(u"weston"_s);
            const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
            if (exe.isEmpty() || runtime.isEmpty() ||
                !QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath))
                     .exists(u"platforms/libqwayland-generic.so"_s))
                QSKIP("needs weston, qt6-wayland and XDG_RUNTIME_DIR");
            socket = u"moxel-test-%1"_s.arg(QCoreApplication::applicationPid());
            weston.start(exe, {u"--backend=headless-backend.so"_s, u"--socket="_s + socket,
                               u"--idle-time=0"_s, u"--no-config"_s});
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtime + u'/' + socket), 20000);
        }
        // Twice with one configuration: the second start comes back where the
        // first one ended, not one title bar larger.
        QTemporaryDir config;
        if (relativeConfig) // a frame under the current folder, never to be read
            QSettings(moxel::test::settingsFile(config.filePath(u"rel"_s)), QSettings::IniFormat)
                .setValue(u"moxel.popupFrame"_s, u"{{200, 100}, {400, 500}}"_s);
        QByteArray first;
        for (int run = 0; run < 2; ++run) {
            PopupProcess p(platform);
            p.env.insert(u"XDG_CONFIG_HOME"_s, relativeConfig ? u"rel"_s : config.path());
            p.process.setWorkingDirectory(config.path());
            if (relativeConfig)
                p.env.insert(u"HOME"_s, config.filePath(u"home"_s));
            if (!socket.isEmpty())
                p.env.insert(u"WAYLAND_DISPLAY"_s, socket);
            // Under the sanitizers: Mesa's EGL driver, which Qt's Wayland client
            // loads, loses a buffer and is unloaded before the leak check, so only a
            // full unwind names it for fuzz/lsan.supp.
            if (!socket.isEmpty() && p.env.contains(u"ASAN_OPTIONS"_s))
                p.env.insert(u"ASAN_OPTIONS"_s,
                             p.env.value(u"ASAN_OPTIONS"_s) + u":fast_unwind_on_malloc=0"_s);
            p.start({u"--debug"_s});
            p.write(payload("first"));
            QVERIFY(p.waitForLines("FRAME ", 1));
            QTest::qWait(400); // the fade in, which must pass without a word on standard error
            p.closeInput();
            QVERIFY(p.finish());
            QCOMPARE(p.exitCode(), 0);
            const auto frames = p.lines("FRAME ");
            QCOMPARE(frames.size(), 1);
            QVERIFY(frames[0].endsWith(" first=true"));
            QVERIFY(frames[0].startsWith("FRAME x=") && !frames[0].startsWith("FRAME x=200 "));
            if (run == 0)
                first = frames[0];
            else
                QCOMPARE(frames[0], first);
        }
    }

    void everyLaterObjectIsRendered()
    {
        // Bad, blank and array lines leave no trace; each object renders once,
        // in order, none merged; a last line without a line feed counts too.
        QByteArray input = payload("first");
        const int burst = 1500;
        for (int i = 0; i < burst; ++i) {
            input += "{\"intent\":\"n" + QByteArray::number(i) + "\"}\n";
            if (i % 100 == 0)
                input += "   \n[1,2]\n7\n{broken\n\r\n\t{\"lenient\":1.}\n";
        }
        input += "  {\"intent\":\"last\"}  ";
        PopupProcess p;
        p.start({u"--debug"_s});
        p.write(input);
        p.closeInput();
        QVERIFY(p.finish(120000));
        QCOMPARE(p.exitCode(), 0);
        const auto frames = p.lines("FRAME ");
        QCOMPARE(frames.size(), 1 + burst + 1);
        QVERIFY(frames.first().endsWith("first=true"));
        for (qsizetype i = 1; i < frames.size(); ++i)
            QVERIFY(frames[i].endsWith("first=false"));
        QCOMPARE(p.err, QByteArray());
    }

    void noDiagnosticsWithoutDebug()
    {
        PopupProcess p;
        p.start({u"--debug=1"_s, u"--DEBUG"_s});
        p.write(payload("x") + payload("y"));
        p.closeInput();
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.out, QByteArray());
        QCOMPARE(p.err, QByteArray());
    }

    void decimalCommaLocale()
    {
        // Numbers are read the C way; one out of a double's range is absent, the line still shown.
        PopupProcess p;
        p.env.insert(u"LC_ALL"_s, u"de_DE.UTF-8"_s);
        p.start({u"--size"_s, u"500.9,600"_s, u"--debug"_s});
        p.write(payload("x") + "{\"x\":1.5e400}\n{\"x\":1.5e-400}\n");
        p.closeInput();
        QVERIFY(p.finish());
        const auto frames = p.lines("FRAME ");
        QCOMPARE(frames.size(), 3);
        QVERIFY2(frames[0].contains(" w=500 h=600 "), frames[0].constData());
    }

    void debugClockStartsWithTheProgram()
    {
        // The first line comes a second late; the self-test's push follows it
        // by (1.5 + 1.1) x 0.1 s.
        PopupProcess p;
        p.env.insert(u"MOXEL_TEST_TIME_SCALE"_s, u"0.1"_s);
        p.start({u"--debug"_s, u"--selftest-sync"_s});
        QTest::qWait(1000);
        p.write(payload("late"));
        QVERIFY(p.waitForLines("SYNC: 推送 ", 1));
        p.closeInput();
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 0);
        const QByteArray push = p.lines("SYNC: 推送 ").constFirst();
        // Loading the program may take half a second of the wait.
        QVERIFY2(push.mid(push.indexOf(" t=") + 3).chopped(1).toDouble() >= 1 + 0.26 - 0.5,
                 push.constData());
    }

    void hostileLinesNeverCrash_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("NUL bytes") << QByteArray("{\"intent\":\"a\0b\"}\0\n", 18);
        QTest::newRow("escaped NUL")
            << QByteArray("{\"intent\":\"a\\u0000b\",\"draft\":\"\\u0000\"}\n");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"intent\":\"\xc3\x28\xa0\xa1\"}\n");
        QTest::newRow("deep nesting") << QByteArray(200000, '[') + "\n";
        QTest::newRow("deep object") << QByteArray("{\"a\":").repeated(100000) + "\n";
        QTest::newRow("markup") << QByteArray(
            "{\"intent\":\"<b>x</b><img src=\\\"file:///dev/zero\\\">\","
            "\"lang_name\":\"&Save\"}\n");
        QTest::newRow("lone surrogates") << QByteArray("{\"intent\":\"\\ud800\\udfff\\udc00x\"}\n");
        QTest::newRow("huge numbers") << QByteArray("{\"chars\":1e400,\"redactions\":-1e400}\n");
        QTest::newRow("wrong types")
            << QByteArray("{\"session\":\"x\",\"matched\":[1],\"draft\":5,\"proxy\":3}\n");
        QTest::newRow("2 MB word in every field")
            << "{\"intent\":\"" + QByteArray(2 << 20, 'w') + "\",\"analysis\":\"" +
                   QByteArray(2 << 20, 'a') + "\",\"draft\":\"" + QByteArray(2 << 20, 'd') +
                   "\",\"cn\":\"" + QByteArray(2 << 20, 'c') + "\",\"conversation\":\"" +
                   QByteArray(2 << 20, 'v') + "\"}\n";
    }
    void hostileLinesNeverCrash()
    {
        QFETCH(QByteArray, line);
        PopupProcess p;
        p.start({u"--debug"_s});
        p.write(payload("before"));
        p.write(line);
        p.write(payload("after"));
        p.closeInput();
        QVERIFY(p.finish(120000));
        QVERIFY(!p.crashed());
        QCOMPARE(p.exitCode(), 0);
        // The line before and the line after were rendered whatever came between.
        QVERIFY(p.lines("FRAME ").size() >= 2);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
