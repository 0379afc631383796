#include "libretranslate.h"

#include "httpclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

QString libreLanguage(const QString &to, const QStringList &serverCodes)
{
    const auto listed = [&](const QString &code) -> std::optional<QString> {
        for (const QString &known : serverCodes) {
            if (known.compare(code, Qt::CaseInsensitive) == 0)
                return known;
        }
        return std::nullopt;
    };
    const QString wanted = QString(to).replace(u'_', u'-');
    if (const auto same = listed(wanted))
        return *same;

    const QString lower = wanted.toLower();
    const QString primary = lower.section(u'-', 0, 0);
    QStringList candidates;
    static const QStringList traditional = {u"zh-tw"_s, u"zh-hk"_s, u"zh-mo"_s, u"zh-hant"_s};
    const bool hant = traditional.contains(lower) || lower.startsWith(u"zh-hant");
    if (hant) {
        // Never "zh": Simplified characters are not what a reader in Taiwan
        // or Hong Kong asked for.
        candidates = {u"zh-Hant"_s, u"zh-TW"_s, u"zt"_s};
    } else if (primary == u"zh") {
        candidates = {u"zh-Hans"_s, u"zh-CN"_s, u"zh"_s};
    } else if (lower == u"pt-br") {
        candidates = {u"pb"_s};
    }
    if (!hant)
        candidates.append(primary);
    for (const QString &candidate : std::as_const(candidates)) {
        if (const auto found = listed(candidate))
            return *found;
    }
    const bool chineseListed =
        std::any_of(serverCodes.begin(), serverCodes.end(), [](const QString &code) {
            return code.startsWith(u"zh", Qt::CaseInsensitive);
        });
    return hant && chineseListed ? QString() : to;
}

LibreTranslateBackend::LibreTranslateBackend(UpstreamSettings settings, net::HttpClient *network,
                                             QObject *parent)
    : Backend(parent), m_settings(std::move(settings)), m_network(network)
{}

BackendCall *LibreTranslateBackend::translate(const QString &text, const QString &to,
                                              QObject *parent)
{
    auto *call = new BackendCall(parent);
    if (m_state == Languages::Known) {
        send(call, text, to);
        return call;
    }
    auto waiting = std::make_shared<QMetaObject::Connection>();
    *waiting = connect(this, &LibreTranslateBackend::languagesSettled, call,
                       [this, call, text, to, waiting] {
                           disconnect(*waiting);
                           send(call, text, to);
                       });
    if (m_state == Languages::Unknown)
        fetchLanguages();
    return call;
}

void LibreTranslateBackend::fetchLanguages()
{
    m_state = Languages::Asking;
    auto *fetch = new UpstreamFetch(
        m_network, upstreamRequest(joinUrl(m_settings.base, u"/languages"_s), m_settings), this);
    connect(fetch, &UpstreamFetch::done, this, [this, fetch](const UpstreamAnswer &answer) {
        fetch->deleteLater();
        QStringList codes;
        const QJsonArray languages = QJsonDocument::fromJson(answer.body).array();
        for (const QJsonValue &language : languages) {
            const QJsonValue code = language.toObject().value(u"code"_s);
            if (code.isString())
                codes.append(code.toString());
        }
        // A server that could not say is asked again by the next request; this
        // one goes out with its code as it came.
        const bool known = answer.failure.isEmpty() && answer.status / 100 == 2;
        m_state = known && !codes.isEmpty() ? Languages::Known : Languages::Unknown;
        m_codes = codes;
        Q_EMIT languagesSettled();
    });
}

void LibreTranslateBackend::send(BackendCall *call, const QString &text, const QString &to)
{
    const QString target = libreLanguage(to, m_codes);
    if (target.isEmpty()) {
        QStringList chinese;
        for (const QString &code : std::as_const(m_codes)) {
            if (code.startsWith(u"zh", Qt::CaseInsensitive))
                chinese.append(code);
        }
        const Outcome refused = Outcome::failure(
            u"libretranslate: the server offers Chinese only as %1, no Traditional (zh-Hant, "
            u"zh-TW, zt); %2 is not sent as Simplified"_s.arg(chinese.join(u", "_s), to),
            422);
        QTimer::singleShot(0, call, [call, refused] { Q_EMIT call->finished(refused); });
        return;
    }
    QJsonObject body{
        {u"q"_s, text}, {u"source"_s, u"auto"_s}, {u"target"_s, target}, {u"format"_s, u"text"_s}};
    if (!m_settings.secret.isEmpty())
        body.insert(u"api_key"_s, QString::fromUtf8(m_settings.secret));
    auto *fetch =
        new UpstreamFetch(m_network,
                          jsonRequest(joinUrl(m_settings.base, u"/translate"_s), m_settings,
                                      QJsonDocument(body).toJson(QJsonDocument::Compact)),
                          call);
    connect(fetch, &UpstreamFetch::done, call,
            [call](const UpstreamAnswer &answer) { Q_EMIT call->finished(libreOutcome(answer)); });
}

Outcome libreOutcome(const UpstreamAnswer &answer)
{
    const std::optional<QJsonObject> object = jsonObject(answer.body);
    const QJsonValue translated = object ? object->value(u"translatedText"_s) : QJsonValue();
    if (answer.failure.isEmpty() && answer.status / 100 == 2 && translated.isString())
        return Outcome::success(translated.toString());
    if (answer.failure.isEmpty() && answer.status / 100 == 2)
        return Outcome::failure(u"libretranslate: answer without a \"translatedText\" string"_s);
    return Outcome::failure(u"libretranslate: "_s + upstreamError(answer));
}

} // namespace moxel::xlate
