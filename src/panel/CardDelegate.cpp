#include "panel/CardDelegate.h"

#include "history/Thumbnail.h"
#include "panel/CardFormat.h"
#include "panel/KindStyle.h"
#include "panel/ResultsModel.h"
#include "platform/Clock.h"
#include "settings/SettingsStore.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace nimbrel {

namespace {

constexpr qreal cardRadius = 12;
constexpr int bigCardTextLines = CardDelegate::bigCardTextLines;
constexpr int rowTitleLines = CardDelegate::rowTitleLines;
constexpr qreal rowTile = 44;
// Texts are cut to this many characters before they are laid out: a multi-megabyte record would
// otherwise be measured in full on every paint, though six lines show a few hundred characters.
constexpr qsizetype layoutCharacterLimit = 1500;

QFont uiFont(int pixels, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

}  // namespace

QList<CardLine> wrappedLines(const QString& text, const QFont& font, qreal width, int maxLines)
{
    if (text.isEmpty() || width <= 0 || maxLines <= 0)
        return {};
    const bool cut = text.size() > layoutCharacterLimit;
    QString prepared = text.left(layoutCharacterLimit);
    prepared.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    prepared.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    prepared.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    prepared.replace(QChar::LineSeparator, QLatin1Char('\n'));
    const QStringList paragraphs = prepared.split(QLatin1Char('\n'));

    // Each paragraph is laid out on its own, so that it takes the direction of its own text.
    struct Span {
        qsizetype paragraph;
        int start;
        int length;
    };
    QList<Span> spans;
    QList<Qt::LayoutDirection> directions;
    for (qsizetype p = 0; p < paragraphs.size() && spans.size() <= maxLines; ++p) {
        const QString& paragraph = paragraphs[p];
        const Qt::LayoutDirection direction = paragraph.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
        directions.append(direction);
        if (paragraph.isEmpty()) {
            spans.append({p, 0, 0});
            continue;
        }
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setTextDirection(direction);
        layout.setTextOption(option);
        layout.beginLayout();
        while (spans.size() <= maxLines) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            spans.append({p, line.textStart(), line.textLength()});
        }
        layout.endLayout();
    }

    const auto trimmedEnd = [](QString line) {
        while (!line.isEmpty() && line.back().isSpace())
            line.chop(1);
        return line;
    };
    const QFontMetricsF metrics(font);
    const QString ellipsis(QChar(0x2026));
    const bool overflow = cut || spans.size() > maxLines;
    const int shown = std::min<int>(static_cast<int>(spans.size()), maxLines);
    QList<CardLine> lines;
    for (int i = 0; i < shown; ++i) {
        const Span& span = spans[i];
        const QString& paragraph = paragraphs[span.paragraph];
        const Qt::LayoutDirection direction = directions[span.paragraph];
        if (i + 1 < shown || !overflow) {
            lines.append({trimmedEnd(paragraph.mid(span.start, span.length)), direction});
            continue;
        }
        // The last line shows as much of the rest of its own paragraph as fits, ending in an ellipsis; later
        // paragraphs are never joined onto it.
        const QString rest = trimmedEnd(paragraph.mid(span.start));
        QString elided = metrics.elidedText(rest, Qt::ElideRight, width);
        // When the rest fits (the paragraph ends here, or the text was cut before layout), the ellipsis still
        // says that there is more.
        if (!elided.endsWith(ellipsis))
            elided = metrics.elidedText(rest + ellipsis, Qt::ElideRight, width);
        // "word …" reads as a lone dot; keep the ellipsis on the word.
        if (elided.size() >= 2 && elided.at(elided.size() - 2).isSpace())
            elided = trimmedEnd(elided.left(elided.size() - 2)) + ellipsis;
        lines.append({elided, direction});
    }
    return lines;
}

namespace {

// Each line starts at the side its direction reads from: right-to-left lines end at the right of `box`.
void paintLines(QPainter& painter, const QList<CardLine>& lines, const QFont& font, const QRectF& box,
                const QColor& color)
{
    const QFontMetricsF metrics(font);
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    qreal baseline = box.top() + metrics.ascent();
    for (const CardLine& line : lines) {
        painter.setLayoutDirection(line.direction);
        const qreal x =
            line.direction == Qt::RightToLeft ? box.right() - metrics.horizontalAdvance(line.text) : box.left();
        painter.drawText(QPointF(x, baseline), line.text);
        baseline += metrics.lineSpacing();
    }
    painter.restore();
}

void fillCapsule(QPainter& painter, const QRectF& box, const QColor& color)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const qreal radius = box.height() / 2;
    painter.drawRoundedRect(box, radius, radius);
}

// The kind badge of a big card: symbol and label in white on the kind's tint.
QRectF paintKindChip(QPainter& painter, QPointF leftCentre, ClipKind kind, const QString& label, const QFont& font,
                     const QPalette& palette)
{
    const QFontMetricsF metrics(font);
    const qreal symbol = 9;
    const qreal spacing = 3;
    const qreal height = std::ceil(metrics.height()) + 6;
    const qreal width = 7 + symbol + spacing + metrics.horizontalAdvance(label) + 7;
    const QRectF chip(leftCentre.x(), leftCentre.y() - height / 2, width, height);
    fillCapsule(painter, chip, kindTint(kind, palette));
    paintGlyph(painter, kindStyle(kind).glyph, QRectF(chip.left() + 7, chip.center().y() - symbol / 2, symbol, symbol),
               Qt::white, GlyphWeight::bold);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(
        QRectF(chip.left() + 7 + symbol + spacing, chip.top(), metrics.horizontalAdvance(label) + 1, chip.height()),
        Qt::AlignLeft | Qt::AlignVCenter, label);
    return chip;
}

// The small badge of a row card: the label alone.
void paintMiniChip(QPainter& painter, QPointF leftCentre, ClipKind kind, const QString& label, const QFont& font,
                   const QPalette& palette)
{
    const QFontMetricsF metrics(font);
    const qreal height = std::ceil(metrics.height()) + 4;
    const QRectF chip(leftCentre.x(), leftCentre.y() - height / 2, 6 + metrics.horizontalAdvance(label) + 6, height);
    fillCapsule(painter, chip, kindTint(kind, palette));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(chip, Qt::AlignCenter, label);
}

qreal miniChipHeight(const QFont& font)
{
    return std::ceil(QFontMetricsF(font).height()) + 4;
}

void drawImage(QPainter& painter, const QRectF& target, const QImage& image, qreal radius)
{
    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(target, radius, radius);
    painter.setClipPath(clip, Qt::IntersectClip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
    painter.restore();
}

// The part of `size` that, scaled to fill `box` completely, is shown (the rest is cropped).
QRectF croppedSource(const QSizeF& size, const QSizeF& box)
{
    const qreal scale = std::max(box.width() / size.width(), box.height() / size.height());
    const QSizeF shown(box.width() / scale, box.height() / scale);
    return QRectF(QPointF((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2), shown);
}

}  // namespace

CardDelegate::CardDelegate(CardLayout layout, SettingsStore& settings, AppIconCache& icons, const Clock& clock,
                           QObject* parent)
    : QStyledItemDelegate(parent),
      m_layout(layout),
      m_settings(settings),
      m_icons(icons),
      m_clock(clock),
      m_bodyFont(uiFont(12, QFont::Normal)),
      m_footerFont(uiFont(10, QFont::Medium)),
      m_metaFont(uiFont(10, QFont::Normal)),
      m_chipFont(uiFont(10, QFont::DemiBold)),
      m_miniChipFont(uiFont(9, QFont::Bold))
{
    m_monoFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_monoFont.setPixelSize(12);
    m_monoFont.setWeight(QFont::DemiBold);
}

qreal CardDelegate::cardScale(CardLayout layout, bool highlighted, qreal hoverProgress)
{
    if (layout != CardLayout::bigCard || highlighted)
        return 1.0;
    return 1.0 + (hoverGrowth - 1.0) * std::clamp(hoverProgress, 0.0, 1.0);
}

int CardDelegate::rowCardHeight() const
{
    const QFontMetricsF body(m_bodyFont);
    const qreal column = miniChipHeight(m_miniChipFont) + 4 + rowTitleLines * body.lineSpacing() + 4 +
                         QFontMetricsF(m_metaFont).height();
    return static_cast<int>(std::ceil(8 + std::max(rowTile, column) + 8));
}

QSize CardDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    // Rows are stretched to the list's width by the view, and big cards' cells to the strip's height: the
    // cell asks only for the lowest card that still shows a line, so a short strip (a small screen) lowers
    // the cards instead of cutting them off.
    if (m_layout == CardLayout::bigCard) {
        const qreal lowest = 10 + bigCardHeaderHeight() + 7 + QFontMetricsF(m_bodyFont).lineSpacing() + 6 +
                             QFontMetricsF(m_footerFont).height() + 9;
        return QSize(bigCardSize.width() + cardSpacing,
                     std::min(bigCardSize.height(), static_cast<int>(std::ceil(lowest))) + cardSpacing);
    }
    return QSize(cardSpacing * 2, rowCardHeight() + cardSpacing);
}

QRectF CardDelegate::cardRect(const QRect& cell) const
{
    const QRectF inner =
        QRectF(cell).adjusted(cardSpacing / 2.0, cardSpacing / 2.0, -cardSpacing / 2.0, -cardSpacing / 2.0);
    if (m_layout == CardLayout::row)
        return inner;
    // The view stretches the cell to the strip's height; the card keeps its size, centred, and gets lower
    // only where the strip is (a small screen).
    const QSizeF size(bigCardSize.width(), std::min<qreal>(bigCardSize.height(), inner.height()));
    return QRectF(inner.left(), inner.center().y() - size.height() / 2, size.width(), size.height());
}

qreal CardDelegate::bigCardHeaderHeight() const
{
    const qreal chipHeight = std::ceil(QFontMetricsF(m_chipFont).height()) + 6;
    return std::max<qreal>(chipHeight, 18);
}

QRectF CardDelegate::bigCardBody(const QRectF& card) const
{
    // Whatever space is left between the header and the footer.
    const qreal top = card.top() + 10 + bigCardHeaderHeight() + 7;
    const qreal bottom = card.bottom() - 9 - QFontMetricsF(m_footerFont).height() - 6;
    return QRectF(card.left() + 12, top, card.width() - 24, std::max<qreal>(0, bottom - top));
}

QList<CardLine> CardDelegate::bigCardLines(const QRectF& card, const QString& text) const
{
    const QRectF body = bigCardBody(card);
    // A card lowered to fit a short strip shows fewer lines, but always one.
    const int fitting = static_cast<int>(body.height() / QFontMetricsF(m_bodyFont).lineSpacing());
    return wrappedLines(text, m_bodyFont, body.width(), std::clamp(fitting, 1, bigCardTextLines));
}

void CardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant value = index.data(ResultsModel::ItemRole);
    if (!value.canConvert<ClipItem>())
        return;
    const ClipItem item = value.value<ClipItem>();
    const bool highlighted = index.data(ResultsModel::HighlightedRole).toBool();
    const PanelColors colors = PanelColors::from(option.palette);

    QRectF card = cardRect(option.rect);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    const qreal scale = cardScale(m_layout, highlighted, m_hoverProgress.value(item.id, 0.0));
    if (scale != 1.0) {
        painter->translate(card.center());
        painter->scale(scale, scale);
        painter->translate(-card.center());
    }

    const qreal border = highlighted ? 1.5 : 1.0;
    const QRectF frame = card.adjusted(border / 2, border / 2, -border / 2, -border / 2);
    painter->setPen(QPen(highlighted ? faded(colors.accent, 0.75) : faded(colors.primary, 0.06), border));
    painter->setBrush(highlighted ? faded(colors.accent, 0.18) : faded(colors.primary, 0.05));
    painter->drawRoundedRect(frame, cardRadius, cardRadius);

    if (m_layout == CardLayout::bigCard)
        paintBigCard(*painter, card, item, index, option.palette);
    else
        paintRow(*painter, card, item, index, option.palette);
    paintPin(*painter, card, item, highlighted, option.palette);
    painter->restore();
}

void CardDelegate::paintBigCard(QPainter& painter, const QRectF& card, const ClipItem& item, const QModelIndex& index,
                                const QPalette& palette) const
{
    const PanelColors colors = PanelColors::from(palette);
    const ClipKind kind = item.kind();

    // Header: badge on the left, source icon on the right.
    const qreal headerCentre = card.top() + 10 + bigCardHeaderHeight() / 2;
    paintKindChip(painter, QPointF(card.left() + 12, headerCentre), kind,
                  m_settings.localized(kindStyle(kind).labelKey), m_chipFont, palette);
    paintSourceIcon(painter, QRectF(card.right() - 12 - 18, headerCentre - 9, 18, 18), item);

    // Footer: age · size.
    const qreal footerHeight = QFontMetricsF(m_footerFont).height();
    const QRectF footer(card.left() + 12, card.bottom() - 9 - footerHeight, card.width() - 24, footerHeight);
    paintMetaLine(painter, footer, item, m_footerFont, palette);

    const QRectF body = bigCardBody(card);
    switch (kind) {
        case ClipKind::image: {
            const QVariant thumbnail = index.data(ResultsModel::ThumbnailRole);
            if (thumbnail.canConvert<QImage>() && !thumbnail.value<QImage>().isNull()) {
                const QImage image = thumbnail.value<QImage>();
                const QSizeF fitted = QSizeF(image.size()).scaled(body.size(), Qt::KeepAspectRatio);
                drawImage(painter, QRectF(body.topLeft(), fitted), image, 6);
            } else {
                paintGlyph(painter, Glyph::photo, QRectF(body.center() - QPointF(16, 16), QSizeF(32, 32)),
                           colors.tertiary, GlyphWeight::light);
            }
            break;
        }
        case ClipKind::color: {
            const QFontMetricsF metrics(m_monoFont);
            const qreal swatchHeight = std::max<qreal>(0, body.height() - metrics.height() - 6);
            const QRectF swatch(body.left() + 0.5, body.top() + 0.5, body.width() - 1, swatchHeight - 1);
            painter.setPen(QPen(faded(colors.primary, 0.12), 1));
            painter.setBrush(swatchColor(item.contentText).value_or(colors.grey));
            painter.drawRoundedRect(swatch, 6, 6);
            const QString code = item.displayText().value_or(QString()).toUpper();
            painter.setFont(m_monoFont);
            painter.setPen(colors.primary);
            painter.drawText(QPointF(body.left(), body.top() + swatchHeight + 6 + metrics.ascent()),
                             metrics.elidedText(code, Qt::ElideRight, body.width()));
            break;
        }
        case ClipKind::text:
        case ClipKind::link: {
            const QList<CardLine> lines = bigCardLines(card, item.displayText().value_or(QString()));
            paintLines(painter, lines, m_bodyFont, body, faded(colors.primary, 0.88));
            break;
        }
    }
}

void CardDelegate::paintRow(QPainter& painter, const QRectF& card, const ClipItem& item, const QModelIndex& index,
                            const QPalette& palette) const
{
    const PanelColors colors = PanelColors::from(palette);
    const ClipKind kind = item.kind();
    const QColor tint = kindTint(kind, palette);

    // Leading tile.
    const QRectF tile(card.left() + 10, card.center().y() - rowTile / 2, rowTile, rowTile);
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile, 8, 8);
    painter.fillPath(tilePath, faded(tint, 0.12));
    const QVariant thumbnail = kind == ClipKind::image ? index.data(ResultsModel::ThumbnailRole) : QVariant();
    if (thumbnail.canConvert<QImage>() && !thumbnail.value<QImage>().isNull()) {
        const QImage image = thumbnail.value<QImage>();
        painter.save();
        painter.setClipPath(tilePath, Qt::IntersectClip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(tile, image, croppedSource(image.size(), tile.size()));
        painter.restore();
    } else {
        paintGlyph(painter, kindStyle(kind).glyph, QRectF(tile.center() - QPointF(8, 8), QSizeF(16, 16)), tint,
                   GlyphWeight::semibold);
    }

    const RowColumn column = rowColumn(card, item);
    const qreal left = column.left;
    const qreal width = column.width;
    qreal y = column.top;
    paintMiniChip(painter, QPointF(left, y + column.chipHeight / 2), kind,
                  m_settings.localized(kindStyle(kind).labelKey), m_miniChipFont, palette);
    paintSourceIcon(painter, QRectF(left + width - 14, y + column.chipHeight / 2 - 7, 14, 14), item);
    y += column.chipHeight + 4;
    paintLines(painter, column.title, m_bodyFont, QRectF(left, y, width, column.titleHeight),
               faded(colors.primary, 0.85));
    y += column.titleHeight + 4;
    paintMetaLine(painter, QRectF(left, y, width, column.metaHeight), item, m_metaFont, palette);
}

CardDelegate::RowColumn CardDelegate::rowColumn(const QRectF& card, const ClipItem& item) const
{
    // Right of the leading tile: badge and icon, title, meta line, centred as a block.
    RowColumn column;
    column.left = card.left() + 10 + rowTile + 10;
    column.width = card.right() - 10 - column.left;
    column.title = wrappedLines(
        rowTitle(item, m_settings.locale(), [this](const QString& key) { return m_settings.localized(key); }),
        m_bodyFont, column.width, rowTitleLines);
    column.chipHeight = std::max<qreal>(miniChipHeight(m_miniChipFont), 14);
    column.titleHeight = std::max<qsizetype>(column.title.size(), 1) * QFontMetricsF(m_bodyFont).lineSpacing();
    column.metaHeight = QFontMetricsF(m_metaFont).height();
    const qreal height = column.chipHeight + 4 + column.titleHeight + 4 + column.metaHeight;
    column.top = card.center().y() - height / 2;
    return column;
}

bool CardDelegate::setPointerCard(std::optional<QUuid> id, bool onPinControl)
{
    onPinControl = onPinControl && id.has_value();
    if (id == m_pointerCard && onPinControl == m_pointerOnPin)
        return false;
    m_pointerCard = id;
    m_pointerOnPin = onPinControl;
    return true;
}

bool CardDelegate::hasSourceIcon(const ClipItem& item) const
{
    const std::optional<QIcon> icon = m_icons.appIcon(item.sourceAppId);
    return icon && !icon->isNull();
}

QRectF CardDelegate::pinRect(const QRectF& card, const ClipItem& item) const
{
    if (m_layout == CardLayout::bigCard) {
        constexpr qreal side = 20;
        const qreal centre = card.top() + 10 + bigCardHeaderHeight() / 2;
        const qreal right = hasSourceIcon(item) ? card.right() - 12 - 18 - 3 : card.right() - 9;
        return QRectF(right - side, centre - side / 2, side, side);
    }
    constexpr qreal side = 18;
    const RowColumn column = rowColumn(card, item);
    const qreal centre = column.top + column.chipHeight / 2;
    const qreal end = column.left + column.width;
    const qreal right = hasSourceIcon(item) ? end - 14 - 3 : end + 2;
    return QRectF(right - side, centre - side / 2, side, side);
}

QRectF CardDelegate::pinControlRect(const QRect& cell, const ClipItem& item, bool highlighted) const
{
    if (!m_pinnable)
        return {};
    const QRectF card = cardRect(cell);
    const QRectF pin = pinRect(card, item);
    const qreal scale = cardScale(m_layout, highlighted, m_hoverProgress.value(item.id, 0.0));
    if (scale == 1.0)
        return pin;
    // As painted: grown about the card's centre.
    QTransform grown;
    grown.translate(card.center().x(), card.center().y());
    grown.scale(scale, scale);
    grown.translate(-card.center().x(), -card.center().y());
    return grown.mapRect(pin);
}

QString CardDelegate::pinToolTip(bool pinned) const
{
    return m_settings.localized(pinned ? QStringLiteral("取消固定 (Ctrl+P)") : QStringLiteral("固定 (Ctrl+P)"));
}

void CardDelegate::paintPin(QPainter& painter, const QRectF& card, const ClipItem& item, bool highlighted,
                            const QPalette& palette) const
{
    const bool control = m_pinnable && (highlighted || m_pointerCard == item.id);
    if (!control && !item.pinned)
        return;
    const PanelColors colors = PanelColors::from(palette);
    const QRectF slot = pinRect(card, item);
    const bool pointed = control && m_pointerOnPin && m_pointerCard == item.id;
    if (control) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(faded(colors.primary, pointed ? 0.16 : 0.08));
        painter.drawEllipse(slot);
    }
    // The mark is the pin in the pinned colour; the control of an unpinned card is the same pin, faint.
    const QColor color = item.pinned ? pinnedStyle().tint : pointed ? faded(colors.primary, 0.8) : colors.secondary;
    const qreal glyph = std::round(slot.width() * 0.62);
    paintGlyph(painter, Glyph::pin, QRectF(slot.center() - QPointF(glyph / 2, glyph / 2), QSizeF(glyph, glyph)), color,
               GlyphWeight::semibold);
}

void CardDelegate::paintMetaLine(QPainter& painter, const QRectF& box, const ClipItem& item, const QFont& font,
                                 const QPalette& palette) const
{
    const PanelColors colors = PanelColors::from(palette);
    const QLocale locale = m_settings.locale();
    const QString age = ageText(item.createdAt, m_clock.now(), locale);
    const QString size = sizeText(item.byteSize, locale);
    const QFontMetricsF metrics(font);
    const QString dot = QStringLiteral("·");
    const qreal gap = 4;

    painter.setFont(font);
    qreal x = box.left();
    const qreal baseline = box.center().y() - metrics.height() / 2 + metrics.ascent();
    const qreal dotWidth = metrics.horizontalAdvance(dot);
    const qreal sizeWidth = metrics.horizontalAdvance(size);
    // The age gives way first when the line is too narrow.
    const qreal ageRoom = std::max<qreal>(0, box.width() - 2 * gap - dotWidth - sizeWidth);
    const QString shownAge = metrics.elidedText(age, Qt::ElideRight, ageRoom);
    painter.setPen(colors.secondary);
    painter.drawText(QPointF(x, baseline), shownAge);
    x += metrics.horizontalAdvance(shownAge) + gap;
    painter.setPen(colors.tertiary);
    painter.drawText(QPointF(x, baseline), dot);
    x += dotWidth + gap;
    painter.setPen(colors.secondary);
    painter.drawText(QPointF(x, baseline), metrics.elidedText(size, Qt::ElideRight, box.right() - x));
}

void CardDelegate::paintSourceIcon(QPainter& painter, const QRectF& box, const ClipItem& item) const
{
    const std::optional<QIcon> icon = m_icons.appIcon(item.sourceAppId);
    if (!icon || icon->isNull())
        return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap pixmap = icon->pixmap(box.size().toSize(), ratio);
    if (pixmap.isNull())
        return;
    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(box, box.width() * 0.22, box.height() * 0.22);
    painter.setClipPath(clip, Qt::IntersectClip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(box, pixmap, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
    painter.restore();
}

}  // namespace nimbrel
