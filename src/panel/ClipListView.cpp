#include "panel/ClipListView.h"

#include "panel/CardDelegate.h"
#include "panel/ClipResultsView.h"
#include "panel/KindStyle.h"
#include "panel/PanelHeader.h"
#include "panel/ResultsModel.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace nimbrel {

namespace {

constexpr qreal panelRadius = 18;

// A hairline separator, `opacity` of the label colour.
class Divider final : public QWidget {
public:
    Divider(Qt::Orientation orientation, qreal opacity, QWidget* parent) : QWidget(parent), m_opacity(opacity)
    {
        if (orientation == Qt::Horizontal)
            setFixedHeight(1);
        else
            setFixedSize(1, 18);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), faded(PanelColors::from(palette()).primary, m_opacity));
    }

private:
    qreal m_opacity;
};

// The filter chips of a side panel: each at the size its label needs, in rows that wrap where the next
// chip would not fit, so a narrow column still shows every chip whole.
class WrappingRow final : public QLayout {
public:
    WrappingRow(QWidget* parent, int spacing) : QLayout(parent)
    {
        setContentsMargins(0, 0, 0, 0);
        setSpacing(spacing);
    }
    ~WrappingRow() override
    {
        while (QLayoutItem* item = WrappingRow::takeAt(0))
            delete item;
    }

    void addItem(QLayoutItem* item) override { m_items.append(item); }
    int count() const override { return static_cast<int>(m_items.size()); }
    QLayoutItem* itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem* takeAt(int index) override
    {
        return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
    }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }

    // All chips in one row.
    QSize sizeHint() const override
    {
        QSize size;
        for (const QLayoutItem* item : m_items) {
            const QSize chip = item->sizeHint();
            size = QSize(size.width() + (size.width() > 0 ? spacing() : 0) + chip.width(),
                         std::max(size.height(), chip.height()));
        }
        return size;
    }
    // One chip a row.
    QSize minimumSize() const override
    {
        QSize size;
        for (const QLayoutItem* item : m_items)
            size = size.expandedTo(item->sizeHint());
        return size;
    }
    void setGeometry(const QRect& rect) override
    {
        QLayout::setGeometry(rect);
        arrange(rect, true);
    }

private:
    // Places the chips in `rect` (when `place`), left-aligned, and returns the height they take.
    int arrange(const QRect& rect, bool place) const
    {
        int x = rect.x();
        int y = rect.y();
        int rowHeight = 0;
        for (QLayoutItem* item : m_items) {
            const QSize chip = item->sizeHint();
            if (x > rect.x() && x + chip.width() > rect.x() + rect.width()) {
                x = rect.x();
                y += rowHeight + spacing();
                rowHeight = 0;
            }
            if (place)
                item->setGeometry(QRect(QPoint(x, y), chip));
            x += chip.width() + spacing();
            rowHeight = std::max(rowHeight, chip.height());
        }
        return y + rowHeight - rect.y();
    }

    QList<QLayoutItem*> m_items;
};

}  // namespace

ClipListView::ClipListView(HistoryStore& store, SettingsStore& settings, ThumbnailCache& thumbnails,
                           AppIconCache& icons, const Clock& clock, PanelMode mode, QWidget* parent)
    : QWidget(parent),
      m_mode(mode),
      m_settings(settings),
      m_model(new ResultsModel(store, thumbnails, this)),
      m_delegate(new CardDelegate(mode == PanelMode::bottom ? CardLayout::bigCard : CardLayout::row, settings, icons,
                                  clock, this)),
      m_results(new ClipResultsView(mode, *m_model, *m_delegate, store, this)),
      m_search(new SearchField(this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    // Tab moves the focus out of the search field, after which Return chooses.
    setFocusPolicy(Qt::TabFocus);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(shadowMargins());
    column->setSpacing(0);
    column->addWidget(makeHeader());
    column->addWidget(new Divider(Qt::Horizontal, 0.15, this));
    column->addWidget(m_results, 1);

    connect(searchEdit(), &QLineEdit::textChanged, this, [this](const QString& text) {
        m_model->setSearchText(text);
        updateEmptyText();
        // A new query starts at its newest match, wherever the list had been scrolled to.
        m_results->centreOn(m_model->keyboardIndex(), false);
    });
    connect(m_model, &ResultsModel::keyboardIndexChanged, m_results, [this](int row) { m_results->centreOn(row); });
    connect(m_model, &ResultsModel::selected, this, &ClipListView::selected);
    connect(m_results, &ClipResultsView::cardTapped, this, &ClipListView::selected);
    connect(m_results, &ClipResultsView::pinTapped, m_model, &ResultsModel::togglePin);
    connect(m_results, &ClipResultsView::imageHover, this, &ClipListView::imageHover);
    connect(&m_settings, &SettingsStore::languageChanged, this, &ClipListView::retranslate);

    retranslate();
    qApp->installEventFilter(this);
}

ClipListView::~ClipListView() = default;

QMargins ClipListView::shadowMargins()
{
    // The panel sits on the bottom edge or beside the screen's edges, so the shadow falls mostly downwards
    // and the margins stay small enough to leave the cards their room.
    return QMargins(8, 4, 8, 10);
}

QWidget* ClipListView::makeHeader()
{
    auto* header = new QWidget(this);
    auto* chipRow = new QWidget(header);
    constexpr int chipSpacing = 6;
    QLayout* chips = nullptr;
    if (m_mode == PanelMode::bottom) {
        chips = new QHBoxLayout(chipRow);
        chips->setContentsMargins(0, 0, 0, 0);
        chips->setSpacing(chipSpacing);
    } else {
        chips = new WrappingRow(chipRow, chipSpacing);
    }
    // The pinned records are one more choice in the same row rather than a second filter over a kind: one
    // lit chip then says all there is about what is listed, and the few pinned records need no kind.
    QList<ListFilter> filters;
    for (const KindStyle& style : kindStyles())
        filters.append({style.kind});
    filters.append(ListFilter::pinned());
    for (const ListFilter& filter : std::as_const(filters)) {
        auto* chip = new FilterChip(filter, chipRow);
        chip->setChecked(filter == ListFilter());
        connect(chip, &QAbstractButton::clicked, this, [this, filter] { selectFilter(filter); });
        chips->addWidget(chip);
        m_chips.append(chip);
    }

    if (m_mode == PanelMode::bottom) {
        auto* row = new QHBoxLayout(header);
        row->setContentsMargins(18, 14, 18, 14);
        row->setSpacing(8);
        m_search->setMaximumWidth(280);
        m_search->setMinimumWidth(160);
        row->addWidget(m_search, 1);
        row->addWidget(new Divider(Qt::Vertical, 0.35, header), 0, Qt::AlignVCenter);
        row->addWidget(chipRow, 0, Qt::AlignVCenter);
        row->addStretch(1);
    } else {
        auto* stack = new QVBoxLayout(header);
        stack->setContentsMargins(14, 12, 14, 10);
        stack->setSpacing(10);
        stack->addWidget(m_search);
        stack->addWidget(chipRow);
    }
    return header;
}

QLineEdit* ClipListView::searchEdit() const
{
    return m_search->lineEdit();
}

void ClipListView::present(qint64 presentToken)
{
    const bool first = !m_presented;
    if (!first && presentToken == m_model->presentToken())
        return;
    m_presented = true;
    searchEdit()->clear();
    selectKind(std::nullopt);
    m_model->setPresentToken(presentToken);
    // Every showing starts at the newest record, wherever the strip was left.
    m_results->centreOn(0, false);
    // The first showing too: the panel holds the keyboard, so typing must land in the search field.
    searchEdit()->setFocus(Qt::OtherFocusReason);
}

void ClipListView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_model->setActive(true);
}

void ClipListView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_model->setActive(false);
}

bool ClipListView::isSearchFocused() const
{
    return window()->focusWidget() == searchEdit();
}

std::optional<ClipKind> ClipListView::selectedKind() const
{
    return m_model->kind();
}

const ListFilter& ClipListView::selectedFilter() const
{
    return m_model->filter();
}

void ClipListView::selectKind(std::optional<ClipKind> kind)
{
    selectFilter({kind});
}

void ClipListView::selectFilter(const ListFilter& filter)
{
    for (FilterChip* chip : std::as_const(m_chips))
        chip->setChecked(chip->filter() == filter);
    m_model->setFilter(filter);
    updateEmptyText();
    m_results->centreOn(m_model->keyboardIndex(), false);
}

void ClipListView::setPinner(std::function<void(const QUuid&, bool pinned)> pinner)
{
    m_delegate->setPinnable(static_cast<bool>(pinner));
    m_model->setPinner(std::move(pinner));
    m_results->viewport()->update();
}

bool ClipListView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    // Only keys typed into this panel act on it; the window object itself passes them on to the focus
    // widget, where they are seen.
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !isVisible() || widget->window() != window())
        return false;
    return handleKey(static_cast<QKeyEvent*>(event));
}

bool ClipListView::handleKey(QKeyEvent* event)
{
    if (event->key() == Qt::Key_P && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
        if (!m_model->canPin())
            return false;
        m_model->onTogglePin();
        return true;
    }
    // Ctrl+Z brings back the record deleted last in this showing; with none to bring back it is the search
    // field's own undo of the typing.
    if (event->matches(QKeySequence::Undo))
        return m_model->onUndo();
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            m_model->setSearchFocused(isSearchFocused());
            m_model->onEnter();
            return true;
        case Qt::Key_Backspace:
            // Without Ctrl, Backspace edits the search text; with Ctrl it deletes the word before the cursor
            // there, as in every text field, while the field holds text. Only on an empty field or in the
            // list does Ctrl+Backspace delete the highlighted record.
            if (!event->modifiers().testFlag(Qt::ControlModifier) ||
                (isSearchFocused() && !searchEdit()->text().isEmpty()))
                return false;
            m_model->onDelete();
            return true;
        case Qt::Key_Up:
        case Qt::Key_Left:
            m_model->onArrow(-1);
            return true;
        case Qt::Key_Down:
        case Qt::Key_Right:
            m_model->onArrow(+1);
            return true;
        default:
            return false;
    }
}

void ClipListView::retranslate()
{
    m_search->setPlaceholder(m_settings.localized(QStringLiteral("搜索")));
    for (FilterChip* chip : std::as_const(m_chips)) {
        chip->setText(m_settings.localized(filterStyle(chip->filter()).labelKey));
        chip->updateGeometry();
    }
    updateEmptyText();
    // Badges, row titles and ages are localized too.
    m_results->viewport()->update();
}

void ClipListView::updateEmptyText()
{
    // The untrimmed text decides: a search of blanks still reads as a search.
    QString key = QStringLiteral("未找到匹配项");
    if (searchEdit()->text().isEmpty())
        key = m_model->filter().pinnedOnly ? QStringLiteral("暂无固定的条目") : QStringLiteral("暂无剪切板历史");
    m_results->setEmptyText(m_settings.localized(key));
}

void ClipListView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const PanelColors colors = PanelColors::from(palette());
    const QRectF panel = QRectF(rect()).marginsRemoved(QMarginsF(shadowMargins()));

    // A soft shadow, mostly below the panel: rings fading outwards, each a little lower.
    const QMarginsF room(shadowMargins());
    const int rings = 8;
    for (int ring = rings; ring >= 1; --ring) {
        const qreal spread = ring * std::min(room.left(), room.bottom()) / rings;
        const qreal drop = ring * 0.5;
        QColor shade = colors.grey;
        shade.setAlphaF(static_cast<float>(0.18 * 0.35 * (1.0 - qreal(ring - 1) / rings)));
        painter.setPen(Qt::NoPen);
        painter.setBrush(shade);
        const QRectF ringRect = panel.adjusted(-spread, -spread * 0.4 + drop, spread, spread + drop);
        painter.drawRoundedRect(ringRect, panelRadius + spread, panelRadius + spread);
    }

    QPainterPath outline;
    outline.addRoundedRect(panel, panelRadius, panelRadius);
    QColor fill = palette().color(QPalette::Active, QPalette::Window);
    fill.setAlphaF(0.94f);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillPath(outline, fill);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(QPen(faded(colors.grey, 0.46), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), panelRadius - 0.5, panelRadius - 0.5);
}

}  // namespace nimbrel
