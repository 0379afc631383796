#include "upstream.h"

#include "httpclient.h"

#include <QJsonDocument>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

UpstreamFetch::UpstreamFetch(net::HttpClient *client, const net::HttpRequest &request,
                             QObject *parent)
    : QObject(parent)
{
    net::HttpTransfer *transfer = client->send(request, this);
    connect(transfer, &net::HttpTransfer::finished, this, [this](const net::HttpResponse &answer) {
        using Failure = net::HttpResponse::Failure;
        switch (answer.failure) {
        case Failure::None:
            Q_EMIT done({answer.status, answer.body, {}});
            return;
        case Failure::BodyTooLarge:
            Q_EMIT done({0, {}, u"upstream "_s + answer.reason});
            return;
        default:
            Q_EMIT done({0, {}, u"upstream failed: "_s + answer.reason});
            return;
        }
    });
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

net::HttpRequest upstreamRequest(const QUrl &url, const UpstreamSettings &settings)
{
    net::HttpRequest request;
    request.url = url;
    request.headers.append({QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json")});
    request.maxBody = settings.maxAnswer;
    request.maxHead = MaxUpstreamHead;
    // The service's own wait answers 504 and abandons the exchange; this is
    // the backstop for exchanges nobody waits on (the language list).
    request.idleTimeout = settings.timeout + std::chrono::seconds(1);
    request.deadline = settings.timeout + std::chrono::seconds(1);
    return request;
}

net::HttpRequest jsonRequest(const QUrl &url, const UpstreamSettings &settings,
                             const QByteArray &body)
{
    net::HttpRequest request = upstreamRequest(url, settings);
    request.method = QByteArrayLiteral("POST");
    request.headers.append(
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});
    request.body = body;
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
