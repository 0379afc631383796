#include "look.h"

#include "palette.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace moxel {

namespace {

// The light greys of the controls, as Qt draws them on a desktop without a
// theme: the cards and the text boxes were drawn around those controls.
// Fusion's standardPalette() has these colours only on a light desktop (on
// Qt 6.4 it follows a dark colour scheme), so they are written out here.
const QColor Control{239, 239, 239};
const QColor DisabledText{190, 190, 190};

} // namespace

QPalette fixedPalette()
{
    const QColor mid = Control.darker(130);
    const QColor dark = Control.darker(150);
    const QColor shadow = dark.darker(135);
    QColor placeholder = Qt::black;
    placeholder.setAlpha(128);

    QPalette p;
    // Every role of every group is set, so that nothing of a platform
    // theme's palette is resolved into ours, now or when the theme changes.
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const auto set = [&](QPalette::ColorRole role, const QColor &color) {
            p.setColor(group, role, color);
        };
        set(QPalette::WindowText, disabled ? DisabledText : Qt::black);
        set(QPalette::Text, disabled ? DisabledText : Qt::black);
        set(QPalette::ButtonText, disabled ? DisabledText : Qt::black);
        set(QPalette::Window, Control);
        set(QPalette::Button, Control);
        set(QPalette::Base, disabled ? Control : CARD);
        set(QPalette::AlternateBase, QColor(247, 247, 247));
        set(QPalette::Light, CARD);
        set(QPalette::Midlight, mid.lighter(110));
        set(QPalette::Mid, mid);
        set(QPalette::Dark, disabled ? DisabledText : dark);
        set(QPalette::Shadow, disabled ? shadow.lighter(150) : shadow);
        set(QPalette::BrightText, CARD);
        set(QPalette::Highlight, disabled ? QColor(145, 145, 145) : QColor(48, 140, 198));
        set(QPalette::HighlightedText, CARD);
        set(QPalette::Link, Qt::blue);
        set(QPalette::LinkVisited, Qt::magenta);
        set(QPalette::ToolTipBase, QColor(255, 255, 220));
        set(QPalette::ToolTipText, Qt::black);
        set(QPalette::PlaceholderText, placeholder);
        set(QPalette::NoRole, Qt::black);
    }
    return p;
}

void useFixedLook()
{
    // Fusion is built into Qt, so no style plugin or QT_STYLE_OVERRIDE can
    // stand in for it; the palette comes after it, as a new style brings its own.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setPalette(fixedPalette());
}

} // namespace moxel
