#include "synccontroller.h"

#include "palette.h"
#include "servicerequest.h"
#include "textlabel.h"
#include "textrules.h"
#include "textviews.h"
#include "translation.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace moxel {

QElapsedTimer SYNC_T0 = [] {
    QElapsedTimer timer;
    timer.start();
    return timer;
}();

namespace {

void showStatus(TextLabel *status, const QString &text, const QColor &color)
{
    if (!status)
        return;
    status->setColor(color);
    status->setText(text);
}

// Replaces the whole text and brings the old selection back when it still
// starts inside the new text; an end beyond the text is pulled in to its end.
void replaceKeepingSelection(QPlainTextEdit *view, const QString &text)
{
    const QTextCursor old = view->textCursor();
    const int anchor = old.anchor();
    const int position = old.position();
    // Written through a cursor, the text is announced before anything lays
    // it out, and laid out once: setPlainText lays it out twice, the first
    // time before the view can pick a wrap mode for it. A new text starts a
    // new undo history all the same.
    QTextDocument *doc = view->document();
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    QTextCursor all(doc);
    all.select(QTextCursor::Document);
    all.insertText(text);
    doc->setUndoRedoEnabled(undo);
    // Positions count UTF-16 units of the document, where CR LF is one break.
    const int length = doc->characterCount() - 1;
    QTextCursor restored(doc);
    if (length >= qMin(anchor, position)) {
        restored.setPosition(qMin(anchor, length));
        restored.setPosition(qMin(position, length), QTextCursor::KeepAnchor);
    }
    view->setTextCursor(restored);
}

} // namespace

SyncController::SyncController(QObject *parent) : QObject(parent) {}

SyncController::~SyncController()
{
    for (const QPointer<QTimer> &timer : std::as_const(m_timers)) {
        if (timer)
            timer->stop();
    }
    // The session abandons what is still in flight: its completion must not
    // run while the application is going away.
    delete m_session;
    m_session = nullptr;
}

void SyncController::registerLink(const QString &key, const QString &peerKey, const QString &to,
                                  const QString &peerLabel, TextLabel *status)
{
    m_links.insert(key, Link{peerKey, to, status, peerLabel});
    if (QPlainTextEdit *view = textView(key)) {
        connect(view, &QPlainTextEdit::textChanged, this, &SyncController::onTextChanged,
                Qt::UniqueConnection);
        const QString text = plainText(view);
        m_seen.insert(key, text);
        m_synced.insert(key, text);
    }
}

void SyncController::renderStarted()
{
    ++m_renders;
    // A pending edit belongs to the views this render throws away; left
    // running, it would send the new payload's text and overwrite its mirror.
    for (const QPointer<QTimer> &timer : std::as_const(m_timers)) {
        if (timer)
            timer->stop();
    }
}

QObject *SyncController::session()
{
    if (!m_session)
        m_session = newSession(this);
    return m_session;
}

QString SyncController::stamp()
{
    return QString::asprintf("%.1fs", double(SYNC_T0.elapsed()) / 1000.0);
}

void SyncController::line(const QString &text) const
{
    if (debug)
        syncLine(text);
}

void SyncController::onTextChanged()
{
    textDidChange(sender());
}

void SyncController::textDidChange(QObject *view)
{
    if (m_suppress)
        return;
    if (!qobject_cast<QPlainTextEdit *>(view))
        return;
    const QString key = keyOfView(view);
    if (key.isEmpty()) {
        line(u"SYNC: 改动来源不在登记表里"_s);
        return;
    }
    // A pre-edit redraws the text without changing it.
    const QString text = plainText(static_cast<QPlainTextEdit *>(view));
    if (const auto seen = m_seen.constFind(key); seen != m_seen.cend() && *seen == text)
        return;
    m_seen.insert(key, text);
    line(u"SYNC: 检测到编辑 "_s + key);
    ++m_edits[key];

    QPointer<QTimer> &timer = m_timers[key];
    const auto link = m_links.constFind(key);
    if (link != m_links.cend() && link->status) {
        if (!timer || !timer->isActive())
            m_before.insert(key, Status{link->status->text(), link->status->color()});
        showStatus(link->status, u"已编辑 · 同步中…"_s, INK4);
    }

    if (!timer) {
        timer = new QTimer(this);
        timer->setObjectName(u"debounce:"_s + key);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, key] { push(key); });
    }
    timer->start(m_debounce);
}

void SyncController::push(const QString &key)
{
    const auto found = m_links.constFind(key);
    if (found == m_links.cend())
        return;
    const Link link = *found;
    QPlainTextEdit *view = textView(key);
    if (!view)
        return;
    const QString whole = plainText(view);
    if (const auto synced = m_synced.constFind(key);
        synced != m_synced.cend() && *synced == whole) {
        if (const auto before = m_before.constFind(key); before != m_before.cend())
            showStatus(link.status, before->text, before->color);
        return;
    }
    const QString text = whole.trimmed();
    line(u"SYNC: 推送 "_s + key + u" → "_s + link.to + u" t="_s + stamp());
    if (text.isEmpty() || proxy.isEmpty())
        return;
    m_synced.insert(key, whole);

    const Ticket ticket{++m_requests[key], m_renders, m_edits.value(link.peerKey)};
    QPointer<SyncController> self(this);
    ++m_inFlight;
    translate(text, link.to, [self, key, link, ticket](const std::optional<QString> &result) {
        if (!self)
            return;
        --self->m_inFlight;
        self->apply(key, link, ticket, result);
    });
}

bool SyncController::isCurrent(const QString &key, const Link &link, const Ticket &ticket) const
{
    // An edit of the peer that is still waiting for its pause is the
    // salesperson's newest text: an answer must not overwrite it.
    const QTimer *peerPending = m_timers.value(link.peerKey);
    return ticket.request == m_requests.value(key) && ticket.render == m_renders &&
           ticket.peerEdits == m_edits.value(link.peerKey) &&
           !(peerPending && peerPending->isActive());
}

void SyncController::apply(const QString &key, const Link &link, const Ticket &ticket,
                           const std::optional<QString> &result)
{
    line(u"SYNC: 回填 t="_s + stamp() + u" -> "_s +
         (result ? graphemePrefix(*result, 46) : u"（nil）"_s));
    if (!isCurrent(key, link, ticket)) {
        line(u"SYNC: 丢弃过期回填 "_s + key);
        return;
    }
    if (!result || result->isEmpty()) {
        showStatus(link.status, u"翻译失败 —— 可手动改另一侧"_s, ACCENT);
        return;
    }
    {
        const QScopedValueRollback<bool> quiet(m_suppress, true);
        if (QPlainTextEdit *peer = textView(link.peerKey)) {
            replaceKeepingSelection(peer, *result);
            const QString written = plainText(peer);
            m_seen.insert(link.peerKey, written);
            m_synced.insert(link.peerKey, written);
        }
    }
    showStatus(link.status, u"已同步"_s + link.peerLabel, OK);
}

SyncController &SYNC()
{
    static SyncController *sync = nullptr;
    if (!sync) {
        sync = new SyncController;
        // Gone before the application object is: no timer or network reply
        // outlives the event loop it belongs to.
        qAddPostRoutine([] {
            delete sync;
            sync = nullptr;
        });
    }
    return *sync;
}

} // namespace moxel
