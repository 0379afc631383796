#include "backend.h"
#include "demo.h"
#include "http.h"
#include "service.h"
#include "testjson.h"
#include "testservice.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include <sys/socket.h>

using namespace Qt::StringLiterals;
using namespace moxel::xlate;
using namespace moxel::test;

namespace {

// Calls stay open until the test finishes them.
class HeldBackend final : public Backend
{
    Q_OBJECT
public:
    QString name() const override { return u"held"_s; }
    BackendCall *translate(const QString &text, const QString &, QObject *parent) override
    {
        auto *call = new BackendCall(parent);
        calls.append(call);
        texts.append(text);
        return call;
    }
    QList<QPointer<BackendCall>> calls;
    QStringList texts;
};

struct Running
{
    Running(Backend *backend, ServiceSettings settings, HttpLimits limits = {})
        : service(backend, settings), server(limits)
    {
        server.setHandler([this](HttpExchange *exchange) { service.handle(exchange); });
        service.logExchanges(&server, [this](const QString &line) { log.append(line); });
        server.listen(QHostAddress::LocalHost, 0);
    }
    QUrl url() const { return QUrl(u"http://127.0.0.1:%1/translate"_s.arg(server.port())); }

    TranslateService service;
    HttpServer server;
    QStringList log;
};

QByteArray body(const QString &text, const QString &to)
{
    return compact({{u"text"_s, text}, {u"to"_s, to}});
}

// Every failure must read as one to the popup: no "text" member at all.
void verifyFailure(const Response &response, int status)
{
    QCOMPARE(response.status, status);
    QVERIFY2(response.json().value(u"error"_s).isString(), response.body.constData());
    QVERIFY(!response.json().contains(u"text"_s));
}

} // namespace

class TestTranslateService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void token_data();
    void token();
    void requests_data();
    void requests();
    void rawRequests_data();
    void rawRequests();
    void upstreamCap();
    void clientLeavingCancelsItsCall();
    void halfClosedClientAnswered();
    void idleConnectionsDoNotLockOut_data();
    void idleConnectionsDoNotLockOut();
    void busyConnectionsAtTheLimit();
    void logLinesKeepSecrets();
    void phrases_data();
    void phrases();
    void examplePayloadsCovered_data();
    void examplePayloadsCovered();
};

void TestTranslateService::token_data()
{
    QTest::addColumn<QByteArray>("configured");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("send");
    QTest::addColumn<int>("status");

    QTest::newRow("right") << "s3cret-token"_ba
                           << "s3cret-token"_ba << true << 200;
    QTest::newRow("wrong, same length") << "s3cret-token"_ba
                                        << "s3cret-tokem"_ba << true << 401;
    QTest::newRow("prefix") << "s3cret-token"_ba
                            << "s3cret"_ba << true << 401;
    QTest::newRow("longer") << "s3cret-token"_ba
                            << "s3cret-token2"_ba << true << 401;
    QTest::newRow("empty header") << "s3cret-token"_ba << QByteArray() << true << 401;
    QTest::newRow("missing") << "s3cret-token"_ba << QByteArray() << false << 401;
    QTest::newRow("none configured, none sent") << QByteArray() << QByteArray() << false << 200;
    QTest::newRow("none configured, one sent") << QByteArray() << "anything"_ba << true << 200;
}

void TestTranslateService::token()
{
    QFETCH(QByteArray, configured);
    QFETCH(QByteArray, sent);
    QFETCH(bool, send);
    QFETCH(int, status);

    DemoBackend demo(PhraseTable::builtIn());
    Running running(&demo, {configured});
    HeaderList headers;
    if (send)
        headers.append({"X-Token"_ba, sent});
    const Response response =
        post(running.url(), body(u"Obrigado! Aguardo o seu retorno."_s, u"zh"_s), headers);
    if (status == 200)
        QCOMPARE(response.status, 200);
    else
        verifyFailure(response, status);
}

void TestTranslateService::requests_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");

    const QString sentence =
        u"Olá Duvo, o preço deste batom é USD 1,25 por peça para 5000 peças."_s;
    QTest::newRow("translated") << body(sentence, u"zh"_s) << u"/translate"_s << 200
                                << u"你好 Duvo，这款口红 5000 支的价格是每支 USD 1.25。"_s;
    QTest::newRow("query ignored") << body(sentence, u"zh"_s) << u"/translate?x=1"_s << 200
                                   << u"你好 Duvo，这款口红 5000 支的价格是每支 USD 1.25。"_s;
    QTest::newRow("not in the demo table")
        << body(u"Bom dia"_s, u"zh"_s) << u"/translate"_s << 422 << QString();
    QTest::newRow("blank text kept")
        << body(u" \n"_s, u"zh"_s) << u"/translate"_s << 200 << u" \n"_s;
    QTest::newRow("other path") << body(sentence, u"zh"_s) << u"/v1/translate"_s << 404
                                << QString();
    QTest::newRow("not JSON") << "text=hi&to=zh"_ba << u"/translate"_s << 400 << QString();
    QTest::newRow("array") << "[\"hi\",\"zh\"]"_ba << u"/translate"_s << 400 << QString();
    QTest::newRow("text a number")
        << "{\"text\":5,\"to\":\"zh\"}"_ba << u"/translate"_s << 400 << QString();
    QTest::newRow("text missing") << "{\"to\":\"zh\"}"_ba << u"/translate"_s << 400 << QString();
    QTest::newRow("to missing") << "{\"text\":\"hi\"}"_ba << u"/translate"_s << 400 << QString();
    QTest::newRow("to not a code")
        << body(u"hi"_s, u"zh\r\nX: 1"_s) << u"/translate"_s << 400 << QString();
    QTest::newRow("to empty") << body(u"hi"_s, QString()) << u"/translate"_s << 400 << QString();
    QTest::newRow("trailing garbage")
        << body(u"hi"_s, u"zh"_s) + "x" << u"/translate"_s << 400 << QString();
}

void TestTranslateService::requests()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, text);

    DemoBackend demo(PhraseTable::builtIn());
    Running running(&demo, {});
    QUrl url = running.url();
    url.setPath(path.section(u'?', 0, 0));
    url.setQuery(path.section(u'?', 1));
    const Response response = post(url, body);
    if (status != 200) {
        verifyFailure(response, status);
        return;
    }
    QCOMPARE(response.status, 200);
    QCOMPARE(response.json(), QJsonObject({{u"text"_s, text}}));
}

void TestTranslateService::rawRequests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    const QByteArray json = body(u"Obrigado! Aguardo o seu retorno."_s, u"zh"_s);
    // "{host}" and "{port}" stand for where the test server listens, "{pad}"
    // and "{pad+1}" for filler that makes the head as large as the cap, or one more.
    const auto request = [](const QByteArray &method, const QByteArray &payload,
                            const QByteArray &extra = {},
                            const QByteArray &type = "application/json") {
        return method + " /translate HTTP/1.1\r\nHost: {host}\r\n" + extra +
               "Content-Type: " + type +
               "\r\nContent-Length: " + QByteArray::number(payload.size()) + "\r\n\r\n" + payload;
    };
    const QByteArray filler = QByteArray(1024 - json.size() - 1, ' ');
    const QByteArray post = "POST /translate HTTP/1.1\r\nHost: {host}\r\n";

    QTest::newRow("body at the cap") << request("POST", filler + json + ' ') << 200 << QString();
    QTest::newRow("body over the cap")
        << request("POST", filler + json + "  ") << 413 << u"larger than 1024"_s;
    // Read and dropped in many pieces, so that closing does not reset the
    // connection before the client has read its answer.
    QTest::newRow("body far over the cap, sent")
        << request("POST", QByteArray(1 << 20, ' ')) << 413 << u"larger than 1024"_s;
    QTest::newRow("declared far over the cap") << post + "Content-Length: 99999999\r\n\r\n"
                                               << 413 << u"larger than 1024"_s;
    QTest::newRow("GET") << request("GET", {}) << 405 << u"POST"_s;
    QTest::newRow("chunked") << post + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"
                             << 411 << u"Content-Length"_s;
    QTest::newRow("two lengths")
        << request("POST", json, "Content-Length: " + QByteArray::number(json.size() + 1) + "\r\n")
        << 400 << u"Content-Length"_s;
    QTest::newRow("negative length") << post + "Content-Length: -1\r\n\r\n"
                                     << 400 << u"Content-Length"_s;
    QTest::newRow("not HTTP") << "hello there\r\nHost: {host}\r\n\r\n"_ba << 400
                              << u"request line"_s;
    QTest::newRow("HTTP/1.7") << request("POST", json).replace("HTTP/1.1", "HTTP/1.7") << 505
                              << u"HTTP/1.1"_s;
    QTest::newRow("HTTP/1.0") << request("POST", json).replace("HTTP/1.1", "HTTP/1.0") << 200
                              << QString();
    QTest::newRow("bare line feeds")
        << request("POST", json).replace("\r\n", "\n") << 200 << QString();
    QTest::newRow("bare carriage return")
        << request("POST", json, "X-A: 1\rContent-Length: 0\r\n") << 400 << u"carriage return"_s;
    QTest::newRow("header line without colon")
        << request("POST", json, "X-Token abc\r\n") << 400 << u"malformed header"_s;
    QTest::newRow("space before the colon")
        << request("POST", json).replace("Content-Length:", "Content-Length :") << 400
        << u"before the colon"_s;
    QTest::newRow("folded line") << request("POST", json, "X-A: 1\r\n\tX-Token: abc\r\n") << 400
                                 << u"folded"_s;
    QTest::newRow("head at the cap")
        << request("POST", json, "X-Pad: {pad}\r\n") << 200 << QString();
    QTest::newRow("head over the cap")
        << request("POST", json, "X-Pad: {pad+1}\r\n") << 431 << u"larger than 16384"_s;
    QTest::newRow("head over the cap, unfinished")
        << post + "X-Pad: " + QByteArray(20000, 'a') << 431 << u"larger than 16384"_s;

    // What a web page can make a browser send must not reach a backend.
    const auto hostIs = [&](const QByteArray &host) {
        return request("POST", json).replace("Host: {host}\r\n", host);
    };
    QTest::newRow("localhost") << hostIs("Host: LocalHost:{port}\r\n") << 200 << QString();
    QTest::newRow("charset") << request("POST", json, {}, "application/json; charset=utf-8") << 200
                             << QString();
    QTest::newRow("no Host") << hostIs({}) << 400 << u"Host"_s;
    QTest::newRow("two Hosts") << request("POST", json, "Host: {host}\r\n") << 400 << u"Host"_s;
    QTest::newRow("another name") << hostIs("Host: attacker.example:{port}\r\n") << 403
                                  << u"Host"_s;
    QTest::newRow("another port") << hostIs("Host: 127.0.0.1:1\r\n") << 403 << u"Host"_s;
    QTest::newRow("no port") << hostIs("Host: 127.0.0.1\r\n") << 403 << u"Host"_s;
    QTest::newRow("Origin") << request("POST", json, "Origin: https://evil.example\r\n") << 403
                            << u"web pages"_s;
    QTest::newRow("text/plain") << request("POST", json, {}, "text/plain") << 415
                                << u"Content-Type"_s;
    QTest::newRow("JSON look-alike")
        << request("POST", json, {}, "application/jsonp") << 415 << u"Content-Type"_s;
}

void TestTranslateService::rawRequests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QString, error);

    DemoBackend demo(PhraseTable::builtIn());
    HttpLimits limits;
    limits.maxBody = 1024;
    Running running(&demo, {}, limits);
    const QByteArray port = QByteArray::number(running.server.port());
    bytes.replace("{host}", "127.0.0.1:" + port).replace("{port}", port);
    for (const int over : {0, 1}) {
        const QByteArray mark = over ? "{pad+1}" : "{pad}";
        if (bytes.contains(mark)) {
            const qsizetype head = bytes.indexOf("\r\n\r\n") + 4 - mark.size();
            bytes.replace(mark, QByteArray(limits.maxHead - head + over, 'a'));
        }
    }
    const Response response = rawExchange(running.server.port(), bytes);
    if (status == 200) {
        QCOMPARE(response.status, 200);
        QVERIFY(response.json().value(u"text"_s).isString());
    } else {
        verifyFailure(response, status);
        QVERIFY2(response.json().value(u"error"_s).toString().contains(error),
                 response.body.constData());
    }
}

void TestTranslateService::upstreamCap()
{
    HeldBackend held;
    ServiceSettings settings;
    settings.maxUpstream = 2;
    settings.maxQueued = 1;
    Running running(&held, settings);

    QNetworkAccessManager network;
    QList<QNetworkReply *> replies;
    const auto send = [&](const QString &text) {
        QNetworkRequest request(running.url());
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
        replies.append(network.post(request, body(text, u"zh"_s)));
    };
    for (const QString &text : {u"one"_s, u"two"_s, u"three"_s})
        send(text);
    QTRY_COMPARE(held.calls.size(), 2);
    QTRY_COMPARE(running.service.waiting(), 1);

    // With both places taken and the line full, the fourth is turned away.
    send(u"four"_s);
    QTRY_VERIFY(replies[3]->isFinished());
    QCOMPARE(replies[3]->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 503);
    QCOMPARE(held.calls.size(), 2);

    Q_EMIT held.calls[0]->finished(Outcome::success(u"一"_s));
    QTRY_VERIFY(replies[0]->isFinished());
    QCOMPARE(objectOf(replies[0]->readAll()).value(u"text"_s), u"一"_s);
    QTRY_COMPARE(held.calls.size(), 3);
    QCOMPARE(held.texts.last(), u"three"_s);

    Q_EMIT held.calls[1]->finished(Outcome::failure(u"upstream said no"_s));
    QTRY_VERIFY(replies[1]->isFinished());
    QCOMPARE(replies[1]->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 502);
    QCOMPARE(objectOf(replies[1]->readAll()), QJsonObject({{u"error"_s, u"upstream said no"_s}}));
    qDeleteAll(replies);
}

void TestTranslateService::clientLeavingCancelsItsCall()
{
    HeldBackend held;
    ServiceSettings settings;
    settings.maxUpstream = 1;
    settings.maxQueued = 1;
    Running running(&held, settings);

    QNetworkAccessManager network;
    QNetworkRequest request(running.url());
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    QNetworkReply *first = network.post(request, body(u"one"_s, u"zh"_s));
    QTRY_COMPARE(held.calls.size(), 1);
    QNetworkReply *second = network.post(request, body(u"two"_s, u"zh"_s));
    QTRY_COMPARE(running.service.waiting(), 1);
    // One that left while waiting gives its place in the full line to the next.
    second->abort();
    QTRY_COMPARE(running.service.waiting(), 0);
    std::unique_ptr<QNetworkReply> third(network.post(request, body(u"three"_s, u"zh"_s)));
    QTRY_COMPARE(running.service.waiting(), 1);

    first->abort();
    QTRY_VERIFY(held.calls[0].isNull());
    QTRY_COMPARE(held.calls.size(), 2);
    QCOMPARE(held.texts.last(), u"three"_s);
    QVERIFY(!third->isFinished());
    QVERIFY(running.log.first().contains(u"status=gone"_s));
    delete first;
    delete second;
}

void TestTranslateService::halfClosedClientAnswered()
{
    // Done sending is not gone: such a client still reads the slow answer.
    HeldBackend held;
    Running running(&held, {});
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, running.server.port());
    QVERIFY(socket.waitForConnected(10000));
    socket.write(
        "POST /translate HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(running.server.port()) +
        "\r\nContent-Type: application/json\r\nContent-Length: 24\r\n\r\n" +
        body(u"one"_s, u"zh"_s));
    QVERIFY(socket.waitForBytesWritten(10000));
    QTRY_COMPARE(held.calls.size(), 1);
    QCOMPARE(::shutdown(int(socket.socketDescriptor()), SHUT_WR), 0);
    // The service answers the end of the request with an interim 100, or closes.
    QTRY_VERIFY(socket.bytesAvailable() > 0 || socket.state() != QAbstractSocket::ConnectedState);
    QVERIFY(held.calls[0]);
    Q_EMIT held.calls[0]->finished(Outcome::success(u"一"_s));
    QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    const QByteArray answer = socket.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n") &&
                 answer.endsWith(R"({"text":"一"})"),
             answer.constData());
}

void TestTranslateService::idleConnectionsDoNotLockOut_data()
{
    // Connections that never finish a request must not keep the popup out.
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("one byte") << "P"_ba;
    QTest::newRow("a refused body, trickling")
        << "POST /translate HTTP/1.1\r\nContent-Length: 999999\r\n\r\n{"_ba;
}

void TestTranslateService::idleConnectionsDoNotLockOut()
{
    QFETCH(QByteArray, bytes);
    DemoBackend demo(PhraseTable::builtIn());
    Running running(&demo, {});
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < HttpLimits().maxConnections; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, running.server.port());
        // The server must accept as they come: its backlog is short.
        QTRY_COMPARE(socket->state(), QAbstractSocket::ConnectedState);
        socket->write(bytes);
        idle.push_back(std::move(socket));
    }
    QTest::qWait(200);
    const Response response =
        post(running.url(), body(u"Obrigado! Aguardo o seu retorno."_s, u"zh"_s));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.json().value(u"text"_s), u"谢谢！期待您的回复。"_s);
}

void TestTranslateService::busyConnectionsAtTheLimit()
{
    // Requests being answered are never displaced: at the limit each one is
    // served, one more is closed unanswered.
    HeldBackend held;
    HttpLimits limits;
    limits.maxConnections = 2;
    Running running(&held, {}, limits);
    QNetworkAccessManager network;
    QNetworkRequest request(running.url());
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    std::vector<std::unique_ptr<QNetworkReply>> replies;
    for (const QString &text : {u"one"_s, u"two"_s}) {
        replies.emplace_back(network.post(request, body(text, u"zh"_s)));
        QTRY_COMPARE(held.calls.size(), qsizetype(replies.size()));
    }
    const Response refused = rawExchange(running.server.port(), "P");
    QCOMPARE(refused.status, 0);
    QCOMPARE(held.calls.size(), 2);
    Q_EMIT held.calls[1]->finished(Outcome::success(u"二"_s));
    QTRY_VERIFY(replies[1]->isFinished());
    QCOMPARE(replies[1]->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
}

void TestTranslateService::logLinesKeepSecrets()
{
    // Each failure says why in a few words; no line shows the text, the token or a key.
    DemoBackend demo(PhraseTable::builtIn());
    Running running(&demo, {"tok-AbC123"_ba});
    post(running.url(), body(u"Obrigado! Aguardo o seu retorno."_s, u"pt-BR"_s),
         {{"X-Token"_ba, "tok-AbC123"_ba}});
    post(running.url(), body(u"confidential-draft"_s, u"zh"_s), {{"X-Token"_ba, "guess"_ba}});
    post(running.url(), body(u"confidential-draft"_s, u"zh"_s), {{"X-Token"_ba, "tok-AbC123"_ba}});
    HeldBackend held;
    Running upstream(&held, {});
    QNetworkAccessManager network;
    QNetworkRequest request(upstream.url());
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    std::unique_ptr<QNetworkReply> reply(network.post(request, body(u"confidential"_s, u"zh"_s)));
    QTRY_COMPARE(held.calls.size(), 1);
    Q_EMIT held.calls[0]->finished(Outcome::failure(
        u"openai: HTTP 401: Incorrect API key provided: sk-proj-Ab12********************wxyz. "
        u"You can find your API key at https://platform.openai.com/account/api-keys "
        u"(text: confidential)"_s));
    QTRY_COMPARE(upstream.log.size(), 1);
    QTRY_COMPARE(running.log.size(), 3);
    const QStringList log = running.log + upstream.log;
    QVERIFY(log[0].contains(u"backend=demo to=pt-BR status=200 ms="_s));
    QVERIFY(!log[0].contains(u"reason="_s));
    QVERIFY2(log[1].contains(u"status=401 ms="_s) &&
                 log[1].endsWith(u" reason=\"missing or wrong X-Token\""_s),
             qPrintable(log[1]));
    QVERIFY2(log[2].contains(u"status=422 ms="_s) &&
                 log[2].contains(u" reason=\"demo: no translation into zh "_s),
             qPrintable(log[2]));
    QVERIFY2(log[3].contains(u" reason=\"openai: HTTP 401: Incorrect API key provided: … "_s),
             qPrintable(log[3]));
    for (const QString &line : log) {
        QVERIFY2(!line.contains(u"confidential"_s) && !line.contains(u"tok-AbC123"_s) &&
                     !line.contains(u"guess"_s) && !line.contains(u"Ab12"_s),
                 qPrintable(line));
    }
}

void TestTranslateService::phrases_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expected");

    const QString pt = u"Olá Duvo, o preço deste batom é USD 1,25 por peça para 5000 peças."_s;
    const QString zh = u"你好 Duvo，这款口红 5000 支的价格是每支 USD 1.25。"_s;
    QTest::newRow("self-test sentence") << pt << u"zh"_s << zh;
    QTest::newRow("back again") << zh << u"pt"_s << pt;
    QTest::newRow("regional code") << pt << u"zh-CN"_s << zh;
    QTest::newRow("spacing differs") << u"  Olá Duvo,  o preço deste batom é USD 1,25 por "
                                        u"peça\tpara 5000 peças.\n"_s
                                     << u"zh"_s << zh;
    QTest::newRow("line by line")
        << u"Olá, obrigado pela sua mensagem.\n\nObrigado! Aguardo o seu retorno."_s << u"zh"_s
        << u"您好，感谢您的留言。\n\n谢谢！期待您的回复。"_s;
    QTest::newRow("one line unknown")
        << u"Olá, obrigado pela sua mensagem.\nAté amanhã"_s << u"zh"_s << QString();
    QTest::newRow("unknown text") << u"Bom dia"_s << u"zh"_s << QString();
    QTest::newRow("language not in the entry") << pt << u"de"_s << QString();
}

void TestTranslateService::phrases()
{
    QFETCH(QString, text);
    QFETCH(QString, to);
    QFETCH(QString, expected);
    QCOMPARE(demoTranslation(PhraseTable::builtIn(), text, to).value_or(QString()), expected);
}

void TestTranslateService::examplePayloadsCovered_data()
{
    QTest::addColumn<QString>("draft");
    QTest::addColumn<QString>("cn");
    QTest::addColumn<QString>("lang");

    const QDir examples(QStringLiteral(MOXEL_SOURCE_DIR "/examples"));
    for (const QString &name : examples.entryList({u"*.jsonl"_s}, QDir::Files)) {
        QFile file(examples.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        int number = 0;
        while (!file.atEnd()) {
            const QJsonObject payload = parse(file.readLine());
            ++number;
            const QString draft = payload.value(u"draft"_s).toString();
            const QString cn = payload.value(u"cn"_s).toString();
            if (draft.isEmpty() || cn.isEmpty())
                continue;
            QTest::addRow("%s:%d", qPrintable(name), number)
                << draft << cn << payload.value(u"lang"_s).toString();
        }
    }
}

// A demo run shows the payload's own texts when either side is edited back.
void TestTranslateService::examplePayloadsCovered()
{
    QFETCH(QString, draft);
    QFETCH(QString, cn);
    QFETCH(QString, lang);
    const PhraseTable table = PhraseTable::builtIn();
    QCOMPARE(demoTranslation(table, draft, u"zh"_s).value_or(QString()), cn);
    QCOMPARE(demoTranslation(table, cn, lang).value_or(QString()), draft);
}

QTEST_GUILESS_MAIN(TestTranslateService)
#include "tst_translate_service.moc"
