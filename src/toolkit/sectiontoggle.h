#pragma once

#include "targetlist.h"

#include <QHash>
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
    // What the section shows, so that a refresh repeating it keeps it open;
    // empty for a section that starts closed at every render.
    QString shows;
    void toggle();
};

extern TargetList<ToggleTarget> toggleTargets;
// Lets go of the last render's section targets, all but those of sections
// inside `kept`.
void clearToggleTargets(const QWidget *kept = nullptr);
// The target of the section toggle `button`, or null.
ToggleTarget *toggleTargetOf(const QWidget *button);

// A collapsible section's button: an inline button titled "▸ " + name while
// `openView` is hidden and "▾ " + name while it shows; `closeView`, when
// given, shows exactly while the section is closed. Its target is kept in
// toggleTargets until the next render.
QPushButton *sectionToggle(const QString &name, QWidget *openView, QWidget *closeView = nullptr,
                           const QString &shows = {});

// The sections of the current render that the salesperson opened, by their
// button's object name: what each shows, and how far its box is scrolled.
struct OpenSection
{
    QString shows;
    int scrolled = 0;
};
using OpenSections = QHash<QString, OpenSection>;
OpenSections openSections();
// Opens again, in the current render, each section that shows what it showed
// then, its box scrolled as it was once laid out; a changed one stays closed.
void reopenSections(const OpenSections &open);

} // namespace moxel
