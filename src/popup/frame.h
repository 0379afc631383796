#pragma once

#include <QList>
#include <QMargins>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

// Window placement and the remembered frame, as plain functions. Qt works in
// top-left coordinates with y down; every number that leaves the program (the
// saved frame, the FRAME line) keeps the popup's historical meaning: origin at
// the bottom-left of the primary screen, y up. `ScreenSpace` converts.
namespace moxel {

struct ScreenSpace
{
    double primaryTop = 0;    // the primary screen's top, in Qt coordinates
    double primaryHeight = 0; // the primary screen's height

    QRectF toYUp(const QRectF &down) const;
    QRectF toYDown(const QRectF &up) const;
};

// "{{x, y}, {w, h}}", numbers in their shortest exact form.
QString frameText(const QRectF &frame);
// Reads the numbers of the text in order (x, y, w, h); missing ones are 0, so
// text without numbers is the zero rectangle.
QRectF frameFromText(QStringView text);
// The stored frame when it is at least 320 x 240.
std::optional<QRectF> savedFrameFromText(const QString &text);

// Default width of the popup in points.
inline constexpr double SIDEBAR_W = 400.0;
// The smallest the window is made (a smaller --size is taken as it is) and
// the smallest a remembered frame may be.
inline constexpr QSizeF MINIMUM_SIZE{340, 480};
// The widest a remembered frame may be.
inline constexpr double MAX_SAVED_W = 620;
// The default frame's distance from the right and bottom of the visible
// frame, and from its top.
inline constexpr double SCREEN_GAP = 12;
// The visible frame assumed when Qt knows no screen.
inline constexpr QRectF FALLBACK_VISIBLE_FRAME{0, 0, 400, 800};
// The decorations assumed, in pixels at scale 1, where the window manager
// does not say what they will be: a title bar and thin borders.
inline constexpr QMargins GUESSED_DECORATIONS{4, 48, 4, 4};

// Content size before the first render: width from --size or SIDEBAR_W;
// height from --size or the visible height less a gap above and below, raised
// to the minimum height, then lowered to the visible height.
QSizeF initialContentSize(const std::optional<QSizeF> &fixedSize, const QRectF &visibleFrame);

// The default frame (Qt coordinates): SCREEN_GAP from the right and bottom of
// the visible frame, --size or SIDEBAR_W x (visible height - 2 gaps).
QRectF defaultFrame(const std::optional<QSizeF> &fixedSize, const QRectF &visibleFrame);

// A remembered frame is used when it is at least MINIMUM_SIZE, at most
// MAX_SAVED_W wide, and overlaps the visible frame of some screen.
bool savedFrameUsable(const QRectF &frame, const QList<QRectF> &visibleFrames);

// A screen's device pixels against its points: Qt keeps a screen's top-left
// corner in both and scales everything else from there.
struct DeviceScale
{
    QPointF origin;
    double factor = 1;

    // Each number cut toward zero, so a frame that came from pixels goes back exactly.
    QRect toDevice(const QRectF &points) const;
    QRectF toPoints(const QRect &device) const;
};

// Space a dock reserves along the root window's edges (_NET_WM_STRUT_PARTIAL:
// left, right, top, bottom, then the start and end of each along its edge).
struct Strut
{
    int left = 0, right = 0, top = 0, bottom = 0;
    int leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
    int topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;

    // From the property's 12 values, or the older 4 that span whole edges.
    static Strut fromValues(const QList<int> &values, const QSize &root);
};

// The part of `screen` (device pixels, root coordinates) that no dock on it
// reserves. A window manager's own per-monitor work area, where it publishes
// one inside this screen, is taken as it is.
QRect visibleArea(const QRect &screen, const QSize &root, const QList<Strut> &struts,
                  const QList<QRect> &workAreas = {});

// "FRAME x=… y_from_top=… w=… h=… first=…", integers truncated toward zero.
// `frame` and `screen` are in Qt coordinates.
QString frameLine(const QRectF &frame, const QRectF &screen, const ScreenSpace &space, bool first);

} // namespace moxel
