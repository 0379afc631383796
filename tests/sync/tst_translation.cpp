#include "portowner.h"
#include "testjson.h"
#include "translation.h"

#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace moxel;

class TestTranslation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void url_data();
    void url();
    void token_data();
    void token();
    void body_data();
    void body();
    void answer_data();
    void answer();
    void quotesAtMost160Characters();
    void listenerOwners_data();
    void listenerOwners();
};

void TestTranslation::url_data()
{
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("expected"); // empty: no request

    QTest::newRow("no final slash")
        << u"http://127.0.0.1:8787"_s << u"http://127.0.0.1:8787/translate"_s;
    QTest::newRow("final slash") << u"http://127.0.0.1:8787/"_s
                                 << u"http://127.0.0.1:8787/translate"_s;
    QTest::newRow("base path") << u"http://host/api"_s << u"http://host/api/translate"_s;
    QTest::newRow("base path slash") << u"http://host/api/"_s << u"http://host/api/translate"_s;
    QTest::newRow("two final slashes kept") << u"http://host//"_s << u"http://host//translate"_s;
    QTest::newRow("https") << u"https://example.org"_s << u"https://example.org/translate"_s;
    QTest::newRow("space in host") << u"http://a b"_s << QString();
    QTest::newRow("bad port") << u"http://host:99999999"_s << QString();
    QTest::newRow("line feed") << u"http://host\n"_s << QString();
    QTest::newRow("CR LF inside") << u"http://host/\r\nX-Evil: 1"_s << QString();
    QTest::newRow("tab") << u"http://ho\tst"_s << QString();
    QTest::newRow("NUL") << u"http://host"_s + QChar(0) << QString();
    QTest::newRow("DEL") << u"http://host\x7f"_s << QString();
    QTest::newRow("C1 control") << u"http://host\u0085"_s << QString();
}

void TestTranslation::url()
{
    QFETCH(QString, proxy);
    QFETCH(QString, expected);
    const std::optional<QUrl> url = translateUrl(proxy);
    if (expected.isEmpty()) {
        QVERIFY2(!url, qPrintable(url ? url->toString() : QString()));
        return;
    }
    QVERIFY(url);
    QCOMPARE(url->toString(QUrl::FullyEncoded), expected);
}

void TestTranslation::token_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("usable");

    QTest::newRow("empty") << QString() << true;
    QTest::newRow("plain") << u"s3cr3t-Token_1"_s << true;
    QTest::newRow("spaces inside") << u"Bearer abc"_s << true;
    QTest::newRow("non-ASCII") << u"令牌"_s << true;
    QTest::newRow("CR LF header injection") << u"abc\r\nX-Other: 1"_s << false;
    QTest::newRow("line feed") << u"abc\n"_s << false;
    QTest::newRow("NUL") << u"abc"_s + QChar(0) << false;
    QTest::newRow("tab") << u"a\tb"_s << false;
}

void TestTranslation::token()
{
    QFETCH(QString, token);
    QFETCH(bool, usable);
    QCOMPARE(tokenUsable(token), usable);
}

void TestTranslation::body_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("ascii") << u"Hello"_s << u"zh"_s << QByteArray(R"({"text":"Hello","to":"zh"})");
    QTest::newRow("UTF-8 unescaped")
        << u"Olá, preço"_s << u"pt"_s << QByteArray(R"({"text":"Olá, preço","to":"pt"})");
    QTest::newRow("Chinese") << u"你好"_s << u"es"_s << QByteArray(R"({"text":"你好","to":"es"})");
    QTest::newRow("quotes and backslash")
        << u"say \"hi\" \\ bye"_s << u"zh"_s
        << QByteArray(R"({"text":"say \"hi\" \\ bye","to":"zh"})");
    QTest::newRow("line break") << u"a\nb"_s << u"zh"_s
                                << QByteArray(R"({"text":"a\nb","to":"zh"})");
    QTest::newRow("emoji") << u"ok 👍🏽"_s << u"zh"_s
                           << QByteArray(R"({"text":"ok 👍🏽","to":"zh"})");
}

void TestTranslation::body()
{
    QFETCH(QString, text);
    QFETCH(QString, to);
    QFETCH(QByteArray, expected);
    const QByteArray body = requestBody(text, to);
    QCOMPARE(body, expected);
    const QJsonObject back = moxel::test::objectOf(body);
    QCOMPARE(back.size(), 2);
    QCOMPARE(back.value(u"text"_s).toString(), text);
}

void TestTranslation::answer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("hasText");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    const QString noText = u"SYNC: 服务端返回无 text 字段 -> "_s;
    QTest::newRow("text") << QByteArray(R"({"text":"你好"})") << true << u"你好"_s << QStringList();
    QTest::newRow("other members ignored")
        << QByteArray(R"({"from":"pt","text":"好","n":1})") << true << u"好"_s << QStringList();
    QTest::newRow("not trimmed") << QByteArray(R"({"text":"  好 \n"})") << true << u"  好 \n"_s
                                 << QStringList();
    QTest::newRow("empty string") << QByteArray(R"({"text":""})") << true << QString()
                                  << QStringList();
    QTest::newRow("surrounding white space")
        << QByteArray(" \n{\"text\":\"x\"}\n ") << true << u"x"_s << QStringList();
    QTest::newRow("empty body") << QByteArray() << false << QString()
                                << QStringList{u"SYNC: 返回体解析失败（0 字节）"_s};
    QTest::newRow("not JSON") << QByteArray("<html>oops</html>") << false << QString()
                              << QStringList{u"SYNC: 返回体解析失败（17 字节）"_s};
    QTest::newRow("bytes, not characters") << QByteArray("错误") << false << QString()
                                           << QStringList{u"SYNC: 返回体解析失败（6 字节）"_s};
    QTest::newRow("top-level array") << QByteArray(R"([{"text":"x"}])") << false << QString()
                                     << QStringList{u"SYNC: 返回体解析失败（14 字节）"_s};
    QTest::newRow("top-level string") << QByteArray(R"("x")") << false << QString()
                                      << QStringList{u"SYNC: 返回体解析失败（3 字节）"_s};
    QTest::newRow("garbage after object") << QByteArray(R"({"text":"x"}x)") << false << QString()
                                          << QStringList{u"SYNC: 返回体解析失败（13 字节）"_s};
    QTest::newRow("truncated") << QByteArray(R"({"text":"x")") << false << QString()
                               << QStringList{u"SYNC: 返回体解析失败（11 字节）"_s};
    QTest::newRow("text is a number") << QByteArray(R"({"text":5})") << false << QString()
                                      << QStringList{noText + uR"({"text":5})"_s};
    QTest::newRow("text is null") << QByteArray(R"({"text":null})") << false << QString()
                                  << QStringList{noText + uR"({"text":null})"_s};
    QTest::newRow("text is an object") << QByteArray(R"({"text":{"a":"b"}})") << false << QString()
                                       << QStringList{noText + uR"({"text":{"a":"b"}})"_s};
    QTest::newRow("no text") << QByteArray(R"({"error":"配额"})") << false << QString()
                             << QStringList{noText + uR"({"error":"配额"})"_s};
    QTest::newRow("name differs in case") << QByteArray(R"({"Text":"x"})") << false << QString()
                                          << QStringList{noText + uR"({"Text":"x"})"_s};
}

void TestTranslation::answer()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, hasText);
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    const Answer answer = readAnswer(body);
    QCOMPARE(answer.text.has_value(), hasText);
    if (hasText)
        QCOMPARE(*answer.text, text);
    QCOMPARE(answer.debugLines, lines);
}

void TestTranslation::quotesAtMost160Characters()
{
    // 300 characters, 20 of them ideographs of 3 bytes each: the cut counts
    // characters, not bytes or UTF-16 units.
    QString filler;
    for (int i = 0; filler.size() < 280; ++i)
        filler += QChar(u'a' + i % 26);
    const QString member = u"{\"note\":\""_s + u"字"_s.repeated(20) + filler;
    const QString body = member.left(298) + u"\"}"_s;
    QCOMPARE(body.size(), 300);
    const Answer answer = readAnswer(body.toUtf8());
    QVERIFY(!answer.text);
    QCOMPARE(answer.debugLines,
             QStringList{u"SYNC: 服务端返回无 text 字段 -> "_s + body.left(160)});

    // An emoji with a skin tone is one character of four UTF-16 units.
    const QString emoji = u"👍🏽"_s;
    const QString padded = u"{\"x\":\""_s + emoji.repeated(200) + u"\"}"_s;
    const Answer cut = readAnswer(padded.toUtf8());
    QCOMPARE(cut.debugLines.value(0),
             u"SYNC: 服务端返回无 text 字段 -> "_s + u"{\"x\":\""_s + emoji.repeated(154));
}

void TestTranslation::listenerOwners_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("tcp");
    QTest::addColumn<QByteArray>("tcp6");
    QTest::addColumn<QList<uint>>("owners");

    // Rows as x86 Linux prints them, for port 8765 (223D) unless said otherwise.
    const auto rows = [](std::initializer_list<std::tuple<const char *, const char *, uint>> list) {
        QByteArray text = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when "
                          "retrnsmt   uid  timeout inode\n";
        for (const auto &[local, state, uid] : list)
            text += "   0: "_ba + local + " 00000000:0000 " + state +
                    " 00000000:00000000 00:00000000 00000000  " + QByteArray::number(uid) +
                    "        0 4242 1 0000000000000000 100 0 0 10 0\n";
        return text;
    };
    const QByteArray own = rows({{"0100007F:223D", "0A", 1000}});
    const QByteArray v6Loopback = "00000000000000000000000001000000:223D";
    QTest::newRow("127.0.0.1") << u"127.0.0.1"_s << own << QByteArray() << QList<uint>{1000};
    QTest::newRow("a connection, not a listener")
        << u"127.0.0.1"_s << rows({{"0100007F:223D", "01", 1001}}) << QByteArray() << QList<uint>();
    QTest::newRow("another loopback address")
        << u"127.0.0.2"_s << own << QByteArray() << QList<uint>();
    QTest::newRow("127.0.0.0/8") << u"127.1.2.3"_s << rows({{"0302017F:223D", "0A", 1001}})
                                 << QByteArray() << QList<uint>{1001};
    QTest::newRow("every IPv4 address") << u"127.0.0.1"_s << rows({{"00000000:223D", "0A", 1001}})
                                        << QByteArray() << QList<uint>{1001};
    QTest::newRow("its own address first")
        << u"127.0.0.1"_s << rows({{"00000000:223D", "0A", 1001}, {"0100007F:223D", "0A", 1000}})
        << rows({{"00000000000000000000000000000000:223D", "0A", 1002}}) << QList<uint>{1000};
    QTest::newRow("every IPv6 address takes IPv4")
        << u"127.0.0.1"_s << QByteArray()
        << rows({{"00000000000000000000000000000000:223D", "0A", 1001}}) << QList<uint>{1001};
    QTest::newRow("::1") << u"::1"_s << own << rows({{v6Loopback, "0A", 1001}})
                         << QList<uint>{1001};
    QTest::newRow("localhost is both")
        << u"LocalHost"_s << own << rows({{v6Loopback, "0A", 1001}}) << QList<uint>{1000, 1001};
    QTest::newRow("IPv4-mapped") << u"127.0.0.1"_s << QByteArray()
                                 << rows({{"0000000000000000FFFF00000100007F:223D", "0A", 1001}})
                                 << QList<uint>{1001};
    QTest::newRow("not loopback") << u"192.168.1.5"_s << rows({{"00000000:223D", "0A", 1001}})
                                  << QByteArray() << QList<uint>();
}

void TestTranslation::listenerOwners()
{
    QFETCH(QString, host);
    QFETCH(QByteArray, tcp);
    QFETCH(QByteArray, tcp6);
    QFETCH(QList<uint>, owners);
    QCOMPARE(loopbackListeners(host, 8765, tcp, tcp6), owners);
}

QTEST_APPLESS_MAIN(TestTranslation)
#include "tst_translation.moc"
