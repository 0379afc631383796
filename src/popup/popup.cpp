#include "popup.h"
#include "frame.h"
#include "popupdelegate.h"

#include "content.h"
#include "factories.h"
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
#ifdef MOXEL_X11
void skipTaskbar(QWidget *window);
QMargins frameExtents(const QWidget *window);
QMargins requestFrameExtents(QWidget *window);
#endif

namespace {

// Whole pixels, cut toward zero as the FRAME line reports them.
QRect toRect(const QRectF &r)
{
    return QRect(int(r.x()), int(r.y()), int(r.width()), int(r.height()));
}

// Headless platforms have neither stacking nor window opacity and say so on
// standard error, so they are spared both.
bool headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == u"offscreen" || platform == u"minimal";
}

// Above other windows without taking the keyboard from them.
void bringToFront(QWidget *w)
{
    if (!headless())
        w->raise();
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
{}

void PopupWindow::placeFrame(const QRect &frame)
{
    QMargins around;
#ifdef MOXEL_X11
    // Asked before mapping, so the client area can be sized and placed inside
    // the frame at once: Qt gives an X11 window static gravity, under which
    // the window manager keeps the client area where it is asked to be.
    if (QGuiApplication::platformName() == u"xcb")
        around = requestFrameExtents(this);
    else
#endif
        m_unfittedFrame = frame;
    const QSize outerMinimum(qMin(340, frame.width()), qMin(480, frame.height()));
    setMinimumSize(outerMinimum.shrunkBy(around).expandedTo(QSize(1, 1)));
    move(frame.topLeft() + QPoint(around.left(), around.top()));
    resize(frame.size().shrunkBy(around).expandedTo(QSize(1, 1)));
}

void PopupWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Other platforms report their decorations once the window is shown; the
    // frame is fitted then, once, and never again after the user moved it.
    if (const auto wanted = std::exchange(m_unfittedFrame, std::nullopt)) {
        setGeometry(wanted->marginsRemoved(decorations()));
    }
}

QMargins PopupWindow::decorations() const
{
#ifdef MOXEL_X11
    // Qt's own guess walks up to the window manager's frame window, which on
    // some compositors includes an invisible shadow.
    if (QGuiApplication::platformName() == u"xcb")
        return frameExtents(this);
#endif
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

QRect PopupWindow::outerFrame() const
{
    return geometry().marginsAdded(decorations());
}

void PopupWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (isVisible())
        m_delegate->windowDidMove();
}

void PopupWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (isVisible())
        m_delegate->windowDidResize();
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
    m_delegate->win = m_win.get();

    m_scroll = new QScrollArea(m_win.get());
    m_scroll->setFrameShape(QFrame::NoFrame);
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

    const QRectF vf = m_screen ? QRectF(m_screen->availableGeometry()) : QRectF(0, 0, 400, 800);
    const QSizeF size = initialContentSize(m_options.fixedSize, vf);
    m_win->resize(int(std::lround(size.width())), int(std::lround(size.height())));
}

Popup::~Popup()
{
    printFirstFrame(); // the program may end before the window was ever shown
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
    if (first) {
        // A window manager may still move the window as it maps it: the first
        // line waits for the window to be on screen, a second at most.
        m_firstFramePending = true;
        if (QWindow *handle = m_win->windowHandle())
            handle->installEventFilter(this);
        QTimer::singleShot(1000, this, [this] { printFirstFrame(); });
        if (m_win->windowHandle() && m_win->windowHandle()->isExposed())
            printFirstFrame();
        return;
    }
    printFirstFrame(); // never after a later line
    printFrame(false);
}

void Popup::printFrame(bool first) const
{
    const QRectF screen = m_screen ? QRectF(m_screen->geometry()) : QRectF();
    printLine(frameLine(QRectF(m_win->outerFrame()), screen, screenSpace(), first));
}

void Popup::printFirstFrame()
{
    if (!std::exchange(m_firstFramePending, false))
        return;
    if (QWindow *handle = m_win->windowHandle())
        handle->removeEventFilter(this);
    printFrame(true);
}

bool Popup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && m_win->windowHandle() == watched) {
        // Expose is delivered before the window counts as exposed.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_win->windowHandle()->isExposed())
                    printFirstFrame();
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void Popup::placeAndShow()
{
    const ScreenSpace space = screenSpace();
    std::optional<QRectF> frame;
    if (!m_options.fixedSize && !m_options.fixedPos) {
        if (const auto saved = PopupDelegate::savedFrame()) {
            QList<QRectF> visible;
            for (const QScreen *s : QGuiApplication::screens())
                visible.append(space.toYUp(QRectF(s->availableGeometry())));
            if (savedFrameUsable(*saved, visible))
                frame = space.toYDown(*saved);
        }
    }
    if (!frame) {
        const QRectF vf = m_screen ? QRectF(m_screen->availableGeometry()) : QRectF(0, 0, 400, 800);
        frame = defaultFrame(m_options.fixedSize, vf);
    }
    const QRect target = toRect(*frame);
    if (!headless())
        m_win->setWindowOpacity(0.0);
#ifdef MOXEL_X11
    if (QGuiApplication::platformName() == u"xcb")
        skipTaskbar(m_win.get());
#endif
    m_win->placeFrame(target);
    m_win->show();
    bringToFront(m_win.get());
#ifdef Q_OS_MACOS
    raiseToScreenSaverLevel(m_win.get());
#endif
    auto *fade = new QPropertyAnimation(m_win.get(), "windowOpacity", m_win.get());
    fade->setDuration(140);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    // Without window opacity the window is simply there, at full opacity.
    if (!headless())
        fade->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace moxel
