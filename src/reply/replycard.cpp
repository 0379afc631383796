#include "replycard.h"

#include "factories.h"
#include "heights.h"
#include "payload.h"
#include "synccontroller.h"
#include "targets.h"
#include "textbox.h"
#include "textlabel.h"
#include "textviews.h"

#include <QHash>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTextCursor>

#include <utility>

namespace moxel {

namespace {

const QString DraftKey = QStringLiteral("d0-text");
const QString ChineseKey = QStringLiteral("d0-cn");

struct ReplyInputs
{
    QString draft, cn, note, forbid, lang, langName;
    friend bool operator==(const ReplyInputs &, const ReplyInputs &) = default;
};

ReplyInputs replyInputs(const QJsonObject &payload)
{
    return {str(payload, u"draft"),  str(payload, u"cn"),   str(payload, u"note"),
            str(payload, u"forbid"), str(payload, u"lang"), str(payload, u"lang_name")};
}

// The reply card on screen, what it was built from and what it registered.
struct OnScreen
{
    QPointer<QWidget> card;
    ReplyInputs inputs;
    QPointer<DraftCopyTarget> copy;
    QPointer<ToggleTarget> toggle;
    QPointer<EditCNTarget> edit;
    QPointer<QPlainTextEdit> draft, cn;
};

// What one render hands to the next.
struct Handover
{
    bool keep = false;
    QString focusKey;
    bool mirrorUnlocked = false;
    QHash<QString, QString> edited; // the salesperson's text of each box they changed
};

OnScreen onScreen;
Handover handover;

// The new box shows the payload's text; one undo brings back what the
// salesperson had typed into the box it replaces.
void carryEdit(QPlainTextEdit *box, const QString &theirs)
{
    const QString upstream = plainText(box);
    box->setPlainText(theirs);
    QTextCursor all(box->document());
    all.select(QTextCursor::Document);
    all.insertText(upstream);
    box->moveCursor(QTextCursor::Start);
}

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
    onScreen.copy = target;
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
    onScreen.card = framed;
    handover.edited.clear(); // handed to this card's boxes only
    return framed;
}

QPlainTextEdit *box(const QString &key, const QString &text, bool cjk)
{
    const bool draft = key == DraftKey;
    QPlainTextEdit *view = textBox(text, sidebarHeight(text, cjk), draft, draft, key, draft);
    if (const auto theirs = handover.edited.constFind(key); theirs != handover.edited.cend())
        carryEdit(view, *theirs);
    // The salesperson's next keys extend the new text rather than land before it.
    if (key == handover.focusKey)
        view->moveCursor(QTextCursor::End);
    return view;
}

QWidget *keptCard()
{
    handover.keep = false;
    if (onScreen.draft)
        TEXT_VIEWS.insert(DraftKey, onScreen.draft);
    if (onScreen.cn)
        TEXT_VIEWS.insert(ChineseKey, onScreen.cn);
    if (onScreen.copy)
        copyTargets.append(onScreen.copy);
    if (onScreen.toggle)
        toggleTargets.append(onScreen.toggle);
    if (onScreen.edit)
        editTargets.append(onScreen.edit);
    return onScreen.card;
}

} // namespace

bool keepReplyCard(const QJsonObject &payload)
{
    const ReplyInputs inputs = replyInputs(payload);
    handover = Handover{};
    for (QPlainTextEdit *view : {onScreen.draft.data(), onScreen.cn.data()}) {
        if (!view)
            continue;
        // The window remembers its focus widget while the chat has the keyboard.
        if (view->window()->focusWidget() == view) {
            handover.focusKey = view->objectName();
            handover.mirrorUnlocked = !view->isReadOnly();
        }
        // Undo is there only for what the salesperson did: every text the
        // program writes starts a new history.
        if (view->document()->isUndoAvailable())
            handover.edited.insert(view->objectName(), plainText(view));
    }
    handover.keep = onScreen.card && onScreen.inputs == inputs;
    if (!handover.keep)
        return false;
    handover.edited.clear();
    copyTargets.take(onScreen.copy);
    toggleTargets.take(onScreen.toggle);
    editTargets.take(onScreen.edit);
    return true;
}

QPlainTextEdit *replyFocusAfterRender()
{
    const QString key = std::exchange(handover.focusKey, QString());
    QPlainTextEdit *view = key == DraftKey     ? onScreen.draft
                           : key == ChineseKey ? onScreen.cn
                                               : nullptr;
    if (!view || !view->window()->isVisible())
        return nullptr;
    if (view == onScreen.cn) {
        if (onScreen.toggle && onScreen.toggle->openView && onScreen.toggle->openView->isHidden())
            onScreen.toggle->toggle();
        if (onScreen.edit && handover.mirrorUnlocked && view->isReadOnly())
            onScreen.edit->toggle();
    }
    return view;
}

QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName)
{
    if (handover.keep && onScreen.card)
        return keptCard();
    onScreen = OnScreen{};
    onScreen.inputs = replyInputs(payload);
    const QString draft = str(payload, u"draft");
    const QString cn = str(payload, u"cn");

    Stack *column = vstack(5);
    stretch(column, headerRow(draft), 0);

    if (draft.isEmpty()) {
        stretch(column, refusal(str(payload, u"note"), str(payload, u"forbid")), 0);
        return finish(column);
    }

    onScreen.draft = box(DraftKey, draft, false);
    stretch(column, onScreen.draft, 0);
    if (cn.isEmpty())
        return finish(column);

    TextLabel *status = oneLine(QString(), 9, INK4);
    status->setObjectName(QStringLiteral("d0-status"));

    Stack *section = vstack(4);
    section->setObjectName(QStringLiteral("d0-cn-section"));
    onScreen.cn = box(ChineseKey, cn, true);
    stretch(section, onScreen.cn, 0);

    QPushButton *edit = roundedButton(QStringLiteral("编辑中文"));
    edit->setObjectName(QStringLiteral("d0-edit"));
    if (QPlainTextEdit *view = textView(ChineseKey)) {
        auto *target = new EditCNTarget(view, edit);
        target->setParent(edit);
        QObject::connect(edit, &QPushButton::clicked, target, &EditCNTarget::toggle);
        editTargets.append(target);
        onScreen.edit = target;
    }
    section->append(edit);
    // Full width, so a long status message is cut rather than pushing the card.
    stretch(section, status, 0);
    section->hide();

    QPushButton *toggle = sectionToggle(QStringLiteral("中文翻译"), section);
    toggle->setObjectName(QStringLiteral("d0-toggle"));
    onScreen.toggle = toggle->findChild<ToggleTarget *>(QString(), Qt::FindDirectChildrenOnly);

    column->append(toggle);
    stretch(column, section, 0);

    // Both views are registered by now, as the controller needs.
    SYNC().registerLink(DraftKey, ChineseKey, QStringLiteral("zh"), QStringLiteral("中文"), status);
    SYNC().registerLink(ChineseKey, DraftKey, lang,
                        langName.isEmpty() ? QStringLiteral("客户语种") : langName, status);
    return finish(column);
}

} // namespace moxel
