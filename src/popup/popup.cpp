#include "popup.h"
#include "frame.h"
#include "popupdelegate.h"
#ifdef MOXEL_X11
#include "x11window.h"
#endif

#include "content.h"
#include "factories.h"
#include "keyboardguard.h"
#include "palette.h"
#include "replycard.h"
#include "synccontroller.h"
#include "targets.h"
#include "textrules.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>
#include <utility>

namespace moxel {

#ifdef Q_OS_MACOS
// Screen-saver level and accessory policy live in the Apple-only file.
void raiseToScreenSaverLevel(QWidget *window);
#endif

namespace {

bool onX11()
{
    return QGuiApplication::platformName() == u"xcb";
}

// Headless platforms have no stacking and say so on standard error.
bool headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == u"offscreen" || platform == u"minimal";
}

// Only these platforms set a window's opacity; the others (Wayland among
// them) print a warning at every step of a fade.
bool canFade()
{
    const QString platform = QGuiApplication::platformName();
    return platform == u"xcb" || platform == u"windows" || platform == u"cocoa";
}

// Above other windows without taking the keyboard from them.
void bringToFront(QWidget *w)
{
    if (!headless())
        w->raise();
}

DeviceScale scaleOf(const QScreen *screen)
{
    if (!screen)
        return {};
    return {QPointF(screen->geometry().topLeft()), screen->devicePixelRatio()};
}

// The visible frame in points. With several screens Qt reports each whole
// monitor as available, so on X11 the docks' reservations are read instead.
QRectF visibleFrame(const QScreen *screen)
{
    const QRectF available(screen->availableGeometry());
#ifdef MOXEL_X11
    if (onX11() && QGuiApplication::screens().size() > 1) {
        const DeviceScale scale = scaleOf(screen);
        const QRect native(screen->geometry().topLeft(),
                           (QSizeF(screen->geometry().size()) * scale.factor).toSize());
        return scale.toPoints(x11VisibleArea(native)) & available;
    }
#endif
    return available;
}

// The PAPER background, painted rather than set in a palette: a palette set
// on an ancestor gives every widget of every render a palette of its own,
// and with it new keys in the style's pixmap cache.
class Paper final : public QWidget
{
protected:
    void paintEvent(QPaintEvent *event) override { QPainter(this).fillRect(event->rect(), PAPER); }
};

} // namespace

PopupWindow::PopupWindow(PopupDelegate *delegate)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_delegate(delegate)
{
    m_settleTimer.setInterval(5);
    connect(&m_settleTimer, &QTimer::timeout, this, &PopupWindow::settleTick);
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

void PopupWindow::placeFrame(const QRectF &frame)
{
    m_outerMinimum = QSizeF(qMin(340.0, frame.width()), qMin(480.0, frame.height()));
#ifdef MOXEL_X11
    if (onX11()) {
        // Decorations and the native window are in device pixels; the frame is
        // placed there, to the pixel, whatever the scale.
        const QScreen *at = QGuiApplication::screenAt(frame.center().toPoint());
        const DeviceScale scale = scaleOf(at ? at : screen());
        m_wanted = scale.toDevice(frame);
        // Asked before mapping, so the client area can be sized and placed inside
        // the frame at once: Qt gives an X11 window static gravity, under which
        // the window manager keeps the client area where it is asked to be.
        // Where the window manager does not say, a title bar is assumed, so the
        // frame fits the screen and is not maximised; it is made exact once mapped.
        const QMargins around = requestFrameExtents(this).value_or(QMargins(4, 48, 4, 4) *
                                                                   int(std::ceil(scale.factor)));
        const QRect client = m_wanted->marginsRemoved(around);
        setOuterMinimum(m_outerMinimum, around, scale.factor);
        setGeometry(scale.toPoints(client).toRect());
        setNativeGeometry(this, client);
        return;
    }
#endif
    m_unfittedFrame = DeviceScale{}.toDevice(frame);
    setOuterMinimum(m_outerMinimum, {}, 1);
    move(m_unfittedFrame->topLeft());
    resize(m_unfittedFrame->size().expandedTo(QSize(1, 1)));
}

void PopupWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_wanted && !m_settled) {
        m_settleTicks = 0;
        m_settleTimer.start();
        return;
    }
    // Other platforms report their decorations once the window is shown; the
    // frame is fitted then, once, and never again after the user moved it.
    if (const auto wanted = std::exchange(m_unfittedFrame, std::nullopt)) {
        const QMargins around = decorations();
        // Headless platforms keep no size hints, and say so on standard error.
        if (!headless())
            setOuterMinimum(m_outerMinimum, around, 1);
        setGeometry(wanted->marginsRemoved(around));
    }
    settle();
}

// Polled from the event loop: a window manager maps and frames the window in
// its own time. The one correction is sent as soon as the decorations are
// known, long before a person could grab the title bar.
void PopupWindow::settleTick()
{
#ifdef MOXEL_X11
    const bool late = ++m_settleTicks * m_settleTimer.interval() > 800;
    if (!mappedAndFramed(this)) {
        if (late)
            settle();
        return;
    }
    const QMargins around = frameExtents(this);
    const QRect client = m_wanted->marginsRemoved(around);
    if (!m_corrected) {
        m_corrected = true;
        dropUnaskedStates(this);
        setOuterMinimum(m_outerMinimum, around, scaleOf(screen()).factor);
        dropResizeIncrement(this);
        if (nativeGeometry(this) != client) {
            setNativeGeometry(this, client);
            return;
        }
    }
    if (late || nativeGeometry(this) == client)
        settle();
#endif
}

void PopupWindow::settle()
{
    m_settleTimer.stop();
    if (std::exchange(m_settled, true))
        return;
    Q_EMIT didSettle();
}

QMargins PopupWindow::decorations() const
{
#ifdef MOXEL_X11
    // Qt's own guess walks up to the window manager's frame window, which on
    // some compositors includes an invisible shadow.
    if (onX11())
        return frameExtents(this);
#endif
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
#ifdef MOXEL_X11
    if (onX11()) {
        if (const auto client = nativeGeometry(this))
            return scaleOf(screen()).toPoints(client->marginsAdded(decorations()));
    }
#endif
    return QRectF(geometry().marginsAdded(decorations()));
}

void PopupWindow::frameChanged(bool resized)
{
    if (!isVisible() || !m_settled)
        return;
#ifdef MOXEL_X11
    // Qt hears of the program's own placement late; only another frame is the user's.
    if (!m_movedByUser && m_wanted && onX11()) {
        const auto client = nativeGeometry(this);
        if (!client || client->marginsAdded(decorations()) == *m_wanted)
            return;
    }
#endif
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

Popup::Popup(const PopupOptions &options) : m_options(options), m_delegate(new PopupDelegate(this))
{
    m_screen = QGuiApplication::primaryScreen();
    if (!m_screen && !QGuiApplication::screens().isEmpty())
        m_screen = QGuiApplication::screens().constFirst();

    m_win = std::make_unique<PopupWindow>(m_delegate);
    m_win->setWindowTitle(QStringLiteral("智能客服 ") + VERSION);
    // A --size below the minimum is taken as it is, as the user asked.
    const QSizeF fixed = m_options.fixedSize.value_or(QSizeF(340, 480));
    m_win->setMinimumSize(qBound(1, int(fixed.width()), 340), qBound(1, int(fixed.height()), 480));
    m_win->setAttribute(Qt::WA_ShowWithoutActivating);
    m_win->setAttribute(Qt::WA_DeleteOnClose, false);
    if (onX11())
        new KeyboardGuard(m_win.get());
    m_delegate->win = m_win.get();
    connect(m_win.get(), &PopupWindow::didSettle, this, &Popup::appeared);

    m_scroll = new QScrollArea(m_win.get());
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus); // a click between the cards is no place to type
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false); // the holder covers it

    m_holder = new Paper;
    m_holderBox = new QVBoxLayout(m_holder);
    m_holderBox->setContentsMargins(0, 0, 0, 0);
    m_holderBox->setSpacing(0);
    m_holderBox->addStretch(1); // short content sits at the top
    m_scroll->setWidget(m_holder);

    auto *root = new QVBoxLayout(m_win.get());
    root->setContentsMargins(0, 0, 0, 0);
    root->addWidget(m_scroll);

    const QRectF vf = m_screen ? visibleFrame(m_screen) : QRectF(0, 0, 400, 800);
    const QSizeF size = initialContentSize(m_options.fixedSize, vf);
    m_win->resize(int(std::lround(size.width())), int(std::lround(size.height())));
}

Popup::~Popup()
{
    // The program may end before the window was ever placed.
    m_placed = true;
    printOwedFrames();
}

void Popup::render(const QJsonObject &payload)
{
    const bool first = !m_renderedOnce;
    SyncController &sync = SYNC();
    const QJsonValue proxy = payload.value(u"proxy");
    const QJsonValue token = payload.value(u"token");
    sync.proxy = proxy.isString() ? proxy.toString() : QString();
    sync.token = token.isString() ? token.toString() : QString();
    // A repeated reply keeps its card, and with it the pending edit and the
    // answer in flight; a new one drops them with the boxes they belong to.
    const bool kept = keepReplyCard(payload);
    if (!kept)
        sync.renderStarted();
    const int scrolled = m_scroll->verticalScrollBar()->value();

    clearRenderRegistries();

    QWidget *content = buildContent(payload);

    // The old column may be inside a button's click or under the copy
    // confirmation's nested loop: release it later, never now.
    if (m_content) {
        m_holderBox->removeWidget(m_content);
        m_content->hide();
        m_content->deleteLater();
    }
    m_content = content;
    m_holderBox->insertWidget(0, content);
    m_holder->layout()->activate();
    m_win->layout()->activate();

    if (first) {
        placeAndShow();
        m_renderedOnce = true;
    }
    // Typing goes on where it was: into the kept box, at the same place on
    // screen, or into the new box of the same key.
    QPlainTextEdit *focus = replyFocusAfterRender();
    if (focus) {
        content->show();
        focus->setFocus(Qt::OtherFocusReason);
    }
    m_scroll->verticalScrollBar()->setValue(kept && focus ? scrolled : 0);
    if (!m_win->isVisible()) {
        m_win->show();
        bringToFront(m_win.get());
    }
    if (!m_options.debugMode)
        return;
    // A window manager may still place and frame the window in its own time:
    // every line waits until the window is where it stays, a second at most,
    // so that none tells a frame the window never had.
    m_owedFrames.append(first);
    if (first) {
        QTimer::singleShot(1000, this, &Popup::placed);
        if (m_win->settled())
            appeared();
    }
    printOwedFrames();
}

void Popup::afterFrameLines(std::function<void()> then)
{
    if (m_owedFrames.isEmpty())
        then();
    else
        connect(this, &Popup::frameLinesPrinted, this, std::move(then), Qt::SingleShotConnection);
}

void Popup::printFrame(bool first) const
{
    const QRectF screen = m_screen ? QRectF(m_screen->geometry()) : QRectF();
    printLine(frameLine(m_win->outerFrame(), screen, screenSpace(), first));
}

void Popup::printOwedFrames()
{
    if (!m_placed || m_owedFrames.isEmpty())
        return;
    for (const bool first : std::exchange(m_owedFrames, {}))
        printFrame(first);
    Q_EMIT frameLinesPrinted();
}

void Popup::placed()
{
    if (std::exchange(m_placed, true))
        return;
    if (QWindow *handle = m_win->windowHandle())
        handle->removeEventFilter(this);
    printOwedFrames();
}

bool Popup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && m_win->windowHandle() == watched) {
        // Expose is delivered before the window counts as exposed.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_win->windowHandle()->isExposed())
                    placed();
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

// The window is where it was placed: it fades in.
void Popup::appeared()
{
    QWindow *handle = m_win->windowHandle();
    // Elsewhere the decorations are known once the window is exposed.
    if (onX11() || !handle || handle->isExposed())
        placed();
    else if (!m_placed)
        handle->installEventFilter(this);
    if (std::exchange(m_fadePending, false)) {
        auto *fade = new QPropertyAnimation(m_win.get(), "windowOpacity", m_win.get());
        fade->setDuration(140);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void Popup::placeAndShow()
{
    const ScreenSpace space = screenSpace();
    std::optional<QRectF> frame;
    if (!m_options.fixedSize && !m_options.fixedPos) {
        if (const auto saved = PopupDelegate::savedFrame()) {
            QList<QRectF> visible;
            for (const QScreen *s : QGuiApplication::screens())
                visible.append(space.toYUp(visibleFrame(s)));
            if (savedFrameUsable(*saved, visible))
                frame = space.toYDown(*saved);
        }
    }
    if (!frame) {
        const QRectF vf = m_screen ? visibleFrame(m_screen) : QRectF(0, 0, 400, 800);
        frame = defaultFrame(m_options.fixedSize, vf);
    }
    // Without window opacity the window is simply there, at full opacity.
    m_fadePending = canFade();
    if (m_fadePending)
        m_win->setWindowOpacity(0.0);
#ifdef MOXEL_X11
    if (onX11())
        skipTaskbar(m_win.get());
#endif
    m_win->placeFrame(*frame);
    m_win->show();
    bringToFront(m_win.get());
#ifdef Q_OS_MACOS
    raiseToScreenSaverLevel(m_win.get());
#endif
}

} // namespace moxel
