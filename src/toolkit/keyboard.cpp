#include "keyboard.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QWidget>

namespace moxel {

QPlainTextEdit *pressTypesInto(QWidget *clicked)
{
    for (QWidget *w = clicked; w; w = w->parentWidget()) {
        if (qobject_cast<QScrollBar *>(w))
            return nullptr;
        if (w->isEnabled() && (w->focusPolicy() & Qt::ClickFocus)) {
            auto *box = qobject_cast<QPlainTextEdit *>(w);
            return box && !box->isReadOnly() ? box : nullptr;
        }
        if (w->isWindow())
            break;
    }
    return nullptr;
}

void setTypable(QWidget *box, bool typable)
{
    box->setFocusPolicy(typable ? Qt::StrongFocus : Qt::TabFocus);
}

KeyboardRequests *KeyboardRequests::of(const QWidget *widget)
{
    return widget->window()->findChild<KeyboardRequests *>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace moxel
