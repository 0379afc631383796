#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QTimer;

namespace moxel {

class TextLabel;

// Seconds since start-up, for the sync diagnostics ("%.1fs").
extern QElapsedTimer SYNC_T0;

// One direction of a synced pair: edits of a view go, translated into `to`, to
// the view registered under `peerKey`; `status` is the label under the pair.
struct Link
{
    QString peerKey;
    QString to;
    QPointer<TextLabel> status;
    QString peerLabel;
};

// Links the reply draft and its Chinese mirror: notices edits, waits for a
// pause in typing, has the other side re-translated and writes the answer back
// without taking that write for an edit. There is one, `SYNC()`.
class SyncController final : public QObject
{
    Q_OBJECT
public:
    explicit SyncController(QObject *parent = nullptr);
    ~SyncController() override;
    Q_DISABLE_COPY_MOVE(SyncController)

    // Base address and token of the translation service; set by every render.
    QString proxy;
    QString token;
    // Print the "SYNC: " diagnostics.
    bool debug = false;

    // Edits of the view under `key` flow into the view under `peerKey`.
    void registerLink(const QString &key, const QString &peerKey, const QString &to,
                      const QString &peerLabel, TextLabel *status);

    const QHash<QString, Link> &links() const { return m_links; }

    static QString stamp();

private:
    void textDidChange(QObject *view);
    void push(const QString &key);

    QHash<QString, Link> m_links;
    QHash<QString, QPointer<QTimer>> m_timers;
    bool m_suppress = false;
    QNetworkAccessManager *m_session = nullptr;
};

// The one sync controller, made on first use and kept until the process ends.
SyncController &SYNC();

} // namespace moxel
