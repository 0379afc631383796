#include "http.h"

#include <QJsonDocument>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

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
    case 403:
        return "Forbidden"_ba;
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
    case 415:
        return "Unsupported Media Type"_ba;
    case 422:
        return "Unprocessable Content"_ba;
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
    case 505:
        return "HTTP Version Not Supported"_ba;
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
    if (reason.isEmpty() && !m_answered)
        reason = message;
    respondJson(status, QJsonObject{{u"error"_s, message}}, extra);
}

RequestParser::Step RequestParser::feed(QByteArrayView bytes)
{
    if (m_step != Step::NeedMore)
        return m_step;
    m_started = m_started || !bytes.isEmpty();
    if (m_headDone) {
        // Whatever follows the announced body is not read.
        m_buffer += bytes.first(std::min(bytes.size(), m_length - m_buffer.size()));
    } else {
        m_buffer += bytes;
        if (!parseHead())
            return m_step;
    }
    if (m_buffer.size() >= m_length) {
        m_request.body = m_buffer.left(m_length);
        m_buffer.clear();
        m_step = Step::Complete;
    }
    return m_step;
}

void RequestParser::fail(int status, const QString &message)
{
    m_step = Step::Failed;
    m_errorStatus = status;
    m_errorMessage = message;
    m_buffer.clear();
}

namespace {

// Where the head ends: after the first empty line, lines ending in LF with an
// optional CR before it, as RFC 9112 lets a server read them. -1 while the
// empty line has not arrived; `from` is where a search may resume.
qsizetype headEnd(const QByteArray &buffer, qsizetype *from)
{
    for (qsizetype lf = buffer.indexOf('\n', *from); lf >= 0; lf = buffer.indexOf('\n', lf + 1)) {
        qsizetype next = lf + 1;
        if (next < buffer.size() && buffer[next] == '\r')
            ++next;
        if (next < buffer.size() && buffer[next] == '\n')
            return next + 1;
    }
    *from = std::max<qsizetype>(0, buffer.size() - 2);
    return -1;
}

bool tokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool token(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), tokenChar);
}

} // namespace

// False while the head is incomplete, or when it failed.
bool RequestParser::parseHead()
{
    const qsizetype end = headEnd(m_buffer, &m_searchFrom);
    if (end < 0 ? m_buffer.size() > m_maxHead : end > m_maxHead) {
        fail(431, u"request head larger than %1 bytes"_s.arg(m_maxHead));
        return false;
    }
    if (end < 0)
        return false;
    QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end);
    m_headDone = true;
    // The empty line and what split() made of the last line end.
    lines.resize(lines.size() - 2);
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        // A lone CR is read as a line end by some servers and not by others,
        // which is how one request is made to look like two.
        if (line.contains('\r')) {
            fail(400, u"carriage return inside a line"_s);
            return false;
        }
    }

    const QList<QByteArray> start = lines.first().split(' ');
    const QByteArray &version = start.value(2);
    const bool versionShape = version.size() == 8 && version.startsWith("HTTP/") &&
                              std::isdigit(uchar(version[5])) && version[6] == '.' &&
                              std::isdigit(uchar(version[7]));
    if (start.size() != 3 || !token(start[0]) || start[1].isEmpty() || !versionShape) {
        fail(400, u"malformed request line"_s);
        return false;
    }
    if (start[2] != "HTTP/1.1" && start[2] != "HTTP/1.0") {
        fail(505, u"only HTTP/1.0 and HTTP/1.1 are served"_s);
        return false;
    }
    m_request.method = start[0];
    m_request.version = start[2];
    m_request.target = start[1];
    const qsizetype query = start[1].indexOf('?');
    m_request.path = query < 0 ? start[1] : start[1].left(query);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        if (line.startsWith(' ') || line.startsWith('\t')) {
            fail(400, u"folded header line"_s);
            return false;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon > 0 && (name.endsWith(' ') || name.endsWith('\t'))) {
            // Servers that trim it and servers that do not disagree on which
            // header this is: the start of request smuggling.
            fail(400, u"white space before the colon of a header"_s);
            return false;
        }
        if (colon <= 0 || !token(name)) {
            fail(400, u"malformed header line"_s);
            return false;
        }
        m_request.headers.append({name.toLower(), line.mid(colon + 1).trimmed()});
    }

    if (!m_request.header("transfer-encoding").isNull()) {
        fail(411, u"send the body with Content-Length"_s);
        return false;
    }
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
    if (m_length > m_maxBody) {
        m_unread = m_length - m_buffer.size();
        fail(413, u"request body larger than %1 bytes"_s.arg(m_maxBody));
        return false;
    }
    m_buffer.truncate(m_length);
    return true;
}

bool loopbackHost(QByteArrayView host, quint16 port)
{
    const QByteArray suffix = ':' + QByteArray::number(port);
    for (const QByteArray &name : {"127.0.0.1"_ba, "localhost"_ba}) {
        if (host.compare(name + suffix, Qt::CaseInsensitive) == 0 ||
            (port == 80 && host.compare(name, Qt::CaseInsensitive) == 0))
            return true;
    }
    return false;
}

// Reads one request from its socket, hands it on and writes the answer.
class HttpConnection final : public QObject
{
public:
    HttpConnection(QTcpSocket *socket, const HttpLimits &limits, HttpServer::Handler handler,
                   std::function<void(const ExchangeRecord &)> record, QObject *parent)
        : QObject(parent), m_socket(socket), m_limits(limits), m_handler(std::move(handler)),
          m_record(std::move(record)), m_parser(limits.maxHead, limits.maxBody)
    {
        socket->setParent(this);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &HttpConnection::timedOut);
        connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readMore);
        connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::gone);
        m_timer.start(m_limits.headTimeoutMs);
        readMore();
    }
    ~HttpConnection() override { release(); }
    Q_DISABLE_COPY_MOVE(HttpConnection)

    // Waiting for its request, or dropping a refused body: nothing is lost
    // by closing it.
    bool idle() const { return m_state == State::Reading || m_state == State::Draining; }
    void drop()
    {
        m_state = State::Closing;
        m_socket->abort();
        deleteLater();
    }

private:
    enum class State { Reading, Handling, Draining, Closing };

    void readMore()
    {
        if (m_state == State::Draining) {
            m_drain -= m_socket->skip(m_socket->bytesAvailable());
            if (m_drain <= 0)
                m_socket->disconnectFromHost();
            return;
        }
        if (m_state != State::Reading) {
            // Nothing more is expected; whatever arrives is dropped unread.
            m_socket->skip(m_socket->bytesAvailable());
            return;
        }
        const bool hadHead = m_parser.headDone();
        switch (m_parser.feed(m_socket->readAll())) {
        case RequestParser::Step::NeedMore:
            if (!hadHead && m_parser.headDone()) {
                m_timer.start(m_limits.readTimeoutMs);
                if (m_parser.request().header("expect").compare("100-continue",
                                                                Qt::CaseInsensitive) == 0)
                    m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return;
        case RequestParser::Step::Failed:
            m_drain = m_parser.unreadBody();
            fail(m_parser.errorStatus(), m_parser.errorMessage());
            return;
        case RequestParser::Step::Complete:
            dispatch();
            return;
        }
    }

    void dispatch()
    {
        m_state = State::Handling;
        m_timer.stop();
        // Qt closes a socket whose peer has stopped sending, but a client may
        // shut down its sending side after the request and still read the
        // answer: a second descriptor keeps the connection open meanwhile.
        m_held = ::fcntl(int(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        m_exchange = new HttpExchange(m_parser.takeRequest(), this);
        connect(m_exchange, &HttpExchange::responded, this, &HttpConnection::send);
        const HttpRequest &request = m_exchange->request();
        qsizetype hosts = 0;
        for (const auto &header : request.headers)
            hosts += header.first == "host";
        if (hosts != 1)
            m_exchange->respondError(400, u"the request needs one Host header"_s);
        else if (!loopbackHost(request.header("host"), m_socket->localPort()))
            m_exchange->respondError(403,
                                     u"Host must be 127.0.0.1:%1"_s.arg(m_socket->localPort()));
        else if (!request.header("origin").isNull())
            m_exchange->respondError(403, u"requests from web pages are refused"_s);
        else if (m_handler)
            m_handler(m_exchange);
        else
            m_exchange->respondError(404, u"no handler"_s);
    }

    void fail(int status, const QString &message)
    {
        m_state = State::Handling;
        m_exchange = new HttpExchange(m_parser.takeRequest(), this);
        connect(m_exchange, &HttpExchange::responded, this, &HttpConnection::send);
        m_exchange->respondError(status, message);
    }

    void send(int status, const QByteArray &wire)
    {
        m_record({m_exchange->target, status, m_exchange->elapsedMs(), m_exchange->reason});
        if (m_halfClosed) {
            m_state = State::Closing;
            m_pending = wire;
            m_timer.start(m_limits.readTimeoutMs);
            writeHeld();
            return;
        }
        // Qt's own close must end the connection, which a copy would keep.
        release();
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
        if (m_halfClosed && m_state == State::Handling) {
            // Reading gives the end of the stream either way; the socket's
            // error says whether the client answered the probe with a reset.
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(m_held, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                leave();
            else
                m_timer.start(ProbeIntervalMs);
        } else if (m_halfClosed) {
            leave();
        } else if (m_state == State::Reading && !m_parser.started()) {
            m_socket->abort();
        } else if (m_state == State::Reading) {
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
        // Gone, or only done sending? An interim answer tells, as a client
        // that closed its socket answers data with a reset. HTTP/1.0 clients
        // must not be sent one.
        static constexpr QByteArrayView probe = "HTTP/1.1 100 Continue\r\n\r\n";
        if (m_state == State::Handling && m_held >= 0 && !m_halfClosed && m_exchange &&
            !m_exchange->answered() && m_exchange->request().version == "HTTP/1.1" &&
            ::send(m_held, probe.data(), size_t(probe.size()), MSG_NOSIGNAL | MSG_DONTWAIT) ==
                probe.size()) {
            m_halfClosed = true;
            m_timer.start(ProbeIntervalMs);
            return;
        }
        leave();
    }

    void leave()
    {
        if (m_exchange && !m_exchange->answered())
            m_record({m_exchange->target, 0, m_exchange->elapsedMs(), {}});
        release();
        m_state = State::Closing;
        deleteLater();
    }

    // The answer to a half-closed client, through the second descriptor.
    void writeHeld()
    {
        while (!m_pending.isEmpty()) {
            const ssize_t sent = ::send(m_held, m_pending.constData(), size_t(m_pending.size()),
                                        MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!m_writer) {
                    m_writer = new QSocketNotifier(m_held, QSocketNotifier::Write, this);
                    connect(m_writer, &QSocketNotifier::activated, this,
                            &HttpConnection::writeHeld);
                }
                return;
            }
            if (sent < 0 && errno != EINTR)
                break;
            m_pending.remove(0, std::max<qsizetype>(sent, 0));
        }
        leave();
    }

    void release()
    {
        // Possibly from inside the notifier's own signal: disabled now, deleted later.
        if (m_writer) {
            m_writer->setEnabled(false);
            m_writer->deleteLater();
        }
        m_writer = nullptr;
        if (m_held >= 0)
            ::close(m_held);
        m_held = -1;
    }

    static constexpr int ProbeIntervalMs = 100;

    QTcpSocket *m_socket;
    HttpLimits m_limits;
    HttpServer::Handler m_handler;
    std::function<void(const ExchangeRecord &)> m_record;
    QTimer m_timer;
    State m_state = State::Reading;
    RequestParser m_parser;
    qint64 m_drain = 0;
    QPointer<HttpExchange> m_exchange;
    int m_held = -1;
    bool m_halfClosed = false;
    QByteArray m_pending;
    QSocketNotifier *m_writer = nullptr;
};

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
        if (m_connections.size() >= m_limits.maxConnections) {
            // Idle connections cost a local process nothing to open; the
            // requests already being answered are kept.
            const auto idle = std::find_if(m_connections.cbegin(), m_connections.cend(),
                                           [](const HttpConnection *c) { return c->idle(); });
            if (idle == m_connections.cend()) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            HttpConnection *oldest = *idle;
            m_connections.removeOne(oldest);
            oldest->drop();
        }
        auto *connection = new HttpConnection(
            socket, m_limits, m_handler,
            [this](const ExchangeRecord &record) { Q_EMIT exchangeDone(record); }, this);
        m_connections.append(connection);
        connect(connection, &QObject::destroyed, this,
                [this, connection] { m_connections.removeOne(connection); });
    }
}

} // namespace moxel::xlate
