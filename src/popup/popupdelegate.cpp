#include "popupdelegate.h"
#include "frame.h"
#include "popup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <utility>

namespace moxel {

const QString PopupDelegate::frameKey = QStringLiteral("moxel.popupFrame");

namespace {

QSettings &settings()
{
    static QSettings s(QStringLiteral("moxel"), QStringLiteral("moxel-popup"));
    return s;
}

} // namespace

ScreenSpace screenSpace()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return {};
    return {double(primary->geometry().y()), double(primary->geometry().height())};
}

PopupDelegate::PopupDelegate(QObject *parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &PopupDelegate::saveFrame);
}

std::optional<QRectF> PopupDelegate::savedFrame()
{
    const QVariant value = settings().value(frameKey);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return savedFrameFromText(value.toString());
}

void PopupDelegate::frameChanged()
{
    // The frame is read once the window is still, and written once.
    m_unsaved = true;
    m_settle.start();
}

void PopupDelegate::saveFrame()
{
    m_settle.stop();
    if (!win || !std::exchange(m_unsaved, false))
        return;
    settings().setValue(frameKey, frameText(screenSpace().toYUp(win->outerFrame())));
    // Written through at once, so the frame survives the process being killed.
    settings().sync();
}

void PopupDelegate::windowWillClose()
{
    saveFrame();
    QCoreApplication::quit();
}

} // namespace moxel
