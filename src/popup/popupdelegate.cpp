#include "popupdelegate.h"
#include "frame.h"
#include "popup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

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

std::optional<QRectF> PopupDelegate::savedFrame()
{
    const QVariant value = settings().value(frameKey);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return savedFrameFromText(value.toString());
}

void PopupDelegate::saveFrame()
{
    if (!win)
        return;
    settings().setValue(frameKey, frameText(screenSpace().toYUp(win->outerFrame())));
    // Written through at once, so the frame survives the process being killed.
    settings().sync();
}

void PopupDelegate::windowWillClose()
{
    QCoreApplication::quit();
}

} // namespace moxel
