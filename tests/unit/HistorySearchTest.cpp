#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "history/SearchFolding.h"
#include "history/SearchIndexBuilder.h"
#include "history/SearchService.h"
#include "support/RawSql.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <sqlite3.h>

#include <csignal>
#include <functional>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace nimbrel;
using test::rawExecute;
using test::rawInt;

namespace {

QDateTime at(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

ClipItem record(ClipKind kind, std::optional<QString> text, std::optional<QString> source, qint64 msecs)
{
    std::optional<QByteArray> image;
    if (kind == ClipKind::image)
        image = QByteArray(8, 'i');
    return ClipItem::make(kind, std::move(text), std::move(image), std::nullopt, std::nullopt, std::move(source),
                          at(msecs));
}

std::unique_ptr<HistoryStore> value(Result<std::unique_ptr<HistoryStore>> store)
{
    EXPECT_TRUE(store.ok()) << (store ? "" : store.error().description.toStdString());
    return store ? std::move(store).value() : nullptr;
}

std::unique_ptr<HistorySearch> searchOf(const QString& name)
{
    Result<std::unique_ptr<HistorySearch>> search = HistorySearch::open(name);
    EXPECT_TRUE(search.ok()) << (search ? "" : search.error().description.toStdString());
    return search ? std::move(search).value() : nullptr;
}

SearchOutcome run(HistorySearch& search, const QString& text, std::optional<ClipKind> kind = std::nullopt,
                  int limit = 200, bool useIndex = true)
{
    SearchLimits limits;
    limits.useIndex = useIndex;
    Result<SearchOutcome> outcome = search.run(SearchQuery{text, kind, limit}, limits);
    EXPECT_TRUE(outcome.ok()) << (outcome ? "" : outcome.error().description.toStdString());
    return outcome ? *outcome : SearchOutcome{};
}

QList<QUuid> ids(const QList<ClipItem>& items)
{
    QList<QUuid> result;
    for (const ClipItem& item : items)
        result.append(item.id);
    return result;
}

qint64 rawInt(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    // A writer killed a moment ago leaves its journal to be recovered, which holds readers off briefly.
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    const qint64 result = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

// Turns a store into one of the first release's layout: no search index, store version 0.
void makeFirstReleaseStore(const QString& path)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    for (const char* sql :
         {"DROP TRIGGER clip_search_inserted", "DROP TRIGGER clip_search_deleted", "DROP TRIGGER clip_order_inserted",
          "DROP TRIGGER clip_order_deleted", "DROP TABLE clip_search", "DROP TABLE search_state",
          "DROP TABLE clip_order", "DROP TABLE search_pending", "DROP TRIGGER clip_format_deleted",
          "DROP TABLE clip_format", "DROP TRIGGER clip_pin_deleted", "DROP TABLE clip_pin", "PRAGMA user_version = 0"})
        rawExecute(db, sql);
    ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
}

// Takes every deleted record's entries out of the index, as the background maintenance does.
void purgeIndex(const QString& name)
{
    Result<std::unique_ptr<SearchIndexBuilder>> builder = SearchIndexBuilder::open(name);
    ASSERT_TRUE(builder.ok());
    while (true) {
        Result<SearchIndexBuilder::Step> step = (*builder)->purge(7);
        ASSERT_TRUE(step.ok()) << step.error().description.toStdString();
        if (step->complete)
            return;
    }
}

Result<void> buildIndex(const QString& path, int batch)
{
    Result<std::unique_ptr<SearchIndexBuilder>> builder = SearchIndexBuilder::open(path);
    if (!builder)
        return builder.error();
    while (true) {
        Result<SearchIndexBuilder::Step> step = (*builder)->step(batch);
        if (!step)
            return step.error();
        if (step->complete)
            return {};
    }
}

// Records named so that results read as names; the matching rules' cases below refer to them.
struct NamedRecords {
    QList<std::pair<QString, ClipItem>> records{
        {"long", record(ClipKind::text,
                        QStringLiteral("needle-head ") + QString(searchedCharacters, QLatin1Char('x')) +
                            QStringLiteral(" needle-tail"),
                        std::nullopt, 500)},
        {"cafe", record(ClipKind::text, QStringLiteral("Un café au lait"), QStringLiteral("Terminal"), 1000)},
        {"link-a", record(ClipKind::link, QStringLiteral("https://a.example/x"), QStringLiteral("Firefox"), 2000)},
        {"colour", record(ClipKind::color, QStringLiteral("#1e90ff"), std::nullopt, 3000)},
        {"percent", record(ClipKind::text, QStringLiteral("100% sure_thing"), QStringLiteral("Notes"), 4000)},
        {"image", record(ClipKind::image, std::nullopt, QStringLiteral("Viewer"), 5000)},
        {"lines", record(ClipKind::text, QStringLiteral("line one\nline two"), QStringLiteral("Editor"), 6000)},
        {"no-text", record(ClipKind::text, std::nullopt, QStringLiteral("Ghost"), 7000)},
        {"link-b", record(ClipKind::link, QStringLiteral("https://b.example/"), QStringLiteral("Firefox"), 8000)},
        {"glob", record(ClipKind::text, QStringLiteral("a*b?c[d]"), std::nullopt, 9000)},
        {"odd-kind", record(ClipKind::text, QStringLiteral("kept as is"), std::nullopt, 10000)},
        {"nul",
         record(ClipKind::text, QStringLiteral("before") + QChar(0) + QStringLiteral("after"), std::nullopt, 11000)},
        {"straße", record(ClipKind::text, QStringLiteral("Große Straße"), QStringLiteral("ＭＡＩＬ"), 12000)},
    };

    void insertInto(HistoryStore& store)
    {
        for (auto& [name, item] : records) {
            if (name == QLatin1String("odd-kind"))
                item.kindRaw = QStringLiteral("rtf");
            ASSERT_TRUE(store.insert(item).ok());
        }
        ASSERT_TRUE(store.save().ok());
    }
    QString names(const QList<ClipItem>& items) const
    {
        QHash<QUuid, QString> byId;
        for (const auto& [name, item] : records)
            byId.insert(item.id, name);
        QStringList found;
        for (const ClipItem& item : items)
            found.append(byId.value(item.id, QStringLiteral("?")));
        return found.join(QLatin1Char(','));
    }
};

struct MatchCase {
    const char* search;
    std::optional<ClipKind> kind;
    int limit;
    const char* expected;  // names, newest first
};

const MatchCase matchCases[] = {
    {"", std::nullopt, 200, "straße,nul,odd-kind,glob,link-b,no-text,lines,image,percent,colour,link-a,cafe,long"},
    {"CAFÉ", std::nullopt, 200, "cafe"},
    {"ｃａｆｅ", std::nullopt, 200, "cafe"},
    {"au lait", std::nullopt, 200, "cafe"},
    {"firefox", std::nullopt, 200, "link-b,link-a"},
    {"", ClipKind::link, 200, "link-b,link-a"},
    {"", ClipKind::text, 200, "straße,nul,glob,no-text,lines,percent,cafe,long"},
    {"", ClipKind::image, 200, "image"},
    {"fire", ClipKind::text, 200, ""},
    {"A.EXAMPLE", ClipKind::link, 200, "link-a"},
    {"example", std::nullopt, 1, "link-b"},
    {"", std::nullopt, 2, "straße,nul"},
    {"#1E90FF", ClipKind::color, 200, "colour"},
    // Full case folding: "ß" and "ss" are the same, in the text and in the source name.
    {"STRASSE", std::nullopt, 200, "straße"},
    {"mail", std::nullopt, 200, "straße"},
    // Only the source name makes an image or a record without text findable.
    {"viewer", std::nullopt, 200, "image"},
    {"ghost", std::nullopt, 200, "no-text"},
    // An unknown kind is listed without a filter but matches no kind.
    {"kept", std::nullopt, 200, "odd-kind"},
    {"kept", ClipKind::text, 200, ""},
    // Pattern characters of LIKE, GLOB and the index's query language are plain characters.
    {"%", std::nullopt, 200, "percent"},
    {"_", std::nullopt, 200, "percent"},
    {"0% s", std::nullopt, 200, "percent"},
    {"*", std::nullopt, 200, "glob"},
    {"b?c[d]", std::nullopt, 200, "glob"},
    {"\"", std::nullopt, 200, ""},
    {"a\" OR \"b", std::nullopt, 200, ""},
    // One and two characters: the newest first as well.
    {"e", std::nullopt, 3, "straße,nul,odd-kind"},
    {"ÉR", std::nullopt, 200, "nul,image,cafe"},
    // A NUL never hides what follows it.
    {"after", std::nullopt, 200, "nul"},
    // A line feed in the query matches inside the text, never across into the source name.
    {"one\nline", std::nullopt, 200, "lines"},
    {"two\neditor", std::nullopt, 200, ""},
    {"\neditor", std::nullopt, 200, ""},
    {"lait\nterminal", std::nullopt, 200, ""},
    // The search looks at the first million characters of a text.
    {"needle-head", std::nullopt, 200, "long"},
    {"needle-tail", std::nullopt, 200, ""},
    // A query that folds to nothing is contained in nothing.
    {"\u0301", std::nullopt, 200, ""},
};

void expectMatchingRules(HistorySearch& search, const NamedRecords& named, bool useIndex, bool expectIndexed,
                         const char* mode)
{
    for (const MatchCase& c : matchCases) {
        const QString text = QString::fromUtf8(c.search);
        const SearchOutcome outcome = run(search, text, c.kind, c.limit, useIndex);
        EXPECT_EQ(named.names(outcome.items), QString::fromUtf8(c.expected))
            << mode << ": search \"" << c.search << "\" kind " << (c.kind ? rawValue(*c.kind).toStdString() : "none");
        EXPECT_TRUE(outcome.complete);
        const bool indexable = !indexQuery(foldForSearch(text), c.kind).isEmpty();
        EXPECT_EQ(outcome.indexed, expectIndexed && indexable) << mode << ": search \"" << c.search << "\"";
    }
}

}  // namespace

TEST(HistorySearchTest, MatchingRulesHoldThroughTheIndexAndTheScan)
{
    NamedRecords named;
    auto store = value(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    named.insertInto(*store);
    auto search = searchOf(store->connectionName());
    ASSERT_TRUE(search);
    expectMatchingRules(*search, named, true, true, "indexed");
    expectMatchingRules(*search, named, false, false, "scan");
}

// Pinned only narrows every search, on the index as on the scan, and every result says whether it is pinned.
TEST(HistorySearchTest, PinnedOnlyHoldsThroughTheIndexAndTheScan)
{
    NamedRecords named;
    auto store = value(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    named.insertInto(*store);
    const QStringList pinned = {QStringLiteral("cafe"), QStringLiteral("link-b"), QStringLiteral("image"),
                                QStringLiteral("lines")};
    for (const auto& [name, item] : named.records) {
        if (pinned.contains(name))
            ASSERT_TRUE(store->setPinned(item.id, true).value());
    }
    ASSERT_TRUE(store->save().ok());
    auto search = searchOf(store->connectionName());
    ASSERT_TRUE(search);

    const MatchCase cases[] = {
        {"", std::nullopt, 200, "link-b,lines,image,cafe"},
        {"", std::nullopt, 2, "link-b,lines"},
        {"", ClipKind::link, 200, "link-b"},
        {"example", std::nullopt, 200, "link-b"},
        {"firefox", ClipKind::link, 200, "link-b"},
        {"line", std::nullopt, 200, "lines"},
        {"CAFÉ", std::nullopt, 200, "cafe"},
        {"viewer", std::nullopt, 200, "image"},
        {"e", std::nullopt, 200, "link-b,lines,image,cafe"},
        {"100%", std::nullopt, 200, ""},
        {"", ClipKind::color, 200, ""},
    };
    for (const bool useIndex : {true, false}) {
        for (const MatchCase& c : cases) {
            SCOPED_TRACE(std::string(useIndex ? "index: " : "scan: ") + c.search);
            SearchQuery query{QString::fromUtf8(c.search), c.kind, c.limit};
            query.pinnedOnly = true;
            SearchLimits limits;
            limits.useIndex = useIndex;
            const SearchOutcome outcome = search->run(query, limits).value();
            EXPECT_EQ(named.names(outcome.items), QString::fromUtf8(c.expected));
            EXPECT_EQ(outcome.indexed, useIndex && !indexQuery(foldForSearch(query.text), c.kind).isEmpty());
            for (const ClipItem& item : outcome.items)
                EXPECT_TRUE(item.pinned);
        }
        const SearchOutcome all = run(*search, QString(), std::nullopt, 200, useIndex);
        QStringList flagged;
        for (const ClipItem& item : all.items) {
            if (item.pinned)
                flagged.append(named.names({item}));
        }
        EXPECT_EQ(flagged, (QStringList{QStringLiteral("link-b"), QStringLiteral("lines"), QStringLiteral("image"),
                                        QStringLiteral("cafe")}));
    }
}

TEST(HistorySearchTest, AnUpgradedStoreKeepsItsRecordsAndSearchesBeforeAndAfterTheBuild)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
    NamedRecords named;
    {
        auto store = value(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        named.insertInto(*store);
    }
    makeFirstReleaseStore(path);
    // A NUL kept in the folded text by the first release is folded again by the build.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        rawExecute(db,
                   "UPDATE clip SET searchText = 'before' || char(0) || 'after' || char(10) WHERE contentText "
                   "LIKE 'before%'");
        sqlite3_close(db);
    }
    QList<ClipItem> before;
    {
        auto reader = value(HistoryStore::openReadOnly(path));
        ASSERT_TRUE(reader);
        before = *reader->fetch(FetchDescriptor{SortOrder::descending});
        EXPECT_EQ(*reader->searchIndexComplete(), false);
        // The command line reads a store of the version before without changing it.
        auto search = searchOf(path);
        expectMatchingRules(*search, named, true, false, "first release, read-only");
    }
    EXPECT_EQ(rawInt(path, "PRAGMA user_version"), 0);

    auto store = value(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    EXPECT_EQ(rawInt(path, "PRAGMA user_version"), HistoryStore::storeVersion);
    EXPECT_EQ(*store->searchIndexComplete(), false);
    const QList<ClipItem> after = *store->fetch(FetchDescriptor{SortOrder::descending});
    ASSERT_EQ(after.size(), before.size());
    for (qsizetype i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].id, before[i].id);
        EXPECT_EQ(after[i].contentText, before[i].contentText);
        EXPECT_EQ(after[i].createdAt, before[i].createdAt);
    }
    auto search = searchOf(path);
    expectMatchingRules(*search, named, true, false, "upgraded, index pending");

    // Records captured while the build runs are indexed as they come.
    const ClipItem fresh = record(ClipKind::text, QStringLiteral("captured meanwhile"), std::nullopt, 20000);
    ASSERT_TRUE(store->insert(fresh).ok());
    ASSERT_TRUE(store->save().ok());
    ASSERT_TRUE(buildIndex(path, 5).ok());
    EXPECT_EQ(*store->searchIndexComplete(), true);
    named.records.append({QStringLiteral("fresh"), fresh});
    EXPECT_EQ(named.names(run(*search, QStringLiteral("MEANWHILE")).items), QStringLiteral("fresh"));
    ASSERT_TRUE(store->remove(fresh.id).ok());
    ASSERT_TRUE(store->save().ok());
    expectMatchingRules(*search, named, true, true, "upgraded, index built");
}

TEST(HistorySearchTest, ANewerStoreIsRefusedAndLeftUntouched)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
    {
        auto store = value(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->insert(record(ClipKind::text, QStringLiteral("kept"), std::nullopt, 1)).ok());
        ASSERT_TRUE(store->save().ok());
    }
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        rawExecute(db,
                   QStringLiteral("PRAGMA user_version = %1").arg(HistoryStore::storeVersion + 1).toUtf8().constData());
        rawExecute(db, "PRAGMA wal_checkpoint(TRUNCATE)");
        sqlite3_close(db);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    for (const auto& open : {&HistoryStore::openFile, &HistoryStore::openReadOnly}) {
        Result<std::unique_ptr<HistoryStore>> store = open(path);
        ASSERT_FALSE(store.ok());
        EXPECT_TRUE(store.error().description.contains(QLatin1String("newer Nimbrel")))
            << store.error().description.toStdString();
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
}

// Through insertions whose times go backwards and forwards, ties, and deletions of the newest of a block,
// the index answers exactly as the scan does, for every limit.
TEST(HistorySearchTest, IndexAgreesWithTheScanWhateverTheOrderOfTimes)
{
    auto store = value(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    QRandomGenerator random(42);
    const QStringList words{QStringLiteral("alpha"), QStringLiteral("beta"),    QStringLiteral("gamma"),
                            QStringLiteral("delta"), QStringLiteral("Épsilon"), QStringLiteral("zeta")};
    QList<QUuid> inserted;
    qint64 clock = 1'000'000;
    for (int i = 0; i < 5000; ++i) {
        // Mostly forwards; now and then the clock jumps back (or far ahead) and ties happen.
        const int roll = random.bounded(100);
        clock += roll < 3 ? -random.bounded(500'000) : roll < 4 ? 10'000'000 : roll < 10 ? 0 : random.bounded(1000);
        QString text;
        for (int w = random.bounded(1, 4); w > 0; --w)
            text += words[random.bounded(words.size())] + QLatin1Char(' ');
        const ClipKind kind = random.bounded(10) == 0 ? ClipKind::link : ClipKind::text;
        const ClipItem item = record(kind, text, std::nullopt, clock);
        ASSERT_TRUE(store->insert(item).ok());
        inserted.append(item.id);
        if (i % 500 == 499) {
            ASSERT_TRUE(store->save().ok());
        }
    }
    // The newest of many blocks goes, and a run of the oldest, as pruning would.
    for (int i = 0; i < 400; ++i) {
        ASSERT_TRUE(store->remove(inserted[random.bounded(inserted.size())]).ok());
    }
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(store->remove(inserted[i]).ok());
    }
    ASSERT_TRUE(store->save().ok());

    auto search = searchOf(store->connectionName());
    ASSERT_TRUE(search);
    const auto agree = [&](const char* when) {
        for (const char* query : {"alpha", "ALPHA BETA", "epsilon", "a ze", "mma del", "zeta zeta", "nothing"}) {
            for (const std::optional<ClipKind> kind : {std::optional<ClipKind>(), std::optional(ClipKind::link)}) {
                for (const int limit : {1, 7, 200, 5000}) {
                    const SearchOutcome indexed = run(*search, QString::fromUtf8(query), kind, limit, true);
                    const SearchOutcome scanned = run(*search, QString::fromUtf8(query), kind, limit, false);
                    EXPECT_TRUE(indexed.indexed);
                    EXPECT_EQ(ids(indexed.items), ids(scanned.items))
                        << when << ": query \"" << query << "\" limit " << limit << (kind ? " links" : "");
                }
            }
        }
    };
    agree("deletions queued");
    purgeIndex(store->connectionName());
    agree("deletions worked off");
}

// SQLite gives a new record the pk of the newest one deleted before it; the index then holds the new
// record's trigrams only, whether or not the deletion had been worked off.
TEST(HistorySearchTest, APkUsedAgainCarriesOnlyTheNewRecordsText)
{
    auto store = value(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    auto search = searchOf(store->connectionName());
    ASSERT_TRUE(search);
    const ClipItem older = record(ClipKind::text, QStringLiteral("shared words apple"), std::nullopt, 1);
    for (const bool workedOff : {false, true}) {
        const ClipItem newest = record(ClipKind::link, QStringLiteral("shared words banana"), std::nullopt, 2);
        const ClipItem again = record(ClipKind::text, QStringLiteral("shared words cherry"), std::nullopt, 3);
        if (!workedOff) {
            ASSERT_TRUE(store->insert(older).ok());
        }
        ASSERT_TRUE(store->insert(newest).ok());
        ASSERT_TRUE(store->save().ok());
        ASSERT_TRUE(store->remove(newest.id).ok());
        ASSERT_TRUE(store->save().ok());
        if (workedOff)
            purgeIndex(store->connectionName());
        ASSERT_TRUE(store->insert(again).ok());
        ASSERT_TRUE(store->save().ok());
        for (const bool useIndex : {true, false}) {
            EXPECT_TRUE(run(*search, QStringLiteral("banana"), std::nullopt, 200, useIndex).items.isEmpty());
            EXPECT_TRUE(run(*search, QStringLiteral("banana"), ClipKind::link, 200, useIndex).items.isEmpty());
            EXPECT_EQ(ids(run(*search, QStringLiteral("cherry"), ClipKind::text, 200, useIndex).items),
                      QList<QUuid>{again.id});
            EXPECT_EQ(run(*search, QStringLiteral("shared"), std::nullopt, 200, useIndex).items.size(), 2);
        }
        purgeIndex(store->connectionName());
        EXPECT_EQ(ids(run(*search, QStringLiteral("cherry")).items), QList<QUuid>{again.id});
        EXPECT_EQ(run(*search, QStringLiteral("shared words")).items.size(), 2) << "worked off: " << workedOff;
        ASSERT_TRUE(store->remove(again.id).ok());
        ASSERT_TRUE(store->save().ok());
    }
}

TEST(HistorySearchTest, AScanStopsAtItsBudgetOrWhenInterrupted)
{
    auto store = value(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    for (int i = 0; i < 60000; ++i) {
        ASSERT_TRUE(
            store->insert(record(ClipKind::text, QStringLiteral("plain plain words %1").arg(i), std::nullopt, i)).ok());
    }
    ASSERT_TRUE(store->save().ok());
    auto search = searchOf(store->connectionName());
    ASSERT_TRUE(search);

    // A scan, and the index's candidates when every record holds every trigram of the query.
    SearchLimits limits;
    for (const char* query : {"ж", "plain plain plain"}) {
        QElapsedTimer timer;
        timer.start();
        const SearchOutcome full = run(*search, QString::fromUtf8(query));
        const qint64 fullSearch = timer.elapsed();
        EXPECT_TRUE(full.complete && full.items.isEmpty());
        limits.workBudget = std::chrono::milliseconds(1);
        Result<SearchOutcome> bounded = search->run(SearchQuery{QString::fromUtf8(query)}, limits);
        ASSERT_TRUE(bounded.ok());
        EXPECT_EQ(bounded->indexed, full.indexed);
        // Only a search clearly longer than the budget can show it stopping early.
        if (fullSearch >= 5) {
            EXPECT_FALSE(bounded->complete) << query << ": the whole search took " << fullSearch << " ms";
        }
    }

    // Partial results come newest first while the scan goes on.
    QList<int> partialSizes;
    limits.workBudget = {};
    limits.partialInterval = std::chrono::milliseconds(0);
    limits.partial = [&](const QList<ClipItem>& items) {
        partialSizes.append(static_cast<int>(items.size()));
        if (!items.isEmpty()) {
            EXPECT_EQ(items.first().contentText, QStringLiteral("plain plain words 59999"));
        }
    };
    ASSERT_TRUE(search->run(SearchQuery{QStringLiteral("9")}, limits).ok());
    EXPECT_FALSE(partialSizes.isEmpty());
    EXPECT_TRUE(std::is_sorted(partialSizes.cbegin(), partialSizes.cend()));
    // Nothing found is said once, early, rather than only when the search ends.
    partialSizes.clear();
    ASSERT_TRUE(search->run(SearchQuery{QStringLiteral("ж")}, limits).ok());
    EXPECT_EQ(partialSizes, QList<int>{0});

    std::atomic<bool> done = false;
    Result<SearchOutcome> interrupted = SearchOutcome{};
    std::thread worker([&] {
        interrupted = search->run(SearchQuery{QStringLiteral("ж")});
        done = true;
    });
    while (!done)
        search->interrupt();
    worker.join();
    EXPECT_FALSE(interrupted.ok());
    EXPECT_TRUE(search->interrupted());
    // The next search runs normally.
    EXPECT_EQ(run(*search, QStringLiteral("words 42"), std::nullopt, 1).items.size(), 1);
}

TEST(HistorySearchTest, ANewRequestSupersedesTheOneBefore)
{
    auto store = value(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    for (int i = 0; i < 30000; ++i) {
        ASSERT_TRUE(store->insert(record(ClipKind::text, QStringLiteral("text %1").arg(i), std::nullopt, i)).ok());
    }
    ASSERT_TRUE(store->save().ok());
    SearchService service(store->connectionName());
    QSignalSpy finished(&service, &SearchService::finished);
    QSignalSpy partial(&service, &SearchService::partial);
    const quint64 slow = service.request(SearchQuery{QStringLiteral("ж")}, {});
    const quint64 quick = service.request(SearchQuery{QStringLiteral("text 7"), std::nullopt, 3}, {});
    EXPECT_NE(slow, quick);
    EXPECT_TRUE(finished.wait(10000));
    QCoreApplication::processEvents();
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].value<quint64>(), quick);
    EXPECT_EQ(finished[0][1].value<QList<ClipItem>>().size(), 3);
    for (const QList<QVariant>& arguments : partial) {
        EXPECT_EQ(arguments[0].value<quint64>(), quick);
    }
}

// A build killed in the middle of a batch leaves a store that opens, searches, and finishes the build.
TEST(HistorySearchTest, AKilledIndexBuildResumes)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
    {
        auto store = value(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        for (int i = 0; i < 20000; ++i) {
            const QString text = QStringLiteral("record %1 %2").arg(i).arg(i % 7 == 0 ? "seventh" : "other");
            ASSERT_TRUE(store->insert(record(ClipKind::text, text, std::nullopt, i * 10)).ok());
        }
        ASSERT_TRUE(store->save().ok());
    }
    makeFirstReleaseStore(path);
    value(HistoryStore::openFile(path)).reset();  // the upgrade
    const qint64 start = rawInt(path, "SELECT indexedAbove FROM search_state");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool built = buildIndex(path, 20).ok();
        ::_exit(built ? 0 : 1);
    }
    // Killed once some batches are in, which is some way into the build.
    QElapsedTimer waited;
    waited.start();
    while (rawInt(path, "SELECT indexedAbove FROM search_state") > start - 2000 && waited.elapsed() < 20000) {
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const qint64 cut = rawInt(path, "SELECT indexedAbove FROM search_state");
    EXPECT_LT(cut, start);

    auto store = value(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    auto search = searchOf(path);
    ASSERT_TRUE(search);
    EXPECT_EQ(run(*search, QStringLiteral("seventh")).items.size(), 200);
    ASSERT_TRUE(buildIndex(path, 500).ok());
    EXPECT_EQ(*store->searchIndexComplete(), true);
    for (const char* query : {"seventh", "record 1999", "other", "record 7 "}) {
        const SearchOutcome indexed = run(*search, QString::fromUtf8(query), std::nullopt, 5000, true);
        EXPECT_TRUE(indexed.indexed);
        EXPECT_EQ(ids(indexed.items), ids(run(*search, QString::fromUtf8(query), std::nullopt, 5000, false).items))
            << query;
    }
}

// The background maintenance works off what deletions queued, whenever it is told the store changed.
TEST(HistorySearchTest, MaintenanceTakesDeletedRecordsOutOfTheIndex)
{
    auto store = value(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    SearchIndexMaintenance maintenance(store->connectionName(), 0);
    QSignalSpy built(&maintenance, &SearchIndexMaintenance::buildFinished);
    maintenance.start();
    QElapsedTimer waited;
    waited.start();
    // Once the start's own work is done, only a change can set it to work again.
    while ((built.isEmpty() || !maintenance.isIdle()) && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QList<ClipItem> items;
    for (int i = 0; i < 300; ++i) {
        items.append(record(ClipKind::text, QStringLiteral("entry %1").arg(i), std::nullopt, i));
        ASSERT_TRUE(store->insert(items.last()).ok());
    }
    ASSERT_TRUE(store->save().ok());
    for (int i = 0; i < 250; ++i) {
        ASSERT_TRUE(store->remove(items[i].id).ok());
    }
    ASSERT_TRUE(store->save().ok());
    const auto pending = [&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(store->connectionName().toUtf8().constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                        nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM search_pending", -1, &statement, nullptr);
        const qint64 count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return count;
    };
    EXPECT_EQ(pending(), 250);
    EXPECT_EQ(pending(), 250);
    maintenance.storeChanged();
    waited.restart();
    while ((pending() != 0 || !maintenance.isIdle()) && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(pending(), 0);
    ASSERT_EQ(built.size(), 1);
    EXPECT_TRUE(built[0][0].toBool());
    auto search = searchOf(store->connectionName());
    EXPECT_EQ(run(*search, QStringLiteral("entry")).items.size(), 50);
}
