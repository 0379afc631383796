#pragma once

#include <QObject>
#include <QString>

namespace moxel::xlate {

// What a backend made of one request. A failure carries the status this
// service answers with (502 for a bad upstream answer, 504 for a slow one).
struct Outcome
{
    bool ok = false;
    QString text;
    int status = 502;
    QString error;

    static Outcome success(const QString &text) { return {true, text, 200, {}}; }
    static Outcome failure(const QString &error, int status = 502)
    {
        return {false, {}, status, error};
    }
};

// One translation in flight. Deleting it cancels whatever it still waits for.
class BackendCall : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    // Emitted once, never from inside Backend::translate().
    void finished(const moxel::xlate::Outcome &outcome);
};

class Backend : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QString name() const = 0;
    // The key it sends upstream, which no log line may show.
    virtual QByteArray secret() const { return {}; }
    // `to` is a language code such as "zh" or "pt-BR"; the call is parented to `parent`.
    virtual BackendCall *translate(const QString &text, const QString &to, QObject *parent) = 0;
};

} // namespace moxel::xlate
