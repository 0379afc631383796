#pragma once

#include <QHash>
#include <QJsonObject>
#include <QPointer>
#include <QString>

class QPlainTextEdit;
class QWidget;

namespace moxel {

class EditCNTarget;
class ToggleTarget;

// What one render of the reply card takes over from the card on screen: the
// card itself when the payload repeats it, otherwise what the salesperson
// typed and where they were typing.
struct ReplyHandover
{
    QPointer<QWidget> kept;         // the card on screen, kept as it is; null: a new card
    QString focusKey;               // the box that had the window's focus
    bool mirrorUnlocked = false;    // the mirror had it, unlocked
    QHash<QString, QString> edited; // the salesperson's text of each box they changed
};

// Whatever the salesperson typed is theirs, also when a payload arrives: the
// reply card on screen, which each render asks what to take over.
//
// When a payload repeats the reply inputs ("draft", "cn", "note", "forbid",
// "lang", "lang_name") of the card on screen, that card is kept: with its text,
// undo history, open and unlocked sections, status and pending sync, and its
// targets stay registered. Otherwise a new card is built, and a box the
// salesperson changed holds their text one undo away; the keyboard goes on in
// the box of the same key.
class ReplyMemory final
{
public:
    ReplyMemory() = default;
    Q_DISABLE_COPY_MOVE(ReplyMemory)

    // What a render of `payload` takes over, read before the render lets go
    // of anything.
    ReplyHandover handOver(const QJsonObject &payload) const;
    // The reply card for `payload`: the kept one, or a new one carrying what
    // `handover` holds. It is the card on screen from now on.
    QWidget *card(const QJsonObject &payload, const QString &lang, const QString &langName,
                  const ReplyHandover &handover);
    // Once the card is in the shown window, the box that takes the keyboard:
    // the one under the key whose box had it before, its section opened and
    // unlocked as it was. Null when no box of the reply card had it.
    QPlainTextEdit *focusAfterRender(const ReplyHandover &handover);

private:
    struct Inputs
    {
        QString draft, cn, note, forbid, lang, langName;
        friend bool operator==(const Inputs &, const Inputs &) = default;
    };
    static Inputs inputsOf(const QJsonObject &payload);
    QWidget *build(const QJsonObject &payload, const QString &lang, const QString &langName,
                   const ReplyHandover &handover);

    // The card on screen, what it was built from and its parts.
    QPointer<QWidget> m_card;
    Inputs m_inputs;
    QPointer<ToggleTarget> m_toggle;
    QPointer<EditCNTarget> m_edit;
    QPointer<QPlainTextEdit> m_draft, m_cn;
};

// A new reply card: the editable draft with its copy button and Chinese
// mirror, or the refusal text when no draft was written.
QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName);

} // namespace moxel
