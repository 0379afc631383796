#include "keyboard.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QWidget>
#include <QWindow>

#include "windowsystem.h"

namespace moxel {

void setAcceptsKeyboard(QWidget *window, bool accepts)
{
    const Qt::WindowFlags flags = window->windowFlags();
    if (bool(flags & Qt::WindowDoesNotAcceptFocus) == !accepts)
        return;
    // Set on the native window as well: QWidget::setWindowFlags() would hide
    // and re-create a window that is on screen.
    window->overrideWindowFlags(flags ^ Qt::WindowDoesNotAcceptFocus);
    if (QWindow *handle = window->windowHandle())
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, !accepts);
}

void takeKeyboard(QWidget *box, unsigned long timestamp)
{
    QWidget *window = box->window();
    box->setFocus(Qt::OtherFocusReason);
    if (window == box)
        return;
    setAcceptsKeyboard(window, true);
    if (!window->isActiveWindow() && !windowsystem::focusWindow(window, timestamp))
        window->activateWindow();
}

KeyboardHolder keyboardHolder(QWidget *ours)
{
    const unsigned long owner = windowsystem::keyboardOwner();
    if (owner ? owner == ours->internalWinId() : ours->isActiveWindow())
        return {0, true, ours->focusWidget()};
    return {owner, false, nullptr};
}

void giveKeyboardBack(const KeyboardHolder &holder, QWidget *ours)
{
    if (!holder.ours) {
        windowsystem::activateOther(holder.other);
        return;
    }
    // The box may have gone with a render meanwhile; its successor has the focus.
    QWidget *box =
        holder.box && holder.box->window() == ours ? holder.box.data() : ours->focusWidget();
    if (box)
        takeKeyboard(box);
}

bool pressTypesInto(const QWidget *clicked)
{
    for (const QWidget *w = clicked; w; w = w->parentWidget()) {
        if (qobject_cast<const QScrollBar *>(w))
            return false;
        if (w->isEnabled() && (w->focusPolicy() & Qt::ClickFocus)) {
            const auto *box = qobject_cast<const QPlainTextEdit *>(w);
            return box && !box->isReadOnly();
        }
        if (w->isWindow())
            break;
    }
    return false;
}

void setTypable(QWidget *box, bool typable)
{
    box->setFocusPolicy(typable ? Qt::StrongFocus : Qt::TabFocus);
}

} // namespace moxel
