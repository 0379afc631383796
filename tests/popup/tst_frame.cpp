#include "frame.h"

#include <QTest>

using namespace moxel;
using namespace Qt::StringLiterals;

class TestFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void textRoundTrip_data()
    {
        QTest::addColumn<QRectF>("frame");
        QTest::addColumn<QString>("text");
        QTest::newRow("integers") << QRectF(1028, 37, 400, 851) << u"{{1028, 37}, {400, 851}}"_s;
        QTest::newRow("fractions")
            << QRectF(0.5, -12.25, 400.1, 851) << u"{{0.5, -12.25}, {400.1, 851}}"_s;
        QTest::newRow("zero") << QRectF() << u"{{0, 0}, {0, 0}}"_s;
    }
    void textRoundTrip()
    {
        QFETCH(QRectF, frame);
        QTEST(frameText(frame), "text");
        QCOMPARE(frameFromText(frameText(frame)), frame);
    }

    void savedFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("present");
        QTest::newRow("typical") << u"{{1028, 37}, {400, 851}}"_s << true;
        QTest::newRow("at the floor") << u"{{0, 0}, {320, 240}}"_s << true;
        QTest::newRow("too narrow") << u"{{0, 0}, {319, 800}}"_s << false;
        QTest::newRow("too low") << u"{{0, 0}, {400, 239}}"_s << false;
        QTest::newRow("no numbers") << u"garbage"_s << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("a number") << u"5"_s << false;
        QTest::newRow("numbers without braces") << u"1 2 400 600"_s << true;
        QTest::newRow("partial") << u"{{1, 2}, {400}}"_s << false;
        QTest::newRow("huge exponent") << u"{{0, 0}, {1e999, 500}}"_s << false;
    }
    void savedFrame()
    {
        QFETCH(QString, text);
        QTEST(savedFrameFromText(text).has_value(), "present");
    }

    void initialSize_data()
    {
        QTest::addColumn<QRectF>("visible");
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<QSizeF>("fixedSize");
        QTest::addColumn<QSizeF>("size");
        const QRectF mac(0, 0, 1440, 875);
        QTest::newRow("default") << mac << false << QSizeF() << QSizeF(400, 851);
        QTest::newRow("fixed") << mac << true << QSizeF(500, 600) << QSizeF(500, 600);
        QTest::newRow("raised to 480") << mac << true << QSizeF(500, 300) << QSizeF(500, 480);
        QTest::newRow("lowered to the screen")
            << QRectF(0, 0, 800, 400) << false << QSizeF() << QSizeF(400, 400);
        QTest::newRow("fixed beyond the screen")
            << QRectF(0, 0, 800, 600) << true << QSizeF(420, 900) << QSizeF(420, 600);
    }
    void initialSize()
    {
        QFETCH(QRectF, visible);
        QFETCH(bool, fixed);
        QFETCH(QSizeF, fixedSize);
        const auto f = fixed ? std::optional<QSizeF>(fixedSize) : std::nullopt;
        QTEST(initialContentSize(f, visible), "size");
    }

    void defaultPlacement()
    {
        // A 1440 x 900 screen with a 25-point menu bar on top (Qt coordinates).
        const QRectF vf(0, 25, 1440, 875);
        QCOMPARE(defaultFrame(std::nullopt, vf), QRectF(1028, 37, 400, 851));
        // 12 points from the right and the bottom, whatever the size.
        QCOMPARE(defaultFrame(QSizeF(500, 600), vf), QRectF(1440 - 512, 900 - 12 - 600, 500, 600));
        // A short screen: the default height is the visible height minus 24.
        QCOMPARE(defaultFrame(std::nullopt, QRectF(0, 0, 800, 400)).height(), 376.0);
    }

    void usableSavedFrame_data()
    {
        QTest::addColumn<QRectF>("frame");
        QTest::addColumn<bool>("usable");
        QTest::newRow("inside") << QRectF(100, 100, 400, 600) << true;
        QTest::newRow("width 339") << QRectF(100, 100, 339, 600) << false;
        QTest::newRow("width 340") << QRectF(100, 100, 340, 600) << true;
        QTest::newRow("width 620") << QRectF(100, 100, 620, 600) << true;
        QTest::newRow("width 621") << QRectF(100, 100, 621, 600) << false;
        QTest::newRow("height 479") << QRectF(100, 100, 400, 479) << false;
        QTest::newRow("height 480") << QRectF(100, 100, 400, 480) << true;
        QTest::newRow("on the second screen") << QRectF(2000, 100, 400, 600) << true;
        QTest::newRow("on no screen") << QRectF(5000, 100, 400, 600) << false;
        QTest::newRow("touching only an edge") << QRectF(1440, 0, 400, 600) << false;
        QTest::newRow("partly off screen") << QRectF(-300, 100, 400, 600) << true;
    }
    void usableSavedFrame()
    {
        QFETCH(QRectF, frame);
        const QList<QRectF> screens{QRectF(0, 0, 1440, 875), QRectF(1920, 0, 1920, 1080)};
        QTEST(savedFrameUsable(frame, screens), "usable");
    }

    // Two 1440 x 900 monitors side by side; a dock counts only on the monitor it reaches.
    void visibleAreas_data()
    {
        QTest::addColumn<QList<int>>("strut");
        QTest::addColumn<QRect>("left");
        QTest::addColumn<QRect>("right");
        const QRect l(0, 0, 1440, 900), r(1440, 0, 1440, 900);
        QTest::newRow("top panel on the left")
            << QList<int>{0, 0, 40, 0, 0, 0, 0, 0, 0, 1439, 0, 0} << l.adjusted(0, 40, 0, 0) << r;
        QTest::newRow("bottom panel across both")
            << QList<int>{0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0, 2879} << l.adjusted(0, 0, 0, -30)
            << r.adjusted(0, 0, 0, -30);
        QTest::newRow("right dock on the right")
            << QList<int>{0, 64, 0, 0, 0, 0, 0, 899, 0, 0, 0, 0} << l << r.adjusted(0, 0, -64, 0);
        QTest::newRow("old four-value strut")
            << QList<int>{0, 0, 25, 0} << l.adjusted(0, 25, 0, 0) << r.adjusted(0, 25, 0, 0);
    }
    void visibleAreas()
    {
        QFETCH(QList<int>, strut);
        const QSize root(2880, 900);
        const QList<Strut> struts{Strut::fromValues(strut, root)};
        QTEST(visibleArea(QRect(0, 0, 1440, 900), root, struts), "left");
        QTEST(visibleArea(QRect(1440, 0, 1440, 900), root, struts), "right");
        // A window manager's own work area for the monitor wins.
        QCOMPARE(visibleArea(QRect(0, 0, 1440, 900), root, struts, {QRect(0, 10, 1440, 880)}),
                 QRect(0, 10, 1440, 880));
    }

    void deviceScale()
    {
        // Points to pixels cut toward zero as FRAME cuts them, and back exactly,
        // also for a fractional drag or a pixel divided by 1.5 and rounded.
        QCOMPARE(DeviceScale{}.toDevice(QRectF(99.7, -0.6, 500.9, 600)), QRect(99, 0, 500, 600));
        const DeviceScale half{QPointF(), 1.5};
        QCOMPARE(half.toDevice(QRectF(0.666667, 1.333333, 100, 100)), QRect(1, 2, 150, 150));
        const DeviceScale s{QPointF(0, 0), 1.25};
        QCOMPARE(s.toDevice(QRectF(1028, 12, 400, 876)), QRect(1285, 15, 500, 1095));
        QCOMPARE(s.toDevice(s.toPoints(QRect(1084, 22, 500, 1095))), QRect(1084, 22, 500, 1095));
        const DeviceScale second{QPointF(1440, 0), 2};
        QCOMPARE(second.toDevice(QRectF(1500, 10, 400, 600)), QRect(1560, 20, 800, 1200));
    }

    void coordinates()
    {
        // Primary screen 900 high: a window 500 high whose top is 200 from the
        // top has its bottom 200 above the bottom.
        const ScreenSpace space{0, 900};
        const QRectF down(100, 200, 400, 500);
        QCOMPARE(space.toYUp(down), QRectF(100, 200, 400, 500));
        QCOMPARE(space.toYUp(QRectF(0, 0, 400, 500)), QRectF(0, 400, 400, 500));
        QCOMPARE(space.toYDown(space.toYUp(QRectF(7, 33, 400, 600))), QRectF(7, 33, 400, 600));
        // From pixels at 1.25, saved as the numbers they are.
        QCOMPARE(frameText(space.toYUp(QRectF(1084 / 1.25, 22 / 1.25, 400, 876))),
                 u"{{867.2, 6.4}, {400, 876}}"_s);
    }

    void frameLines()
    {
        const ScreenSpace space{0, 900};
        const QRectF screen(0, 0, 1440, 900);
        QCOMPARE(frameLine(QRectF(100, 200, 400, 500), screen, space, true),
                 u"FRAME x=100 y_from_top=200 w=400 h=500 first=true"_s);
        QCOMPARE(frameLine(QRectF(99.7, 10.9, 400.5, 500.99), screen, space, false),
                 u"FRAME x=99 y_from_top=10 w=400 h=500 first=false"_s);
        QCOMPARE(frameLine(QRectF(-99.7, 0, 400, 500), screen, space, false),
                 u"FRAME x=-99 y_from_top=0 w=400 h=500 first=false"_s);
    }
};

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
