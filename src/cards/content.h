#pragma once

#include <QJsonObject>
#include <QString>

class QWidget;

namespace moxel {

class ReplyMemory;
class Stack;

// The whole content column for one payload: header card, session card
// (optional), thinking card (optional) and reply card, in that order. The
// reply card is kept or handed over as `memory` says (see replyCard()).
Stack *buildContent(const QJsonObject &payload, ReplyMemory *memory = nullptr);

} // namespace moxel
