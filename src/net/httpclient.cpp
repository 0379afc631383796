#include "httpclient.h"

#include <QFile>
#include <QHash>
#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>

#include <mutex>

#include <arpa/inet.h>

using namespace Qt::StringLiterals;

namespace moxel::net {

namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

HttpResponse failed(const QString &reason)
{
    return {0, {}, HttpResponse::Failure::Failed, reason};
}

QString limitReason(qint64 limit, const char *what)
{
    return u"%1 larger than %2 bytes"_s.arg(QLatin1StringView(what), QString::number(limit));
}

} // namespace

struct HttpTransfer::State
{
    HttpClient *client = nullptr;
    HttpTransfer *transfer = nullptr;
    CURL *easy = nullptr;
    curl_slist *headers = nullptr;
    HttpRequest request;
    QUrl url; // where the current leg of the exchange goes
    QByteArray method;
    int redirects = 0;
    QByteArray body;
    qint64 headBytes = 0;
    qint64 wireBytes = 0; // of the answer as it came, framing included
    bool headTooLarge = false;
    bool bodyTooLarge = false;
    QTimer idle;
    QTimer deadline;
    char error[CURL_ERROR_SIZE] = {};

    ~State()
    {
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
};

struct HttpClient::Private
{
    HttpClient *q = nullptr;
    Options options;
    QByteArray trustedCas; // the system's bundle and the extra CA file, in one
    CURLM *multi = nullptr;
    QTimer timer;
    struct Watch
    {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };
    QHash<curl_socket_t, Watch> sockets;
    QList<HttpTransfer::State *> active;

    void drive(curl_socket_t socket, int events);
    void collect();
    bool start(HttpTransfer::State *state);
    void finish(HttpTransfer::State *state, HttpResponse response);
    void detach(HttpTransfer::State *state);
    void unwatch(curl_socket_t socket);

    static int onSocket(CURL *, curl_socket_t socket, int what, void *self, void *);
    static int onTimer(CURLM *, long ms, void *self);
    static size_t onHeader(char *data, size_t size, size_t count, void *state);
    static size_t onBody(char *data, size_t size, size_t count, void *state);
    static int onDebug(CURL *, curl_infotype type, char *, size_t size, void *state);
    static int onProgress(void *state, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
};

HttpTransfer::HttpTransfer(HttpClient *client, std::unique_ptr<State> state, QObject *parent)
    : QObject(parent), m_client(client), m_state(std::move(state))
{
    m_state->transfer = this;
}

HttpTransfer::~HttpTransfer()
{
    if (m_client && m_state->easy)
        m_client->d->detach(m_state.get());
}

HttpClient::HttpClient(Options options, QObject *parent) : QObject(parent), d(new Private)
{
    initCurlOnce();
    d->q = this;
    d->options = std::move(options);
    d->multi = curl_multi_init();
    curl_multi_setopt(d->multi, CURLMOPT_SOCKETFUNCTION, &Private::onSocket);
    curl_multi_setopt(d->multi, CURLMOPT_SOCKETDATA, d.get());
    curl_multi_setopt(d->multi, CURLMOPT_TIMERFUNCTION, &Private::onTimer);
    curl_multi_setopt(d->multi, CURLMOPT_TIMERDATA, d.get());
    d->timer.setSingleShot(true);
    connect(&d->timer, &QTimer::timeout, this, [this] { d->drive(CURL_SOCKET_TIMEOUT, 0); });

    if (!d->options.caFile.isEmpty()) {
        // CURLOPT_CAINFO would replace the system's bundle; one blob of both
        // adds the company's CA instead.
        CURL *probe = curl_easy_init();
        const char *bundle = nullptr;
        curl_easy_getinfo(probe, CURLINFO_CAINFO, &bundle);
        if (bundle) {
            QFile system(QString::fromLocal8Bit(bundle));
            if (system.open(QIODevice::ReadOnly))
                d->trustedCas = system.readAll() + '\n';
        }
        curl_easy_cleanup(probe);
        QFile extra(d->options.caFile);
        if (extra.open(QIODevice::ReadOnly))
            d->trustedCas += extra.readAll();
    }
}

HttpClient::~HttpClient()
{
    d->timer.stop();
    for (HttpTransfer::State *state : std::as_const(d->active)) {
        curl_multi_remove_handle(d->multi, state->easy);
        curl_easy_cleanup(state->easy);
        state->easy = nullptr;
        state->idle.stop();
        state->deadline.stop();
    }
    d->active.clear();
    for (const Private::Watch &watch : std::as_const(d->sockets)) {
        delete watch.read;
        delete watch.write;
    }
    d->sockets.clear();
    curl_multi_cleanup(d->multi);
}

HttpTransfer *HttpClient::send(const HttpRequest &request, QObject *parent)
{
    auto state = std::make_unique<HttpTransfer::State>();
    state->client = this;
    state->request = request;
    state->url = request.url;
    state->method = request.method;
    HttpTransfer::State *raw = state.get();
    auto *transfer = new HttpTransfer(this, std::move(state), parent ? parent : this);

    raw->idle.setSingleShot(true);
    raw->deadline.setSingleShot(true);
    QObject::connect(&raw->idle, &QTimer::timeout, transfer, [this, raw] {
        d->finish(raw, failed(u"no data for %1 ms"_s.arg(raw->request.idleTimeout.count())));
    });
    QObject::connect(&raw->deadline, &QTimer::timeout, transfer, [this, raw] {
        d->finish(raw, failed(u"no answer within %1 ms"_s.arg(raw->request.deadline.count())));
    });
    if (request.deadline.count() > 0)
        raw->deadline.start(request.deadline);
    if (!d->start(raw))
        d->finish(raw, failed(QString::fromUtf8(raw->error)));
    return transfer;
}

bool HttpClient::Private::start(HttpTransfer::State *state)
{
    if (!state->easy)
        state->easy = curl_easy_init();
    else
        curl_easy_reset(state->easy);
    CURL *easy = state->easy;
    state->body.clear();
    state->headBytes = 0;
    state->wireBytes = 0;

    const QByteArray url = state->url.toEncoded();
    curl_easy_setopt(easy, CURLOPT_PRIVATE, state);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, state->error);
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L); // followed here, within the origin only
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Private::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, state);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Private::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, state);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(state->request.maxBody));
    // The write callback sees the body decoded: chunk extensions, padding and
    // framing never reach it. curl hands the answer as it came to its debug
    // callback, and the progress callback stops a flood of it.
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &Private::onDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, state);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Private::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, state);
    if (state->request.idleTimeout.count() > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(state->request.idleTimeout.count()));

    if (options.proxy == HttpClient::Proxy::None) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    } else {
        // curl reads no_proxy (either case) itself; http_proxy only in lower
        // case, which on a desktop is not what users expect of the others.
        const QByteArray proxy =
            environmentProxy(state->url, [](const char *name) { return qgetenv(name); });
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.constData());
    }
    if (!trustedCas.isEmpty()) {
        curl_blob blob{trustedCas.data(), size_t(trustedCas.size()), CURL_BLOB_NOCOPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    }

    curl_slist_free_all(state->headers);
    state->headers = nullptr;
    // Nothing but what the caller names: no Accept, no 100-continue round trip.
    state->headers = curl_slist_append(state->headers, "Accept:");
    state->headers = curl_slist_append(state->headers, "Expect:");
    for (const auto &[name, value] : std::as_const(state->request.headers)) {
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        state->headers = curl_slist_append(state->headers, line.constData());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, state->headers);
    if (state->method == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(state->request.body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, state->request.body.constData());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }

    if (state->request.idleTimeout.count() > 0)
        state->idle.start(state->request.idleTimeout);
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        qstrncpy(state->error, "cannot start the request", sizeof state->error);
        return false;
    }
    active.append(state);
    return true;
}

void HttpClient::Private::detach(HttpTransfer::State *state)
{
    if (active.removeOne(state))
        curl_multi_remove_handle(multi, state->easy);
    state->idle.stop();
}

void HttpClient::Private::finish(HttpTransfer::State *state, HttpResponse response)
{
    detach(state);
    state->deadline.stop();
    if (state->easy) {
        // The connection stays in the client's cache; the handle goes.
        curl_easy_cleanup(state->easy);
        state->easy = nullptr;
    }
    // Reported from the event loop, never from inside curl or send(): the
    // receiver may start or abandon exchanges, or delete the client.
    HttpTransfer *transfer = state->transfer;
    QMetaObject::invokeMethod(
        transfer,
        [transfer, response = std::move(response)] {
            const QPointer<HttpTransfer> alive(transfer); // its receiver may delete it
            Q_EMIT transfer->finished(response);
            if (alive)
                transfer->deleteLater();
        },
        Qt::QueuedConnection);
}

void HttpClient::Private::collect()
{
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        HttpTransfer::State *state = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &state);
        const CURLcode code = message->data.result;
        long status = 0;
        curl_easy_getinfo(state->easy, CURLINFO_RESPONSE_CODE, &status);
        const char *location = nullptr; // of a redirect that says where to
        if (isRedirect(status))
            curl_easy_getinfo(state->easy, CURLINFO_REDIRECT_URL, &location);

        HttpResponse response;
        response.status = int(status);
        // curl keeps one header line in a buffer of its own, 100 KiB at most,
        // and says "out of memory" for a longer one.
        if (state->headTooLarge || code == CURLE_OUT_OF_MEMORY) {
            response.failure = HttpResponse::Failure::Failed;
            response.reason = limitReason(state->request.maxHead, "answer head");
        } else if (state->bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            response.failure = HttpResponse::Failure::BodyTooLarge;
            response.reason = limitReason(state->request.maxBody, "answer");
        } else if (code != CURLE_OK) {
            response.failure = HttpResponse::Failure::Failed;
            response.reason =
                QString::fromUtf8(*state->error ? state->error : curl_easy_strerror(code));
        } else if (location) {
            const QUrl next = QUrl::fromEncoded(location);
            response.failure = HttpResponse::Failure::Failed;
            if (!sameOrigin(state->url, next)) {
                response.reason = u"redirect to another origin not followed"_s;
            } else if (state->redirects >= state->request.maxRedirects) {
                response.reason = u"too many redirects"_s;
            } else {
                detach(state);
                ++state->redirects;
                state->url = next;
                // As browsers do: 303, and 301 and 302 after a POST, ask with GET.
                if (status == 303 || ((status == 301 || status == 302) && state->method == "POST"))
                    state->method = QByteArrayLiteral("GET");
                *state->error = 0;
                if (!start(state))
                    finish(state, failed(QString::fromUtf8(state->error)));
                continue;
            }
        } else {
            response.body = std::move(state->body);
        }
        finish(state, std::move(response));
    }
}

void HttpClient::Private::drive(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(multi, socket, events, &running);
    collect();
}

void HttpClient::Private::unwatch(curl_socket_t socket)
{
    const Watch watch = sockets.take(socket);
    // The notifier may be the one whose signal is being delivered.
    for (QSocketNotifier *notifier : {watch.read, watch.write}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
}

int HttpClient::Private::onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
{
    auto *d = static_cast<Private *>(self);
    if (what == CURL_POLL_REMOVE) {
        d->unwatch(socket);
        return 0;
    }
    Watch &watch = d->sockets[socket];
    const auto notifier = [d, socket](QSocketNotifier *&slot, QSocketNotifier::Type type,
                                      int event) {
        if (!slot) {
            slot = new QSocketNotifier(qintptr(socket), type, d->q);
            QObject::connect(slot, &QSocketNotifier::activated, d->q,
                             [d, socket, event] { d->drive(socket, event); });
        }
        return slot;
    };
    notifier(watch.read, QSocketNotifier::Read, CURL_CSELECT_IN)
        ->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    notifier(watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT)
        ->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int HttpClient::Private::onTimer(CURLM *, long ms, void *self)
{
    auto *d = static_cast<Private *>(self);
    if (ms < 0)
        d->timer.stop();
    else
        d->timer.start(int(ms));
    return 0;
}

size_t HttpClient::Private::onHeader(char *, size_t size, size_t count, void *opaque)
{
    auto *state = static_cast<HttpTransfer::State *>(opaque);
    const size_t bytes = size * count;
    state->headBytes += qint64(bytes);
    if (state->headBytes > state->request.maxHead) {
        state->headTooLarge = true;
        return 0;
    }
    if (state->request.idleTimeout.count() > 0)
        state->idle.start();
    return bytes;
}

size_t HttpClient::Private::onBody(char *data, size_t size, size_t count, void *opaque)
{
    auto *state = static_cast<HttpTransfer::State *>(opaque);
    const size_t bytes = size * count;
    if (state->body.size() + qint64(bytes) > state->request.maxBody) {
        state->bodyTooLarge = true;
        return 0;
    }
    state->body.append(data, qsizetype(bytes));
    if (state->request.idleTimeout.count() > 0)
        state->idle.start();
    return bytes;
}

int HttpClient::Private::onDebug(CURL *, curl_infotype type, char *, size_t size, void *opaque)
{
    if (type == CURLINFO_HEADER_IN || type == CURLINFO_DATA_IN)
        static_cast<HttpTransfer::State *>(opaque)->wireBytes += qint64(size);
    return 0;
}

int HttpClient::Private::onProgress(void *opaque, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *state = static_cast<HttpTransfer::State *>(opaque);
    if (state->wireBytes <= state->request.maxBody + state->request.maxHead)
        return 0;
    state->bodyTooLarge = true;
    return 1;
}

bool sameOrigin(const QUrl &from, const QUrl &to)
{
    return to.isValid() && from.scheme() == to.scheme() && from.host() == to.host() &&
           from.port(from.scheme() == u"https" ? 443 : 80) ==
               to.port(to.scheme() == u"https" ? 443 : 80);
}

bool isLoopback(const QUrl &url)
{
    const QByteArray host = url.host().toLower().toLatin1();
    if (host == "localhost")
        return true;
    unsigned char v4[4];
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.constData(), v4) == 1)
        return v4[0] == 127;
    return ::inet_pton(AF_INET6, host.constData(), &v6) == 1 &&
           (IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127));
}

QByteArray environmentProxy(const QUrl &url, const std::function<QByteArray(const char *)> &env)
{
    // A proxy cannot reach this machine's loopback for us.
    if (isLoopback(url))
        return {};
    const bool https = url.scheme() == u"https";
    for (const char *name : {https ? "https_proxy" : "http_proxy",
                             https ? "HTTPS_PROXY" : "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        const QByteArray value = env(name).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return {};
}

} // namespace moxel::net
