#include "panel/ResultsModel.h"

#include "history/HistoryStore.h"
#include "history/Thumbnail.h"

#include <algorithm>

namespace nimbrel {

ResultsModel::ResultsModel(HistoryStore& store, ThumbnailCache& thumbnails, QObject* parent)
    : QAbstractListModel(parent), m_store(store), m_thumbnails(thumbnails)
{
    connect(&m_store, &HistoryStore::changed, this, &ResultsModel::refresh);
    refresh();
}

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
    if (queryChanged)
        refresh();
    setKeyboardIndex(0);
}

void ResultsModel::setKind(std::optional<ClipKind> kind)
{
    if (kind == m_kind)
        return;
    m_kind = kind;
    refresh();
    setKeyboardIndex(0);
}

void ResultsModel::setPresentToken(qint64 token)
{
    if (token == m_presentToken)
        return;
    m_presentToken = token;
    setKeyboardIndex(0);
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
    if (const std::optional<ClipItem> chosen = selectedItem())
        Q_EMIT selected(*chosen);
}

void ResultsModel::onDelete()
{
    const std::optional<ClipItem> doomed = selectedItem();
    if (!doomed)
        return;
    // Failures are absorbed: a record that could not be removed simply stays in the list.
    if (m_store.remove(doomed->id))
        (void)m_store.save();
    // A save that wrote something has run the query already; this covers a save that did not.
    refresh();
    if (m_keyboardIndex >= m_items.size())
        setKeyboardIndex(m_items.isEmpty() ? 0 : static_cast<int>(m_items.size()) - 1);
}

void ResultsModel::refresh()
{
    FetchDescriptor descriptor;
    descriptor.sortByCreatedAt = SortOrder::descending;
    descriptor.limit = maximumResults;
    descriptor.kind = m_kind;
    descriptor.search = trimmedWhitespaceAndNewlines(m_searchText);
    Result<QList<ClipItem>> fetched = m_store.fetch(descriptor);
    // A failed query keeps what is shown; the next save runs it again.
    if (!fetched)
        return;
    QList<ClipItem> items = std::move(fetched).value();

    const bool sameRows =
        items.size() == m_items.size() && std::equal(items.cbegin(), items.cend(), m_items.cbegin(),
                                                     [](const ClipItem& a, const ClipItem& b) { return a.id == b.id; });
    if (sameRows)
        return;
    beginResetModel();
    m_items = std::move(items);
    endResetModel();
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
