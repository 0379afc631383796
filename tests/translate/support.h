#pragma once

#include "http.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

class QTcpServer;
class QTcpSocket;

namespace moxel::xlate::test {

using Headers = QList<std::pair<QByteArray, QByteArray>>;

// A request as the service's own parser read it.
struct Seen : HttpRequest
{
    QJsonObject json() const;
};

// What the fake upstream does with a request: answer it, send raw bytes, keep
// the connection open without a word, or answer without end.
struct Scripted
{
    enum Kind { Answer, Raw, Hang, Endless } kind = Answer;
    int status = 200;
    QByteArray body;
    // With Answer: leave Content-Length out and end the body by closing.
    bool closeDelimited = false;

    static Scripted json(int status, const QByteArray &body)
    {
        return {Answer, status, body, false};
    }
    static Scripted raw(const QByteArray &bytes) { return {Raw, 0, bytes, false}; }
    static Scripted hang() { return {Hang, 0, {}, false}; }
    static Scripted endless(bool chunked) { return {Endless, 200, {}, !chunked}; }
};

// An HTTP upstream on 127.0.0.1 that records what it is sent.
class FakeUpstream final : public QObject
{
    Q_OBJECT
public:
    explicit FakeUpstream(std::function<Scripted(const Seen &)> script, QObject *parent = nullptr);
    QUrl url() const;
    QList<Seen> seen;
    // Bytes of the last Endless body that reached the client.
    std::shared_ptr<std::atomic<qint64>> streamed = std::make_shared<std::atomic<qint64>>(0);

private:
    void accept();
    void serve(QTcpSocket *socket, const Seen &request);

    std::function<Scripted(const Seen &)> m_script;
    QTcpServer *m_server;
};

struct Response
{
    int status = 0;
    QByteArray body;
    QJsonObject json() const;
};

// One POST through QNetworkAccessManager, waited for.
Response post(const QUrl &url, const QByteArray &body, const Headers &headers = {});
// Raw bytes to 127.0.0.1:port, and what came back before the server closed.
Response rawExchange(quint16 port, const QByteArray &bytes);

} // namespace moxel::xlate::test
