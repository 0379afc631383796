#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Reading rules for a payload: one JSON object from one input line. Every read
// is a lookup followed by a strict type test; a value of another type counts as
// missing. Nothing converts between types: a number is never text, text is
// never a number, and no key is read as a boolean (true and false are absent
// wherever a number is wanted, which is the conservative reading).
namespace moxel {

using Payload = QJsonObject;

// A JSON string, unchanged; else "".
QString str(const QJsonObject &object, QStringView key);
// An array whose every element is a string; else empty (one bad element empties it).
QStringList list(const QJsonObject &object, QStringView key);
// A JSON number whose value is a whole number representable as a signed 64-bit
// integer (5 and 5.0 read as 5; 12.5, "12", 2^63 and true read as absent).
std::optional<qint64> integer(const QJsonObject &object, QStringView key);
std::optional<qint64> integerValue(const QJsonValue &value);
// An array whose every element reads as an integer; else empty.
QList<qint64> intList(const QJsonObject &object, QStringView key);
// An array whose every element is an object; else empty.
QList<QJsonObject> objectList(const QJsonObject &object, QStringView key);
// A JSON object; else the empty object.
QJsonObject object(const QJsonObject &object, QStringView key);

} // namespace moxel
