#pragma once

#include "platform/Result.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

struct sqlite3;

class QThread;

namespace nimbrel {

class SqliteStatement;

// Puts the records that a store of the version before held into the search index, newest first, a batch
// per transaction through a connection of its own; each batch moves search_state.indexedAbove with it,
// so a build cut short (even by kill -9) resumes where its last batch ended.
class SearchIndexBuilder final {
public:
    struct Step {
        qint64 indexed = 0;
        bool complete = false;
    };

    ~SearchIndexBuilder();
    SearchIndexBuilder(const SearchIndexBuilder&) = delete;
    SearchIndexBuilder& operator=(const SearchIndexBuilder&) = delete;

    static Result<std::unique_ptr<SearchIndexBuilder>> open(const QString& storeName);
    // Indexes up to `records` more records in one transaction.
    Result<Step> step(int records);
    // Takes up to `records` deleted records' entries out of the index in one transaction; complete when
    // none are left.
    Result<Step> purge(int records);
    // Whether the last step failed because another connection held the store.
    bool wasBusy() const { return m_busy; }
    sqlite3* handle() const { return m_db; }

private:
    explicit SearchIndexBuilder(sqlite3* db) : m_db(db) {}
    Result<Step> inTransaction(const std::function<Result<Step>()>& batch);
    Result<Step> indexBatch(int records);
    Result<Step> purgeBatch(int records);

    sqlite3* m_db;
    bool m_busy = false;
};

// Keeps a store's search index up to date in the background, on a thread and connection of its own:
// first builds it for the records of an upgraded store and rewrites a store made before incremental
// vacuum once, then takes deleted records out of the index whenever told that the store changed. Reports on the thread
// that made it. Destroying it stops the work after the batch that is running; whatever is left is taken up at the next
// start.
class SearchIndexMaintenance final : public QObject {
    Q_OBJECT
public:
    // `pending`: how many records the build has to index, for the progress figures.
    SearchIndexMaintenance(QString storeName, qint64 pending, QObject* parent = nullptr);
    ~SearchIndexMaintenance() override;

    void start();
    // Records may have been deleted: their entries are taken out of the index.
    void storeChanged();
    // Nothing is queued or running.
    bool isIdle() const { return m_queued == 0; }

Q_SIGNALS:
    // About every tenth of the build.
    void progressed(qint64 indexed, qint64 pending);
    // complete: every record is in the index; otherwise `error` says why the build stopped.
    void buildFinished(bool complete, const QString& error);
    // Deleted records' entries could not be taken out now; they are tried again at the next change.
    void purgeFailed(const QString& error);
    // A store made before incremental vacuum was rewritten once (converted), or could not be (error).
    void storeRewritten(bool converted, const QString& error);

private:
    class Worker;

    QThread* m_thread;
    Worker* m_worker;
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_queued = 0;
    std::atomic<bool> m_purgeQueued = false;
};

}  // namespace nimbrel
