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

// One diagnostic line on standard output, UTF-8, line feed, flushed at once.
void printLine(const QString &line);

} // namespace moxel
