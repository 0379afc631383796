#pragma once

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <optional>

namespace moxel {

class PopupWindow;
struct ScreenSpace;

// The primary screen's coordinates, for the numbers that leave the program.
ScreenSpace screenSpace();

// Hears the window move, resize and close: remembers the frame under
// "moxel.popupFrame" and ends the program when the window is closed.
class PopupDelegate final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    static const QString frameKey;
    // The remembered frame (bottom-left origin) when it is at least 320 x 240.
    static std::optional<QRectF> savedFrame();

    QPointer<PopupWindow> win;

    void windowDidMove() { saveFrame(); }
    void windowDidResize() { saveFrame(); }
    void windowWillClose();

private:
    void saveFrame();
};

} // namespace moxel
