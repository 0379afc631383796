#pragma once

#include "http.h"

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QString>

#include <chrono>
#include <functional>

namespace moxel::xlate {

class Backend;

struct ServiceSettings
{
    // Empty: requests need no token.
    QByteArray token;
    std::chrono::milliseconds timeout{40000};
    int maxUpstream = 4;
    int maxQueued = 16;
};

// Equal contents, compared in time that depends on neither.
bool sameSecret(const QByteArray &given, const QByteArray &expected);

// Why a request failed, fit for a log line: its first words on one line,
// with every `hidden` string and anything that looks like a key taken out.
QString logReason(const QString &message, const QStringList &hidden);

// POST /translate: checks the token and the request, keeps at most
// `maxUpstream` backend calls in flight (the rest wait in line, up to
// `maxQueued`), and answers {"text": …} or, with a non-2xx status, {"error": …}.
class TranslateService final : public QObject
{
    Q_OBJECT
public:
    TranslateService(Backend *backend, ServiceSettings settings, QObject *parent = nullptr);

    void handle(HttpExchange *exchange);
    // Requests in line for an upstream place.
    qsizetype waiting() const { return m_waiting.size(); }
    // Writes one line per finished request of `server` through `sink`.
    void logExchanges(HttpServer *server, std::function<void(const QString &)> sink);

private:
    class Job;
    void admit(HttpExchange *exchange, const QString &text, const QString &to);
    void start(Job *job);
    void release();
    void pump();

    Backend *m_backend;
    ServiceSettings m_settings;
    int m_running = 0;
    // A job leaves the line when it starts or ends, whichever comes first.
    QQueue<Job *> m_waiting;
};

} // namespace moxel::xlate
