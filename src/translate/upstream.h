#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace moxel::xlate {

// An upstream answer whose head arrived; `failure` is set instead when there
// was none, or when its body broke off or outgrew the cap.
struct UpstreamAnswer
{
    int status = 0;
    QByteArray body;
    QString failure;
};

// Reads one upstream reply into memory, never more than `cap` bytes of it.
class UpstreamFetch final : public QObject
{
    Q_OBJECT
public:
    UpstreamFetch(QNetworkReply *reply, qint64 cap, QObject *parent);
    ~UpstreamFetch() override;
    Q_DISABLE_COPY_MOVE(UpstreamFetch)

Q_SIGNALS:
    void done(const moxel::xlate::UpstreamAnswer &answer);

private:
    // False when the answer outgrew the cap, which was then reported.
    bool readMore();
    void finish();
    void overflow();

    QNetworkReply *m_reply;
    qint64 m_cap;
    QByteArray m_body;
};

struct UpstreamSettings
{
    QUrl base;
    QByteArray secret;
    std::chrono::milliseconds timeout{40000};
    qint64 maxAnswer = 2 * 1024 * 1024;
};

// `base` with `path` appended to its path, never doubling a slash.
QUrl joinUrl(const QUrl &base, const QString &path);
// A request that follows redirects only within the upstream's own origin. The
// calls' own deadline is the service's, so no transfer timeout is set here.
QNetworkRequest upstreamRequest(const QUrl &url);
// The same with a JSON body.
QNetworkRequest jsonRequest(const QUrl &url);
// A JSON object, or nothing for anything else (including trailing garbage).
std::optional<QJsonObject> jsonObject(const QByteArray &body);
// The message of an error body: {"error": "…"}, {"error": {"message": "…"}}
// or {"message": "…"}; else "HTTP <status>".
QString upstreamError(const UpstreamAnswer &answer);

} // namespace moxel::xlate
