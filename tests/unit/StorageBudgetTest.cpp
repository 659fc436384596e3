#include "history/HistoryStore.h"
#include "history/StorageBudget.h"
#include "support/HistoryTesting.h"

#include <QSignalSpy>

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

ClipItem sized(int n, qint64 size, bool pinned = false)
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
    const std::tuple<QList<Record>, const char*, qint64> cases[] = {
        {{{40 * MB}, {40 * MB}, {40 * MB}, {40 * MB}}, "r3,r4", 80 * MB},  // a fourth of 40 MB: exactly two go
        {{{10}, {10}, {101 * MB}}, "", 0},
        {{{50 * MB}, {50 * MB}}, "r1,r2", 100 * MB},
        {lowered, "r9,r10,r11", 80 * MB + 1},  // a lowered setting applies at the next record
        {many, "", 0},                         // more than one batch of deletions
        {{{40 * MB, true}, {40 * MB}, {40 * MB}, {40 * MB}}, "r1,r4", 80 * MB},
        {{{10}, {60 * MB, true}, {20}, {60 * MB, true}, {30}}, "r2,r4", 120 * MB},
        {{{30 * MB}, {30 * MB}, {90 * MB, true}}, "r3", 90 * MB},
    };
    for (const auto& [records, left, total] : cases) {
        SCOPED_TRACE(left);
        auto store = makeStore({});
        qint64 limitMB = 0;
        StorageBudget budget(*store, [&limitMB] { return limitMB * MB; });
        for (int i = 0; i < records.size(); ++i) {
            expectOk(store->insert(sized(i + 1, records[i].size, records[i].pinned)));
            expectOk(store->save());
            limitMB = records[i].limitMB;
            budget.enforce();
        }
        EXPECT_EQ(texts(fetchAll(*store)).join(QLatin1Char(',')), QLatin1String(left));
        EXPECT_EQ(valueOf(store->totalByteSize()), total);
        // Within its budget, or over it with only pinned records: a run deletes and writes nothing.
        QSignalSpy saves(store.get(), &HistoryStore::changed);
        EXPECT_EQ(budget.enforce(), 0);
        EXPECT_EQ(saves.count(), 0);
    }
}

// Would loop over the same records forever if failures were ignored.
TEST(StorageBudget, AStoreThatRefusesDeletionsStopsThePruning)
{
    const QString path = storePath();
    makeStore({sized(1, 40 * MB), sized(2, 40 * MB), sized(3, 40 * MB)}, path);
    auto readOnly = valueOf(HistoryStore::openReadOnly(path));
    StorageBudget budget(*readOnly, [] { return 100 * MB; });
    EXPECT_EQ(budget.enforce(), 0);
    EXPECT_EQ(valueOf(readOnly->count()), 3);
}
