#pragma once

#include "history/ClipItem.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>

#include <optional>

namespace nimbrel {

class HistoryStore;
class ThumbnailCache;

// The records the panel lists: the newest matches (at most 200) of the search text and the kind filter,
// queried again whenever the store saves; and the keyboard selection over them. Main thread only.
class ResultsModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int maximumResults = 200;

    enum Role {
        // The record (ClipItem) without its image bytes.
        ItemRole = Qt::UserRole + 1,
        // Whether the row is the keyboard selection.
        HighlightedRole,
        // The decoded thumbnail of an image record (QImage), or no value.
        ThumbnailRole,
    };

    ResultsModel(HistoryStore& store, ThumbnailCache& thumbnails, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The text as typed; the query uses it trimmed. A change selects the first row.
    void setSearchText(const QString& text);
    QString searchText() const { return m_searchText; }
    // None lists every kind. A change selects the first row.
    void setKind(std::optional<ClipKind> kind);
    std::optional<ClipKind> kind() const { return m_kind; }
    // A new presentation of the panel: a change selects the first row.
    void setPresentToken(qint64 token);
    qint64 presentToken() const { return m_presentToken; }
    // While the search field holds the focus, Return does not choose.
    void setSearchFocused(bool focused) { m_searchFocused = focused; }
    bool searchFocused() const { return m_searchFocused; }

    const QList<ClipItem>& items() const { return m_items; }
    std::optional<ClipItem> item(int row) const;
    int keyboardIndex() const { return m_keyboardIndex; }
    // The record at keyboardIndex, if that is a row.
    std::optional<ClipItem> selectedItem() const;

    // Moves the selection by `delta`, clamped to the rows, without wrapping around.
    void onArrow(int delta);
    // Chooses the selected record (selected), unless the search field has the focus.
    void onEnter();
    // Deletes the selected record from the store and saves (a failed save is ignored), then keeps the
    // selection on a row.
    void onDelete();

    // Runs the query again.
    void refresh();

Q_SIGNALS:
    void selected(const nimbrel::ClipItem& item);
    void keyboardIndexChanged(int index);

private:
    void setKeyboardIndex(int index);
    std::optional<QImage> thumbnail(const ClipItem& item) const;

    HistoryStore& m_store;
    ThumbnailCache& m_thumbnails;
    QString m_searchText;
    std::optional<ClipKind> m_kind;
    qint64 m_presentToken = 0;
    bool m_searchFocused = false;
    QList<ClipItem> m_items;
    int m_keyboardIndex = 0;
    // Records known to have no displayable thumbnail, so the store is not asked again on every paint.
    mutable QSet<QUuid> m_withoutThumbnail;
};

}  // namespace nimbrel
