#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace moxel {

// The address the request goes to: `proxy` plus "translate" when it ends with
// "/", else plus "/translate". None when the result is not a valid URL or the
// address holds a control character (nothing is sent then).
std::optional<QUrl> translateUrl(const QString &proxy);

// False when the token could smuggle a line break or another control
// character into the request's headers; such a token sends nothing.
bool tokenUsable(const QString &token);

// The request body: a compact UTF-8 JSON object with exactly "text" and "to".
QByteArray requestBody(const QString &text, const QString &to);

// What an answer body yields: the string member "text" of a JSON object, or
// nothing; `debugLines` are the diagnostics to print in debug mode.
struct Answer
{
    std::optional<QString> text;
    QStringList debugLines;
};
Answer readAnswer(const QByteArray &body);

// "SYNC: 请求出错 " + the error's description.
QString requestErrorLine(const QString &description);

// Every "SYNC: " diagnostic goes through here, its control characters escaped
// (printable()): standard output by default.
// Tests install a sink to read the lines back; an empty sink restores stdout.
using SyncLineSink = std::function<void(const QString &)>;
void setSyncLineSink(SyncLineSink sink);
void syncLine(const QString &line);

} // namespace moxel
