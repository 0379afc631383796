#include "options.h"

#include "cnumber.h"

#include <cctype>

namespace moxel {

std::optional<double> parseCNumber(const QByteArray &piece)
{
    if (piece.isEmpty() || std::isspace(static_cast<unsigned char>(piece.front())))
        return std::nullopt;
    const QByteArray z = piece; // NUL-terminated copy
    char *end = nullptr;
    const double value = strtodC(z.constData(), &end);
    if (end != z.constData() + z.size() || end == z.constData())
        return std::nullopt;
    return value;
}

std::optional<std::pair<double, double>> readPair(const QList<QByteArray> &args,
                                                  const QByteArray &option)
{
    const qsizetype at = args.indexOf(option, 1);
    if (at < 0 || at + 1 >= args.size())
        return std::nullopt;
    QList<double> numbers;
    for (const QByteArray &piece : args.at(at + 1).split(',')) {
        if (piece.isEmpty())
            continue;
        if (const auto n = parseCNumber(piece))
            numbers.append(*n);
    }
    if (numbers.size() != 2)
        return std::nullopt;
    return std::pair{numbers.at(0), numbers.at(1)};
}

Options parseOptions(const QList<QByteArray> &args)
{
    Options o;
    if (const auto pos = readPair(args, QByteArrayLiteral("--pos")))
        o.fixedPos = QPointF(pos->first, pos->second);
    if (const auto size = readPair(args, QByteArrayLiteral("--size")))
        o.fixedSize = QSizeF(size->first, size->second);
    const QList<QByteArray> rest = args.mid(1);
    o.debugMode = rest.contains(QByteArrayLiteral("--debug"));
    o.selfTestSync = rest.contains(QByteArrayLiteral("--selftest-sync"));
    return o;
}

} // namespace moxel
