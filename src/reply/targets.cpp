#include "targets.h"

#include "factories.h"
#include "keyboard.h"
#include "textbox.h"
#include "textviews.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

namespace moxel {

TargetList<DraftCopyTarget> copyTargets;
TargetList<EditCNTarget> editTargets;

void clearReplyTargets(const QWidget *kept)
{
    copyTargets.clear([kept](const DraftCopyTarget *t) { return isPartOf(t->over, kept); });
    editTargets.clear([kept](const EditCNTarget *t) { return isPartOf(t->btn, kept); });
}

DraftCopyTarget::DraftCopyTarget(const QString &key, const QString &fallback, const QString &label,
                                 QWidget *over)
    : key(key), fallback(fallback), label(label), over(over)
{}

void DraftCopyTarget::doCopy()
{
    const QPlainTextEdit *view = textView(key);
    const QString text = view ? plainText(view) : fallback;
    copyToPasteboard(text, label, over);
}

EditCNTarget::EditCNTarget(QPlainTextEdit *tv, QPushButton *btn) : tv(tv), btn(btn) {}

void EditCNTarget::toggle()
{
    if (!tv)
        return;
    const bool unlock = tv->isReadOnly();
    KeyboardRequests *keyboard = KeyboardRequests::of(tv);
    tv->setReadOnly(!unlock);
    setTypable(tv, unlock);
    if (unlock) {
        tv->moveCursor(QTextCursor::End);
        // Unlocking is asking to type there.
        if (keyboard)
            keyboard->typeInto(tv);
        else
            tv->setFocus(Qt::OtherFocusReason);
        if (btn)
            setButtonTitle(btn, QStringLiteral("完成"));
        return;
    }
    if (keyboard)
        keyboard->doneTyping(tv);
    if (btn)
        setButtonTitle(btn, QStringLiteral("编辑中文"));
}

void copyToPasteboard(const QString &text, const QString &label, QWidget *over)
{
    if (text.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);

    const QString title = QStringLiteral("已复制") + label;
    // Owned by the popup's window, which outlives every render, and modal to
    // it alone; it goes when it is answered.
    QWidget *window = over ? over->window() : nullptr;
    auto *alert = new QMessageBox(window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowFlags(
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
        (window ? window->windowFlags() & Qt::WindowStaysOnTopHint : Qt::WindowFlags()));
    alert->setFont(font(12));
    alert->setIcon(QMessageBox::NoIcon);
    alert->setTextFormat(Qt::PlainText);
    alert->setWindowTitle(title);
    alert->setText(title);
    alert->setInformativeText(QStringLiteral("回到聊天窗口粘贴即可。"));
    QPushButton *ok = alert->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    ok->setAccessibleName(QStringLiteral("好"));
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    // As wide as its title in a window manager's title font, larger and bold,
    // beside an icon and up to four buttons of about 24 pixels: a message box
    // is as wide as its row of buttons, which spans it.
    QFont titleFont = alert->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    const int titleBarControls = 5 * 24;
    if (auto *buttons = alert->findChild<QDialogButtonBox *>())
        buttons->setMinimumWidth(QFontMetrics(titleFont).horizontalAdvance(title) +
                                 titleBarControls);
    if (KeyboardRequests *keyboard = window ? KeyboardRequests::of(window) : nullptr)
        keyboard->confirmationOpening(alert);
    alert->open();
}

} // namespace moxel
