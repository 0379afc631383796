#include "sectiontoggle.h"

#include "factories.h"
#include "textviews.h"

#include <QAbstractScrollArea>
#include <QPushButton>
#include <QScrollBar>

#include <memory>

namespace moxel {

TargetList<ToggleTarget> toggleTargets;

ToggleTarget::ToggleTarget(QPushButton *btn, QWidget *openView, QWidget *closeView,
                           const QString &closedTitle, const QString &openTitle)
    : btn(btn), openView(openView), closeView(closeView), closedTitle(closedTitle),
      openTitle(openTitle)
{}

void clearToggleTargets(const QWidget *kept)
{
    toggleTargets.clear([kept](const ToggleTarget *t) { return isPartOf(t->btn, kept); });
}

ToggleTarget *toggleTargetOf(const QWidget *button)
{
    for (qsizetype i = 0; i < toggleTargets.size(); ++i) {
        if (ToggleTarget *t = toggleTargets.at(i); t && button && t->btn == button)
            return t;
    }
    return nullptr;
}

QPushButton *sectionToggle(const QString &name, QWidget *openView, QWidget *closeView,
                           const QString &shows)
{
    const QString closedTitle = QStringLiteral("▸ ") + name;
    QPushButton *button = inlineButton(closedTitle);
    auto *target =
        new ToggleTarget(button, openView, closeView, closedTitle, QStringLiteral("▾ ") + name);
    target->shows = shows;
    QObject::connect(button, &QPushButton::clicked, target, &ToggleTarget::toggle);
    toggleTargets.append(target);
    return button;
}

namespace {

QScrollBar *scrollBarOf(const ToggleTarget *target)
{
    const auto *box = target->openView->findChild<QAbstractScrollArea *>();
    return box ? box->verticalScrollBar() : nullptr;
}

} // namespace

OpenSections openSections()
{
    OpenSections open;
    for (qsizetype i = 0; i < toggleTargets.size(); ++i) {
        const ToggleTarget *t = toggleTargets.at(i);
        if (!t || !t->btn || !t->openView || t->openView->isHidden() || t->shows.isEmpty())
            continue;
        const QScrollBar *bar = scrollBarOf(t);
        open.insert(t->btn->objectName(), {t->shows, bar ? bar->value() : 0});
    }
    return open;
}

void reopenSections(const OpenSections &open)
{
    for (qsizetype i = 0; i < toggleTargets.size(); ++i) {
        ToggleTarget *t = toggleTargets.at(i);
        if (!t || !t->btn || !t->openView)
            continue;
        const auto was = open.constFind(t->btn->objectName());
        if (was == open.cend() || was->shows != t->shows || !t->openView->isHidden())
            continue;
        t->toggle();
        QScrollBar *bar = scrollBarOf(t);
        if (!bar || was->scrolled <= 0)
            continue;
        // The box knows how far it can scroll once it is laid out.
        auto restore = std::make_shared<QMetaObject::Connection>();
        *restore = QObject::connect(bar, &QScrollBar::rangeChanged, bar,
                                    [bar, restore, value = was->scrolled](int, int maximum) {
                                        if (maximum < value)
                                            return;
                                        bar->setValue(value);
                                        QObject::disconnect(*restore);
                                    });
    }
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

} // namespace moxel
