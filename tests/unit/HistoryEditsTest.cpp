#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "history/SearchIndexBuilder.h"
#include "support/RawSql.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <functional>

using namespace nimbrel;
using test::rawExecute;
using test::rawInt;

namespace {

QDateTime at(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

ClipItem textItem(const QString& text, qint64 msecs, bool pinned = false)
{
    ClipItem item = ClipItem::make(classify(text), text, std::nullopt, std::nullopt,
                                   QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), at(msecs));
    item.pinned = pinned;
    return item;
}

ClipItem imageItem(const QByteArray& image, const QByteArray& thumbnail, qint64 msecs)
{
    return ClipItem::make(ClipKind::image, std::nullopt, image, thumbnail, QStringLiteral("org.example.Viewer"),
                          QStringLiteral("Viewer"), at(msecs));
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

// A text of distinct characters that nothing else in a store holds (CJK ideographs from `first` on), so
// that each of its pieces found in a file can only come from it.
QString uniqueText(char32_t first, int length)
{
    QString text;
    for (int i = 0; i < length; ++i)
        text += QString::fromUcs4(std::u32string(1, first + 3 * i).c_str(), 1);
    return text;
}

// The search index stores each trigram after the part it shares with the trigram before it (in byte
// order); for a text of distinct ideographs that shared part is at most the first two bytes, so the
// last two characters of every trigram are written out as they are.
QList<QByteArray> trigramTails(const QString& text)
{
    QList<QByteArray> tails;
    const QList<uint> points = text.toUcs4();
    for (qsizetype i = 0; i + 3 <= points.size(); ++i)
        tails.append(QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData() + i + 1), 2).toUtf8());
    return tails;
}

template <typename T>
T valueOf(Result<T> result)
{
    EXPECT_TRUE(result.ok()) << (result ? "" : result.error().description.toStdString());
    return result ? std::move(result).value() : T{};
}

void expectOk(const Result<void>& result)
{
    EXPECT_TRUE(result.ok()) << (result ? "" : result.error().description.toStdString());
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<ClipItem> fetchAll(const HistoryStore& store, FetchDescriptor descriptor = {})
{
    descriptor.sortByCreatedAt = SortOrder::ascending;
    return valueOf(store.fetch(descriptor));
}

QStringList textsOf(const QList<ClipItem>& items)
{
    QStringList texts;
    for (const ClipItem& item : items)
        texts.append(item.contentText.value_or(QStringLiteral("<image>")));
    return texts;
}

QStringList pinnedTextsOf(const QList<ClipItem>& items)
{
    QStringList texts;
    for (const ClipItem& item : items) {
        if (item.pinned)
            texts.append(item.contentText.value_or(QStringLiteral("<image>")));
    }
    return texts;
}

SearchOutcome search(const QString& storeName, const QString& text, bool pinnedOnly, bool useIndex)
{
    std::unique_ptr<HistorySearch> search = valueOf(HistorySearch::open(storeName));
    if (!search)
        return {};
    SearchQuery query;
    query.text = text;
    query.pinnedOnly = pinnedOnly;
    SearchLimits limits;
    limits.useIndex = useIndex;
    return valueOf(search->run(query, limits));
}

// Turns a store file into one of an earlier layout, as that version of Nimbrel made it, in a single file.
void makeEarlierVersion(const QString& path, int version)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    QStringList statements = {QStringLiteral("DROP TRIGGER clip_pin_deleted"), QStringLiteral("DROP TABLE clip_pin")};
    if (version < 3)
        statements += {QStringLiteral("DROP TRIGGER clip_format_deleted"), QStringLiteral("DROP TABLE clip_format")};
    if (version < 2) {
        statements += {QStringLiteral("DROP TRIGGER clip_search_inserted"),
                       QStringLiteral("DROP TRIGGER clip_search_deleted"),
                       QStringLiteral("DROP TRIGGER clip_order_inserted"),
                       QStringLiteral("DROP TRIGGER clip_order_deleted"),
                       QStringLiteral("DROP TABLE clip_search"),
                       QStringLiteral("DROP TABLE search_state"),
                       QStringLiteral("DROP TABLE clip_order"),
                       QStringLiteral("DROP TABLE search_pending")};
    }
    statements +=
        {QStringLiteral("PRAGMA user_version = %1").arg(version), QStringLiteral("PRAGMA journal_mode = DELETE")};
    for (const QString& sql : statements)
        rawExecute(db, sql);
    ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
}

Result<void> buildIndex(const QString& path)
{
    Result<std::unique_ptr<SearchIndexBuilder>> builder = SearchIndexBuilder::open(path);
    if (!builder)
        return builder.error();
    while (true) {
        Result<SearchIndexBuilder::Step> step = (*builder)->step(2);
        if (!step)
            return step.error();
        if (step->complete)
            return {};
    }
}

}  // namespace

// A store of an earlier layout reads, read-only, as it is (every record unpinned, the file untouched), and
// gains pins in place when opened for writing, its records unchanged.
TEST(HistoryEdits, AStoreOfAnEarlierVersionReadsUnpinnedAndGainsPinsInPlace)
{
    for (const int version : {3, 2}) {
        SCOPED_TRACE(version);
        const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
        const ClipItem plain = textItem(QStringLiteral("alpha plain"), 1);
        ClipItem formatted =
            ClipItem::make(ClipKind::text, QStringLiteral("alpha bold"), std::nullopt, std::nullopt, std::nullopt,
                           std::nullopt, at(2), {{QStringLiteral("text/html"), "<b>alpha bold</b>"}});
        if (version < 3)
            formatted = textItem(QStringLiteral("alpha bold"), 2);  // that layout kept no formatted forms
        const ClipItem image = imageItem(randomBytes(5000, 1), randomBytes(300, 2), 3);
        {
            auto store = valueOf(HistoryStore::openFile(path));
            ASSERT_TRUE(store);
            for (const ClipItem& item : {plain, formatted, image})
                expectOk(store->insert(item));
            expectOk(store->save());
        }
        makeEarlierVersion(path, version);
        const QByteArray before = fileBytes(path);
        {
            auto reader = valueOf(HistoryStore::openReadOnly(path));
            ASSERT_TRUE(reader);
            const QList<ClipItem> items = fetchAll(*reader);
            EXPECT_EQ(textsOf(items), (QStringList{QStringLiteral("alpha plain"), QStringLiteral("alpha bold"),
                                                   QStringLiteral("<image>")}));
            EXPECT_TRUE(pinnedTextsOf(items).isEmpty());
            EXPECT_EQ(valueOf(reader->usage()).records, 3);
            EXPECT_EQ(valueOf(reader->usage()).pinnedRecords, 0);
            for (const bool useIndex : {true, false}) {
                EXPECT_EQ(search(path, QStringLiteral("alpha"), false, useIndex).items.size(), 2);
                EXPECT_TRUE(search(path, QStringLiteral("alpha"), true, useIndex).items.isEmpty());
            }
        }
        EXPECT_EQ(fileBytes(path), before) << "reading changed the file";

        auto store = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        EXPECT_EQ(rawInt(store->handle(), "PRAGMA user_version"), HistoryStore::storeVersion);
        EXPECT_EQ(HistoryStore::storeVersion, 4);
        const QList<ClipItem> items = fetchAll(*store, FetchDescriptor{.includeImages = true});
        ASSERT_EQ(items.size(), 3);
        const QList<ClipItem> inserted = {plain, formatted, image};
        for (int i = 0; i < 3; ++i) {
            const ClipItem& expected = inserted[i];
            ClipItem loaded = items[i];
            expectOk(store->loadContents(loaded));
            EXPECT_EQ(loaded.id, expected.id);
            EXPECT_EQ(loaded.contentText, expected.contentText);
            EXPECT_EQ(loaded.contentImage, expected.contentImage);
            EXPECT_EQ(loaded.formats, expected.formats);
            EXPECT_EQ(loaded.byteSize, expected.byteSize);
            EXPECT_EQ(loaded.createdAt, expected.createdAt);
            EXPECT_FALSE(loaded.pinned);
        }
        EXPECT_EQ(valueOf(store->thumbnail(image.id)), image.thumbnailData);

        EXPECT_TRUE(valueOf(store->setPinned(formatted.id, true)));
        expectOk(store->save());
        store.reset();
        auto reader = valueOf(HistoryStore::openReadOnly(path));
        ASSERT_TRUE(reader);
        EXPECT_EQ(pinnedTextsOf(fetchAll(*reader)), QStringList{QStringLiteral("alpha bold")});
        EXPECT_TRUE(valueOf(reader->record(formatted.id))->pinned);
        EXPECT_EQ(textsOf(search(path, QStringLiteral("alpha"), true, true).items),
                  QStringList{QStringLiteral("alpha bold")});
    }
}

// Pins follow every way a record is read and written, and go with their record whatever deletes it.
TEST(HistoryEdits, PinsFollowTheirRecords)
{
    auto store = valueOf(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    const ClipItem a = textItem(QStringLiteral("a"), 1);
    const ClipItem b = textItem(QStringLiteral("bb"), 2, true);  // inserted pinned, as an undone deletion is
    const ClipItem c = textItem(QStringLiteral("ccc"), 3);
    for (const ClipItem& item : {a, b, c})
        expectOk(store->insert(item));
    expectOk(store->save());

    struct Step {
        const char* name;
        std::function<Result<bool>()> change;
        bool found;
        QStringList pinned;
        qint64 pinnedBytes;
    };
    const QList<Step> steps = {
        {"as inserted", [] { return Result<bool>(true); }, true, {QStringLiteral("bb")}, 2},
        {"pin a record",
         [&] { return store->setPinned(a.id, true); },
         true,
         {QStringLiteral("a"), QStringLiteral("bb")},
         3},
        {"pin it again",
         [&] { return store->setPinned(a.id, true); },
         true,
         {QStringLiteral("a"), QStringLiteral("bb")},
         3},
        {"unpin one", [&] { return store->setPinned(b.id, false); }, true, {QStringLiteral("a")}, 1},
        {"unpin one that is not pinned", [&] { return store->setPinned(c.id, false); }, true, {QStringLiteral("a")}, 1},
        {"an unknown id", [&] { return store->setPinned(QUuid::createUuid(), true); }, false, {QStringLiteral("a")}, 1},
        {"a deleted record",
         [&]() -> Result<bool> {
             if (Result<void> removed = store->remove(a.id); !removed)
                 return removed.error();
             return store->setPinned(a.id, true);
         },
         false,
         {},
         0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(valueOf(step.change()), step.found);
        expectOk(store->save());
        EXPECT_EQ(pinnedTextsOf(fetchAll(*store)), step.pinned);
        for (const ClipItem& item : {a, b, c}) {
            const std::optional<ClipItem> read = valueOf(store->record(item.id));
            if (read) {
                EXPECT_EQ(read->pinned, step.pinned.contains(*item.contentText)) << item.contentText->toStdString();
            }
        }
        const HistoryUsage usage = valueOf(store->usage());
        EXPECT_EQ(usage.pinnedRecords, step.pinned.size());
        EXPECT_EQ(usage.pinnedBytes, step.pinnedBytes);
        EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_pin"), step.pinned.size()) << "no pin left behind";
    }
    EXPECT_FALSE(store->hasChanges());
    EXPECT_EQ(textsOf(fetchAll(*store, FetchDescriptor{.unpinnedOnly = true})),
              (QStringList{QStringLiteral("bb"), QStringLiteral("ccc")}));

    // A writer that knows nothing of pins, without foreign keys, still takes a record's pin with it.
    ASSERT_TRUE(valueOf(store->setPinned(c.id, true)));
    expectOk(store->save());
    rawExecute(store->handle(), QStringLiteral("PRAGMA foreign_keys = OFF"));
    rawExecute(store->handle(), QStringLiteral("DELETE FROM clip WHERE contentText = 'ccc'"));
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_pin"), 0);
    EXPECT_EQ(valueOf(store->usage()).pinnedRecords, 0);
}

// A clear deletes every record, or every unpinned one, takes them out of the search index at once
// (nothing queued), and leaves the index right for what stays, also while the index is still being built.
TEST(HistoryEdits, ClearDeletesWhatItIsAskedToAndKeepsTheIndexRight)
{
    struct Case {
        const char* name;
        bool includePinned;
        bool indexBeingBuilt;
    };
    const QList<Case> cases = {
        {"unpinned ones", false, false},
        {"all", true, false},
        {"unpinned ones while the index is built", false, true},
        {"all while the index is built", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
        const ClipItem keptOld = textItem(QStringLiteral("pinned older"), 1);
        const ClipItem goneOld = textItem(QStringLiteral("plain older"), 2);
        const ClipItem image = imageItem(randomBytes(1000, 3), randomBytes(100, 4), 3);
        const ClipItem removed = textItem(QStringLiteral("plain removed"), 4);
        const ClipItem keptNew = textItem(QStringLiteral("pinned newer"), 5, true);
        const ClipItem goneNew = textItem(QStringLiteral("plain newer"), 6);
        {
            auto store = valueOf(HistoryStore::openFile(path));
            ASSERT_TRUE(store);
            for (const ClipItem& item : {keptOld, goneOld, image})
                expectOk(store->insert(item));
            expectOk(store->save());
        }
        // The older records wait for the background build; the newer ones are indexed as they come.
        if (c.indexBeingBuilt)
            makeEarlierVersion(path, 0);
        auto store = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        ASSERT_EQ(valueOf(store->searchIndexComplete()), !c.indexBeingBuilt);
        for (const ClipItem& item : {removed, keptNew, goneNew})
            expectOk(store->insert(item));
        ASSERT_TRUE(valueOf(store->setPinned(keptOld.id, true)));
        expectOk(store->remove(removed.id));
        expectOk(store->save());
        ASSERT_EQ(rawInt(store->handle(), "SELECT count(*) FROM search_pending"), 1);

        const HistoryUsage before = valueOf(store->usage());
        const EditOutcome outcome = valueOf(store->clear(c.includePinned));
        EXPECT_TRUE(store->hasChanges()) << "pending until saved";
        expectOk(store->save());
        const QStringList left = c.includePinned
                                     ? QStringList{}
                                     : QStringList{QStringLiteral("pinned older"), QStringLiteral("pinned newer")};
        EXPECT_EQ(textsOf(fetchAll(*store)), left);
        EXPECT_EQ(outcome.records, c.includePinned ? 5 : 3);
        const qint64 pinnedBytes = keptOld.byteSize + keptNew.byteSize;
        EXPECT_EQ(outcome.bytes, c.includePinned ? before.bytes : before.bytes - pinnedBytes);
        const HistoryUsage after = valueOf(store->usage());
        EXPECT_EQ(after.records, left.size());
        EXPECT_EQ(after.pinnedRecords, left.size());
        EXPECT_EQ(after.bytes, c.includePinned ? 0 : pinnedBytes);
        EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM search_pending"), 0) << "nothing queued";
        EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 0);
        EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_pin"), left.size());

        // A record captured after the clear is indexed as any other (its pk may be one used before).
        const ClipItem fresh = textItem(QStringLiteral("plain fresh"), 7);
        expectOk(store->insert(fresh));
        expectOk(store->save());
        ASSERT_TRUE(buildIndex(path).ok());
        ASSERT_TRUE(valueOf(store->searchIndexComplete()));
        for (const bool useIndex : {true, false}) {
            SCOPED_TRACE(useIndex ? "index" : "scan");
            const SearchOutcome pinned = search(path, QStringLiteral("pinned"), false, useIndex);
            EXPECT_EQ(pinned.indexed, useIndex);
            EXPECT_EQ(textsOf(pinned.items),
                      c.includePinned ? QStringList{}
                                      : (QStringList{QStringLiteral("pinned newer"), QStringLiteral("pinned older")}));
            EXPECT_EQ(textsOf(search(path, QStringLiteral("plain"), false, useIndex).items),
                      QStringList{QStringLiteral("plain fresh")});
        }
        // Only the index's own entries remain: one per record, nothing of the deleted ones.
        EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_search WHERE clip_search MATCH '\"ain\"'"), 1);
    }
}

// After a clear, saved and followed by reclaimSpace, nothing of the deleted records is left in the store
// file or its WAL: not their texts, not their images, not their entries in the search index, not what
// an earlier deletion had queued. A reader holding the WAL makes reclaimSpace say to try again.
TEST(HistoryEdits, ClearedRecordsLeaveNoTraceInTheFileOrItsWal)
{
    for (const bool includePinned : {false, true}) {
        SCOPED_TRACE(includePinned ? "all" : "unpinned ones");
        const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
        auto store = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        const QString secret = uniqueText(0x9000, 40);
        const QString removedSecret = uniqueText(0x9400, 40);
        const QString markup = uniqueText(0x9800, 40);
        const QString pinnedSecret = uniqueText(0x9c00, 40);
        const QByteArray image = randomBytes(200'000, 5);
        const QByteArray thumbnail = randomBytes(3'000, 6);
        const ClipItem removed = textItem(removedSecret, 2);
        const QList<ClipItem> items = {
            textItem(QStringLiteral("kept ") + pinnedSecret, 1, true),
            removed,
            textItem(secret + QString(100'000, QLatin1Char('s')), 3),
            imageItem(image, thumbnail, 4),
            ClipItem::make(ClipKind::text, QStringLiteral("bold"), std::nullopt, std::nullopt, std::nullopt,
                           std::nullopt, at(5),
                           {{QStringLiteral("text/html"), (QStringLiteral("<b>") + markup).toUtf8()}}),
        };
        for (const ClipItem& item : items) {
            expectOk(store->insert(item));
            expectOk(store->save());
        }
        // Its text waits in search_pending, its index entries in the index.
        expectOk(store->remove(removed.id));
        expectOk(store->save());

        QList<QByteArray> needles = {secret.toUtf8(), removedSecret.toUtf8(), markup.toUtf8()};
        for (qsizetype offset = 0; offset + 32 <= image.size(); offset += 4096)
            needles.append(image.mid(offset, 32));
        needles.append(thumbnail.mid(1000, 32));
        QList<QByteArray> indexNeedles = trigramTails(secret) + trigramTails(removedSecret);
        // They can be found: the texts and images in the file, the trigrams in the index's own pages.
        {
            const QByteArray files = fileBytes(path) + fileBytes(path + QStringLiteral("-wal"));
            for (const QByteArray& needle : needles)
                ASSERT_TRUE(files.contains(needle)) << "the check would find nothing";
            QByteArray index;
            sqlite3_stmt* blocks = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(store->handle(), "SELECT block FROM clip_search_data", -1, &blocks, nullptr),
                      SQLITE_OK);
            while (sqlite3_step(blocks) == SQLITE_ROW)
                index += QByteArray(static_cast<const char*>(sqlite3_column_blob(blocks, 0)),
                                    sqlite3_column_bytes(blocks, 0));
            sqlite3_finalize(blocks);
            for (const QByteArray& needle : indexNeedles)
                ASSERT_TRUE(index.contains(needle)) << "the index's entries would not be found";
        }
        needles += indexNeedles;
        if (includePinned)
            needles += trigramTails(pinnedSecret) + QList<QByteArray>{pinnedSecret.toUtf8()};

        const EditOutcome outcome = valueOf(store->clear(includePinned));
        EXPECT_EQ(outcome.records, includePinned ? 4 : 3);
        expectOk(store->save());

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

        EXPECT_EQ(fileBytes(path + QStringLiteral("-wal")).size(), 0);
        const QByteArray file = fileBytes(path);
        for (qsizetype i = 0; i < needles.size(); ++i)
            EXPECT_FALSE(file.contains(needles[i])) << "piece " << i << " is still in the file";
        EXPECT_LT(file.size(), 150'000) << "the space went back";
        EXPECT_EQ(textsOf(fetchAll(*store)),
                  includePinned ? QStringList{} : QStringList{QStringLiteral("kept ") + pinnedSecret});
        if (!includePinned) {
            EXPECT_TRUE(file.contains(pinnedSecret.toUtf8())) << "the kept record is still there";
        }
    }
}
