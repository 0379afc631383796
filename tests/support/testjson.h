#pragma once

// JSON as tests write and read it.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QtGlobal>

namespace moxel::test {

// An object written in a test; a typo in it stops the test at once.
inline QJsonObject parse(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        qFatal("bad test JSON %s: %s", json.constData(), qPrintable(error.errorString()));
    return doc.object();
}

// What the program under test produced: the object it holds, or {} for
// anything else, which the comparison then reports.
inline QJsonObject objectOf(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

// One line's worth of compact JSON, without the line break.
inline QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace moxel::test
