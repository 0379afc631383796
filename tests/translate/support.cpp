#include "support.h"

#include "testservice.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;

namespace moxel::xlate::test {

QJsonObject Seen::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QJsonObject Response::json() const
{
    return QJsonDocument::fromJson(body).object();
}

FakeUpstream::FakeUpstream(std::function<Scripted(const Seen &)> script, QObject *parent)
    : QObject(parent), m_script(std::move(script)), m_server(new QTcpServer(this))
{
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server, &QTcpServer::newConnection, this, &FakeUpstream::accept);
}

QUrl FakeUpstream::url() const
{
    return QUrl(u"http://127.0.0.1:%1"_s.arg(m_server->serverPort()));
}

void FakeUpstream::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        // Qt keeps connections open, so one may carry several requests in turn.
        auto parser = std::make_shared<RequestParser>(1 << 20, 64 << 20);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, parser] {
            if (parser->feed(socket->readAll()) != RequestParser::Step::Complete)
                return;
            Seen request{parser->takeRequest()};
            *parser = RequestParser(1 << 20, 64 << 20);
            serve(socket, request);
        });
    }
}

void FakeUpstream::serve(QTcpSocket *socket, const Seen &request)
{
    seen.append(request);
    const Scripted reply = m_script(request);
    if (reply.kind == Scripted::Hang)
        return;
    if (reply.kind == Scripted::Endless) {
        moxel::test::streamEndlessly(socket, !reply.closeDelimited, streamed);
        return;
    }
    if (reply.kind == Scripted::Raw) {
        socket->write(reply.body);
        socket->disconnectFromHost();
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) +
                      " Whatever\r\nContent-Type: application/json\r\n";
    if (reply.closeDelimited)
        head += "Connection: close\r\n";
    else
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    socket->write(head + "\r\n" + reply.body);
    if (reply.closeDelimited)
        socket->disconnectFromHost();
}

Response post(const QUrl &url, const QByteArray &body, const Headers &headers)
{
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
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

} // namespace moxel::xlate::test
