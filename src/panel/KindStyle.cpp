#include "panel/KindStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace nimbrel {

namespace {

// Glyphs are designed on a 24-unit square.
constexpr qreal gridUnits = 24;

QColor srgb(qreal red, qreal green, qreal blue)
{
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue));
}

qreal strokeWidth(GlyphWeight weight)
{
    switch (weight) {
        case GlyphWeight::light:
            return 1.5;
        case GlyphWeight::regular:
            return 2.0;
        case GlyphWeight::medium:
            return 2.3;
        case GlyphWeight::semibold:
            return 2.6;
        case GlyphWeight::bold:
            return 3.0;
    }
    return 2.0;
}

QPainterPath stroked(const QPainterPath& path, qreal width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path);
}

QPainterPath line(QPointF from, QPointF to)
{
    QPainterPath path(from);
    path.lineTo(to);
    return path;
}

// A capsule of the given length and thickness, centred on `centre`, turned by `degrees`.
QPainterPath capsule(QPointF centre, qreal length, qreal thickness, qreal degrees)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(-length / 2, -thickness / 2, length, thickness), thickness / 2, thickness / 2);
    QTransform turn;
    turn.translate(centre.x(), centre.y());
    turn.rotate(degrees);
    return turn.map(path);
}

// Every glyph as one filled path (strokes are turned into outlines), so a single fill draws it and
// overlapping parts never darken each other.
QPainterPath glyphPath(Glyph glyph, qreal width)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    switch (glyph) {
        case Glyph::grid: {
            const qreal cell = 6;
            const qreal gap = 1.6;
            const qreal origin = (gridUnits - 3 * cell - 2 * gap) / 2;
            for (int row = 0; row < 3; ++row) {
                for (int column = 0; column < 3; ++column) {
                    path.addRoundedRect(QRectF(origin + column * (cell + gap), origin + row * (cell + gap), cell, cell),
                                        1.4, 1.4);
                }
            }
            break;
        }
        case Glyph::textLines: {
            const qreal lengths[] = {18, 12, 18, 9};
            for (int i = 0; i < 4; ++i) {
                const qreal y = 5 + i * 4.7;
                path.addPath(stroked(line({3, y}, {3 + lengths[i], y}), width));
            }
            break;
        }
        case Glyph::photo: {
            QPainterPath frame;
            frame.addRoundedRect(QRectF(2.5, 4.5, 19, 15), 3, 3);
            path.addPath(stroked(frame, width));
            QPainterPath hills;
            hills.moveTo(5, 17.5);
            hills.lineTo(10, 11);
            hills.lineTo(13.5, 15);
            hills.lineTo(15.5, 12.8);
            hills.lineTo(19, 17.5);
            hills.closeSubpath();
            path.addPath(hills);
            path.addEllipse(QPointF(15.8, 8.8), 1.8, 1.8);
            break;
        }
        case Glyph::link: {
            // Two chain links on a diagonal, each an outlined capsule.
            const qreal thickness = 7.5;
            for (const QPointF centre : {QPointF(8.6, 15.4), QPointF(15.4, 8.6)}) {
                QPainterPath link = capsule(centre, 13.5, thickness, -45);
                path.addPath(stroked(link, width));
            }
            break;
        }
        case Glyph::palette: {
            QPainterPath board;
            board.addEllipse(QRectF(2, 3, 20, 18));
            // The thumb hole bites into the lower right of the board.
            QPainterPath thumb;
            thumb.addEllipse(QPointF(16.5, 16.2), 3.1, 3.1);
            QPainterPath dots;
            dots.addEllipse(QPointF(7.3, 11.2), 1.9, 1.9);
            dots.addEllipse(QPointF(10.5, 7.4), 1.9, 1.9);
            dots.addEllipse(QPointF(15.4, 7.8), 1.9, 1.9);
            path = board.subtracted(thumb).subtracted(dots);
            break;
        }
        case Glyph::magnifyingGlass: {
            QPainterPath lens;
            lens.addEllipse(QPointF(10.2, 10.2), 6.6, 6.6);
            path.addPath(stroked(lens, width));
            path.addPath(stroked(line({15.2, 15.2}, {20.8, 20.8}), width * 1.25));
            break;
        }
        case Glyph::clearMark: {
            QPainterPath disc;
            disc.addEllipse(QPointF(12, 12), 10, 10);
            QPainterPath cross = stroked(line({8.3, 8.3}, {15.7, 15.7}), 2.2);
            cross.addPath(stroked(line({15.7, 8.3}, {8.3, 15.7}), 2.2));
            path = disc.subtracted(cross.simplified());
            break;
        }
        case Glyph::clipboard: {
            QPainterPath board;
            board.addRoundedRect(QRectF(4, 3.5, 16, 19), 2.6, 2.6);
            path.addPath(stroked(board, width));
            QPainterPath clip;
            clip.addRoundedRect(QRectF(8.5, 1.5, 7, 4.2), 1.6, 1.6);
            path.addPath(clip);
            path.addPath(stroked(line({8, 11}, {16, 11}), width));
            path.addPath(stroked(line({8, 15.5}, {13.5, 15.5}), width));
            break;
        }
        case Glyph::pin: {
            // An upright push pin: cap, body, collar and needle, united so the outline is one shape.
            QPainterPath cap;
            cap.addRoundedRect(QRectF(7.5, 1.5, 9, 3.2), 1.4, 1.4);
            QPainterPath body;
            body.moveTo(9.2, 4.2);
            body.lineTo(14.8, 4.2);
            body.lineTo(15.8, 11.6);
            body.lineTo(8.2, 11.6);
            body.closeSubpath();
            QPainterPath collar;
            collar.addRoundedRect(QRectF(4.8, 11, 14.4, 3.4), 1.7, 1.7);
            path = cap.united(body).united(collar).united(stroked(line({12, 14}, {12, 22}), width));
            break;
        }
    }
    return path;
}

}  // namespace

const std::array<KindStyle, 5>& kindStyles()
{
    static const std::array<KindStyle, 5> styles{{
        {std::nullopt, QStringLiteral("全部"), Glyph::grid, QColor()},
        {ClipKind::text, QStringLiteral("文本"), Glyph::textLines, srgb(0.3, 0.55, 1.0)},
        {ClipKind::image, QStringLiteral("图片"), Glyph::photo, srgb(1.0, 0.68, 0.2)},
        {ClipKind::link, QStringLiteral("链接"), Glyph::link, srgb(0.2, 0.75, 0.85)},
        {ClipKind::color, QStringLiteral("颜色"), Glyph::palette, srgb(0.2, 0.72, 0.45)},
    }};
    return styles;
}

const KindStyle& kindStyle(std::optional<ClipKind> kind)
{
    const auto& styles = kindStyles();
    const auto found = std::find_if(styles.begin(), styles.end(), [&](const KindStyle& s) { return s.kind == kind; });
    return found != styles.end() ? *found : styles.front();
}

QColor kindTint(std::optional<ClipKind> kind, const QPalette& palette)
{
    const QColor tint = kindStyle(kind).tint;
    return tint.isValid() ? tint : palette.color(QPalette::Active, QPalette::Highlight);
}

const KindStyle& pinnedStyle()
{
    static const KindStyle style{std::nullopt, QStringLiteral("已固定"), Glyph::pin, srgb(0.93, 0.33, 0.4)};
    return style;
}

const KindStyle& filterStyle(const ListFilter& filter)
{
    return filter.pinnedOnly ? pinnedStyle() : kindStyle(filter.kind);
}

QColor filterTint(const ListFilter& filter, const QPalette& palette)
{
    return filter.pinnedOnly ? pinnedStyle().tint : kindTint(filter.kind, palette);
}

PanelColors PanelColors::from(const QPalette& palette)
{
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    return {text, faded(text, 0.55), faded(text, 0.28), palette.color(QPalette::Active, QPalette::Highlight),
            QColor(142, 142, 147)};
}

QColor faded(QColor color, qreal opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

void paintGlyph(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& color, GlyphWeight weight)
{
    const qreal side = std::min(box.width(), box.height());
    if (side <= 0)
        return;
    // Paths are cached per glyph and weight: building them (strokes, subtractions) costs more than
    // filling them.
    static QPainterPath cache[static_cast<int>(Glyph::pin) + 1][static_cast<int>(GlyphWeight::bold) + 1];
    QPainterPath& path = cache[static_cast<int>(glyph)][static_cast<int>(weight)];
    if (path.isEmpty())
        path = glyphPath(glyph, strokeWidth(weight));

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / gridUnits, side / gridUnits);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(path);
    painter.restore();
}

}  // namespace nimbrel
