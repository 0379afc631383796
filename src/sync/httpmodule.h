#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

class QObject;

// The only part of a translation request that needs the network library. It
// lives in a module of its own, loaded at the first request, because most
// runs never translate and every start would pay for loading libcurl and the
// TLS, HTTP/2 and IDN libraries behind it. The module only moves bytes; the
// program reads the answer.

namespace moxel {

// Raised whenever HttpModule or a type it passes changes.
inline constexpr int HttpModuleAbi = 3;

struct HttpPost
{
    QUrl url;
    QByteArray token; // sent as X-Token unless empty
    QByteArray body;  // JSON
    qint64 maxAnswerBytes = 0;
    // Longest wait without data before the exchange fails; 0: none.
    int transferTimeoutMs = 0;
    // The whole exchange, whatever the service sends meanwhile; 0: none.
    int deadlineMs = 0;
};

struct HttpPostResult
{
    // What the service sent, whatever its HTTP status; empty when the
    // exchange failed before an answer could be read.
    QByteArray body;
    // Why the exchange itself failed (not an HTTP status); empty otherwise.
    QString failure;
    // The answer was longer than maxAnswerBytes and was cut off.
    bool tooLarge = false;
};

using HttpDone = std::function<void(const HttpPostResult &)>;

struct HttpModule
{
    int abi; // HttpModuleAbi of the module's build, checked before anything else is used
    // A session: no proxy, no cache, no cookies kept, redirects followed only
    // within the same origin, connections kept for the next request. Deleting it abandons what is
    // in flight without calling their `done`.
    QObject *(*newSession)(QObject *parent);
    // Sends `request` as a POST through `session`; `done` is called once from
    // the event loop, unless the session is deleted first.
    void (*post)(QObject *session, const HttpPost &request, HttpDone done);
};

// The module's one exported symbol, looked up by this name.
inline constexpr char HttpModuleEntry[] = "moxel_http_module";
using HttpModuleEntryFunction = const HttpModule *(*)();

} // namespace moxel
