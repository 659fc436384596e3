#pragma once

#include "history/ClipboardCapture.h"
#include "history/HistoryEdits.h"
#include "history/StorageBudget.h"
#include "platform/Result.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <atomic>
#include <memory>

namespace nimbrel {

class HistoryStore;

// Every write to the history, on a thread of its own and in the order asked: records made of captured
// changes (decoded, de-duplicated, sized, stored, then the budget kept) and the edits asked for (deleting
// a record, pinning it, clearing the history, undoing the last deletion). A store that another process
// holds is tried again in the background; what waits is kept, not dropped.
class HistoryWriter final : public QObject {
    Q_OBJECT
public:
    static constexpr int retryIntervalMs = 500;
    // After a clear, giving the space back waits for readers of the WAL this often, then says so.
    static constexpr int reclaimRetryMs = 1000;
    static constexpr int reclaimAttempts = 5;
    static constexpr int reclaimLaterMs = 30'000;
    // A mouse selection that grows within this time replaces the record its smaller self made.
    static constexpr qint64 selectionGrowthMs = 10'000;

    // `limitBytes` is the storage budget, asked at every record (set from the UI thread).
    HistoryWriter(std::unique_ptr<HistoryStore> store, const std::atomic<qint64>& limitBytes);
    ~HistoryWriter() override;

    // All of these are called on the writer's thread (queued from elsewhere). A reply is called once, on
    // the writer's thread, when the change is made or refused: unknownRecord for an id that is not in the
    // store, failed with the error otherwise.
    void ingest(const CapturedChange& change);
    // Deletes a record. keepForUndo: all of it is kept first (in memory only, and only the last one kept)
    // so that undoRemove can bring it back as it was.
    void remove(const QUuid& id, bool keepForUndo = false, EditReply reply = {});
    void setPinned(const QUuid& id, bool pinned, EditReply reply = {});
    // Deletes every record (every unpinned one, unless `includePinned`) and gives their space back; the
    // reply says how many records and bytes went. Nothing is left to undo after it.
    void clear(bool includePinned, EditReply reply = {});
    // Stores the record the last remove kept, with its id, contents, pin and time; nothing if none is kept.
    void undoRemove();
    // Drops the record kept for undo (a deleted secret must not stay in memory).
    void forgetRemoved();
    // The application that held the clipboard went away: `offerAgain` names the record its contents
    // became, when they became one that is still kept.
    void clipboardOwnerGone();
    // Ends the writer's work: what is queued after this is dropped. Safe from any thread.
    void stopAccepting() { m_stopping = true; }
    bool isStopping() const { return m_stopping; }

    // For tests: how many changes and edits wait for a busy store.
    qsizetype waiting() const { return m_pending.size(); }

Q_SIGNALS:
    // The store holds other records than before (records stored or deleted, by capture or the budget).
    void storeChanged();
    // A change was dealt with: stored, dropped as a repeat or refused; or it waits for a busy store.
    void changeHandled();
    // A deletion asked for could not be made; the record is still there.
    void removeFailed(const QUuid& id);
    // A diagnostic line for the console.
    void diagnostic(const QString& line);
    // The clipboard's contents, this record, were lost with their application; put them back.
    void offerAgain(const QUuid& id);

private:
    struct Operation {
        enum class Kind { insert, remove, setPinned, clear, undoRemove, forgetRemoved };
        Kind kind;
        // insert: the record to store; remove kept for undo: the whole record, once loaded.
        std::optional<ClipItem> item;
        QUuid id;
        // remove: keep for undo; setPinned: pinned; clear: pinned ones too.
        bool flag = false;
        EditReply reply;
        // What became of it, filled as it is made (kept while its save waits for a busy store).
        EditOutcome outcome;
    };
    void enqueue(Operation operation);
    void flush();
    // False when the store was busy and the write must wait; true when done (or failed for good).
    bool write(Operation& operation);
    // Applies the operation to the store's transaction; false when there is nothing to save.
    Result<bool> apply(Operation& operation);
    // What follows a finished operation: its reply, the kept record, the budget, the signals.
    void finish(Operation& operation);
    void reclaimSpace();
    // The newest record (pending ones first) when the item repeats it.
    std::optional<QUuid> repeatedRecord(const ClipItem& item);
    // Whether a mouse selection is the last one grown, so it replaces that one's record.
    bool growsLastSelection(const ClipItem& item, const QDateTime& at) const;

    std::unique_ptr<HistoryStore> m_store;
    StorageBudget m_budget;
    QList<Operation> m_pending;
    QTimer m_retry;
    QTimer m_reclaim;
    int m_reclaimTries = 0;
    // The record the last remove kept for undo.
    std::optional<ClipItem> m_removed;
    bool m_toldBusy = false;
    // The first pending change is in the store's transaction, waiting for its save.
    bool m_applied = false;
    std::atomic<bool> m_stopping = false;
    // The record the clipboard's present contents became; none when they were not recorded (a secret,
    // Nimbrel's own, unanswered, too large) or the record was deleted since.
    std::optional<QUuid> m_clipboardRecord;
    struct SelectionRecord {
        QUuid id;
        QString text;
        QDateTime at;
    };
    std::optional<SelectionRecord> m_lastSelection;
};

}  // namespace nimbrel
