#include "targets.h"

#include "factories.h"
#include "keyboard.h"
#include "textbox.h"
#include "textviews.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpacerItem>

namespace moxel {

TargetList<DraftCopyTarget> copyTargets;
TargetList<ToggleTarget> toggleTargets;
TargetList<EditCNTarget> editTargets;

void clearRenderRegistries()
{
    copyTargets.clear();
    TEXT_VIEWS.clear();
    toggleTargets.clear();
    editTargets.clear();
}

DraftCopyTarget::DraftCopyTarget(const QString &key, const QString &fallback, const QString &label)
    : key(key), fallback(fallback), label(label)
{}

void DraftCopyTarget::doCopy()
{
    const QPlainTextEdit *view = textView(key);
    const QString text = view ? plainText(view) : fallback;
    // A render inside the confirmation's event loop deletes this target:
    // nothing of it may be used once the alert is up.
    const QString word = label;
    copyToPasteboard(text, word, qobject_cast<QWidget *>(parent()));
}

ToggleTarget::ToggleTarget(QPushButton *btn, QWidget *openView, QWidget *closeView,
                           const QString &closedTitle, const QString &openTitle)
    : btn(btn), openView(openView), closeView(closeView), closedTitle(closedTitle),
      openTitle(openTitle)
{}

QPushButton *sectionToggle(const QString &name, QWidget *openView, QWidget *closeView)
{
    const QString closedTitle = QStringLiteral("▸ ") + name;
    QPushButton *button = inlineButton(closedTitle);
    auto *target =
        new ToggleTarget(button, openView, closeView, closedTitle, QStringLiteral("▾ ") + name);
    // Parented to its button as well, so a card dropped without a new render
    // does not leave its target behind.
    target->setParent(button);
    QObject::connect(button, &QPushButton::clicked, target, &ToggleTarget::toggle);
    toggleTargets.append(target);
    return button;
}

void ToggleTarget::toggle()
{
    if (!openView)
        return;
    const bool wasHidden = openView->isHidden();
    openView->setHidden(!wasHidden);
    if (closeView)
        closeView->setHidden(wasHidden);
    if (btn)
        setButtonTitle(btn, wasHidden ? openTitle : closedTitle);
}

EditCNTarget::EditCNTarget(QPlainTextEdit *tv, QPushButton *btn) : tv(tv), btn(btn) {}

void EditCNTarget::toggle()
{
    if (!tv)
        return;
    tv->setReadOnly(!tv->isReadOnly());
    setTypable(tv, !tv->isReadOnly());
    if (!tv->isReadOnly()) {
        // Unlocking is asking to type there.
        if (tv->window() != tv)
            takeKeyboard(tv);
        if (btn)
            setButtonTitle(btn, QStringLiteral("完成"));
    } else if (btn) {
        setButtonTitle(btn, QStringLiteral("编辑中文"));
    }
}

void copyToPasteboard(const QString &text, const QString &label, QWidget *over)
{
    if (text.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);

    const QString title = QStringLiteral("已复制") + label;
    // Owned by the popup's window, which outlives every render: a widget of
    // the content may be deleted by a render while the alert is open.
    QWidget *window = over ? over->window() : nullptr;
    QPointer<QMessageBox> alert = new QMessageBox(window);
    alert->setWindowFlags(
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
        (window ? window->windowFlags() & Qt::WindowStaysOnTopHint : Qt::WindowFlags()));
    alert->setFont(font(12));
    alert->setIcon(QMessageBox::NoIcon);
    alert->setTextFormat(Qt::PlainText);
    alert->setWindowTitle(title);
    alert->setText(title);
    alert->setInformativeText(QStringLiteral("回到聊天窗口粘贴即可。"));
    if (auto *info = alert->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        info->setTextFormat(Qt::PlainText);
        info->setWordWrap(false);
    }
    // A window manager draws the title in a font of its own, beside up to
    // five buttons; the alert's own sizing leaves room for about two.
    QFont titleFont = alert->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    if (auto *grid = qobject_cast<QGridLayout *>(alert->layout()))
        grid->addItem(new QSpacerItem(QFontMetrics(titleFont).horizontalAdvance(title) + 5 * 24, 0,
                                      QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    QPushButton *ok = alert->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    ok->setAccessibleName(QStringLiteral("好"));
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    alert->exec();
    delete alert;
}

} // namespace moxel
