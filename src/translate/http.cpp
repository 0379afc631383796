#include "http.h"

#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key == name)
            return value;
    }
    return {};
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue"_ba;
    case 200:
        return "OK"_ba;
    case 400:
        return "Bad Request"_ba;
    case 401:
        return "Unauthorized"_ba;
    case 404:
        return "Not Found"_ba;
    case 405:
        return "Method Not Allowed"_ba;
    case 408:
        return "Request Timeout"_ba;
    case 411:
        return "Length Required"_ba;
    case 413:
        return "Content Too Large"_ba;
    case 431:
        return "Request Header Fields Too Large"_ba;
    case 500:
        return "Internal Server Error"_ba;
    case 501:
        return "Not Implemented"_ba;
    case 502:
        return "Bad Gateway"_ba;
    case 503:
        return "Service Unavailable"_ba;
    case 504:
        return "Gateway Timeout"_ba;
    default:
        return "Status"_ba;
    }
}

HttpExchange::HttpExchange(HttpRequest request, QObject *parent)
    : QObject(parent), m_request(std::move(request))
{
    m_clock.start();
}

void HttpExchange::respond(int status, const QByteArray &body, const HeaderList &extra)
{
    if (m_answered)
        return;
    m_answered = true;
    QByteArray wire = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                      "\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n";
    bool typed = false;
    for (const auto &[name, value] : extra) {
        typed = typed || name.compare("content-type", Qt::CaseInsensitive) == 0;
        wire += name + ": " + value + "\r\n";
    }
    if (!typed)
        wire += "Content-Type: application/json; charset=utf-8\r\n";
    wire += "\r\n" + body;
    Q_EMIT responded(status, wire);
}

void HttpExchange::respondJson(int status, const QJsonObject &object, const HeaderList &extra)
{
    respond(status, QJsonDocument(object).toJson(QJsonDocument::Compact), extra);
}

void HttpExchange::respondError(int status, const QString &message, const HeaderList &extra)
{
    respondJson(status, QJsonObject{{u"error"_s, message}}, extra);
}

namespace {

// Reads one request from its socket, hands it on and writes the answer.
class Connection final : public QObject
{
public:
    Connection(QTcpSocket *socket, const HttpLimits &limits, HttpServer::Handler handler,
               std::function<void(const ExchangeRecord &)> record, QObject *parent)
        : QObject(parent), m_socket(socket), m_limits(limits), m_handler(std::move(handler)),
          m_record(std::move(record))
    {
        socket->setParent(this);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Connection::timedOut);
        connect(socket, &QTcpSocket::readyRead, this, &Connection::readMore);
        connect(socket, &QTcpSocket::disconnected, this, &Connection::gone);
        m_timer.start(m_limits.readTimeoutMs);
        readMore();
    }

private:
    enum class State { Head, Body, Handling, Draining, Closing };

    void readMore()
    {
        if (m_state == State::Draining) {
            m_drain -= m_socket->skip(m_socket->bytesAvailable());
            if (m_drain <= 0)
                m_socket->disconnectFromHost();
            return;
        }
        if (m_state != State::Head && m_state != State::Body) {
            // Nothing more is expected; whatever arrives is dropped unread.
            m_socket->skip(m_socket->bytesAvailable());
            return;
        }
        m_buffer += m_socket->readAll();
        if (m_state == State::Head && !parseHead())
            return;
        if (m_state == State::Body && m_buffer.size() >= m_length) {
            m_request.body = m_buffer.left(m_length);
            m_buffer.clear();
            dispatch();
        }
    }

    // False while the head is incomplete or after it was answered as bad.
    bool parseHead()
    {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > m_limits.maxHead)
                fail(431, u"request head too large"_s);
            return false;
        }
        if (end > m_limits.maxHead) {
            fail(431, u"request head too large"_s);
            return false;
        }
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        m_buffer.remove(0, end + 4);

        const QList<QByteArray> start = lines.first().trimmed().split(' ');
        if (start.size() != 3 || !start[2].startsWith("HTTP/1.") || start[0].isEmpty()) {
            fail(400, u"malformed request line"_s);
            return false;
        }
        m_request.method = start[0];
        const qsizetype query = start[1].indexOf('?');
        m_request.path = query < 0 ? start[1] : start[1].left(query);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray &line = lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                fail(400, u"malformed header line"_s);
                return false;
            }
            m_request.headers.append(
                {line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
        }

        if (!m_request.header("transfer-encoding").isNull()) {
            fail(411, u"send the body with Content-Length"_s);
            return false;
        }
        m_length = 0;
        bool seen = false;
        for (const auto &[name, value] : std::as_const(m_request.headers)) {
            if (name != "content-length")
                continue;
            bool ok = !value.isEmpty();
            for (char c : value)
                ok = ok && c >= '0' && c <= '9';
            const qint64 length = ok && value.size() <= 15 ? value.toLongLong() : -1;
            if (length < 0 || (seen && length != m_length)) {
                fail(400, u"bad Content-Length"_s);
                return false;
            }
            m_length = length;
            seen = true;
        }
        if (m_length > m_limits.maxBody) {
            m_drain = m_length - m_buffer.size();
            m_buffer.clear();
            fail(413, u"request body larger than %1 bytes"_s.arg(m_limits.maxBody));
            return false;
        }
        if (m_request.header("expect").compare("100-continue", Qt::CaseInsensitive) == 0)
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        m_state = State::Body;
        return true;
    }

    void dispatch()
    {
        m_state = State::Handling;
        m_timer.stop();
        m_exchange = new HttpExchange(std::move(m_request), this);
        connect(m_exchange, &HttpExchange::responded, this, &Connection::send);
        if (m_handler)
            m_handler(m_exchange);
        else
            m_exchange->respondError(404, u"no handler"_s);
    }

    void fail(int status, const QString &message)
    {
        m_exchange = new HttpExchange(std::move(m_request), this);
        connect(m_exchange, &HttpExchange::responded, this, &Connection::send);
        m_exchange->respondError(status, message);
    }

    void send(int status, const QByteArray &wire)
    {
        m_record({m_exchange->target, status, m_exchange->elapsedMs()});
        m_socket->write(wire);
        // Closing with unread bytes in the kernel makes it reset the
        // connection, and the client may then never see this answer: an
        // oversized body is read and dropped first, for a bounded while.
        if (m_drain > 0 && m_drain <= 16 * m_limits.maxBody + (1 << 20)) {
            m_state = State::Draining;
            m_timer.start(5000);
            readMore();
        } else {
            m_state = State::Closing;
            m_timer.start(m_limits.readTimeoutMs);
            m_socket->disconnectFromHost();
        }
    }

    void timedOut()
    {
        if (m_state == State::Head && m_buffer.isEmpty() && m_request.method.isEmpty()) {
            m_socket->abort();
        } else if (m_state == State::Head || m_state == State::Body) {
            fail(408, u"request not received in time"_s);
        } else if (m_state == State::Draining) {
            m_state = State::Closing;
            m_timer.start(m_limits.readTimeoutMs);
            m_socket->disconnectFromHost();
        } else {
            m_socket->abort();
        }
    }

    void gone()
    {
        if (m_exchange && !m_exchange->answered())
            m_record({m_exchange->target, 0, m_exchange->elapsedMs()});
        m_state = State::Closing;
        deleteLater();
    }

    QTcpSocket *m_socket;
    HttpLimits m_limits;
    HttpServer::Handler m_handler;
    std::function<void(const ExchangeRecord &)> m_record;
    QTimer m_timer;
    State m_state = State::Head;
    QByteArray m_buffer;
    HttpRequest m_request;
    qint64 m_length = 0;
    qint64 m_drain = 0;
    QPointer<HttpExchange> m_exchange;
};

} // namespace

HttpServer::HttpServer(HttpLimits limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

QString HttpServer::errorString() const
{
    return m_server->errorString();
}

void HttpServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_open >= m_limits.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        auto *connection = new Connection(
            socket, m_limits, m_handler,
            [this](const ExchangeRecord &record) { Q_EMIT exchangeDone(record); }, this);
        connect(connection, &QObject::destroyed, this, [this] { --m_open; });
    }
}

} // namespace moxel::xlate
