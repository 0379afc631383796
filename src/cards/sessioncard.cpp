#include "sessioncard.h"

#include "cardtexts.h"
#include "factories.h"
#include "sectiontoggle.h"
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
        auto *section = new LazySection([conversation] {
            QPlainTextEdit *box = textBox(conversation, 190, TextBoxOptions());
            box->setObjectName(u"session-conversation"_s);
            box->setAccessibleName(u"原始会话"_s);
            return box;
        });
        section->hide();

        QPushButton *button = sectionToggle(u"原始会话"_s, section, nullptr, conversation);
        button->setObjectName(u"session-toggle"_s);

        column->append(button);
        stretch(column, section, 0);
    }

    QWidget *result = card(u"会话"_s, column);
    result->setObjectName(u"session-card"_s);
    return result;
}

} // namespace moxel
