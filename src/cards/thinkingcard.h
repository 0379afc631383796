#pragma once

#include <QJsonObject>
#include <QString>

class QWidget;

namespace moxel {

// The seven thinking nodes of a payload, one row each: dot, title, text.
QWidget *thinkingNodes(const QJsonObject &payload);

// The "思考链" card: a three-line summary of `analysis` that a toggle swaps for
// the full text and the thinking nodes. Its toggle target goes to toggleTargets.
QWidget *thinkingCard(const QJsonObject &payload, const QString &analysis);

} // namespace moxel
