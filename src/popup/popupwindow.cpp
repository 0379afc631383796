#include "popupwindow.h"
#include "frame.h"
#include "popupdelegate.h"

#include "palette.h"
#include "windowsystem.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <functional>
#include <optional>
#include <utility>

namespace moxel {

namespace {

// Headless platforms have no stacking, keep no size hints, and say so on
// standard error.
bool headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == u"offscreen" || platform == u"minimal";
}

DeviceScale scaleOf(const QScreen *screen)
{
    if (!screen)
        return {};
    return {QPointF(screen->geometry().topLeft()), screen->devicePixelRatio()};
}

// How long a window manager is given to answer what the window will look
// like, and then to map and frame it.
constexpr int AskMs = 200;
constexpr int MapMs = 800;

} // namespace

// The window's first placement, from the frame the program wants to the
// frame the window has, driven by the window system's answers, with one
// deadline for a window manager that never gives them.
//
// On X11 the decorations are asked for before mapping, so that the client
// area can be sized and placed inside the frame at once: Qt gives an X11
// window static gravity, under which the window manager keeps the client area
// where it is asked to be. Where the window manager does not say (KWin takes
// no such request), a title bar is assumed, so that the frame fits the screen
// and is not maximised. Once the window is mapped and its decorations are
// known, one correction makes the frame exact, long before a person could
// grab the title bar. Elsewhere the decorations are known once the window is
// shown: the frame is fitted then, and placed once the window is exposed.
class FirstPlacement final : public QObject
{
public:
    FirstPlacement(PopupWindow *window, const QRectF &frame, std::function<void()> done)
        : QObject(window), m_window(window), m_done(std::move(done)),
          m_outerMinimum(qMin(MINIMUM_SIZE.width(), frame.width()),
                         qMin(MINIMUM_SIZE.height(), frame.height()))
    {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            if (m_step == Step::Asking)
                show(assumedDecorations());
            else
                finish();
        });
        if (windowsystem::isX11())
            startX11(frame);
        else
            startElsewhere(frame);
    }

    bool done() const { return m_step == Step::Done; }
    // The outer frame asked for, in device pixels; X11 only.
    std::optional<QRect> wanted() const { return m_wanted; }
    // Placed, the window still has the frame asked for, as far as the window
    // system has told since; X11 only.
    bool stillAsPlaced() const
    {
        return !m_client || m_client->marginsAdded(m_extents) == *m_wanted;
    }
    // Until a window manager maps the window, it has no frame but the one
    // asked for, which is where it will be.
    std::optional<QRectF> unmappedFrame() const
    {
        if (!m_wanted || m_mapped)
            return std::nullopt;
        return m_scale.toPoints(*m_wanted);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show) {
            fitElsewhere();
        } else if (watched == m_window->windowHandle() && event->type() == QEvent::Expose) {
            // Expose is delivered before the window counts as exposed.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_window->windowHandle()->isExposed())
                        finish();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    enum class Step { Asking, Mapping, Correcting, Done };

    void startX11(const QRectF &frame)
    {
        // Decorations and the native window are in device pixels; the frame is
        // placed there, to the pixel, whatever the scale.
        const QScreen *at = QGuiApplication::screenAt(frame.center().toPoint());
        m_scale = scaleOf(at ? at : m_window->screen());
        m_wanted = m_scale.toDevice(frame);
        const WId id = m_window->winId();
        auto *events = windowsystem::WindowEvents::instance();
        connect(events, &windowsystem::WindowEvents::mapped, this, [this, id](WId w) {
            if (w == id)
                mapped();
        });
        connect(events, &windowsystem::WindowEvents::extentsChanged, this, [this, id](WId w) {
            if (w == id && (m_step == Step::Correcting || done()))
                m_extents = m_window->decorations();
            else if (w == id)
                extentsChanged();
        });
        // KWin adds the states as it manages the window, in its own time.
        connect(events, &windowsystem::WindowEvents::stateChanged, this, [this, id](WId w) {
            if (w == id && m_mapped && !done())
                windowsystem::dropUnaskedStates(m_window);
        });
        connect(events, &windowsystem::WindowEvents::configured, this,
                [this, id](WId w, QSize size, std::optional<QPoint> at) {
                    if (w != id)
                        return;
                    if (m_client) {
                        m_client->setSize(size);
                        if (at)
                            m_client->moveTo(*at);
                    }
                    if (m_step == Step::Correcting && corrected())
                        finish();
                });
        m_publishesExtents = windowsystem::publishesFrameExtents();
        if (!m_publishesExtents) {
            show(QMargins());
        } else if (windowsystem::requestFrameExtents(m_window)) {
            m_step = Step::Asking;
            m_deadline.start(AskMs);
        } else {
            show(assumedDecorations());
        }
    }

    QMargins assumedDecorations() const
    {
        return GUESSED_DECORATIONS * int(std::ceil(m_scale.factor));
    }

    void extentsChanged()
    {
        if (m_step == Step::Asking) {
            if (const auto around = windowsystem::frameExtents(m_window))
                show(*around);
        } else if (m_step == Step::Mapping && m_mapped) {
            correct();
        }
    }

    void mapped()
    {
        m_mapped = true;
        if (m_step == Step::Mapping)
            correct();
    }

    void show(const QMargins &around)
    {
        const QRect client = m_wanted->marginsRemoved(around);
        m_window->setOuterMinimum(m_outerMinimum, around, m_scale.factor);
        m_window->setGeometry(m_scale.toPoints(client).toRect());
        windowsystem::setNativeGeometry(m_window, client);
        m_step = Step::Mapping;
        m_deadline.start(MapMs);
        appear();
    }

    // Mapped, and framed: the one correction, once the decorations are known.
    void correct()
    {
        std::optional<QMargins> around = QMargins();
        if (m_publishesExtents && !(around = windowsystem::frameExtents(m_window)))
            return; // told with the next extentsChanged
        m_around = *around;
        m_extents = m_around;
        windowsystem::dropUnaskedStates(m_window);
        m_window->setOuterMinimum(m_outerMinimum, m_around, m_scale.factor);
        windowsystem::dropResizeIncrement(m_window);
        m_step = Step::Correcting;
        if (corrected())
            finish();
        else
            windowsystem::setNativeGeometry(m_window, m_wanted->marginsRemoved(m_around));
    }

    bool corrected()
    {
        m_client = windowsystem::nativeGeometry(m_window);
        return m_client == m_wanted->marginsRemoved(m_around);
    }

    void startElsewhere(const QRectF &frame)
    {
        m_unfitted = DeviceScale{}.toDevice(frame);
        m_window->setOuterMinimum(m_outerMinimum, {}, 1);
        m_window->move(m_unfitted.topLeft());
        m_window->resize(m_unfitted.size().expandedTo(QSize(1, 1)));
        m_window->installEventFilter(this);
        m_step = Step::Mapping;
        m_deadline.start(AskMs + MapMs);
        appear();
    }

    // Other platforms report their decorations once the window is shown; the
    // frame is fitted then, once.
    void fitElsewhere()
    {
        m_window->removeEventFilter(this);
        const QMargins around = m_window->decorations();
        if (!headless())
            m_window->setOuterMinimum(m_outerMinimum, around, 1);
        m_window->setGeometry(m_unfitted.marginsRemoved(around));
        QWindow *handle = m_window->windowHandle();
        if (!handle || handle->isExposed())
            finish();
        else
            handle->installEventFilter(this);
    }

    void appear()
    {
        m_window->show();
        if (!headless())
            m_window->raise(); // above other windows, without taking the keyboard from them
        windowsystem::raiseToScreenSaverLevel(m_window);
    }

    void finish()
    {
        if (std::exchange(m_step, Step::Done) == Step::Done)
            return;
        m_deadline.stop();
        if (QWindow *handle = m_window->windowHandle())
            handle->removeEventFilter(this);
        if (m_wanted && !m_client) {
            // Not framed in time: asked once, and from here on the events tell.
            m_client = windowsystem::nativeGeometry(m_window);
            m_extents = m_window->decorations();
        }
        m_done();
    }

    PopupWindow *m_window;
    std::function<void()> m_done;
    QSizeF m_outerMinimum;
    QTimer m_deadline;
    Step m_step = Step::Mapping;
    // X11: the frame wanted in device pixels, and what the window manager said.
    DeviceScale m_scale;
    std::optional<QRect> m_wanted;
    bool m_publishesExtents = false;
    bool m_mapped = false;
    QMargins m_around;
    // Since the correction: the client area and the decorations as last told.
    std::optional<QRect> m_client;
    QMargins m_extents;
    // Elsewhere: the frame wanted, to be fitted to the decorations once shown.
    QRect m_unfitted;
};

PopupWindow::PopupWindow(PopupDelegate *delegate)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_delegate(delegate)
{}

PopupWindow::~PopupWindow() = default;

void PopupWindow::placeAndShow(const QRectF &frame)
{
    if (m_placement)
        return;
    m_placement = new FirstPlacement(this, frame, [this] { Q_EMIT wasPlaced(); });
}

bool PopupWindow::placed() const
{
    return m_placement && m_placement->done();
}

void PopupWindow::setOuterMinimum(const QSizeF &outer, const QMargins &around, double factor)
{
    // The hint limits the client area; Qt scales it to device pixels itself,
    // so it is rounded down to stay within the program's own frame.
    const QSizeF device =
        outer * factor - QSizeF(around.left() + around.right(), around.top() + around.bottom());
    const auto down = [factor](double v) { return int(std::floor(v / factor + 1e-9)); };
    setMinimumSize(QSize(down(device.width()), down(device.height())).expandedTo(QSize(1, 1)));
}

QMargins PopupWindow::decorations() const
{
    // Qt's own guess walks up to the window manager's frame window, which on
    // some compositors includes an invisible shadow.
    if (windowsystem::isX11())
        return windowsystem::frameExtents(this).value_or(QMargins());
    // Qt draws a Wayland window's title bar itself and learns its size only
    // once the window is up, too late to take it off the first frame: there the
    // client area is the frame, as placed and as remembered, so that a start
    // never comes back one title bar larger.
    if (QGuiApplication::platformName().startsWith(u"wayland"))
        return {};
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

QRectF PopupWindow::outerFrame() const
{
    if (const auto asked = m_placement ? m_placement->unmappedFrame() : std::nullopt)
        return *asked;
    if (windowsystem::isX11()) {
        if (const auto client = windowsystem::nativeGeometry(this))
            return scaleOf(screen()).toPoints(client->marginsAdded(decorations()));
    }
    return QRectF(geometry().marginsAdded(decorations()));
}

void PopupWindow::frameChanged(bool resized)
{
    if (!isVisible() || !placed())
        return;
    // Qt hears of the program's own placement late; only another frame is the user's.
    if (!m_movedByUser && m_placement->wanted() && m_placement->stillAsPlaced())
        return;
    m_movedByUser = true;
    if (resized)
        m_delegate->windowDidResize();
    else
        m_delegate->windowDidMove();
}

void PopupWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    frameChanged(false);
}

void PopupWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    frameChanged(true);
}

void PopupWindow::paintEvent(QPaintEvent *event)
{
    QPainter(this).fillRect(event->rect(), PAPER);
}

void PopupWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_delegate->windowWillClose();
}

} // namespace moxel
