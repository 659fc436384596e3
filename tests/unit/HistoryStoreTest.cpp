#include "history/HistoryStore.h"
#include "history/SearchFolding.h"
#include "history/SearchIndexBuilder.h"
#include "support/RawSql.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSignalSpy>
#include <QTimeZone>

#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>

using namespace nimbrel;
using test::rawExecute;
using test::rawInt;

namespace {

QDateTime at(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

ClipItem textItem(const QString& text, qint64 msecs)
{
    return ClipItem::make(classify(text), text, std::nullopt, std::nullopt, std::nullopt, std::nullopt, at(msecs));
}

ClipItem imageItem(qint64 imageBytes, std::optional<QByteArray> thumbnail, qint64 msecs)
{
    return ClipItem::make(ClipKind::image, std::nullopt, QByteArray(imageBytes, 'i'), std::move(thumbnail),
                          QStringLiteral("org.example.Viewer"), QStringLiteral("Viewer"), at(msecs));
}

std::unique_ptr<HistoryStore> inMemory()
{
    Result<std::unique_ptr<HistoryStore>> store = HistoryStore::openInMemory();
    EXPECT_TRUE(store.ok()) << (store ? "" : store.error().description.toStdString());
    return store ? std::move(store).value() : nullptr;
}

std::unique_ptr<HistoryStore> openFile(const QString& path)
{
    Result<std::unique_ptr<HistoryStore>> store = HistoryStore::openFile(path);
    EXPECT_TRUE(store.ok()) << (store ? "" : store.error().description.toStdString());
    return store ? std::move(store).value() : nullptr;
}

QString storePath()
{
    return test::freshDirectory() + QStringLiteral("/Nimbrel.store");
}

QList<ClipItem> fetchAll(const HistoryStore& store, FetchDescriptor descriptor = {})
{
    Result<QList<ClipItem>> items = store.fetch(descriptor);
    EXPECT_TRUE(items.ok()) << (items ? "" : items.error().description.toStdString());
    return items ? *items : QList<ClipItem>();
}

QStringList texts(const QList<ClipItem>& items)
{
    QStringList result;
    for (const ClipItem& item : items)
        result.append(item.contentText.value_or(QStringLiteral("<none>")));
    return result;
}

qint64 total(const HistoryStore& store)
{
    Result<qint64> bytes = store.totalByteSize();
    EXPECT_TRUE(bytes.ok());
    return bytes ? *bytes : -1;
}

qint64 count(const HistoryStore& store)
{
    Result<qint64> records = store.count();
    EXPECT_TRUE(records.ok());
    return records ? *records : -1;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

mode_t permissions(const QString& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

void withRawConnection(const QString& path, const std::function<void(sqlite3*)>& body)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
        SQLITE_OK);
    body(db);
    ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
}

QStringList storeFiles(const QString& path)
{
    return {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")};
}

QStringList siblings(const QString& path)
{
    return QDir(QFileInfo(path).path()).entryList(QDir::Files);
}

void expectSameRecord(const ClipItem& actual, const ClipItem& expected)
{
    EXPECT_EQ(actual.id, expected.id);
    EXPECT_EQ(actual.kindRaw, expected.kindRaw);
    EXPECT_EQ(actual.contentText, expected.contentText);
    EXPECT_EQ(actual.sourceAppId, expected.sourceAppId);
    EXPECT_EQ(actual.sourceName, expected.sourceName);
    EXPECT_EQ(actual.createdAt, expected.createdAt);
    EXPECT_EQ(actual.createdAt.toMSecsSinceEpoch(), expected.createdAt.toMSecsSinceEpoch());
    EXPECT_EQ(actual.byteSize, expected.byteSize);
}

TEST(HistoryStoreTest, InsertIsVisibleBeforeSave)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->hasChanges());
    const ClipItem item = textItem(QStringLiteral("hello"), 1000);
    ASSERT_TRUE(store->insert(item).ok());

    EXPECT_TRUE(store->hasChanges());
    const QList<ClipItem> items = fetchAll(*store);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].id, item.id);
    EXPECT_EQ(total(*store), 5);
    EXPECT_EQ(count(*store), 1);

    ASSERT_TRUE(store->remove(item.id).ok());
    EXPECT_TRUE(fetchAll(*store).isEmpty());
    EXPECT_EQ(total(*store), 0);
}

TEST(HistoryStoreTest, SaveEmitsChangedOnlyWhenItWroteSomething)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    QSignalSpy spy(store.get(), &HistoryStore::changed);

    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(spy.count(), 0);

    const ClipItem first = textItem(QStringLiteral("a"), 1);
    ASSERT_TRUE(store->insert(first).ok());
    ASSERT_TRUE(store->insert(textItem(QStringLiteral("b"), 2)).ok());
    EXPECT_EQ(spy.count(), 0);
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(store->hasChanges());

    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(spy.count(), 1);

    ASSERT_TRUE(store->remove(QUuid::createUuid()).ok());  // unknown id: not an error, nothing to write
    EXPECT_FALSE(store->hasChanges());
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(spy.count(), 1);

    ASSERT_TRUE(store->remove(first.id).ok());
    EXPECT_TRUE(store->hasChanges());
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(texts(fetchAll(*store)), QStringList{QStringLiteral("b")});
}

TEST(HistoryStoreTest, EveryFieldSurvivesSaveAndReopen)
{
    ClipItem full =
        ClipItem::make(ClipKind::text, QStringLiteral("Grüße 中文 \U0001F600\n"), std::nullopt, std::nullopt,
                       QStringLiteral("org.example.Editor"), QStringLiteral("Éditeur"),
                       QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 987), Qt::UTC),
                       {{QStringLiteral("text/html"), "<b>Grüße</b>"}, {QStringLiteral("text/rtf"), "{\\rtf1}"}});
    ClipItem bare = ClipItem::make(ClipKind::link, QStringLiteral("https://example.org"), std::nullopt, std::nullopt,
                                   std::nullopt, std::nullopt, at(1));
    // Present but empty must not come back absent (SQLite binds a null pointer as NULL).
    ClipItem empty = ClipItem::make(ClipKind::text, QString(), std::nullopt, QByteArray(), QString(), QString(),
                                    QDateTime(QDate(1969, 7, 20), QTime(20, 17, 40, 5), QTimeZone(3600 * 5)));
    ClipItem image = imageItem(3000, QByteArray(500, 't'), 1'700'000'000'001);
    ClipItem imageWithoutThumbnail = imageItem(10, std::nullopt, 1'700'000'000'002);
    ClipItem unknownKind = textItem(QStringLiteral("x"), 5);
    unknownKind.kindRaw = QStringLiteral("video");
    const QList<ClipItem> originals{full, bare, empty, image, imageWithoutThumbnail, unknownKind};

    const QString path = storePath();
    {
        auto store = openFile(path);
        ASSERT_TRUE(store);
        for (const ClipItem& item : originals)
            ASSERT_TRUE(store->insert(item).ok());
        ASSERT_TRUE(store->save().ok());
    }
    auto store = openFile(path);
    ASSERT_TRUE(store);
    const auto byId = [](const QList<ClipItem>& items) {
        QHash<QUuid, ClipItem> result;
        for (const ClipItem& item : items)
            result.insert(item.id, item);
        return result;
    };
    const QHash<QUuid, ClipItem> plain = byId(fetchAll(*store));
    FetchDescriptor withImages;
    withImages.includeImages = true;
    const QHash<QUuid, ClipItem> loaded = byId(fetchAll(*store, withImages));
    ASSERT_EQ(plain.size(), originals.size());
    ASSERT_EQ(loaded.size(), originals.size());
    for (qsizetype i = 0; i < originals.size(); ++i) {
        SCOPED_TRACE(i);
        const ClipItem& original = originals[i];
        ASSERT_TRUE(plain.contains(original.id));
        ASSERT_TRUE(loaded.contains(original.id));
        const ClipItem& withoutImage = plain[original.id];
        const ClipItem& withImage = loaded[original.id];
        expectSameRecord(withoutImage, original);
        expectSameRecord(withImage, original);
        EXPECT_FALSE(withoutImage.contentImage.has_value());
        EXPECT_EQ(withImage.contentImage, original.contentImage);
        EXPECT_FALSE(withoutImage.thumbnailData.has_value());  // only thumbnail() reads it
        EXPECT_FALSE(withImage.thumbnailData.has_value());

        Result<std::optional<QByteArray>> thumbnail = store->thumbnail(original.id);
        ASSERT_TRUE(thumbnail.ok());
        EXPECT_EQ(*thumbnail, original.thumbnailData);

        EXPECT_TRUE(withoutImage.formats.isEmpty()) << "fetches leave the formatted forms";
        ClipItem lazy = withoutImage;
        ASSERT_TRUE(store->loadContents(lazy).ok());
        EXPECT_EQ(lazy.contentImage, original.contentImage);
        EXPECT_EQ(lazy.formats, original.formats);
        QStringList types;
        for (const auto& format : original.formats)
            types.append(format.first);
        EXPECT_EQ(store->formatTypes(original.id).value(), types);
        const auto byIdRead = store->record(original.id).value();
        ASSERT_TRUE(byIdRead.has_value());
        expectSameRecord(*byIdRead, original);
    }
    EXPECT_EQ(plain[full.id].byteSize, QStringLiteral("Grüße 中文 \U0001F600\n").toUtf8().size() + 14 + 7)
        << "the budget counts the formatted forms";
    EXPECT_FALSE(store->record(QUuid::createUuid()).value().has_value());
    EXPECT_TRUE(plain[empty.id].sourceName.has_value());
    EXPECT_TRUE(plain[empty.id].contentText.has_value());
    EXPECT_FALSE(plain[bare.id].sourceName.has_value());
    EXPECT_EQ(plain[unknownKind.id].kind(), ClipKind::text);
    EXPECT_EQ(plain[full.id].createdAt.time().msec(), 987);
}

TEST(HistoryStoreTest, UnknownIdsReadAsAbsent)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    Result<std::optional<QByteArray>> thumbnail = store->thumbnail(QUuid::createUuid());
    ASSERT_TRUE(thumbnail.ok());
    EXPECT_FALSE(thumbnail->has_value());

    ClipItem stranger = imageItem(10, QByteArray("t"), 1);
    stranger.contentImage = QByteArray("stale");
    ASSERT_TRUE(store->loadContents(stranger).ok());
    EXPECT_FALSE(stranger.contentImage.has_value());
}

TEST(HistoryStoreTest, FetchSortsByCreationTimeAndLimits)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    // Inserted out of order, so that insertion order cannot pass for time order.
    const std::pair<const char*, qint64> inserted[] = {{"t3", 3000}, {"t1", 1000}, {"t4", 4000}, {"t2", 2000}};
    for (const auto& [text, msecs] : inserted)
        ASSERT_TRUE(store->insert(textItem(QLatin1String(text), msecs)).ok());
    ASSERT_TRUE(store->save().ok());

    struct Case {
        SortOrder order;
        std::optional<int> limit;
        QStringList expected;
    };
    const auto list = [](std::initializer_list<const char*> names) {
        QStringList result;
        for (const char* name : names)
            result.append(QLatin1String(name));
        return result;
    };
    const Case cases[] = {
        {SortOrder::ascending, std::nullopt, list({"t1", "t2", "t3", "t4"})},
        {SortOrder::descending, std::nullopt, list({"t4", "t3", "t2", "t1"})},
        {SortOrder::ascending, 2, list({"t1", "t2"})},
        {SortOrder::descending, 1, list({"t4"})},
        {SortOrder::descending, 10, list({"t4", "t3", "t2", "t1"})},
        {SortOrder::ascending, 0, QStringList()},
    };
    for (const Case& c : cases) {
        FetchDescriptor descriptor;
        descriptor.sortByCreatedAt = c.order;
        descriptor.limit = c.limit;
        EXPECT_EQ(texts(fetchAll(*store, descriptor)), c.expected)
            << static_cast<int>(c.order) << " limit " << c.limit.value_or(-1);
    }

    FetchDescriptor unsorted;
    unsorted.limit = 3;
    EXPECT_EQ(fetchAll(*store, unsorted).size(), 3);

    FetchDescriptor negative;
    negative.limit = -1;
    EXPECT_FALSE(store->fetch(negative).ok());
}

TEST(HistoryStoreTest, ByteSizeOnlyFetchLoadsIdAndSize)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    const ClipItem text = textItem(QStringLiteral("中文"), 2);
    const ClipItem image = imageItem(700, QByteArray("thumb"), 1);
    ASSERT_TRUE(store->insert(text).ok());
    ASSERT_TRUE(store->insert(image).ok());

    FetchDescriptor descriptor;
    descriptor.byteSizeOnly = true;
    descriptor.includeImages = true;  // byteSizeOnly wins
    descriptor.sortByCreatedAt = SortOrder::ascending;
    const QList<ClipItem> items = fetchAll(*store, descriptor);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].id, image.id);
    EXPECT_EQ(items[0].byteSize, 700);
    EXPECT_EQ(items[1].id, text.id);
    EXPECT_EQ(items[1].byteSize, 6);
    for (const ClipItem& item : items) {
        EXPECT_FALSE(item.contentText.has_value());
        EXPECT_FALSE(item.contentImage.has_value());
        EXPECT_FALSE(item.sourceName.has_value());
        EXPECT_FALSE(item.createdAt.isValid());
    }
}

TEST(HistoryStoreTest, TotalByteSizeFollowsInsertsAndRemovesAndSurvivesReopen)
{
    const QString path = storePath();
    const ClipItem a = textItem(QString(10, QLatin1Char('a')), 1);
    const ClipItem b = textItem(QString(20, QLatin1Char('b')), 2);
    const ClipItem c = imageItem(30, QByteArray(5000, 't'), 3);  // the thumbnail is not counted
    {
        auto store = openFile(path);
        ASSERT_TRUE(store);
        EXPECT_EQ(total(*store), 0);
        for (const ClipItem& item : {a, b, c})
            ASSERT_TRUE(store->insert(item).ok());
        EXPECT_EQ(total(*store), 60);
        ASSERT_TRUE(store->save().ok());
        ASSERT_TRUE(store->remove(b.id).ok());
        ASSERT_TRUE(store->remove(b.id).ok());
        ASSERT_TRUE(store->remove(QUuid::createUuid()).ok());
        EXPECT_EQ(total(*store), 40);
        EXPECT_EQ(count(*store), 2);
        ASSERT_TRUE(store->save().ok());
        // A rejected insert (same id again) leaves the total alone.
        EXPECT_FALSE(store->insert(a).ok());
        EXPECT_EQ(total(*store), 40);
        // Unsaved changes do not outlive the store.
        ASSERT_TRUE(store->insert(textItem(QStringLiteral("unsaved"), 4)).ok());
        EXPECT_EQ(total(*store), 47);
    }
    auto store = openFile(path);
    ASSERT_TRUE(store);
    EXPECT_EQ(total(*store), 40);
    EXPECT_EQ(count(*store), 2);
    FetchDescriptor sizes;
    sizes.byteSizeOnly = true;
    qint64 sum = 0;
    for (const ClipItem& item : fetchAll(*store, sizes))
        sum += item.byteSize;
    EXPECT_EQ(sum, 40);

    ASSERT_TRUE(store->remove(a.id).ok());
    ASSERT_TRUE(store->remove(c.id).ok());
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(total(*store), 0);
    EXPECT_EQ(count(*store), 0);
}

TEST(HistoryStoreTest, RefusesRecordsItCannotKeep)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    const ClipItem kept = textItem(QStringLiteral("kept"), 1);
    ASSERT_TRUE(store->insert(kept).ok());

    ClipItem sameId = textItem(QStringLiteral("other"), 2);
    sameId.id = kept.id;
    ClipItem sameIdImage = imageItem(5, QByteArray("t"), 2);
    sameIdImage.id = kept.id;
    ClipItem noId = textItem(QStringLiteral("x"), 3);
    noId.id = QUuid();
    ClipItem noTime = textItem(QStringLiteral("y"), 4);
    noTime.createdAt = QDateTime();
    for (const ClipItem& refused : {sameId, sameIdImage, noId, noTime}) {
        const Result<void> inserted = store->insert(refused);
        ASSERT_FALSE(inserted.ok());
        EXPECT_FALSE(inserted.error().description.isEmpty());
    }
    // The earlier pending insert is intact and still saves.
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(texts(fetchAll(*store)), QStringList{QStringLiteral("kept")});
    EXPECT_EQ(total(*store), 4);
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 0);
}

TEST(HistoryStoreTest, ChangesThatWriteNothingDoNotHoldTheWriteLock)
{
    const QString path = storePath();
    auto store = openFile(path);
    ASSERT_TRUE(store);
    const ClipItem item = textItem(QStringLiteral("x"), 1);
    ASSERT_TRUE(store->insert(item).ok());
    ASSERT_TRUE(store->save().ok());

    // Another writer (with no patience) can lock the store after each of these.
    const auto otherWriterCanLock = [&path] {
        bool locked = false;
        withRawConnection(path, [&locked](sqlite3* db) {
            sqlite3_stmt* begin = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr), SQLITE_OK);
            locked = sqlite3_step(begin) == SQLITE_DONE;
            sqlite3_finalize(begin);
            if (locked)
                rawExecute(db, "ROLLBACK");
        });
        return locked;
    };
    ASSERT_TRUE(otherWriterCanLock());
    EXPECT_FALSE(store->insert(item).ok());  // the same id again
    EXPECT_TRUE(otherWriterCanLock());
    ASSERT_TRUE(store->remove(QUuid::createUuid()).ok());
    EXPECT_TRUE(otherWriterCanLock());
    ASSERT_TRUE(store->insert(textItem(QStringLiteral("y"), 2)).ok());
    EXPECT_FALSE(otherWriterCanLock());  // a real change holds it until saved
    ASSERT_TRUE(store->save().ok());
    EXPECT_TRUE(otherWriterCanLock());
}

TEST(HistoryStoreTest, RemovingAnImageRecordRemovesItsBytes)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    const ClipItem image = imageItem(100, QByteArray("thumb"), 1);
    ASSERT_TRUE(store->insert(image).ok());
    ASSERT_TRUE(store->insert(imageItem(100, QByteArray("thumb"), 2)).ok());
    ASSERT_TRUE(store->save().ok());
    ASSERT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 2);

    ASSERT_TRUE(store->remove(image.id).ok());
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 1);
}

TEST(HistoryStoreTest, KeepsAFoldedSearchText)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store
                    ->insert(ClipItem::make(ClipKind::text, QStringLiteral("Crème"), std::nullopt, std::nullopt,
                                            std::nullopt, QStringLiteral("Ｔｅｒｍｉｎａｌ"), at(1)))
                    .ok());
    ASSERT_TRUE(store->insert(imageItem(1, std::nullopt, 2)).ok());
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(store->handle(), "SELECT searchText FROM clip ORDER BY createdAt", -1, &statement, nullptr),
        SQLITE_OK);
    QStringList searchTexts;
    while (sqlite3_step(statement) == SQLITE_ROW)
        searchTexts.append(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))));
    sqlite3_finalize(statement);
    EXPECT_EQ(searchTexts, (QStringList{QStringLiteral("creme\nterminal"), QStringLiteral("\nviewer")}));
}

TEST(HistoryStoreTest, FileStoreIsOwnerOnlyWithItsJournal)
{
    const QString path = storePath();
    auto store = openFile(path);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->path(), path);
    ASSERT_TRUE(store->insert(textItem(QStringLiteral("secret"), 1)).ok());
    ASSERT_TRUE(store->save().ok());

    ASSERT_TRUE(QFile::exists(path + QStringLiteral("-wal")));
    ASSERT_TRUE(QFile::exists(path + QStringLiteral("-shm")));
    for (const QString& file : storeFiles(path))
        EXPECT_EQ(permissions(file), 0600u) << file.toStdString();
    EXPECT_EQ(rawInt(store->handle(), "PRAGMA foreign_keys"), 1);
    EXPECT_EQ(rawInt(store->handle(), "PRAGMA synchronous"), 1);  // NORMAL
}

TEST(HistoryStoreTest, ExistingFilesAreMadeOwnerOnly)
{
    const QString path = storePath();
    auto first = openFile(path);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->insert(textItem(QStringLiteral("x"), 1)).ok());
    ASSERT_TRUE(first->save().ok());
    // A reader keeps the journal files in place after the first writer is gone.
    Result<std::unique_ptr<HistoryStore>> reader = HistoryStore::openReadOnly(path);
    ASSERT_TRUE(reader.ok());
    first.reset();
    for (const QString& file : storeFiles(path))
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0) << file.toStdString();
    auto store = openFile(path);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->insert(textItem(QStringLiteral("y"), 2)).ok());
    ASSERT_TRUE(store->save().ok());
    for (const QString& file : storeFiles(path))
        EXPECT_EQ(permissions(file), 0600u) << file.toStdString();

    // An empty file (say, made by hand) becomes a store.
    const QString emptyPath = storePath();
    writeFile(emptyPath, QByteArray());
    ASSERT_EQ(::chmod(QFile::encodeName(emptyPath).constData(), 0666), 0);
    auto fresh = openFile(emptyPath);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(permissions(emptyPath), 0600u);
    EXPECT_EQ(total(*fresh), 0);
}

TEST(HistoryStoreTest, OpenFileFailsWithoutItsFolder)
{
    const QString path = test::freshDirectory() + QStringLiteral("/missing/Nimbrel.store");
    const Result<std::unique_ptr<HistoryStore>> store = HistoryStore::openFile(path);
    ASSERT_FALSE(store.ok());
    EXPECT_TRUE(store.error().description.contains(path));
}

struct ForeignFile {
    const char* name;
    // Writes the file at the path.
    std::function<void(const QString&)> make;
    // A word the error must contain.
    QString reason;
};

void PrintTo(const ForeignFile& file, std::ostream* os)
{
    *os << file.name;
}

class ForeignFileTest : public ::testing::TestWithParam<ForeignFile> {};

TEST_P(ForeignFileTest, IsRefusedAndLeftUntouched)
{
    const ForeignFile& foreign = GetParam();
    const QString path = storePath();
    foreign.make(path);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    const QByteArray before = fileBytes(path);
    const QStringList filesBefore = siblings(path);

    for (const bool readOnly : {false, true}) {
        const Result<std::unique_ptr<HistoryStore>> store =
            readOnly ? HistoryStore::openReadOnly(path) : HistoryStore::openFile(path);
        ASSERT_FALSE(store.ok()) << (readOnly ? "read-only" : "read-write");
        EXPECT_TRUE(store.error().description.contains(path)) << store.error().description.toStdString();
        EXPECT_TRUE(store.error().description.contains(foreign.reason)) << store.error().description.toStdString();
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_EQ(permissions(path), 0644u);
        EXPECT_EQ(siblings(path), filesBefore);
    }
}

void makeForeignDatabase(const QString& path)
{
    withRawConnection(path, [](sqlite3* db) {
        rawExecute(db, "CREATE TABLE notes (body TEXT)");
        rawExecute(db, "INSERT INTO notes VALUES ('keep me')");
    });
}

void makeStoreWithVersion(const QString& path, const char* update)
{
    {
        auto store = openFile(path);
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->insert(textItem(QStringLiteral("x"), 1)).ok());
        ASSERT_TRUE(store->save().ok());
    }
    withRawConnection(path, [update](sqlite3* db) {
        rawExecute(db, "PRAGMA journal_mode = DELETE");  // leave a single file to compare
        rawExecute(db, update);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Files, ForeignFileTest,
    ::testing::Values(
        ForeignFile{"text file",
                    [](const QString& path) { writeFile(path, QByteArray("not a database\n").repeated(400)); },
                    QStringLiteral("not a SQLite database")},
        ForeignFile{
            "database header then garbage",
            [](const QString& path) { writeFile(path, QByteArray("SQLite format 3", 16) + QByteArray(8000, '\x5a')); },
            QStringLiteral("not a Nimbrel history store")},
        ForeignFile{"another program's database", makeForeignDatabase, QStringLiteral("another application")},
        ForeignFile{"our id without our tables",
                    [](const QString& path) {
                        withRawConnection(path, [](sqlite3* db) {
                            rawExecute(db, "PRAGMA application_id = 1313686098");
                            rawExecute(db, "CREATE TABLE meta (x)");
                        });
                    },
                    QStringLiteral("no schema version")},
        ForeignFile{"newer schema version",
                    [](const QString& path) { makeStoreWithVersion(path, "UPDATE meta SET schemaVersion = '2.0.0'"); },
                    QStringLiteral("2.0.0")},
        ForeignFile{"empty database of another application",
                    [](const QString& path) {
                        withRawConnection(path, [](sqlite3* db) { rawExecute(db, "PRAGMA application_id = 7"); });
                    },
                    QStringLiteral("another application")}));

TEST(HistoryStoreTest, ReadOnlyOpenNeverCreatesAStore)
{
    const QString missing = storePath();
    EXPECT_FALSE(HistoryStore::openReadOnly(missing).ok());
    EXPECT_FALSE(QFile::exists(missing));

    const QString empty = storePath();
    writeFile(empty, QByteArray());
    EXPECT_FALSE(HistoryStore::openReadOnly(empty).ok());
    EXPECT_EQ(QFileInfo(empty).size(), 0);
}

TEST(HistoryStoreTest, ReadOnlyStoreReadsBesideARunningWriter)
{
    const QString path = storePath();
    auto writer = openFile(path);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->insert(textItem(QStringLiteral("saved"), 1)).ok());
    ASSERT_TRUE(writer->save().ok());
    ASSERT_TRUE(writer->insert(textItem(QStringLiteral("pending"), 2)).ok());  // holds the write lock

    Result<std::unique_ptr<HistoryStore>> opened = HistoryStore::openReadOnly(path);
    ASSERT_TRUE(opened.ok()) << opened.error().description.toStdString();
    HistoryStore& reader = **opened;
    EXPECT_TRUE(reader.isReadOnly());
    EXPECT_EQ(texts(fetchAll(reader)), QStringList{QStringLiteral("saved")});
    EXPECT_EQ(total(reader), 5);

    ASSERT_TRUE(writer->save().ok());
    FetchDescriptor newestFirst;
    newestFirst.sortByCreatedAt = SortOrder::descending;
    EXPECT_EQ(texts(fetchAll(reader, newestFirst)), (QStringList{QStringLiteral("pending"), QStringLiteral("saved")}));

    EXPECT_FALSE(reader.insert(textItem(QStringLiteral("no"), 3)).ok());
    EXPECT_FALSE(reader.remove(fetchAll(reader)[0].id).ok());
    EXPECT_TRUE(reader.save().ok());
    EXPECT_EQ(count(*writer), 2);

    // After the writer is gone (and has cleaned up its journal) the file still reads.
    opened = Error{};
    writer.reset();
    ASSERT_FALSE(QFile::exists(path + QStringLiteral("-wal")));
    Result<std::unique_ptr<HistoryStore>> later = HistoryStore::openReadOnly(path);
    ASSERT_TRUE(later.ok()) << later.error().description.toStdString();
    EXPECT_EQ(fetchAll(**later).size(), 2);
}

// Runs only as the child of ReadOnlyStoreReadsFromAnotherProcess.
TEST(HistoryStoreChildProcess, ReadsTheStoreReadOnly)
{
    const QString path = qEnvironmentVariable("NIMBREL_TEST_READ_STORE");
    if (path.isEmpty())
        GTEST_SKIP() << "run by ReadOnlyStoreReadsFromAnotherProcess";
    Result<std::unique_ptr<HistoryStore>> reader = HistoryStore::openReadOnly(path);
    ASSERT_TRUE(reader.ok()) << reader.error().description.toStdString();
    FetchDescriptor oldestFirst;
    oldestFirst.sortByCreatedAt = SortOrder::ascending;
    EXPECT_EQ(texts(fetchAll(**reader, oldestFirst)).join(QLatin1Char(',')),
              qEnvironmentVariable("NIMBREL_TEST_EXPECTED_TEXTS"));
}

TEST(HistoryStoreTest, ReadOnlyStoreReadsFromAnotherProcess)
{
    const QString path = storePath();
    auto writer = openFile(path);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->insert(textItem(QStringLiteral("one"), 1)).ok());
    ASSERT_TRUE(writer->insert(imageItem(10, QByteArray("t"), 2)).ok());
    ASSERT_TRUE(writer->insert(textItem(QStringLiteral("two"), 3)).ok());
    ASSERT_TRUE(writer->save().ok());
    ASSERT_TRUE(writer->insert(textItem(QStringLiteral("pending"), 4)).ok());

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NIMBREL_TEST_READ_STORE"), path);
    environment.insert(QStringLiteral("NIMBREL_TEST_EXPECTED_TEXTS"), QStringLiteral("one,<none>,two"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=HistoryStoreChildProcess.ReadsTheStoreReadOnly")});
    ASSERT_TRUE(child.waitForFinished(60'000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    EXPECT_TRUE(writer->save().ok());
}

TEST(HistoryStoreTest, FailedCommitKeepsTheChangesPending)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    QSignalSpy spy(store.get(), &HistoryStore::changed);
    const ClipItem item = textItem(QStringLiteral("kept"), 1);
    ASSERT_TRUE(store->insert(item).ok());
    // A deferred foreign-key violation makes COMMIT fail while SQLite keeps the transaction open.
    rawExecute(store->handle(), "PRAGMA defer_foreign_keys = ON");
    rawExecute(store->handle(), "INSERT INTO clip_image (clipPk) VALUES (424242)");

    const Result<void> failed = store->save();
    ASSERT_FALSE(failed.ok());
    EXPECT_FALSE(failed.error().description.isEmpty());
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(store->hasChanges());
    EXPECT_EQ(fetchAll(*store).size(), 1);

    rawExecute(store->handle(), "DELETE FROM clip_image WHERE clipPk = 424242");
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(store->hasChanges());
}

TEST(HistoryStoreTest, ChangesLostByARollbackAreReported)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    QSignalSpy spy(store.get(), &HistoryStore::changed);
    ASSERT_TRUE(store->insert(textItem(QStringLiteral("lost"), 1)).ok());
    // What SQLite does by itself after some I/O errors and a full disk.
    rawExecute(store->handle(), "ROLLBACK");

    const Result<void> failed = store->save();
    ASSERT_FALSE(failed.ok());
    EXPECT_TRUE(failed.error().description.contains(QStringLiteral("rolled back")));
    EXPECT_FALSE(store->hasChanges());
    EXPECT_EQ(spy.count(), 0);

    // The store carries on with a new transaction.
    ASSERT_TRUE(store->insert(textItem(QStringLiteral("next"), 2)).ok());
    ASSERT_TRUE(store->save().ok());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(texts(fetchAll(*store)), QStringList{QStringLiteral("next")});
    EXPECT_EQ(total(*store), 4);
}

TEST(HistoryStoreTest, InMemoryStoreHasNoPath)
{
    auto store = inMemory();
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->path().isEmpty());
    EXPECT_FALSE(store->isReadOnly());
}

}  // namespace

// Only a regular file can be the store: a link would make its target the store, a pipe would block the
// opening for ever. Anything else is refused at once and left as it is.
TEST(HistoryStoreTest, OnlyARegularFileIsOpenedAsTheStore)
{
    struct Case {
        const char* name;
        std::function<void(const QString& path, const QString& folder)> make;
    };
    const Case cases[] = {
        {"link to an empty file",
         [](const QString& path, const QString& folder) {
             writeFile(folder + QStringLiteral("/target"), QByteArray());
             ASSERT_TRUE(QFile::link(folder + QStringLiteral("/target"), path));
         }},
        {"link to a store",
         [](const QString& path, const QString& folder) {
             ASSERT_TRUE(openFile(folder + QStringLiteral("/target")));
             ASSERT_TRUE(QFile::link(folder + QStringLiteral("/target"), path));
         }},
        {"dangling link",
         [](const QString& path, const QString& folder) {
             ASSERT_TRUE(QFile::link(folder + QStringLiteral("/nowhere"), path));
         }},
        {"pipe", [](const QString& path, const QString&) { ASSERT_EQ(::mkfifo(QFile::encodeName(path), 0600), 0); }},
        {"folder", [](const QString& path, const QString&) { ASSERT_TRUE(QDir().mkpath(path)); }},
    };
    for (const Case& c : cases) {
        const QString folder = test::freshDirectory();
        const QString path = folder + QStringLiteral("/Nimbrel.store");
        c.make(path, folder);
        const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        const QByteArray target = QFile::exists(folder + QStringLiteral("/target"))
                                      ? fileBytes(folder + QStringLiteral("/target"))
                                      : QByteArray();
        for (const auto& open : {&HistoryStore::openFile, &HistoryStore::openReadOnly}) {
            const Result<std::unique_ptr<HistoryStore>> store = open(path);
            EXPECT_FALSE(store.ok()) << c.name;
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), before) << c.name;
        if (QFile::exists(folder + QStringLiteral("/target"))) {
            EXPECT_EQ(fileBytes(folder + QStringLiteral("/target")), target) << c.name;
        }
    }
    // A regular file is overwritten where records are deleted.
    auto store = openFile(storePath());
    ASSERT_TRUE(store);
    EXPECT_EQ(rawInt(store->handle(), "PRAGMA secure_delete"), 1);
}

// Deleted records leave nothing readable behind: not in the file, not in its WAL, and their space goes
// back to the file system; a store made before incremental vacuum is rewritten once to get there.
TEST(HistoryStoreTest, DeletedRecordsLeaveNoTraceAndGiveTheirSpaceBack)
{
    for (const bool madeWithoutVacuum : {false, true}) {
        SCOPED_TRACE(madeWithoutVacuum ? "store made without incremental vacuum" : "new store");
        const QString path = storePath();
        auto store = openFile(path);
        if (madeWithoutVacuum) {
            ASSERT_EQ(sqlite3_exec(store->handle(), "PRAGMA auto_vacuum = NONE; VACUUM", nullptr, nullptr, nullptr),
                      SQLITE_OK);
            ASSERT_EQ(HistoryStore::convertToIncrementalVacuum(store->handle()).value(), true);
        }
        EXPECT_EQ(HistoryStore::convertToIncrementalVacuum(store->handle()).value(), false) << "nothing left to do";
        const QString secret = QStringLiteral("swordfish-") + QString(200'000, QLatin1Char('s'));
        QList<QUuid> ids;
        for (int i = 0; i < 20; ++i) {
            ClipItem item = textItem(secret + QString::number(i), i);
            if (i % 2)
                item = ClipItem::make(ClipKind::text, QStringLiteral("plain %1").arg(i), std::nullopt, std::nullopt,
                                      std::nullopt, std::nullopt, at(i),
                                      {{QStringLiteral("text/html"), (QStringLiteral("<b>") + secret).toUtf8()}});
            ids.append(item.id);
            ASSERT_TRUE(store->insert(item).ok());
            ASSERT_TRUE(store->save().ok());
        }
        ASSERT_TRUE(HistoryStore::reclaimSpace(store->handle()).value());
        const qint64 full = QFileInfo(path).size();
        for (const QUuid& id : ids)
            ASSERT_TRUE(store->remove(id).ok());
        ASSERT_TRUE(store->save().ok());
        // The index maintenance takes their entries out of the search index, then gives the space back.
        auto maintenance = std::move(SearchIndexBuilder::open(path)).value();
        while (!maintenance->purge(1000).value().complete) {
        }
        ASSERT_TRUE(HistoryStore::reclaimSpace(maintenance->handle()).value());
        EXPECT_LT(QFileInfo(path).size(), full / 4);
        for (const QString& file : QStringList{path, path + QStringLiteral("-wal")}) {
            QFile bytes(file);
            ASSERT_TRUE(bytes.open(QIODevice::ReadOnly) || !QFile::exists(file));
            EXPECT_FALSE(bytes.readAll().contains("swordfish-")) << qPrintable(file);
        }
    }
}

TEST(HistoryStoreTest, AStoreOfTheVersionBeforeGainsFormattedTextInPlace)
{
    const QString path = storePath();
    const ClipItem old = textItem(QStringLiteral("from before"), 1);
    {
        auto store = openFile(path);
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->insert(old).ok());
        ASSERT_TRUE(store->save().ok());
        ASSERT_EQ(
            sqlite3_exec(store->handle(),
                         "DROP TRIGGER clip_format_deleted; DROP TABLE clip_format; DROP TRIGGER clip_pin_deleted;"
                         " DROP TABLE clip_pin; PRAGMA user_version = 2",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
    }
    {
        // Read-only, as the command line reads it while an older Nimbrel runs: no formatted forms, no change.
        auto reader = HistoryStore::openReadOnly(path);
        ASSERT_TRUE(reader.ok()) << reader.error().description.toStdString();
        ClipItem item = old;
        ASSERT_TRUE((*reader)->loadContents(item).ok());
        EXPECT_TRUE(item.formats.isEmpty());
        EXPECT_TRUE((*reader)->formatTypes(old.id).value().isEmpty());
    }
    auto store = openFile(path);
    ASSERT_TRUE(store);
    const ClipItem formatted =
        ClipItem::make(ClipKind::text, QStringLiteral("bold"), std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                       at(2), {{QStringLiteral("text/html"), "<b>bold</b>"}});
    ASSERT_TRUE(store->insert(formatted).ok());
    ASSERT_TRUE(store->save().ok());
    const QList<ClipItem> all = fetchAll(*store);
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(store->formatTypes(formatted.id).value(), QStringList{QStringLiteral("text/html")});
    sqlite3_stmt* version = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(store->handle(), "PRAGMA user_version", -1, &version, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(version, 0), HistoryStore::storeVersion);
    sqlite3_finalize(version);
}
