#include "panel/PanelPlacement.h"

#include <algorithm>
#include <cmath>

namespace nimbrel {

namespace {
constexpr double bottomHeight = 280;
constexpr double sideWidth = 360;
constexpr double sideInset = 16;
constexpr double sideMaxHeight = 720;
// On a small screen (a HiDPI screen at a large scale factor) the panel still leaves most of it free: the
// strip takes at most this share of the visible height, a column at most this share of its width.
constexpr double maxScreenShare = 0.45;
constexpr double previewMaxWidth = previewMaxSize.width();
constexpr double previewMaxHeight = previewMaxSize.height();
constexpr double previewGap = 18;
constexpr double previewMargin = 6;
}  // namespace

YUpRect panelFrame(PanelMode mode, const YUpRect& v)
{
    const double h = std::min(v.height - 80, sideMaxHeight);
    // Whole pixels, so that rounding never takes the panel past the visible frame.
    const double w = std::min(sideWidth, std::floor(v.width * maxScreenShare));
    switch (mode) {
        case PanelMode::left:
            return {v.x + sideInset, v.midY() - h / 2, w, h};
        case PanelMode::right:
            return {v.maxX() - w - sideInset, v.midY() - h / 2, w, h};
        case PanelMode::bottom:
            break;
    }
    return {v.x + 2, v.y, v.width - 4, std::min(bottomHeight, std::floor(v.height * maxScreenShare))};
}

std::optional<YUpRect> previewFrame(QSize pixels, QPointF p, const YUpRect& v)
{
    const double w = pixels.width();
    const double h = pixels.height();
    if (w < 1 || h < 1)
        return std::nullopt;
    const double s = std::min({previewMaxWidth / w, previewMaxHeight / h, 1.0});
    const double width = s * w;
    const double height = s * h;
    double x = p.x() - width / 2;
    x = std::min(x, v.maxX() - width - previewMargin);
    x = std::max(x, v.x + previewMargin);  // when both cannot hold, the left edge wins
    double y = p.y() + previewGap;
    if (y + height > v.maxY() - previewMargin)
        y = p.y() - height - previewGap;
    y = std::max(y, v.y + previewMargin);
    return YUpRect{x, y, width, height};
}

std::optional<std::size_t> screenOfWindow(std::span<const ScreenArea> screens, const QRect& window)
{
    std::optional<std::size_t> best;
    std::pair<bool, qint64> bestScore{false, 0};
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const ScreenArea& screen = screens[i];
        const QRect native(screen.geometry.topLeft(),
                           QSize(static_cast<int>(std::lround(screen.geometry.width() * screen.devicePixelRatio)),
                                 static_cast<int>(std::lround(screen.geometry.height() * screen.devicePixelRatio))));
        const QRect covered = native.intersected(window);
        const std::pair<bool, qint64> score{native.contains(window.center()),
                                            covered.isEmpty() ? 0 : qint64(covered.width()) * covered.height()};
        if (score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

YUpRect fromQt(const QRectF& rect, double screenHeight)
{
    return {rect.x(), screenHeight - (rect.y() + rect.height()), rect.width(), rect.height()};
}

QRect toQt(const YUpRect& rect, double screenHeight)
{
    // Whole device-independent pixels; Qt scales them for HiDPI screens.
    return QRect(static_cast<int>(std::lround(rect.x)),
                 static_cast<int>(std::lround(screenHeight - (rect.y + rect.height))),
                 static_cast<int>(std::lround(rect.width)), static_cast<int>(std::lround(rect.height)));
}

QPointF fromQt(QPointF point, double screenHeight)
{
    return {point.x(), screenHeight - point.y()};
}

}  // namespace nimbrel
