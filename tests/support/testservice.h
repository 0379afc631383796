#pragma once

#include "http.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

class QTcpServer;
class QTcpSocket;
class QSslConfiguration;

namespace moxel::test {

using HeaderList = moxel::xlate::HeaderList;

// One HTTP request as the service received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray path; // the request target as sent, query included
    HeaderList headers;
    QByteArray body;

    // Header lookups ignore the case of the name; `header` gives the first value.
    bool hasHeader(const QByteArray &name) const;
    QByteArray header(const QByteArray &name) const;
    // The body as a JSON object (empty when it is not one).
    QJsonObject json() const;
};

// How the service answers one request.
struct Reply
{
    enum class Kind {
        Answer,  // status line, headers, body
        Reset,   // the connection is reset (RST) without an answer
        Never,   // the connection stays open and silent until the client gives up
        Hold,    // silent until the test calls TestService::respond()
        Endless, // `flood` for as long as the client reads
        Wire,    // `body` as the bytes on the wire, then the connection closes
    };
    // What an Endless reply repeats.
    enum class Flood {
        Body,           // {"text":"aaa…, chunked or until the connection closes
        InterimHeads,   // HTTP/1.1 100 Continue, again and again
        Trailers,       // a whole chunked body, then trailer lines
        ChunkExtension, // a chunk size whose extension never ends
    };
    Kind kind = Kind::Answer;
    Flood flood = Flood::Body;
    int status = 200;
    QByteArray body;
    HeaderList headers;        // extra headers; Content-Type defaults to application/json
    int delayMs = 0;           // wait this long before answering
    int trickleBytes = 0;      // > 0: send the body this many bytes at a time ...
    int trickleIntervalMs = 0; // ... with this pause between the pieces
    bool chunked = false;      // Transfer-Encoding: chunked; Endless without it ends by closing
    bool untilClose = false;   // no Content-Length: the body ends where the connection closes

    static Reply json(const QJsonObject &object, int status = 200);
    static Reply text(const QString &translation, int status = 200); // {"text": translation}
    static Reply raw(const QByteArray &body, int status = 200);
    static Reply redirect(const QUrl &to, int status = 307);
    static Reply reset();
    static Reply never();
    static Reply hold();
    static Reply endless(bool chunked);
    static Reply endless(Flood flood);
    static Reply wire(const QByteArray &bytes);
};

// Answers with the head of an Endless reply and writes its body as fast as
// the client reads, keeping in `*sent` how much of it reached the client.
void streamEndlessly(QTcpSocket *socket, const Reply &reply,
                     std::shared_ptr<std::atomic<qint64>> sent);

// A small HTTP/1.1 service for tests, bound to 127.0.0.1 on a free port: the
// popup's translation service, or the upstream behind moxel-translate. It
// records every request and answers each as the test asks: a fixed reply, or
// one computed per request by a handler. Every answer closes its connection,
// unless keep-alive is on.
//
// It answers from the event loop of the thread it lives in, so wait with
// QTRY_* or QSignalSpy::wait, never with blocking calls such as
// QProcess::waitForFinished.
class TestService final : public QObject
{
    Q_OBJECT
public:
    explicit TestService(QObject *parent = nullptr);
    // An https:// service with this certificate and key.
    explicit TestService(const QSslConfiguration &tls, QObject *parent = nullptr);
    ~TestService() override;
    Q_DISABLE_COPY_MOVE(TestService)

    bool isListening() const;
    quint16 port() const;
    // "http://127.0.0.1:<port>" (https:// with TLS), without a final slash.
    QString baseUrl() const;
    QUrl url() const { return QUrl(baseUrl()); }

    // The reply for every following request (default: {"text": ""} with 200).
    void setReply(const Reply &reply);
    // Computes the reply per request; replaces setReply's fixed reply.
    void setHandler(std::function<Reply(const RecordedRequest &)> handler);

    // Answers with Content-Length and keeps the connection for the next request.
    void setKeepAlive(bool on) { m_keepAlive = on; }
    // Connections accepted so far.
    int connections() const { return m_connections; }

    QList<RecordedRequest> requests() const { return m_requests; }
    qsizetype count() const { return m_requests.size(); }
    // Bytes of the last Endless body that reached the client.
    qint64 streamed() const { return *m_streamed; }

    // Answers request number `index` (0-based) that was held by Reply::hold().
    // False when it was not held or its connection has gone.
    bool respond(qsizetype index, const Reply &reply);

Q_SIGNALS:
    void requestReceived(qsizetype index);

private:
    void accept();
    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Reply &reply);
    void send(QTcpSocket *socket, const Reply &reply);

    QTcpServer *m_server;
    bool m_tls = false;
    bool m_keepAlive = false;
    int m_connections = 0;
    Reply m_reply;
    std::function<Reply(const RecordedRequest &)> m_handler;
    QList<RecordedRequest> m_requests;
    std::shared_ptr<std::atomic<qint64>> m_streamed = std::make_shared<std::atomic<qint64>>(0);
    QHash<qsizetype, QPointer<QTcpSocket>> m_held;
    QHash<QTcpSocket *, moxel::xlate::RequestParser> m_buffers;
};

// The certificates in tests/support/tls: a private CA, and a certificate for
// 127.0.0.1 it signed, with its key.
QString testCaFile();
QSslConfiguration testServerTls();

// What a client got back.
struct Response
{
    int status = 0;
    QByteArray body;
    QJsonObject json() const;
};

// One POST through QNetworkAccessManager, waited for in the event loop.
Response post(const QUrl &url, const QByteArray &body, const HeaderList &headers = {});
// Raw bytes to 127.0.0.1:port, and what came back before the server closed.
Response rawExchange(quint16 port, const QByteArray &bytes);

} // namespace moxel::test
