#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <utility>

class QTcpServer;

namespace moxel::xlate {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

struct HttpRequest
{
    QByteArray method;
    QByteArray version; // "HTTP/1.1" or "HTTP/1.0"
    // The request target as sent, and the same without its query.
    QByteArray target;
    QByteArray path;
    // Names in lower case, values trimmed, in arrival order.
    HeaderList headers;
    QByteArray body;

    // The first header of that (lower-case) name, or a null array.
    QByteArray header(QByteArrayView name) const;
};

// One request and its answer. It belongs to its connection: when the client
// goes away first, the exchange is destroyed and with it every object the
// handler parented to it, which is how pending upstream work is cancelled.
class HttpExchange final : public QObject
{
    Q_OBJECT
public:
    HttpExchange(HttpRequest request, QObject *parent);

    const HttpRequest &request() const { return m_request; }
    bool answered() const { return m_answered; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }

    // The target language and, for a failure, why: for the log line only.
    QString target;
    QString reason;

    // Only the first answer counts; later ones are ignored.
    void respond(int status, const QByteArray &body, const HeaderList &extra = {});
    void respondJson(int status, const QJsonObject &object, const HeaderList &extra = {});
    void respondError(int status, const QString &message, const HeaderList &extra = {});

Q_SIGNALS:
    void responded(int status, const QByteArray &wire);

private:
    HttpRequest m_request;
    QElapsedTimer m_clock;
    bool m_answered = false;
};

struct ExchangeRecord
{
    QString target;
    // 0 when the client left before an answer.
    int status = 0;
    qint64 ms = 0;
    QString reason;
};

struct HttpLimits
{
    qint64 maxBody = 64 * 1024;
    qint64 maxHead = 16 * 1024;
    // When all are taken, a new client displaces the oldest one that has not
    // sent a whole request yet.
    int maxConnections = 64;
    // The head must be in this soon after connecting, the body this soon after
    // the head; a local client sends both at once.
    int headTimeoutMs = 5000;
    int readTimeoutMs = 20000;
};

// Takes one request off a connection's bytes as they arrive. Nothing it is
// fed can make it hold more than the head and the body the limits allow.
class RequestParser
{
public:
    enum class Step { NeedMore, Complete, Failed };
    RequestParser(qint64 maxHead, qint64 maxBody) : m_maxHead(maxHead), m_maxBody(maxBody) {}

    Step feed(QByteArrayView bytes);
    Step step() const { return m_step; }
    bool started() const { return m_started; }
    bool headDone() const { return m_headDone; }
    // Complete: the whole request; Failed: whatever of it was understood.
    const HttpRequest &request() const { return m_request; }
    HttpRequest takeRequest() { return std::move(m_request); }
    // With Failed: the status and message to answer with.
    int errorStatus() const { return m_errorStatus; }
    QString errorMessage() const { return m_errorMessage; }
    // A body refused as too large: how much of it is still on its way.
    qint64 unreadBody() const { return m_unread; }

private:
    bool parseHead();
    void fail(int status, const QString &message);

    qint64 m_maxHead;
    qint64 m_maxBody;
    Step m_step = Step::NeedMore;
    bool m_started = false;
    bool m_headDone = false;
    QByteArray m_buffer;
    HttpRequest m_request;
    qint64 m_length = 0;
    qint64 m_unread = 0;
    qsizetype m_searchFrom = 0;
    int m_errorStatus = 0;
    QString m_errorMessage;
};

// "127.0.0.1:<port>" or "localhost:<port>": the only names a page in a
// browser cannot give its own server by rebinding DNS.
bool loopbackHost(QByteArrayView host, quint16 port);

class HttpConnection;

// A deliberately small HTTP/1.1 server: one request per connection, bodies
// only with Content-Length, every answer closes the connection. Owning the
// parser is what lets it refuse an oversized body before reading it.
class HttpServer final : public QObject
{
    Q_OBJECT
public:
    explicit HttpServer(HttpLimits limits = {}, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const;
    QString errorString() const;

    using Handler = std::function<void(HttpExchange *)>;
    void setHandler(Handler handler) { m_handler = std::move(handler); }

Q_SIGNALS:
    // Once per request: when it is answered, or when its client leaves first.
    void exchangeDone(const moxel::xlate::ExchangeRecord &record);

private:
    void accept();

    HttpLimits m_limits;
    QTcpServer *m_server;
    Handler m_handler;
    // Oldest first.
    QList<HttpConnection *> m_connections;
};

QByteArray reasonPhrase(int status);

} // namespace moxel::xlate
