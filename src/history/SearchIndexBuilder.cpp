#include "history/SearchIndexBuilder.h"

#include "history/HistoryStore.h"
#include "history/SearchFolding.h"
#include "history/SqliteStatement.h"

#include <QHash>
#include <QThread>

#include <sqlite3.h>

#include <chrono>

namespace nimbrel {

namespace {

// A batch holds the store's write lock; kept short so that a capture waits for it only briefly.
constexpr auto batchTarget = std::chrono::milliseconds(25);
constexpr int firstBatch = 256;
constexpr int largestBatch = 8192;
constexpr int busyRetries = 30;

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
    Result<std::unique_ptr<SqliteStatement>> begin = prepared(m_db, "BEGIN IMMEDIATE");
    if (!begin)
        return begin.error();
    m_busy = false;
    if (Result<void> begun = (*begin)->run(QStringLiteral("Could not lock the history store")); !begun) {
        m_busy = sqlite3_errcode(m_db) == SQLITE_BUSY;
        return begun.error();
    }
    Result<Step> step = indexBatch(records);
    m_busy = !step && sqlite3_errcode(m_db) == SQLITE_BUSY;
    Result<std::unique_ptr<SqliteStatement>> end = prepared(m_db, step ? "COMMIT" : "ROLLBACK");
    if (!end)
        return end.error();
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

    Result<std::unique_ptr<SqliteStatement>> select = prepared(
        m_db, "SELECT pk, searchText, kindRaw, createdAt FROM clip WHERE pk <= ?1 ORDER BY pk DESC LIMIT ?2");
    Result<std::unique_ptr<SqliteStatement>> insert = prepared(
        m_db, "INSERT INTO clip_search (rowid, searchText, kindMark) VALUES (?1, ?2, char(1, 2) || ?3)");
    Result<std::unique_ptr<SqliteStatement>> refold =
        prepared(m_db, "SELECT contentText, sourceName FROM clip WHERE pk = ?1");
    Result<std::unique_ptr<SqliteStatement>> rewrite =
        prepared(m_db, "UPDATE clip SET searchText = ?2, searchSource = ?3 WHERE pk = ?1");
    Result<std::unique_ptr<SqliteStatement>> order = prepared(
        m_db, "INSERT INTO clip_order (block, newest) VALUES (?1, ?2)"
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
        while (true) {
            Result<bool> row = cursor.next(what);
            if (!row)
                return row.error();
            if (!*row)
                break;
            rows.append(Row{cursor.int64(0), cursor.text(1).value_or(QString()), cursor.text(2).value_or(QString()),
                            cursor.int64(3)});
        }
    }

    QHash<qint64, qint64> newestOfBlock;
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
            row.searchText = foldForSearch(content) + QLatin1Char('\n') + foldedSource;
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

    const bool complete = rows.size() < records;
    (*advance)->bindInt64(1, complete ? HistoryStore::searchIndexCompleteMark : rows.last().pk - 1);
    if (Result<void> done = (*advance)->run(what); !done)
        return done.error();
    return Step{rows.size(), complete};
}

SearchIndexBuild::SearchIndexBuild(QString storeName, qint64 pending, QObject* parent)
    : QObject(parent), m_storeName(std::move(storeName)), m_pending(pending)
{
}

SearchIndexBuild::~SearchIndexBuild()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

void SearchIndexBuild::start()
{
    if (m_thread)
        return;
    m_thread = QThread::create([this] { run(); });
    m_thread->setObjectName(QStringLiteral("search index"));
    m_thread->start(QThread::LowPriority);
}

bool SearchIndexBuild::isRunning() const
{
    return m_thread && m_thread->isRunning();
}

void SearchIndexBuild::run()
{
    Result<std::unique_ptr<SearchIndexBuilder>> builder = SearchIndexBuilder::open(m_storeName);
    if (!builder) {
        Q_EMIT finished(false, builder.error().description);
        return;
    }
    using Clock = std::chrono::steady_clock;
    int batch = firstBatch;
    int busyLeft = busyRetries;
    qint64 indexed = 0;
    qint64 reported = 0;
    const qint64 tenth = std::max<qint64>(1, m_pending / 10);
    while (!m_stop) {
        const Clock::time_point started = Clock::now();
        Result<SearchIndexBuilder::Step> step = (*builder)->step(batch);
        if (!step) {
            // Another writer held the store longer than the busy timeout: try again a little later.
            if ((*builder)->wasBusy() && --busyLeft > 0) {
                QThread::msleep(200);
                continue;
            }
            Q_EMIT finished(false, step.error().description);
            return;
        }
        busyLeft = busyRetries;
        indexed += step->indexed;
        if (step->complete) {
            Q_EMIT finished(true, QString());
            return;
        }
        if (indexed - reported >= tenth) {
            reported = indexed;
            Q_EMIT progressed(indexed, m_pending);
        }
        // Aim each batch at the target time, so the lock is held about as long whatever the records' size.
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        batch = took < batchTarget / 2 ? std::min(batch * 2, largestBatch)
                : took > batchTarget * 2 ? std::max(batch / 2, 16)
                                         : batch;
        // Leaves the write lock free for a moment, so a capture waiting for it gets it first.
        QThread::msleep(2);
    }
    // Stopped because Nimbrel ends: nothing to report, the next start resumes.
}

}  // namespace nimbrel
