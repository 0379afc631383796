#include "servicerequest.h"
#include "synccontroller.h"
#include "testservice.h"
#include "translation.h"

#include <QDir>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <sys/fsuid.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace moxel;
using moxel::test::Reply;
using moxel::test::TestService;

namespace {

struct Outcome
{
    bool called = false;
    int calls = 0;
    std::optional<QString> text;
};

} // namespace

class TestTranslate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void address_data();
    void address();
    void headersAndBody_data();
    void headersAndBody();
    void answers_data();
    void answers();
    void serviceNotRunning();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void redirectToAnotherOriginNotFollowed();
    void redirectWithinOriginFollowed();
    void redirectLoopGivesUp();
    void cutOffMidBody();
    void environmentProxyIgnored();
    void cookiesNotKept();
    void oversizedAnswerDropped();
    void hostileAnswersEnd_data();
    void hostileAnswersEnd();

private:
    std::shared_ptr<Outcome> start(const QString &text = u"Olá"_s, const QString &to = u"zh"_s);
    bool finish(const std::shared_ptr<Outcome> &outcome);

    TestService m_service;
    TestService m_decoy;                    // an environment proxy and another origin
    std::unique_ptr<TestService> m_foreign; // another user's, where the test can make one
    QStringList m_lines;
};

void TestTranslate::initTestCase()
{
    QVERIFY(m_service.isListening());
    QVERIFY(m_decoy.isListening());
    // Proxies named by the environment, as behind a company proxy: the
    // session must still reach the service directly.
    const QByteArray decoy = m_decoy.baseUrl().toUtf8();
    qputenv("http_proxy", decoy);
    qputenv("HTTP_PROXY", decoy);
    qputenv("all_proxy", decoy);
    qunsetenv("no_proxy");
    qunsetenv("NO_PROXY");
    setHttpModuleFile(QStringLiteral(MOXEL_HTTP_MODULE));
    if (::geteuid() == 0) {
        // A socket belongs to the file-system uid of the thread that made it.
        ::setfsuid(65534);
        m_foreign = std::make_unique<TestService>();
        ::setfsuid(0);
    }
    setSyncLineSink([this](const QString &line) { m_lines << line; });
    SYNC().debug = true;
}

void TestTranslate::init()
{
    // Whatever the service does, the request prints no Qt warning.
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    m_lines.clear();
    SYNC().proxy = m_service.baseUrl();
    SYNC().token.clear();
    m_service.setReply(Reply::text(u"你好"_s));
    m_decoy.setReply(Reply::text(u"decoy"_s));
}

void TestTranslate::cleanupTestCase()
{
    setSyncLineSink(nullptr);
}

std::shared_ptr<Outcome> TestTranslate::start(const QString &text, const QString &to)
{
    auto outcome = std::make_shared<Outcome>();
    translate(text, to, [outcome](const std::optional<QString> &result) {
        outcome->called = true;
        ++outcome->calls;
        outcome->text = result;
    });
    return outcome;
}

bool TestTranslate::finish(const std::shared_ptr<Outcome> &outcome)
{
    if (outcome->called) // a request that was sent never answers before translate returns
        return false;
    return QTest::qWaitFor([&] { return outcome->called; }, 20000);
}

void TestTranslate::address_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("path");

    QTest::newRow("no final slash") << QString() << QByteArray("/translate");
    QTest::newRow("final slash") << u"/"_s << QByteArray("/translate");
    QTest::newRow("base path") << u"/api/v1"_s << QByteArray("/api/v1/translate");
    QTest::newRow("base path, final slash") << u"/api/v1/"_s << QByteArray("/api/v1/translate");
}

void TestTranslate::address()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, path);
    SYNC().proxy = m_service.baseUrl() + suffix;
    const auto outcome = start();
    QVERIFY(finish(outcome));
    QCOMPARE(m_service.requests().last().path, path);
    QCOMPARE(outcome->text, std::optional<QString>(u"你好"_s));
}

void TestTranslate::headersAndBody_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("token") << u"t0k-én"_s << u"Olá"_s << u"zh"_s
                           << QByteArray(R"({"text":"Olá","to":"zh"})");
    QTest::newRow("no token") << QString() << u"你好\n世界"_s << u"pt"_s
                              << QByteArray(R"({"text":"你好\n世界","to":"pt"})");
}

void TestTranslate::headersAndBody()
{
    QFETCH(QString, token);
    QFETCH(QString, text);
    QFETCH(QString, to);
    QFETCH(QByteArray, body);
    SYNC().token = token;
    QVERIFY(finish(start(text, to)));

    const auto request = m_service.requests().last();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.hasHeader("X-Token"), !token.isEmpty());
    if (!token.isEmpty())
        QCOMPARE(request.header("X-Token"), token.toUtf8());
    QCOMPARE(request.body, body);
    QVERIFY(!request.hasHeader("Cookie"));
}

void TestTranslate::answers_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("hasText");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    const QString noText = u"SYNC: 服务端返回无 text 字段 -> "_s;
    QTest::newRow("success") << Reply::text(u"你好"_s) << true << u"你好"_s << QStringList();
    QTest::newRow("status 500 with text")
        << Reply::text(u"好"_s, 500) << true << u"好"_s << QStringList();
    QTest::newRow("status 404 with text")
        << Reply::text(u"好"_s, 404) << true << u"好"_s << QStringList();
    QTest::newRow("empty text") << Reply::text(QString()) << true << QString() << QStringList();
    QTest::newRow("text is a number") << Reply::raw(R"({"text":5})") << false << QString()
                                      << QStringList{noText + uR"({"text":5})"_s};
    QTest::newRow("no text member") << Reply::raw(R"({"error":"x"})", 500) << false << QString()
                                    << QStringList{noText + uR"({"error":"x"})"_s};
    QTest::newRow("not JSON") << Reply::raw("Bad Gateway", 502) << false << QString()
                              << QStringList{u"SYNC: 返回体解析失败（11 字节）"_s};
    QTest::newRow("empty body") << Reply::raw({}, 200) << false << QString()
                                << QStringList{u"SYNC: 返回体解析失败（0 字节）"_s};
    QTest::newRow("status 401 with text")
        << Reply::text(u"好"_s, 401) << true << u"好"_s << QStringList();
    QTest::newRow("status 401 without text")
        << Reply::raw(R"({"error":"bad token"})", 401) << false << QString()
        << QStringList{noText + uR"({"error":"bad token"})"_s};
    const QByteArray truncated = R"({"text":"半)";
    QTest::newRow("truncated JSON")
        << Reply::raw(truncated) << false << QString()
        << QStringList{u"SYNC: 返回体解析失败（%1 字节）"_s.arg(truncated.size())};
    Reply slow = Reply::text(u"慢"_s);
    slow.trickleBytes = 3;
    slow.trickleIntervalMs = 20;
    QTest::newRow("body arrives in pieces") << slow << true << u"慢"_s << QStringList();
    Reply late = Reply::text(u"迟"_s);
    late.delayMs = 300;
    QTest::newRow("late answer") << late << true << u"迟"_s << QStringList();
    const QString most(MaxAnswerBytes - 11, u'a'); // with {"text":""}, the limit
    Reply atLimit = Reply::text(most);
    atLimit.chunked = true;
    QTest::newRow("chunked answer at the limit") << atLimit << true << most << QStringList();
    const QStringList tooLarge{u"SYNC: 返回体过大，已中止（超过 4194304 字节）"_s};
    QTest::newRow("endless chunked answer")
        << Reply::endless(true) << false << QString() << tooLarge;
    QTest::newRow("endless answer until close")
        << Reply::endless(false) << false << QString() << tooLarge;
}

void TestTranslate::answers()
{
    QFETCH(Reply, reply);
    QFETCH(bool, hasText);
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    m_service.setReply(reply);
    const auto outcome = start();
    QVERIFY(finish(outcome));
    // The popup takes no more than the limit, plus what the sockets buffer.
    QVERIFY(m_service.streamed() < MaxAnswerBytes + 2 * 1024 * 1024);
    QCOMPARE(outcome->text.has_value(), hasText);
    if (hasText)
        QCOMPARE(*outcome->text, text);
    QCOMPARE(m_lines, lines);
    QCOMPARE(outcome->calls, 1);
}

void TestTranslate::serviceNotRunning()
{
    quint16 port = 0;
    {
        TestService gone;
        port = gone.port();
    }
    SYNC().proxy = u"http://127.0.0.1:"_s + QString::number(port);
    const auto refused = start();
    QVERIFY(finish(refused));
    QCOMPARE(refused->text, std::nullopt);

    m_service.setReply(Reply::reset());
    SYNC().proxy = m_service.baseUrl();
    const auto reset = start();
    QVERIFY(finish(reset));
    QCOMPARE(reset->text, std::nullopt);

    QCOMPARE(m_lines.size(), 4);
    for (int i : {0, 2}) {
        QVERIFY2(m_lines[i].startsWith(u"SYNC: 请求出错 "_s), qPrintable(m_lines[i]));
        QVERIFY(m_lines[i].size() > u"SYNC: 请求出错 "_s.size());
        QCOMPARE(m_lines[i + 1], u"SYNC: 返回体解析失败（0 字节）"_s);
    }
}

void TestTranslate::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("module"); // the network module's file, if not the built one
    QTest::addColumn<QString>("line");   // the one "SYNC: " line, if any

    QTest::newRow("invalid address")
        << u"http://127.0.0.1 :1"_s << QString() << QString() << QString();
    QTest::newRow("line break in address")
        << u"http://127.0.0.1:1/\r\nHost: x"_s << QString() << QString() << QString();
    QTest::newRow("line break in token")
        << QString() << u"abc\r\nX-Admin: 1"_s << QString() << QString();
    const QString missing = QDir::temp().filePath(u"moxel-no-such-dir/moxel-http.so"_s);
    QTest::newRow("network module missing")
        << QString() << QString() << missing
        << u"SYNC: 请求出错 .*moxel-no-such-dir/moxel-http\\.so.*"_s;
    QTest::newRow("another user's port")
        << u"{foreign}"_s << u"secret"_s << QString()
        << u"SYNC: 请求出错 端口 \\d+ 属于另一个用户（uid 65534），未发送"_s;
}

void TestTranslate::refusedBeforeSending()
{
    QFETCH(QString, proxy);
    QFETCH(QString, token);
    QFETCH(QString, module);
    QFETCH(QString, line);
    if (proxy == u"{foreign}" && !m_foreign)
        QSKIP("only root can listen as another user");
    if (proxy == u"{foreign}")
        proxy = m_foreign->baseUrl();
    if (!proxy.isEmpty())
        SYNC().proxy = proxy;
    SYNC().token = token;
    if (!module.isEmpty())
        setHttpModuleFile(module);
    const qsizetype before = m_service.count();
    const auto outcome = start();
    setHttpModuleFile(QStringLiteral(MOXEL_HTTP_MODULE));
    QVERIFY(outcome->called); // at once, before translate returns
    QCOMPARE(outcome->calls, 1);
    QCOMPARE(outcome->text, std::nullopt);
    if (line.isEmpty()) {
        QVERIFY(m_lines.isEmpty());
    } else {
        QCOMPARE(m_lines.size(), 1);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(line))
                     .match(m_lines[0])
                     .hasMatch(),
                 qPrintable(m_lines[0]));
    }
    QCOMPARE(m_service.count(), before);
    SYNC().proxy = m_service.baseUrl();
    SYNC().token.clear();
    QVERIFY(finish(start()));
    QCOMPARE(m_service.count(), before + 1);
}

void TestTranslate::redirectToAnotherOriginNotFollowed()
{
    SYNC().token = u"secret"_s;
    m_service.setReply(Reply::redirect(QUrl(m_decoy.baseUrl() + u"/translate"_s)));
    const auto outcome = start();
    QVERIFY(finish(outcome));
    QCOMPARE(outcome->text, std::nullopt);
    QCOMPARE(m_decoy.count(), 0);
    QCOMPARE(m_lines.size(), 2);
    QVERIFY(m_lines[0].startsWith(u"SYNC: 请求出错 "_s));
    QCOMPARE(m_lines[1], u"SYNC: 返回体解析失败（0 字节）"_s);
}

void TestTranslate::redirectLoopGivesUp()
{
    m_service.setReply(Reply::redirect(QUrl(m_service.baseUrl() + u"/translate"_s)));
    const auto outcome = start();
    QVERIFY(finish(outcome));
    QCOMPARE(outcome->text, std::nullopt);
    QVERIFY(!m_lines.isEmpty());
    QVERIFY2(m_lines[0].startsWith(u"SYNC: 请求出错 "_s), qPrintable(m_lines[0]));
}

void TestTranslate::cutOffMidBody()
{
    // The answer promises more than it sends, then the connection closes.
    Reply cut = Reply::raw(R"({"text":"完整的译)");
    cut.headers.append({QByteArrayLiteral("Content-Length"), QByteArrayLiteral("200")});
    m_service.setReply(cut);
    const auto outcome = start();
    QVERIFY(finish(outcome));
    QCOMPARE(outcome->text, std::nullopt);
    QVERIFY(!m_lines.isEmpty());
}

void TestTranslate::redirectWithinOriginFollowed()
{
    SYNC().token = u"secret"_s;
    m_service.setHandler([this](const test::RecordedRequest &request) {
        if (request.path == "/translate")
            return Reply::redirect(QUrl(m_service.baseUrl() + u"/v2/translate"_s), 307);
        return Reply::text(request.json().value(u"text"_s).toString() + u"!"_s);
    });
    const qsizetype before = m_service.count();
    const auto outcome = start(u"oi"_s);
    QVERIFY(finish(outcome));
    QCOMPARE(outcome->text, std::optional<QString>(u"oi!"_s));
    QCOMPARE(m_service.count(), before + 2);
    const auto second = m_service.requests().last();
    QCOMPARE(second.path, QByteArray("/v2/translate"));
    QCOMPARE(second.method, QByteArray("POST"));
    QCOMPARE(second.header("X-Token"), QByteArray("secret"));
}

void TestTranslate::environmentProxyIgnored()
{
    const qsizetype before = m_service.count();
    QVERIFY(finish(start()));
    QCOMPARE(m_service.count(), before + 1);
    QCOMPARE(m_decoy.count(), 0);
}

void TestTranslate::cookiesNotKept()
{
    Reply withCookie = Reply::text(u"好"_s);
    withCookie.headers.append({QByteArray("Set-Cookie"), QByteArray("session=abc; Path=/")});
    m_service.setReply(withCookie);
    QVERIFY(finish(start()));
    QVERIFY(finish(start()));
    QVERIFY(!m_service.requests().last().hasHeader("Cookie"));
}

void TestTranslate::oversizedAnswerDropped()
{
    QByteArray huge = R"({"text":")";
    huge += QByteArray(MaxAnswerBytes, 'a');
    huge += R"("})";
    m_service.setReply(Reply::raw(huge));
    const auto outcome = start();
    QVERIFY(finish(outcome));
    QCOMPARE(outcome->text, std::nullopt);
    QCOMPARE(m_lines.size(), 1);
    QVERIFY2(m_lines[0].startsWith(u"SYNC: 返回体过大"_s), qPrintable(m_lines[0]));

    m_service.setReply(Reply::text(u"小"_s));
    const auto next = start();
    QVERIFY(finish(next));
    QCOMPARE(next->text, std::optional<QString>(u"小"_s));
}

void TestTranslate::hostileAnswersEnd_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QStringList>("lines");

    const QStringList failed{u"SYNC: 请求出错 "_s, u"SYNC: 返回体解析失败（0 字节）"_s};
    const QStringList tooLarge{u"SYNC: 返回体过大，已中止（超过 4194304 字节）"_s};
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    QTest::newRow("header line of 1 MiB")
        << Reply::wire(ok + "X-Pad: " + QByteArray(1 << 20, 'a') +
                       "\r\nContent-Length: 12\r\n\r\n{\"text\":\"x\"}")
        << failed;
    QTest::newRow("100,000 header lines")
        << Reply::wire(ok + QByteArray("X-Pad: a\r\n").repeated(100'000) + "\r\n{\"text\":\"x\"}")
        << failed;
    QTest::newRow("endless interim answers")
        << Reply::endless(Reply::Flood::InterimHeads) << failed;
    QTest::newRow("endless trailers") << Reply::endless(Reply::Flood::Trailers) << failed;
    QTest::newRow("endless chunk extension")
        << Reply::endless(Reply::Flood::ChunkExtension) << tooLarge;
    Reply trickle = Reply::text(QString(10'000, u'a'));
    trickle.trickleBytes = 1;
    trickle.trickleIntervalMs = 50;
    QTest::newRow("an answer that trickles past the deadline") << trickle << failed;
}

void TestTranslate::hostileAnswersEnd()
{
    // Whatever the service sends, the request ends as a failure, by the
    // deadline at the latest, having taken no more than its limits.
    QFETCH(Reply, reply);
    QFETCH(QStringList, lines);
    setRequestTimeouts(TransferTimeout, std::chrono::milliseconds(2000));
    const auto restore = qScopeGuard([] { setRequestTimeouts(TransferTimeout, RequestDeadline); });
    m_service.setReply(reply);
    const auto outcome = start();
    QVERIFY(finish(outcome));
    QCOMPARE(outcome->text, std::nullopt);
    QVERIFY(m_service.streamed() < MaxAnswerBytes + 2 * 1024 * 1024);
    QCOMPARE(m_lines.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        QVERIFY2(m_lines[i].startsWith(lines[i]), qPrintable(m_lines[i]));
}

QTEST_GUILESS_MAIN(TestTranslate)
#include "tst_servicerequest.moc"
