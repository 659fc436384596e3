#pragma once

#include "history/ClipItem.h"

#include <QFont>
#include <QHash>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QUuid>

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
};

}  // namespace nimbrel
