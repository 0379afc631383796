#include "httpaccess.h"

#include <QNetworkReply>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace moxel::net {

namespace {

// What one read takes from the socket, and what the socket may hold.
constexpr qint64 ReadStep = 64 * 1024;
constexpr qsizetype MaxHead = 64 * 1024;
constexpr qsizetype MaxLine = 4 * 1024;

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host() == b.host() &&
           a.port(a.scheme() == u"https" ? 443 : 80) == b.port(b.scheme() == u"https" ? 443 : 80);
}

bool isHttp(const QUrl &url)
{
    return url.scheme() == u"http" || url.scheme() == u"https";
}

// The line of `in` that starts at `*at`, without its CR LF or LF, and `*at`
// moved past it; false when the line has not ended yet.
bool takeLine(const QByteArray &in, qsizetype *at, QByteArray *line)
{
    const qsizetype end = in.indexOf('\n', *at);
    if (end < 0)
        return false;
    *line = in.mid(*at, end - *at);
    if (line->endsWith('\r'))
        line->chop(1);
    *at = end + 1;
    return true;
}

class HttpReply final : public QNetworkReply
{
public:
    HttpReply(QByteArray verb, const QNetworkRequest &request, QByteArray body,
              QNetworkRequest::RedirectPolicy policy, QObject *parent)
        : QNetworkReply(parent), m_verb(std::move(verb)), m_body(std::move(body)), m_policy(policy)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(m_verb == "GET" ? QNetworkAccessManager::GetOperation
                                     : QNetworkAccessManager::PostOperation);
        setReadBufferSize(HttpAccess::DefaultReadBuffer);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        m_redirectsLeft = request.maximumRedirectsAllowed();
        m_idle.setSingleShot(true);
        m_idle.setInterval(request.transferTimeout());
        connect(&m_idle, &QTimer::timeout, this,
                [this] { stop(OperationCanceledError, u"Operation canceled"_s); });
        // As with Qt's replies, nothing happens before the caller has had
        // the chance to connect.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!isFinished())
                    start(url());
            },
            Qt::QueuedConnection);
    }

    ~HttpReply() override
    {
        if (m_socket)
            m_socket->disconnect(this);
    }

    void abort() override
    {
        if (isFinished()) {
            close();
            return;
        }
        stop(OperationCanceledError, u"Operation canceled"_s);
    }

    qint64 bytesAvailable() const override { return pending() + QNetworkReply::bytesAvailable(); }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = std::min(maxSize, pending());
        if (n <= 0)
            return isFinished() ? -1 : 0;
        std::copy_n(m_answer.constData() + m_taken, n, data);
        m_taken += n;
        if (m_taken == m_answer.size()) {
            m_answer.clear();
            m_taken = 0;
        } else if (m_taken > ReadStep && m_taken > m_answer.size() / 2) {
            m_answer.remove(0, m_taken);
            m_taken = 0;
        }
        // Room again: the socket may be read further.
        if (!m_pullQueued && !isFinished()) {
            m_pullQueued = true;
            QMetaObject::invokeMethod(
                this, [this] { pull(); }, Qt::QueuedConnection);
        }
        return n;
    }

private:
    enum class State { Head, Length, Chunk, ChunkData, ChunkEnd, Trailers, UntilClose, Done };

    qint64 pending() const { return m_answer.size() - m_taken; }
    qint64 room() const
    {
        const qint64 cap = readBufferSize();
        return cap > 0 ? cap - pending() : std::numeric_limits<qint64>::max();
    }

    void start(const QUrl &target)
    {
        m_url = target;
        m_state = State::Head;
        m_in.clear();
        m_at = m_scan = 0;
        m_closed = false;
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
            m_socket->deleteLater();
        }
        const bool tls = target.scheme() == u"https";
        if (tls && !QSslSocket::supportsSsl()) {
            stop(SslHandshakeFailedError, u"TLS is not available"_s);
            return;
        }
        m_socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
        m_socket->setReadBufferSize(ReadStep);
        connect(m_socket, &QAbstractSocket::readyRead, this, [this] {
            touch();
            pull();
        });
        connect(m_socket, &QAbstractSocket::bytesWritten, this, &HttpReply::touch);
        connect(m_socket, &QAbstractSocket::disconnected, this, [this] {
            m_closed = true;
            pull();
        });
        connect(m_socket, &QAbstractSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError error) {
                    if (error == QAbstractSocket::RemoteHostClosedError) {
                        m_closed = true;
                        pull();
                        return;
                    }
                    stop(networkError(error), m_socket->errorString());
                });
        const quint16 port = quint16(target.port(tls ? 443 : 80));
        touch();
        if (tls) {
            auto *ssl = static_cast<QSslSocket *>(m_socket);
            connect(ssl, &QSslSocket::encrypted, this, &HttpReply::sendRequest);
            ssl->connectToHostEncrypted(target.host(), port);
        } else {
            connect(m_socket, &QAbstractSocket::connected, this, &HttpReply::sendRequest);
            m_socket->connectToHost(target.host(), port);
        }
    }

    // Something moved: the transfer timeout starts again.
    void touch()
    {
        if (m_idle.interval() > 0)
            m_idle.start();
    }

    static NetworkError networkError(QAbstractSocket::SocketError error)
    {
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return ConnectionRefusedError;
        case QAbstractSocket::HostNotFoundError:
            return HostNotFoundError;
        case QAbstractSocket::SocketTimeoutError:
            return TimeoutError;
        case QAbstractSocket::SslHandshakeFailedError:
        case QAbstractSocket::SslInternalError:
        case QAbstractSocket::SslInvalidUserDataError:
            return SslHandshakeFailedError;
        default:
            return UnknownNetworkError;
        }
    }

    void sendRequest()
    {
        QByteArray target = m_url.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (m_url.hasQuery())
            target += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
        QByteArray head =
            m_verb + ' ' + target + " HTTP/1.1\r\nHost: " +
            m_url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() + "\r\n";
        const QNetworkRequest req = request();
        for (const QByteArray &name : req.rawHeaderList()) {
            const QByteArray value = req.rawHeader(name);
            if (name.contains('\r') || name.contains('\n') || value.contains('\r') ||
                value.contains('\n')) {
                stop(ProtocolInvalidOperationError, u"A request header holds a line break"_s);
                return;
            }
            const QByteArray lower = name.toLower();
            if (lower == "host" || lower == "content-length" || lower == "connection" ||
                lower == "transfer-encoding" || lower == "accept-encoding")
                continue;
            head += name + ": " + value + "\r\n";
        }
        // The answer is read as it comes, so it must come as it is.
        head += "Accept-Encoding: identity\r\n";
        if (!req.hasRawHeader("User-Agent"))
            head += "User-Agent: Mozilla/5.0\r\n";
        if (!m_body.isEmpty() || m_verb == "POST")
            head += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        m_socket->write(head + m_body);
    }

    // Reads as much as the buffer has room for and turns it into the answer.
    void pull()
    {
        m_pullQueued = false;
        if (isFinished() || !m_socket)
            return;
        const qint64 before = pending();
        const QPointer<HttpReply> alive(this);
        while (!isFinished() && m_state != State::Done) {
            if (m_state != State::Head && m_state != State::Chunk && m_state != State::ChunkEnd &&
                m_state != State::Trailers && room() <= 0)
                break;
            if (advance())
                continue;
            if (!alive || isFinished())
                return;
            if (unread() >= ReadStep)
                break;
            // Parsing moves along the buffer; what it passed goes once per read.
            m_in.remove(0, m_at);
            m_scan = std::max<qsizetype>(0, m_scan - m_at);
            m_at = 0;
            const QByteArray more = m_socket->read(ReadStep - m_in.size());
            if (more.isEmpty())
                break;
            m_in += more;
        }
        if (!alive || isFinished())
            return;
        if (pending() > before) {
            Q_EMIT readyRead();
            if (!alive || isFinished())
                return;
        }
        if (m_state == State::Done) {
            finish();
            return;
        }
        // Nothing more will come: unless the rest waits for the reader to
        // make room, the answer is incomplete.
        if (m_closed && m_socket->bytesAvailable() == 0 && (unread() == 0 || room() > 0))
            stop(RemoteHostClosedError, u"The connection closed before the answer ended"_s);
    }

    // One step of the answer from what has been read; false when it needs
    // more bytes (or, in the body, more room).
    bool advance()
    {
        QByteArray line;
        switch (m_state) {
        case State::Head:
            return readHead();
        case State::Length:
            return takeBody(State::Done);
        case State::UntilClose: {
            const qint64 n = std::min(room(), qint64(unread()));
            if (n > 0) {
                take(n);
                return true;
            }
            if (m_closed && unread() == 0 && m_socket->bytesAvailable() == 0) {
                m_state = State::Done;
                return true;
            }
            return false;
        }
        case State::Chunk: {
            if (!takeLine(m_in, &m_at, &line))
                return tooLong(MaxLine);
            if (const qsizetype extension = line.indexOf(';'); extension >= 0)
                line.truncate(extension);
            line = line.trimmed();
            bool ok = false;
            m_left = line.size() <= 15 ? line.toLongLong(&ok, 16) : -1;
            if (!ok || m_left < 0)
                return malformed();
            m_state = m_left == 0 ? State::Trailers : State::ChunkData;
            return true;
        }
        case State::ChunkData:
            return takeBody(State::ChunkEnd);
        case State::ChunkEnd:
            if (!takeLine(m_in, &m_at, &line))
                return tooLong(2);
            if (!line.isEmpty())
                return malformed();
            m_state = State::Chunk;
            return true;
        case State::Trailers:
            if (!takeLine(m_in, &m_at, &line))
                return tooLong(MaxLine);
            if (line.isEmpty())
                m_state = State::Done;
            return true;
        case State::Done:
            return false;
        }
        return false;
    }

    qsizetype unread() const { return m_in.size() - m_at; }

    void take(qint64 n)
    {
        m_answer.append(m_in.constData() + m_at, n);
        m_at += n;
    }

    // Takes of the m_left bytes still owed as many as have come and fit, and
    // goes on to `next` once none are owed.
    bool takeBody(State next)
    {
        const qint64 n = std::min({m_left, room(), qint64(unread())});
        if (n <= 0)
            return false;
        take(n);
        if ((m_left -= n) == 0)
            m_state = next;
        return true;
    }

    bool tooLong(qsizetype limit)
    {
        if (unread() > limit)
            return malformed();
        return false;
    }

    bool malformed()
    {
        stop(ProtocolFailure, u"Malformed HTTP answer"_s);
        return false;
    }

    bool readHead()
    {
        // The head ends with an empty line; a search goes on where the last
        // one stopped.
        qsizetype end = -1;
        for (qsizetype lf = m_in.indexOf('\n', std::max(m_at, m_scan)); lf >= 0 && end < 0;
             lf = m_in.indexOf('\n', lf + 1)) {
            if (lf + 1 < m_in.size() && m_in.at(lf + 1) == '\n')
                end = lf + 2;
            else if (lf + 2 < m_in.size() && m_in.at(lf + 1) == '\r' && m_in.at(lf + 2) == '\n')
                end = lf + 3;
        }
        if (end < 0) {
            m_scan = std::max(m_at, m_in.size() - 2);
            return tooLong(MaxHead);
        }
        const QByteArray head = m_in.mid(m_at, end - m_at);
        m_at = m_scan = end;

        QByteArray line;
        qsizetype at = 0;
        takeLine(head, &at, &line);
        const QList<QByteArray> status = line.split(' ');
        bool ok = false;
        const int code = status.value(1).toInt(&ok);
        if (!line.startsWith("HTTP/1.") || status.size() < 2 || !ok || code < 100 || code > 999)
            return malformed();
        QList<std::pair<QByteArray, QByteArray>> headers;
        while (takeLine(head, &at, &line) && !line.isEmpty()) {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0 || line.at(0) == ' ' || line.at(0) == '\t')
                return malformed();
            headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        if (code < 200 && code != 101)
            return true; // an interim answer; the real one follows
        const auto value = [&headers](QByteArrayView name) {
            QByteArray found;
            for (const auto &[key, v] : headers) {
                if (key.compare(name, Qt::CaseInsensitive) == 0)
                    found = found.isNull() ? v : found + ", " + v;
            }
            return found;
        };

        const QByteArray location = value("location");
        if ((code == 301 || code == 302 || code == 303 || code == 307 || code == 308) &&
            !location.isEmpty() && m_policy != QNetworkRequest::ManualRedirectPolicy) {
            redirect(code, location);
            return false;
        }

        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, code);
        setAttribute(QNetworkRequest::HttpReasonPhraseAttribute,
                     QString::fromLatin1(line.mid(line.indexOf(' ', 9) + 1)));
        for (const auto &[key, v] : headers)
            setRawHeader(key, v);
        const QByteArray coding = value("transfer-encoding").trimmed().toLower();
        const QByteArray length = value("content-length");
        if (code == 204 || code == 304) {
            m_state = State::Done;
        } else if (!coding.isNull()) {
            m_state = coding.endsWith("chunked") ? State::Chunk : State::UntilClose;
        } else if (!length.isNull()) {
            m_left = length.toLongLong(&ok);
            if (!ok || m_left < 0 || length.contains(','))
                return malformed();
            m_state = m_left == 0 ? State::Done : State::Length;
        } else {
            m_state = State::UntilClose;
        }
        const QPointer<HttpReply> alive(this);
        Q_EMIT metaDataChanged();
        return alive && !isFinished();
    }

    void redirect(int code, const QByteArray &location)
    {
        const QUrl next = m_url.resolved(QUrl::fromEncoded(location));
        const bool allowed =
            isHttp(next) && (m_policy == QNetworkRequest::NoLessSafeRedirectPolicy
                                 ? !(m_url.scheme() == u"https" && next.scheme() == u"http")
                                 : sameOrigin(m_url, next));
        if (!allowed) {
            stop(InsecureRedirectError,
                 u"Refused a redirect to another origin: %1"_s.arg(next.toDisplayString()));
            return;
        }
        if (m_redirectsLeft-- <= 0) {
            stop(TooManyRedirectsError, u"Too many redirects"_s);
            return;
        }
        // Only 307 and 308 repeat the request as it was.
        if (code != 307 && code != 308) {
            m_verb = "GET";
            m_body.clear();
            setOperation(QNetworkAccessManager::GetOperation);
        }
        setUrl(next);
        start(next);
    }

    void finish()
    {
        m_idle.stop();
        m_socket->disconnect(this);
        m_socket->abort();
        setFinished(true);
        const QPointer<HttpReply> alive(this);
        Q_EMIT readChannelFinished();
        if (alive)
            Q_EMIT finished();
    }

    void stop(NetworkError code, const QString &why)
    {
        if (isFinished())
            return;
        m_idle.stop();
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
        }
        m_state = State::Done;
        setError(code, why);
        // Stopped from outside, by a timeout or by abort(), there is no answer.
        if (code == OperationCanceledError)
            close();
        setFinished(true);
        const QPointer<HttpReply> alive(this);
        Q_EMIT errorOccurred(code);
        if (alive)
            Q_EMIT finished();
    }

    QByteArray m_verb;
    QByteArray m_body;
    QNetworkRequest::RedirectPolicy m_policy;
    int m_redirectsLeft = 50;
    QUrl m_url;
    QAbstractSocket *m_socket = nullptr;
    QTimer m_idle;
    State m_state = State::Head;
    QByteArray m_in; // read from the socket, understood up to m_at
    qsizetype m_at = 0;
    qsizetype m_scan = 0; // where the search for the end of the head goes on
    QByteArray m_answer;  // the body, from m_taken on not yet read
    qint64 m_taken = 0;
    qint64 m_left = 0;
    bool m_closed = false;
    bool m_pullQueued = false;
};

} // namespace

QNetworkReply *HttpAccess::createRequest(Operation op, const QNetworkRequest &request,
                                         QIODevice *outgoingData)
{
    if (!isHttp(request.url()) || (op != GetOperation && op != PostOperation))
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    const QVariant policy = request.attribute(QNetworkRequest::RedirectPolicyAttribute);
    return new HttpReply(op == GetOperation ? "GET" : "POST", request,
                         outgoingData ? outgoingData->readAll() : QByteArray(),
                         policy.isValid() ? QNetworkRequest::RedirectPolicy(policy.toInt())
                                          : redirectPolicy(),
                         this);
}

} // namespace moxel::net
