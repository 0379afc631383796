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
    // The request target without its query.
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

    // The target language, for the request log line only.
    QString target;

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
};

struct HttpLimits
{
    qint64 maxBody = 64 * 1024;
    qint64 maxHead = 16 * 1024;
    int maxConnections = 64;
    // A client that has not sent its whole request by then is dropped.
    int readTimeoutMs = 20000;
};

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
    int m_open = 0;
};

QByteArray reasonPhrase(int status);

} // namespace moxel::xlate
