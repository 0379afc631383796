#include "replycard.h"

#include "factories.h"
#include "heights.h"
#include "payload.h"
#include "synccontroller.h"
#include "targets.h"
#include "textbox.h"
#include "textlabel.h"
#include "textviews.h"

#include <QPushButton>
#include <QStringList>

namespace moxel {

namespace {

const QString DraftKey = QStringLiteral("d0-text");
const QString ChineseKey = QStringLiteral("d0-cn");

QWidget *headerRow(const QString &draft)
{
    Stack *row = hstack(6, Qt::AlignVCenter);
    row->setObjectName(QStringLiteral("reply-header"));
    auto *title = new TextLabel(QStringLiteral("AI副驾回复："), TextLabel::Mode::OneLine);
    title->setObjectName(QStringLiteral("reply-title"));
    title->setFont(font(11, true));
    title->setColor(ACCENT);
    row->append(title, 1);
    if (draft.isEmpty())
        return row;

    auto *target = new DraftCopyTarget(DraftKey, draft, QStringLiteral("回复"));
    copyTargets.append(target);
    QPushButton *copy = roundedButton(QStringLiteral("复制"), ACCENT);
    copy->setObjectName(QStringLiteral("d0-copy"));
    target->setParent(copy); // goes with its button even if no render follows
    QObject::connect(copy, &QPushButton::clicked, target, &DraftCopyTarget::doCopy);

    TextLabel *hint = oneLine(QStringLiteral("复制后自行发送"), 9, INK4);
    hint->setObjectName(QStringLiteral("reply-hint"));
    row->append(hint);
    row->append(copy);
    return row;
}

QWidget *refusal(const QString &note, const QString &forbid)
{
    QStringList lines{QStringLiteral("这类对话按纪律不生成草稿。")};
    if (!note.isEmpty())
        lines << note;
    if (!forbid.isEmpty())
        lines << QStringLiteral("禁用：") + forbid;
    TextLabel *label = wrapLabel(lines.join(u'\n'), 10.5, ACCENT);
    label->setObjectName(QStringLiteral("reply-refusal"));
    return label;
}

QWidget *finish(QWidget *column)
{
    QWidget *framed = card(QString(), column);
    framed->setObjectName(QStringLiteral("reply-card"));
    return framed;
}

} // namespace

QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName)
{
    const QString draft = str(payload, u"draft");
    const QString cn = str(payload, u"cn");

    Stack *column = vstack(5);
    stretch(column, headerRow(draft), 0);

    if (draft.isEmpty()) {
        stretch(column, refusal(str(payload, u"note"), str(payload, u"forbid")), 0);
        return finish(column);
    }

    stretch(column, textBox(draft, sidebarHeight(draft, false), true, true, DraftKey, true), 0);
    if (cn.isEmpty())
        return finish(column);

    TextLabel *status = oneLine(QString(), 9, INK4);
    status->setObjectName(QStringLiteral("d0-status"));

    Stack *section = vstack(4);
    section->setObjectName(QStringLiteral("d0-cn-section"));
    stretch(section, textBox(cn, sidebarHeight(cn, true), false, false, ChineseKey, false), 0);

    QPushButton *edit = roundedButton(QStringLiteral("编辑中文"));
    edit->setObjectName(QStringLiteral("d0-edit"));
    if (QPlainTextEdit *view = textView(ChineseKey)) {
        auto *target = new EditCNTarget(view, edit);
        target->setParent(edit);
        QObject::connect(edit, &QPushButton::clicked, target, &EditCNTarget::toggle);
        editTargets.append(target);
    }
    section->append(edit);
    // Full width, so a long status message is cut rather than pushing the card.
    stretch(section, status, 0);
    section->hide();

    QPushButton *toggle = sectionToggle(QStringLiteral("中文翻译"), section);
    toggle->setObjectName(QStringLiteral("d0-toggle"));

    column->append(toggle);
    stretch(column, section, 0);

    // Both views are registered by now, as the controller needs.
    SYNC().registerLink(DraftKey, ChineseKey, QStringLiteral("zh"), QStringLiteral("中文"), status);
    SYNC().registerLink(ChineseKey, DraftKey, lang,
                        langName.isEmpty() ? QStringLiteral("客户语种") : langName, status);
    return finish(column);
}

} // namespace moxel
