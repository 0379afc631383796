#pragma once

#include <QString>
#include <QStringView>

namespace moxel {

// Counts and cuts of text shown to the salesperson are in user-perceived
// characters (extended grapheme clusters): one per ideograph, one per emoji
// with its modifiers, one for a CR LF pair.
qsizetype graphemeCount(QStringView text);

// The first `count` user-perceived characters of `text` (all of it when shorter).
QString graphemePrefix(QStringView text, qsizetype count);

// True when `text` holds a run of more than `limit` UTF-16 units with no line
// break opportunity in it. Qt's word-boundary wrapping rescans such a run for
// every line it emits, which is quadratic: a 1 MiB word takes minutes. Views
// switch to breaking anywhere for such text, which is linear.
bool hasLongUnbrokenRun(QStringView text, qsizetype limit = 1000);

// `text` with every control character (C0, DEL, C1) and every format control
// that reorders text (U+202A..U+202E, U+2066..U+2069) written as \u001b and so
// on; everything else, Chinese included, stays as it is.
QString printable(QStringView text);

// One diagnostic line on standard output, UTF-8, line feed, flushed at once.
// Text from outside (a translation, a payload's language) goes through
// printable(), so a line stays one line and never drives the terminal.
void printLine(const QString &line);

} // namespace moxel
