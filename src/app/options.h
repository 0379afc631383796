#pragma once

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QSizeF>

#include <optional>
#include <utility>

namespace moxel {

struct Options
{
    std::optional<QPointF> fixedPos;
    std::optional<QSizeF> fixedSize;
    bool debugMode = false;
    bool selfTestSync = false;
};

// A whole piece read as the C library's strtod reads it in the C locale (sign,
// decimals, exponent, and the hexadecimal, infinity and not-a-number forms),
// with nothing before or after it.
std::optional<double> parseCNumber(const QByteArray &piece);

// The value after the first occurrence of `option`, split at commas with empty
// pieces dropped and non-numbers dropped; exactly two numbers or nothing.
std::optional<std::pair<double, double>> readPair(const QList<QByteArray> &args,
                                                  const QByteArray &option);

// Options are matched by exact equality with a whole argument and never
// consumed: a value that looks like an option still counts as one.
Options parseOptions(const QList<QByteArray> &args);

} // namespace moxel
