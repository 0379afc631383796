#pragma once

#include <QNetworkAccessManager>

// Plain HTTP/1.1 exchanges behind the QNetworkAccessManager API, read no
// faster than their reader takes them. Qt's own HTTP stack reads in a thread
// of its own, ignores a reply's read buffer size, and decodes a chunked
// answer for as long as bytes keep coming: an endless answer filled memory
// long before its reader could see that it was too long. A reply made here
// reads from its socket only while its buffer (readBufferSize(), 64 KiB
// unless set) has room, so a reader that aborts once it has taken too much
// holds at most that much more.
//
// http and https only (anything else is left to Qt); no proxy, no cookies,
// no cache, no compression, one connection per exchange. Redirects are
// followed as the request's redirect policy allows, up to its limit.

namespace moxel::net {

class HttpAccess : public QNetworkAccessManager
{
    Q_OBJECT
public:
    using QNetworkAccessManager::QNetworkAccessManager;

    static constexpr qint64 DefaultReadBuffer = 64 * 1024;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;
};

} // namespace moxel::net
