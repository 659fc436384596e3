#pragma once

#include "history/ClipItem.h"
#include "platform/Result.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

struct sqlite3;

namespace nimbrel {

// What the panel and `nimbrel --history --search` ask of the history.
struct SearchQuery {
    // Records whose contentText or sourceName contains this text, compared in folded form
    // (foldForSearch): case, diacritics and width are ignored, every character counts literally, and a
    // match never reaches from one field into the other. Empty: every record. The caller trims it.
    QString text;
    // Only records whose kindRaw is this kind's raw value (an unknown raw value matches no kind).
    std::optional<ClipKind> kind;
    // The newest matches, at most this many (at least 1).
    int limit = 200;
    // Only pinned records.
    bool pinnedOnly = false;
};

struct SearchLimits {
    // A search stops after this much work with the matches it found (the outcome is then not complete).
    // It binds the reading of the records, newest first, for a query the index cannot serve (fewer than
    // three characters, or the index still being built), and the checking of the index's candidates for
    // one it can. Zero: no limit.
    std::chrono::milliseconds workBudget{0};
    // Meanwhile: the matches found so far, newest first, whenever there are more of them and at most
    // every partialInterval; an empty list once, when nothing was found within the first interval.
    std::function<void(const QList<ClipItem>&)> partial;
    std::chrono::milliseconds partialInterval{30};
    // Checked while a search runs: true stops it as interrupt() does.
    std::function<bool()> cancelled;
    // False: always scan, even where the index could answer (to compare the two).
    bool useIndex = true;
};

struct SearchOutcome {
    // Newest first (createdAt, then the order of insertion), without image bytes.
    QList<ClipItem> items;
    // False when the work budget ran out first: older matches may exist.
    bool complete = true;
    // Whether the search index answered (rather than a scan of the records).
    bool indexed = false;
};

// Runs searches over a history store through a read-only connection of its own, so a search can run on
// another thread than the store's writer. Use from one thread at a time; interrupt() from any thread.
class HistorySearch final {
public:
    // Fewer characters than this (after folding) cannot be looked up in the trigram index.
    static constexpr int indexedQueryLength = 3;

    ~HistorySearch();
    HistorySearch(const HistorySearch&) = delete;
    HistorySearch& operator=(const HistorySearch&) = delete;

    // `storeName` is HistoryStore::connectionName(): a file, or an SQLite URI ("file:…") of an
    // in-memory store. The store must exist.
    static Result<std::unique_ptr<HistorySearch>> open(const QString& storeName);

    // The matches of `query`. A search stopped by interrupt() fails with `interrupted` set.
    Result<SearchOutcome> run(const SearchQuery& query, const SearchLimits& limits = {});
    // Stops the search that is running now, if any (sqlite3_interrupt); later ones run normally.
    void interrupt();
    // Whether the last failure of run() was an interruption.
    bool interrupted() const { return m_interrupted; }

private:
    struct Statements;
    HistorySearch(sqlite3* db, std::unique_ptr<Statements> statements);

    class Budget;
    Result<SearchOutcome> runIndexed(const QString& folded, const SearchQuery& query, const SearchLimits& limits);
    Result<SearchOutcome> runScan(const QString& folded, const SearchQuery& query, const SearchLimits& limits);
    // Notes whether the statement that failed was interrupted.
    Error failure(Error error);
    void endSnapshot();

    sqlite3* m_db;
    std::unique_ptr<Statements> m_statements;
    bool m_interrupted = false;
};

// The FTS5 query that narrows a folded search text (and a kind) to candidates: every distinct trigram
// (at most a fixed number, spread over the text) must be present. Empty when the index cannot serve it.
QString indexQuery(const QString& folded, std::optional<ClipKind> kind);

}  // namespace nimbrel
