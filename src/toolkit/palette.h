#pragma once

#include "moxel_version.h"

#include <QColor>
#include <QString>

// The popup's fixed palette. Nothing here depends on the screen, the desktop
// theme or any input: every card, label and status message takes its colours
// from these names.
namespace moxel {

inline const QColor INK{27, 35, 64};
inline const QColor INK2{42, 49, 73};
inline const QColor INK3{107, 117, 147};
inline const QColor INK4{142, 151, 180};
inline const QColor PAPER{244, 246, 254};
inline const QColor CARD{Qt::white};
inline const QColor ACCENT{79, 70, 229};
inline const QColor OK{4, 120, 87};
inline const QColor DARK{15, 27, 45};
inline const QColor DARK_TEXT{220, 233, 255};
inline const QColor DARK_MONO{103, 232, 249};
inline const QColor CARD_LINE{227, 230, 251};

// The version after the title's prefix.
inline const QString VERSION = QStringLiteral("v" MOXEL_VERSION);

// `c` with its alpha replaced.
inline QColor withAlpha(QColor c, double alpha)
{
    c.setAlphaF(float(alpha));
    return c;
}

} // namespace moxel
