#include "heights.h"

#include <QTest>

using namespace moxel;

class TestHeights : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void height_data();
    void height();
    void hugeTextGetsTheCap();
};

namespace {

QString lines(int count, const QString &line)
{
    QStringList all;
    for (int i = 0; i < count; ++i)
        all << line;
    return all.join(u'\n');
}

QString times(int count, QStringView unit)
{
    return unit.toString().repeated(count);
}

} // namespace

void TestHeights::height_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("cjk");
    QTest::addColumn<double>("expected");

    const QString latin = QStringLiteral("a");
    const QString han = QStringLiteral("中");

    QTest::newRow("empty") << QString() << false << 96.0;
    QTest::newRow("empty cjk") << QString() << true << 70.0;
    QTest::newRow("46 latin: one row") << times(46, latin) << false << 96.0;
    QTest::newRow("47 latin: two rows") << times(47, latin) << false << 96.0;
    // Above the floor, so the row count shows: 6 rows of 46, then a 7th.
    QTest::newRow("276 latin: 6 rows") << times(276, latin) << false << 112.0;
    QTest::newRow("277 latin: 7 rows") << times(277, latin) << false << 128.0;
    QTest::newRow("10 lines of 50") << lines(10, times(50, latin)) << false << 220.0;
    QTest::newRow("5 lines of 30 CJK") << lines(5, times(30, han)) << true << 196.0;
    QTest::newRow("24 CJK: one row") << lines(4, times(24, han)) << true << 88.0;
    QTest::newRow("25 CJK: two rows") << lines(4, times(25, han)) << true << 160.0;
    QTest::newRow("cjk flag only changes constants") << lines(4, times(25, han)) << false << 96.0;

    // Line feeds: every one ends a line, empty lines count as one row each.
    QTest::newRow("three line feeds: four rows") << QStringLiteral("\n\n\n") << true << 88.0;
    QTest::newRow("six line feeds: seven rows") << times(6, u"\n") << false << 128.0;
    QTest::newRow("trailing line feed adds a row")
        << lines(6, latin) + QLatin1Char('\n') << false << 128.0;
    QTest::newRow("CR LF ends no line") << times(6, u"\r\n") << false << 96.0;
    QTest::newRow("46 CR LF: one row") << lines(6, times(46, u"\r\n")) << false << 112.0;
    QTest::newRow("47 CR LF: two rows") << lines(6, times(47, u"\r\n")) << false << 208.0;
    QTest::newRow("lone CR ends no line") << times(6, u"\r") << false << 96.0;
    QTest::newRow("CR CR LF: still one line") << times(7, u"\r\r\n") << false << 96.0;
    QTest::newRow("CR after a line feed starts the next line")
        << lines(7, QStringLiteral("\ra")) << false << 128.0;

    // User-perceived characters, not code units.
    const QString family = QStringLiteral("👨‍👩‍👧‍👦");
    QTest::newRow("family emoji is one character") << lines(6, times(46, family)) << false << 112.0;
    QTest::newRow("47 family emoji: two rows") << lines(6, times(47, family)) << false << 208.0;
    QTest::newRow("combining marks join their base")
        << lines(6, times(46, u"e\u0301\u0302")) << false << 112.0;
    QTest::newRow("flag pairs") << lines(6, times(46, u"🇨🇳")) << false << 112.0;
    QTest::newRow("RTL text") << lines(6, times(47, u"ש")) << false << 208.0;
    QTest::newRow("NUL characters count") << lines(6, QString(47, QChar(0))) << false << 208.0;
    QTest::newRow("lone surrogates count one each")
        << lines(6, QString(47, QChar(0xD800))) << false << 208.0;
    QTest::newRow("lone trailing surrogates")
        << lines(6, QString(47, QChar(0xDC00))) << false << 208.0;
}

void TestHeights::height()
{
    QFETCH(QString, text);
    QFETCH(bool, cjk);
    QFETCH(double, expected);
    QCOMPARE(sidebarHeight(text, cjk), expected);
}

// The result only: whether counting stops at the cap shows in the time
// taken alone, and tests do not time.
void TestHeights::hugeTextGetsTheCap()
{
    // A draft of megabytes, one line or a million, still gets the cap.
    QCOMPARE(sidebarHeight(QString(2'000'000, u'x')), 220.0);
    QCOMPARE(sidebarHeight(QString(1'000'000, u'\n'), true), 220.0);
    QCOMPARE(sidebarHeight(times(1'000'000, u"\r\n")), 220.0);
}

QTEST_APPLESS_MAIN(TestHeights)
#include "tst_heights.moc"
