#include "panel/ResultsModel.h"

#include "history/HistoryStore.h"
#include "history/SearchService.h"
#include "history/Thumbnail.h"

#include <algorithm>
#include <utility>

namespace nimbrel {

ResultsModel::ResultsModel(HistoryStore& store, ThumbnailCache& thumbnails, QObject* parent)
    : QAbstractListModel(parent),
      m_store(store),
      m_thumbnails(thumbnails),
      m_search(std::make_unique<SearchService>(store.connectionName()))
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(debounceMs);
    connect(&m_debounce, &QTimer::timeout, this, &ResultsModel::refresh);
    connect(&m_store, &HistoryStore::changed, this, &ResultsModel::refresh);
    connect(m_search.get(), &SearchService::partial, this,
            [this](quint64 ticket, const QList<ClipItem>& items) { arrived(ticket, items, false); });
    connect(m_search.get(), &SearchService::finished, this,
            [this](quint64 ticket, const QList<ClipItem>& items, bool) { arrived(ticket, items, true); });
    // A failed query keeps what is shown; the next change runs it again.
    connect(m_search.get(), &SearchService::failed, this, [this](quint64 ticket, const QString&) {
        if (ticket != m_awaited)
            return;
        m_awaited = 0;
        Q_EMIT queryFinished();
    });
}

ResultsModel::~ResultsModel() = default;

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    const ClipItem& record = m_items.at(index.row());
    switch (role) {
        case ItemRole:
            return QVariant::fromValue(record);
        case HighlightedRole:
            return index.row() == m_keyboardIndex;
        case ThumbnailRole:
            if (record.kind() != ClipKind::image)
                return {};
            if (std::optional<QImage> image = thumbnail(record))
                return *image;
            return {};
        case Qt::DisplayRole:
            return record.displayText().value_or(QString());
        default:
            return {};
    }
}

std::optional<QImage> ResultsModel::thumbnail(const ClipItem& record) const
{
    if (std::optional<QImage> cached = m_thumbnails.image(record.id, std::nullopt))
        return cached;
    if (m_withoutThumbnail.contains(record.id))
        return std::nullopt;
    // Fetches leave thumbnails out; read this one only now that a card shows it.
    const Result<std::optional<QByteArray>> data = m_store.thumbnail(record.id);
    std::optional<QImage> image = m_thumbnails.image(record.id, data ? *data : std::nullopt);
    if (!image)
        m_withoutThumbnail.insert(record.id);
    return image;
}

void ResultsModel::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    const bool queryChanged = trimmedWhitespaceAndNewlines(text) != trimmedWhitespaceAndNewlines(m_searchText);
    m_searchText = text;
    if (queryChanged) {
        m_startAtTop = true;
        m_restored.reset();
        if (m_active)
            m_debounce.start();
        else
            m_stale = true;
    }
    setKeyboardIndex(0);
}

void ResultsModel::setFilter(const ListFilter& filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    m_startAtTop = true;
    m_restored.reset();
    refresh();
    setKeyboardIndex(0);
}

void ResultsModel::setPresentToken(qint64 token)
{
    if (token == m_presentToken)
        return;
    m_presentToken = token;
    m_startAtTop = true;
    m_chooseWhenAnswered = false;
    setKeyboardIndex(0);
    // Every showing queries at once (its cleared search does not wait for the typing pause), so that the
    // answer that puts the highlight on the first row is sure to come.
    refresh();
}

std::optional<ClipItem> ResultsModel::item(int row) const
{
    if (row < 0 || row >= m_items.size())
        return std::nullopt;
    return m_items.at(row);
}

std::optional<ClipItem> ResultsModel::selectedItem() const
{
    return item(m_keyboardIndex);
}

void ResultsModel::onArrow(int delta)
{
    if (m_items.isEmpty())
        return;
    setKeyboardIndex(std::clamp(m_keyboardIndex + delta, 0, static_cast<int>(m_items.size()) - 1));
}

void ResultsModel::onEnter()
{
    if (m_searchFocused)
        return;
    // Typed and chosen faster than the search answers: the choice is made among the answer to what was typed,
    // not among the cards still shown from before.
    if (isQuerying()) {
        m_chooseWhenAnswered = true;
        return;
    }
    if (const std::optional<ClipItem> chosen = selectedItem())
        Q_EMIT selected(*chosen);
}

void ResultsModel::onDelete()
{
    const std::optional<ClipItem> doomed = selectedItem();
    if (!doomed)
        return;
    if (m_remover) {
        // The writer tells the store's listeners when it is done, or brings the record back if it fails.
        m_remover(doomed->id);
    } else {
        // A record that could not be removed simply stays in the list; a failed save is ignored.
        if (!m_store.remove(doomed->id))
            return;
        // A save that rolled the deletion back starts no query; this one brings the record back.
        if (!m_store.save())
            refresh();
    }
    m_removed = doomed->id;
    m_restored.reset();
    // The row goes at once; the query the save started brings the next older match.
    beginRemoveRows(QModelIndex(), m_keyboardIndex, m_keyboardIndex);
    m_items.removeAt(m_keyboardIndex);
    endRemoveRows();
    if (m_keyboardIndex >= m_items.size())
        setKeyboardIndex(m_items.isEmpty() ? 0 : static_cast<int>(m_items.size()) - 1);
}

void ResultsModel::onTogglePin()
{
    if (const std::optional<ClipItem> chosen = selectedItem())
        togglePin(*chosen);
}

void ResultsModel::togglePin(const ClipItem& item)
{
    // The writer saves the change and the store announces it: the answer to the query that starts then
    // brings the card with its new state (or without it, under the pinned filter).
    if (m_pinner)
        m_pinner(item.id, !item.pinned);
}

bool ResultsModel::onUndo()
{
    if (!canUndo())
        return false;
    // One step back only: the writer keeps just the record deleted last.
    m_restored = std::exchange(m_removed, std::nullopt);
    m_undoer();
    return true;
}

void ResultsModel::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    // A hidden panel lets go of the deleted record (the coordinator tells the writer).
    m_removed.reset();
    m_restored.reset();
    if (!active)
        m_stale = m_stale || m_debounce.isActive();
    m_debounce.stop();
    if (active && m_stale)
        refresh();
}

void ResultsModel::refresh()
{
    m_debounce.stop();
    if (!m_active) {
        m_stale = true;
        return;
    }
    m_stale = false;
    SearchQuery query;
    query.text = trimmedWhitespaceAndNewlines(m_searchText);
    query.kind = m_filter.kind;
    query.pinnedOnly = m_filter.pinnedOnly;
    query.limit = maximumResults;
    m_awaited = m_search->request(query, workBudget);
}

void ResultsModel::arrived(quint64 ticket, const QList<ClipItem>& items, bool final)
{
    if (ticket != m_awaited)
        return;
    if (final)
        m_awaited = 0;
    show(items);
    if (std::exchange(m_startAtTop, false))
        setKeyboardIndex(0);
    if (m_restored) {
        const auto found = std::find_if(m_items.cbegin(), m_items.cend(),
                                        [&](const ClipItem& item) { return item.id == *m_restored; });
        if (found != m_items.cend()) {
            m_restored.reset();
            setKeyboardIndex(static_cast<int>(found - m_items.cbegin()));
        }
    }
    if (final) {
        Q_EMIT queryFinished();
        if (std::exchange(m_chooseWhenAnswered, false))
            onEnter();
    }
}

void ResultsModel::show(QList<ClipItem> items)
{
    // A record's content never changes, only whether it is pinned: the same ids in the same order are the
    // same rows, repainted where that changed.
    const bool sameRows =
        items.size() == m_items.size() && std::equal(items.cbegin(), items.cend(), m_items.cbegin(),
                                                     [](const ClipItem& a, const ClipItem& b) { return a.id == b.id; });
    if (sameRows) {
        for (int row = 0; row < m_items.size(); ++row) {
            if (m_items[row].pinned == items[row].pinned)
                continue;
            m_items[row].pinned = items[row].pinned;
            Q_EMIT dataChanged(index(row), index(row), {ItemRole});
        }
        return;
    }
    beginResetModel();
    m_items = std::move(items);
    endResetModel();
    // Fewer rows (a record unpinned under the pinned filter, or deleted elsewhere): the highlight stays on
    // a card.
    if (!m_items.isEmpty() && m_keyboardIndex >= m_items.size())
        setKeyboardIndex(static_cast<int>(m_items.size()) - 1);
}

void ResultsModel::setKeyboardIndex(int index)
{
    if (index == m_keyboardIndex)
        return;
    const int previous = m_keyboardIndex;
    m_keyboardIndex = index;
    for (const int row : {previous, index}) {
        if (row >= 0 && row < m_items.size())
            Q_EMIT dataChanged(this->index(row), this->index(row), {HighlightedRole});
    }
    Q_EMIT keyboardIndexChanged(index);
}

}  // namespace nimbrel
