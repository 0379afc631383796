#include "moxel_version.h"
#include "popupprocess.h"
#include "testservice.h"
#include "xvfb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Title = u"智能客服 v"_s + QStringLiteral(MOXEL_VERSION);
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

struct Frame
{
    QRect rect;              // border included, top-down
    qsizetype stacking = -1; // among the root's children, bottom to top
};

// The window manager's frame around window `id`, or the window itself on a bare server.
Frame frameOf(const QString &display, const QString &id)
{
    Display *d = XOpenDisplay(qPrintable(display));
    if (!d)
        return {};
    Window w = id.toULong(), root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    for (bool up = true; up; w = up ? parent : w) {
        up = XQueryTree(d, w, &root, &parent, &children, &count) && parent && parent != root;
        if (children)
            XFree(children);
    }
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    const qsizetype stacking = std::find(children, children + count, w) - children;
    if (children)
        XFree(children);
    XCloseDisplay(d);
    return {QRect(a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width),
            stacking < qsizetype(count) ? stacking : -1};
}

bool stackedAbove(const QString &display, const QString &upper, const QString &lower)
{
    const qsizetype below = frameOf(display, lower).stacking;
    return below >= 0 && frameOf(display, upper).stacking > below;
}

using XConnection = std::unique_ptr<Display, int (*)(Display *)>;

// A dock along the top edge reserving `height` pixels, as a task bar does; it
// stays while the returned connection is open.
XConnection panel(const QString &display, int height)
{
    XConnection d(XOpenDisplay(qPrintable(display)), XCloseDisplay);
    if (!d)
        return d;
    const Window w = XCreateSimpleWindow(d.get(), DefaultRootWindow(d.get()), 0, 0, 1440,
                                         unsigned(height), 0, 0, 0);
    const auto set = [&](const char *name, Atom type, const void *data, int n) {
        XChangeProperty(d.get(), w, XInternAtom(d.get(), name, False), type, 32, PropModeReplace,
                        static_cast<const unsigned char *>(data), n);
    };
    const Atom dock = XInternAtom(d.get(), "_NET_WM_WINDOW_TYPE_DOCK", False);
    set("_NET_WM_WINDOW_TYPE", XA_ATOM, &dock, 1);
    const long strut[12] = {0, 0, height, 0, 0, 0, 0, 0, 0, 1439, 0, 0};
    set("_NET_WM_STRUT_PARTIAL", XA_CARDINAL, strut, 12);
    XMapWindow(d.get(), w);
    XFlush(d.get());
    return d;
}

QByteArray frameLineOf(const QRect &r)
{
    return QString::asprintf("FRAME x=%d y_from_top=%d w=%d h=%d first=true", r.x(), r.y(),
                             r.width(), r.height())
        .toUtf8();
}

// Where the draft box is in a screenshot of the window: its dark top-left corner.
QPoint draftIn(const QImage &shot)
{
    const QRgb dark = qRgb(15, 27, 45);
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width() / 2; ++x) {
            if (shot.pixel(x, y) == dark)
                return {x, y};
        }
    }
    return {-1, -1};
}

// The xclip serving `display`'s clipboard, or 0.
qint64 clipboardKeeper(const QString &display)
{
    const QByteArray wanted = "DISPLAY=" + display.toUtf8();
    for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile cmd(u"/proc/"_s + pid + u"/cmdline"_s), env(u"/proc/"_s + pid + u"/environ"_s);
        if (cmd.open(QIODevice::ReadOnly) && cmd.readAll().startsWith("xclip") &&
            env.open(QIODevice::ReadOnly) && env.readAll().split('\0').contains(wanted))
            return pid.toLongLong();
    }
    return 0;
}

QByteArray settingsIn(const QString &configFolder)
{
    QFile f(moxel::test::settingsFile(configFolder));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestX11 : public QObject
{
    Q_OBJECT

    XvfbServer xvfb;

    void startPopup(PopupProcess &p, const QStringList &args = {u"--debug"_s}, QString display = {})
    {
        p.env.insert(u"DISPLAY"_s, display.isEmpty() ? xvfb.display() : display);
        p.env.remove(u"WAYLAND_DISPLAY"_s);
        p.start(args);
        p.write(Payload);
        QVERIFY(p.waitForLines("FRAME ", 1));
    }

    QString windowId(QString display = {})
    {
        QString id;
        QDeadlineTimer deadline(10000);
        while (id.isEmpty() && !deadline.hasExpired()) {
            id = xtool(display.isEmpty() ? xvfb.display() : display, u"xdotool"_s,
                       {u"search"_s, u"--name"_s, Title})
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
        QVERIFY2(props.contains(u"_NET_WM_NAME(UTF8_STRING) = \""_s + Title + u'"'),
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

    // Outer frames (title bar included, device pixels) on a bare server and under
    // window managers with and without _NET_REQUEST_FRAME_EXTENTS (KWin has none),
    // with a focused terminal as the chat that keeps the keyboard below the popup.
    void outerFrame_data()
    {
        QTest::addColumn<QString>("wm"); // empty: a bare server
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("scaling"); // "QT_SCALE_FACTOR=1.5", "Xft.dpi: 192"
        QTest::addColumn<int>("panel");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QRect>("expected"); // top-down
        // The window manager stops for a while as the popup maps, three
        // payloads come at once and the input ends: a busy desktop, or one
        // that has stopped answering.
        QTest::addColumn<int>("stalledMs");
        const QString wide = u"1440x900"_s;
        for (const QString &wm : {u""_s, u"openbox"_s, u"kwin_x11"_s, u"icewm"_s}) {
            const QByteArray name = (wm.isEmpty() ? u"bare"_s : wm).toUtf8() + ": ";
            // icewm's own task bar takes 26 pixels at the bottom.
            const int taskbar = wm == u"icewm" ? 26 : 0;
            QTest::addRow("%sdefault", name.constData())
                << wm << wide << QString() << 0 << QStringList() << QString()
                << QRect(1028, 12, 400, 876 - taskbar) << 0;
            QTest::addRow("%s--size", name.constData())
                << wm << wide << QString() << 0 << QStringList{u"--size"_s, u"500,600"_s}
                << u"{{20, 20}, {400, 800}}"_s << QRect(928, 288 - taskbar, 500, 600) << 0;
            QTest::addRow("%ssaved minimum frame", name.constData())
                << wm << wide << QString() << 0 << QStringList() << u"{{100, 300}, {340, 480}}"_s
                << QRect(100, 120, 340, 480) << 0;
            if (wm == u"icewm" || wm == u"kwin_x11")
                continue;
            QTest::addRow("%sshort screen", name.constData())
                << wm << u"1440x400"_s << QString() << 0 << QStringList() << QString()
                << QRect(1028, 12, 400, 376) << 0;
        }
        QTest::addRow("bare: Qt's own options ignored")
            << QString() << wide << QString() << 0
            << QStringList{u"-geometry"_s, u"300x300+5+5"_s, u"-platform"_s,
                           u"offscreen"_s, u"-title"_s,      u"x"_s}
            << QString() << QRect(1028, 12, 400, 876) << 0;
        for (const int ms : {500, 3000})
            QTest::addRow("openbox: stalled %d ms, three payloads and the end of input", ms)
                << u"openbox"_s << wide << QString() << 0 << QStringList() << QString()
                << QRect(1028, 12, 400, 876) << ms;
        QTest::addRow("openbox: panel") << u"openbox"_s << wide << QString() << 40 << QStringList()
                                        << QString() << QRect(1028, 52, 400, 836) << 0;
        // The frame in points times the scale; openbox's decorations are pixels, not points.
        QTest::addRow("openbox: scale 1.5")
            << u"openbox"_s << u"2160x1350"_s << u"QT_SCALE_FACTOR=1.5"_s << 0 << QStringList()
            << QString() << QRect(1542, 18, 600, 1314) << 0;
        QTest::addRow("openbox: QT_SCREEN_SCALE_FACTORS 1.25")
            << u"openbox"_s << u"1800x1125"_s << u"QT_SCREEN_SCALE_FACTORS=1.25"_s << 0
            << QStringList() << QString() << QRect(1285, 15, 500, 1095) << 0;
        QTest::addRow("openbox: Xft.dpi 192, saved frame")
            << u"openbox"_s << u"2880x1800"_s << u"Xft.dpi: 192"_s << 0 << QStringList()
            << u"{{100.5, 300}, {340, 480}}"_s << QRect(201, 240, 680, 960) << 0;
        // The panel is on the left monitor only; Qt reports each whole monitor as available.
        QTest::addRow("openbox: two monitors, panel on the primary")
            << u"openbox"_s << u"two 1440x900"_s << QString() << 40 << QStringList() << QString()
            << QRect(1028, 52, 400, 836) << 0;
    }
    void outerFrame()
    {
        QFETCH(QString, wm);
        QFETCH(QString, screen);
        QFETCH(QString, scaling);
        QFETCH(int, panel);
        QFETCH(QStringList, args);
        QFETCH(QString, saved);
        QFETCH(QRect, expected);
        QFETCH(int, stalledMs);

        XvfbServer x;
        if (screen.startsWith(u"two "_s))
            QVERIFY2(x.startTwoMonitors(1440, 900), "Xorg with the dummy driver could not start");
        else
            QVERIFY(x.start(screen));
        // Before the window manager, as after a log-in: one mapped during its start-up may be
        // missed.
        const XConnection dock =
            panel ? ::panel(x.display(), panel) : XConnection(nullptr, nullptr);
        if (!wm.isEmpty())
            QVERIFY2(x.startWindowManager(wm), qPrintable(wm + u" could not start"_s));
        if (panel)
            QTRY_VERIFY(x.rootProperty(u"_NET_WORKAREA"_s).contains(u"= 0, 40, "_s));
        const QString chat = x.startChat();
        QVERIFY2(!chat.isEmpty(), "no chat window");

        PopupProcess p(u"xcb"_s);
        double scale = 1;
        if (scaling.startsWith(u"Xft.dpi: "_s)) {
            scale = scaling.mid(9).toDouble() / 96;
            // As xrdb stores it, with a tab; Qt reads nothing else.
            xtool(x.display(), u"xprop"_s,
                  {u"-root"_s, u"-f"_s, u"RESOURCE_MANAGER"_s, u"8s"_s, u"-set"_s,
                   u"RESOURCE_MANAGER"_s, u"Xft.dpi:\t"_s + scaling.mid(9) + u'\n'});
        } else if (!scaling.isEmpty()) {
            scale = scaling.section(u'=', 1).toDouble();
            p.env.insert(scaling.section(u'=', 0, 0), scaling.section(u'=', 1));
        }
        if (!saved.isEmpty()) {
            QDir().mkpath(QFileInfo(p.settingsFile()).path());
            QFile f(p.settingsFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[General]\nmoxel.popupFrame=\"" + saved.toUtf8() + "\"\n");
        }
        // Reported in points.
        const QRectF points(QPointF(expected.topLeft()) / scale, QSizeF(expected.size()) / scale);
        if (stalledMs) {
            p.env.insert(u"DISPLAY"_s, x.display());
            p.start(args << u"--debug"_s);
            ::kill(pid_t(x.windowManagerPid()), SIGSTOP);
            p.write(Payload + Payload + Payload);
            p.closeInput();
            // Past its deadline the popup stops waiting, and ends before the window manager is
            // back.
            QCOMPARE(p.finish(stalledMs), stalledMs > 1000);
            ::kill(pid_t(x.windowManagerPid()), SIGCONT);
            QVERIFY(p.finish());
            const QByteArray frame = frameLineOf(points.toRect()).chopped(4);
            QCOMPARE(p.lines("FRAME "),
                     (QList<QByteArray>{frame + "true", frame + "false", frame + "false"}));
            return;
        }
        startPopup(p, args << u"--debug"_s, x.display());
        QCOMPARE(p.lines("FRAME ").constFirst(),
                 frameLineOf(QRect(int(points.x()), int(points.y()), int(points.width()),
                                   int(points.height()))));
        const QString id = windowId(x.display());
        // Exact from the start: the first FRAME line comes once the frame is where it stays.
        QCOMPARE(frameOf(x.display(), id).rect, expected);
        const QString props = xtool(x.display(), u"xprop"_s, {u"-id"_s, id, u"_NET_WM_STATE"_s});
        QVERIFY2(!props.contains(u"MAXIMIZED"_s) && !props.contains(u"DEMANDS_ATTENTION"_s),
                 qPrintable(props));
        // The user's resizing stops at 340 x 480 outside, or at the program's own smaller frame.
        const QString hints = xtool(x.display(), u"xprop"_s, {u"-id"_s, id, u"WM_NORMAL_HINTS"_s});
        const auto m = QRegularExpression(uR"(minimum size: (\d+) by (\d+))"_s).match(hints);
        QVERIFY2(m.hasMatch(), qPrintable(hints));
        const Geometry client = geometryOf(x.display(), id);
        const QSize outerMinimum = QSize(m.captured(1).toInt(), m.captured(2).toInt()) +
                                   expected.size() - QSize(client.w, client.h);
        const QSize wanted =
            (QSizeF(qMin(340.0, points.width()), qMin(480.0, points.height())) * scale).toSize();
        QVERIFY2(qAbs(outerMinimum.width() - wanted.width()) < scale &&
                     qAbs(outerMinimum.height() - wanted.height()) < scale,
                 qPrintable(hints));

        QCOMPARE(xtool(x.display(), u"xdotool"_s, {u"getwindowfocus"_s}).trimmed(), chat);
        QVERIFY(stackedAbove(x.display(), id, chat));
        if (!wm.isEmpty() && scaling.isEmpty()) {
            // Declined on appearing, the keyboard is still the salesperson's for a click.
            const QTemporaryDir shots;
            const QString shot = shots.filePath(u"popup.png"_s);
            QPoint draft;
            QTRY_VERIFY((xtool(x.display(), u"import"_s, {u"-window"_s, id, shot}),
                         draft = draftIn(QImage(shot)))
                            .x() >= 0);
            const auto click = [&](const QString &window, QPoint at) {
                xtool(x.display(), u"xdotool"_s,
                      {u"mousemove"_s, u"--window"_s, window, QString::number(at.x()),
                       QString::number(at.y()), u"click"_s, u"1"_s});
            };
            const auto type = [&](const QString &keys) {
                xtool(x.display(), u"xdotool"_s, {u"type"_s, keys});
            };
            const auto focus = [&] {
                return xtool(x.display(), u"xdotool"_s, {u"getwindowfocus"_s}).trimmed();
            };
            // A click to read (the toggle below the draft, like a label or the
            // space between cards) leaves the keyboard in the chat, before the
            // salesperson has typed into the popup and after they went back.
            const QPoint toggle = draft + QPoint(20, 96 + 13);
            click(id, toggle);
            type(u"k1"_s);
            QTRY_COMPARE(x.chatTyped(), QByteArray("k1"));
            QCOMPARE(focus(), chat);
            click(id, draft + QPoint(100, 40));
            QTRY_COMPARE(focus(), id);
            type(u"ab"_s);
            QVERIFY2(p.waitForLines("SYNC: 检测到编辑 d0-text", 2), p.out.constData());
            click(chat, QPoint(30, 30)); // clear of a popup placed over it
            QTRY_COMPARE(focus(), chat);
            click(id, toggle);
            type(u"k2"_s);
            QTRY_COMPARE(x.chatTyped(), QByteArray("k1k2"));
            // 编辑中文, then 完成 hands the keyboard back to the chat, then the draft.
            const QPoint edit = draft + QPoint(40, 214);
            click(id, toggle);
            for (const bool fromDraft : {false, true}) {
                if (fromDraft)
                    click(id, draft + QPoint(100, 40));
                for (const QString &keys : {u"m"_s, u"k3"_s}) {
                    QTRY_COMPARE(focus(), fromDraft || keys == u"k3" ? id : chat);
                    click(id, edit);
                    QTRY_COMPARE(focus(), fromDraft || keys == u"m" ? id : chat);
                    type(keys);
                }
            }
            QTRY_COMPARE(x.chatTyped(), QByteArray("k1k2k3"));
            QVERIFY(p.waitForLines("SYNC: 检测到编辑 d0-cn", 2));
            QVERIFY(p.waitForLines("SYNC: 检测到编辑 d0-text", 4));
        }
        // Clicked, the chat still stays below.
        xtool(x.display(), u"xdotool"_s, {u"mousemove"_s, u"5"_s, u"5"_s, u"click"_s, u"1"_s});
        QVERIFY(stackedAbove(x.display(), id, chat));
        p.closeInput();
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 0);
        // Never moved by the salesperson, the window leaves no frame of its own to remember.
        QCOMPARE(settingsIn(p.config.path()).contains("moxel.popupFrame"), !saved.isEmpty());
    }

    // Dragged by its title bar, the popup stays where it was dropped, saves
    // that outer frame, and comes back exactly there, twice without drift.
    void dragThenRestore_data()
    {
        QTest::addColumn<QString>("wm");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QRect>("expected"); // the default frame, device pixels
        QTest::newRow("openbox") << u"openbox"_s << u"1440x900"_s << 1.0
                                 << QRect(1028, 12, 400, 876);
        QTest::newRow("kwin_x11") << u"kwin_x11"_s << u"1440x900"_s << 1.0
                                  << QRect(1028, 12, 400, 876);
        QTest::newRow("icewm") << u"icewm"_s << u"1440x900"_s << 1.0 << QRect(1028, 12, 400, 850);
        // Moved by a pixel count that is no whole number of points.
        QTest::newRow("openbox, scale 1.25")
            << u"openbox"_s << u"1800x1125"_s << 1.25 << QRect(1285, 15, 500, 1095);
    }
    void dragThenRestore()
    {
        QFETCH(QString, wm);
        QFETCH(QString, screen);
        QFETCH(double, scale);
        QFETCH(QRect, expected);
        XvfbServer x;
        QVERIFY(x.start(screen));
        QVERIFY2(x.startWindowManager(wm), qPrintable(wm + u" could not start"_s));
        // A window manager's own task bar (icewm's) reserves its room a moment after it starts.
        const int visibleHeight = expected.height() + int(std::lround(24 * scale));
        const QRegularExpression workArea(uR"(= \d+, \d+, \d+, %1\b)"_s.arg(visibleHeight));
        if (visibleHeight != screen.section(u'x', 1).toInt())
            QTRY_VERIFY(x.rootProperty(u"_NET_WORKAREA"_s).contains(workArea));
        const QTemporaryDir config;
        const double screenHeight = screen.section(u'x', 1).toInt(); // device pixels
        for (int run = 0; run < 3; ++run) {
            PopupProcess p(u"xcb"_s);
            p.env.insert(u"XDG_CONFIG_HOME"_s, config.path());
            p.env.insert(u"QT_SCALE_FACTOR"_s, QString::number(scale));
            startPopup(p, {u"--debug"_s}, x.display());
            const QString id = windowId(x.display());
            QTRY_VERIFY(
                xtool(x.display(), u"xwininfo"_s, {u"-id"_s, id}).contains(u"IsViewable"_s));
            QCOMPARE(frameOf(x.display(), id).rect, expected);
            const QRectF points(QPointF(expected.topLeft()) / scale,
                                QSizeF(expected.size()) / scale);
            QCOMPARE(p.lines("FRAME ").constFirst(),
                     frameLineOf(QRect(int(points.x()), int(points.y()), int(points.width()),
                                       int(points.height()))));
            if (run < 2) {
                // Down, then up: the frame fills the screen's height but for 24 pixels,
                // and a window manager snaps a frame dropped near an edge onto it.
                const QPoint delta(-201, run ? -1 : 1);
                // Grab the title bar 8 pixels below the top and pull it in a few steps.
                QStringList drag;
                for (int step = 0; step <= 4; ++step) {
                    const QPoint at = expected.topLeft() + QPoint(100, 8) + delta * step / 4;
                    drag << u"sleep"_s << u"0.05"_s << u"mousemove"_s << QString::number(at.x())
                         << QString::number(at.y());
                    if (step == 0)
                        drag << u"mousedown"_s << u"1"_s;
                }
                xtool(x.display(), u"xdotool"_s, drag << u"mouseup"_s << u"1"_s);
                expected.translate(delta);
                QTRY_COMPARE(frameOf(x.display(), id).rect, expected);
                // In points, bottom-left origin.
                const auto num = [scale](double v) {
                    return QString::number(v / scale, 'g', QLocale::FloatingPointShortest);
                };
                const QString saved = u"{{"_s + num(expected.x()) + u", "_s +
                                      num(screenHeight - expected.y() - expected.height()) +
                                      u"}, {"_s + num(expected.width()) + u", "_s +
                                      num(expected.height()) + u"}}"_s;
                QTRY_VERIFY2(settingsIn(config.path()).contains(saved.toUtf8()),
                             settingsIn(config.path()).constData());
                QTest::qWait(300); // not undone a moment later either
                QCOMPARE(frameOf(x.display(), id).rect, expected);
            }
            p.closeInput();
            QVERIFY(p.finish());
            QCOMPARE(p.exitCode(), 0);
        }
    }

    // An upstream refresh while the salesperson types, then a copy and the end
    // of the popup: the keys go on into the draft, an undo brings an edit back
    // from a replaced box, a pinyin composition is one edit, and the copied
    // text can still be pasted afterwards.
    void salespersonsWorkSurvives_data()
    {
        QTest::addColumn<bool>("pinyin");
        QTest::addColumn<QByteArray>("next");
        QTest::addColumn<bool>("closeWindow"); // else the input ends under the confirmation
        QTest::addColumn<QString>("copied");
        QTest::newRow("same payload, end of input")
            << false << Payload << false << u"OláEDITEDMORE"_s;
        QTest::newRow("new payload, undo, close") << false
                                                  << QByteArray(R"({"draft":"Oi","cn":"嗨"})"
                                                                "\n")
                                                  << true << u"OláEDITEDMORE"_s;
        QTest::newRow("pinyin paused mid-word") << true << Payload << false << u"Olá你MORE"_s;
    }
    void salespersonsWorkSurvives()
    {
        QFETCH(bool, pinyin);
        QFETCH(QByteArray, next);
        QFETCH(bool, closeWindow);
        QFETCH(QString, copied);
        XvfbServer x;
        QVERIFY(x.start());
        QVERIFY2(x.startWindowManager(), "openbox could not start");
        QVERIFY(!x.startChat().isEmpty());
        PopupProcess p(u"xcb"_s);
        QProcess bus, fcitx;
        const QTemporaryDir home;
        if (pinyin) {
            // fcitx5 with pinyin on a session bus of its own, as a Chinese desktop runs it.
            bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
            QVERIFY(bus.waitForReadyRead());
            p.env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s,
                         QString::fromUtf8(bus.readLine().trimmed()));
            p.env.insert(u"DISPLAY"_s, x.display());
            p.env.insert(u"HOME"_s, home.path());
            p.env.insert(u"QT_IM_MODULE"_s, u"fcitx"_s);
            QDir().mkpath(p.config.filePath(u"fcitx5"_s));
            QFile profile(p.config.filePath(u"fcitx5/profile"_s));
            QVERIFY(profile.open(QIODevice::WriteOnly));
            profile.write("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n"
                          "[Groups/0/Items/0]\nName=keyboard-us\n[Groups/0/Items/1]\nName=pinyin\n"
                          "[GroupOrder]\n0=Default\n");
            profile.close();
            fcitx.setProcessEnvironment(p.env);
            fcitx.start(u"fcitx5"_s, {});
            // Asked for the name, not through it: a call to fcitx before this
            // one holds its name starts another, without the profile above.
            const auto named = [&] {
                QProcess ask;
                ask.setProcessEnvironment(p.env);
                ask.start(u"dbus-send"_s,
                          {u"--session"_s, u"--print-reply"_s, u"--dest=org.freedesktop.DBus"_s,
                           u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.GetNameOwner"_s,
                           u"string:org.fcitx.Fcitx5"_s});
                return ask.waitForFinished() && ask.exitCode() == 0;
            };
            QTRY_VERIFY_WITH_TIMEOUT(named(), 10000);
        }
        const auto xdo = [&](const QString &args) {
            QProcess t;
            t.setProcessEnvironment(p.env);
            t.start(args.startsWith(u"fcitx5") ? u"fcitx5-remote"_s : u"xdotool"_s,
                    args.section(u' ', args.startsWith(u"fcitx5") ? 1 : 0).split(u' '));
            t.waitForFinished();
            return t.readAllStandardOutput().trimmed();
        };
        const auto edits = [&](int n) {
            return p.waitForLines("SYNC: 检测到编辑 d0-text", n) &&
                   p.lines("SYNC: 检测到编辑 d0-text").size() == n;
        };
        startPopup(p, {u"--debug"_s}, x.display());
        const QString id = windowId(x.display());
        const QString shot = home.filePath(u"popup.png"_s);
        QPoint draft;
        QTRY_VERIFY((xtool(x.display(), u"import"_s, {u"-window"_s, id, shot}),
                     draft = draftIn(QImage(shot)))
                        .x() >= 0);
        const QString intoDraft = u"mousemove --window %1 %2 %3 click 1 key End"_s.arg(id)
                                      .arg(draft.x() + 100)
                                      .arg(draft.y() + 40);
        xdo(intoDraft);
        if (pinyin) {
            // Pinyin on (fcitx may meet the box only at its next focus), a pause
            // longer than the sync's in the middle of a word, then the commit.
            const auto on = [&] {
                return (xdo(intoDraft), xdo(u"fcitx5 -o"_s), xdo(u"fcitx5"_s)) == "2";
            };
            if (!QTest::qWaitFor(on, 15000)) {
                fcitx.kill();
                bus.kill();
                fcitx.waitForFinished();
                bus.waitForFinished();
                QSKIP("fcitx5 did not switch pinyin on for the draft in 15 s");
            }
            xdo(u"type ni"_s);
            xdo(u"sleep 1.6 key space"_s);
            QVERIFY(p.waitForLines("SYNC: 推送 ", 1));
            QVERIFY2(edits(1), p.out.constData());
            xdo(u"fcitx5 -c"_s);
        } else {
            xdo(u"type EDITED"_s);
            QVERIFY(edits(6));
        }
        const int before = int(p.lines("SYNC: 检测到编辑 d0-text").size());
        p.write(next);
        QVERIFY(p.waitForLines("FRAME ", 2));
        if (next != Payload) {
            xdo(u"key ctrl+z End"_s);
            QVERIFY(edits(before + 1));
        }
        xdo(u"type MORE"_s);
        QVERIFY(edits(before + (next != Payload) + 4));
        // 复制 sits at the right end of the row above the draft.
        xdo(u"mousemove --window %1 %2 %3 click 1"_s.arg(id)
                .arg(draft.x() + 310)
                .arg(draft.y() - 17));
        const auto dialog = [&] {
            return xtool(x.display(), u"xdotool"_s, {u"search"_s, u"--name"_s, u"已复制回复"_s})
                .trimmed();
        };
        QTRY_VERIFY(!dialog().isEmpty());
        // The confirmation is the popup's: transient for it, and out of the taskbar.
        const QString props = xtool(x.display(), u"xprop"_s, {u"-id"_s, dialog()});
        QVERIFY2(props.contains(u"_NET_WM_STATE_SKIP_TASKBAR"_s) &&
                     props.contains(u"WM_TRANSIENT_FOR(WINDOW): window id # 0x"_s +
                                    QString::number(id.toULong(), 16)),
                 qPrintable(props));
        if (closeWindow) {
            sendDeleteWindow(x.display(), dialog().toULong());
            QTRY_VERIFY(dialog().isEmpty());
            sendDeleteWindow(x.display(), id.toULong());
        } else {
            p.closeInput();
        }
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 0);

        // The keeper takes the clipboard from a process started at exit; on a
        // loaded machine that can come a moment after the popup has gone.
        QTRY_COMPARE_WITH_TIMEOUT(
            xtool(x.display(), u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}), copied,
            5000);
        // The keeper holds none of the popup's streams; another program's copy ends it.
        const qint64 keeper = clipboardKeeper(x.display());
        QVERIFY(keeper);
        const QString proc = u"/proc/%1/"_s.arg(keeper);
        const auto links = [](const QString &folder) {
            QStringList targets;
            for (const QString &fd : QDir(folder).entryList(QDir::System)) {
                char target[256] = {};
                ::readlink(qPrintable(folder + u'/' + fd), target, sizeof target - 1);
                targets << QString::fromLatin1(target);
            }
            return targets;
        };
        const QStringList ours = links(u"/proc/self/fd"_s);
        for (const QString &target : links(proc + u"fd"_s))
            QVERIFY2(target == u"/dev/null" || (!ours.contains(target) && !target.startsWith(u'/')),
                     qPrintable(target));
        const auto alive = [&] {
            QFile f(proc + u"stat"_s);
            return f.open(QIODevice::ReadOnly) && !f.readAll().split(')').last().startsWith(" Z");
        };
        QProcess other;
        other.setProcessEnvironment(p.env);
        other.start(u"xclip"_s, {u"-selection"_s, u"clipboard"_s, u"-i"_s});
        other.write("other");
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished());
        QTRY_VERIFY(!alive());
        fcitx.kill();
        bus.kill();
        fcitx.waitForFinished();
        bus.waitForFinished();
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
        // Payloads keep coming for as long as the program runs: closing the
        // window mid-burst must end it, cleanly, without waiting for the end
        // of its input, which never comes.
        PopupProcess p(u"xcb"_s);
        startPopup(p);
        QByteArray burst;
        for (int i = 0; i < 2000; ++i)
            burst +=
                "{\"intent\":\"n" + QByteArray::number(i) + "\",\"draft\":\"x\",\"cn\":\"y\"}\n";
        const auto fed = [&] {
            if (p.process.state() == QProcess::Running && p.process.bytesToWrite() < burst.size())
                p.write(burst);
            return true;
        };
        QVERIFY(fed() && p.waitForLines("FRAME ", 50) && p.process.state() == QProcess::Running);
        sendDeleteWindow(xvfb.display(), windowId().toULong());
        QTRY_VERIFY_WITH_TIMEOUT(fed() && p.process.state() == QProcess::NotRunning, 20000);
        p.finish();
        QVERIFY(!p.crashed());
        QCOMPARE(p.exitCode(), 0);
    }

    void closedWithATranslationPending()
    {
        // The self-test types into the draft (at 0.15 s here); the service
        // takes the request and never answers; closing the window must still
        // end at once.
        moxel::test::TestService service;
        service.setReply(moxel::test::Reply::never());
        PopupProcess p(u"xcb"_s);
        p.env.insert(u"DISPLAY"_s, xvfb.display());
        p.env.insert(u"MOXEL_TEST_TIME_SCALE"_s, u"0.1"_s);
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
