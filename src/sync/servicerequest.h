#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QObject;

namespace moxel {

// Answers larger than this are cut off and count as a failure: a translation
// of a chat message is kilobytes, and writing megabytes into the mirror would
// freeze the window while it lays them out.
inline constexpr qint64 MaxAnswerBytes = 4 * 1024 * 1024;
// A request that goes this long without data fails.
inline constexpr std::chrono::milliseconds TransferTimeout{45000};
// A request fails after this long, whatever the service keeps sending: a
// service answers within its own upstream wait (40 s for moxel-translate).
inline constexpr std::chrono::milliseconds RequestDeadline{60000};

using TranslateDone = std::function<void(const std::optional<QString> &)>;

// Asks the translation service at SYNC().proxy (with SYNC().token) to
// translate `text` into `to`. `done` is called exactly once on the GUI thread
// with the answer's "text" (possibly empty) or with nothing: later through the
// event loop, or before returning when no request can be formed (invalid
// address, an address or token with control characters, or a loopback port
// another user's process listens on). Never cancelled.
void translate(const QString &text, const QString &to, TranslateDone done);

// The network session every request uses: no proxy, no cache, no cookies
// kept, redirects followed only within the same origin. Deleting it abandons
// what is in flight. Null when the network module cannot be loaded.
QObject *newSession(QObject *parent);

// The network module is found relative to the program, installed or in the
// build folder. Test programs live elsewhere and name the file here; the next
// request loads it (a module once loaded is never unloaded).
void setHttpModuleFile(const QString &file);
// For tests that cannot wait for TransferTimeout and RequestDeadline;
// applies to later requests.
void setRequestTimeouts(std::chrono::milliseconds transfer, std::chrono::milliseconds deadline);

} // namespace moxel
