#include "history/HistorySearch.h"

#include "history/HistoryStore.h"
#include "history/RecordColumns.h"
#include "history/SearchFolding.h"
#include "history/SqliteStatement.h"

#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace nimbrel {

namespace {

// More trigrams narrow the candidates further but cost a merge each; a pasted paragraph needs no more.
constexpr int maximumIndexTerms = 12;
constexpr int blockShift = 10;  // clip_order keeps the newest createdAt of every 1024 pks
constexpr int progressSteps = 2000;

// How the folded query is matched: not at all, against the joined text (no line feed in the query, so
// no match can reach across the one that joins the parts), or against each part alone.
enum class Match { none, joined, partwise };

// What a search asks besides its text: a kind, pinned records only.
struct Filters {
    bool byKind = false;
    bool pinnedOnly = false;
};

// Parameters: ?1 the limit, ?2 the kind's raw value, ?3 the folded query, ?4 the index query. instr()
// compares literally, so no character of the query acts as a pattern.
QByteArray filterTerms(Filters filters, Match match)
{
    QByteArrayList terms;
    if (filters.byKind)
        terms.append("c.kindRaw = ?2");
    // Pinned records are few: looked up by their pks, not by reading every record.
    if (filters.pinnedOnly)
        terms.append("c.pk IN (SELECT clipPk FROM clip_pin)");
    if (match == Match::joined)
        terms.append("instr(c.searchText, ?3) > 0");
    if (match == Match::partwise) {
        terms.append(
            "(instr(substr(c.searchText, 1, length(c.searchText) - length(c.searchSource) - 1), ?3) > 0"
            " OR instr(c.searchSource, ?3) > 0)");
    }
    return terms.join(" AND ");
}

QByteArray scanSql(Filters filters, Match match)
{
    const QByteArray filter = filterTerms(filters, match);
    return QByteArray("SELECT c.pk, ") + recordColumns + " FROM clip AS c" +
           (filter.isEmpty() ? QByteArray() : " WHERE " + filter) + " ORDER BY c.createdAt DESC, c.pk DESC LIMIT ?1";
}

// Candidates come newest pk first straight from the index, each checked against the exact rule.
QByteArray indexedSql(Filters filters, Match match)
{
    const QByteArray filter = filterTerms(filters, match);
    return QByteArray("SELECT c.pk, ") + recordColumns +
           " FROM clip_search AS s JOIN clip AS c ON c.pk = s.rowid WHERE s.clip_search MATCH ?4" +
           (filter.isEmpty() ? QByteArray() : " AND " + filter) + " ORDER BY s.rowid DESC";
}

constexpr int shapeCount = 12;
int shapeIndex(Filters filters, Match match)
{
    return (filters.pinnedOnly ? 6 : 0) + (filters.byKind ? 3 : 0) + static_cast<int>(match);
}

Match matchFor(const QString& folded)
{
    if (folded.isEmpty())
        return Match::none;
    return folded.contains(QLatin1Char('\n')) ? Match::partwise : Match::joined;
}

using StatementSlots = std::array<std::unique_ptr<SqliteStatement>, shapeCount>;

// The statement of this shape, prepared on first use.
Result<SqliteStatement*> statementFor(sqlite3* db, StatementSlots& slots, QByteArray (*sql)(Filters, Match),
                                      Filters filters, Match match)
{
    std::unique_ptr<SqliteStatement>& slot = slots[shapeIndex(filters, match)];
    if (!slot) {
        Result<std::unique_ptr<SqliteStatement>> made = SqliteStatement::prepare(db, sql(filters, match).constData());
        if (!made)
            return made.error();
        slot = std::move(made).value();
    }
    return slot.get();
}

QString quoted(const QString& term)
{
    QString text = term;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The newest records found so far, at most `limit`, ordered by (createdAt, pk) descending.
class NewestMatches {
public:
    explicit NewestMatches(int limit) : m_limit(limit) {}

    void offer(qint64 pk, ClipItem item)
    {
        const Key key{item.createdAt.toMSecsSinceEpoch(), pk};
        if (full() && !(m_heap.front().key < key))
            return;
        if (full()) {
            std::pop_heap(m_heap.begin(), m_heap.end(), later);
            m_heap.pop_back();
        }
        m_heap.push_back({key, std::move(item)});
        std::push_heap(m_heap.begin(), m_heap.end(), later);
    }
    bool full() const { return static_cast<int>(m_heap.size()) >= m_limit; }
    // createdAt of the oldest kept match (only when full).
    qint64 oldestKept() const { return m_heap.front().key.createdAt; }

    // The matches kept so far, newest first.
    QList<ClipItem> sorted() const
    {
        NewestMatches copy = *this;
        return copy.take();
    }

    QList<ClipItem> take()
    {
        std::sort(m_heap.begin(), m_heap.end(), [](const Entry& a, const Entry& b) { return b.key < a.key; });
        QList<ClipItem> items;
        items.reserve(static_cast<qsizetype>(m_heap.size()));
        for (Entry& entry : m_heap)
            items.append(std::move(entry.item));
        m_heap.clear();
        return items;
    }

private:
    struct Key {
        qint64 createdAt;
        qint64 pk;
        bool operator<(const Key& other) const
        {
            return createdAt != other.createdAt ? createdAt < other.createdAt : pk < other.pk;
        }
    };
    struct Entry {
        Key key;
        ClipItem item;
    };
    // A min-heap: the front is the oldest kept match.
    static bool later(const Entry& a, const Entry& b) { return b.key < a.key; }

    int m_limit;
    std::vector<Entry> m_heap;
};

// The newest createdAt of any record whose pk is below a given one, from clip_order's blocks.
class NewestBelow {
public:
    void add(qint64 block, qint64 newest)
    {
        m_blocks.push_back(block);
        m_newest.push_back(m_newest.empty() ? newest : std::max(m_newest.back(), newest));
    }
    // Records with pk below `pk` lie in its block or earlier ones; the whole block counts, to be safe.
    std::optional<qint64> bound(qint64 pk) const
    {
        const auto after = std::upper_bound(m_blocks.cbegin(), m_blocks.cend(), pk >> blockShift);
        if (after == m_blocks.cbegin())
            return std::nullopt;
        return m_newest[static_cast<size_t>(after - m_blocks.cbegin() - 1)];
    }

private:
    std::vector<qint64> m_blocks;
    std::vector<qint64> m_newest;
};

}  // namespace

QString indexQuery(const QString& folded, std::optional<ClipKind> kind)
{
    // Through UTF-8 first, as the stored texts and the bound query go, so that a lone surrogate becomes
    // the same character in the trigrams as in the text they are looked up for.
    const QList<uint> points = QString::fromUtf8(folded.toUtf8()).toUcs4();
    QStringList terms;
    if (!points.isEmpty()) {
        if (points.size() < HistorySearch::indexedQueryLength)
            return QString();
        QStringList trigrams;
        QSet<QString> seen;
        for (qsizetype i = 0; i + 3 <= points.size(); ++i) {
            // The trigram tokenizer ends a text at a NUL character; a trigram holding one is never indexed.
            if (points[i] == 0 || points[i + 1] == 0 || points[i + 2] == 0)
                continue;
            const QString trigram = QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData() + i), 3);
            if (!seen.contains(trigram)) {
                seen.insert(trigram);
                trigrams.append(trigram);
            }
        }
        if (trigrams.isEmpty())
            return QString();
        // Spread over the whole query, first and last included: any subset still finds every match.
        const qsizetype count = std::min<qsizetype>(trigrams.size(), maximumIndexTerms);
        for (qsizetype i = 0; i < count; ++i) {
            const qsizetype at = count == 1 ? 0 : i * (trigrams.size() - 1) / (count - 1);
            terms.append(quoted(trigrams[at]));
        }
    }
    // The index holds char(1, 2) followed by the first letter of the kind's raw value; they all differ.
    if (kind)
        terms.append(quoted(QStringLiteral("\u0001\u0002") + rawValue(*kind).left(1)));
    return terms.join(QStringLiteral(" AND "));
}

struct HistorySearch::Statements {
    StatementSlots scan;
    StatementSlots indexed;
};

HistorySearch::HistorySearch(sqlite3* db, std::unique_ptr<Statements> statements)
    : m_db(db), m_statements(std::move(statements))
{
}

HistorySearch::~HistorySearch()
{
    m_statements.reset();
    sqlite3_close_v2(m_db);
}

Result<std::unique_ptr<HistorySearch>> HistorySearch::open(const QString& storeName)
{
    Result<sqlite3*> db = openStoreConnection(storeName, SQLITE_OPEN_READONLY);
    if (!db)
        return db.error();
    auto search = std::unique_ptr<HistorySearch>(new HistorySearch(*db, std::make_unique<Statements>()));
    if (Result<void> pins = providePinTable(*db); !pins)
        return pins.error();
    return search;
}

void HistorySearch::interrupt()
{
    sqlite3_interrupt(m_db);
}

void HistorySearch::endSnapshot()
{
    // An interruption meant for a later search can stop the ROLLBACK itself, leaving the snapshot open
    // for good; it is ended whatever it takes.
    for (int attempt = 0; attempt < 8 && !sqlite3_get_autocommit(m_db); ++attempt)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

Error HistorySearch::failure(Error error)
{
    // Read now: ending the statement or the snapshot resets the connection's error code.
    m_interrupted = sqlite3_errcode(m_db) == SQLITE_INTERRUPT;
    return error;
}

Result<SearchOutcome> HistorySearch::run(const SearchQuery& query, const SearchLimits& limits)
{
    m_interrupted = false;
    endSnapshot();
    if (query.limit < 1)
        return Error{QStringLiteral("Could not search the history: the limit %1 is below 1").arg(query.limit)};
    const QString folded = query.text.isEmpty() ? QString() : foldForSearch(query.text);
    // A query that folds to nothing (only combining marks, say) is contained in no text.
    if (!query.text.isEmpty() && folded.isEmpty())
        return SearchOutcome{};

    Result<SearchOutcome> outcome = [&]() -> Result<SearchOutcome> {
        // An empty query without a kind is the newest records: the scan answers at once.
        if (limits.useIndex && !indexQuery(folded, query.kind).isEmpty()) {
            const Result<bool> ready = HistoryStore::searchIndexComplete(m_db);
            if (!ready)
                return failure(ready.error());
            if (*ready)
                return runIndexed(folded, query, limits);
        }
        return runScan(folded, query, limits);
    }();
    return outcome;
}

// Stops the statements of a search with SQLITE_INTERRUPT once its work budget is spent.
class HistorySearch::Budget {
public:
    using Clock = std::chrono::steady_clock;

    Budget(HistorySearch& search, const SearchLimits& limits)
        : m_db(search.m_db), m_limits(limits), m_started(Clock::now())
    {
        if (limits.workBudget.count() > 0)
            m_deadline = m_started + limits.workBudget;
        if (limits.workBudget.count() > 0 || limits.partial || limits.cancelled)
            sqlite3_progress_handler(m_db, progressSteps, &Budget::progress, this);
    }
    ~Budget() { sqlite3_progress_handler(m_db, 0, nullptr, nullptr); }
    Budget(const Budget&) = delete;
    Budget& operator=(const Budget&) = delete;

    // The budget ran out: the statement was stopped for that and nothing else.
    bool spent(sqlite3* db) const { return m_spent && sqlite3_errcode(db) == SQLITE_INTERRUPT; }
    // Whether the matches found so far should be shown now: there are more than last time, and the
    // interval has passed.
    bool partialDue(qsizetype found)
    {
        m_found = found;
        if (!m_limits.partial || found <= m_partialCount || Clock::now() - m_lastPartial < m_limits.partialInterval)
            return false;
        m_partialCount = found;
        m_lastPartial = Clock::now();
        return true;
    }

private:
    static int progress(void* context)
    {
        auto* self = static_cast<Budget*>(context);
        if (self->m_limits.cancelled && self->m_limits.cancelled())
            return 1;
        const Clock::time_point now = Clock::now();
        // Nothing found within the first interval is said then, not only at the end of the budget.
        if (self->m_limits.partial && self->m_found == 0 && !self->m_emptySent &&
            now - self->m_started >= self->m_limits.partialInterval) {
            self->m_emptySent = true;
            self->m_lastPartial = now;
            self->m_limits.partial({});
        }
        if (self->m_deadline && now >= *self->m_deadline) {
            self->m_spent = true;
            return 1;
        }
        return 0;
    }

    sqlite3* m_db;
    const SearchLimits& m_limits;
    Clock::time_point m_started;
    std::optional<Clock::time_point> m_deadline;
    Clock::time_point m_lastPartial = m_started;
    qsizetype m_partialCount = 0;
    qsizetype m_found = 0;
    bool m_emptySent = false;
    bool m_spent = false;
};

Result<SearchOutcome> HistorySearch::runIndexed(const QString& folded, const SearchQuery& query,
                                                const SearchLimits& limits)
{
    const QString what = QStringLiteral("Could not search the history");
    // One snapshot for the blocks and the index, so that a record saved in between cannot be missing
    // from the bound while present in the index.
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failure(sqliteError(m_db, what));
    struct SnapshotEnd {
        HistorySearch& search;
        ~SnapshotEnd() { search.endSnapshot(); }
    } snapshotEnd{*this};
    NewestBelow newestBelow;
    {
        Result<std::unique_ptr<SqliteStatement>> blocks =
            SqliteStatement::prepare(m_db, "SELECT block, newest FROM clip_order ORDER BY block");
        if (!blocks)
            return blocks.error();
        SqliteStatement::Cursor cursor(**blocks);
        while (true) {
            Result<bool> row = cursor.next(what);
            if (!row)
                return failure(row.error());
            if (!*row)
                break;
            newestBelow.add(cursor.int64(0), cursor.int64(1));
        }
    }

    const Match match = matchFor(folded);
    Result<SqliteStatement*> prepared = statementFor(m_db, m_statements->indexed, &indexedSql,
                                                     Filters{query.kind.has_value(), query.pinnedOnly}, match);
    if (!prepared)
        return prepared.error();
    SqliteStatement& statement = **prepared;
    if (query.kind)
        statement.bindText(2, rawValue(*query.kind));
    if (match != Match::none)
        statement.bindText(3, folded);
    statement.bindText(4, indexQuery(folded, query.kind));

    NewestMatches newest(query.limit);
    // A query made of common trigrams that is found nowhere checks many candidates; it is bounded too.
    Budget budget(*this, limits);
    bool complete = true;
    qsizetype found = 0;
    SqliteStatement::Cursor cursor(statement);
    while (true) {
        Result<bool> row = cursor.next(what);
        if (!row) {
            if (!budget.spent(m_db))
                return failure(row.error());
            complete = false;
            break;
        }
        if (!*row)
            break;
        const qint64 pk = cursor.int64(0);
        newest.offer(pk, readRecord(cursor, 1));
        if (budget.partialDue(++found))
            limits.partial(newest.sorted());
        // Every record not yet seen has a lower pk; once none of them can be newer than the oldest match
        // kept, the rest of the index cannot change the result.
        if (newest.full()) {
            const std::optional<qint64> bound = newestBelow.bound(pk - 1);
            if (!bound || newest.oldestKept() >= *bound)
                break;
        }
    }
    return SearchOutcome{newest.take(), complete, true};
}

Result<SearchOutcome> HistorySearch::runScan(const QString& folded, const SearchQuery& query,
                                             const SearchLimits& limits)
{
    const Match match = matchFor(folded);
    Result<SqliteStatement*> prepared =
        statementFor(m_db, m_statements->scan, &scanSql, Filters{query.kind.has_value(), query.pinnedOnly}, match);
    if (!prepared)
        return prepared.error();
    SqliteStatement& statement = **prepared;
    statement.bindInt64(1, query.limit);
    if (query.kind)
        statement.bindText(2, rawValue(*query.kind));
    if (match != Match::none)
        statement.bindText(3, folded);

    Budget budget(*this, limits);
    SearchOutcome outcome;
    SqliteStatement::Cursor cursor(statement);
    while (true) {
        Result<bool> row = cursor.next(QStringLiteral("Could not search the history"));
        if (!row) {
            if (budget.spent(m_db)) {
                outcome.complete = false;
                break;
            }
            return failure(row.error());
        }
        if (!*row)
            break;
        outcome.items.append(readRecord(cursor, 1));
        if (budget.partialDue(outcome.items.size()))
            limits.partial(outcome.items);
    }
    return outcome;
}

}  // namespace nimbrel
