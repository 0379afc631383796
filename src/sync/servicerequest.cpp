#include "servicerequest.h"

#include "synccontroller.h"
#include "translation.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

using namespace Qt::StringLiterals;

namespace moxel {

namespace {

constexpr int TransferTimeoutMs = 45000;

// Nothing a service sets survives the request, and nothing is ever sent back.
class NoCookies final : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

void deliver(TranslateDone done, std::optional<QString> result)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [done = std::move(done), result = std::move(result)] { done(result); },
        Qt::QueuedConnection);
}

// Qt reports an HTTP error status as an error of the reply; only the body
// decides here, and only failures of the exchange itself are worth a line.
bool isHttpStatus(const QNetworkReply *reply)
{
    const int error = reply->error();
    const bool statusError =
        (error >= QNetworkReply::ContentAccessDenied &&
         error <= QNetworkReply::UnknownContentError) ||
        (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return statusError && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

} // namespace

QNetworkAccessManager *newSession(QObject *parent)
{
    auto *session = new QNetworkAccessManager(parent);
    session->setProxy(QNetworkProxy::NoProxy);
    session->setCookieJar(new NoCookies(session));
    session->setCache(nullptr);
    session->setStrictTransportSecurityEnabled(false);
    session->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    session->setTransferTimeout(TransferTimeoutMs);
    return session;
}

void translate(const QString &text, const QString &to, TranslateDone done)
{
    SyncController &sync = SYNC();
    const std::optional<QUrl> url = translateUrl(sync.proxy);
    if (!url || !tokenUsable(sync.token)) {
        done(std::nullopt);
        return;
    }

    QNetworkRequest request(*url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!sync.token.isEmpty())
        request.setRawHeader(QByteArrayLiteral("X-Token"), sync.token.toUtf8());
    request.setTransferTimeout(TransferTimeoutMs);
    // The token must never follow a redirect to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QNetworkReply *reply = sync.session()->post(request, requestBody(text, to));
    auto tooLarge = std::make_shared<bool>(false);
    auto guard = [reply, tooLarge] {
        if (*tooLarge)
            return;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > MaxAnswerBytes || reply->bytesAvailable() > MaxAnswerBytes) {
            *tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, guard);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, guard);
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, tooLarge, done = std::move(done)]() mutable {
                         reply->deleteLater();
                         const bool debug = SYNC().debug;
                         if (*tooLarge) {
                             if (debug)
                                 syncLine(u"SYNC: 返回体过大，已中止（超过 "_s +
                                          QString::number(MaxAnswerBytes) + u" 字节）"_s);
                             deliver(std::move(done), std::nullopt);
                             return;
                         }
                         QStringList lines;
                         const QNetworkReply::NetworkError error = reply->error();
                         if (error != QNetworkReply::NoError && !isHttpStatus(reply))
                             lines << requestErrorLine(reply->errorString());
                         // A redirect we refused to follow carries no answer, and a
                         // reply aborted by the transfer timeout is closed.
                         const QByteArray body =
                             error == QNetworkReply::InsecureRedirectError || !reply->isOpen()
                                 ? QByteArray()
                                 : reply->readAll();
                         Answer answer = readAnswer(body);
                         lines << answer.debugLines;
                         if (debug) {
                             for (const QString &line : std::as_const(lines))
                                 syncLine(line);
                         }
                         deliver(std::move(done), std::move(answer.text));
                     });
}

} // namespace moxel
