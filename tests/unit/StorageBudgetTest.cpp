#include "history/HistoryStore.h"
#include "history/StorageBudget.h"
#include "platform/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

constexpr qint64 MB = 1'048'576;

struct Budget {
    explicit Budget(qint64 maxStorageMB)
        : translations(QString()), settings(defaults, loginItems, console, translations),
          store(std::move(HistoryStore::openInMemory()).value()), budget(*store, settings)
    {
        settings.setMaxStorageMB(maxStorageMB);
    }

    // Stores a record of the given size, `seconds` after a fixed start, the way the watcher does.
    void add(qint64 byteSize, int seconds, bool enforce = true)
    {
        ClipItem item = ClipItem::make(ClipKind::text, QStringLiteral("r%1").arg(seconds), std::nullopt, std::nullopt,
                                       std::nullopt, std::nullopt, start.addSecs(seconds));
        item.byteSize = byteSize;
        ASSERT_TRUE(store->insert(item).ok());
        ASSERT_TRUE(store->save().ok());
        if (enforce)
            budget.enforce(byteSize);
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

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    Translations translations;
    SettingsStore settings;
    std::unique_ptr<HistoryStore> store;
    StorageBudget budget;
    QDateTime start = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
};

}  // namespace

TEST(StorageBudget, FourthRecordOfFortyMegabytesDeletesExactlyTheTwoOldest)
{
    Budget b(100);
    for (int i = 1; i <= 4; ++i)
        b.add(40 * MB, i);
    EXPECT_EQ(b.texts(), (QStringList{QStringLiteral("r3"), QStringLiteral("r4")}));
    EXPECT_EQ(b.budget.cachedTotalBytes(), 80 * MB);
}

TEST(StorageBudget, LoweringTheSettingDeletesOnlyAtTheNextRecord)
{
    Budget b(500);
    for (int i = 1; i <= 10; ++i)
        b.add(40 * MB, i);
    ASSERT_EQ(b.texts().size(), 10);
    b.settings.setMaxStorageMB(100);
    EXPECT_EQ(b.texts().size(), 10) << "changing the setting deletes nothing by itself";
    b.add(1, 11);
    // 9 × 40 MB + 1 byte must come down to at most 100 MB: the oldest go until two records and the new one remain.
    EXPECT_EQ(b.texts(), (QStringList{QStringLiteral("r9"), QStringLiteral("r10"), QStringLiteral("r11")}));
    EXPECT_LE(*b.budget.cachedTotalBytes(), 104'857'600);
    EXPECT_EQ(*b.budget.cachedTotalBytes(), 80 * MB + 1);
}

TEST(StorageBudget, EveryFiftiethRunRecountsAndCountsTheNewRecordOnce)
{
    Budget b(1000);
    b.add(10, 0);
    EXPECT_EQ(b.budget.cachedTotalBytes(), 10) << "the first run after launch recounts";
    for (int i = 1; i < 49; ++i)
        b.add(10, i);
    EXPECT_EQ(b.budget.ingestsSinceCalibration(), 49);
    // A record deleted behind the budget's back (as the panel does) is noticed only at the recount.
    FetchDescriptor oldest;
    oldest.sortByCreatedAt = SortOrder::ascending;
    oldest.limit = 1;
    ASSERT_TRUE(b.store->remove(b.store->fetch(oldest).value().first().id).ok());
    ASSERT_TRUE(b.store->save().ok());
    EXPECT_EQ(b.budget.cachedTotalBytes(), 490);
    b.add(10, 50);
    EXPECT_EQ(b.budget.ingestsSinceCalibration(), 0);
    EXPECT_EQ(b.budget.cachedTotalBytes(), 490) << "49 records of 10 bytes after the recount, the new one once";
}

TEST(StorageBudget, ARecordLargerThanTheBudgetEmptiesTheHistory)
{
    Budget b(100);
    b.add(10, 1);
    b.add(10, 2);
    b.add(101 * MB, 3);
    EXPECT_TRUE(b.texts().isEmpty());
    EXPECT_EQ(b.budget.cachedTotalBytes(), 0);
}

TEST(StorageBudget, PrunesInBatchesOfThirtyTwoWithASaveAfterEach)
{
    Budget b(100);
    for (int i = 0; i < 99; ++i)
        b.add(1 * MB, i, false);
    b.budget.currentTotalBytes();
    QSignalSpy saves(b.store.get(), &HistoryStore::changed);
    b.add(200 * MB, 100, false);
    saves.clear();
    b.budget.enforce(200 * MB);
    EXPECT_TRUE(b.texts().isEmpty());
    EXPECT_EQ(saves.count(), 4) << "batches of 32, 32, 32 and 4";
}

TEST(StorageBudget, OverstatedTotalEndsOnAnEmptyFetch)
{
    Budget b(200);
    b.add(150 * MB, 1);
    // The panel deletes records without telling the budget, so its total can overstate the store.
    FetchDescriptor all;
    for (const ClipItem& item : b.store->fetch(all).value())
        ASSERT_TRUE(b.store->remove(item.id).ok());
    ASSERT_TRUE(b.store->save().ok());
    b.settings.setMaxStorageMB(100);
    b.add(1, 2);
    EXPECT_TRUE(b.texts().isEmpty());
    EXPECT_EQ(b.budget.cachedTotalBytes(), 150 * MB) << "the total computed so far is kept";
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
    Budget b(100);
    auto readOnly = std::move(HistoryStore::openReadOnly(path)).value();
    StorageBudget budget(*readOnly, b.settings);
    budget.enforce(40 * MB);  // would loop over the same records forever if failures were ignored
    EXPECT_FALSE(budget.cachedTotalBytes().has_value()) << "the next run counts afresh";
    EXPECT_EQ(readOnly->count().value(), 3);
}
