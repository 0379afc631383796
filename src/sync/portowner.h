#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QUrl;

namespace moxel {

// The uids of the listening sockets a connection to `host`:`port` on this
// machine's loopback could reach, one per address the host stands for
// ("localhost" is both 127.0.0.1 and ::1), read from the text of Linux's
// /proc/net/tcp and /proc/net/tcp6. Empty when the host is not loopback
// (127.0.0.0/8, ::1, localhost) or nothing listens there.
QList<uint> loopbackListeners(const QString &host, quint16 port, const QByteArray &tcp,
                              const QByteArray &tcp6);

// Why nothing may be sent to `url`: a loopback port that another user's
// process listens on, which would receive the token and the text. Empty when
// the port is this user's, nobody's, not loopback, or the system does not say.
QString foreignListener(const QUrl &url);

} // namespace moxel
