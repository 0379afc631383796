#pragma once

#include <QHash>
#include <QPlainTextEdit>
#include <QPointer>
#include <QString>

namespace moxel {

// The text views of the current render that other parts find by key, such as
// the reply draft and its Chinese mirror. Filled by `textBox`, emptied by every
// render before the content is built; read by the copy target, the sync
// controller and the self-test. Main thread only.
using TextViewRegistry = QHash<QString, QPointer<QPlainTextEdit>>;
extern TextViewRegistry TEXT_VIEWS;

// Whether `widget` is `part` or inside it; never for a null part.
bool isPartOf(const QWidget *widget, const QWidget *part);
// Lets go of the views of the last render, all but those inside `kept`: a
// part of it the next render keeps as it is.
void clearTextViews(const QWidget *kept = nullptr);

// The registered view under `key`, or null.
QPlainTextEdit *textView(const QString &key);
// The key under which this very view is registered, or an empty string.
QString keyOfView(const QObject *view);

// The text of a view exactly as it holds it, for copying and sending: breaks
// between paragraphs as line feeds, no-break spaces and U+2028 kept
// (QPlainTextEdit::toPlainText turns them into spaces and line feeds).
QString plainText(const QPlainTextEdit *view);

} // namespace moxel
