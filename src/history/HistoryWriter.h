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

    // `limitBytes` is the storage budget, asked at every record (set from the UI thread).
    HistoryWriter(std::unique_ptr<HistoryStore> store, const std::atomic<qint64>& limitBytes);
    ~HistoryWriter() override;

    // Both are called on the writer's thread (queued from elsewhere).
    void ingest(const CapturedChange& change);
    void remove(const QUuid& id);
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

private:
    struct Pending {
        std::optional<ClipItem> item;  // a record to store, or
        QUuid removal;                 // a record to delete
    };
    void flush();
    // False when the store was busy and the write must wait; true when done (or failed for good).
    bool write(const Pending& pending);
    bool isDuplicateOfNewest(const ClipItem& item);

    std::unique_ptr<HistoryStore> m_store;
    StorageBudget m_budget;
    QList<Pending> m_pending;
    QTimer m_retry;
    bool m_toldBusy = false;
    // The first pending change is in the store's transaction, waiting for its save.
    bool m_applied = false;
    std::atomic<bool> m_stopping = false;
};

}  // namespace nimbrel
