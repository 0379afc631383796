#include "options.h"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace moxel {

std::optional<double> parseCNumber(const QByteArray &piece)
{
    if (piece.isEmpty() || std::isspace(static_cast<unsigned char>(piece.front())))
        return std::nullopt;
    // QCoreApplication adopts the user's locale, where strtod may expect a
    // decimal comma; a locale object of our own keeps the C reading.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const QByteArray z = piece; // NUL-terminated copy
    char *end = nullptr;
    const double value = strtod_l(z.constData(), &end, cLocale);
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
