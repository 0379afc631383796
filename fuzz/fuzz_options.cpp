// The command line: arguments separated by NUL bytes.
#include "options.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// The two numbers of the value after `option`, when it holds exactly two.
std::optional<std::pair<double, double>> expectedPair(const QList<QByteArray> &args,
                                                      const QByteArray &option)
{
    const qsizetype at = args.indexOf(option, 1);
    if (at < 0 || at + 1 >= args.size())
        return std::nullopt;
    QList<double> numbers;
    for (const QByteArray &piece : args[at + 1].split(','))
        if (const std::optional<double> n = moxel::parseCNumber(piece))
            numbers.append(*n);
    if (numbers.size() != 2)
        return std::nullopt;
    return std::pair{numbers[0], numbers[1]};
}

bool same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool samePair(const std::optional<std::pair<double, double>> &expected, bool set, QPointF got)
{
    if (expected.has_value() != set)
        return false;
    return !set || (same(expected->first, got.x()) && same(expected->second, got.y()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> args{QByteArrayLiteral("moxel-popup")};
    args.append(bytes.split('\0'));
    const moxel::Options o = moxel::parseOptions(args);
    // A pair only from a value of exactly two numbers, and those two.
    const QSizeF size_ = o.fixedSize.value_or(QSizeF());
    if (!samePair(expectedPair(args, "--pos"), o.fixedPos.has_value(),
                  o.fixedPos.value_or(QPointF())) ||
        !samePair(expectedPair(args, "--size"), o.fixedSize.has_value(),
                  QPointF(size_.width(), size_.height())))
        __builtin_trap();
    for (const QByteArray &a : args) {
        const std::optional<double> n = moxel::parseCNumber(a);
        if (n && (a.isEmpty() || a.front() == ' '))
            __builtin_trap();
        // A number printed in full reads back as itself.
        if (n && std::isfinite(*n) && moxel::parseCNumber(QByteArray::number(*n, 'g', 17)) != *n)
            __builtin_trap();
    }
    return 0;
}
