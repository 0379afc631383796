#include "payload.h"

#include <QJsonArray>

#include <cmath>

namespace moxel {

QString str(const QJsonObject &object, QStringView key)
{
    const QJsonValue v = object.value(key);
    return v.isString() ? v.toString() : QString();
}

QStringList list(const QJsonObject &object, QStringView key)
{
    const QJsonValue v = object.value(key);
    if (!v.isArray())
        return {};
    const QJsonArray array = v.toArray();
    QStringList out;
    out.reserve(array.size());
    for (const QJsonValue &e : array) {
        if (!e.isString())
            return {};
        out.append(e.toString());
    }
    return out;
}

std::optional<qint64> integerValue(const QJsonValue &value)
{
    // Qt 6.4 turns NaN into the smallest 64-bit integer instead of failing.
    if (!value.isDouble() || std::isnan(value.toDouble()))
        return std::nullopt;
    // QJsonValue keeps whole numbers that fit in 64 bits exactly and converts a
    // double only when it is whole and in range; any other value comes back as
    // the default, so two different defaults tell the cases apart.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

std::optional<qint64> integer(const QJsonObject &object, QStringView key)
{
    return integerValue(object.value(key));
}

QList<qint64> intList(const QJsonObject &object, QStringView key)
{
    const QJsonValue v = object.value(key);
    if (!v.isArray())
        return {};
    const QJsonArray array = v.toArray();
    QList<qint64> out;
    out.reserve(array.size());
    for (const QJsonValue &e : array) {
        const auto n = integerValue(e);
        if (!n)
            return {};
        out.append(*n);
    }
    return out;
}

QList<QJsonObject> objectList(const QJsonObject &object, QStringView key)
{
    const QJsonValue v = object.value(key);
    if (!v.isArray())
        return {};
    const QJsonArray array = v.toArray();
    QList<QJsonObject> out;
    out.reserve(array.size());
    for (const QJsonValue &e : array) {
        if (!e.isObject())
            return {};
        out.append(e.toObject());
    }
    return out;
}

QJsonObject object(const QJsonObject &object, QStringView key)
{
    return object.value(key).toObject();
}

} // namespace moxel
