#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "history/SearchFolding.h"
#include "history/SearchIndexBuilder.h"
#include "support/HistoryTesting.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <csignal>
#include <thread>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

ClipItem record(ClipKind kind, std::optional<QString> text, std::optional<QString> source, qint64 msecs)
{
    return ClipItem::make(kind, std::move(text),
                          kind == ClipKind::image ? std::optional(QByteArray(8, 'i')) : std::nullopt, std::nullopt,
                          std::nullopt, std::move(source), at(msecs));
}

SearchOutcome run(HistorySearch& search, const QString& text, std::optional<ClipKind> kind = std::nullopt,
                  int limit = 200, bool useIndex = true, bool pinnedOnly = false)
{
    return valueOf(search.run(SearchQuery{text, kind, limit, pinnedOnly}, {.useIndex = useIndex}));
}

// Read through a connection of its own (a writer killed a moment ago leaves its journal to recover).
qint64 rawInt(const QString& name, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(name).constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    sqlite3_busy_timeout(db, 10000);
    const qint64 value = test::rawInt(db, sql);
    sqlite3_close(db);
    return value;
}

QList<QUuid> ids(const QList<ClipItem>& items)
{
    QList<QUuid> result;
    for (const ClipItem& item : items)
        result.append(item.id);
    return result;
}

void expectIndexAgrees(HistorySearch& search, const QStringList& queries, std::optional<ClipKind> kind, int limit)
{
    for (const QString& query : queries) {
        const SearchOutcome indexed = run(search, query, kind, limit, true);
        EXPECT_TRUE(indexed.indexed);
        EXPECT_EQ(ids(indexed.items), ids(run(search, query, kind, limit, false).items))
            << query.toStdString() << " limit " << limit << (kind ? " links" : "");
    }
}

// Records named so that results read as names, a second apart; the matching rules' cases refer to them.
struct NamedRecords {
    QList<std::pair<QString, ClipItem>> records;
    QStringList pinned = {QStringLiteral("cafe"), QStringLiteral("link-b"), QStringLiteral("image"),
                          QStringLiteral("lines")};
    void insertInto(HistoryStore& store)
    {
        const std::tuple<const char*, ClipKind, std::optional<QString>, std::optional<QString>> table[] = {
            {"long", ClipKind::text, "needle-head " + QString(searchedCharacters, u'x') + " needle-tail", {}},
            {"cafe", ClipKind::text, "Un café au lait", "Terminal"},
            {"link-a", ClipKind::link, "https://a.example/x", "Firefox"},
            {"colour", ClipKind::color, "#1e90ff", {}},
            {"percent", ClipKind::text, "100% sure_thing", "Notes"},
            {"image", ClipKind::image, {}, "Viewer"},
            {"lines", ClipKind::text, "line one\nline two", "Editor"},
            {"no-text", ClipKind::text, {}, "Ghost"},
            {"link-b", ClipKind::link, "https://b.example/", "Firefox"},
            {"glob", ClipKind::text, "a*b?c[d]", {}},
            {"odd-kind", ClipKind::text, "kept as is", {}},
            {"nul", ClipKind::text, QStringLiteral("before") + QChar(0) + "after", {}},
            {"straße", ClipKind::text, "Große Straße", "ＭＡＩＬ"},
        };
        for (const auto& [name, kind, text, source] : table) {
            ClipItem item = record(kind, text, source, 1000 * (records.size() + 1));
            if (name == QLatin1String("odd-kind"))
                item.kindRaw = QStringLiteral("rtf");
            item.pinned = pinned.contains(QString::fromUtf8(name));
            records.append({QString::fromUtf8(name), item});
            expectOk(store.insert(item));
        }
        expectOk(store.save());
    }
    QString names(const QList<ClipItem>& items) const
    {
        QStringList found;
        for (const ClipItem& item : items) {
            const auto at =
                std::find_if(records.cbegin(), records.cend(), [&](auto& r) { return r.second.id == item.id; });
            found.append(at == records.cend() ? QStringLiteral("?") : at->first);
            EXPECT_EQ(item.pinned, pinned.contains(found.last())) << found.last().toStdString();
        }
        return found.join(QLatin1Char(','));
    }
};

struct MatchCase {
    const char* search;
    const char* expected;  // names, newest first
    std::optional<ClipKind> kind = std::nullopt;
    int limit = 200;
    bool pinnedOnly = false;
};

const MatchCase matchCases[] = {
    {"", "straße,nul,odd-kind,glob,link-b,no-text,lines,image,percent,colour,link-a,cafe,long"},
    {"CAFÉ", "cafe"},
    {"firefox", "link-b,link-a"},
    {"", "link-b,link-a", ClipKind::link},
    {"", "straße,nul,glob,no-text,lines,percent,cafe,long", ClipKind::text},
    {"fire", "", ClipKind::text},
    {"A.EXAMPLE", "link-a", ClipKind::link},
    {"example", "link-b", std::nullopt, 1},
    {"", "straße,nul", std::nullopt, 2},
    {"STRASSE", "straße"},
    {"mail", "straße"},
    // Full case folding (ß is ss); the source name alone makes an image findable; unknown kinds match none.
    {"viewer", "image"},
    {"kept", "odd-kind"},
    {"kept", "", ClipKind::text},
    // Pattern characters of LIKE, GLOB and the index's query language are plain characters.
    {"%", "percent"},
    {"*", "glob"},
    {"b?c[d]", "glob"},
    {"\"", ""},
    {"a\" OR \"b", ""},
    {"e", "straße,nul,odd-kind", std::nullopt, 3},
    {"ÉR", "nul,image,cafe"},
    {"after", "nul"},
    // A line feed in the query matches inside the text, never across into the source name.
    {"one\nline", "lines"},
    {"two\neditor", ""},
    {"lait\nterminal", ""},
    // Short queries, a NUL, the first million characters only, a query that folds to nothing.
    {"needle-head", "long"},
    {"needle-tail", ""},
    {"\u0301", ""},
    // Pinned only narrows every search.
    {"", "link-b,lines,image,cafe", std::nullopt, 200, true},
    {"e", "link-b,lines,image,cafe", std::nullopt, 200, true},
    {"100%", "", std::nullopt, 200, true},
};

void expectMatchingRules(HistorySearch& search, const NamedRecords& named, bool useIndex, bool expectIndexed,
                         const char* mode)
{
    for (const MatchCase& c : matchCases) {
        SCOPED_TRACE(std::string(mode) + ": search \"" + c.search + "\" kind " +
                     (c.kind ? rawValue(*c.kind).toStdString() : "none") + (c.pinnedOnly ? " pinned" : ""));
        const QString text = QString::fromUtf8(c.search);
        const SearchOutcome outcome = run(search, text, c.kind, c.limit, useIndex, c.pinnedOnly);
        EXPECT_EQ(named.names(outcome.items),
                  QString::fromUtf8(c.pinnedOnly && named.pinned.isEmpty() ? "" : c.expected));
        EXPECT_TRUE(outcome.complete);
        EXPECT_EQ(outcome.indexed, expectIndexed && !indexQuery(foldForSearch(text), c.kind).isEmpty());
    }
}

}  // namespace

// The rules hold in a store of the current layout, and in one of the first release read-only as it is, and
// once upgraded, while its records wait for the background build (new ones indexed as they come) and after.
TEST(HistorySearchTest, MatchingRulesHoldThroughTheIndexAndTheScanBeforeDuringAndAfterTheBuild)
{
    const QString path = storePath();
    NamedRecords named;
    named.insertInto(*makeStore({}, path));
    auto search = valueOf(HistorySearch::open(path));
    expectMatchingRules(*search, named, true, true, "indexed");
    expectMatchingRules(*search, named, false, false, "scan");
    search.reset();
    makeStoreVersion(path, 0);
    named.pinned.clear();
    // A NUL kept in the folded text by the first release is folded again by the build.
    rawFile(path,
            "UPDATE clip SET searchText = 'before' || char(0) || 'after' || char(10) WHERE contentText LIKE 'b%'");
    EXPECT_FALSE(valueOf(valueOf(HistoryStore::openReadOnly(path))->searchIndexComplete()));
    expectMatchingRules(*valueOf(HistorySearch::open(path)), named, true, false, "first release, read-only");
    auto store = valueOf(HistoryStore::openFile(path));
    EXPECT_FALSE(valueOf(store->searchIndexComplete()));
    search = valueOf(HistorySearch::open(path));
    expectMatchingRules(*search, named, true, false, "upgraded, index pending");
    const ClipItem fresh = record(ClipKind::text, QStringLiteral("captured meanwhile"), std::nullopt, 20000);
    expectOk(store->insert(fresh));
    expectOk(store->save());
    ASSERT_TRUE(buildIndex(path, 5).ok());
    EXPECT_TRUE(valueOf(store->searchIndexComplete()));
    EXPECT_EQ(ids(run(*search, QStringLiteral("MEANWHILE")).items), QList<QUuid>{fresh.id});
    expectOk(store->remove(fresh.id));
    expectOk(store->save());
    expectMatchingRules(*search, named, true, true, "upgraded, index built");
}

// Through insertions whose times go backwards and forwards, ties, deletions of the newest of a block, and pks
// that SQLite hands out again (before and after the deletion's entries were worked off), the index answers
// exactly as the scan does, for every limit.
TEST(HistorySearchTest, IndexAgreesWithTheScanWhateverTheOrderOfTimes)
{
    auto store = makeStore({});
    QRandomGenerator random(42);
    const QStringList words = QStringLiteral("alpha beta gamma delta Épsilon zeta").split(u' ');
    QList<QUuid> inserted;
    qint64 clock = 1'000'000;
    const auto add = [&](int count) {
        for (int i = 0; i < count; ++i) {
            // Mostly forwards; now and then the clock jumps back (or far ahead) and ties happen.
            const int roll = random.bounded(100);
            clock += roll < 3 ? -random.bounded(500'000) : roll < 4 ? 10'000'000 : roll < 10 ? 0 : random.bounded(1000);
            QString text;
            for (int w = random.bounded(1, 4); w > 0; --w)
                text += words[random.bounded(words.size())] + QLatin1Char(' ');
            const ClipItem item = record(random.bounded(10) ? ClipKind::text : ClipKind::link, text, {}, clock);
            inserted.append(item.id);
            expectOk(store->insert(item));
        }
        expectOk(store->save());
    };
    add(3000);
    auto search = valueOf(HistorySearch::open(store->connectionName()));
    // The newest of many blocks goes, a run of the oldest as pruning would, and the newest of all, whose pks
    // the next records take again while their deletions are still queued, then after they were worked off.
    for (int i = 0; i < 300; ++i) {
        expectOk(store->remove(inserted[random.bounded(inserted.size())]));
        expectOk(store->remove(inserted[i]));
    }
    for (const bool purged : {false, true}) {
        SCOPED_TRACE(purged);
        for (int i = 0; i < 20; ++i)
            expectOk(store->remove(inserted.takeLast()));
        expectOk(store->save());
        if (purged)
            purgeIndex(store->connectionName());
        add(20);
        for (const std::optional<ClipKind> kind : {std::optional<ClipKind>(), std::optional(ClipKind::link)}) {
            for (const int limit : {1, 7, 200, 5000})
                expectIndexAgrees(*search, {"alpha", "ALPHA BETA", "epsilon", "a ze", "mma del", "nothing"}, kind,
                                  limit);
        }
    }
}

TEST(HistorySearchTest, AScanStopsAtItsBudgetOrWhenInterruptedAndShowsWhatItFoundMeanwhile)
{
    auto store = makeStore({});
    for (int i = 0; i < 60000; ++i)
        expectOk(store->insert(record(ClipKind::text, QStringLiteral("plain plain words %1").arg(i), {}, i)));
    expectOk(store->save());
    auto search = valueOf(HistorySearch::open(store->connectionName()));
    ASSERT_TRUE(search);
    // Only a search clearly longer than the budget can show it stopping early.
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(run(*search, QStringLiteral("ж")).complete);
    const qint64 whole = timer.elapsed();
    const SearchLimits budget{.workBudget = std::chrono::milliseconds(1)};
    EXPECT_TRUE(whole < 5 || !valueOf(search->run({QStringLiteral("ж")}, budget)).complete) << whole << " ms";
    // Partial results come newest first while the scan goes on; nothing found is said once, early.
    QList<int> partialSizes;
    SearchLimits limits{.partialInterval = std::chrono::milliseconds(0)};
    limits.partial = [&](const QList<ClipItem>& items) {
        partialSizes.append(static_cast<int>(items.size()));
        EXPECT_TRUE(items.isEmpty() || items[0].contentText == QStringLiteral("plain plain words 59999"));
    };
    valueOf(search->run({QStringLiteral("9")}, limits));
    EXPECT_FALSE(partialSizes.isEmpty());
    EXPECT_TRUE(std::is_sorted(partialSizes.cbegin(), partialSizes.cend()));
    partialSizes.clear();
    valueOf(search->run({QStringLiteral("ж")}, limits));
    EXPECT_EQ(partialSizes, QList<int>{0});
    std::atomic<bool> done = false;
    Result<SearchOutcome> interrupted = SearchOutcome{};
    std::thread worker([&] {
        interrupted = search->run({QStringLiteral("ж")});
        done = true;
    });
    while (!done)
        search->interrupt();
    worker.join();
    EXPECT_FALSE(interrupted.ok());
    EXPECT_TRUE(search->interrupted());
    EXPECT_EQ(run(*search, QStringLiteral("words 42"), std::nullopt, 1).items.size(), 1) << "the next search runs";
}

// A build killed in the middle of a batch leaves a store that opens, searches, and finishes the build.
TEST(HistorySearchTest, AKilledIndexBuildResumes)
{
    const QString path = storePath();
    QList<ClipItem> items;
    for (int i = 0; i < 20000; ++i)
        items.append(
            record(ClipKind::text, QStringLiteral("record %1 %2").arg(i).arg(i % 7 ? "other" : "seventh"), {}, i * 10));
    makeStore(items, path);
    makeStoreVersion(path, 0);
    valueOf(HistoryStore::openFile(path)).reset();  // the upgrade
    const auto indexedAbove = [&path] { return rawInt(path, "SELECT indexedAbove FROM search_state"); };
    const qint64 start = indexedAbove();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(buildIndex(path, 20).ok() ? 0 : 1);
    // Killed once some batches are in, which is some way into the build.
    QElapsedTimer waited;
    waited.start();
    while (indexedAbove() > start - 2000 && waited.elapsed() < 20000) {
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_LT(indexedAbove(), start);
    auto store = valueOf(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    auto search = valueOf(HistorySearch::open(path));
    EXPECT_EQ(run(*search, QStringLiteral("seventh")).items.size(), 200);
    ASSERT_TRUE(buildIndex(path, 500).ok());
    EXPECT_TRUE(valueOf(store->searchIndexComplete()));
    expectIndexAgrees(*search, {"seventh", "record 1999", "other", "record 7 "}, std::nullopt, 5000);
}

// The background maintenance works off what deletions queued, whenever it is told the store changed.
TEST(HistorySearchTest, MaintenanceTakesDeletedRecordsOutOfTheIndex)
{
    auto store = makeStore({});
    SearchIndexMaintenance maintenance(store->connectionName(), 0);
    QSignalSpy built(&maintenance, &SearchIndexMaintenance::buildFinished);
    maintenance.start();
    const auto waitFor = [](const std::function<bool()>& condition) {
        QElapsedTimer waited;
        waited.start();
        while (!condition() && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    // Once the start's own work is done, only a change can set it to work again.
    waitFor([&] { return !built.isEmpty() && maintenance.isIdle(); });
    for (int i = 0; i < 300; ++i)
        expectOk(store->insert(record(ClipKind::text, QStringLiteral("entry %1").arg(i), std::nullopt, i)));
    expectOk(store->save());
    for (const ClipItem& item : fetchAll(*store, {SortOrder::ascending, 250}))
        expectOk(store->remove(item.id));
    expectOk(store->save());
    const auto pending = [&] { return rawInt(store->connectionName(), "SELECT count(*) FROM search_pending"); };
    EXPECT_EQ(pending(), 250);
    maintenance.storeChanged();
    waitFor([&] { return pending() == 0 && maintenance.isIdle(); });
    EXPECT_EQ(pending(), 0);
    EXPECT_TRUE(built.size() == 1 && built[0][0].toBool());
    EXPECT_EQ(run(*valueOf(HistorySearch::open(store->connectionName())), QStringLiteral("entry")).items.size(), 50);
}
