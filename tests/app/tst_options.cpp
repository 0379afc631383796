#include <QString>
using namespace Qt::StringLiterals;
#include "options.h"

#include <QTest>

#include <cmath>

using namespace moxel;

class TestOptions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pair_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("present");
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        const QString pos = QStringLiteral("--pos");
        auto row = [&](const char *name, QStringList args, bool present, double a = 0,
                       double b = 0) {
            args.prepend(QStringLiteral("moxel-popup"));
            QTest::newRow(name) << args << present << a << b;
        };
        row("plain", {pos, u"10,20"_s}, true, 10, 20);
        row("empty pieces dropped", {pos, u",10,,20,"_s}, true, 10, 20);
        row("double comma", {pos, u"10,,20"_s}, true, 10, 20);
        row("non-number dropped", {pos, u"10,abc,20"_s}, true, 10, 20);
        row("space before piece", {pos, u"10, 20"_s}, false);
        row("space after piece", {pos, u"10 ,20"_s}, false);
        row("three numbers", {pos, u"1,2,3"_s}, false);
        row("one number", {pos, u"5"_s}, false);
        row("last argument", {pos}, false);
        row("negative and exponent", {pos, u"-30,1e3"_s}, true, -30, 1000);
        row("hex", {pos, u"0x10,0x1p4"_s}, true, 16, 16);
        row("explicit plus and decimals", {pos, u"+1.5,.5"_s}, true, 1.5, 0.5);
        row("decimal comma is two pieces", {pos, u"1,5"_s}, true, 1, 5);
        row("first occurrence only", {pos, pos, u"1,2"_s}, false);
        row("later occurrence ignored", {pos, u"1,2"_s, pos, u"3,4"_s}, true, 1, 2);
        row("value looking like an option", {pos, u"--debug"_s}, false);
        row("case sensitive", {u"--POS"_s, u"1,2"_s}, false);
        row("with equals sign", {u"--pos=1,2"_s}, false);
        row("trailing garbage", {pos, u"1x,2"_s}, false);
        row("zero and negative zero", {pos, u"0,-0"_s}, true, 0, 0);
    }
    void pair()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, present);
        QList<QByteArray> bytes;
        for (const QString &a : args)
            bytes.append(a.toUtf8());
        const auto pair = readPair(bytes, QByteArrayLiteral("--pos"));
        QCOMPARE(pair.has_value(), present);
        if (present) {
            QTEST(pair->first, "a");
            QTEST(pair->second, "b");
        }
    }

    void specialNumbers()
    {
        // strtod's infinity and not-a-number forms count as numbers.
        QVERIFY(std::isinf(*parseCNumber("inf")));
        QVERIFY(std::isinf(*parseCNumber("-INFINITY")));
        QVERIFY(std::isnan(*parseCNumber("nan")));
        QVERIFY(std::isnan(*parseCNumber("NAN(123)")));
        QVERIFY(!parseCNumber(" 1"));
        QVERIFY(!parseCNumber("1 "));
        QVERIFY(!parseCNumber(""));
        QVERIFY(!parseCNumber("1,5"));
    }

    void cLocaleWhateverTheUserLocale()
    {
        // A decimal-comma locale must not change how "1.5" reads.
        const char *old = setlocale(LC_NUMERIC, nullptr);
        const QByteArray saved = old ? QByteArray(old) : QByteArray("C");
        if (!setlocale(LC_NUMERIC, "de_DE.UTF-8") && !setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
            QSKIP("no decimal-comma locale installed");
        const auto v = parseCNumber("1.5");
        setlocale(LC_NUMERIC, saved.constData());
        QVERIFY(v);
        QCOMPARE(*v, 1.5);
    }

    void flags()
    {
        auto parse = [](std::initializer_list<const char *> list) {
            QList<QByteArray> args{"moxel-popup"};
            for (const char *a : list)
                args.append(a);
            return parseOptions(args);
        };
        const Options both = parse({"--size", "420,700", "--pos", "10,20", "--debug"});
        QCOMPARE(*both.fixedSize, QSizeF(420, 700));
        QCOMPARE(*both.fixedPos, QPointF(10, 20));
        QVERIFY(both.debugMode);
        QVERIFY(!both.selfTestSync);

        // Arguments are never consumed: a value that is an option still counts.
        const Options consumed = parse({"--pos", "--debug"});
        QVERIFY(consumed.debugMode);
        QVERIFY(!consumed.fixedPos);

        QVERIFY(!parse({"--DEBUG", "--debug=1"}).debugMode);
        QVERIFY(parse({"x", "--selftest-sync"}).selfTestSync);
        QVERIFY(!parse({"--size", "--size", "420,700"}).fixedSize);
        QVERIFY(!parse({"--size"}).fixedSize);

        // The program path is not an option.
        QVERIFY(!parseOptions({"--debug"}).debugMode);
    }
};

QTEST_APPLESS_MAIN(TestOptions)
#include "tst_options.moc"
