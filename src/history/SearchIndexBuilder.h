#pragma once

#include "platform/Result.h"

#include <QObject>
#include <QString>

#include <atomic>
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
    // Whether the last step failed because another connection held the store.
    bool wasBusy() const { return m_busy; }

private:
    explicit SearchIndexBuilder(sqlite3* db) : m_db(db) {}
    Result<Step> indexBatch(int records);

    sqlite3* m_db;
    bool m_busy = false;
};

// Runs a SearchIndexBuilder to the end on a thread of its own and reports on the thread that made it.
// Destroying it stops the build after the batch that is running.
class SearchIndexBuild final : public QObject {
    Q_OBJECT
public:
    // `pending`: how many records the build has to index, for the progress figures.
    SearchIndexBuild(QString storeName, qint64 pending, QObject* parent = nullptr);
    ~SearchIndexBuild() override;

    void start();
    bool isRunning() const;

Q_SIGNALS:
    // About every tenth of the way.
    void progressed(qint64 indexed, qint64 pending);
    // complete: every record is in the index; otherwise `error` says why the build stopped.
    void finished(bool complete, const QString& error);

private:
    void run();

    QString m_storeName;
    qint64 m_pending;
    std::atomic<bool> m_stop = false;
    QThread* m_thread = nullptr;
};

}  // namespace nimbrel
