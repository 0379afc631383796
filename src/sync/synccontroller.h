#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <optional>

class QTimer;

namespace moxel {

class TextLabel;

// Seconds since start-up, for the sync diagnostics ("%.1fs"). Started when the
// program is loaded, before the first line is read, and never restarted.
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
//
// An answer is written only while it is still current: it must answer the
// newest request of its key, no render may have started since it was sent,
// and the user must not have edited the peer since nor be editing it now
// (a pending pause). Other answers are dropped
// without touching the peer or the status.
//
// Only a change of a view's text is an edit: an input method's pre-edit
// changes nothing until it is committed. A pause that finds the text the view
// held after its last sync (typed and deleted again, a composition abandoned)
// sends nothing and puts the status back as it was.
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

    // The pause in typing after which an edit is sent. Tests shorten it; a
    // new length applies from the next edit.
    static constexpr std::chrono::milliseconds Debounce{1100};
    void setDebounce(std::chrono::milliseconds pause) { m_debounce = pause; }

    // Edits of the view under `key` flow into the view under `peerKey`.
    // Call after both views are in TEXT_VIEWS; registering a key again
    // replaces its link.
    void registerLink(const QString &key, const QString &peerKey, const QString &to,
                      const QString &peerLabel, TextLabel *status);

    // Every render calls this before it rebuilds the views: pending edits
    // are dropped unsent, and answers to requests sent before it are dropped.
    void renderStarted();

    const QHash<QString, Link> &links() const { return m_links; }

    // The network session, made on first use; null while the network
    // module cannot be loaded.
    QObject *session();

    // Requests sent whose answer has not come back yet.
    int inFlight() const { return m_inFlight; }

    static QString stamp();

private:
    struct Ticket
    {
        quint64 request;
        quint64 render;
        quint64 peerEdits;
    };

    void onTextChanged();
    void textDidChange(QObject *view);
    void push(const QString &key);
    void apply(const QString &key, const Link &link, const Ticket &ticket,
               const std::optional<QString> &result);
    bool isCurrent(const QString &key, const Link &link, const Ticket &ticket) const;
    void line(const QString &text) const;

    // The status a run of edits began from, to show again when it changed nothing.
    struct Status
    {
        QString text;
        QColor color;
    };

    QHash<QString, Link> m_links;
    QHash<QString, QPointer<QTimer>> m_timers;
    QHash<QString, QString> m_seen;   // each view's text when last looked at
    QHash<QString, QString> m_synced; // each view's text after its last sync
    QHash<QString, Status> m_before;
    bool m_suppress = false;
    QObject *m_session = nullptr;
    QHash<QString, quint64> m_requests; // requests sent per key
    QHash<QString, quint64> m_edits;    // user edits seen per key
    quint64 m_renders = 0;
    int m_inFlight = 0;
    std::chrono::milliseconds m_debounce = Debounce;
};

// The one sync controller, made on first use. It is destroyed with the
// application object, which stops its timers and drops what is in flight, so
// quitting at any moment ends cleanly.
SyncController &SYNC();

} // namespace moxel
