#pragma once

#include "history/ClipItem.h"
#include "panel/KindStyle.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace nimbrel {

class HistoryStore;
class SearchService;
class ThumbnailCache;

// The records the panel lists: the newest matches (at most 200) of the search text and the filter,
// and the keyboard selection over them. Queries run on a search worker, typing is debounced, and the
// list keeps its rows until the answer to the newest query arrives. While inactive (the panel hidden)
// nothing is queried; a store change or a new query then waits for the next activation. Main thread only.
class ResultsModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int maximumResults = 200;
    // Typing queries this long after the last key.
    static constexpr int debounceMs = 30;
    // The work one query may take per keystroke (see SearchLimits::workBudget); the rest waits for a
    // longer query or the next change.
    static constexpr std::chrono::milliseconds workBudget{100};

    enum Role {
        // The record (ClipItem) without its image bytes.
        ItemRole = Qt::UserRole + 1,
        // Whether the row is the keyboard selection.
        HighlightedRole,
        // The decoded thumbnail of an image record (QImage), or no value.
        ThumbnailRole,
    };

    ResultsModel(HistoryStore& store, ThumbnailCache& thumbnails, QObject* parent = nullptr);
    ~ResultsModel() override;

    // Who deletes a record for onDelete: the history's writer thread. Without one the model deletes
    // through its store (tests, and a store without capture).
    void setRemover(std::function<void(const QUuid&)> remover) { m_remover = std::move(remover); }
    // Who pins and unpins a record (the history's writer thread); without one nothing is pinned here.
    void setPinner(std::function<void(const QUuid&, bool pinned)> pinner) { m_pinner = std::move(pinner); }
    bool canPin() const { return static_cast<bool>(m_pinner); }
    // Who brings back the record deleted last; without one a delete cannot be undone here.
    void setUndoer(std::function<void()> undoer) { m_undoer = std::move(undoer); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The text as typed; the query uses it trimmed. A change selects the first row.
    void setSearchText(const QString& text);
    QString searchText() const { return m_searchText; }
    // A change selects the first row.
    void setFilter(const ListFilter& filter);
    const ListFilter& filter() const { return m_filter; }
    // None lists every kind.
    std::optional<ClipKind> kind() const { return m_filter.kind; }
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
    // Pins the selected record, or unpins it when it is pinned. The card changes when the store does.
    void onTogglePin();
    void togglePin(const ClipItem& item);
    // Brings back the record deleted last in this showing, if any is left to bring back; its card is then
    // highlighted when it is listed again. False when there was nothing to undo.
    bool onUndo();
    // A delete was made in this showing and not undone yet.
    bool canUndo() const { return m_undoer && m_removed.has_value(); }

    // Queries while active (the panel shown); an activation runs the query if anything changed meanwhile.
    void setActive(bool active);
    bool isActive() const { return m_active; }
    // Runs the query again now (when active).
    void refresh();
    // Whether a query is waiting for its debounce or its answer.
    bool isQuerying() const { return m_debounce.isActive() || m_awaited != 0; }

Q_SIGNALS:
    void selected(const nimbrel::ClipItem& item);
    void keyboardIndexChanged(int index);
    // The answer to the newest query has arrived and is shown.
    void queryFinished();

private:
    void setKeyboardIndex(int index);
    void show(QList<ClipItem> items);
    void arrived(quint64 ticket, const QList<ClipItem>& items, bool final);
    std::optional<QImage> thumbnail(const ClipItem& item) const;

    HistoryStore& m_store;
    std::function<void(const QUuid&)> m_remover;
    std::function<void(const QUuid&, bool)> m_pinner;
    std::function<void()> m_undoer;
    // The record deleted last in this showing, while it can be brought back.
    std::optional<QUuid> m_removed;
    // The record brought back, to be highlighted when an answer lists it.
    std::optional<QUuid> m_restored;
    ThumbnailCache& m_thumbnails;
    std::unique_ptr<SearchService> m_search;
    QTimer m_debounce;
    // Return came while a query was on its way: the choice waits for its answer.
    bool m_chooseWhenAnswered = false;
    bool m_active = false;
    // A query was asked for while inactive.
    bool m_stale = true;
    // The ticket of the query whose answer is awaited (0: none).
    quint64 m_awaited = 0;
    // The awaited answer is to a new query (text, kind or presentation): it starts at its first row.
    bool m_startAtTop = false;
    QString m_searchText;
    ListFilter m_filter;
    qint64 m_presentToken = 0;
    bool m_searchFocused = false;
    QList<ClipItem> m_items;
    int m_keyboardIndex = 0;
    // Records known to have no displayable thumbnail, so the store is not asked again on every paint.
    mutable QSet<QUuid> m_withoutThumbnail;
};

}  // namespace nimbrel
