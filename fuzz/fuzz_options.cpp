// The command line: arguments separated by NUL bytes.
#include "options.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

bool same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> args{QByteArrayLiteral("moxel-popup")};
    args.append(bytes.split('\0'));
    // Values built to hold `numbers` printed in full, among an empty piece and
    // pieces that cannot be numbers (no number ends in 'z'), given first and
    // followed by the fuzzed arguments: a pair only from exactly two numbers,
    // and those two, whatever follows.
    double x = 0, y = 0;
    std::memcpy(&x, bytes.leftJustified(16, '\0').constData(), sizeof x);
    std::memcpy(&y, bytes.leftJustified(16, '\0').constData() + 8, sizeof y);
    const auto value = [&](const QList<double> &numbers) {
        QList<QByteArray> pieces{QByteArray()};
        for (qsizetype i = 1; i < args.size() && i < 4; ++i)
            pieces.append(QByteArray(args[i]).replace(',', "") + 'z');
        for (qsizetype i = 0; i < numbers.size(); ++i)
            pieces.insert(qMin(pieces.size(), 2 * i + 1), QByteArray::number(numbers[i], 'g', 17));
        return pieces.join(',');
    };
    const moxel::Options o = moxel::parseOptions(
        QList<QByteArray>{args[0], "--pos", value({x, y}), "--size", value({y, x})} + args.mid(1));
    if (!o.fixedPos || !same(o.fixedPos->x(), x) || !same(o.fixedPos->y(), y) || !o.fixedSize ||
        !same(o.fixedSize->width(), y) || !same(o.fixedSize->height(), x))
        __builtin_trap();
    for (const QList<double> &wrong : {QList<double>{x}, QList<double>{x, y, x}})
        if (moxel::readPair(QList<QByteArray>{args[0], "--pos", value(wrong)} + args.mid(1),
                            "--pos"))
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
