#pragma once

#include <QJsonObject>
#include <QString>

class QWidget;

namespace moxel {

// The "会话" card: the one-line summary of the session object (or the size of
// the conversation when nothing is known) and, behind a toggle, the raw
// conversation in a read-only box. Its toggle target goes to toggleTargets.
QWidget *sessionCard(const QJsonObject &session, const QString &conversation);

} // namespace moxel
