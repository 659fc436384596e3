#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "support/HistoryTesting.h"

#include <gtest/gtest.h>
#include <QRandomGenerator>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QList<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

// A text of distinct characters that nothing else in a store holds (CJK ideographs from `first` on), so
// that each of its pieces found in a file can only come from it.
QString uniqueText(char16_t first, int length)
{
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(char16_t(first + 3 * i));
    return text;
}

// The search index stores each trigram after the part it shares with the trigram before it; for a text of
// distinct ideographs that is at most the first two bytes, so the last two characters are written out.
QList<QByteArray> trigramTails(const QString& text)
{
    QList<QByteArray> tails;
    for (qsizetype i = 1; i + 2 <= text.size(); ++i)
        tails.append(text.mid(i, 2).toUtf8());
    return tails;
}

QStringList find(const QString& storeName, const QString& text, bool useIndex)
{
    const SearchOutcome outcome = valueOf(valueOf(HistorySearch::open(storeName))->run({text}, {.useIndex = useIndex}));
    EXPECT_EQ(outcome.indexed, useIndex);
    return texts(outcome.items);
}

}  // namespace

// Pins follow every way a record is read and written, and go with their record whatever deletes it.
TEST(HistoryEdits, PinsFollowTheirRecords)
{
    const ClipItem a = textItem(QStringLiteral("a"), 1);
    const ClipItem b = textItem(QStringLiteral("bb"), 2, true);  // inserted pinned, as an undone deletion is
    const ClipItem c = textItem(QStringLiteral("ccc"), 3);
    auto store = makeStore({a, b, c});
    const auto expectPinned = [&](bool found, const char* pinned, qint64 bytes) {
        EXPECT_TRUE(found) << pinned;
        expectOk(store->save());
        EXPECT_EQ(texts(fetchAll(*store), true).join(QLatin1Char(',')), QLatin1String(pinned));
        for (const ClipItem& item : {a, b, c})
            EXPECT_EQ(valueOf(store->record(item.id)).value_or(ClipItem()).pinned,
                      QString::fromLatin1(pinned).split(u',').contains(*item.contentText));
        const HistoryUsage usage = valueOf(store->usage());
        EXPECT_EQ(usage.pinnedBytes, bytes);
        EXPECT_EQ(usage.pinnedRecords, rawInt(store->handle(), "SELECT count(*) FROM clip_pin")) << "none left behind";
    };
    expectPinned(true, "bb", 2);
    expectPinned(valueOf(store->setPinned(a.id, true)), "a,bb", 3);
    expectPinned(valueOf(store->setPinned(a.id, true)), "a,bb", 3);
    expectPinned(valueOf(store->setPinned(b.id, false)), "a", 1);
    expectPinned(valueOf(store->setPinned(c.id, false)), "a", 1);  // not pinned: nothing to do
    expectPinned(!valueOf(store->setPinned(QUuid::createUuid(), true)), "a", 1);
    expectOk(store->remove(a.id));
    expectPinned(!valueOf(store->setPinned(a.id, true)), "", 0);
    EXPECT_FALSE(store->hasChanges());
    EXPECT_EQ(texts(fetchAll(*store, {SortOrder::ascending, std::nullopt, false, false, true})),
              (QStringList{QStringLiteral("bb"), QStringLiteral("ccc")}));
    // A writer that knows nothing of pins, without foreign keys, still takes a record's pin with it.
    ASSERT_TRUE(valueOf(store->setPinned(c.id, true)));
    expectOk(store->save());
    rawExecute(store->handle(), "PRAGMA foreign_keys = OFF; DELETE FROM clip WHERE contentText = 'ccc'");
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_pin"), 0);
}

// Deleted records leave nothing readable in the store file or its WAL — not their texts, images or formatted
// forms, not their entries in the search index, not what an earlier deletion had queued — and their space goes
// back: at once after a clear (of the unpinned records or all), once the maintenance has worked off the index
// after a removal. A reader holding the WAL makes reclaimSpace say to try again. A store made before
// incremental vacuum is rewritten once to get there.
TEST(HistoryEdits, DeletedRecordsLeaveNoTraceInTheFileOrItsWal)
{
    enum class How { remove, clearUnpinned, clearAll };
    for (const How how : {How::remove, How::clearUnpinned, How::clearAll}) {
        SCOPED_TRACE(static_cast<int>(how));
        const QString path = storePath();
        auto store = makeStore({}, path);
        if (how == How::remove) {
            rawExecute(store->handle(), "PRAGMA auto_vacuum = NONE; VACUUM");
            EXPECT_EQ(valueOf(HistoryStore::convertToIncrementalVacuum(store->handle())), true);
        }
        EXPECT_EQ(valueOf(HistoryStore::convertToIncrementalVacuum(store->handle())), false) << "nothing left to do";
        const QString secret = uniqueText(0x9000, 40), removedSecret = uniqueText(0x9400, 40);
        const QString markup = uniqueText(0x9800, 40), pinnedSecret = uniqueText(0x9c00, 40);
        const QByteArray image = randomBytes(200'000, 5), thumbnail = randomBytes(3'000, 6);
        const ClipItem pinned = textItem(QStringLiteral("kept ") + pinnedSecret, 1, true);
        const QList<ClipItem> items = {
            pinned, textItem(removedSecret, 2), textItem(secret + QString(100'000, QLatin1Char('s')), 3),
            imageItem(image, thumbnail, 4),
            textItem(QStringLiteral("bold"), 5, false, {{QStringLiteral("text/html"), "<b>" + markup.toUtf8()}})};
        for (const ClipItem& item : items) {
            expectOk(store->insert(item));
            expectOk(store->save());
        }
        // Its text waits in search_pending, its entries in the index.
        expectOk(store->remove(items[1].id));
        expectOk(store->save());
        QList<QByteArray> needles = {secret.toUtf8(), removedSecret.toUtf8(), markup.toUtf8(), thumbnail.mid(1000, 32)};
        for (qsizetype offset = 0; offset + 32 <= image.size(); offset += 4096)
            needles.append(image.mid(offset, 32));
        const QList<QByteArray> indexNeedles = trigramTails(secret) + trigramTails(removedSecret);
        // They can be found: the texts and images in the files, the trigrams in the index's own pages.
        const QByteArray files = readFile(path) + readFile(path + QStringLiteral("-wal"));
        QByteArray index;
        sqlite3_stmt* blocks = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(store->handle(), "SELECT block FROM clip_search_data", -1, &blocks, nullptr),
                  SQLITE_OK);
        while (sqlite3_step(blocks) == SQLITE_ROW)
            index +=
                QByteArray(static_cast<const char*>(sqlite3_column_blob(blocks, 0)), sqlite3_column_bytes(blocks, 0));
        sqlite3_finalize(blocks);
        for (const QByteArray& needle : needles + indexNeedles)
            ASSERT_TRUE((indexNeedles.contains(needle) ? index : files).contains(needle))
                << "the check would find nothing";
        // A removal's entries are taken out of the index by marking them deleted, which leaves their trigrams in the
        // index's older pages until it merges them; a clear empties the index.
        if (how != How::remove)
            needles += indexNeedles;
        if (how == How::clearAll)
            needles += trigramTails(pinnedSecret) + QList<QByteArray>{pinnedSecret.toUtf8()};
        if (how == How::remove) {
            for (qsizetype i = 2; i < items.size(); ++i)
                expectOk(store->remove(items[i].id));
            expectOk(store->save());
            purgeIndex(path);
        } else {
            EXPECT_EQ(valueOf(store->clear(how == How::clearAll)).records, how == How::clearAll ? 4 : 3);
            expectOk(store->save());
        }
        // A reader in the middle of a read keeps the WAL: reclaimSpace says so, and works once it is done.
        sqlite3* reader = nullptr;
        ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &reader, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        rawExecute(reader, QStringLiteral("BEGIN"));
        EXPECT_GE(rawInt(reader, "SELECT count(*) FROM clip"), 0);
        EXPECT_EQ(valueOf(HistoryStore::reclaimSpace(store->handle())), false);
        rawExecute(reader, QStringLiteral("COMMIT"));
        sqlite3_close(reader);
        EXPECT_EQ(valueOf(HistoryStore::reclaimSpace(store->handle())), true);
        EXPECT_EQ(readFile(path + QStringLiteral("-wal")).size(), 0);
        const QByteArray file = readFile(path);
        for (qsizetype i = 0; i < needles.size(); ++i)
            EXPECT_FALSE(file.contains(needles[i])) << "piece " << i << " is still in the file";
        EXPECT_LT(file.size(), 150'000) << "the space went back";
        EXPECT_EQ(texts(fetchAll(*store)), how == How::clearAll ? QStringList{} : QStringList{*pinned.contentText});
        EXPECT_EQ(file.contains(pinnedSecret.toUtf8()), how != How::clearAll) << "the kept record is still there";
        // A record captured afterwards is indexed as any other (its pk may be one used before).
        expectOk(store->insert(textItem(QStringLiteral("kept fresh"), 7)));
        expectOk(store->save());
        for (const bool useIndex : {true, false})
            EXPECT_EQ(find(path, QStringLiteral("kept"), useIndex).size(), how == How::clearAll ? 1 : 2) << useIndex;
    }
}
