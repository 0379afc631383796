#include "lines.h"
#include "payload.h"

#include <QTest>

#include <clocale>
#include <thread>
#include <unistd.h>

using namespace moxel;
using namespace Qt::StringLiterals;

namespace {

// Feeds `input` through a pipe, as standard input would arrive, and collects
// what the reader makes of it.
QList<QPair<LineReader::Result, QByteArray>> readAll(const QByteArray &input, qsizetype cap)
{
    int fds[2];
    if (pipe(fds) != 0)
        qFatal("pipe");
    std::thread writer([&] {
        qsizetype off = 0;
        while (off < input.size()) {
            const ssize_t n = ::write(fds[1], input.constData() + off, size_t(input.size() - off));
            if (n <= 0)
                break;
            off += n;
        }
        ::close(fds[1]);
    });
    LineReader reader(fds[0], cap);
    QList<QPair<LineReader::Result, QByteArray>> out;
    QByteArray line;
    for (;;) {
        const auto r = reader.next(&line);
        if (r == LineReader::Result::End)
            break;
        out.append({r, line});
    }
    writer.join();
    ::close(fds[0]);
    return out;
}

} // namespace

class TestLines : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splitsLines()
    {
        const auto lines = readAll("a\r\nb\n\nlast", 1024);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(decodeLine(lines[0].second), u"a"_s);
        QCOMPARE(decodeLine(lines[1].second), u"b"_s);
        QCOMPARE(decodeLine(lines[2].second), QString());
        QCOMPARE(decodeLine(lines[3].second), u"last"_s); // no final line feed
    }

    void overlongLineIsRefusedWhole()
    {
        // The tail of a refused line must never come back as a line of its own.
        const QByteArray longLine = QByteArray(5000, 'x') + "{\"a\":1}";
        const QByteArray atCap(1000, 'y');
        const auto lines = readAll(
            "{}\n" + longLine + "\n{\"b\":2}\n" + atCap + "\n" + atCap + "z\n" + longLine, 1000);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0].first, LineReader::Result::Line);
        QCOMPARE(lines[1].first, LineReader::Result::TooLong);
        QCOMPARE(lines[2].second, QByteArray("{\"b\":2}\n"));
        // The cap counts the line without its line feed.
        QCOMPARE(lines[3].second, atCap + "\n");
        QCOMPARE(lines[4].first, LineReader::Result::TooLong);
        QCOMPARE(lines[5].first, LineReader::Result::TooLong);
    }

    void manyLinesInOneWrite()
    {
        QByteArray input;
        for (int i = 0; i < 10000; ++i)
            input += "{\"n\":" + QByteArray::number(i) + "}\n";
        const auto lines = readAll(input, LineCap);
        QCOMPARE(lines.size(), 10000);
        QCOMPARE(*integer(*parseLaterLine(lines.last().second), u"n"), 9999);
    }

    void decoding()
    {
        QCOMPARE(decodeLine("a\xff"
                            "b\n"),
                 u"a\uFFFDb"_s);
        QCOMPARE(decodeLine("a\r\r\n"), u"a\r"_s); // only one CR LF is a line ending
        QCOMPARE(decodeLine(QByteArray("a\0b", 3)), QString(u"a\0b"_s));
    }

    void strictJson_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty object") << QByteArray("{}") << true;
        QTest::newRow("spaces around") << QByteArray(" \t{} ") << true;
        QTest::newRow("array") << QByteArray("[1,2]") << true;
        QTest::newRow("nested") << QByteArray("{\"a\":[{\"b\":null,\"c\":true,\"d\":-1.5e+3}]}")
                                << true;
        QTest::newRow("escapes") << QByteArray("{\"a\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\"}")
                                 << true;
        QTest::newRow("lone surrogate escape") << QByteArray("{\"a\":\"\\ud800\"}") << true;
        QTest::newRow("bare number") << QByteArray("42") << false;
        QTest::newRow("bare string") << QByteArray("\"x\"") << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("second object") << QByteArray("{}{}") << false;
        QTest::newRow("trailing text") << QByteArray("{} x") << false;
        QTest::newRow("leading dot") << QByteArray("[.5]") << false;
        QTest::newRow("trailing dot") << QByteArray("[1.]") << false;
        QTest::newRow("leading zero") << QByteArray("[01]") << false;
        QTest::newRow("plus sign") << QByteArray("[+1]") << false;
        QTest::newRow("unknown escape") << QByteArray("[\"\\x\"]") << false;
        QTest::newRow("short unicode escape") << QByteArray("[\"\\u12\"]") << false;
        QTest::newRow("raw tab in string") << QByteArray("[\"a\tb\"]") << false;
        QTest::newRow("raw NUL in string") << QByteArray("[\"a\0b\"]", 7) << false;
        QTest::newRow("trailing comma") << QByteArray("[1,]") << false;
        QTest::newRow("object trailing comma") << QByteArray("{\"a\":1,}") << false;
        QTest::newRow("missing colon") << QByteArray("{\"a\" 1}") << false;
        QTest::newRow("unquoted key") << QByteArray("{a:1}") << false;
        QTest::newRow("single quotes") << QByteArray("{'a':1}") << false;
        QTest::newRow("NaN") << QByteArray("[NaN]") << false;
        QTest::newRow("unclosed") << QByteArray("{\"a\":[1}") << false;
        QTest::newRow("unterminated string") << QByteArray("[\"abc]") << false;
        QTest::newRow("comment") << QByteArray("{}//") << false;
        QTest::newRow("deep nesting") << QByteArray(200000, '[') << false;
    }
    void strictJson()
    {
        QFETCH(QByteArray, text);
        QTEST(isStrictJson(text), "valid");
    }

    void firstLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("object") << QByteArray("{\"intent\":\"x\"}\n") << true;
        QTest::newRow("CRLF") << QByteArray("{}\r\n") << true;
        QTest::newRow("spaces around") << QByteArray("  {}  \n") << true;
        QTest::newRow("array") << QByteArray("[]\n") << false;
        QTest::newRow("number") << QByteArray("42\n") << false;
        QTest::newRow("string") << QByteArray("\"x\"\n") << false;
        QTest::newRow("empty line") << QByteArray("\n") << false;
        QTest::newRow("two objects") << QByteArray("{} {}\n") << false;
        // The first line is not trimmed: a non-breaking space is not JSON white space.
        QTest::newRow("nbsp before") << QByteArray("\xc2\xa0{}\n") << false;
        QTest::newRow("invalid UTF-8 in string") << QByteArray("{\"a\":\"\xff\"}\n") << true;
        QTest::newRow("deep nesting") << QByteArray(200000, '[') + "\n" << false;
    }
    void firstLine()
    {
        QFETCH(QByteArray, line);
        QTEST(parseFirstLine(line).has_value(), "accepted");
    }

    void laterLines()
    {
        QVERIFY(parseLaterLine("  {\"a\":1}  \n"));
        QVERIFY(parseLaterLine("\xc2\xa0{}\xe3\x80\x80\n")); // Unicode white space is trimmed
        QVERIFY(!parseLaterLine(" \t \n"));
        QVERIFY(!parseLaterLine("\r\n"));
        QVERIFY(!parseLaterLine("[1,2]\n"));
        QVERIFY(!parseLaterLine("7\n"));
        QVERIFY(!parseLaterLine("{\"a\":\n"));
        QCOMPARE(str(*parseLaterLine("{\"a\":\"\xff\"}"), u"a"), u"\uFFFD"_s);
    }

    void hugeNumbersReadAsAbsent()
    {
        // Qt refuses a whole document over one number beyond a double; the
        // payload must still be shown, with that value absent.
        const auto p = parseObject("{\"chars\":1e400,\"intent\":\"x\",\"big\":-123e99999}");
        QVERIFY(p);
        QCOMPARE(str(*p, u"intent"), u"x"_s);
        QVERIFY(!integer(*p, u"chars"));
        QVERIFY(!integer(*p, u"big"));
        QVERIFY(parseObject("{\"tiny\":1e-400}"));

        // The same where the user's locale writes a decimal comma.
        const QByteArray saved = setlocale(LC_NUMERIC, nullptr);
        if (!setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            QSKIP("no decimal-comma locale installed");
        const bool huge = parseObject("{\"x\":1.5e400}").has_value();
        const bool tiny = parseObject("{\"x\":1.5e-400}").has_value();
        setlocale(LC_NUMERIC, saved.constData());
        QVERIFY(huge);
        QVERIFY(tiny);
    }
};

QTEST_APPLESS_MAIN(TestLines)
#include "tst_lines.moc"
