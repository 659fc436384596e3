#include "panel/ClipResultsView.h"

#include "panel/CardDelegate.h"
#include "panel/ImagePreviewLoader.h"
#include "panel/KindStyle.h"
#include "panel/PanelPlacement.h"
#include "panel/ResultsModel.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

namespace nimbrel {

namespace {

// Pixels per wheel step (a notch scrolls three steps).
constexpr int wheelStep = 24;

}  // namespace

ClipResultsView::ClipResultsView(PanelMode mode, ResultsModel& model, CardDelegate& delegate, HistoryStore& store,
                                 QWidget* parent)
    : QListView(parent),
      m_model(model),
      m_delegate(delegate),
      m_previews(new ImagePreviewLoader(store, this)),
      m_mapsWheel(mode == PanelMode::bottom)
{
    setModel(&m_model);
    setItemDelegate(&m_delegate);
    setViewMode(QListView::ListMode);
    setFlow(mode == PanelMode::bottom ? QListView::LeftToRight : QListView::TopToBottom);
    setWrapping(false);
    setUniformItemSizes(true);
    setResizeMode(QListView::Adjust);
    setLayoutMode(QListView::SinglePass);
    // The delegate keeps half the gap around each card, so cells touch; the margins make up the rest
    // of the padding at the ends.
    setSpacing(0);
    const int padding = mode == PanelMode::bottom ? 14 : 10;
    const int margin = padding - CardDelegate::cardSpacing / 2;
    // The strip's cards are centred vertically; the column's are padded at both ends.
    setViewportMargins(margin, mode == PanelMode::bottom ? 0 : margin, margin, mode == PanelMode::bottom ? 0 : margin);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalScrollBar()->setSingleStep(wheelStep);
    verticalScrollBar()->setSingleStep(wheelStep);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setFrameShape(QFrame::NoFrame);
    // The keys are the panel's (arrows, Return, Delete); the list never takes the focus from the field.
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);

    m_hoverTimer.setSingleShot(true);
    connect(&m_hoverTimer, &QTimer::timeout, this, &ClipResultsView::previewTimedOut);
    connect(m_previews, &ImagePreviewLoader::loaded, this, &ClipResultsView::previewLoaded);

    m_growth.setStartValue(0.0);
    m_growth.setEndValue(1.0);
    m_growth.setDuration(120);
    m_growth.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_growth, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { animateGrowth(value.toReal()); });

    // Cards that went away (filtered, deleted, rebuilt) may have been under the pointer.
    const auto cardsChanged = [this] {
        executeDelayedItemsLayout();
        updateHover();
        viewport()->update();
    };
    connect(&m_model, &QAbstractItemModel::modelReset, this, cardsChanged);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, cardsChanged);
}

ClipResultsView::~ClipResultsView() = default;

void ClipResultsView::setEmptyText(const QString& text)
{
    if (text == m_emptyText)
        return;
    m_emptyText = text;
    if (m_model.rowCount() == 0)
        viewport()->update();
}

QModelIndex ClipResultsView::cardAt(const QPoint& viewportPoint) const
{
    const QModelIndex index = indexAt(viewportPoint);
    if (!index.isValid())
        return {};
    // The gaps between cards belong to no card.
    return m_delegate.cardRect(visualRect(index)).contains(viewportPoint) ? index : QModelIndex();
}

bool ClipResultsView::isOnPinControl(const QModelIndex& index, const QPoint& viewportPoint) const
{
    const std::optional<ClipItem> item = m_model.item(index.row());
    if (!item)
        return false;
    const QRectF control = m_delegate.pinControlRect(visualRect(index), *item, index.row() == m_model.keyboardIndex());
    // A little room around the small control, so a click at its edge is not taken for one on the card.
    return !control.isEmpty() && control.adjusted(-2, -2, 2, 2).contains(viewportPoint);
}

void ClipResultsView::centreOn(int row, bool animated)
{
    const QModelIndex index = m_model.index(row, 0);
    if (!index.isValid())
        return;
    QScrollBar* bar = flow() == QListView::LeftToRight ? horizontalScrollBar() : verticalScrollBar();
    if (m_scroll)
        m_scroll->stop();
    const int from = bar->value();
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    const int to = bar->value();
    if (from == to || !animated || m_scrollDurationMs <= 0 || !isVisible())
        return;
    bar->setValue(from);
    if (!m_scroll) {
        m_scroll = new QPropertyAnimation(this);
        m_scroll->setPropertyName("value");
        m_scroll->setEasingCurve(QEasingCurve::OutCubic);
    }
    m_scroll->setTargetObject(bar);
    m_scroll->setDuration(m_scrollDurationMs);
    m_scroll->setStartValue(from);
    m_scroll->setEndValue(to);
    m_scroll->start();
}

void ClipResultsView::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    if (m_model.rowCount() > 0)
        return;
    // The empty state: a clipboard symbol over one line of text, centred.
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const PanelColors colors = PanelColors::from(palette());
    QFont font = this->font();
    font.setPixelSize(13);
    const QFontMetricsF metrics(font);
    const qreal symbol = 28;
    const qreal gap = 8;
    const qreal height = symbol + gap + metrics.height();
    const QRectF area(viewport()->rect());
    const qreal top = area.center().y() - height / 2;
    paintGlyph(painter, Glyph::clipboard, QRectF(area.center().x() - symbol / 2, top, symbol, symbol), colors.tertiary,
               GlyphWeight::light);
    painter.setFont(font);
    painter.setPen(colors.secondary);
    painter.drawText(QRectF(area.left(), top + symbol + gap, area.width(), metrics.height()), Qt::AlignCenter,
                     m_emptyText);
}

void ClipResultsView::wheelEvent(QWheelEvent* event)
{
    const bool horizontalMovement = event->angleDelta().x() != 0 || event->pixelDelta().x() != 0;
    const bool verticalMovement = event->angleDelta().y() != 0 || event->pixelDelta().y() != 0;
    if (!m_mapsWheel || horizontalMovement || !verticalMovement) {
        QListView::wheelEvent(event);
        return;
    }
    // A plain vertical wheel moves the strip sideways by the same amount.
    QWheelEvent sideways(event->position(), event->globalPosition(), QPoint(event->pixelDelta().y(), 0),
                         QPoint(event->angleDelta().y(), 0), event->buttons(), event->modifiers(), event->phase(),
                         event->inverted(), event->source());
    QCoreApplication::sendEvent(horizontalScrollBar(), &sideways);
    event->setAccepted(sideways.isAccepted());
}

void ClipResultsView::mousePressEvent(QMouseEvent* event)
{
    // Cards are buttons: no selection, no dragging, no editing.
    const QPoint point = event->position().toPoint();
    m_pressed = event->button() == Qt::LeftButton ? cardAt(point) : QModelIndex();
    m_pressedPin = m_pressed.isValid() && isOnPinControl(m_pressed, point);
    event->accept();
}

void ClipResultsView::mouseReleaseEvent(QMouseEvent* event)
{
    const QModelIndex pressed = std::exchange(m_pressed, QModelIndex());
    const bool pressedPin = std::exchange(m_pressedPin, false);
    event->accept();
    const QPoint point = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !pressed.isValid())
        return;
    if (cardAt(point) != pressed)
        return;
    const std::optional<ClipItem> item = m_model.item(pressed.row());
    if (!item)
        return;
    // A click that began on the pin control never chooses the card, even if it ends beside the control.
    if (pressedPin) {
        if (isOnPinControl(pressed, point))
            Q_EMIT pinTapped(*item);
        return;
    }
    Q_EMIT cardTapped(*item);
}

void ClipResultsView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The first click of the pair already chose the card.
    event->accept();
}

void ClipResultsView::mouseMoveEvent(QMouseEvent* event)
{
    m_pointer = event->position().toPoint();
    updateHover();
    event->accept();
}

bool ClipResultsView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave) {
        m_pointer.reset();
        updateHover();
    }
    if (event->type() == QEvent::ToolTip) {
        // Only the pin control has a tooltip; cards show their content already.
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = cardAt(help->pos());
        const std::optional<ClipItem> item = m_model.item(index.row());
        if (item && isOnPinControl(index, help->pos())) {
            const QRect control =
                m_delegate.pinControlRect(visualRect(index), *item, index.row() == m_model.keyboardIndex())
                    .toAlignedRect();
            QToolTip::showText(help->globalPos(), m_delegate.pinToolTip(item->pinned), viewport(), control);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QListView::viewportEvent(event);
}

void ClipResultsView::scrollContentsBy(int dx, int dy)
{
    QListView::scrollContentsBy(dx, dy);
    // Scrolling moves cards from under a pointer that stays put.
    updateHover();
}

void ClipResultsView::hideEvent(QHideEvent* event)
{
    // A hidden panel wants no preview. The coordinator hides a shown preview with the panel, so nothing
    // is announced here (the panel may be going away with its listeners).
    m_pointer.reset();
    cancelPreview();
    m_hoveredId.reset();
    m_shrinkingId.reset();
    m_growth.stop();
    m_growthProgress = 0;
    m_delegate.setHoverProgress({});
    m_delegate.setPointerCard(std::nullopt, false);
    QListView::hideEvent(event);
}

void ClipResultsView::updateHover()
{
    std::optional<QUuid> id;
    bool onPin = false;
    if (m_pointer) {
        const QModelIndex index = cardAt(*m_pointer);
        if (const std::optional<ClipItem> item = m_model.item(index.row())) {
            id = item->id;
            onPin = isOnPinControl(index, *m_pointer);
        }
    }
    setHovered(id);
    // The card under the pointer shows its pin control, stronger while the pointer is on it.
    if (m_delegate.setPointerCard(id, onPin) && m_delegate.pinnable())
        viewport()->update();
}

void ClipResultsView::setHovered(std::optional<QUuid> id)
{
    if (id == m_hoveredId)
        return;
    const bool leftACard = m_hoveredId.has_value();
    std::optional<ClipItem> entered;
    if (id) {
        const QList<ClipItem>& items = m_model.items();
        const auto found = std::find_if(items.cbegin(), items.cend(), [&](const ClipItem& i) { return i.id == *id; });
        if (found != items.cend())
            entered = *found;
    }

    cancelPreview();
    m_shrinkingId = m_hoveredId;
    m_shrinkFrom = m_growthProgress;
    m_hoveredId = id;
    m_growth.stop();
    m_growthProgress = 0;
    // Only big cards grow.
    if (m_delegate.layout() == CardLayout::bigCard)
        m_growth.start();

    const bool enteredImage = entered && entered->kind() == ClipKind::image;
    // Leaving a card ends its preview; a card without an image wants none.
    if (leftACard || (entered && !enteredImage))
        Q_EMIT imageHover(std::nullopt);
    if (enteredImage)
        m_hoverTimer.start(m_hoverDelayMs);
}

void ClipResultsView::previewTimedOut()
{
    if (!m_hoveredId)
        return;
    const QList<ClipItem>& items = m_model.items();
    const auto found =
        std::find_if(items.cbegin(), items.cend(), [&](const ClipItem& i) { return i.id == *m_hoveredId; });
    if (found == items.cend() || found->kind() != ClipKind::image)
        return;
    // The full image, not the thumbnail, read and decoded on the loader's thread only now that it is wanted,
    // at no more device pixels than the preview window can show on this screen.
    const QSize limit = (QSizeF(previewMaxSize) * devicePixelRatioF()).toSize();
    m_previewRequested = true;
    m_previews->request(*m_hoveredId, limit);
}

void ClipResultsView::previewLoaded(const QUuid& id, const QImage& image)
{
    // The loader drops answers to cancelled requests; this one is for the card the pointer rests on.
    if (!m_previewRequested || m_hoveredId != id)
        return;
    m_previewRequested = false;
    if (!image.isNull())
        Q_EMIT imageHover(image);
}

void ClipResultsView::cancelPreview()
{
    m_hoverTimer.stop();
    m_previewRequested = false;
    m_previews->cancel();
}

void ClipResultsView::animateGrowth(qreal progress)
{
    m_growthProgress = progress;
    QHash<QUuid, qreal> growth;
    if (m_hoveredId)
        growth.insert(*m_hoveredId, progress);
    if (m_shrinkingId && m_shrinkingId != m_hoveredId && m_shrinkFrom * (1 - progress) > 0)
        growth.insert(*m_shrinkingId, m_shrinkFrom * (1 - progress));
    m_delegate.setHoverProgress(std::move(growth));
    viewport()->update();
}

}  // namespace nimbrel
