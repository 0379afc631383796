#include "frame.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

using namespace Qt::StringLiterals;

namespace moxel {

namespace {

// Points on a scaled screen are whole pixels over the scale; to the millionth
// they still give back every pixel, without the noise of the sums (6.4, not 6.39999…).
double millionths(double v)
{
    return std::abs(v) < 1e9 ? std::round(v * 1e6) / 1e6 : v;
}

} // namespace

QRectF ScreenSpace::toYUp(const QRectF &down) const
{
    return QRectF(millionths(down.x()),
                  millionths(primaryTop + primaryHeight - (down.y() + down.height())),
                  millionths(down.width()), millionths(down.height()));
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
    double height = fixedSize ? fixedSize->height() : vf.height() - 2 * SCREEN_GAP;
    if (height <= MINIMUM_SIZE.height())
        height = MINIMUM_SIZE.height();
    if (vf.height() < height)
        height = vf.height();
    return QSizeF(width, height);
}

QRectF defaultFrame(const std::optional<QSizeF> &fixedSize, const QRectF &vf)
{
    const QSizeF size = fixedSize ? *fixedSize : QSizeF(SIDEBAR_W, vf.height() - 2 * SCREEN_GAP);
    const double x = vf.x() + vf.width() - size.width() - SCREEN_GAP;
    const double bottom = vf.y() + vf.height() - SCREEN_GAP;
    return QRectF(x, bottom - size.height(), size.width(), size.height());
}

bool savedFrameUsable(const QRectF &f, const QList<QRectF> &visibleFrames)
{
    if (!(f.width() >= MINIMUM_SIZE.width() && f.width() <= MAX_SAVED_W &&
          f.height() >= MINIMUM_SIZE.height()))
        return false;
    for (const QRectF &vf : visibleFrames) {
        if (f.intersects(vf))
            return true;
    }
    return false;
}

QRect DeviceScale::toDevice(const QRectF &p) const
{
    // Whole pixels cut toward zero, as the FRAME line cuts points; the margin
    // absorbs what dividing pixels by the scale leaves over.
    const auto px = [](double v) {
        return int(v < 0 ? std::ceil(v - 1e-4) : std::floor(v + 1e-4));
    };
    return QRect(px((p.x() - origin.x()) * factor + origin.x()),
                 px((p.y() - origin.y()) * factor + origin.y()), px(p.width() * factor),
                 px(p.height() * factor));
}

QRectF DeviceScale::toPoints(const QRect &d) const
{
    return QRectF((d.x() - origin.x()) / factor + origin.x(),
                  (d.y() - origin.y()) / factor + origin.y(), d.width() / factor,
                  d.height() / factor);
}

Strut Strut::fromValues(const QList<int> &v, const QSize &root)
{
    Strut s;
    if (v.size() < 4)
        return s;
    s.left = v[0];
    s.right = v[1];
    s.top = v[2];
    s.bottom = v[3];
    if (v.size() >= 12) {
        s.leftStartY = v[4];
        s.leftEndY = v[5];
        s.rightStartY = v[6];
        s.rightEndY = v[7];
        s.topStartX = v[8];
        s.topEndX = v[9];
        s.bottomStartX = v[10];
        s.bottomEndX = v[11];
    } else {
        s.leftEndY = s.rightEndY = root.height() - 1;
        s.topEndX = s.bottomEndX = root.width() - 1;
    }
    return s;
}

QRect visibleArea(const QRect &screen, const QSize &root, const QList<Strut> &struts,
                  const QList<QRect> &workAreas)
{
    for (const QRect &area : workAreas) {
        if (screen.contains(area))
            return area;
    }
    QRect visible = screen;
    // Each reservation is a band along a root edge; it counts on the screens it reaches.
    for (const Strut &s : struts) {
        const auto band = [](int x1, int y1, int x2, int y2) {
            return QRect(QPoint(x1, y1), QPoint(x2, y2));
        };
        if (s.left > 0 && band(0, s.leftStartY, s.left - 1, s.leftEndY).intersects(screen))
            visible.setLeft(qMax(visible.left(), s.left));
        if (s.right > 0 &&
            band(root.width() - s.right, s.rightStartY, root.width() - 1, s.rightEndY)
                .intersects(screen))
            visible.setRight(qMin(visible.right(), root.width() - s.right - 1));
        if (s.top > 0 && band(s.topStartX, 0, s.topEndX, s.top - 1).intersects(screen))
            visible.setTop(qMax(visible.top(), s.top));
        if (s.bottom > 0 &&
            band(s.bottomStartX, root.height() - s.bottom, s.bottomEndX, root.height() - 1)
                .intersects(screen))
            visible.setBottom(qMin(visible.bottom(), root.height() - s.bottom - 1));
    }
    return visible.isValid() ? visible : screen;
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
