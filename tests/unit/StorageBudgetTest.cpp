#include "history/HistoryStore.h"
#include "history/StorageBudget.h"
#include "support/HistoryTesting.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

constexpr qint64 MB = 1'048'576;

// A record of `size` bytes, added with the budget at `limitMB` and enforced at once, as the watcher does.
struct Record {
    qint64 size;
    bool pinned = false;
    qint64 limitMB = 100;
};

ClipItem sized(int n, qint64 size, bool pinned)
{
    ClipItem item = textItem(QStringLiteral("r%1").arg(n), n * 1000, pinned);
    item.byteSize = size;
    return item;
}

}  // namespace

// The oldest unpinned records go until the store fits. Pinned records count in the total but never go; when
// they alone are over the budget, every unpinned record goes (a new one at once) and the pruning ends there.
TEST(StorageBudget, OldestUnpinnedRecordsGoUntilTheStoreFits)
{
    QList<Record> lowered(10, Record{40 * MB, false, 500});
    lowered.append(Record{1});
    QList<Record> many(99, Record{MB});
    many.append(Record{200 * MB});
    struct Case {
        const char* name;
        QList<Record> records;
        const char* left;
        qint64 total;
    };
    const QList<Case> cases = {
        {"a fourth of 40 MB deletes exactly the oldest two",
         {{40 * MB}, {40 * MB}, {40 * MB}, {40 * MB}},
         "r3,r4",
         80 * MB},
        {"a record larger than the budget empties the history", {{10}, {10}, {101 * MB}}, "", 0},
        {"within the budget nothing goes", {{50 * MB}, {50 * MB}}, "r1,r2", 100 * MB},
        {"a lowered setting applies at the next record", lowered, "r9,r10,r11", 80 * MB + 1},
        {"more than one batch of deletions", many, "", 0},
        {"the pinned oldest stays", {{40 * MB, true}, {40 * MB}, {40 * MB}, {40 * MB}}, "r1,r4", 80 * MB},
        {"pinned alone over the budget", {{10}, {60 * MB, true}, {20}, {60 * MB, true}, {30}}, "r2,r4", 120 * MB},
        {"pinned bytes leave less room for the others", {{30 * MB}, {30 * MB}, {90 * MB, true}}, "r3", 90 * MB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = valueOf(HistoryStore::openInMemory());
        ASSERT_TRUE(store);
        qint64 limitMB = 0;
        StorageBudget budget(*store, [&limitMB] { return limitMB * MB; });
        for (int i = 0; i < c.records.size(); ++i) {
            expectOk(store->insert(sized(i + 1, c.records[i].size, c.records[i].pinned)));
            expectOk(store->save());
            limitMB = c.records[i].limitMB;
            budget.enforce();
        }
        EXPECT_EQ(texts(fetchAll(*store)).join(QLatin1Char(',')), QLatin1String(c.left));
        EXPECT_EQ(valueOf(store->totalByteSize()), c.total);
        // A store within its budget, or over it with only pinned records: a run deletes and writes nothing.
        QSignalSpy saves(store.get(), &HistoryStore::changed);
        EXPECT_EQ(budget.enforce(), 0);
        EXPECT_EQ(saves.count(), 0);
    }
}

TEST(StorageBudget, AStoreThatRefusesDeletionsStopsThePruning)
{
    const QString path = storePath();
    {
        auto writable = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(writable);
        for (int i = 1; i <= 3; ++i)
            expectOk(writable->insert(sized(i, 40 * MB, false)));
        expectOk(writable->save());
    }
    auto readOnly = valueOf(HistoryStore::openReadOnly(path));
    ASSERT_TRUE(readOnly);
    StorageBudget budget(*readOnly, [] { return 100 * MB; });
    // Would loop over the same records forever if failures were ignored.
    EXPECT_EQ(budget.enforce(), 0);
    EXPECT_EQ(valueOf(readOnly->count()), 3);
}
