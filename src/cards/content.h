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

// Lets go of what the last render registered in every layer: its text views
// and button targets.
void clearRenderRegistries();

} // namespace moxel
