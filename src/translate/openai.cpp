#include "openai.h"

#include "httpclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

namespace {

// Hosted models refuse caps above their own output limit, which is 16k
// tokens or more.
constexpr qsizetype MostTokens = 16384;

} // namespace

QString languageName(const QString &to)
{
    const QString code = QString(to).replace(u'_', u'-');
    const QString lower = code.toLower();
    if (lower == u"zh" || lower == u"zh-cn" || lower == u"zh-sg" || lower.startsWith(u"zh-hans"))
        return u"Simplified Chinese"_s;
    if (lower == u"zh-tw" || lower == u"zh-hk" || lower == u"zh-mo" || lower.startsWith(u"zh-hant"))
        return u"Traditional Chinese"_s;
    const QLocale locale(code);
    if (locale.language() == QLocale::C || code.section(u'-', 0, 0).size() < 2)
        return to;
    QString name = QLocale::languageToString(locale.language());
    if (code.contains(u'-') && locale.territory() != QLocale::AnyTerritory)
        name += u" ("_s + QLocale::territoryToString(locale.territory()) + u')';
    return name;
}

QString systemPrompt(const QString &languageName)
{
    return u"You are a translation engine. Translate the user's message into %1. "
           u"Keep every number, price, currency, order number, product code and line break "
           u"exactly as written. If the message is already in %1, return it unchanged. "
           u"Output only the translation: no quotes, notes or explanations."_s.arg(languageName);
}

QString plainAnswer(QString content)
{
    content = content.trimmed();
    if (content.startsWith(u"<think>")) {
        const qsizetype end = content.indexOf(u"</think>");
        if (end >= 0)
            content = content.mid(end + 8).trimmed();
    }
    static const QList<std::pair<QChar, QChar>> quotes = {{u'"', u'"'},
                                                          {u'\'', u'\''},
                                                          {QChar(0x201C), QChar(0x201D)},
                                                          {QChar(0x300C), QChar(0x300D)},
                                                          {QChar(0x00AB), QChar(0x00BB)}};
    for (const auto &[open, close] : quotes) {
        // "a" and "b" is a translation that happens to start and end with quotes.
        if (content.size() >= 2 && content.front() == open && content.back() == close &&
            !QStringView(content).mid(1, content.size() - 2).contains(open) &&
            !QStringView(content).mid(1, content.size() - 2).contains(close)) {
            content = content.mid(1, content.size() - 2).trimmed();
            break;
        }
    }
    return content;
}

int tokenCap(const QString &text)
{
    // A token is rarely shorter than half a character in any script; the
    // headroom covers short texts and a brief preamble.
    return int(std::min(2 * text.size() + 512, MostTokens));
}

Outcome openaiOutcome(const UpstreamAnswer &answer)
{
    if (!answer.failure.isEmpty() || answer.status / 100 != 2)
        return Outcome::failure(u"openai: "_s + upstreamError(answer));
    const std::optional<QJsonObject> object = jsonObject(answer.body);
    const QJsonObject choice =
        object ? object->value(u"choices"_s).toArray().at(0).toObject() : QJsonObject();
    const QJsonValue content = choice.value(u"message"_s).toObject().value(u"content"_s);
    // A cut translation would pass for a whole one in the draft.
    if (choice.value(u"finish_reason"_s) == u"length"_s)
        return Outcome::failure(u"openai: the answer was cut off at the token limit"_s);
    const QString plain = plainAnswer(content.toString());
    // What is left of a reasoning block after the first closed one was taken
    // off never ended, or a second one followed.
    if (plain.startsWith(u"<think>"))
        return Outcome::failure(u"openai: the answer is all reasoning, no </think>"_s);
    if (!content.isString() || plain.isEmpty())
        return Outcome::failure(u"openai: answer without choices[0].message.content"_s);
    return Outcome::success(plain);
}

OpenAiBackend::OpenAiBackend(UpstreamSettings settings, QString model, net::HttpClient *network,
                             QObject *parent)
    : Backend(parent), m_settings(std::move(settings)), m_model(std::move(model)),
      m_network(network)
{}

QString refusedParameter(const UpstreamAnswer &answer)
{
    const std::optional<QJsonObject> object =
        answer.status == 400 ? jsonObject(answer.body) : std::nullopt;
    if (!object)
        return {};
    const QJsonObject error = object->value(u"error"_s).toObject();
    const QString param = error.value(u"param"_s).toString();
    const QString message = error.value(u"message"_s).toString();
    // "max_tokens is too large" names the parameter too, but dropping it
    // would not help; only a refusal of the parameter itself counts.
    const bool unsupported = error.value(u"code"_s).toString().startsWith(u"unsupported"_s) ||
                             message.contains(u"unsupported"_s, Qt::CaseInsensitive) ||
                             message.contains(u"not support"_s, Qt::CaseInsensitive);
    for (const QString &name : {u"max_tokens"_s, u"temperature"_s}) {
        if (unsupported && (param == name || message.contains(u'\'' + name + u'\'')))
            return name;
    }
    return {};
}

BackendCall *OpenAiBackend::translate(const QString &text, const QString &to, QObject *parent)
{
    auto *call = new BackendCall(parent);
    send(call, text, to);
    return call;
}

void OpenAiBackend::send(BackendCall *call, const QString &text, const QString &to)
{
    const ChatParameters used = m_parameters;
    const QJsonArray messages = {
        QJsonObject{{u"role"_s, u"system"_s}, {u"content"_s, systemPrompt(languageName(to))}},
        QJsonObject{{u"role"_s, u"user"_s}, {u"content"_s, text}}};
    QJsonObject body{{u"model"_s, m_model}, {u"messages"_s, messages}, {u"stream"_s, false}};
    if (used.temperature)
        body.insert(u"temperature"_s, 0);
    // A reasoning model's hidden reasoning counts against this cap, so it
    // gets the most a translation may ever take.
    if (used.completionTokens)
        body.insert(u"max_completion_tokens"_s, int(MostTokens));
    else
        body.insert(u"max_tokens"_s, tokenCap(text));
    const bool versioned =
        m_settings.base.path().endsWith(u"/v1") || m_settings.base.path().endsWith(u"/v1/");
    net::HttpRequest request = jsonRequest(
        joinUrl(m_settings.base, versioned ? u"/chat/completions"_s : u"/v1/chat/completions"_s),
        m_settings, QJsonDocument(body).toJson(QJsonDocument::Compact));
    if (!m_settings.secret.isEmpty())
        request.headers.append({QByteArrayLiteral("Authorization"), "Bearer " + m_settings.secret});

    auto *fetch = new UpstreamFetch(m_network, request, call);
    connect(fetch, &UpstreamFetch::done, call,
            [this, call, fetch, text, to, used](const UpstreamAnswer &answer) {
                const QString refused = refusedParameter(answer);
                const bool retry = (refused == u"max_tokens" && !used.completionTokens) ||
                                   (refused == u"temperature" && used.temperature);
                if (!retry) {
                    Q_EMIT call->finished(openaiOutcome(answer));
                    return;
                }
                if (refused == u"max_tokens")
                    m_parameters.completionTokens = true;
                else
                    m_parameters.temperature = false;
                fetch->deleteLater();
                send(call, text, to);
            });
}

} // namespace moxel::xlate
