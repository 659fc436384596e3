#pragma once

#include "history/ClipKind.h"

#include <QColor>
#include <QString>

#include <array>
#include <optional>

class QPainter;
class QPalette;
class QRectF;

namespace nimbrel {

// The symbols the panel draws itself. They are vector paths, so they stay sharp at every scale and
// need neither image files nor an SVG renderer.
enum class Glyph { grid, textLines, photo, link, palette, magnifyingGlass, clearMark, clipboard, pin };

// How a kind is presented by the filter chips and the cards' badges. An absent kind is the "all kinds"
// filter entry.
struct KindStyle {
    std::optional<ClipKind> kind;
    // An interface text key (translated through SettingsStore::localized).
    QString labelKey;
    Glyph glyph;
    // sRGB; invalid for all kinds, which take the accent colour (kindTint).
    QColor tint;
};

// The filter entries in display order: all, text, image, link, colour.
const std::array<KindStyle, 5>& kindStyles();
const KindStyle& kindStyle(std::optional<ClipKind> kind);
// The entry's tint, or the palette's highlight (the accent colour) for all kinds.
QColor kindTint(std::optional<ClipKind> kind, const QPalette& palette);

// What the panel lists: the records of one kind (none: every kind), or the pinned records of every kind.
struct ListFilter {
    std::optional<ClipKind> kind;
    bool pinnedOnly = false;

    static ListFilter pinned() { return {std::nullopt, true}; }
    bool operator==(const ListFilter&) const = default;
};

// The pinned entry after the kinds, and the mark of a pinned card: its `kind` is unused.
const KindStyle& pinnedStyle();
// The style of a filter entry: pinnedStyle() or that of its kind.
const KindStyle& filterStyle(const ListFilter& filter);
// The entry's tint (kindTint for the kinds).
QColor filterTint(const ListFilter& filter, const QPalette& palette);

// The panel's label and accent colours, taken from the widget palette.
struct PanelColors {
    QColor primary;
    QColor secondary;
    QColor tertiary;
    QColor accent;
    QColor grey;

    static PanelColors from(const QPalette& palette);
};

// `color` with its opacity multiplied by `opacity`.
QColor faded(QColor color, qreal opacity);

// Stroke weights for paintGlyph, after the symbol weights of the layout.
enum class GlyphWeight { light, regular, medium, semibold, bold };

// Draws `glyph` into the largest square centred in `box`, in `color`.
void paintGlyph(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& color,
                GlyphWeight weight = GlyphWeight::regular);

}  // namespace nimbrel
