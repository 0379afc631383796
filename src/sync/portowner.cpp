#include "portowner.h"

#include <QFile>
#include <QUrl>

#include <array>
#include <cstring>
#include <optional>

#include <arpa/inet.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace moxel {

namespace {

using Address = std::array<unsigned char, 16>; // IPv4 as IPv4-mapped IPv6

constexpr char ListenState[] = "0A";

Address mapped(const unsigned char (&v4)[4])
{
    Address address{};
    address[10] = address[11] = 0xff;
    std::memcpy(address.data() + 12, v4, 4);
    return address;
}

bool isV4(const Address &address)
{
    static const Address prefix = mapped({0, 0, 0, 0});
    return std::equal(address.begin(), address.begin() + 12, prefix.begin());
}

std::optional<Address> parseHost(const QString &host)
{
    const QByteArray text = host.toLatin1();
    unsigned char v4[4];
    Address v6{};
    if (::inet_pton(AF_INET, text.constData(), v4) == 1)
        return mapped(v4);
    if (::inet_pton(AF_INET6, text.constData(), v6.data()) == 1)
        return v6;
    return std::nullopt;
}

bool loopback(const Address &address)
{
    static const Address v6Loopback = [] {
        Address a{};
        a[15] = 1;
        return a;
    }();
    return isV4(address) ? address[12] == 127 : address == v6Loopback;
}

// The kernel prints each 32-bit word of an address as the hexadecimal of the
// number it holds in memory, so the digits follow the machine's byte order.
std::optional<Address> procAddress(QByteArrayView hex)
{
    if (hex.size() != 8 && hex.size() != 32)
        return std::nullopt;
    unsigned char bytes[16];
    for (qsizetype word = 0; word < hex.size() / 8; ++word) {
        bool ok = false;
        const quint32 value = hex.sliced(word * 8, 8).toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        std::memcpy(bytes + word * 4, &value, 4);
    }
    if (hex.size() == 8) {
        const unsigned char v4[4] = {bytes[0], bytes[1], bytes[2], bytes[3]};
        return mapped(v4);
    }
    Address v6;
    std::memcpy(v6.data(), bytes, 16);
    return v6;
}

struct Listener
{
    Address address;
    uint uid;
};

QList<Listener> listeners(const QByteArray &table, quint16 port)
{
    QList<Listener> found;
    const QList<QByteArray> rows = table.split('\n');
    for (qsizetype i = 1; i < rows.size(); ++i) { // the first row names the columns
        const QList<QByteArray> fields = rows[i].simplified().split(' ');
        if (fields.size() < 8 || fields[3] != ListenState)
            continue;
        const QByteArray &local = fields[1];
        const qsizetype colon = local.indexOf(':');
        bool portOk = false, uidOk = false;
        if (colon < 0 || local.mid(colon + 1).toUShort(&portOk, 16) != port || !portOk)
            continue;
        const uint uid = fields[7].toUInt(&uidOk);
        const std::optional<Address> address = procAddress(local.left(colon));
        if (uidOk && address)
            found.append({*address, uid});
    }
    return found;
}

// As the kernel chooses: a socket bound to the address itself, then one bound
// to every IPv4 address, then one bound to every IPv6 address (which also
// takes IPv4 unless it was made IPv6-only; a listing cannot tell).
std::optional<uint> ownerFor(const Address &address, const QList<Listener> &all)
{
    QList<Address> order{address};
    if (isV4(address))
        order.append(mapped({0, 0, 0, 0}));
    order.append(Address{});
    for (const Address &wanted : std::as_const(order)) {
        for (const Listener &listener : all) {
            if (listener.address == wanted)
                return listener.uid;
        }
    }
    return std::nullopt;
}

} // namespace

QList<uint> loopbackListeners(const QString &host, quint16 port, const QByteArray &tcp,
                              const QByteArray &tcp6)
{
    QList<Address> addresses;
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0) {
        addresses = {*parseHost(u"127.0.0.1"_s), *parseHost(u"::1"_s)};
    } else if (const std::optional<Address> address = parseHost(host);
               address && loopback(*address)) {
        addresses = {*address};
    }
    if (addresses.isEmpty())
        return {};
    const QList<Listener> all = listeners(tcp, port) + listeners(tcp6, port);
    QList<uint> owners;
    for (const Address &address : std::as_const(addresses)) {
        if (const std::optional<uint> uid = ownerFor(address, all))
            owners.append(*uid);
    }
    return owners;
}

QString foreignListener(const QUrl &url)
{
#ifdef Q_OS_LINUX
    const quint16 port = quint16(url.port(url.scheme() == u"https" ? 443 : 80));
    const auto read = [](const char *path) {
        QFile file(QString::fromLatin1(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const uint self = ::geteuid();
    for (const uint owner :
         loopbackListeners(url.host(), port, read("/proc/net/tcp"), read("/proc/net/tcp6"))) {
        if (owner != self)
            return u"端口 %1 属于另一个用户（uid %2），未发送"_s.arg(port).arg(owner);
    }
#else
    Q_UNUSED(url)
#endif
    return {};
}

} // namespace moxel
