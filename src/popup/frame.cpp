#include "frame.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

using namespace Qt::StringLiterals;

namespace moxel {

QRectF ScreenSpace::toYUp(const QRectF &down) const
{
    return QRectF(down.x(), primaryTop + primaryHeight - (down.y() + down.height()), down.width(),
                  down.height());
}

QRectF ScreenSpace::toYDown(const QRectF &up) const
{
    return QRectF(up.x(), primaryTop + primaryHeight - up.y() - up.height(), up.width(),
                  up.height());
}

namespace {

QString num(double v)
{
    if (v == 0)
        v = 0; // no "-0"
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QString frameText(const QRectF &f)
{
    return u"{{"_s + num(f.x()) + u", "_s + num(f.y()) + u"}, {"_s + num(f.width()) + u", "_s +
           num(f.height()) + u"}}"_s;
}

QRectF frameFromText(QStringView text)
{
    static const QRegularExpression number(
        QStringLiteral(R"([-+]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][-+]?\d+)?)"));
    double v[4] = {0, 0, 0, 0};
    int count = 0;
    auto it = number.globalMatch(text.left(4096).toString());
    while (count < 4 && it.hasNext()) {
        const double d = it.next().capturedView().toDouble();
        v[count++] = std::isfinite(d) ? d : 0;
    }
    return QRectF(v[0], v[1], v[2], v[3]);
}

std::optional<QRectF> savedFrameFromText(const QString &text)
{
    const QRectF r = frameFromText(text);
    if (r.width() >= 320 && r.height() >= 240)
        return r;
    return std::nullopt;
}

QSizeF initialContentSize(const std::optional<QSizeF> &fixedSize, const QRectF &vf)
{
    const double width = fixedSize ? fixedSize->width() : SIDEBAR_W;
    double height = fixedSize ? fixedSize->height() : vf.height() - 24;
    if (height <= 480)
        height = 480;
    if (vf.height() < height)
        height = vf.height();
    return QSizeF(width, height);
}

QRectF defaultFrame(const std::optional<QSizeF> &fixedSize, const QRectF &vf)
{
    const QSizeF size = fixedSize ? *fixedSize : QSizeF(SIDEBAR_W, vf.height() - 24);
    const double x = vf.x() + vf.width() - size.width() - 12;
    const double bottom = vf.y() + vf.height() - 12;
    return QRectF(x, bottom - size.height(), size.width(), size.height());
}

bool savedFrameUsable(const QRectF &f, const QList<QRectF> &visibleFrames)
{
    if (!(f.width() >= 340 && f.width() <= 620 && f.height() >= 480))
        return false;
    for (const QRectF &vf : visibleFrames) {
        if (f.intersects(vf))
            return true;
    }
    return false;
}

namespace {

QString truncated(double v)
{
    if (!std::isfinite(v))
        return u"0"_s;
    const double t = std::trunc(v);
    if (t >= 9.2e18 || t <= -9.2e18)
        return QString::number(t, 'f', 0);
    return QString::number(qint64(t));
}

} // namespace

QString frameLine(const QRectF &frame, const QRectF &screen, const ScreenSpace &space, bool first)
{
    const QRectF up = space.toYUp(frame);
    const double yFromTop = screen.height() - (up.y() + up.height());
    return u"FRAME x="_s + truncated(up.x()) + u" y_from_top="_s + truncated(yFromTop) + u" w="_s +
           truncated(up.width()) + u" h="_s + truncated(up.height()) + u" first="_s +
           (first ? u"true"_s : u"false"_s);
}

} // namespace moxel
