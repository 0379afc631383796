#pragma once

#include "keyboard.h"

#include <QHash>
#include <QJsonObject>
#include <QPointer>
#include <QString>

class QPlainTextEdit;
class QWidget;

namespace moxel {

class DraftCopyTarget;
class EditCNTarget;
class ToggleTarget;

// Whatever the salesperson typed is theirs, also when a payload arrives: what
// one render hands to the next. The popup keeps one for as long as it lives.
//
// When a payload repeats the reply inputs ("draft", "cn", "note", "forbid",
// "lang", "lang_name") of the card on screen, that card is kept: with its text,
// undo history, open and unlocked sections, status and pending sync. Otherwise
// a new card is built, and a box the salesperson changed holds their text one
// undo away; the keyboard goes on in the box of the same key.
class ReplyMemory final
{
public:
    ReplyMemory() = default;
    Q_DISABLE_COPY_MOVE(ReplyMemory)

    // Called by a render before it empties the registries; takes the card's
    // targets out of them when the card is kept. Returns whether it is.
    bool keep(const QJsonObject &payload);
    // After the render, the box that takes the keyboard: the one under the key
    // whose box had it before, its section opened and unlocked as it was.
    // Null when no box of the reply card had it.
    QPlainTextEdit *focusAfterRender();

private:
    friend QWidget *replyCard(const QJsonObject &, const QString &, const QString &, ReplyMemory *);
    struct Inputs
    {
        QString draft, cn, note, forbid, lang, langName;
        friend bool operator==(const Inputs &, const Inputs &) = default;
    };
    static Inputs inputsOf(const QJsonObject &payload);

    // The card on screen, what it was built from and what it registered.
    QPointer<QWidget> m_card;
    Inputs m_inputs;
    QPointer<DraftCopyTarget> m_copy;
    QPointer<ToggleTarget> m_toggle;
    QPointer<EditCNTarget> m_edit;
    QPointer<QPlainTextEdit> m_draft, m_cn;

    // What the render in progress was handed.
    bool m_keep = false;
    QString m_focusKey;
    bool m_mirrorUnlocked = false;
    KeyboardHolder m_lentFrom;        // who gets the keyboard back from the unlocked mirror
    QHash<QString, QString> m_edited; // the salesperson's text of each box they changed
};

// The reply card: the editable draft with its copy button and Chinese mirror,
// or the refusal text when no draft was written. With `memory` the card on
// screen is kept or handed over as ReplyMemory says; without, it is new.
QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName,
                   ReplyMemory *memory = nullptr);

} // namespace moxel
