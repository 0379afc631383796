#pragma once

#include "targetlist.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QPushButton;
class QWidget;

namespace moxel {

// Shows and hides a collapsible section and swaps its button's title.
class ToggleTarget final : public QObject
{
    Q_OBJECT
public:
    ToggleTarget(QPushButton *btn, QWidget *openView, QWidget *closeView,
                 const QString &closedTitle, const QString &openTitle);
    const QPointer<QPushButton> btn;
    const QPointer<QWidget> openView;
    const QPointer<QWidget> closeView;
    const QString closedTitle, openTitle;
    void toggle();
};

extern TargetList<ToggleTarget> toggleTargets;

// A collapsible section's button: an inline button titled "▸ " + name while
// `openView` is hidden and "▾ " + name while it shows; `closeView`, when
// given, shows exactly while the section is closed. Its target is kept in
// toggleTargets until the next render.
QPushButton *sectionToggle(const QString &name, QWidget *openView, QWidget *closeView = nullptr);

} // namespace moxel
