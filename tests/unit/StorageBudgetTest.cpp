#include "history/HistoryStore.h"
#include "history/StorageBudget.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

constexpr qint64 MB = 1'048'576;

struct Budget {
    explicit Budget(qint64 maxStorageMB)
        : store(std::move(HistoryStore::openInMemory()).value()),
          budget(*store, [this] { return limitMB * MB; }),
          limitMB(maxStorageMB)
    {
    }

    // Stores a record of the given size, `seconds` after a fixed start, the way the watcher does.
    void add(qint64 byteSize, int seconds, bool enforce = true, bool pinned = false)
    {
        ClipItem item = ClipItem::make(ClipKind::text, QStringLiteral("r%1").arg(seconds), std::nullopt, std::nullopt,
                                       std::nullopt, std::nullopt, start.addSecs(seconds));
        item.byteSize = byteSize;
        item.pinned = pinned;
        ASSERT_TRUE(store->insert(item).ok());
        ASSERT_TRUE(store->save().ok());
        if (enforce)
            budget.enforce();
    }

    QStringList texts() const
    {
        FetchDescriptor all;
        all.sortByCreatedAt = SortOrder::ascending;
        QStringList list;
        for (const ClipItem& item : store->fetch(all).value())
            list.append(*item.contentText);
        return list;
    }

    std::unique_ptr<HistoryStore> store;
    StorageBudget budget;
    qint64 limitMB;
    QDateTime start = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
};

}  // namespace

TEST(StorageBudget, OldestRecordsGoUntilTheStoreFits)
{
    struct Case {
        const char* name;
        qint64 budgetMB;
        QList<qint64> sizes;  // stored in this order, the budget run after each
        QStringList left;
    };
    const QList<Case> cases = {
        {"a fourth of 40 MB deletes exactly the two oldest",
         100,
         {40 * MB, 40 * MB, 40 * MB, 40 * MB},
         {QStringLiteral("r3"), QStringLiteral("r4")}},
        {"a record larger than the budget empties the history", 100, {10, 10, 101 * MB}, {}},
        {"within the budget nothing goes", 100, {50 * MB, 50 * MB}, {QStringLiteral("r1"), QStringLiteral("r2")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Budget b(c.budgetMB);
        for (int i = 0; i < c.sizes.size(); ++i)
            b.add(c.sizes[i], i + 1);
        EXPECT_EQ(b.texts(), c.left);
        EXPECT_LE(b.store->totalByteSize().value(), c.budgetMB * MB);
    }
}

// Pinned records count in the total but are never pruned; when they alone are over the budget, every
// unpinned record goes (a new one at once) and the pruning ends there.
TEST(StorageBudget, PinnedRecordsCountButStay)
{
    struct Record {
        qint64 size;
        bool pinned = false;
    };
    struct Case {
        const char* name;
        QList<Record> records;  // stored in this order, the budget run after each
        QStringList left;
        qint64 total;
    };
    const QList<Case> cases = {
        {"the oldest unpinned go, the pinned oldest stays",
         {{40 * MB, true}, {40 * MB}, {40 * MB}, {40 * MB}},
         {QStringLiteral("r1"), QStringLiteral("r4")},
         80 * MB},
        {"pinned alone over the budget: every unpinned record goes, new ones at once",
         {{10}, {60 * MB, true}, {20}, {60 * MB, true}, {30}},
         {QStringLiteral("r2"), QStringLiteral("r4")},
         120 * MB},
        {"pinned bytes leave less room for the others",
         {{30 * MB}, {30 * MB}, {90 * MB, true}},
         {QStringLiteral("r3")},
         90 * MB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Budget b(100);
        for (int i = 0; i < c.records.size(); ++i)
            b.add(c.records[i].size, i + 1, true, c.records[i].pinned);
        EXPECT_EQ(b.texts(), c.left);
        EXPECT_EQ(b.store->totalByteSize().value(), c.total);
        // Over the budget with only pinned records left, a run deletes nothing and writes nothing.
        QSignalSpy saves(b.store.get(), &HistoryStore::changed);
        EXPECT_EQ(b.budget.enforce(), 0);
        EXPECT_EQ(saves.count(), 0);
    }
}

TEST(StorageBudget, LoweringTheSettingDeletesOnlyAtTheNextRecord)
{
    Budget b(500);
    for (int i = 1; i <= 10; ++i)
        b.add(40 * MB, i);
    ASSERT_EQ(b.texts().size(), 10);
    b.limitMB = 100;
    EXPECT_EQ(b.texts().size(), 10) << "changing the setting deletes nothing by itself";
    b.add(1, 11);
    // 10 × 40 MB + 1 byte must come down to at most 100 MB: the oldest go until two records and the new one remain.
    EXPECT_EQ(b.texts(), (QStringList{QStringLiteral("r9"), QStringLiteral("r10"), QStringLiteral("r11")}));
    EXPECT_EQ(b.store->totalByteSize().value(), 80 * MB + 1);
}

TEST(StorageBudget, PrunesInBatchesOfThirtyTwoWithASaveAfterEach)
{
    Budget b(100);
    for (int i = 0; i < 99; ++i)
        b.add(1 * MB, i, false);
    b.add(200 * MB, 100, false);
    QSignalSpy saves(b.store.get(), &HistoryStore::changed);
    EXPECT_EQ(b.budget.enforce(), 100);
    EXPECT_TRUE(b.texts().isEmpty());
    EXPECT_EQ(saves.count(), 4) << "batches of 32, 32, 32 and 4";
}

TEST(StorageBudget, AStoreThatRefusesDeletionsStopsThePruning)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
    {
        auto writable = std::move(HistoryStore::openFile(path)).value();
        for (int i = 0; i < 3; ++i) {
            ClipItem item = ClipItem::make(ClipKind::text, QStringLiteral("r%1").arg(i), std::nullopt, std::nullopt,
                                           std::nullopt, std::nullopt, QDateTime::currentDateTimeUtc().addSecs(i));
            item.byteSize = 40 * MB;
            ASSERT_TRUE(writable->insert(item).ok());
        }
        ASSERT_TRUE(writable->save().ok());
    }
    auto readOnly = std::move(HistoryStore::openReadOnly(path)).value();
    StorageBudget budget(*readOnly, [] { return 100 * MB; });
    // Would loop over the same records forever if failures were ignored.
    EXPECT_EQ(budget.enforce(), 0);
    EXPECT_EQ(readOnly->count().value(), 3);
}
