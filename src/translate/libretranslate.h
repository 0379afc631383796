#pragma once

#include "backend.h"
#include "upstream.h"

#include <QStringList>

namespace moxel::net {
class HttpClient;
}

namespace moxel::xlate {

// The code a LibreTranslate server with these target codes knows `to` by:
// "zh" is "zh-Hans" on servers that list it, "zh-TW" is "zh-Hant" or the
// older "zt", "en-US" is "en". Unknown or unlisted codes pass unchanged, but
// Traditional Chinese on a server that lists only Simplified is empty: none.
QString libreLanguage(const QString &to, const QStringList &serverCodes);

// What a LibreTranslate answer means for the request.
Outcome libreOutcome(const UpstreamAnswer &answer);

// POST {url}/translate of a LibreTranslate-compatible server. Its GET
// /languages is asked once, on the first request, and kept.
class LibreTranslateBackend final : public Backend
{
    Q_OBJECT
public:
    LibreTranslateBackend(UpstreamSettings settings, net::HttpClient *network,
                          QObject *parent = nullptr);
    QString name() const override { return QStringLiteral("libretranslate"); }
    QByteArray secret() const override { return m_settings.secret; }
    BackendCall *translate(const QString &text, const QString &to, QObject *parent) override;

Q_SIGNALS:
    void languagesSettled();

private:
    void fetchLanguages();
    void send(BackendCall *call, const QString &text, const QString &to);

    UpstreamSettings m_settings;
    net::HttpClient *m_network;
    enum class Languages { Unknown, Asking, Known } m_state = Languages::Unknown;
    QStringList m_codes;
};

} // namespace moxel::xlate
