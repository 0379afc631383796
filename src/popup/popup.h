#pragma once

#include <QJsonObject>
#include <QList>
#include <QMargins>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QSizeF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QScreen;
class QScrollArea;
class QVBoxLayout;

namespace moxel {

class PopupDelegate;

struct PopupOptions
{
    std::optional<QPointF> fixedPos;
    std::optional<QSizeF> fixedSize;
    bool debugMode = false;
};

// The popup's one top-level window: it tells its delegate when it moves,
// resizes or closes.
class PopupWindow final : public QWidget
{
    Q_OBJECT
public:
    explicit PopupWindow(PopupDelegate *delegate);

    // Places the outer frame (title bar included) at `frame`, in points, before
    // the window is first shown. The frame is used as given, even when it is
    // smaller than the minimum that limits the user's resizing.
    void placeFrame(const QRectF &frame);
    // The outer frame as it is now, title bar included, in points.
    QRectF outerFrame() const;
    // Once the window is on screen where it was placed, nothing left to correct.
    bool settled() const { return m_settled; }

Q_SIGNALS:
    void didSettle();

protected:
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QMargins decorations() const;
    void setOuterMinimum(const QSizeF &outer, const QMargins &around, double factor);
    void settleTick();
    void settle();
    void frameChanged(bool resized);

    PopupDelegate *m_delegate;
    std::optional<QRect> m_unfittedFrame;
    // X11: the wanted outer frame in device pixels, checked once the window is mapped.
    std::optional<QRect> m_wanted;
    QSizeF m_outerMinimum;
    QTimer m_settleTimer;
    int m_settleTicks = 0;
    bool m_corrected = false;
    bool m_settled = false;
    bool m_movedByUser = false;
};

// Owns the window and shows one payload at a time in it. The first render
// places the window, fades it in and brings it to the front without taking the
// keyboard from the chat; later renders only replace the content.
class Popup final : public QObject
{
    Q_OBJECT
public:
    explicit Popup(const PopupOptions &options);
    ~Popup() override;
    Q_DISABLE_COPY_MOVE(Popup)

    void render(const QJsonObject &payload);
    // Runs `then` once every FRAME line owed has been printed: at once, or
    // when the window is where it stays, a second at most after it was shown.
    void afterFrameLines(std::function<void()> then);

    QWidget *window() const { return m_win.get(); }
    QScrollArea *scrollArea() const { return m_scroll; }
    QWidget *content() const { return m_content; }
    bool renderedOnce() const { return m_renderedOnce; }

Q_SIGNALS:
    void frameLinesPrinted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeAndShow();
    void appeared();
    void placed();
    void printFrame(bool first) const;
    void printOwedFrames();

    PopupOptions m_options;
    PopupDelegate *m_delegate;
    std::unique_ptr<PopupWindow> m_win;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_holder = nullptr;
    QVBoxLayout *m_holderBox = nullptr;
    QPointer<QWidget> m_content;
    QScreen *m_screen = nullptr;
    bool m_renderedOnce = false;
    bool m_placed = false;
    QList<bool> m_owedFrames; // debug FRAME lines not yet printed: whether each is the first
    bool m_fadePending = false;
};

} // namespace moxel
