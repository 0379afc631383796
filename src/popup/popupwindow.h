#pragma once

#include <QMargins>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

namespace moxel {

class FirstPlacement;
class PopupDelegate;

// The popup's one top-level window: placed once where the program wants it,
// then the user's; it tells its delegate when it moves, resizes or closes.
class PopupWindow final : public QWidget
{
    Q_OBJECT
public:
    explicit PopupWindow(PopupDelegate *delegate);
    ~PopupWindow() override;
    Q_DISABLE_COPY_MOVE(PopupWindow)

    // Places the outer frame (title bar included) at `frame`, in points, and
    // shows the window there without activating it. The frame is used as
    // given, even when it is smaller than the minimum that limits the user's
    // resizing. wasPlaced() follows once the window is there.
    void placeAndShow(const QRectF &frame);
    // The window is where it stays: placed, or the window system was waited
    // for as long as it is given.
    bool placed() const;
    // The outer frame as it is now, title bar included, in points.
    QRectF outerFrame() const;

    // The client area's minimum for an outer minimum of `outer` points, with
    // `around` decorations in device pixels at `factor` pixels a point.
    void setOuterMinimum(const QSizeF &outer, const QMargins &around, double factor);
    // The decorations around the client area, in device pixels on X11.
    QMargins decorations() const;

Q_SIGNALS:
    void wasPlaced();

protected:
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void frameChanged(bool resized);

    PopupDelegate *m_delegate;
    QPointer<FirstPlacement> m_placement;
    bool m_movedByUser = false;
};

} // namespace moxel
