#pragma once

#include "replycard.h"

#include <QJsonObject>
#include <QString>

class QWidget;

namespace moxel {

class Stack;

// One render's content column, and what its reply card took over from the
// card it replaces (for ReplyMemory::focusAfterRender).
struct Content
{
    Stack *column = nullptr;
    ReplyHandover reply;
};

// Renders `payload`: the whole content column, header card, session card
// (optional), thinking card (optional) and reply card, in that order. The
// reply card is kept or handed over as `memory` says; without a memory every
// card is new. What the last render registered is let go of first, all but the
// kept card's; the sections the salesperson had open and that show the same
// open again.
Content buildContent(const QJsonObject &payload, ReplyMemory *memory = nullptr);

// Lets go of what the last render registered in every layer: its text views
// and button targets, all but those inside `kept`.
void clearRenderRegistries(const QWidget *kept = nullptr);

} // namespace moxel
