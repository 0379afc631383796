// The network half of a translation request, built as the moxel-http module.
#include "httpaccess.h"
#include "httpmodule.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

namespace moxel {

namespace {

// Nothing a service sets survives the request, and nothing is ever sent back.
class NoCookies final : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

class Session final : public net::HttpAccess
{
public:
    explicit Session(QObject *parent) : HttpAccess(parent)
    {
        setProxy(QNetworkProxy::NoProxy);
        setCookieJar(new NoCookies(this));
        setCache(nullptr);
        setStrictTransportSecurityEnabled(false);
        setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    }

    ~Session() override
    {
        // What is still in flight is abandoned: its completion must not run
        // while the application is going away.
        const auto replies = findChildren<QNetworkReply *>();
        for (QNetworkReply *reply : replies) {
            reply->blockSignals(true);
            reply->abort();
        }
    }

    Q_DISABLE_COPY_MOVE(Session)
};

// Qt reports an HTTP error status as an error of the reply; only the body
// decides then, and only failures of the exchange itself are worth a line.
bool isHttpStatus(const QNetworkReply *reply)
{
    const int error = reply->error();
    const bool statusError =
        (error >= QNetworkReply::ContentAccessDenied &&
         error <= QNetworkReply::UnknownContentError) ||
        (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return statusError && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

QObject *makeSession(QObject *parent)
{
    return new Session(parent);
}

void send(QObject *session, const HttpPost &post, HttpDone done)
{
    QNetworkRequest request(post.url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!post.token.isEmpty())
        request.setRawHeader(QByteArrayLiteral("X-Token"), post.token);
    request.setTransferTimeout(post.transferTimeoutMs);
    // The token must never follow a redirect to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QNetworkReply *reply = static_cast<Session *>(session)->post(request, post.body);
    // The session reads no further ahead than its read buffer: taking the
    // answer as it comes is what bounds it.
    struct Received
    {
        QByteArray body;
        bool tooLarge = false;
    };
    auto received = std::make_shared<Received>();
    auto take = [reply, received, limit = post.maxAnswerBytes] {
        if (received->tooLarge)
            return;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > limit || received->body.size() + reply->bytesAvailable() > limit) {
            received->tooLarge = true;
            received->body.clear();
            reply->abort();
            return;
        }
        received->body += reply->readAll();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, take);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, received, take, done = std::move(done)] {
            reply->deleteLater();
            const QNetworkReply::NetworkError error = reply->error();
            // A redirect we refused to follow carries no answer, and a reply
            // aborted by the transfer timeout is closed.
            if (error == QNetworkReply::InsecureRedirectError || !reply->isOpen())
                received->body.clear();
            else
                take();
            HttpPostResult exchange;
            exchange.tooLarge = received->tooLarge;
            if (!exchange.tooLarge && error != QNetworkReply::NoError && !isHttpStatus(reply))
                exchange.failure = reply->errorString();
            exchange.body = std::move(received->body);
            done(exchange);
        });
}

const HttpModule Table{HttpModuleAbi, &makeSession, &send};

} // namespace

} // namespace moxel

extern "C" Q_DECL_EXPORT const moxel::HttpModule *moxel_http_module()
{
    return &moxel::Table;
}
