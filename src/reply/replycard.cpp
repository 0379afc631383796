#include "replycard.h"

#include "factories.h"
#include "heights.h"
#include "payload.h"
#include "sectiontoggle.h"
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

} // namespace

ReplyMemory::Inputs ReplyMemory::inputsOf(const QJsonObject &payload)
{
    return {str(payload, u"draft"),  str(payload, u"cn"),   str(payload, u"note"),
            str(payload, u"forbid"), str(payload, u"lang"), str(payload, u"lang_name")};
}

ReplyHandover ReplyMemory::handOver(const QJsonObject &payload) const
{
    ReplyHandover next;
    for (QPlainTextEdit *view : {m_draft.data(), m_cn.data()}) {
        if (!view)
            continue;
        // The window remembers its focus widget while the chat has the keyboard.
        if (view->window()->focusWidget() == view) {
            next.focusKey = view->objectName();
            next.mirrorUnlocked = !view->isReadOnly();
        }
        // Undo is there only for what the salesperson did: every text the
        // program writes starts a new history.
        if (view->document()->isUndoAvailable())
            next.edited.insert(view->objectName(), plainText(view));
    }
    if (m_card && m_inputs == inputsOf(payload)) {
        next.kept = m_card;
        next.edited.clear();
    }
    return next;
}

QWidget *ReplyMemory::card(const QJsonObject &payload, const QString &lang, const QString &langName,
                           const ReplyHandover &handover)
{
    SyncController &sync = SYNC();
    sync.proxy = str(payload, u"proxy");
    sync.token = str(payload, u"token");
    if (handover.kept && handover.kept == m_card)
        return m_card;
    // The pending edit and the answer in flight belong to the boxes this card replaces.
    sync.renderStarted();
    return build(payload, lang, langName, handover);
}

QPlainTextEdit *ReplyMemory::focusAfterRender(const ReplyHandover &handover)
{
    const QString &key = handover.focusKey;
    QPlainTextEdit *view = key == DraftKey ? m_draft : key == ChineseKey ? m_cn : nullptr;
    if (!view || !view->window()->isVisible())
        return nullptr;
    if (view == m_cn) {
        if (m_toggle && m_toggle->openView && m_toggle->openView->isHidden())
            m_toggle->toggle();
        if (m_edit && handover.mirrorUnlocked && view->isReadOnly())
            m_edit->toggle();
    }
    return view;
}

QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName)
{
    ReplyMemory scratch;
    return scratch.card(payload, lang, langName, {});
}

QWidget *ReplyMemory::build(const QJsonObject &payload, const QString &lang,
                            const QString &langName, const ReplyHandover &handover)
{
    m_toggle = nullptr;
    m_edit = nullptr;
    m_draft = m_cn = nullptr;
    m_inputs = inputsOf(payload);
    const QString draft = str(payload, u"draft");
    const QString cn = str(payload, u"cn");

    const auto box = [&handover](const QString &key, const QString &text, bool cjk) {
        // The draft is typed into; the mirror is unlocked by its edit button.
        const bool isDraft = key == DraftKey;
        const TextBoxOptions options =
            isDraft ? TextBoxOption::Mono | TextBoxOption::Editable | TextBoxOption::Dark
                    : TextBoxOptions();
        QPlainTextEdit *view = textBox(text, sidebarHeight(text, cjk), options, key);
        view->setAccessibleName(isDraft ? QStringLiteral("回复草稿") : QStringLiteral("中文翻译"));
        if (const auto theirs = handover.edited.constFind(key); theirs != handover.edited.cend())
            carryEdit(view, *theirs);
        // The salesperson's next keys extend the new text rather than land before it.
        if (key == handover.focusKey)
            view->moveCursor(QTextCursor::End);
        return view;
    };
    const auto finish = [this](QWidget *column) {
        QWidget *framed = moxel::card(QString(), column);
        framed->setObjectName(QStringLiteral("reply-card"));
        m_card = framed;
        return framed;
    };

    Stack *column = vstack(5);
    Stack *row = hstack(6, Qt::AlignVCenter);
    row->setObjectName(QStringLiteral("reply-header"));
    auto *title = new TextLabel(QStringLiteral("AI副驾回复："), TextLabel::Mode::OneLine);
    title->setObjectName(QStringLiteral("reply-title"));
    title->setFont(font(11, FontOption::Bold));
    title->setColor(ACCENT);
    row->append(title, 1);
    if (!draft.isEmpty()) {
        QPushButton *copy = roundedButton(QStringLiteral("复制"), ACCENT);
        copy->setObjectName(QStringLiteral("d0-copy"));
        auto *target = new DraftCopyTarget(DraftKey, draft, QStringLiteral("回复"), copy);
        QObject::connect(copy, &QPushButton::clicked, target, &DraftCopyTarget::doCopy);
        copyTargets.append(target);
        TextLabel *hint = oneLine(QStringLiteral("复制后自行发送"), 9, INK4);
        hint->setObjectName(QStringLiteral("reply-hint"));
        row->append(hint);
        row->append(copy);
    }
    stretch(column, row, 0);

    if (draft.isEmpty()) {
        stretch(column, refusal(str(payload, u"note"), str(payload, u"forbid")), 0);
        return finish(column);
    }

    m_draft = box(DraftKey, draft, false);
    stretch(column, m_draft, 0);
    if (cn.isEmpty())
        return finish(column);

    TextLabel *status = oneLine(QString(), 9, INK4);
    status->setObjectName(QStringLiteral("d0-status"));

    Stack *section = vstack(4);
    section->setObjectName(QStringLiteral("d0-cn-section"));
    m_cn = box(ChineseKey, cn, true);
    stretch(section, m_cn, 0);

    QPushButton *edit = roundedButton(QStringLiteral("编辑中文"));
    edit->setObjectName(QStringLiteral("d0-edit"));
    if (QPlainTextEdit *view = textView(ChineseKey)) {
        auto *target = new EditCNTarget(view, edit);
        QObject::connect(edit, &QPushButton::clicked, target, &EditCNTarget::toggle);
        editTargets.append(target);
        m_edit = target;
    }
    section->append(edit);
    // Full width, so a long status message is cut rather than pushing the card.
    stretch(section, status, 0);
    section->hide();

    QPushButton *toggle = sectionToggle(QStringLiteral("中文翻译"), section);
    toggle->setObjectName(QStringLiteral("d0-toggle"));
    m_toggle = toggleTargetOf(toggle);

    column->append(toggle);
    stretch(column, section, 0);

    // Both views are registered by now, as the controller needs.
    SYNC().registerLink(DraftKey, ChineseKey, QStringLiteral("zh"), QStringLiteral("中文"), status);
    SYNC().registerLink(ChineseKey, DraftKey, lang,
                        langName.isEmpty() ? QStringLiteral("客户语种") : langName, status);
    return finish(column);
}

} // namespace moxel
