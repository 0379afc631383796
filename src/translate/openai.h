#pragma once

#include "backend.h"
#include "upstream.h"

namespace moxel::net {
class HttpClient;
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

// The optional request parameters a server takes. Classic servers (llama.cpp,
// Ollama, vLLM) take max_tokens and temperature 0; OpenAI's reasoning models
// refuse both and want max_completion_tokens and the default temperature.
struct ChatParameters
{
    bool completionTokens = false;
    bool temperature = true;
};
// "max_tokens" or "temperature" when `answer` is a 400 saying the model does
// not support that parameter (OpenAI's "param", or the name quoted in the
// message); else empty.
QString refusedParameter(const UpstreamAnswer &answer);

// POST {base}/v1/chat/completions of any OpenAI-compatible server; a base
// that already ends in /v1 is used as it is. A parameter the server refuses is
// dropped and the request sent again, once per parameter; the server's
// preference is kept for later requests.
class OpenAiBackend final : public Backend
{
    Q_OBJECT
public:
    OpenAiBackend(UpstreamSettings settings, QString model, net::HttpClient *network,
                  QObject *parent = nullptr);
    QString name() const override { return QStringLiteral("openai"); }
    QByteArray secret() const override { return m_settings.secret; }
    BackendCall *translate(const QString &text, const QString &to, QObject *parent) override;

private:
    void send(BackendCall *call, const QString &text, const QString &to);

    UpstreamSettings m_settings;
    QString m_model;
    net::HttpClient *m_network;
    ChatParameters m_parameters;
};

} // namespace moxel::xlate
