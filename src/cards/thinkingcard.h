#pragma once

#include "cardtexts.h"

#include <QJsonObject>
#include <QString>

class QWidget;

namespace moxel {

// The thinking nodes (thinkingNodeTexts), one row each: dot, title, text.
QWidget *thinkingNodes(const QList<ThinkingNode> &nodes);

// The "思考链" card: a three-line summary of `analysis` that a toggle swaps for
// the full text and the thinking nodes. Its toggle target goes to toggleTargets.
QWidget *thinkingCard(const QJsonObject &payload, const QString &analysis);

} // namespace moxel
