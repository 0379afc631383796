#include "targets.h"

#include "factories.h"
#include "keyboard.h"
#include "textbox.h"
#include "textviews.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLayout>
#include <QMargins>
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

namespace {

// The confirmation, as wide as its title in a window manager's title font:
// that font is larger and bold, beside an icon and up to four buttons, and a
// message box sizes itself (at every relayout) for its text alone.
class Confirmation final : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    bool event(QEvent *event) override
    {
        const bool done = QMessageBox::event(event);
        if (event->type() == QEvent::LayoutRequest)
            widen();
        return done;
    }
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event); // sized for its text, centred on the popup
        m_centre = geometry().center();
        widen();
    }

private:
    void widen()
    {
        QFont titleFont = font();
        titleFont.setBold(true);
        titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
        QLayout *box = layout();
        const QMargins margins = box ? box->contentsMargins() : QMargins();
        const int wanted = QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + 5 * 24 +
                           margins.left() + margins.right();
        if (width() >= wanted)
            return;
        setFixedSize(wanted,
                     box && box->hasHeightForWidth() ? box->totalHeightForWidth(wanted) : height());
        // Still centred on the popup; move() places the frame, once there is one.
        move(pos() + m_centre - geometry().center());
    }

    QPoint m_centre;
};

} // namespace

void copyToPasteboard(const QString &text, const QString &label, QWidget *over)
{
    if (text.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);

    const QString title = QStringLiteral("已复制") + label;
    // Owned by the popup's window, which outlives every render, and modal to
    // it alone; it goes when it is answered.
    QWidget *window = over ? over->window() : nullptr;
    auto *alert = new Confirmation(window);
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
    if (KeyboardRequests *keyboard = window ? KeyboardRequests::of(window) : nullptr)
        keyboard->confirmationOpening(alert);
    alert->open();
}

} // namespace moxel
