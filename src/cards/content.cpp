#include "content.h"

#include "cardtexts.h"
#include "factories.h"
#include "payload.h"
#include "replycard.h"
#include "sectiontoggle.h"
#include "sessioncard.h"
#include "targets.h"
#include "textviews.h"
#include "thinkingcard.h"

using namespace Qt::StringLiterals;

namespace moxel {

namespace {

QWidget *headerRow(const QString &label, const QString &value, const QString &name)
{
    Stack *row = hstack(8, Qt::AlignTop);
    TextLabel *caption = oneLine(label, 10, INK3);
    caption->setFixedWidth(28);
    row->append(caption);
    TextLabel *text = wrapLabel(value, 12, INK);
    text->setObjectName(name);
    row->append(text, 1);
    return row;
}

} // namespace

void clearRenderRegistries(const QWidget *kept)
{
    clearReplyTargets(kept);
    clearToggleTargets(kept);
    clearTextViews(kept);
}

Content buildContent(const QJsonObject &payload, ReplyMemory *memory)
{
    ReplyMemory scratch;
    ReplyMemory &replies = memory ? *memory : scratch;
    Content content{nullptr, replies.handOver(payload)};
    // What the salesperson opened to read stays open while it says the same.
    const OpenSections open = openSections();
    clearRenderRegistries(content.reply.kept);

    const QString intent = str(payload, u"intent");
    const QString langName = str(payload, u"lang_name");
    const QString lang = str(payload, u"lang");
    const QString analysis = str(payload, u"analysis");
    const QJsonObject session = object(payload, u"session");
    const QString conversation = str(payload, u"conversation");

    Stack *root = content.column = vstack(7, QMargins(10, 8, 10, 10));
    root->setObjectName(u"content"_s);

    Stack *header = vstack(3);
    stretch(header, headerRow(u"意图"_s, intentText(intent), u"header-intent"_s), 0);
    stretch(header, headerRow(u"语种"_s, languageText(langName), u"header-lang"_s), 0);
    QWidget *headerCard = card(QString(), header);
    headerCard->setObjectName(u"header-card"_s);
    stretch(root, headerCard);

    if (!session.isEmpty() || !conversation.isEmpty())
        stretch(root, sessionCard(session, conversation));

    if (const QString body = analysisBody(analysis); !body.isEmpty())
        stretch(root, thinkingCard(payload, body));

    // The reply card gets the language name as sent, not the header's "—".
    QWidget *reply = replies.card(payload, lang, langName, content.reply);
    if (reply->objectName().isEmpty())
        reply->setObjectName(u"reply-card"_s);
    stretch(root, reply);
    // A card kept from the last render was hidden by leaving its old column.
    reply->show();
    reopenSections(open);
    return content;
}

} // namespace moxel
