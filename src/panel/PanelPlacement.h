#pragma once

#include "settings/PanelMode.h"

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <cstddef>
#include <optional>
#include <span>

namespace nimbrel {

// Geometry is reasoned about with the origin at the bottom left of the screen and y growing upwards
// (so the placement rules read as designed), and converted to Qt's top-left coordinates once, where a
// window is moved.
struct YUpRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double midY() const { return y + height / 2; }
    friend bool operator==(const YUpRect&, const YUpRect&) = default;
};

// The panel's frame for a placement inside the screen's visible frame V: a 280-high strip across the
// bottom with 2 free at each side, or a 360-wide column 16 in from the left or right edge, centred,
// min(V.height − 80, 720) high. On a small screen the strip is at most 45 % of V's height and a column
// at most 45 % of its width (whole pixels), so the panel never covers most of the screen.
YUpRect panelFrame(PanelMode mode, const YUpRect& visible);

// The largest hover preview, in device-independent pixels.
inline constexpr QSize previewMaxSize{560, 420};

// The hover preview's frame for an image of `pixels` with the pointer at `pointer`: at most previewMaxSize
// and never enlarged, centred above the pointer (below it when there is no room), 6 inside the
// visible frame. None when the image has no pixels.
std::optional<YUpRect> previewFrame(QSize pixels, QPointF pointer, const YUpRect& visible);

// A screen as Qt 6 describes it: `geometry` has its top-left in native pixels and its size in
// device-independent pixels, `devicePixelRatio` times smaller than the native size.
struct ScreenArea {
    QRect geometry;
    double devicePixelRatio = 1;
};

// Which screen a window (native pixels of the virtual desktop) is on: the one holding its centre, and of
// several such (overlapping screens) the one it covers most, else the one it covers most; the first on a
// tie. None when it is on no screen.
std::optional<std::size_t> screenOfWindow(std::span<const ScreenArea> screens, const QRect& window);

// Conversions for a screen of total height `screenHeight` (Qt coordinates of the virtual desktop).
YUpRect fromQt(const QRectF& rect, double screenHeight);
QRect toQt(const YUpRect& rect, double screenHeight);
QPointF fromQt(QPointF point, double screenHeight);

}  // namespace nimbrel
