#pragma once

#include <QJsonObject>
#include <QString>

class QWidget;

namespace moxel {

class Stack;

// The whole content column for one payload: header card, session card
// (optional), thinking card (optional) and reply card, in that order.
Stack *buildContent(const QJsonObject &payload);

} // namespace moxel
