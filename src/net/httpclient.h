#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

// HTTP exchanges through libcurl, driven by the Qt event loop of the thread
// the client lives in: curl's multi interface watches its sockets through
// QSocketNotifier and its timers through one QTimer, so nothing blocks and no
// thread of our own is started. Connections are kept and reused between
// exchanges of one client.
//
// Every limit holds whatever the peer sends: the body, every byte of the
// head (status lines, headers, interim answers, trailers), the time without
// data and the time in all. Redirects are followed only within the request's
// own origin, since the request's headers (a token, a key) go wherever it is
// followed to.

namespace moxel::net {

struct HttpRequest
{
    QByteArray method = QByteArrayLiteral("GET"); // GET or POST
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body; // sent with POST

    qint64 maxBody = 4 * 1024 * 1024;
    // All of the head, however many interim answers and trailers it has.
    qint64 maxHead = 64 * 1024;
    // Longest wait without a byte from the peer (connecting included); 0: none.
    std::chrono::milliseconds idleTimeout{0};
    // The whole exchange, redirects included; 0: none.
    std::chrono::milliseconds deadline{0};
    int maxRedirects = 5;
};

struct HttpResponse
{
    enum class Failure {
        None,         // an answer was read whole (whatever its status)
        Failed,       // no answer, a broken or oversized head, a time-out, a
                      // redirect out of the origin: `reason` says which
        BodyTooLarge, // more than maxBody, however framed
    };

    int status = 0;
    QByteArray body; // empty unless failure is None
    Failure failure = Failure::None;
    QString reason; // a short English sentence when failure is not None

    bool ok() const { return failure == Failure::None; }
};

class HttpClient;

// One exchange in flight. It reports once through finished() and then
// deletes itself later; deleting it earlier abandons the exchange quietly.
class HttpTransfer final : public QObject
{
    Q_OBJECT
public:
    ~HttpTransfer() override;
    Q_DISABLE_COPY_MOVE(HttpTransfer)

Q_SIGNALS:
    void finished(const moxel::net::HttpResponse &response);

private:
    friend class HttpClient;
    struct State;
    HttpTransfer(HttpClient *client, std::unique_ptr<State> state, QObject *parent);

    QPointer<HttpClient> m_client;
    std::unique_ptr<State> m_state;
};

class HttpClient final : public QObject
{
    Q_OBJECT
public:
    enum class Proxy {
        None,        // always straight to the address (a loopback service)
        Environment, // http_proxy, https_proxy, all_proxy, no_proxy, in either case
    };
    struct Options
    {
        Proxy proxy = Proxy::None;
        // PEM certificates trusted besides the system's; empty: none.
        QString caFile;
    };

    explicit HttpClient(Options options, QObject *parent = nullptr);
    // Abandons every exchange in flight without a word.
    ~HttpClient() override;
    Q_DISABLE_COPY_MOVE(HttpClient)

    // Starts `request`. The transfer is a child of `parent` (or of the
    // client), so deleting the parent abandons it.
    HttpTransfer *send(const HttpRequest &request, QObject *parent = nullptr);

private:
    friend class HttpTransfer;
    struct Private;
    std::unique_ptr<Private> d;
};

// Whether `to` may be followed from `from`: same scheme, host and port.
bool sameOrigin(const QUrl &from, const QUrl &to);
// localhost, 127.0.0.0/8 or ::1.
bool isLoopback(const QUrl &url);
// The proxy for `url` from the environment (`env` gives a variable's value):
// the scheme's own variable (http_proxy or https_proxy), else all_proxy, each
// lower case first; empty when none is set or the host is a loopback one.
// no_proxy is curl's to apply.
QByteArray environmentProxy(const QUrl &url, const std::function<QByteArray(const char *)> &env);

} // namespace moxel::net
