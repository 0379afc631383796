#pragma once

#include <QJsonObject>
#include <QString>

class QWidget;

namespace moxel {

// The reply card: the editable draft with its copy button and Chinese mirror,
// or the refusal text when no draft was written.
QWidget *replyCard(const QJsonObject &payload, const QString &lang, const QString &langName);

} // namespace moxel
