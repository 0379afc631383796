#pragma once

#include "targetlist.h"

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

// Switches the Chinese mirror between read-only and editable. Unlocking asks
// the window's keyboard policy to type there, the caret at the end; locking
// tells it the salesperson is done there.
class EditCNTarget final : public QObject
{
    Q_OBJECT
public:
    EditCNTarget(QPlainTextEdit *tv, QPushButton *btn);
    const QPointer<QPlainTextEdit> tv;
    const QPointer<QPushButton> btn;
    void toggle();
};

extern TargetList<DraftCopyTarget> copyTargets;
extern TargetList<EditCNTarget> editTargets;

// Lets go of the last render's copy and edit targets, all but those of
// buttons inside `kept`.
void clearReplyTargets(const QWidget *kept = nullptr);

// Puts `text` on the clipboard as plain text and opens the confirmation
// "已复制" + label over the window of `over`, modal to it; it returns at once
// and the confirmation goes when it is answered. An empty text does nothing.
void copyToPasteboard(const QString &text, const QString &label, QWidget *over = nullptr);

} // namespace moxel
