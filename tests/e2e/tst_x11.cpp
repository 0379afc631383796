#include "popupprocess.h"
#include "testservice.h"
#include "xvfb.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <X11/Xlib.h>
#include <csignal>

using namespace Qt::StringLiterals;

namespace {

const QString Title = u"智能客服 v2.0"_s;
const QByteArray Payload = "{\"intent\":\"询价\",\"draft\":\"Olá\",\"cn\":\"你好\"}\n";

struct Geometry
{
    int x = -1, y = -1, w = -1, h = -1;
};

Geometry geometryOf(const QString &display, const QString &id)
{
    const QString info = xtool(display, u"xwininfo"_s, {u"-id"_s, id});
    auto field = [&](const QString &name) {
        const QRegularExpression re(name + uR"(:\s*(-?\d+))"_s);
        return re.match(info).captured(1).toInt();
    };
    return {field(u"Absolute upper-left X"_s), field(u"Absolute upper-left Y"_s), field(u"Width"_s),
            field(u"Height"_s)};
}

// Asks the window to close the way a window manager's close button does.
void sendDeleteWindow(const QString &display, unsigned long window)
{
    Display *d = XOpenDisplay(display.toLocal8Bit().constData());
    QVERIFY(d);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &e);
    XFlush(d);
    XCloseDisplay(d);
}

} // namespace

class TestX11 : public QObject
{
    Q_OBJECT

    XvfbServer xvfb;

    void startPopup(PopupProcess &p, const QStringList &args = {u"--debug"_s})
    {
        p.env.insert(u"DISPLAY"_s, xvfb.display());
        p.env.remove(u"WAYLAND_DISPLAY"_s);
        p.start(args);
        p.write(Payload);
        QVERIFY(p.waitForLines("FRAME ", 1));
    }

    QString windowId()
    {
        QString id;
        QDeadlineTimer deadline(10000);
        while (id.isEmpty() && !deadline.hasExpired()) {
            id = xtool(xvfb.display(), u"xdotool"_s, {u"search"_s, u"--name"_s, Title})
                     .trimmed()
                     .section(u'\n', 0, 0);
            if (id.isEmpty())
                QTest::qWait(50);
        }
        return id;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(xvfb.start(), "Xvfb could not start"); }

    void placedAtTheRightEdgeOnTopWithoutFocus()
    {
        PopupProcess p(u"xcb"_s);
        startPopup(p);
        QCOMPARE(p.lines("FRAME ").constFirst(),
                 QByteArray("FRAME x=1028 y_from_top=12 w=400 h=876 first=true"));
        const QString id = windowId();
        Geometry g;
        QTRY_VERIFY((g = geometryOf(xvfb.display(), id)).w == 400);
        QCOMPARE(g.x, 1028);
        QCOMPARE(g.y, 12);
        QCOMPARE(g.h, 876);

        const QString props = xtool(xvfb.display(), u"xprop"_s, {u"-id"_s, id});
        QVERIFY2(props.contains(u"_NET_WM_NAME(UTF8_STRING) = \"智能客服 v2.0\""_s),
                 qPrintable(props));
        QVERIFY2(props.contains(u"_NET_WM_STATE_ABOVE"_s), qPrintable(props));
        QVERIFY2(props.contains(u"_NET_WM_STATE_SKIP_TASKBAR"_s), qPrintable(props));
        QVERIFY2(props.contains(u"program specified minimum size: 340 by 480"_s),
                 qPrintable(props));
        // Shown without activation: the window manager must not hand it the keyboard.
        QVERIFY2(props.contains(u"_NET_WM_USER_TIME(CARDINAL) = 0"_s), qPrintable(props));
        const QString focus = xtool(xvfb.display(), u"xdotool"_s, {u"getwindowfocus"_s}).trimmed();
        QVERIFY(focus != id);

        p.closeInput();
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 0);
    }

    void closingTheWindowEndsTheProgram()
    {
        // Standard input stays open: the reader thread is blocked in a read.
        PopupProcess p(u"xcb"_s);
        startPopup(p);
        sendDeleteWindow(xvfb.display(), windowId().toULong());
        QVERIFY(p.finish(10000));
        QVERIFY(!p.crashed());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(!p.err.contains("QThread"), p.err.constData());
    }

    void closedDuringABurst()
    {
        PopupProcess p(u"xcb"_s);
        startPopup(p);
        QByteArray burst;
        for (int i = 0; i < 2000; ++i)
            burst +=
                "{\"intent\":\"n" + QByteArray::number(i) + "\",\"draft\":\"x\",\"cn\":\"y\"}\n";
        p.write(burst);
        sendDeleteWindow(xvfb.display(), windowId().toULong());
        QVERIFY(p.finish(20000));
        QVERIFY(!p.crashed());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.lines("FRAME ").size() < 2001); // it did not wait for the burst
    }

    void closedWithATranslationPending()
    {
        // The self-test types into the draft at 1.5 s; the service takes the
        // request and never answers; closing the window must still end at once.
        moxel::test::TestService service;
        service.setReply(moxel::test::Reply::never());
        PopupProcess p(u"xcb"_s);
        p.env.insert(u"DISPLAY"_s, xvfb.display());
        p.start({u"--selftest-sync"_s});
        p.write("{\"draft\":\"Olá\",\"cn\":\"你好\",\"proxy\":\"" + service.baseUrl().toUtf8() +
                "\",\"token\":\"t\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(service.count(), qsizetype(1), 15000);
        sendDeleteWindow(xvfb.display(), windowId().toULong());
        QTRY_VERIFY_WITH_TIMEOUT(p.process.state() == QProcess::NotRunning, 10000);
        p.finish();
        QVERIFY(!p.crashed());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!p.out.contains("SYNC-SELFTEST 回填"));
    }

    void frameSurvivesAKill_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }
    void frameSurvivesAKill()
    {
        QFETCH(int, signal);
        PopupProcess first(u"xcb"_s);
        startPopup(first);
        const QString id = windowId();
        xtool(xvfb.display(), u"xdotool"_s, {u"windowsize"_s, id, u"450"_s, u"700"_s});
        xtool(xvfb.display(), u"xdotool"_s, {u"windowmove"_s, id, u"200"_s, u"150"_s});
        // Bottom-left origin on a 900-high screen: 900 - (150 + 700) = 50.
        const QByteArray expected = "{{200, 50}, {450, 700}}";
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile f(first.settingsFile());
                return f.open(QIODevice::ReadOnly) && f.readAll().contains(expected);
            }(),
            10000);
        ::kill(pid_t(first.process.processId()), signal);
        first.finish();

        PopupProcess second(u"xcb"_s);
        second.env.insert(u"XDG_CONFIG_HOME"_s, first.config.path());
        startPopup(second);
        QCOMPARE(second.lines("FRAME ").constFirst(),
                 QByteArray("FRAME x=200 y_from_top=150 w=450 h=700 first=true"));
        second.closeInput();
        QVERIFY(second.finish());

        // --pos only switches the remembered frame off.
        PopupProcess third(u"xcb"_s);
        third.env.insert(u"XDG_CONFIG_HOME"_s, first.config.path());
        startPopup(third, {u"--debug"_s, u"--pos"_s, u"10,20"_s});
        QCOMPARE(third.lines("FRAME ").constFirst(),
                 QByteArray("FRAME x=1028 y_from_top=12 w=400 h=876 first=true"));
        third.closeInput();
        QVERIFY(third.finish());
    }
};

QTEST_GUILESS_MAIN(TestX11)
#include "tst_x11.moc"
