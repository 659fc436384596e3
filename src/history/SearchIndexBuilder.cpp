#include "history/SearchIndexBuilder.h"

#include "history/HistoryStore.h"
#include "history/SearchFolding.h"
#include "history/SqliteStatement.h"

#include <QHash>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>

#include <chrono>
#include <functional>

namespace nimbrel {

namespace {

// A batch holds the store's write lock; kept short so that a capture waits for it only briefly.
constexpr auto batchTarget = std::chrono::milliseconds(25);
constexpr int firstBatch = 256;
constexpr int largestBatch = 8192;
constexpr int busyRetries = 30;
constexpr int reclaimRetryMs = 2000;
// Counts of records learnt on short texts must not make a batch of long ones hold the lock for long.
constexpr qsizetype batchBytes = 2 * 1024 * 1024;

// How many of the texts, in order, fit into one batch (at least one).
template <typename Entry>
qsizetype fittingBatch(const QList<Entry>& entries)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        bytes += entries[i].searchText.size() * 2;
        if (bytes > batchBytes)
            return std::max<qsizetype>(i, 1);
    }
    return entries.size();
}

// The next batch's size, aimed at the target time, so the lock is held about as long whatever the
// records' size.
int nextBatch(int batch, std::chrono::steady_clock::duration took)
{
    if (took < batchTarget / 2)
        return std::min(batch * 2, largestBatch);
    if (took > batchTarget * 2)
        return std::max(batch / 2, 16);
    return batch;
}

Result<std::unique_ptr<SqliteStatement>> prepared(sqlite3* db, const char* sql)
{
    return SqliteStatement::prepare(db, sql);
}

}  // namespace

SearchIndexBuilder::~SearchIndexBuilder()
{
    sqlite3_close_v2(m_db);
}

Result<std::unique_ptr<SearchIndexBuilder>> SearchIndexBuilder::open(const QString& storeName)
{
    Result<sqlite3*> db = openStoreConnection(storeName, SQLITE_OPEN_READWRITE);
    if (!db)
        return db.error();
    return std::unique_ptr<SearchIndexBuilder>(new SearchIndexBuilder(*db));
}

Result<SearchIndexBuilder::Step> SearchIndexBuilder::step(int records)
{
    return inTransaction([this, records] { return indexBatch(records); });
}

Result<SearchIndexBuilder::Step> SearchIndexBuilder::purge(int records)
{
    return inTransaction([this, records] { return purgeBatch(records); });
}

Result<SearchIndexBuilder::Step> SearchIndexBuilder::inTransaction(const std::function<Result<Step>()>& batch)
{
    Result<std::unique_ptr<SqliteStatement>> begin = prepared(m_db, "BEGIN IMMEDIATE");
    if (!begin)
        return begin.error();
    m_busy = false;
    if (Result<void> begun = (*begin)->run(QStringLiteral("Could not lock the history store")); !begun) {
        m_busy = sqlite3_errcode(m_db) == SQLITE_BUSY;
        return begun.error();
    }
    Result<Step> step = batch();
    m_busy = !step && sqlite3_errcode(m_db) == SQLITE_BUSY;
    Result<std::unique_ptr<SqliteStatement>> end = prepared(m_db, step ? "COMMIT" : "ROLLBACK");
    if (!end) {
        // Never left holding the write lock, which would stop every capture.
        (void)sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return end.error();
    }
    Result<void> ended = (*end)->run(QStringLiteral("Could not save the search index"));
    if (!step)
        return step;
    if (!ended) {
        (void)sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return ended.error();
    }
    return step;
}

Result<SearchIndexBuilder::Step> SearchIndexBuilder::indexBatch(int records)
{
    const QString what = QStringLiteral("Could not build the search index");
    Result<std::unique_ptr<SqliteStatement>> state =
        prepared(m_db, "SELECT indexedAbove FROM search_state WHERE singleton = 1");
    if (!state)
        return state.error();
    qint64 indexedAbove = HistoryStore::searchIndexCompleteMark;
    {
        SqliteStatement::Cursor cursor(**state);
        Result<bool> row = cursor.next(what);
        if (!row)
            return row.error();
        if (!*row)
            return Error{what + QStringLiteral(": the store has no search state")};
        indexedAbove = cursor.int64(0);
    }
    if (indexedAbove == HistoryStore::searchIndexCompleteMark)
        return Step{0, true};

    Result<std::unique_ptr<SqliteStatement>> select =
        prepared(m_db, "SELECT pk, searchText, kindRaw, createdAt FROM clip WHERE pk <= ?1 ORDER BY pk DESC LIMIT ?2");
    Result<std::unique_ptr<SqliteStatement>> insert = prepared(
        m_db, "INSERT INTO clip_search (rowid, searchText, kindMark) VALUES (?1, ?2, char(1, 2) || substr(?3, 1, 1))");
    Result<std::unique_ptr<SqliteStatement>> refold =
        prepared(m_db, "SELECT contentText, sourceName FROM clip WHERE pk = ?1");
    Result<std::unique_ptr<SqliteStatement>> rewrite =
        prepared(m_db, "UPDATE clip SET searchText = ?2, searchSource = ?3 WHERE pk = ?1");
    Result<std::unique_ptr<SqliteStatement>> order =
        prepared(m_db,
                 "INSERT INTO clip_order (block, newest) VALUES (?1, ?2)"
                 " ON CONFLICT (block) DO UPDATE SET newest = max(newest, excluded.newest)");
    Result<std::unique_ptr<SqliteStatement>> advance =
        prepared(m_db, "UPDATE search_state SET indexedAbove = ?1 WHERE singleton = 1");
    for (const auto* statement : {&select, &insert, &refold, &rewrite, &order, &advance}) {
        if (!*statement)
            return statement->error();
    }

    struct Row {
        qint64 pk;
        QString searchText;
        QString kindRaw;
        qint64 createdAt;
    };
    QList<Row> rows;
    {
        (*select)->bindInt64(1, indexedAbove);
        (*select)->bindInt64(2, records);
        SqliteStatement::Cursor cursor(**select);
        Result<void> read = cursor.forEach(what, [&rows](const SqliteStatement::Cursor& row) {
            rows.append(
                Row{row.int64(0), row.text(1).value_or(QString()), row.text(2).value_or(QString()), row.int64(3)});
        });
        if (!read)
            return read.error();
    }

    QHash<qint64, qint64> newestOfBlock;
    const qsizetype selected = rows.size();
    rows.resize(fittingBatch(rows));
    for (Row& row : rows) {
        // The first release kept NUL characters in the folded text, where the index would end it early:
        // such a record is folded again, as it would be now.
        if (row.searchText.contains(QChar(0))) {
            (*refold)->bindInt64(1, row.pk);
            QString content;
            QString source;
            {
                SqliteStatement::Cursor cursor(**refold);
                Result<bool> found = cursor.next(what);
                if (!found)
                    return found.error();
                content = cursor.text(0).value_or(QString());
                source = cursor.text(1).value_or(QString());
            }
            const QString foldedSource = foldForSearch(source);
            row.searchText = foldedSearchText(content) + QLatin1Char('\n') + foldedSource;
            (*rewrite)->bindInt64(1, row.pk);
            (*rewrite)->bindText(2, row.searchText);
            (*rewrite)->bindText(3, foldedSource);
            if (Result<void> done = (*rewrite)->run(what); !done)
                return done.error();
        }
        (*insert)->bindInt64(1, row.pk);
        (*insert)->bindText(2, row.searchText);
        (*insert)->bindText(3, row.kindRaw);
        if (Result<void> done = (*insert)->run(what); !done)
            return done.error();
        const auto block = newestOfBlock.find(row.pk >> 10);
        if (block == newestOfBlock.end())
            newestOfBlock.insert(row.pk >> 10, row.createdAt);
        else
            *block = std::max(*block, row.createdAt);
    }
    for (auto it = newestOfBlock.cbegin(); it != newestOfBlock.cend(); ++it) {
        (*order)->bindInt64(1, it.key());
        (*order)->bindInt64(2, it.value());
        if (Result<void> done = (*order)->run(what); !done)
            return done.error();
    }

    const bool complete = selected < records && rows.size() == selected;
    (*advance)->bindInt64(1, complete ? HistoryStore::searchIndexCompleteMark : rows.last().pk - 1);
    if (Result<void> done = (*advance)->run(what); !done)
        return done.error();
    return Step{rows.size(), complete};
}

Result<SearchIndexBuilder::Step> SearchIndexBuilder::purgeBatch(int records)
{
    const QString what = QStringLiteral("Could not update the search index");
    Result<std::unique_ptr<SqliteStatement>> select =
        prepared(m_db, "SELECT pk, searchText, kindMark FROM search_pending LIMIT ?1");
    Result<std::unique_ptr<SqliteStatement>> remove = prepared(
        m_db, "INSERT INTO clip_search (clip_search, rowid, searchText, kindMark) VALUES ('delete', ?1, ?2, ?3)");
    Result<std::unique_ptr<SqliteStatement>> done = prepared(m_db, "DELETE FROM search_pending WHERE pk = ?1");
    for (const auto* statement : {&select, &remove, &done}) {
        if (!*statement)
            return statement->error();
    }
    struct Pending {
        qint64 pk;
        QString searchText;
        QString kindMark;
    };
    QList<Pending> pending;
    {
        (*select)->bindInt64(1, records);
        SqliteStatement::Cursor cursor(**select);
        Result<void> read = cursor.forEach(what, [&pending](const SqliteStatement::Cursor& row) {
            pending.append(Pending{row.int64(0), row.text(1).value_or(QString()), row.text(2).value_or(QString())});
        });
        if (!read)
            return read.error();
    }
    const qsizetype selected = pending.size();
    pending.resize(fittingBatch(pending));
    for (const Pending& entry : pending) {
        (*remove)->bindInt64(1, entry.pk);
        (*remove)->bindText(2, entry.searchText);
        (*remove)->bindText(3, entry.kindMark);
        if (Result<void> ran = (*remove)->run(what); !ran)
            return ran.error();
        (*done)->bindInt64(1, entry.pk);
        if (Result<void> ran = (*done)->run(what); !ran)
            return ran.error();
    }
    return Step{pending.size(), selected < records && pending.size() == selected};
}

// Lives on the maintenance thread and owns the connection there.
class SearchIndexMaintenance::Worker final : public QObject {
public:
    Worker(SearchIndexMaintenance& owner, QString storeName, qint64 pending)
        : m_owner(owner), m_storeName(std::move(storeName)), m_pending(pending)
    {
    }

    void build()
    {
        if (!open()) {
            Q_EMIT m_owner.buildFinished(false, m_openError);
            return;
        }
        using Clock = std::chrono::steady_clock;
        int batch = firstBatch;
        qint64 indexed = 0;
        qint64 reported = 0;
        const qint64 tenth = std::max<qint64>(1, m_pending / 10);
        while (!m_owner.m_stop) {
            const Clock::time_point started = Clock::now();
            Result<SearchIndexBuilder::Step> step = retried([&] { return m_builder->step(batch); });
            if (!step) {
                Q_EMIT m_owner.buildFinished(false, step.error().description);
                return;
            }
            indexed += step->indexed;
            if (step->complete) {
                Q_EMIT m_owner.buildFinished(true, QString());
                return;
            }
            if (indexed - reported >= tenth) {
                reported = indexed;
                Q_EMIT m_owner.progressed(indexed, m_pending);
            }
            batch = nextBatch(batch, Clock::now() - started);
            // Leaves the write lock free for a moment, so a capture waiting for it gets it first.
            QThread::msleep(2);
        }
    }

    // A store without incremental vacuum never shrinks: rewritten once, after the build, holding the
    // write lock meanwhile (the writer keeps what is copied and retries).
    void compact()
    {
        if (m_owner.m_stop || !open())
            return;
        const Result<bool> converted = HistoryStore::convertToIncrementalVacuum(m_builder->handle());
        if (!converted)
            Q_EMIT m_owner.storeRewritten(false, converted.error().description);
        else if (*converted)
            Q_EMIT m_owner.storeRewritten(true, QString());
    }

    void purge()
    {
        m_owner.m_purgeQueued = false;
        if (!open()) {
            Q_EMIT m_owner.purgeFailed(m_openError);
            return;
        }
        int batch = 32;
        qint64 purged = 0;
        while (!m_owner.m_stop) {
            const auto started = std::chrono::steady_clock::now();
            Result<SearchIndexBuilder::Step> step = retried([&] { return m_builder->purge(batch); });
            if (!step) {
                Q_EMIT m_owner.purgeFailed(step.error().description);
                return;
            }
            purged += step->indexed;
            if (step->complete) {
                if (purged > 0)
                    reclaimSpace();
                return;
            }
            batch = nextBatch(batch, std::chrono::steady_clock::now() - started);
            QThread::msleep(2);
        }
    }

private:
    // With the deleted records' index entries gone, their space goes back and the WAL lets go of them;
    // a search that holds the WAL has it tried again shortly.
    void reclaimSpace()
    {
        const Result<bool> done = HistoryStore::reclaimSpace(m_builder->handle());
        if (!done)
            Q_EMIT m_owner.purgeFailed(done.error().description);
        else if (!*done && !m_owner.m_stop)
            QTimer::singleShot(reclaimRetryMs, this, [this] { reclaimSpace(); });
    }

    bool open()
    {
        if (m_builder)
            return true;
        Result<std::unique_ptr<SearchIndexBuilder>> opened = SearchIndexBuilder::open(m_storeName);
        if (!opened) {
            m_openError = opened.error().description;
            return false;
        }
        m_builder = std::move(opened).value();
        return true;
    }

    // Another writer may hold the store longer than the busy timeout: tried again a little later.
    Result<SearchIndexBuilder::Step> retried(const std::function<Result<SearchIndexBuilder::Step>()>& batch)
    {
        for (int attempt = 1;; ++attempt) {
            Result<SearchIndexBuilder::Step> step = batch();
            if (step || !m_builder->wasBusy() || attempt >= busyRetries || m_owner.m_stop)
                return step;
            QThread::msleep(200);
        }
    }

    SearchIndexMaintenance& m_owner;
    QString m_storeName;
    qint64 m_pending;
    std::unique_ptr<SearchIndexBuilder> m_builder;
    QString m_openError;
};

SearchIndexMaintenance::SearchIndexMaintenance(QString storeName, qint64 pending, QObject* parent)
    : QObject(parent), m_thread(new QThread), m_worker(new Worker(*this, std::move(storeName), pending))
{
    m_thread->setObjectName(QStringLiteral("search index"));
    m_worker->moveToThread(m_thread);
}

SearchIndexMaintenance::~SearchIndexMaintenance()
{
    m_stop = true;
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
}

void SearchIndexMaintenance::start()
{
    if (m_thread->isRunning())
        return;
    m_thread->start(QThread::LowPriority);
    ++m_queued;
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            m_worker->build();
            m_worker->purge();
            m_worker->compact();
            --m_queued;
        },
        Qt::QueuedConnection);
}

void SearchIndexMaintenance::storeChanged()
{
    // One purge queued at a time is enough: it works off everything pending when it runs.
    if (!m_thread->isRunning() || m_purgeQueued.exchange(true))
        return;
    ++m_queued;
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            m_worker->purge();
            --m_queued;
        },
        Qt::QueuedConnection);
}

}  // namespace nimbrel
