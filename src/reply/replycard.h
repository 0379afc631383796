#pragma once

#include <QJsonObject>
#include <QString>

class QPlainTextEdit;
class QWidget;

namespace moxel {

// The reply card: the editable draft with its copy button and Chinese mirror,
// or the refusal text when no draft was written.
QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName);

// Whatever the salesperson typed is theirs, also when a payload arrives. A
// render calls this before it empties the registries. When the payload repeats
// the reply inputs ("draft", "cn", "note", "forbid", "lang", "lang_name") of the
// card on screen, that card is kept: emptying the arrays spares its targets and
// the next replyCard() returns the card itself, registered again, with its text,
// undo history, open and unlocked sections, status and pending sync. Otherwise
// the next replyCard() builds a new card, and a box the salesperson changed
// holds their text one undo away. Returns whether the card is kept.
bool keepReplyCard(const QJsonObject &payload);

// After a render, the box of the card on screen that takes the keyboard: the
// one under the key whose box had it before the render, its section opened and
// unlocked as it was. Null when no box of the reply card had it.
QPlainTextEdit *replyFocusAfterRender();

} // namespace moxel
