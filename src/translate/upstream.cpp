#include "upstream.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkReply>
#include <QNetworkRequest>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

UpstreamFetch::UpstreamFetch(QNetworkReply *reply, qint64 cap, QObject *parent)
    : QObject(parent), m_reply(reply), m_cap(cap)
{
    reply->setParent(this);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_cap)
            overflow();
    });
    connect(reply, &QNetworkReply::readyRead, this, &UpstreamFetch::readMore);
    connect(reply, &QNetworkReply::finished, this, &UpstreamFetch::finish);
}

UpstreamFetch::~UpstreamFetch()
{
    // Aborting emits finished() at once; nobody must hear about it any more.
    m_reply->disconnect(this);
    m_reply->abort();
}

bool UpstreamFetch::readMore()
{
    if (m_reply->bytesAvailable() + m_body.size() > m_cap) {
        overflow();
        return false;
    }
    m_body += m_reply->readAll();
    return true;
}

void UpstreamFetch::overflow()
{
    m_reply->disconnect(this);
    m_reply->abort();
    Q_EMIT done({0, {}, u"upstream answer larger than %1 bytes"_s.arg(m_cap)});
}

void UpstreamFetch::finish()
{
    m_reply->disconnect(this);
    if (!readMore())
        return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = m_reply->error();
    // Qt reports HTTP error statuses as errors too (400 even as a protocol
    // one); with a status in hand, only a broken transfer counts as failure.
    const bool transport =
        (error > QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError) ||
        error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure;
    if (!status.isValid() || transport) {
        Q_EMIT done({0, {}, u"upstream failed: %1"_s.arg(m_reply->errorString())});
        return;
    }
    Q_EMIT done({status.toInt(), m_body, {}});
}

QUrl joinUrl(const QUrl &base, const QString &path)
{
    QUrl url = base;
    QString prefix = url.path();
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    url.setPath(prefix + path);
    return url;
}

QNetworkRequest upstreamRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    // The key rides in a header or in the body, and a 307 or 308 would resend
    // both to wherever the upstream points.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    return request;
}

QNetworkRequest jsonRequest(const QUrl &url)
{
    QNetworkRequest request = upstreamRequest(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    return request;
}

std::optional<QJsonObject> jsonObject(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

QString upstreamError(const UpstreamAnswer &answer)
{
    if (!answer.failure.isEmpty())
        return answer.failure;
    QString message;
    if (const std::optional<QJsonObject> object = jsonObject(answer.body)) {
        const QJsonValue error = object->value(u"error"_s);
        if (error.isString())
            message = error.toString();
        else if (error.isObject() && error.toObject().value(u"message"_s).isString())
            message = error.toObject().value(u"message"_s).toString();
        else if (object->value(u"message"_s).isString())
            message = object->value(u"message"_s).toString();
    }
    message = message.simplified().left(300);
    const QString status = u"HTTP %1"_s.arg(answer.status);
    return message.isEmpty() ? status : status + u": "_s + message;
}

} // namespace moxel::xlate
