#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "history/SearchFolding.h"
#include "history/SearchIndexBuilder.h"
#include "history/SearchService.h"
#include "support/HistoryTesting.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <csignal>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

ClipItem record(ClipKind kind, std::optional<QString> text, std::optional<QString> source, qint64 msecs)
{
    std::optional<QByteArray> image;
    if (kind == ClipKind::image)
        image = QByteArray(8, 'i');
    return ClipItem::make(kind, std::move(text), std::move(image), std::nullopt, std::nullopt, std::move(source),
                          at(msecs));
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
    QStringList pinned = {QStringLiteral("cafe"), QStringLiteral("link-b"), QStringLiteral("image"),
                          QStringLiteral("lines")};

    void insertInto(HistoryStore& store)
    {
        for (auto& [name, item] : records) {
            if (name == QLatin1String("odd-kind"))
                item.kindRaw = QStringLiteral("rtf");
            item.pinned = pinned.contains(name);
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
        for (const ClipItem& item : items) {
            found.append(byId.value(item.id, QStringLiteral("?")));
            EXPECT_EQ(item.pinned, pinned.contains(found.last())) << found.last().toStdString();
        }
        return found.join(QLatin1Char(','));
    }
};

struct MatchCase {
    const char* search;
    std::optional<ClipKind> kind;
    int limit;
    const char* expected;  // names, newest first
    bool pinnedOnly = false;
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
    // Pinned only narrows every search.
    {"", std::nullopt, 200, "link-b,lines,image,cafe", true},
    {"", std::nullopt, 2, "link-b,lines", true},
    {"", ClipKind::link, 200, "link-b", true},
    {"example", std::nullopt, 200, "link-b", true},
    {"line", std::nullopt, 200, "lines", true},
    {"viewer", std::nullopt, 200, "image", true},
    {"e", std::nullopt, 200, "link-b,lines,image,cafe", true},
    {"100%", std::nullopt, 200, "", true},
    {"", ClipKind::color, 200, "", true},
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

TEST(HistorySearchTest, MatchingRulesHoldThroughTheIndexAndTheScan)
{
    NamedRecords named;
    auto store = valueOf(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    named.insertInto(*store);
    auto search = valueOf(HistorySearch::open(store->connectionName()));
    ASSERT_TRUE(search);
    expectMatchingRules(*search, named, true, true, "indexed");
    expectMatchingRules(*search, named, false, false, "scan");
}

// A store of the first release is searched read-only as it is, and once upgraded, while its records wait for
// the background build (new ones indexed as they come) and after it.
TEST(HistorySearchTest, AStoreOfTheFirstReleaseSearchesBeforeDuringAndAfterTheBuild)
{
    const QString path = storePath();
    NamedRecords named;
    {
        auto store = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        named.insertInto(*store);
    }
    makeStoreVersion(path, 0);
    named.pinned.clear();
    // A NUL kept in the folded text by the first release is folded again by the build.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    rawExecute(
        db, "UPDATE clip SET searchText = 'before' || char(0) || 'after' || char(10) WHERE contentText LIKE 'before%'");
    sqlite3_close(db);
    {
        auto reader = valueOf(HistoryStore::openReadOnly(path));
        ASSERT_TRUE(reader);
        EXPECT_FALSE(valueOf(reader->searchIndexComplete()));
        auto search = valueOf(HistorySearch::open(path));
        ASSERT_TRUE(search);
        expectMatchingRules(*search, named, true, false, "first release, read-only");
    }
    auto store = valueOf(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    EXPECT_FALSE(valueOf(store->searchIndexComplete()));
    auto search = valueOf(HistorySearch::open(path));
    ASSERT_TRUE(search);
    expectMatchingRules(*search, named, true, false, "upgraded, index pending");

    // Records captured while the build runs are indexed as they come.
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
    auto store = valueOf(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
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
    ASSERT_TRUE(search);
    const auto agree = [&](const char* when) {
        for (const char* query : {"alpha", "ALPHA BETA", "epsilon", "a ze", "mma del", "zeta zeta", "nothing"}) {
            for (const std::optional<ClipKind> kind : {std::optional<ClipKind>(), std::optional(ClipKind::link)}) {
                for (const int limit : {1, 7, 200, 5000}) {
                    SCOPED_TRACE(std::string(when) + ": " + query + " limit " + std::to_string(limit) +
                                 (kind ? " links" : ""));
                    const SearchOutcome indexed = run(*search, QString::fromUtf8(query), kind, limit, true);
                    EXPECT_TRUE(indexed.indexed);
                    EXPECT_EQ(ids(indexed.items),
                              ids(run(*search, QString::fromUtf8(query), kind, limit, false).items));
                }
            }
        }
    };
    // The newest of many blocks goes, a run of the oldest as pruning would, and the newest of all, whose pks
    // the next records take again while their deletions are still queued.
    for (int i = 0; i < 300; ++i) {
        expectOk(store->remove(inserted[random.bounded(inserted.size())]));
        expectOk(store->remove(inserted[i]));
    }
    for (int i = 0; i < 20; ++i)
        expectOk(store->remove(inserted.takeLast()));
    add(20);
    agree("deletions queued");
    purgeIndex(store->connectionName());
    agree("deletions worked off");
    for (int i = 0; i < 20; ++i)
        expectOk(store->remove(inserted.takeLast()));
    expectOk(store->save());
    purgeIndex(store->connectionName());
    add(20);
    agree("pks taken again after the deletions were worked off");
}

TEST(HistorySearchTest, AScanStopsAtItsBudgetOrWhenInterruptedAndShowsWhatItFoundMeanwhile)
{
    auto store = valueOf(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    for (int i = 0; i < 60000; ++i)
        expectOk(store->insert(record(ClipKind::text, QStringLiteral("plain plain words %1").arg(i), {}, i)));
    expectOk(store->save());
    auto search = valueOf(HistorySearch::open(store->connectionName()));
    ASSERT_TRUE(search);
    // A scan, and the index's candidates when every record holds every trigram of the query.
    for (const char* query : {"ж", "plain plain plain"}) {
        QElapsedTimer timer;
        timer.start();
        const SearchOutcome full = run(*search, QString::fromUtf8(query));
        const qint64 fullSearch = timer.elapsed();
        EXPECT_TRUE(full.complete && full.items.isEmpty());
        const SearchOutcome bounded =
            valueOf(search->run({QString::fromUtf8(query)}, {.workBudget = std::chrono::milliseconds(1)}));
        EXPECT_EQ(bounded.indexed, full.indexed);
        // Only a search clearly longer than the budget can show it stopping early.
        if (fullSearch >= 5) {
            EXPECT_FALSE(bounded.complete) << query << ": the whole search took " << fullSearch << " ms";
        }
    }
    // Partial results come newest first while the scan goes on; nothing found is said once, early.
    QList<int> partialSizes;
    SearchLimits limits{.partialInterval = std::chrono::milliseconds(0)};
    limits.partial = [&](const QList<ClipItem>& items) {
        partialSizes.append(static_cast<int>(items.size()));
        EXPECT_EQ(items.value(0, record(ClipKind::text, QStringLiteral("plain plain words 59999"), {}, 0)).contentText,
                  QStringLiteral("plain plain words 59999"));
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

TEST(HistorySearchTest, ANewRequestSupersedesTheOneBefore)
{
    auto store = valueOf(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    for (int i = 0; i < 30000; ++i)
        expectOk(store->insert(record(ClipKind::text, QStringLiteral("text %1").arg(i), std::nullopt, i)));
    expectOk(store->save());
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
    for (const QList<QVariant>& arguments : partial)
        EXPECT_EQ(arguments[0].value<quint64>(), quick);
}

// A build killed in the middle of a batch leaves a store that opens, searches, and finishes the build.
TEST(HistorySearchTest, AKilledIndexBuildResumes)
{
    const QString path = storePath();
    {
        auto store = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        for (int i = 0; i < 20000; ++i) {
            const QString text = QStringLiteral("record %1 %2").arg(i).arg(i % 7 == 0 ? "seventh" : "other");
            expectOk(store->insert(record(ClipKind::text, text, std::nullopt, i * 10)));
        }
        expectOk(store->save());
    }
    makeStoreVersion(path, 0);
    valueOf(HistoryStore::openFile(path)).reset();  // the upgrade
    const qint64 start = rawInt(path, "SELECT indexedAbove FROM search_state");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(buildIndex(path, 20).ok() ? 0 : 1);
    // Killed once some batches are in, which is some way into the build.
    QElapsedTimer waited;
    waited.start();
    while (rawInt(path, "SELECT indexedAbove FROM search_state") > start - 2000 && waited.elapsed() < 20000) {
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_LT(rawInt(path, "SELECT indexedAbove FROM search_state"), start);

    auto store = valueOf(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    auto search = valueOf(HistorySearch::open(path));
    ASSERT_TRUE(search);
    EXPECT_EQ(run(*search, QStringLiteral("seventh")).items.size(), 200);
    ASSERT_TRUE(buildIndex(path, 500).ok());
    EXPECT_TRUE(valueOf(store->searchIndexComplete()));
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
    auto store = valueOf(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
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
    QList<ClipItem> items;
    for (int i = 0; i < 300; ++i) {
        items.append(record(ClipKind::text, QStringLiteral("entry %1").arg(i), std::nullopt, i));
        expectOk(store->insert(items.last()));
    }
    expectOk(store->save());
    for (int i = 0; i < 250; ++i)
        expectOk(store->remove(items[i].id));
    expectOk(store->save());
    const auto pending = [&] { return rawInt(store->connectionName(), "SELECT count(*) FROM search_pending"); };
    EXPECT_EQ(pending(), 250);
    maintenance.storeChanged();
    waitFor([&] { return pending() == 0 && maintenance.isIdle(); });
    EXPECT_EQ(pending(), 0);
    ASSERT_EQ(built.size(), 1);
    EXPECT_TRUE(built[0][0].toBool());
    auto search = valueOf(HistorySearch::open(store->connectionName()));
    EXPECT_EQ(run(*search, QStringLiteral("entry")).items.size(), 50);
}
