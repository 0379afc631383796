#include "service.h"

#include "backend.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

bool sameSecret(const QByteArray &given, const QByteArray &expected)
{
    // Digests have one length, so neither the length nor the first differing
    // byte of the expected token shows in the time taken.
    const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QString logReason(const QString &message, const QStringList &hidden)
{
    QString reason = message;
    for (const QString &secret : hidden) {
        // A word or two of the text would blank out ordinary words of the message.
        if (secret.trimmed().size() >= 4)
            reason.replace(secret, u"…"_s);
    }
    // Upstreams quote keys in their refusals, partly masked ("sk-proj-****wxyz").
    static const QRegularExpression run(u"[A-Za-z0-9_*+/=.-]{16,}"_s);
    static const QRegularExpression keyish(u"[0-9*]"_s);
    for (qsizetype from = 0;;) {
        const QRegularExpressionMatch m = run.match(reason, from);
        if (!m.hasMatch())
            break;
        const bool key = m.captured().contains(keyish);
        if (key)
            reason.replace(m.capturedStart(), m.capturedLength(), u"…"_s);
        from = key ? m.capturedStart() + 1 : m.capturedEnd();
    }
    for (QChar &c : reason) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
        else if (c == u'"')
            c = u'\'';
    }
    const QStringList words = reason.simplified().split(u' ', Qt::SkipEmptyParts);
    reason = words.mid(0, 12).join(u' ');
    if (words.size() > 12 || reason.size() > 120)
        reason = reason.left(119) + u'…';
    return reason;
}

namespace {

bool plausibleLanguage(const QString &to)
{
    static const QRegularExpression pattern(u"^[A-Za-z]{2,8}([-_][A-Za-z0-9]{1,8}){0,3}$"_s);
    return pattern.match(to).hasMatch();
}

bool jsonType(const QByteArray &contentType)
{
    const qsizetype end = contentType.indexOf(';');
    const QByteArray type = (end < 0 ? contentType : contentType.left(end)).trimmed();
    return type.compare("application/json", Qt::CaseInsensitive) == 0;
}

} // namespace

TranslateService::TranslateService(Backend *backend, ServiceSettings settings, QObject *parent)
    : QObject(parent), m_backend(backend), m_settings(std::move(settings))
{}

void TranslateService::logExchanges(HttpServer *server, std::function<void(const QString &)> sink)
{
    const QString backend = m_backend->name();
    const QStringList secrets = {QString::fromUtf8(m_settings.token),
                                 QString::fromUtf8(m_backend->secret())};
    connect(server, &HttpServer::exchangeDone, this,
            [sink = std::move(sink), backend, secrets](const ExchangeRecord &record) {
                const QString time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
                const QString status = record.status ? QString::number(record.status) : u"gone"_s;
                QString line = u"%1 backend=%2 to=%3 status=%4 ms=%5"_s.arg(
                    time, backend, record.target.isEmpty() ? u"-"_s : record.target, status,
                    QString::number(record.ms));
                if (!record.reason.isEmpty())
                    line += u" reason=\"%1\""_s.arg(logReason(record.reason, secrets));
                sink(line);
            });
}

void TranslateService::handle(HttpExchange *exchange)
{
    const HttpRequest &request = exchange->request();
    if (request.path != "/translate") {
        exchange->respondError(404, u"not found; the service answers POST /translate"_s);
        return;
    }
    if (request.method != "POST") {
        exchange->respondError(405, u"use POST"_s, {{"Allow"_ba, "POST"_ba}});
        return;
    }
    if (!jsonType(request.header("content-type"))) {
        // A page's script may only send this type after a preflight, which
        // the service never grants.
        exchange->respondError(415, u"send the body as Content-Type: application/json"_s);
        return;
    }
    if (!m_settings.token.isEmpty() && !sameSecret(request.header("x-token"), m_settings.token)) {
        exchange->respondError(401, u"missing or wrong X-Token"_s);
        return;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        exchange->respondError(400, u"the body must be a JSON object"_s);
        return;
    }
    const QJsonValue text = doc.object().value(u"text"_s);
    const QJsonValue to = doc.object().value(u"to"_s);
    if (!text.isString()) {
        exchange->respondError(400, u"\"text\" must be a string"_s);
        return;
    }
    if (!to.isString() || !plausibleLanguage(to.toString())) {
        exchange->respondError(400, u"\"to\" must be a language code such as \"zh\""_s);
        return;
    }
    exchange->target = to.toString();
    if (text.toString().trimmed().isEmpty()) {
        exchange->respondJson(200, QJsonObject{{u"text"_s, text}});
        return;
    }
    admit(exchange, text.toString(), to.toString());
}

// One admitted request, from its arrival to its answer. Deleting it cancels
// the backend call and, if it held one, gives back its upstream place.
class TranslateService::Job final : public QObject
{
public:
    Job(TranslateService *service, HttpExchange *exchange, QString text, QString to)
        : QObject(exchange), service(service), exchange(exchange), text(std::move(text)),
          to(std::move(to))
    {}
    // The backend call is a child, deleted after this.
    ~Job() override
    {
        if (!service)
            return;
        if (holding)
            service->release();
        else
            service->m_waiting.removeOne(this);
    }
    Q_DISABLE_COPY_MOVE(Job)

    QPointer<TranslateService> service;
    HttpExchange *exchange;
    const QString text;
    const QString to;
    QPointer<BackendCall> call;
    bool holding = false;
};

void TranslateService::admit(HttpExchange *exchange, const QString &text, const QString &to)
{
    auto *job = new Job(this, exchange, text, to);
    // One deadline from arrival covers the wait in line and the upstream call,
    // so that the popup always hears back before it gives up itself.
    auto *deadline = new QTimer(job);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, job, [this, job] {
        job->exchange->respondError(
            504, u"%1: no answer within %2 ms"_s.arg(m_backend->name(),
                                                     QString::number(m_settings.timeout.count())));
        job->deleteLater();
    });
    deadline->start(m_settings.timeout);

    if (m_running < m_settings.maxUpstream) {
        start(job);
    } else if (m_waiting.size() < m_settings.maxQueued) {
        m_waiting.enqueue(job);
    } else {
        exchange->respondError(503, u"busy: too many translations waiting"_s);
        delete job;
    }
}

void TranslateService::start(Job *job)
{
    ++m_running;
    job->holding = true;
    job->call = m_backend->translate(job->text, job->to, job);
    connect(job->call, &BackendCall::finished, job, [job](const Outcome &outcome) {
        if (outcome.ok) {
            job->exchange->respondJson(200, QJsonObject{{u"text"_s, outcome.text}});
        } else {
            // An upstream may quote what it was asked to translate.
            job->exchange->reason = logReason(outcome.error, job->text.split(u'\n'));
            job->exchange->respondError(outcome.status, outcome.error);
        }
        job->deleteLater();
    });
}

void TranslateService::release()
{
    --m_running;
    // Not from inside the destructor that gave the place back.
    QMetaObject::invokeMethod(this, &TranslateService::pump, Qt::QueuedConnection);
}

void TranslateService::pump()
{
    while (m_running < m_settings.maxUpstream && !m_waiting.isEmpty()) {
        if (Job *next = m_waiting.dequeue(); !next->exchange->answered())
            start(next);
    }
}

} // namespace moxel::xlate
