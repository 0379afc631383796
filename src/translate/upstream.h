#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace moxel::net {
class HttpClient;
class HttpTransfer;
struct HttpRequest;
} // namespace moxel::net

namespace moxel::xlate {

// An upstream answer whose head arrived; `failure` is set instead when there
// was none, or when it broke off or outgrew a limit.
struct UpstreamAnswer
{
    int status = 0;
    QByteArray body;
    QString failure;
};

// One upstream exchange; deleting it abandons the exchange.
class UpstreamFetch final : public QObject
{
    Q_OBJECT
public:
    UpstreamFetch(net::HttpClient *client, const net::HttpRequest &request, QObject *parent);
    Q_DISABLE_COPY_MOVE(UpstreamFetch)

Q_SIGNALS:
    void done(const moxel::xlate::UpstreamAnswer &answer);
};

struct UpstreamSettings
{
    QUrl base;
    // PEM certificates trusted besides the system's, for a company CA.
    QString caFile;
    QByteArray secret;
    std::chrono::milliseconds timeout{40000};
    qint64 maxAnswer = 2 * 1024 * 1024;
};

// `base` with `path` appended to its path, never doubling a slash.
QUrl joinUrl(const QUrl &base, const QString &path);
// All of an upstream answer's head: status lines, headers, interim answers
// and trailers.
inline constexpr qint64 MaxUpstreamHead = 64 * 1024;

// A GET within the settings' limits: the answer cap, the head cap, and a
// deadline a second after the service's wait.
net::HttpRequest upstreamRequest(const QUrl &url, const UpstreamSettings &settings);
// A POST of a JSON body within the same limits.
net::HttpRequest jsonRequest(const QUrl &url, const UpstreamSettings &settings,
                             const QByteArray &body);
// A JSON object, or nothing for anything else (including trailing garbage).
std::optional<QJsonObject> jsonObject(const QByteArray &body);
// The message of an error body: {"error": "…"}, {"error": {"message": "…"}}
// or {"message": "…"}; else "HTTP <status>".
QString upstreamError(const UpstreamAnswer &answer);

} // namespace moxel::xlate
