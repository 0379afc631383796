#pragma once

#include "backend.h"
#include "upstream.h"

namespace moxel::net {
class HttpAccess;
}

namespace moxel::xlate {

// The English name a model understands for a language code: "zh" is
// "Simplified Chinese", "pt-BR" is "Portuguese (Brazil)"; an unknown code is
// returned as it is.
QString languageName(const QString &to);
// The instruction sent as the system message.
QString systemPrompt(const QString &languageName);
// A chat answer made plain: a leading <think>…</think> block, surrounding
// white space and one pair of surrounding quotes removed.
QString plainAnswer(QString content);

// The max_tokens sent with `text`: room for any translation of it.
int tokenCap(const QString &text);
// What a chat completion answer means for the request: a cut answer or one
// that never left its reasoning block is a failure.
Outcome openaiOutcome(const UpstreamAnswer &answer);

// POST {base}/v1/chat/completions of any OpenAI-compatible server; a base
// that already ends in /v1 is used as it is.
class OpenAiBackend final : public Backend
{
    Q_OBJECT
public:
    OpenAiBackend(UpstreamSettings settings, QString model, net::HttpAccess *network,
                  QObject *parent = nullptr);
    QString name() const override { return QStringLiteral("openai"); }
    BackendCall *translate(const QString &text, const QString &to, QObject *parent) override;

private:
    UpstreamSettings m_settings;
    QString m_model;
    net::HttpAccess *m_network;
};

} // namespace moxel::xlate
