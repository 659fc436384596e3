#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "support/HistoryTesting.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTimeZone>

#include <sqlite3.h>
#include <sys/stat.h>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

mode_t permissions(const QString& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

void makeStore(const QString& path, const QList<ClipItem>& items)
{
    auto store = valueOf(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    for (const ClipItem& item : items)
        expectOk(store->insert(item));
    expectOk(store->save());
}

void expectSameRecord(const ClipItem& actual, const ClipItem& expected)
{
    EXPECT_EQ(actual.id, expected.id);
    EXPECT_EQ(actual.kindRaw, expected.kindRaw);
    EXPECT_EQ(actual.contentText, expected.contentText);
    EXPECT_EQ(actual.sourceAppId, expected.sourceAppId);
    EXPECT_EQ(actual.sourceName, expected.sourceName);
    EXPECT_EQ(actual.createdAt.toMSecsSinceEpoch(), expected.createdAt.toMSecsSinceEpoch());
    EXPECT_EQ(actual.createdAt.timeSpec(), Qt::UTC);
    EXPECT_EQ(actual.byteSize, expected.byteSize);
}

}  // namespace

// Inserts and removes show in fetches and totals at once; a save emits `changed` only when it wrote something.
// A failed save keeps the changes pending when SQLite kept them, and says they are lost when it rolled them
// back (as it does by itself after some I/O errors and a full disk); the store carries on either way.
TEST(HistoryStoreTest, ChangesShowAtOnceAndSavesSayWhatTheyWrote)
{
    auto store = valueOf(HistoryStore::openInMemory());
    ASSERT_TRUE(store);
    QSignalSpy spy(store.get(), &HistoryStore::changed);
    expectOk(store->save());
    const ClipItem image = imageItem(QByteArray(100, 'i'), QByteArray(5000, 't'), 2);  // the thumbnail is not counted
    expectOk(store->insert(textItem(QStringLiteral("a"), 1)));
    expectOk(store->insert(image));
    EXPECT_TRUE(store->hasChanges());
    EXPECT_EQ(texts(fetchAll(*store)), (QStringList{QStringLiteral("a"), QStringLiteral("<none>")}));
    EXPECT_EQ(valueOf(store->totalByteSize()), 101);
    EXPECT_EQ(valueOf(store->count()), 2);
    EXPECT_EQ(spy.count(), 0);
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 1);
    expectOk(store->remove(QUuid::createUuid()));  // unknown id: not an error, nothing to write
    EXPECT_FALSE(store->hasChanges());
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 1);
    expectOk(store->remove(image.id));
    EXPECT_EQ(valueOf(store->totalByteSize()), 1);
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 0) << "the image bytes go with the record";
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 2);

    // A deferred foreign-key violation makes COMMIT fail while SQLite keeps the transaction open.
    expectOk(store->insert(textItem(QStringLiteral("kept"), 3)));
    rawExecute(store->handle(), "PRAGMA defer_foreign_keys = ON; INSERT INTO clip_image (clipPk) VALUES (4242)");
    Result<void> failed = store->save();
    ASSERT_FALSE(failed.ok());
    EXPECT_FALSE(failed.error().description.contains(QStringLiteral("rolled back")));
    EXPECT_TRUE(store->hasChanges());
    rawExecute(store->handle(), "DELETE FROM clip_image WHERE clipPk = 4242");
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 3);
    expectOk(store->insert(textItem(QStringLiteral("lost"), 4)));
    rawExecute(store->handle(), "ROLLBACK");
    failed = store->save();
    ASSERT_FALSE(failed.ok());
    EXPECT_TRUE(failed.error().description.contains(QStringLiteral("rolled back")));
    EXPECT_FALSE(store->hasChanges());
    expectOk(store->insert(textItem(QStringLiteral("next"), 5)));
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 4);
    EXPECT_EQ(texts(fetchAll(*store)),
              (QStringList{QStringLiteral("a"), QStringLiteral("kept"), QStringLiteral("next")}));
    EXPECT_EQ(valueOf(store->totalByteSize()), 9);
}

// Every field survives a save and a reopen; fetches come in time order, without the image bytes unless asked,
// never with the thumbnail or the formatted forms (loadContents and thumbnail read those).
TEST(HistoryStoreTest, EveryFieldSurvivesSaveAndReopen)
{
    const QString text = QStringLiteral("Grüße 中文 \U0001F600\n");
    const ClipItem full =
        ClipItem::make(ClipKind::text, text, {}, {}, QStringLiteral("org.example.Editor"), QStringLiteral("Éditeur"),
                       QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 987), Qt::UTC),
                       {{QStringLiteral("text/html"), "<b>Grüße</b>"}, {QStringLiteral("text/rtf"), "{\\rtf1}"}});
    // Present but empty must not come back absent (SQLite binds a null pointer as NULL).
    const ClipItem empty = ClipItem::make(ClipKind::text, QString(), {}, QByteArray(), QString(), QString(),
                                          QDateTime(QDate(1969, 7, 20), QTime(20, 17, 40, 5), QTimeZone(3600 * 5)));
    ClipItem unknownKind = textItem(QStringLiteral("x"), 5);
    unknownKind.kindRaw = QStringLiteral("video");
    const ClipItem image = imageItem(QByteArray(3000, 'i'), QByteArray(500, 't'), 1'700'000'000'001);
    const ClipItem bare = imageItem(QByteArray(10, 'i'), std::nullopt, 1'700'000'000'002);
    const QList<ClipItem> originals{full, bare, image, unknownKind, empty};  // newest first
    const QString path = storePath();
    makeStore(path, {unknownKind, full, empty, image, bare});  // so that insertion order cannot pass for time order
    auto store = valueOf(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    const QList<ClipItem> plain = fetchAll(*store, {SortOrder::descending});
    const QList<ClipItem> loaded = fetchAll(*store, {SortOrder::descending, std::nullopt, false, true});
    ASSERT_EQ(plain.size(), originals.size());
    ASSERT_EQ(loaded.size(), originals.size());
    qint64 bytes = 0;
    for (qsizetype i = 0; i < originals.size(); ++i) {
        SCOPED_TRACE(i);
        const ClipItem& original = originals[i];
        bytes += original.byteSize;
        expectSameRecord(plain[i], original);
        expectSameRecord(loaded[i], original);
        EXPECT_FALSE(plain[i].contentImage.has_value());
        EXPECT_EQ(loaded[i].contentImage, original.contentImage);
        EXPECT_FALSE(loaded[i].thumbnailData.has_value() || !loaded[i].formats.isEmpty());
        EXPECT_EQ(valueOf(store->thumbnail(original.id)), original.thumbnailData);
        ClipItem lazy = plain[i];
        expectOk(store->loadContents(lazy));
        EXPECT_EQ(lazy.contentImage, original.contentImage);
        EXPECT_EQ(lazy.formats, original.formats);
    }
    EXPECT_EQ(full.byteSize, text.toUtf8().size() + 14 + 7) << "the budget counts the formatted forms";
    EXPECT_EQ(valueOf(store->totalByteSize()), bytes);
    EXPECT_EQ(plain[4].createdAt.time().msec(), 5);
    EXPECT_EQ(plain[3].kind(), ClipKind::text);
    EXPECT_EQ(texts(fetchAll(*store, {SortOrder::descending, 2})), (QStringList{text, QStringLiteral("<none>")}));
    EXPECT_EQ(fetchAll(*store, {SortOrder::ascending, 0}).size(), 0);
    EXPECT_FALSE(store->fetch({.limit = -1}).ok());
    // Only id and size, whatever else is asked.
    const ClipItem sized = fetchAll(*store, {SortOrder::ascending, 1, true, true}).value(0);
    EXPECT_EQ(sized.id, empty.id);
    EXPECT_EQ(sized.byteSize, 0);
    EXPECT_FALSE(sized.contentText || sized.createdAt.isValid());

    // Unknown ids read as absent, and clear what a record held before.
    EXPECT_FALSE(valueOf(store->record(QUuid::createUuid())).has_value());
    EXPECT_FALSE(valueOf(store->thumbnail(QUuid::createUuid())).has_value());
    ClipItem stranger = imageItem(QByteArray("stale"), QByteArray("t"), 1);
    expectOk(store->loadContents(stranger));
    EXPECT_FALSE(stranger.contentImage.has_value());
}

// A refused record leaves the pending ones intact, and a change that writes nothing does not keep another
// writer out until the next save. A read-only store reads beside the writer what it saved, and changes nothing.
TEST(HistoryStoreTest, TheWriterHoldsTheStoreOnlyForRealChangesAndReadersReadBesideIt)
{
    const QString path = storePath();
    auto store = valueOf(HistoryStore::openFile(path));
    ASSERT_TRUE(store);
    const auto otherWriterCanLock = [&path] {
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        const bool locked = sqlite3_exec(db, "BEGIN IMMEDIATE; ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return locked;
    };
    expectOk(store->insert(textItem(QStringLiteral("saved"), 0)));
    expectOk(store->save());
    const ClipItem kept = textItem(QStringLiteral("kept"), 1);
    expectOk(store->insert(kept));
    EXPECT_FALSE(otherWriterCanLock()) << "a real change holds the lock until saved";
    auto reader = valueOf(HistoryStore::openReadOnly(path));
    ASSERT_TRUE(reader);
    EXPECT_EQ(texts(fetchAll(*reader)), QStringList{QStringLiteral("saved")});
    ClipItem sameId = textItem(QStringLiteral("other"), 2);
    ClipItem sameIdImage = imageItem(QByteArray(5, 'i'), QByteArray("t"), 2);
    sameId.id = sameIdImage.id = kept.id;
    ClipItem noId = textItem(QStringLiteral("x"), 3);
    noId.id = QUuid();
    ClipItem noTime = textItem(QStringLiteral("y"), 4);
    noTime.createdAt = QDateTime();
    for (const ClipItem& refused : {sameId, sameIdImage, noId, noTime}) {
        const Result<void> inserted = store->insert(refused);
        ASSERT_FALSE(inserted.ok());
        EXPECT_FALSE(inserted.error().description.isEmpty());
    }
    expectOk(store->save());
    EXPECT_EQ(texts(fetchAll(*reader)), (QStringList{QStringLiteral("saved"), QStringLiteral("kept")}));
    EXPECT_EQ(valueOf(reader->totalByteSize()), 9);
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 0);
    EXPECT_TRUE(reader->isReadOnly());
    EXPECT_FALSE(reader->insert(textItem(QStringLiteral("no"), 3)).ok());
    EXPECT_FALSE(reader->remove(kept.id).ok());
    EXPECT_FALSE(reader->setPinned(kept.id, true).ok());
    EXPECT_FALSE(reader->clear(true).ok());
    expectOk(reader->save());

    EXPECT_TRUE(otherWriterCanLock());
    EXPECT_FALSE(store->insert(kept).ok());
    EXPECT_TRUE(otherWriterCanLock());
    expectOk(store->remove(QUuid::createUuid()));
    EXPECT_TRUE(otherWriterCanLock());
    EXPECT_FALSE(valueOf(store->setPinned(QUuid::createUuid(), true)));
    EXPECT_TRUE(otherWriterCanLock());
    // After the writer is gone (and has cleaned up its journal) the file still reads.
    reader.reset();
    store.reset();
    ASSERT_FALSE(QFile::exists(path + QStringLiteral("-wal")));
    EXPECT_EQ(fetchAll(*valueOf(HistoryStore::openReadOnly(path))).size(), 2);
}

// The store and its journal are the owner's alone, also when left readable by others or made by hand.
TEST(HistoryStoreTest, FilesAreOwnerOnly)
{
    const QString path = storePath();
    const QStringList files = {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")};
    auto first = valueOf(HistoryStore::openFile(path));
    ASSERT_TRUE(first);
    expectOk(first->insert(textItem(QStringLiteral("secret"), 1)));
    expectOk(first->save());
    EXPECT_EQ(rawInt(first->handle(), "PRAGMA secure_delete"), 1) << "deleted records are overwritten in the file";
    auto reader = valueOf(HistoryStore::openReadOnly(path));  // keeps the journal files after the writer is gone
    first.reset();
    for (const QString& file : files) {
        EXPECT_EQ(permissions(file), 0600u) << file.toStdString();
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    }
    auto store = valueOf(HistoryStore::openFile(path));
    expectOk(store->insert(textItem(QStringLiteral("y"), 2)));
    expectOk(store->save());
    for (const QString& file : files)
        EXPECT_EQ(permissions(file), 0600u) << file.toStdString();

    const QString byHand = storePath();
    writeFile(byHand, QByteArray());
    ASSERT_EQ(::chmod(QFile::encodeName(byHand).constData(), 0666), 0);
    EXPECT_EQ(valueOf(valueOf(HistoryStore::openFile(byHand))->count()), 0);
    EXPECT_EQ(permissions(byHand), 0600u);
}

// Only a regular file that is a Nimbrel store is opened: anything else is refused, saying why, and left as it
// is with whatever is beside it (a link is not followed, a pipe would block the opening for ever).
TEST(HistoryStoreTest, WhatIsNotAStoreIsRefusedAndLeftUntouched)
{
    // What a folder holds: names, and the bytes and mode of each regular file (links are not followed).
    const auto snapshot = [](const QString& folder) {
        QStringList result;
        for (const QFileInfo& info :
             QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
            result << info.fileName();
            if (info.isFile() && !info.isSymLink())
                result << fileBytes(info.filePath()).toBase64() << QString::number(permissions(info.filePath()));
        }
        return result;
    };
    // What is at the store's path: a file of these bytes, the outcome of SQL on a new database or on a store,
    // or something else.
    const char* cases[][2] = {
        {"bytes:not a database", "not a SQLite database"},
        {"bytes:SQLite format 3", "not a Nimbrel history store"},
        {"CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('keep me')", "another application"},
        {"PRAGMA application_id = 7", "another application"},
        {"PRAGMA application_id = 1313686098; CREATE TABLE meta (x)", "no schema version"},
        {"UPDATE meta SET schemaVersion = '2.0.0'", "2.0.0"},
        {"link to an empty file", "symbolic link"},
        {"link to a store", "symbolic link"},
        {"link to nothing", "symbolic link"},
        {"pipe", "not a regular file"},
        {"folder", "not a regular file"},
    };
    for (const auto& [what, reason] : cases) {
        SCOPED_TRACE(what);
        const QString folder = freshDirectory();
        const QString path = folder + QStringLiteral("/Nimbrel.store");
        const QString made = QString::fromLatin1(what);
        if (made.startsWith(QLatin1String("bytes:"))) {
            writeFile(path, QByteArray(made.mid(6).toLatin1() + QByteArray(16, '\0')).repeated(400));
        } else if (made.startsWith(QLatin1String("link to"))) {
            if (made.endsWith(QLatin1String("store")))
                makeStore(folder + QStringLiteral("/target"), {});
            else if (made.endsWith(QLatin1String("file")))
                writeFile(folder + QStringLiteral("/target"), QByteArray());
            ASSERT_TRUE(QFile::link(folder + QStringLiteral("/target"), path));
        } else if (made == QLatin1String("pipe")) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path), 0644), 0);
        } else if (made == QLatin1String("folder")) {
            ASSERT_TRUE(QDir().mkpath(path));
        } else {
            if (made.startsWith(QLatin1String("UPDATE")))
                makeStore(path, {textItem(QStringLiteral("x"), 1)});
            rawFile(path, QStringLiteral("PRAGMA journal_mode = DELETE; ") + made);
        }
        if (QFileInfo(path).isFile() && !QFileInfo(path).isSymLink()) {
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
        }
        const QStringList before = snapshot(folder);
        for (const auto& open : {&HistoryStore::openFile, &HistoryStore::openReadOnly}) {
            const Result<std::unique_ptr<HistoryStore>> opened = open(path);
            ASSERT_FALSE(opened.ok());
            const QString why = opened.error().description;
            EXPECT_TRUE(why.contains(path) && why.contains(QLatin1String(reason))) << why.toStdString();
            EXPECT_EQ(snapshot(folder), before);
        }
    }
    // Read-only, nothing is ever created; for writing, the folder must exist.
    const QString folder = freshDirectory();
    writeFile(folder + QStringLiteral("/empty"), QByteArray());
    const QStringList before = snapshot(folder);
    for (const char* name : {"/missing", "/empty", "/no-folder/Nimbrel.store"})
        EXPECT_FALSE(HistoryStore::openReadOnly(folder + QLatin1String(name)).ok()) << name;
    const Result<std::unique_ptr<HistoryStore>> store = HistoryStore::openFile(folder + QStringLiteral("/no-folder/x"));
    ASSERT_FALSE(store.ok());
    EXPECT_TRUE(store.error().description.contains(QStringLiteral("/no-folder/x")));
    EXPECT_EQ(snapshot(folder), before);
}

// A store of every earlier layout reads, read-only, as it is (every record unpinned, the file byte for byte
// untouched), and is upgraded in place when opened for writing, its records intact and none pinned. A store
// of a newer version is refused and left as it is.
TEST(HistoryStoreTest, StoresOfOtherVersionsAreUpgradedReadAsTheyAreOrRefused)
{
    for (const int version : {0, 2, 3, HistoryStore::storeVersion + 1}) {
        SCOPED_TRACE(version);
        const QString path = storePath();
        QList<std::pair<QString, QByteArray>> html;
        if (version >= 3)  // the earlier layouts kept no formatted forms
            html = {{QStringLiteral("text/html"), "<b>alpha bold</b>"}};
        const QList<ClipItem> records = {textItem(QStringLiteral("alpha plain"), 1),
                                         textItem(QStringLiteral("alpha bold"), 2, false, html),
                                         imageItem(QByteArray(5000, 'i'), QByteArray(300, 't'), 3)};
        makeStore(path, records);
        makeStoreVersion(path, version);
        const QByteArray before = fileBytes(path);
        if (version > HistoryStore::storeVersion) {
            for (const auto& open : {&HistoryStore::openFile, &HistoryStore::openReadOnly}) {
                const Result<std::unique_ptr<HistoryStore>> store = open(path);
                ASSERT_FALSE(store.ok());
                EXPECT_TRUE(store.error().description.contains(QLatin1String("newer Nimbrel")));
            }
            EXPECT_EQ(fileBytes(path), before);
            continue;
        }
        {
            auto reader = valueOf(HistoryStore::openReadOnly(path));
            ASSERT_TRUE(reader);
            EXPECT_EQ(texts(fetchAll(*reader)), texts(records));
            EXPECT_EQ(valueOf(reader->usage()).records, 3);
            EXPECT_EQ(valueOf(reader->usage()).pinnedRecords, 0);
            auto search = valueOf(HistorySearch::open(path));
            EXPECT_EQ(valueOf(search->run({QStringLiteral("alpha")})).items.size(), 2);
            EXPECT_TRUE(valueOf(search->run({.text = QStringLiteral("alpha"), .pinnedOnly = true})).items.isEmpty());
        }
        EXPECT_EQ(fileBytes(path), before) << "reading changed the file";

        auto store = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        EXPECT_EQ(rawInt(store->handle(), "PRAGMA user_version"), HistoryStore::storeVersion);
        const QList<ClipItem> upgraded = fetchAll(*store);
        ASSERT_EQ(upgraded.size(), records.size());
        for (int i = 0; i < records.size(); ++i) {
            ClipItem loaded = upgraded[i];
            expectOk(store->loadContents(loaded));
            expectSameRecord(loaded, records[i]);
            EXPECT_EQ(loaded.contentImage, records[i].contentImage);
            EXPECT_EQ(loaded.formats, records[i].formats);
            EXPECT_FALSE(loaded.pinned);
            EXPECT_EQ(valueOf(store->thumbnail(loaded.id)), records[i].thumbnailData);
        }
        // The upgraded store takes what the current layout holds: formatted forms and pins.
        const ClipItem bold = textItem(QStringLiteral("bold"), 4, true, {{QStringLiteral("text/html"), "<b>bold</b>"}});
        expectOk(store->insert(bold));
        EXPECT_TRUE(valueOf(store->setPinned(records[1].id, true)));
        expectOk(store->save());
        store.reset();
        auto reader = valueOf(HistoryStore::openReadOnly(path));
        EXPECT_EQ(texts(fetchAll(*reader), true), (QStringList{QStringLiteral("alpha bold"), QStringLiteral("bold")}));
        EXPECT_EQ(valueOf(reader->formatTypes(bold.id)), QStringList{QStringLiteral("text/html")});
    }
}
