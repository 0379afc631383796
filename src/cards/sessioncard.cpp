#include "sessioncard.h"

#include "cardtexts.h"
#include "factories.h"
#include "targets.h"
#include "textbox.h"

#include <QPlainTextEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace moxel {

QWidget *sessionCard(const QJsonObject &session, const QString &conversation)
{
    Stack *column = vstack(4);

    QString line = sessionLine(session);
    if (line.isEmpty())
        line = selectedCharsLine(conversation);
    TextLabel *summary = oneLine(line, 11, INK2);
    summary->setObjectName(u"session-line"_s);
    stretch(column, summary, 0);

    if (!conversation.isEmpty()) {
        QPlainTextEdit *box = textBox(conversation, 190, false, false, QString(), false);
        box->setObjectName(u"session-conversation"_s);
        box->setAccessibleName(u"原始会话"_s);
        box->hide();

        const QString closedTitle = u"▸ 原始会话"_s;
        QPushButton *button = inlineButton(closedTitle);
        button->setObjectName(u"session-toggle"_s);
        // Parented to its button as well, so a card dropped without a new
        // render does not leave its target behind.
        auto *target = new ToggleTarget(button, box, nullptr, closedTitle, u"▾ 原始会话"_s);
        target->setParent(button);
        QObject::connect(button, &QPushButton::clicked, target, &ToggleTarget::toggle);
        toggleTargets.append(target);

        column->append(button);
        stretch(column, box, 0);
    }

    QWidget *result = card(u"会话"_s, column);
    result->setObjectName(u"session-card"_s);
    return result;
}

} // namespace moxel
