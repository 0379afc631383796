#pragma once

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QTimer>

#include <optional>

namespace moxel {

class PopupWindow;
struct ScreenSpace;

// The primary screen's coordinates, for the numbers that leave the program.
ScreenSpace screenSpace();

// Hears the window move, resize and close: remembers the frame under
// "moxel.popupFrame" and ends the program when the window is closed.
//
// A drag moves the window many times a second. The frame is written once the
// window has been still for a moment (and when the program ends), not at every
// step: a settled frame survives the process being killed right after.
class PopupDelegate final : public QObject
{
    Q_OBJECT
public:
    explicit PopupDelegate(QObject *parent = nullptr);

    static const QString frameKey;
    // How long the window must be still before its frame is written.
    static constexpr int SettleMs = 250;
    // The remembered frame (bottom-left origin) when it is at least 320 x 240.
    static std::optional<QRectF> savedFrame();

    QPointer<PopupWindow> win;

    void windowDidMove() { frameChanged(); }
    void windowDidResize() { frameChanged(); }
    void windowWillClose();
    // Writes a frame that changed and was not written yet.
    void saveFrame();

private:
    void frameChanged();

    QTimer m_settle;
    bool m_unsaved = false;
};

} // namespace moxel
