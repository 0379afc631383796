#include "textrules.h"

#include <QTest>

using namespace moxel;
using namespace Qt::StringLiterals;

class TestTextRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void count_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("count");
        QTest::newRow("empty") << QString() << qsizetype(0);
        QTest::newRow("latin") << u"hello"_s << qsizetype(5);
        QTest::newRow("ideographs") << u"你好世界"_s << qsizetype(4);
        QTest::newRow("emoji with modifier") << u"👍🏽"_s << qsizetype(1);
        QTest::newRow("family emoji") << u"👨‍👩‍👧"_s << qsizetype(1);
        QTest::newRow("flag") << u"🇧🇷"_s << qsizetype(1);
        QTest::newRow("combining mark") << u"e\u0301"_s << qsizetype(1);
        QTest::newRow("CR LF is one") << u"a\r\nb"_s << qsizetype(3);
        QTest::newRow("NUL counts") << QString(u"a\0b"_s) << qsizetype(3);
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u"x"_s << qsizetype(2);
        QTest::newRow("right to left") << u"שלום"_s << qsizetype(4);
    }
    void count()
    {
        QFETCH(QString, text);
        QTEST(graphemeCount(text), "count");
    }

    void prefix()
    {
        QCOMPARE(graphemePrefix(u"👍🏽ab"_s, 1), u"👍🏽"_s);
        QCOMPARE(graphemePrefix(u"abc"_s, 5), u"abc"_s);
        QCOMPARE(graphemePrefix(u"abc"_s, 0), QString());
        QCOMPARE(graphemePrefix(u"e\u0301x"_s, 1), u"e\u0301"_s);
    }

    void printableLine() // one line, left to right, in a terminal
    {
        QCOMPARE(printable(u"\u001b[2J\n\u202Ea\u2066b\u2069\u202A"_s),
                 u"\\u001b[2J\\u000a\\u202ea\\u2066b\\u2069\\u202a"_s);
        QCOMPARE(printable(u"你好 שלום \u200D\u200F\u206A"_s), u"你好 שלום \u200D\u200F\u206A"_s);
    }

    void unbrokenRuns()
    {
        QVERIFY(!hasLongUnbrokenRun(u"short"_s, 1000));
        QVERIFY(hasLongUnbrokenRun(QString(1500, u'a'), 1000));
        QVERIFY(!hasLongUnbrokenRun(QString(800, u'a') + u' ' + QString(800, u'b'), 1000));
        // Ideographs may break between any two of them.
        QVERIFY(!hasLongUnbrokenRun(QString(5000, QChar(0x4E00)), 1000));
        QVERIFY(hasLongUnbrokenRun(u"x "_s + QString(2000, u'7'), 1000));
    }
};

QTEST_APPLESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
