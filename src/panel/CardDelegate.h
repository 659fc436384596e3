#pragma once

#include "history/ClipItem.h"

#include <QFont>
#include <QHash>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QUuid>

#include <optional>

namespace nimbrel {

class AppIconCache;
class Clock;
class SettingsStore;

// The two card arrangements: large cards side by side (bottom placement), compact rows stacked
// (side placements).
enum class CardLayout { bigCard, row };

// One line of a card's text, with the direction of the paragraph it belongs to (right to left for a
// paragraph whose first strong letter is Hebrew, Arabic, …).
struct CardLine {
    QString text;
    Qt::LayoutDirection direction = Qt::LeftToRight;
};

// The lines `text` takes at `width`, at most `maxLines`. Line breaks in the text are kept, and each
// paragraph wraps on its own, in its own direction: at word boundaries, and inside a word only where the
// word is wider than the line. When more text follows the last line, that line shows as much of its own
// paragraph as fits and ends in an ellipsis; later paragraphs are never joined onto it.
QList<CardLine> wrappedLines(const QString& text, const QFont& font, qreal width, int maxLines);

// Paints the results as cards, straight from the model's roles: only the visible cards are ever painted.
// Each model row occupies a cell that holds its card plus half the gap between cards on every side.
class CardDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr QSize bigCardSize{240, 184};
    static constexpr int cardSpacing = 8;
    // How much a hovered big card grows, unless it is the highlighted one.
    static constexpr qreal hoverGrowth = 1.02;
    static constexpr int bigCardTextLines = 6;
    static constexpr int rowTitleLines = 2;

    CardDelegate(CardLayout layout, SettingsStore& settings, AppIconCache& icons, const Clock& clock,
                 QObject* parent = nullptr);

    CardLayout layout() const { return m_layout; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The card within a model row's cell.
    QRectF cardRect(const QRect& cell) const;
    // A big card's body, between its badge and its age line.
    QRectF bigCardBody(const QRectF& card) const;
    // The lines of text a big card shows: as many as its body holds, at most bigCardTextLines.
    QList<CardLine> bigCardLines(const QRectF& card, const QString& text) const;
    const QFont& bodyFont() const { return m_bodyFont; }
    // The height of a row card, which holds two title lines.
    int rowCardHeight() const;

    // How far each card's hover growth has come (0 none, 1 fully grown); cards not listed have none.
    void setHoverProgress(QHash<QUuid, qreal> progress) { m_hoverProgress = std::move(progress); }

    // Whether records can be pinned from the panel: only then do cards have a pin control.
    void setPinnable(bool pinnable) { m_pinnable = pinnable; }
    bool pinnable() const { return m_pinnable; }
    // The card under the pointer, which shows its pin control, and whether the pointer is on that control.
    // True when that changed.
    bool setPointerCard(std::optional<QUuid> id, bool onPinControl);
    // Where a card's pin sits: the mark of a pinned card and, on the highlighted card and the one under
    // the pointer, the control that pins and unpins. In the header, left of the source icon (in its place
    // when there is none); on a row, in the badge's line. `card` as cardRect gives it.
    QRectF pinRect(const QRectF& card, const ClipItem& item) const;
    // The pin control of the card in `cell` as painted (grown with a hovered big card); empty when cards
    // have none.
    QRectF pinControlRect(const QRect& cell, const ClipItem& item, bool highlighted) const;
    // The control's tooltip, in the interface language.
    QString pinToolTip(bool pinned) const;
    // The scale a card is painted at: big cards grow on hover unless highlighted; rows never do.
    static qreal cardScale(CardLayout layout, bool highlighted, qreal hoverProgress);

private:
    qreal bigCardHeaderHeight() const;
    void paintBigCard(QPainter& painter, const QRectF& card, const ClipItem& item, const QModelIndex& index,
                      const QPalette& palette) const;
    void paintRow(QPainter& painter, const QRectF& card, const ClipItem& item, const QModelIndex& index,
                  const QPalette& palette) const;
    // The age, a dot and the size, in one line along the left of `box`, vertically centred.
    void paintMetaLine(QPainter& painter, const QRectF& box, const ClipItem& item, const QFont& font,
                       const QPalette& palette) const;
    // The source application's icon, clipped to a rounded square; nothing when there is none.
    void paintSourceIcon(QPainter& painter, const QRectF& box, const ClipItem& item) const;
    bool hasSourceIcon(const ClipItem& item) const;
    // Where a row card's column goes: its left edge and width, its title lines and the heights of its
    // badge line, title and meta line, and its top (the column is centred in the card).
    struct RowColumn {
        qreal left = 0;
        qreal width = 0;
        QList<CardLine> title;
        qreal chipHeight = 0;
        qreal titleHeight = 0;
        qreal metaHeight = 0;
        qreal top = 0;
    };
    RowColumn rowColumn(const QRectF& card, const ClipItem& item) const;
    // The mark of a pinned card, and the control where the card shows one.
    void paintPin(QPainter& painter, const QRectF& card, const ClipItem& item, bool highlighted,
                  const QPalette& palette) const;

    CardLayout m_layout;
    SettingsStore& m_settings;
    AppIconCache& m_icons;
    const Clock& m_clock;
    QFont m_bodyFont;
    QFont m_monoFont;
    QFont m_footerFont;
    QFont m_metaFont;
    QFont m_chipFont;
    QFont m_miniChipFont;
    QHash<QUuid, qreal> m_hoverProgress;
    bool m_pinnable = false;
    std::optional<QUuid> m_pointerCard;
    bool m_pointerOnPin = false;
};

}  // namespace nimbrel
