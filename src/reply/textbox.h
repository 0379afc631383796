#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace moxel {

// A fixed-height plain-text box: a QPlainTextEdit (its own scroll area), in the
// dark or the light scheme, registered in TEXT_VIEWS under `key` (also its
// object name) when `key` is not empty.
QPlainTextEdit *textBox(const QString &text, double height, bool mono = true,
                        bool editable = false, const QString &key = QString(), bool dark = false);

} // namespace moxel
