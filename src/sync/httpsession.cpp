// The network half of a translation request, built as the moxel-http module.
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

class Session final : public QNetworkAccessManager
{
public:
    explicit Session(QObject *parent) : QNetworkAccessManager(parent)
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
    auto tooLarge = std::make_shared<bool>(false);
    auto guard = [reply, tooLarge, limit = post.maxAnswerBytes] {
        if (*tooLarge)
            return;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > limit || reply->bytesAvailable() > limit) {
            *tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, guard);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, guard);
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, tooLarge, done = std::move(done)] {
            reply->deleteLater();
            HttpPostResult exchange;
            exchange.tooLarge = *tooLarge;
            const QNetworkReply::NetworkError error = reply->error();
            if (!exchange.tooLarge && error != QNetworkReply::NoError && !isHttpStatus(reply))
                exchange.failure = reply->errorString();
            // A redirect we refused to follow carries no answer, and a
            // reply aborted by the transfer timeout is closed.
            if (!exchange.tooLarge && error != QNetworkReply::InsecureRedirectError &&
                reply->isOpen())
                exchange.body = reply->readAll();
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
