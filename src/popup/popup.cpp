#include "popup.h"
#include "frame.h"
#include "popupdelegate.h"
#include "popupwindow.h"

#include "content.h"
#include "factories.h"
#include "keyboardpolicy.h"
#include "palette.h"
#include "replycard.h"
#include "textrules.h"
#include "windowsystem.h"

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

namespace {

// Only these platforms set a window's opacity; the others (Wayland among
// them) print a warning at every step of a fade.
bool canFade()
{
    const QString platform = QGuiApplication::platformName();
    return platform == u"xcb" || platform == u"windows" || platform == u"cocoa";
}

// The visible frame in points. With several screens Qt reports each whole
// monitor as available, so on X11 the docks' reservations are read instead.
QRectF visibleFrame(const QScreen *screen)
{
    const QRectF available(screen->availableGeometry());
    if (QGuiApplication::screens().size() < 2)
        return available;
    const auto reserved = windowsystem::reservations();
    if (!reserved)
        return available;
    const DeviceScale scale{QPointF(screen->geometry().topLeft()), screen->devicePixelRatio()};
    const QRect native(screen->geometry().topLeft(),
                       (QSizeF(screen->geometry().size()) * scale.factor).toSize());
    QList<Strut> struts;
    for (const QList<int> &values : reserved->struts)
        struts.append(Strut::fromValues(values, reserved->root));
    return scale.toPoints(visibleArea(native, reserved->root, struts, reserved->workAreas)) &
           available;
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

Popup::Popup(const PopupOptions &options) : m_options(options), m_delegate(new PopupDelegate(this))
{
    m_screen = QGuiApplication::primaryScreen();
    if (!m_screen && !QGuiApplication::screens().isEmpty())
        m_screen = QGuiApplication::screens().constFirst();

    m_win = std::make_unique<PopupWindow>(m_delegate);
    m_win->setWindowTitle(QStringLiteral("智能客服 ") + VERSION);
    // A --size below the minimum is taken as it is, as the user asked.
    const QSizeF fixed = m_options.fixedSize.value_or(MINIMUM_SIZE);
    m_win->setMinimumSize(qBound(1, int(fixed.width()), int(MINIMUM_SIZE.width())),
                          qBound(1, int(fixed.height()), int(MINIMUM_SIZE.height())));
    m_win->setAttribute(Qt::WA_ShowWithoutActivating);
    // Qt shows tooltips in the active window only, and the chat is that.
    m_win->setAttribute(Qt::WA_AlwaysShowToolTips);
    m_win->setAttribute(Qt::WA_DeleteOnClose, false);
    new KeyboardPolicy(m_win.get());
    m_delegate->win = m_win.get();
    connect(m_win.get(), &PopupWindow::wasPlaced, this, &Popup::placed);

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

    const QRectF vf = m_screen ? visibleFrame(m_screen) : FALLBACK_VISIBLE_FRAME;
    const QSizeF size = initialContentSize(m_options.fixedSize, vf);
    m_win->resize(int(std::lround(size.width())), int(std::lround(size.height())));
}

Popup::~Popup()
{
    m_delegate->saveFrame(); // a move in the last moment before the end
    // The program may end before the window was ever placed: the lines owed
    // tell the frame as it stands.
    for (const bool first : std::exchange(m_owedFrames, {}))
        printFrame(first);
}

void Popup::render(const QJsonObject &payload)
{
    const bool first = !m_renderedOnce;
    const int scrolled = m_scroll->verticalScrollBar()->value();
    const Content next = buildContent(payload, &m_reply);
    QWidget *content = next.column;

    // The old column may be inside a button's click: release it later, never now.
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
    QPlainTextEdit *focus = m_reply.focusAfterRender(next.reply);
    if (focus) {
        content->show();
        focus->setFocus(Qt::OtherFocusReason);
    }
    m_scroll->verticalScrollBar()->setValue(next.reply.kept && focus ? scrolled : 0);
    if (m_win->placed() && !m_win->isVisible())
        m_win->show();
    if (!m_options.debugMode)
        return;
    // A window manager may still place and frame the window in its own time:
    // every line waits until the window is where it stays, a second at most,
    // so that none tells a frame the window never had.
    m_owedFrames.append(first);
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
    if (!m_win->placed() || m_owedFrames.isEmpty())
        return;
    for (const bool first : std::exchange(m_owedFrames, {}))
        printFrame(first);
    Q_EMIT frameLinesPrinted();
}

// The window is where it stays: the FRAME lines owed are true now, and it fades in.
void Popup::placed()
{
    printOwedFrames();
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
        const QRectF vf = m_screen ? visibleFrame(m_screen) : FALLBACK_VISIBLE_FRAME;
        frame = defaultFrame(m_options.fixedSize, vf);
    }
    // Without window opacity the window is simply there, at full opacity.
    m_fadePending = canFade();
    if (m_fadePending)
        m_win->setWindowOpacity(0.0);
    windowsystem::skipTaskbar(m_win.get());
    m_win->placeAndShow(*frame);
}

} // namespace moxel
