#pragma once

#include "history/ClipboardCapture.h"
#include "history/StorageBudget.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <atomic>
#include <memory>

namespace nimbrel {

class HistoryStore;

// Every write to the history, on a thread of its own and in the order asked: records made of captured
// changes (decoded, de-duplicated, sized, stored, then the budget kept) and the panel's deletions. A store
// that another process holds is tried again in the background; what waits is kept, not dropped.
class HistoryWriter final : public QObject {
    Q_OBJECT
public:
    static constexpr int retryIntervalMs = 500;
    // A mouse selection that grows within this time replaces the record its smaller self made.
    static constexpr qint64 selectionGrowthMs = 10'000;

    // `limitBytes` is the storage budget, asked at every record (set from the UI thread).
    HistoryWriter(std::unique_ptr<HistoryStore> store, const std::atomic<qint64>& limitBytes);
    ~HistoryWriter() override;

    // Both are called on the writer's thread (queued from elsewhere).
    void ingest(const CapturedChange& change);
    void remove(const QUuid& id);
    // The application that held the clipboard went away: `offerAgain` names the record its contents
    // became, when they became one that is still kept.
    void clipboardOwnerGone();
    // Ends the writer's work: what is queued after this is dropped. Safe from any thread.
    void stopAccepting() { m_stopping = true; }
    bool isStopping() const { return m_stopping; }

    // For tests: how many changes and deletions wait for a busy store.
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
    struct Pending {
        std::optional<ClipItem> item;  // a record to store, or
        QUuid removal;                 // a record to delete
    };
    void flush();
    // False when the store was busy and the write must wait; true when done (or failed for good).
    bool write(const Pending& pending);
    // The newest record (pending ones first) when the item repeats it.
    std::optional<QUuid> repeatedRecord(const ClipItem& item);
    // Whether a mouse selection is the last one grown, so it replaces that one's record.
    bool growsLastSelection(const ClipItem& item, const QDateTime& at) const;

    std::unique_ptr<HistoryStore> m_store;
    StorageBudget m_budget;
    QList<Pending> m_pending;
    QTimer m_retry;
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
