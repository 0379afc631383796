#include "payload.h"
#include "testjson.h"

#include <QJsonArray>
#include <QTest>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// The object {"v": <literal>}, or {} for an empty literal, through the same
// parser the input reader uses.
QJsonObject holding(const QByteArray &literal)
{
    return moxel::test::parse(literal.isEmpty() ? "{}" : "{\"v\": " + literal + "}");
}

} // namespace

class TestPayload final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsStrings_data();
    void readsStrings();
    void readsIntegers_data();
    void readsIntegers();
    void rejectsNonFiniteNumbers();
    void readsStringArrays_data();
    void readsStringArrays();
    void readsIntegerArrays_data();
    void readsIntegerArrays();
    void readsObjectArrays_data();
    void readsObjectArrays();
    void readsObjects_data();
    void readsObjects();
};

void TestPayload::readsStrings_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text") << QByteArray(R"("abc")") << u"abc"_s;
    QTest::newRow("spaces kept, not trimmed") << QByteArray(R"("  x ")") << u"  x "_s;
    QTest::newRow("empty") << QByteArray(R"("")") << QString();
    QTest::newRow("chinese") << QByteArray(R"("询价")") << u"询价"_s;
    QTest::newRow("escaped NUL kept") << QByteArray(R"("a\u0000b")") << u"a"_s + QChar(0) + u"b"_s;
    QTest::newRow("missing") << QByteArray() << QString();
    QTest::newRow("null") << QByteArray("null") << QString();
    QTest::newRow("number is not text") << QByteArray("3") << QString();
    QTest::newRow("boolean") << QByteArray("true") << QString();
    QTest::newRow("array of one string") << QByteArray(R"(["a"])") << QString();
    QTest::newRow("object") << QByteArray(R"({"a":"b"})") << QString();
}

void TestPayload::readsStrings()
{
    QFETCH(QByteArray, literal);
    QFETCH(QString, expected);
    const QString got = moxel::str(holding(literal), u"v");
    QCOMPARE(got, expected);
    QVERIFY(moxel::str(holding(literal), u"V").isEmpty()); // keys match exactly
}

void TestPayload::readsIntegers_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<bool>("present");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("5") << QByteArray("5") << true << qint64(5);
    QTest::newRow("5.0") << QByteArray("5.0") << true << qint64(5);
    QTest::newRow("1e2") << QByteArray("1e2") << true << qint64(100);
    QTest::newRow("zero") << QByteArray("0") << true << qint64(0);
    QTest::newRow("negative zero") << QByteArray("-0.0") << true << qint64(0);
    QTest::newRow("negative") << QByteArray("-5") << true << qint64(-5);
    QTest::newRow("largest 64-bit")
        << QByteArray("9223372036854775807") << true << std::numeric_limits<qint64>::max();
    QTest::newRow("smallest 64-bit")
        << QByteArray("-9223372036854775808") << true << std::numeric_limits<qint64>::min();
    QTest::newRow("2^63") << QByteArray("9223372036854775808") << false << qint64(0);
    QTest::newRow("2^63 as double") << QByteArray("9.223372036854775808e18") << false << qint64(0);
    QTest::newRow("1e300") << QByteArray("1e300") << false << qint64(0);
    QTest::newRow("12.5") << QByteArray("12.5") << false << qint64(0);
    QTest::newRow("0.5") << QByteArray("5e-1") << false << qint64(0);
    QTest::newRow("text of a number") << QByteArray(R"("12")") << false << qint64(0);
    QTest::newRow("true") << QByteArray("true") << false << qint64(0);
    QTest::newRow("false") << QByteArray("false") << false << qint64(0);
    QTest::newRow("null") << QByteArray("null") << false << qint64(0);
    QTest::newRow("array") << QByteArray("[5]") << false << qint64(0);
    QTest::newRow("missing") << QByteArray() << false << qint64(0);
}

void TestPayload::readsIntegers()
{
    QFETCH(QByteArray, literal);
    QFETCH(bool, present);
    QFETCH(qint64, expected);
    const std::optional<qint64> got = moxel::integer(holding(literal), u"v");
    QCOMPARE(got.has_value(), present);
    if (present)
        QCOMPARE(*got, expected);
}

void TestPayload::rejectsNonFiniteNumbers()
{
    // Whatever the parser makes of 1e400, infinities and NaN are never integers.
    for (const double d :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN()}) {
        QVERIFY(!moxel::integerValue(QJsonValue(d)).has_value());
        QVERIFY(moxel::intList(QJsonObject{{u"v"_s, QJsonArray{1, d}}}, u"v").isEmpty());
    }
    const QJsonObject huge = moxel::test::objectOf("{\"v\": 1e400}");
    QVERIFY(!moxel::integer(huge, u"v").has_value());
}

void TestPayload::readsStringArrays_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("in order") << QByteArray(R"(["b","a"])") << QStringList{u"b"_s, u"a"_s};
    QTest::newRow("empty strings kept") << QByteArray(R"(["",""])") << QStringList{{}, {}};
    QTest::newRow("empty") << QByteArray("[]") << QStringList();
    QTest::newRow("one null empties it") << QByteArray(R"(["a",null])") << QStringList();
    QTest::newRow("one number empties it") << QByteArray(R"([1,"a"])") << QStringList();
    QTest::newRow("one object empties it") << QByteArray(R"(["a",{}])") << QStringList();
    QTest::newRow("nested array") << QByteArray(R"([["a"]])") << QStringList();
    QTest::newRow("a string is not a list") << QByteArray(R"("a")") << QStringList();
    QTest::newRow("missing") << QByteArray() << QStringList();
}

void TestPayload::readsStringArrays()
{
    QFETCH(QByteArray, literal);
    QFETCH(QStringList, expected);
    QCOMPARE(moxel::list(holding(literal), u"v"), expected);
}

void TestPayload::readsIntegerArrays_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<QList<qint64>>("expected");
    QTest::newRow("whole numbers")
        << QByteArray("[500, 1000.0, -3]") << QList<qint64>{500, 1000, -3};
    QTest::newRow("one text empties it") << QByteArray(R"([3,"4"])") << QList<qint64>();
    QTest::newRow("one fraction empties it") << QByteArray("[1.5]") << QList<qint64>();
    QTest::newRow("boolean") << QByteArray("[1,true]") << QList<qint64>();
    QTest::newRow("too large") << QByteArray("[1,9223372036854775808]") << QList<qint64>();
    QTest::newRow("empty") << QByteArray("[]") << QList<qint64>();
    QTest::newRow("a number is not a list") << QByteArray("5") << QList<qint64>();
}

void TestPayload::readsIntegerArrays()
{
    QFETCH(QByteArray, literal);
    QFETCH(QList<qint64>, expected);
    QCOMPARE(moxel::intList(holding(literal), u"v"), expected);
}

void TestPayload::readsObjectArrays_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<int>("count");
    QTest::newRow("objects") << QByteArray(R"([{}, {"a": 1}])") << 2;
    QTest::newRow("one number empties it") << QByteArray("[{}, 1]") << 0;
    QTest::newRow("one null empties it") << QByteArray("[null, {}]") << 0;
    QTest::newRow("empty") << QByteArray("[]") << 0;
    QTest::newRow("an object is not a list") << QByteArray("{}") << 0;
}

void TestPayload::readsObjectArrays()
{
    QFETCH(QByteArray, literal);
    QFETCH(int, count);
    QCOMPARE(moxel::objectList(holding(literal), u"v").size(), count);
}

void TestPayload::readsObjects_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("object") << QByteArray(R"({"轮次": 3, "x": null})")
                            << QStringList{u"x"_s, u"轮次"_s};
    QTest::newRow("empty object") << QByteArray("{}") << QStringList();
    QTest::newRow("string") << QByteArray(R"("x")") << QStringList();
    QTest::newRow("array of objects") << QByteArray("[{}]") << QStringList();
    QTest::newRow("null") << QByteArray("null") << QStringList();
    QTest::newRow("missing") << QByteArray() << QStringList();
}

void TestPayload::readsObjects()
{
    QFETCH(QByteArray, literal);
    QFETCH(QStringList, keys);
    QCOMPARE(moxel::object(holding(literal), u"v").keys(), keys);
}

QTEST_APPLESS_MAIN(TestPayload)
#include "tst_payload.moc"
