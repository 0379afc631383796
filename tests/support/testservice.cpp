#include "testservice.h"
#include "testjson.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace moxel::test {

namespace {

// Hands out sockets that speak TLS before anything else.
class TlsServer final : public QTcpServer
{
public:
    TlsServer(const QSslConfiguration &tls, QObject *parent) : QTcpServer(parent), m_tls(tls) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSslConfiguration(m_tls);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // A client that refuses the certificate just goes away.
        connect(socket, &QSslSocket::sslErrors, socket, &QObject::deleteLater);
        socket->startServerEncryption();
        addPendingConnection(socket);
    }

private:
    QSslConfiguration m_tls;
};

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return QByteArrayLiteral("OK");
    case 301:
        return QByteArrayLiteral("Moved Permanently");
    case 302:
        return QByteArrayLiteral("Found");
    case 307:
        return QByteArrayLiteral("Temporary Redirect");
    case 308:
        return QByteArrayLiteral("Permanent Redirect");
    case 400:
        return QByteArrayLiteral("Bad Request");
    case 403:
        return QByteArrayLiteral("Forbidden");
    case 404:
        return QByteArrayLiteral("Not Found");
    case 500:
        return QByteArrayLiteral("Internal Server Error");
    default:
        return QByteArrayLiteral("Status");
    }
}

bool hasHeaderIn(const HeaderList &headers, const QByteArray &name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Makes close() send a reset instead of an orderly shutdown.
void resetConnection(QTcpSocket *socket)
{
#ifdef Q_OS_UNIX
    const linger hard{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
    socket->abort();
}

} // namespace

bool RecordedRequest::hasHeader(const QByteArray &name) const
{
    return hasHeaderIn(headers, name);
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QJsonObject RecordedRequest::json() const
{
    return objectOf(body);
}

Reply Reply::json(const QJsonObject &object, int status)
{
    return raw(compact(object), status);
}

Reply Reply::text(const QString &translation, int status)
{
    return json(QJsonObject{{QStringLiteral("text"), translation}}, status);
}

Reply Reply::raw(const QByteArray &body, int status)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

Reply Reply::redirect(const QUrl &to, int status)
{
    Reply reply = raw(QByteArrayLiteral("{\"text\":\"redirect\"}"), status);
    reply.headers.append({QByteArrayLiteral("Location"), to.toEncoded()});
    return reply;
}

Reply Reply::reset()
{
    Reply reply;
    reply.kind = Kind::Reset;
    return reply;
}

Reply Reply::never()
{
    Reply reply;
    reply.kind = Kind::Never;
    return reply;
}

Reply Reply::hold()
{
    Reply reply;
    reply.kind = Kind::Hold;
    return reply;
}

Reply Reply::endless(bool chunked)
{
    Reply reply;
    reply.kind = Kind::Endless;
    reply.chunked = chunked;
    return reply;
}

Reply Reply::endless(Flood flood)
{
    Reply reply;
    reply.kind = Kind::Endless;
    reply.flood = flood;
    return reply;
}

Reply Reply::wire(const QByteArray &bytes)
{
    Reply reply = raw(bytes);
    reply.kind = Kind::Wire;
    return reply;
}

void streamEndlessly(QTcpSocket *socket, const Reply &reply,
                     std::shared_ptr<std::atomic<qint64>> sent)
{
    // On a thread of its own, as a service in another process writes: as
    // fast as the client's side takes it, whatever the client's thread does.
    const int fd = ::dup(int(socket->socketDescriptor()));
    // A small send buffer, so that what was sent is what the client's side
    // took, give or take this much.
    const int buffer = 128 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    *sent = 0;

    using Flood = Reply::Flood;
    const bool chunked = reply.chunked || reply.flood != Flood::Body;
    const auto frame = [chunked](const QByteArray &bytes) {
        return chunked ? QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n" : bytes;
    };
    const QByteArray ok =
        QByteArrayLiteral("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n") +
        (chunked ? "Transfer-Encoding: chunked\r\n\r\n" : "Connection: close\r\n\r\n");
    QByteArray start;
    QByteArray piece;
    switch (reply.flood) {
    case Flood::Body:
        start = ok + frame(R"({"text":")");
        piece = frame(QByteArray(64 * 1024, 'a'));
        break;
    case Flood::InterimHeads:
        piece = QByteArrayLiteral("HTTP/1.1 100 Continue\r\n\r\n").repeated(2048);
        break;
    case Flood::Trailers:
        start = ok + frame(R"({"text":"x"})") + "0\r\n";
        piece =
            QByteArrayLiteral("X-Pad: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n")
                .repeated(1024);
        break;
    case Flood::ChunkExtension:
        start = ok + "5;pad=";
        piece = QByteArray(64 * 1024, 'a');
        break;
    }

    std::thread([fd, start, piece, sent] {
        const auto sendAll = [fd, sent](const QByteArray &bytes) {
            for (qsizetype at = 0; at < bytes.size();) {
                const ssize_t n =
                    ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
                pollfd writable{fd, POLLOUT, 0};
                if (n > 0) {
                    at += n;
                    *sent += n;
                } else if (n < 0 && errno == EAGAIN && ::poll(&writable, 1, 10000) > 0) {
                    continue;
                } else {
                    return false;
                }
            }
            return true;
        };
        if (sendAll(start)) {
            while (sendAll(piece)) {
            }
        }
        ::close(fd);
    }).detach();
}

TestService::TestService(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this)), m_reply(Reply::text(QString()))
{
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server, &QTcpServer::newConnection, this, &TestService::accept);
}

TestService::TestService(const QSslConfiguration &tls, QObject *parent)
    : QObject(parent), m_server(new TlsServer(tls, this)), m_tls(true),
      m_reply(Reply::text(QString()))
{
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server, &QTcpServer::newConnection, this, &TestService::accept);
}

TestService::~TestService() = default;

QString testCaFile()
{
    return QStringLiteral(MOXEL_TEST_TLS_DIR "/ca.pem");
}

QSslConfiguration testServerTls()
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    QFile certificate(QStringLiteral(MOXEL_TEST_TLS_DIR "/server.pem"));
    QFile key(QStringLiteral(MOXEL_TEST_TLS_DIR "/server.key"));
    if (certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
        tls.setLocalCertificate(QSslCertificate(certificate.readAll()));
        tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Rsa));
    }
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

bool TestService::isListening() const
{
    return m_server->isListening();
}

quint16 TestService::port() const
{
    return m_server->serverPort();
}

QString TestService::baseUrl() const
{
    return (m_tls ? QStringLiteral("https://127.0.0.1:") : QStringLiteral("http://127.0.0.1:")) +
           QString::number(port());
}

void TestService::setReply(const Reply &reply)
{
    m_reply = reply;
    m_handler = nullptr;
}

void TestService::setHandler(std::function<Reply(const RecordedRequest &)> handler)
{
    m_handler = std::move(handler);
}

bool TestService::respond(qsizetype index, const Reply &reply)
{
    const QPointer<QTcpSocket> socket = m_held.take(index);
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    if (reply.kind == Reply::Kind::Hold)
        m_held.insert(index, socket);
    else
        answer(socket, reply);
    return true;
}

void TestService::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        ++m_connections;
        m_buffers.emplace(socket, 256 << 20, 256 << 20);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_buffers.remove(socket); });
    }
}

void TestService::read(QTcpSocket *socket)
{
    const auto buffer = m_buffers.find(socket);
    if (buffer == m_buffers.end()) {
        socket->readAll(); // one request per connection; anything after it is ignored
        return;
    }
    // The translation service's own parser, with room for any text a test sends.
    const auto step = buffer->feed(socket->readAll());
    if (step == moxel::xlate::RequestParser::Step::NeedMore)
        return;
    if (step == moxel::xlate::RequestParser::Step::Failed) {
        m_buffers.erase(buffer);
        answer(socket, Reply::raw(QByteArrayLiteral("{\"error\":\"bad request\"}"), 400));
        return;
    }
    moxel::xlate::HttpRequest parsed = buffer->takeRequest();
    m_buffers.erase(buffer);
    if (m_keepAlive)
        m_buffers.emplace(socket, 256 << 20, 256 << 20);
    RecordedRequest request{std::move(parsed.method), std::move(parsed.target),
                            std::move(parsed.headers), std::move(parsed.body)};

    const qsizetype index = m_requests.size();
    m_requests.append(request);
    const Reply reply = m_handler ? m_handler(request) : m_reply;
    if (reply.kind == Reply::Kind::Hold)
        m_held.insert(index, socket);
    else
        answer(socket, reply);
    Q_EMIT requestReceived(index);
}

void TestService::answer(QTcpSocket *socket, const Reply &reply)
{
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, socket, [this, socket, reply] { send(socket, reply); });
    else
        send(socket, reply);
}

void TestService::send(QTcpSocket *socket, const Reply &reply)
{
    switch (reply.kind) {
    case Reply::Kind::Reset:
        resetConnection(socket);
        return;
    case Reply::Kind::Never:
    case Reply::Kind::Hold:
        return;
    case Reply::Kind::Endless:
        streamEndlessly(socket, reply, m_streamed);
        return;
    case Reply::Kind::Wire:
        socket->write(reply.body);
        socket->disconnectFromHost();
        return;
    case Reply::Kind::Answer:
        break;
    }

    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) + "\r\n";
    if (!hasHeaderIn(reply.headers, "Content-Type"))
        head += "Content-Type: application/json; charset=utf-8\r\n";
    for (const auto &[name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (reply.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!reply.untilClose)
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (m_keepAlive && !reply.chunked && !reply.untilClose && reply.trickleBytes <= 0) {
        socket->write(head + "\r\n" + reply.body);
        return;
    }
    head += "Connection: close\r\n\r\n";
    if (reply.chunked) {
        socket->write(head);
        for (qsizetype at = 0; at < reply.body.size(); at += 100'000)
            socket->write(QByteArray::number(qMin<qsizetype>(100'000, reply.body.size() - at), 16) +
                          "\r\n" + reply.body.mid(at, 100'000) + "\r\n");
        socket->write("0\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }

    if (reply.trickleBytes <= 0) {
        socket->write(head + reply.body);
        socket->disconnectFromHost();
        return;
    }
    socket->write(head);
    auto *timer = new QTimer(socket);
    timer->setInterval(reply.trickleIntervalMs);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, reply, sent] {
        socket->write(reply.body.mid(*sent, reply.trickleBytes));
        *sent += reply.trickleBytes;
        if (*sent >= reply.body.size()) {
            timer->stop();
            socket->disconnectFromHost();
        }
    });
    timer->start();
}

QJsonObject Response::json() const
{
    return objectOf(body);
}

Response post(const QUrl &url, const QByteArray &body, const HeaderList &headers)
{
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = network.post(request, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(30000);
    Response response{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                      reply->readAll()};
    delete reply;
    return response;
}

Response rawExchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000))
        return {};
    // As most clients do: the whole request first, then the answer. One that
    // is reset while still sending never reads what was answered; a small
    // send buffer keeps a large request from vanishing into the kernel at once.
    socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 16 * 1024);
    QSignalSpy gone(&socket, &QTcpSocket::disconnected);
    socket.write(bytes);
    (void)QTest::qWaitFor(
        [&] {
            return socket.bytesToWrite() == 0 || socket.state() != QAbstractSocket::ConnectedState;
        },
        30000);
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    if (socket.state() != QAbstractSocket::UnconnectedState && gone.isEmpty())
        gone.wait(30000);
    received += socket.readAll();
    Response response;
    const QList<QByteArray> start = received.left(received.indexOf("\r\n")).split(' ');
    response.status = start.value(1).toInt();
    const qsizetype end = received.indexOf("\r\n\r\n");
    response.body = end < 0 ? QByteArray() : received.mid(end + 4);
    return response;
}

} // namespace moxel::test
