#include "sectiontoggle.h"

#include "factories.h"

#include <QPushButton>

namespace moxel {

TargetList<ToggleTarget> toggleTargets;

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

} // namespace moxel
