#include "http.h"
#include "httpclient.h"
#include "libretranslate.h"
#include "openai.h"
#include "service.h"
#include "testjson.h"
#include "testservice.h"

#include <QFile>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace moxel::xlate;
using namespace moxel::test;

namespace {

const QByteArray LANGUAGES =
    R"json([{"code":"en","name":"English","targets":["pt","zh-Hans"]},
        {"code":"pt","name":"Portuguese","targets":["en","zh-Hans"]},
        {"code":"zh-Hans","name":"Chinese (Simplified)","targets":["en","pt"]},
        {"code":"zh-Hant","name":"Chinese (Traditional)","targets":["en"]}])json"_ba;

// The deadline by which a hang is noticed, and the one for exchanges that
// must not end in one: TLS handshakes under sanitizers on a loaded machine.
constexpr std::chrono::milliseconds Short = 1500ms;
constexpr std::chrono::milliseconds Ample = 30s;

// The service in front of one backend.
struct Front
{
    explicit Front(std::unique_ptr<Backend> chosen, std::chrono::milliseconds timeout = Short)
        : backend(std::move(chosen))
    {
        ServiceSettings settings;
        settings.timeout = timeout;
        service = std::make_unique<TranslateService>(backend.get(), settings);
        server.setHandler([this](HttpExchange *exchange) { service->handle(exchange); });
        server.listen(QHostAddress::LocalHost, 0);
    }
    Response translate(const QString &text, const QString &to)
    {
        return post(QUrl(u"http://127.0.0.1:%1/translate"_s.arg(server.port())),
                    compact({{u"text"_s, text}, {u"to"_s, to}}));
    }

    std::unique_ptr<Backend> backend;
    std::unique_ptr<TranslateService> service;
    HttpServer server;
};

// What an endless upstream answer may get through: the service's limit, and
// what the kernel may buffer between the two sockets while the service is
// slow to read (the largest buffers TCP may grow to).
qint64 mostStreamed()
{
    qint64 buffers = 0;
    for (const char *file : {"/proc/sys/net/ipv4/tcp_rmem", "/proc/sys/net/ipv4/tcp_wmem"}) {
        QFile sizes(QString::fromLatin1(file));
        const QList<QByteArray> fields = sizes.open(QIODevice::ReadOnly)
                                             ? sizes.readAll().simplified().split(' ')
                                             : QList<QByteArray>();
        buffers += fields.size() == 3 ? fields[2].toLongLong() : 32 * 1024 * 1024;
    }
    return 1024 * 1024 + buffers;
}

UpstreamSettings settingsFor(const QUrl &base, const QByteArray &secret,
                             std::chrono::milliseconds timeout = Short)
{
    UpstreamSettings settings;
    settings.base = base;
    settings.secret = secret;
    settings.timeout = timeout;
    settings.maxAnswer = 1024 * 1024;
    return settings;
}

// `unreadable` is what the backend says of a 2xx answer it cannot read.
void addFailureRows(const QByteArray &errorBody, const QString &errorText,
                    const QString &unreadable)
{
    QTest::newRow("error body, 4xx") << Reply::raw(errorBody, 400) << 502 << errorText;
    QTest::newRow("error body, 5xx") << Reply::raw(errorBody, 503) << 502 << errorText;
    QTest::newRow("HTML error page")
        << Reply::raw("<html>oops</html>", 500) << 502 << u"HTTP 500"_s;
    QTest::newRow("malformed JSON") << Reply::raw("{\"translatedText\": \"x") << 502 << unreadable;
    QTest::newRow("JSON array") << Reply::raw("[\"x\"]") << 502 << unreadable;
    QTest::newRow("hang past the timeout") << Reply::never() << 504 << u"within"_s;
    QTest::newRow("10 MB answer") << Reply::raw(QByteArray(10 * 1024 * 1024, 'x')) << 502
                                  << u"larger"_s;
    Reply unannounced = Reply::raw(QByteArray(10 * 1024 * 1024, ' '));
    unannounced.untilClose = true;
    QTest::newRow("10 MB answer without length") << unannounced << 502 << u"larger"_s;
    QTest::newRow("endless chunked answer") << Reply::endless(true) << 502 << u"larger"_s;
    QTest::newRow("endless answer until close") << Reply::endless(false) << 502 << u"larger"_s;
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    QTest::newRow("header line of 1 MiB") << Reply::wire(ok + "X-Pad: " + QByteArray(1 << 20, 'a') +
                                                         "\r\nContent-Length: 2\r\n\r\n{}")
                                          << 502 << u"upstream failed"_s;
    QTest::newRow("100,000 header lines")
        << Reply::wire(ok + QByteArray("X-Pad: a\r\n").repeated(100'000) + "\r\n{}") << 502
        << u"upstream failed"_s;
    QTest::newRow("endless interim answers")
        << Reply::endless(Reply::Flood::InterimHeads) << 502 << u"upstream failed"_s;
    QTest::newRow("endless trailers")
        << Reply::endless(Reply::Flood::Trailers) << 502 << u"upstream failed"_s;
    QTest::newRow("endless chunk extension")
        << Reply::endless(Reply::Flood::ChunkExtension) << 502 << u"larger"_s;
    QTest::newRow("not HTTP") << Reply::wire("SSH-2.0-OpenSSH\r\n\r\n") << 502
                              << u"upstream failed"_s;
    QTest::newRow("closed mid-answer")
        << Reply::wire("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"translatedText\":") << 502
        << u"upstream failed"_s;
}

void verifyOutcome(const Response &response, int status, const QString &expected)
{
    QCOMPARE(response.status, status);
    if (status == 200) {
        QCOMPARE(response.json(), QJsonObject({{u"text"_s, expected}}));
        return;
    }
    const QString error = response.json().value(u"error"_s).toString();
    QVERIFY2(!error.isEmpty(), response.body.constData());
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY(!response.json().contains(u"text"_s));
}

} // namespace

class TestTranslateBackends : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void libreAnswers_data();
    void libreAnswers();
    void libreRequest();
    void libreLanguagesUnavailable();
    void libreCodes_data();
    void libreCodes();
    void openaiAnswers_data();
    void openaiAnswers();
    void openaiRequest_data();
    void openaiRequest();
    void keyStaysWithItsOrigin_data();
    void keyStaysWithItsOrigin();
    void answerCap_data();
    void answerCap();
    void unreachable_data();
    void unreachable();
    void upstreamNetwork_data();
    void upstreamNetwork();
    void connectionsReused();
};

void TestTranslateBackends::libreAnswers_data()
{
    QTest::addColumn<Reply>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");

    QTest::newRow("translated") << Reply::raw(
                                       R"({"translatedText":"你好\n再见","detectedLanguage":{}})")
                                << 200 << u"你好\n再见"_s;
    QTest::newRow("translatedText not a string")
        << Reply::raw(R"({"translatedText":["你好"]})") << 502 << u"translatedText"_s;
    QTest::newRow("text instead of translatedText")
        << Reply::raw(R"({"text":"你好"})") << 502 << u"translatedText"_s;
    QTest::newRow("translatedText with an error status")
        << Reply::raw(R"({"translatedText":"你好"})", 500) << 502 << u"HTTP 500"_s;
    addFailureRows(R"({"error":"zh is not supported"})", u"zh is not supported"_s,
                   u"answer without a \"translatedText\" string"_s);
}

void TestTranslateBackends::libreAnswers()
{
    QFETCH(Reply, answer);
    QFETCH(int, status);
    QFETCH(QString, expected);

    moxel::net::HttpClient network({});
    TestService upstream;
    upstream.setHandler([&](const RecordedRequest &request) {
        return request.path == "/languages" ? Reply::raw(LANGUAGES) : answer;
    });
    Front front(std::make_unique<LibreTranslateBackend>(settingsFor(upstream.url(), {}), &network));
    verifyOutcome(front.translate(u"Olá\ntchau"_s, u"zh"_s), status, expected);
    QVERIFY(upstream.streamed() < mostStreamed());
}

void TestTranslateBackends::libreRequest()
{
    moxel::net::HttpClient network({});
    TestService upstream;
    upstream.setHandler([](const RecordedRequest &request) {
        return request.path.endsWith("/languages") ? Reply::raw(LANGUAGES)
                                                   : Reply::raw(R"({"translatedText":"ok"})");
    });
    QUrl base = upstream.url();
    base.setPath(u"/lt/"_s);
    Front front(std::make_unique<LibreTranslateBackend>(settingsFor(base, "lt-key"), &network));

    QCOMPARE(front.translate(u"Olá"_s, u"zh"_s).status, 200);
    QCOMPARE(front.translate(u"你好"_s, u"pt-BR"_s).status, 200);
    QCOMPARE(front.translate(u"Hi"_s, u"zh-TW"_s).status, 200);

    // The language list is asked for once and kept.
    QCOMPARE(upstream.count(), 4);
    QCOMPARE(upstream.requests()[0].method, "GET"_ba);
    QCOMPARE(upstream.requests()[0].path, "/lt/languages"_ba);
    const RecordedRequest first = upstream.requests()[1];
    QCOMPARE(first.method, "POST"_ba);
    QCOMPARE(first.path, "/lt/translate"_ba);
    QVERIFY(first.header("content-type").startsWith("application/json"));
    QCOMPARE(first.json(), QJsonObject({{u"q"_s, u"Olá"_s},
                                        {u"source"_s, u"auto"_s},
                                        {u"target"_s, u"zh-Hans"_s},
                                        {u"format"_s, u"text"_s},
                                        {u"api_key"_s, u"lt-key"_s}}));
    QCOMPARE(upstream.requests()[2].json().value(u"target"_s), u"pt"_s);
    QCOMPARE(upstream.requests()[3].json().value(u"target"_s), u"zh-Hant"_s);
}

void TestTranslateBackends::libreLanguagesUnavailable()
{
    // An old or locked-down server without /languages still gets the request,
    // with the code as it came, and the list is asked for again next time.
    moxel::net::HttpClient network({});
    TestService upstream;
    upstream.setHandler([](const RecordedRequest &request) {
        return request.path == "/languages" ? Reply::raw(R"({"error":"Not Found"})", 404)
                                            : Reply::raw(R"({"translatedText":"ok"})");
    });
    Front front(std::make_unique<LibreTranslateBackend>(settingsFor(upstream.url(), {}), &network));
    verifyOutcome(front.translate(u"Olá"_s, u"zh"_s), 200, u"ok"_s);
    verifyOutcome(front.translate(u"Olá"_s, u"zh"_s), 200, u"ok"_s);
    QCOMPARE(upstream.count(), 4);
    QCOMPARE(upstream.requests()[1].json().value(u"target"_s), u"zh"_s);
    QVERIFY(!upstream.requests()[1].json().contains(u"api_key"_s));
    QCOMPARE(upstream.requests()[2].path, "/languages"_ba);
}

void TestTranslateBackends::libreCodes_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("server");
    QTest::addColumn<QString>("expected");

    const QStringList modern = {u"en"_s, u"pt"_s, u"pb"_s, u"zh-Hans"_s, u"zh-Hant"_s};
    const QStringList older = {u"en"_s, u"pt"_s, u"zh"_s, u"zt"_s};
    QTest::newRow("zh, modern") << u"zh"_s << modern << u"zh-Hans"_s;
    QTest::newRow("zh-CN, modern") << u"zh-CN"_s << modern << u"zh-Hans"_s;
    QTest::newRow("zh-TW, modern") << u"zh-TW"_s << modern << u"zh-Hant"_s;
    QTest::newRow("zh, older") << u"zh"_s << older << u"zh"_s;
    QTest::newRow("zh-Hans, older") << u"zh-Hans"_s << older << u"zh"_s;
    QTest::newRow("zh_TW, older") << u"zh_TW"_s << older << u"zt"_s;
    QTest::newRow("zh-TW, Simplified only: none")
        << u"zh-TW"_s << QStringList{u"en"_s, u"zh"_s} << QString();
    QTest::newRow("pt-BR, modern") << u"pt-BR"_s << modern << u"pb"_s;
    QTest::newRow("pt-BR, older") << u"pt-BR"_s << older << u"pt"_s;
    QTest::newRow("case") << u"EN"_s << modern << u"en"_s;
    QTest::newRow("region dropped") << u"en-GB"_s << modern << u"en"_s;
    QTest::newRow("unlisted") << u"de"_s << modern << u"de"_s;
    QTest::newRow("no list") << u"zh"_s << QStringList() << u"zh"_s;
}

void TestTranslateBackends::libreCodes()
{
    QFETCH(QString, to);
    QFETCH(QStringList, server);
    QFETCH(QString, expected);
    QCOMPARE(libreLanguage(to, server), expected);
}

void TestTranslateBackends::openaiAnswers_data()
{
    QTest::addColumn<Reply>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");

    const auto chat = [](const QString &content, const QString &finish = u"stop"_s) {
        const QJsonObject message{{u"role"_s, u"assistant"_s}, {u"content"_s, content}};
        const QJsonObject choice{
            {u"index"_s, 0}, {u"message"_s, message}, {u"finish_reason"_s, finish}};
        return Reply::json({{u"choices"_s, QJsonArray{choice}}});
    };
    QTest::newRow("plain") << chat(u"你好\n再见"_s) << 200 << u"你好\n再见"_s;
    QTest::newRow("quoted, padded")
        << chat(u"\n \"你好，5000 件\" \n"_s) << 200 << u"你好，5000 件"_s;
    QTest::newRow("curly quotes") << chat(u"“Olá”"_s) << 200 << u"Olá"_s;
    QTest::newRow("inner quotes kept") << chat(u"\"a\" and \"b\""_s) << 200 << u"\"a\" and \"b\""_s;
    QTest::newRow("reasoning dropped")
        << chat(u"<think>\nhmm\n</think>\n\nOlá"_s) << 200 << u"Olá"_s;
    QTest::newRow("empty content") << chat(u"  "_s) << 502 << u"content"_s;
    QTest::newRow("cut at the token limit")
        << chat(u"你好，这款口红"_s, u"length"_s) << 502 << u"cut off"_s;
    QTest::newRow("finish_reason absent")
        << Reply::raw(R"({"choices":[{"message":{"content":"Olá"}}]})") << 200 << u"Olá"_s;
    QTest::newRow("reasoning never closed")
        << chat(u"<think>\nThe user wants Chinese. Maybe 你好"_s) << 502 << u"think"_s;
    QTest::newRow("a second reasoning block never closed")
        << chat(u"<think>a</think>\n<think>\nThe user wants"_s) << 502 << u"think"_s;
    QTest::newRow("no choices") << Reply::raw(R"({"choices":[]})") << 502 << u"content"_s;
    QTest::newRow("content null") << Reply::raw(R"({"choices":[{"message":{"content":null}}]})")
                                  << 502 << u"content"_s;
    QTest::newRow("OpenAI error shape")
        << Reply::raw(R"({"error":{"message":"Incorrect API key provided",)"
                      R"("type":"invalid_request_error","code":"invalid_api_key"}})",
                      401)
        << 502 << u"HTTP 401: Incorrect API key provided"_s;
    addFailureRows(R"({"error":"model \"qwen\" not found, try pulling it first"})",
                   u"model \"qwen\" not found"_s, u"answer without choices[0].message.content"_s);
}

void TestTranslateBackends::openaiAnswers()
{
    QFETCH(Reply, answer);
    QFETCH(int, status);
    QFETCH(QString, expected);

    moxel::net::HttpClient network({});
    TestService upstream;
    upstream.setReply(answer);
    Front front(std::make_unique<OpenAiBackend>(settingsFor(upstream.url(), "sk-test"), u"qwen"_s,
                                                &network));
    verifyOutcome(front.translate(u"Olá\ntchau"_s, u"zh"_s), status, expected);
    QVERIFY(upstream.streamed() < mostStreamed());
}

void TestTranslateBackends::openaiRequest_data()
{
    QTest::addColumn<QString>("basePath");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("reasoning"); // the server refuses as OpenAI's o-series models do

    QTest::newRow("bare base, key") << QString() << "sk-test"_ba
                                    << "/v1/chat/completions"_ba << false;
    QTest::newRow("base with /v1")
        << u"/v1"_s << QByteArray() << "/v1/chat/completions"_ba << false;
    QTest::newRow("base with a prefix") << u"/api/"_s << "k"_ba
                                        << "/api/v1/chat/completions"_ba << false;
    QTest::newRow("reasoning model") << u"/v1"_s << "k"_ba
                                     << "/v1/chat/completions"_ba << true;
}

void TestTranslateBackends::openaiRequest()
{
    QFETCH(QString, basePath);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, path);
    QFETCH(bool, reasoning);

    moxel::net::HttpClient network({});
    TestService upstream;
    upstream.setHandler([reasoning](const RecordedRequest &seen) {
        const QJsonObject body = seen.json();
        if (reasoning && body.contains(u"max_tokens"_s))
            return Reply::raw(R"({"error":{"message":"Unsupported parameter: 'max_tokens')"
                              R"( is not supported with this model. Use 'max_completion_)"
                              R"(tokens' instead.","type":"invalid_request_error","param")"
                              R"(:"max_tokens","code":"unsupported_parameter"}})",
                              400);
        if (reasoning && body.contains(u"temperature"_s))
            return Reply::raw(R"({"error":{"message":"Unsupported value: 'temperature')"
                              R"( does not support 0 with this model. Only the default)"
                              R"( (1) value is supported.","type":"invalid_request_error")"
                              R"(,"param":"temperature","code":"unsupported_value"}})",
                              400);
        return Reply::raw(R"({"choices":[{"message":{"content":"ok"}}]})");
    });
    QUrl base = upstream.url();
    base.setPath(basePath);
    Front front(std::make_unique<OpenAiBackend>(settingsFor(base, key), u"qwen2.5:7b"_s, &network));
    QCOMPARE(front.translate(u"Olá, 5000 peças\nPedido #A-123"_s, u"zh"_s).status, 200);

    // Each refused parameter costs one round trip, once: the next request fits.
    QCOMPARE(upstream.count(), reasoning ? 3 : 1);
    QCOMPARE(front.translate(u"Olá"_s, u"zh"_s).status, 200);
    QCOMPARE(upstream.count(), reasoning ? 4 : 2);
    const RecordedRequest request = upstream.requests().at(upstream.count() - 2);
    QCOMPARE(request.method, "POST"_ba);
    QCOMPARE(request.path, path);
    QCOMPARE(request.header("authorization"), key.isEmpty() ? QByteArray() : "Bearer " + key);
    const QJsonObject body = request.json();
    QCOMPARE(body.value(u"model"_s), u"qwen2.5:7b"_s);
    QCOMPARE(body.value(u"temperature"_s),
             reasoning ? QJsonValue(QJsonValue::Undefined) : QJsonValue(0));
    QCOMPARE(body.value(u"stream"_s), false);
    // Room for the longest plausible translation, but a bound on a model that rambles.
    const int cap = body.value(reasoning ? u"max_completion_tokens"_s : u"max_tokens"_s).toInt();
    QVERIFY2(cap >= 2 * 29 && cap <= 16384, qPrintable(QString::number(cap)));
    const QJsonArray messages = body.value(u"messages"_s).toArray();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].toObject().value(u"role"_s), u"system"_s);
    QVERIFY(
        messages[0].toObject().value(u"content"_s).toString().contains(u"Simplified Chinese"_s));
    QCOMPARE(
        messages[1].toObject(),
        QJsonObject({{u"role"_s, u"user"_s}, {u"content"_s, u"Olá, 5000 peças\nPedido #A-123"_s}}));
}

void TestTranslateBackends::keyStaysWithItsOrigin_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<int>("redirect");
    QTest::addColumn<bool>("sameOrigin");
    // The key rides in a header for one and in the body for the other.
    QTest::newRow("openai, 302") << u"openai"_s << 302 << false;
    QTest::newRow("libretranslate, 307") << u"libretranslate"_s << 307 << false;
    QTest::newRow("openai, 307 to its own origin") << u"openai"_s << 307 << true;
}

void TestTranslateBackends::keyStaysWithItsOrigin()
{
    QFETCH(QString, backend);
    QFETCH(int, redirect);
    QFETCH(bool, sameOrigin);

    TestService elsewhere;
    elsewhere.setReply(
        Reply::raw(R"({"translatedText":"x","choices":[{"message":{"content":"x"}}]})"));
    TestService upstream;
    upstream.setHandler([&](const RecordedRequest &request) {
        if (request.path == "/languages")
            return Reply::raw(LANGUAGES);
        if (request.path.startsWith("/moved"))
            return Reply::raw(R"({"choices":[{"message":{"content":"x"}}]})");
        const QByteArray target = (sameOrigin ? upstream.url() : elsewhere.url()).toEncoded();
        return Reply::wire("HTTP/1.1 " + QByteArray::number(redirect) + " Moved\r\nLocation: " +
                           target + "/moved" + request.path + "\r\nContent-Length: 0\r\n\r\n");
    });
    moxel::net::HttpClient network({});
    const UpstreamSettings settings = settingsFor(upstream.url(), "secret");
    Front front(backend == u"openai"
                    ? std::unique_ptr<Backend>(new OpenAiBackend(settings, u"m"_s, &network))
                    : std::make_unique<LibreTranslateBackend>(settings, &network));
    verifyOutcome(front.translate(u"Olá"_s, u"zh"_s), sameOrigin ? 200 : 502,
                  sameOrigin ? u"x"_s : u"redirect"_s);
    QCOMPARE(elsewhere.count(), 0);
}

void TestTranslateBackends::answerCap_data()
{
    QTest::addColumn<int>("size"); // the cap is 100
    QTest::addColumn<bool>("chunked");
    for (const int size : {100, 101})
        for (const bool chunked : {false, true})
            QTest::addRow("%d bytes%s", size, chunked ? ", chunked" : "") << size << chunked;
}

void TestTranslateBackends::answerCap()
{
    QFETCH(int, size);
    QFETCH(bool, chunked);

    TestService upstream;
    Reply reply = Reply::raw(QByteArray(size, 'x'));
    reply.chunked = chunked;
    upstream.setReply(reply);
    moxel::net::HttpClient network({});
    UpstreamSettings settings = settingsFor(upstream.url(), {});
    settings.maxAnswer = 100;
    UpstreamFetch fetch(&network, upstreamRequest(upstream.url(), settings), nullptr);
    QList<UpstreamAnswer> answers;
    connect(&fetch, &UpstreamFetch::done, this,
            [&](const UpstreamAnswer &answer) { answers.append(answer); });
    QTRY_COMPARE(answers.size(), 1);
    QCOMPARE(answers[0].failure.isEmpty(), size <= 100);
    QCOMPARE(answers[0].body.size(), size <= 100 ? size : 0);
}

void TestTranslateBackends::unreachable_data()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("libretranslate") << u"libretranslate"_s;
    QTest::newRow("openai") << u"openai"_s;
}

void TestTranslateBackends::unreachable()
{
    QFETCH(QString, backend);
    QUrl closed;
    {
        // A port that was just free is, for this test's purpose, refused.
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closed = QUrl(u"http://127.0.0.1:%1"_s.arg(probe.serverPort()));
    }
    moxel::net::HttpClient network({});
    std::unique_ptr<Backend> chosen;
    if (backend == u"openai")
        chosen = std::make_unique<OpenAiBackend>(settingsFor(closed, {}), u"m"_s, &network);
    else
        chosen = std::make_unique<LibreTranslateBackend>(settingsFor(closed, {}), &network);
    Front front(std::move(chosen));
    verifyOutcome(front.translate(u"Olá"_s, u"zh"_s), 502, backend);
}

void TestTranslateBackends::upstreamNetwork_data()
{
    QTest::addColumn<QString>("variable"); // a proxy variable pointing at `proxy`
    QTest::addColumn<bool>("tls");         // the upstream speaks https with the test CA
    QTest::addColumn<bool>("caFile");      // the service trusts the test CA
    QTest::addColumn<QString>("reached");  // "upstream", "proxy" or "" (nobody)

    QTest::newRow("https, company CA trusted") << QString() << true << true << u"upstream"_s;
    QTest::newRow("https, CA unknown: no byte sent") << QString() << true << false << QString();
    QTest::newRow("http_proxy") << u"http_proxy"_s << false << false << u"proxy"_s;
    QTest::newRow("HTTP_PROXY") << u"HTTP_PROXY"_s << false << false << u"proxy"_s;
    QTest::newRow("all_proxy") << u"all_proxy"_s << false << false << u"proxy"_s;
    QTest::newRow("a loopback upstream is never proxied")
        << u"http_proxy"_s << false << false << u"upstream"_s;
}

void TestTranslateBackends::upstreamNetwork()
{
    QFETCH(QString, variable);
    QFETCH(bool, tls);
    QFETCH(bool, caFile);
    QFETCH(QString, reached);

    const Reply answer = Reply::raw(R"({"choices":[{"message":{"content":"好"}}]})");
    TestService plain;
    TestService secure(testServerTls());
    TestService &upstream = tls ? secure : plain;
    upstream.setReply(answer);
    TestService proxy;
    proxy.setReply(answer);
    QUrl base = upstream.url();
    // Only a host that is not this machine goes through a proxy; the proxy
    // answers for it, so nothing leaves the machine.
    if (reached == u"proxy")
        base = QUrl(u"http://translate.invalid:5000"_s);
    const QByteArray name = variable.toLatin1();
    if (!name.isEmpty())
        qputenv(name.constData(), proxy.baseUrl().toUtf8());
    const auto unset = qScopeGuard([&] {
        if (!name.isEmpty())
            qunsetenv(name.constData());
    });

    moxel::net::HttpClient network(
        {moxel::net::HttpClient::Proxy::Environment, caFile ? testCaFile() : QString()});
    Front front(
        std::make_unique<OpenAiBackend>(settingsFor(base, "sk-test", Ample), u"m"_s, &network),
        Ample);
    const Response response = front.translate(u"Olá"_s, u"zh"_s);
    if (reached.isEmpty()) {
        verifyOutcome(response, 502, u"certificate"_s);
    } else {
        verifyOutcome(response, 200, u"好"_s);
    }
    QCOMPARE(upstream.count(), reached == u"upstream" ? 1 : 0);
    QCOMPARE(proxy.count(), reached == u"proxy" ? 1 : 0);
    if (reached == u"proxy")
        QCOMPARE(proxy.requests()[0].path, "http://translate.invalid:5000/v1/chat/completions"_ba);
}

void TestTranslateBackends::connectionsReused()
{
    // A remote API over TLS: each new connection costs the handshakes again.
    TestService upstream(testServerTls());
    upstream.setKeepAlive(true);
    upstream.setReply(Reply::raw(R"({"choices":[{"message":{"content":"好"}}]})"));
    moxel::net::HttpClient network({moxel::net::HttpClient::Proxy::None, testCaFile()});
    Front front(std::make_unique<OpenAiBackend>(settingsFor(upstream.url(), "sk-test", Ample),
                                                u"m"_s, &network),
                Ample);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(front.translate(u"Olá %1"_s.arg(i), u"zh"_s).status, 200);
    QCOMPARE(upstream.count(), 20);
    QCOMPARE(upstream.connections(), 1);
}

QTEST_GUILESS_MAIN(TestTranslateBackends)
#include "tst_translate_backends.moc"
