#pragma once

#include "history/ClipItem.h"
#include "settings/PanelMode.h"

#include <QImage>
#include <QListView>
#include <QTimer>
#include <QUuid>
#include <QVariantAnimation>

#include <optional>

class QPropertyAnimation;

namespace nimbrel {

class CardDelegate;
class HistoryStore;
class ImagePreviewLoader;
class ResultsModel;

// The list of cards: a horizontal strip without scroll bars in the bottom placement (where a plain
// vertical wheel scrolls it sideways), a vertical column in the side placements. A click on a card
// chooses it, one on its pin control (where cards have one) pins or unpins it instead; resting the pointer
// on an image card asks for the large preview.
class ClipResultsView final : public QListView {
    Q_OBJECT
public:
    static constexpr int defaultHoverDelayMs = 1200;

    ClipResultsView(PanelMode mode, ResultsModel& model, CardDelegate& delegate, HistoryStore& store,
                    QWidget* parent = nullptr);
    ~ClipResultsView() override;

    bool mapsVerticalWheelToHorizontal() const { return m_mapsWheel; }
    // The text shown when there are no cards.
    void setEmptyText(const QString& text);
    QString emptyText() const { return m_emptyText; }
    // How long the pointer must rest on an image card before its preview is asked for.
    void setHoverDelay(int milliseconds) { m_hoverDelayMs = milliseconds; }
    // How long scrolling to the selected card takes; 0 jumps.
    void setScrollAnimationDuration(int milliseconds) { m_scrollDurationMs = milliseconds; }

    // The row of the card (not the gap around it) under a point of the viewport.
    QModelIndex cardAt(const QPoint& viewportPoint) const;
    // Whether a point of the viewport is on the pin control of the card of `index`.
    bool isOnPinControl(const QModelIndex& index, const QPoint& viewportPoint) const;
    // The record whose card the pointer is over.
    std::optional<QUuid> hoveredId() const { return m_hoveredId; }
    // The pointer rests on an image card whose preview is not shown yet: the delay runs, or the image is
    // being read and decoded.
    bool isPreviewPending() const { return m_hoverTimer.isActive() || m_previewRequested; }
    const ImagePreviewLoader& previewLoader() const { return *m_previews; }

    // Scrolls so that the card of `row` sits in the middle of the list, gliding there when `animated`.
    void centreOn(int row, bool animated = true);

Q_SIGNALS:
    void cardTapped(const nimbrel::ClipItem& item);
    // The pin control of a card was clicked.
    void pinTapped(const nimbrel::ClipItem& item);
    // A preview of an image record is wanted (an image), or no preview any more (none).
    void imageHover(const std::optional<QImage>& image);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateHover();
    void setHovered(std::optional<QUuid> id);
    void previewTimedOut();
    void previewLoaded(const QUuid& id, const QImage& image);
    void cancelPreview();
    void animateGrowth(qreal progress);

    ResultsModel& m_model;
    CardDelegate& m_delegate;
    ImagePreviewLoader* m_previews;
    bool m_mapsWheel;
    QString m_emptyText;
    int m_hoverDelayMs = defaultHoverDelayMs;
    int m_scrollDurationMs = 120;
    // Where the pointer is over the viewport; none while it is elsewhere.
    std::optional<QPoint> m_pointer;
    std::optional<QUuid> m_hoveredId;
    QTimer m_hoverTimer;
    // The hovered card's image was asked for and has not arrived.
    bool m_previewRequested = false;
    QModelIndex m_pressed;
    // The press was on the pressed card's pin control.
    bool m_pressedPin = false;
    // Hover growth of big cards: the card being entered grows while the one left shrinks back.
    QVariantAnimation m_growth;
    std::optional<QUuid> m_shrinkingId;
    qreal m_shrinkFrom = 0;
    qreal m_growthProgress = 0;
    QPropertyAnimation* m_scroll = nullptr;
};

}  // namespace nimbrel
