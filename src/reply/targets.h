#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace moxel {

// Copies the current text of the view under `key` (or `fallback` when none is
// registered) and confirms it over the window of `over`, its button.
class DraftCopyTarget final : public QObject
{
    Q_OBJECT
public:
    DraftCopyTarget(const QString &key, const QString &fallback, const QString &label,
                    QWidget *over = nullptr);
    const QString key, fallback, label;
    const QPointer<QWidget> over;
    void doCopy();
};

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

// Switches the Chinese mirror between read-only and editable.
class EditCNTarget final : public QObject
{
    Q_OBJECT
public:
    EditCNTarget(QPlainTextEdit *tv, QPushButton *btn);
    const QPointer<QPlainTextEdit> tv;
    const QPointer<QPushButton> btn;
    void toggle();
};

// Owns the targets of the current render; their buttons do not. Emptying
// releases them with deleteLater: a render may run inside a target's own click.
template<typename T> class TargetList
{
public:
    TargetList() = default;
    // What is left at the very end goes with the list.
    ~TargetList() { qDeleteAll(m_items); }
    Q_DISABLE_COPY_MOVE(TargetList)

    // Takes `target` over; null is ignored.
    void append(T *target)
    {
        if (target)
            m_items.append(target);
    }
    // Hands one target back to the caller without releasing it.
    void take(T *target) { m_items.removeAll(QPointer<T>(target)); }
    T *last() const { return m_items.isEmpty() ? nullptr : m_items.constLast().data(); }
    void clear()
    {
        for (const QPointer<T> &t : std::as_const(m_items)) {
            if (t)
                t->deleteLater();
        }
        m_items.clear();
    }
    qsizetype size() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    T *at(qsizetype i) const { return m_items.at(i).data(); }

private:
    QList<QPointer<T>> m_items;
};

extern TargetList<DraftCopyTarget> copyTargets;
extern TargetList<ToggleTarget> toggleTargets;
extern TargetList<EditCNTarget> editTargets;

// Lets go of everything the last render registered: its button targets and
// its text views, in the order a render empties them.
void clearRenderRegistries();

// A collapsible section's button: an inline button titled "▸ " + name while
// `openView` is hidden and "▾ " + name while it shows; `closeView`, when
// given, shows exactly while the section is closed. Its target is kept in
// toggleTargets until the next render.
QPushButton *sectionToggle(const QString &name, QWidget *openView, QWidget *closeView = nullptr);

// Puts `text` on the clipboard as plain text and opens the confirmation
// "已复制" + label over the window of `over`, modal to it; it returns at once
// and the confirmation goes when it is answered. An empty text does nothing.
void copyToPasteboard(const QString &text, const QString &label, QWidget *over = nullptr);

} // namespace moxel
