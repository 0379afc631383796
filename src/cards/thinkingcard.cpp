#include "thinkingcard.h"

#include "cardtexts.h"
#include "factories.h"
#include "sectiontoggle.h"

#include <QPushButton>

using namespace Qt::StringLiterals;

namespace moxel {

QWidget *thinkingNodes(const QList<ThinkingNode> &nodes)
{
    Stack *list = vstack(4);
    list->setObjectName(u"thinking-nodes"_s);
    for (const ThinkingNode &node : nodes) {
        Stack *row = hstack(6, Qt::AlignTop);
        row->append(swatch(ACCENT, QSize(5, 5), 2.5));
        TextLabel *title = oneLine(node.title, 9.5, INK3);
        title->setFont(font(9.5, FontOption::Bold));
        title->setFixedWidth(30);
        row->append(title);
        row->append(wrapLabel(node.text, 9.5), 1);
        stretch(list, row, 0);
    }
    return list;
}

QWidget *thinkingCard(const QJsonObject &payload, const QString &analysis)
{
    Stack *column = vstack(4);

    TextLabel *summary = wrapLabel(analysis, 10.5);
    summary->setMaxLines(3);
    summary->setObjectName(u"thinking-summary"_s);
    stretch(column, summary, 0);

    const QList<ThinkingNode> nodes = thinkingNodeTexts(payload);
    auto *details = new LazySection([nodes, analysis] {
        Stack *body = vstack(6);
        TextLabel *full = wrapLabel(analysis, 10);
        full->setObjectName(u"thinking-full"_s);
        stretch(body, full, 0);
        body->append(thinkingNodes(nodes));
        return body;
    });
    details->setObjectName(u"thinking-details"_s);
    details->hide();

    QString shows = analysis;
    for (const ThinkingNode &node : nodes)
        shows += u'\n' + node.title + u'\t' + node.text;
    QPushButton *button = sectionToggle(u"思考节点"_s, details, summary, shows);
    button->setObjectName(u"thinking-toggle"_s);

    column->append(button);
    column->append(details);
    QWidget *result = card(u"思考链"_s, column);
    result->setObjectName(u"thinking-card"_s);
    return result;
}

} // namespace moxel
