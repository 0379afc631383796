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

bool ReplyMemory::keep(const QJsonObject &payload)
{
    m_keep = false;
    m_focusKey.clear();
    m_mirrorUnlocked = false;
    m_lentFrom = {};
    m_edited.clear();
    for (QPlainTextEdit *view : {m_draft.data(), m_cn.data()}) {
        if (!view)
            continue;
        // The window remembers its focus widget while the chat has the keyboard.
        if (view->window()->focusWidget() == view) {
            m_focusKey = view->objectName();
            m_mirrorUnlocked = !view->isReadOnly();
            if (view == m_cn && m_edit)
                m_lentFrom = m_edit->before;
        }
        // Undo is there only for what the salesperson did: every text the
        // program writes starts a new history.
        if (view->document()->isUndoAvailable())
            m_edited.insert(view->objectName(), plainText(view));
    }
    m_keep = m_card && m_inputs == inputsOf(payload);
    if (!m_keep)
        return false;
    m_edited.clear();
    // Out of the arrays for the render that empties them; the card puts them back.
    copyTargets.take(m_copy);
    toggleTargets.take(m_toggle);
    editTargets.take(m_edit);
    return true;
}

QPlainTextEdit *ReplyMemory::focusAfterRender()
{
    const QString key = std::exchange(m_focusKey, QString());
    QPlainTextEdit *view = key == DraftKey ? m_draft : key == ChineseKey ? m_cn : nullptr;
    if (!view || !view->window()->isVisible())
        return nullptr;
    if (view == m_cn) {
        if (m_toggle && m_toggle->openView && m_toggle->openView->isHidden())
            m_toggle->toggle();
        if (m_edit && m_mirrorUnlocked && view->isReadOnly()) {
            m_edit->toggle();
            // 完成 in the new card hands the keyboard to whoever had it before
            // the old one was unlocked: the chat, or the draft that replaced theirs.
            m_edit->before = std::exchange(m_lentFrom, {});
            if (m_edit->before.ours)
                m_edit->before.box = m_draft.data();
        }
    }
    return view;
}

QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName,
                   ReplyMemory *memory)
{
    ReplyMemory scratch; // without a memory, every card is new
    ReplyMemory &m = memory ? *memory : scratch;
    if (std::exchange(m.m_keep, false) && m.m_card) {
        if (m.m_draft)
            TEXT_VIEWS.insert(DraftKey, m.m_draft);
        if (m.m_cn)
            TEXT_VIEWS.insert(ChineseKey, m.m_cn);
        copyTargets.append(m.m_copy);
        toggleTargets.append(m.m_toggle);
        editTargets.append(m.m_edit);
        return m.m_card;
    }
    m.m_card = nullptr;
    m.m_copy = nullptr;
    m.m_toggle = nullptr;
    m.m_edit = nullptr;
    m.m_draft = m.m_cn = nullptr;
    m.m_inputs = ReplyMemory::inputsOf(payload);
    const QString draft = str(payload, u"draft");
    const QString cn = str(payload, u"cn");

    const auto box = [&m](const QString &key, const QString &text, bool cjk) {
        // The draft is typed into; the mirror is unlocked by its edit button.
        const TextBoxOptions options =
            key == DraftKey ? TextBoxOption::Mono | TextBoxOption::Editable | TextBoxOption::Dark
                            : TextBoxOptions();
        QPlainTextEdit *view = textBox(text, sidebarHeight(text, cjk), options, key);
        view->setAccessibleName(key == DraftKey ? QStringLiteral("回复草稿")
                                                : QStringLiteral("中文翻译"));
        if (const auto theirs = m.m_edited.constFind(key); theirs != m.m_edited.cend())
            carryEdit(view, *theirs);
        // The salesperson's next keys extend the new text rather than land before it.
        if (key == m.m_focusKey)
            view->moveCursor(QTextCursor::End);
        return view;
    };
    const auto finish = [&m](QWidget *column) {
        QWidget *framed = card(QString(), column);
        framed->setObjectName(QStringLiteral("reply-card"));
        m.m_card = framed;
        m.m_edited.clear(); // handed to this card's boxes only
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
        m.m_copy = target;
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

    m.m_draft = box(DraftKey, draft, false);
    stretch(column, m.m_draft, 0);
    if (cn.isEmpty())
        return finish(column);

    TextLabel *status = oneLine(QString(), 9, INK4);
    status->setObjectName(QStringLiteral("d0-status"));

    Stack *section = vstack(4);
    section->setObjectName(QStringLiteral("d0-cn-section"));
    m.m_cn = box(ChineseKey, cn, true);
    stretch(section, m.m_cn, 0);

    QPushButton *edit = roundedButton(QStringLiteral("编辑中文"));
    edit->setObjectName(QStringLiteral("d0-edit"));
    if (QPlainTextEdit *view = textView(ChineseKey)) {
        auto *target = new EditCNTarget(view, edit);
        QObject::connect(edit, &QPushButton::clicked, target, &EditCNTarget::toggle);
        editTargets.append(target);
        m.m_edit = target;
    }
    section->append(edit);
    // Full width, so a long status message is cut rather than pushing the card.
    stretch(section, status, 0);
    section->hide();

    QPushButton *toggle = sectionToggle(QStringLiteral("中文翻译"), section);
    toggle->setObjectName(QStringLiteral("d0-toggle"));
    m.m_toggle = toggleTargets.last();

    column->append(toggle);
    stretch(column, section, 0);

    // Both views are registered by now, as the controller needs.
    SYNC().registerLink(DraftKey, ChineseKey, QStringLiteral("zh"), QStringLiteral("中文"), status);
    SYNC().registerLink(ChineseKey, DraftKey, lang,
                        langName.isEmpty() ? QStringLiteral("客户语种") : langName, status);
    return finish(column);
}

} // namespace moxel
