#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "support/HistoryTesting.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTimeZone>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

mode_t permissions(const QString& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

void expectSameRecord(const HistoryStore& store, ClipItem actual, const ClipItem& expected)
{
    expectOk(store.loadContents(actual));
    EXPECT_EQ(std::tie(actual.id, actual.kindRaw, actual.contentText, actual.sourceAppId, actual.sourceName),
              std::tie(expected.id, expected.kindRaw, expected.contentText, expected.sourceAppId, expected.sourceName));
    EXPECT_EQ(actual.createdAt.toMSecsSinceEpoch(), expected.createdAt.toMSecsSinceEpoch());
    EXPECT_EQ(actual.createdAt.timeSpec(), Qt::UTC);
    EXPECT_EQ(std::tie(actual.byteSize, actual.contentImage, actual.formats),
              std::tie(expected.byteSize, expected.contentImage, expected.formats));
    EXPECT_EQ(valueOf(store.thumbnail(actual.id)), expected.thumbnailData);
}

}  // namespace

// Inserts and removes show in fetches and totals at once; a save emits `changed` only when it wrote something.
// A failed save keeps the changes pending when SQLite kept them, and says they are lost when it rolled them
// back (as it does by itself after some I/O errors and a full disk); the store carries on either way.
TEST(HistoryStoreTest, ChangesShowAtOnceAndSavesSayWhatTheyWrote)
{
    auto store = makeStore({});
    QSignalSpy spy(store.get(), &HistoryStore::changed);
    const ClipItem image = imageItem(QByteArray(100, 'i'), QByteArray(5000, 't'), 2);  // the thumbnail is not counted
    expectOk(store->insert(textItem(QStringLiteral("a"), 1)));
    expectOk(store->insert(image));
    EXPECT_TRUE(store->hasChanges());
    EXPECT_EQ(texts(fetchAll(*store)), (QStringList{QStringLiteral("a"), QStringLiteral("<none>")}));
    EXPECT_EQ(std::pair(valueOf(store->totalByteSize()), valueOf(store->count())), std::pair(qint64(101), qint64(2)));
    expectOk(store->save());
    expectOk(store->remove(QUuid::createUuid()));  // unknown id: not an error, nothing to write
    EXPECT_FALSE(store->hasChanges());
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 1);
    expectOk(store->remove(image.id));
    EXPECT_EQ(valueOf(store->totalByteSize()), 1);
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 0) << "the image bytes go with the record";
    // A deferred foreign-key violation makes COMMIT fail while SQLite keeps the transaction open.
    expectOk(store->insert(textItem(QStringLiteral("kept"), 3)));
    rawExecute(store->handle(), "PRAGMA defer_foreign_keys = ON; INSERT INTO clip_image (clipPk) VALUES (4242)");
    Result<void> failed = store->save();
    ASSERT_FALSE(failed.ok());
    EXPECT_FALSE(failed.error().description.contains(QStringLiteral("rolled back")));
    EXPECT_TRUE(store->hasChanges());
    rawExecute(store->handle(), "DELETE FROM clip_image WHERE clipPk = 4242");
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 2);
    expectOk(store->insert(textItem(QStringLiteral("lost"), 4)));
    rawExecute(store->handle(), "ROLLBACK");
    failed = store->save();
    ASSERT_FALSE(failed.ok());
    EXPECT_TRUE(failed.error().description.contains(QStringLiteral("rolled back")));
    EXPECT_FALSE(store->hasChanges());
    expectOk(store->insert(textItem(QStringLiteral("next"), 5)));
    expectOk(store->save());
    EXPECT_EQ(spy.count(), 3);
    EXPECT_EQ(texts(fetchAll(*store)),
              (QStringList{QStringLiteral("a"), QStringLiteral("kept"), QStringLiteral("next")}));
    EXPECT_EQ(valueOf(store->totalByteSize()), 9);
}

// A refused record leaves the pending ones intact, and a change that writes nothing does not keep another
// writer out until the next save. A read-only store reads beside the writer what it saved, and changes nothing.
TEST(HistoryStoreTest, TheWriterHoldsTheStoreOnlyForRealChangesAndReadersReadBesideIt)
{
    const QString path = storePath();
    auto store = makeStore({textItem(QStringLiteral("saved"), 0)}, path);
    const auto otherWriterCanLock = [&path] {
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        const bool locked = sqlite3_exec(db, "BEGIN IMMEDIATE; ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return locked;
    };
    const ClipItem kept = textItem(QStringLiteral("kept"), 1);
    expectOk(store->insert(kept));
    EXPECT_FALSE(otherWriterCanLock()) << "a real change holds the lock until saved";
    auto reader = valueOf(HistoryStore::openReadOnly(path));
    EXPECT_EQ(texts(fetchAll(*reader)), QStringList{QStringLiteral("saved")});
    ClipItem sameId = textItem(QStringLiteral("other"), 2), sameIdImage = imageItem("iiiii", QByteArray("t"), 2);
    sameId.id = sameIdImage.id = kept.id;
    ClipItem noId = textItem(QStringLiteral("x"), 3), noTime = textItem(QStringLiteral("y"), 4);
    noId.id = QUuid();
    noTime.createdAt = QDateTime();
    for (const ClipItem& refused : {sameId, sameIdImage, noId, noTime}) {
        const Result<void> inserted = store->insert(refused);
        EXPECT_FALSE(inserted.ok() || inserted.error().description.isEmpty());
    }
    expectOk(store->save());
    EXPECT_EQ(texts(fetchAll(*reader)), (QStringList{QStringLiteral("saved"), QStringLiteral("kept")}));
    EXPECT_EQ(valueOf(reader->totalByteSize()), 9);
    EXPECT_EQ(rawInt(store->handle(), "SELECT count(*) FROM clip_image"), 0);
    EXPECT_FALSE(!reader->isReadOnly() || reader->insert(textItem(QStringLiteral("no"), 3)).ok() ||
                 reader->remove(kept.id).ok() || reader->setPinned(kept.id, true).ok() || reader->clear(true).ok());
    expectOk(reader->save());
    EXPECT_FALSE(store->insert(kept).ok());
    expectOk(store->remove(QUuid::createUuid()));
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
    auto first = makeStore({textItem(QStringLiteral("secret"), 1)}, path);
    EXPECT_EQ(rawInt(first->handle(), "PRAGMA secure_delete"), 1) << "deleted records are overwritten in the file";
    auto reader = valueOf(HistoryStore::openReadOnly(path));  // keeps the journal files after the writer is gone
    first.reset();
    for (const QString& file : files) {
        EXPECT_EQ(permissions(file), 0600u) << file.toStdString();
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    }
    makeStore({textItem(QStringLiteral("y"), 2)}, path);
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
    // Names, and the bytes and mode of each regular file (links are not followed).
    const auto snapshot = [](const QString& folder) {
        QStringList result;
        for (const QFileInfo& info :
             QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
            result << info.fileName();
            if (info.isFile() && !info.isSymLink())
                result << readFile(info.filePath()).toBase64() << QString::number(permissions(info.filePath()));
        }
        return result;
    };
    // What is at the store's path, or at the target it links to: bytes, or SQL run on a new file or on a store.
    const std::tuple<std::string_view, const char*, const char*> cases[] = {
        {"file", "bytes:not a database", "not a SQLite database"},
        {"file", "bytes:SQLite format 3", "not a Nimbrel history store"},
        {"file", "sql:CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('keep me')", "another application"},
        {"file", "sql:PRAGMA application_id = 7", "another application"},
        {"file", "sql:PRAGMA application_id = 1313686098; CREATE TABLE meta (x)", "no schema version"},
        {"file", "store:UPDATE meta SET schemaVersion = '2.0.0'", "2.0.0"},
        {"link", "bytes:", "symbolic link"},
        {"link", "store:", "symbolic link"},
        {"link", "", "symbolic link"},
        {"pipe", "", "not a regular file"},
        {"folder", "", "not a regular file"},
    };
    for (const auto& [at, made, reason] : cases) {
        SCOPED_TRACE(std::string(at) + ": " + made);
        const QString folder = freshDirectory();
        const QString path = folder + QStringLiteral("/Nimbrel.store");
        const QString file = at == "link" ? folder + QStringLiteral("/target") : path;
        const QString what = QString::fromLatin1(made), body = what.mid(what.indexOf(u':') + 1);
        if (what.startsWith(QLatin1String("bytes:")))
            writeFile(file,
                      body.isEmpty() ? QByteArray() : QByteArray(body.toLatin1() + QByteArray(16, '\0')).repeated(400));
        else if (what.startsWith(QLatin1String("store:")))
            makeStore({textItem(QStringLiteral("x"), 1)}, file);
        if (!what.startsWith(QLatin1String("bytes:")) && !body.isEmpty())
            rawFile(file, QStringLiteral("PRAGMA journal_mode = DELETE; ") + body);
        if (at == "link")
            ASSERT_TRUE(QFile::link(file, path));
        else if (at == "pipe")
            ASSERT_EQ(::mkfifo(QFile::encodeName(path), 0644), 0);
        else if (at == "folder")
            ASSERT_TRUE(QDir().mkpath(path));
        else
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
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
    EXPECT_TRUE(!store && store.error().description.contains(QStringLiteral("/no-folder/x")));
    EXPECT_EQ(snapshot(folder), before);
}

// A store of the current layout and of every earlier one reads, read-only, as it is (every record unpinned, the
// file byte for byte untouched), and is upgraded in place when opened for writing, every field intact and none
// pinned, and then takes formatted forms and pins. Fetches come in time order, without the image bytes unless
// asked, never with the thumbnail or the formatted forms. A store of a newer version is refused and left as it is.
TEST(HistoryStoreTest, EveryFieldSurvivesAReopenAndAnUpgradeOrANewerStoreIsRefused)
{
    for (const int version : {0, 2, 3, HistoryStore::storeVersion, HistoryStore::storeVersion + 1}) {
        SCOPED_TRACE(version);
        QList<std::pair<QString, QByteArray>> formats;
        if (version >= 3)  // the earlier layouts kept no formatted forms
            formats = {{QStringLiteral("text/html"), "<b>Grüße</b>"}, {QStringLiteral("text/rtf"), "{\\rtf1}"}};
        const ClipItem full = ClipItem::make(ClipKind::text, QStringLiteral("alpha Grüße 中文 \U0001F600\n"), {}, {},
                                             QStringLiteral("org.example.Editor"), QStringLiteral("Éditeur"),
                                             QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 987), Qt::UTC), formats);
        // Present but empty must not come back absent (SQLite binds a null pointer as NULL).
        const ClipItem empty = ClipItem::make(ClipKind::text, QString(), {}, QByteArray(), QString(), QString(),
                                              QDateTime(QDate(1969, 7, 20), QTime(20, 17, 40, 5), QTimeZone(3600 * 5)));
        ClipItem unknownKind = textItem(QStringLiteral("alpha"), 5);
        unknownKind.kindRaw = QStringLiteral("video");
        const ClipItem image = imageItem(QByteArray(3000, 'i'), QByteArray(500, 't'), 1'700'000'000'001);
        const ClipItem bare = imageItem(QByteArray(10, 'i'), std::nullopt, 1'700'000'000'002);
        const QList<ClipItem> records{full, bare, image, unknownKind, empty};  // newest first
        const QString path = storePath();
        makeStore({unknownKind, full, empty, image, bare}, path);  // so that insertion order cannot pass for time order
        if (version != HistoryStore::storeVersion)
            makeStoreVersion(path, version);
        const QByteArray before = readFile(path);
        if (version > HistoryStore::storeVersion) {
            for (const auto& open : {&HistoryStore::openFile, &HistoryStore::openReadOnly})
                EXPECT_TRUE(open(path).error().description.contains(QLatin1String("newer Nimbrel")));
            EXPECT_EQ(readFile(path), before);
            continue;
        }
        {
            auto reader = valueOf(HistoryStore::openReadOnly(path));
            EXPECT_EQ(texts(fetchAll(*reader, {SortOrder::descending})), texts(records));
            EXPECT_EQ(std::pair(valueOf(reader->usage()).records, valueOf(reader->usage()).pinnedRecords),
                      std::pair(qint64(5), qint64(0)));
            auto search = valueOf(HistorySearch::open(path));
            EXPECT_EQ(valueOf(search->run({QStringLiteral("alpha")})).items.size(), 2);
            EXPECT_TRUE(valueOf(search->run({.text = QStringLiteral("alpha"), .pinnedOnly = true})).items.isEmpty());
        }
        EXPECT_EQ(readFile(path), before) << "reading changed the file";
        auto store = valueOf(HistoryStore::openFile(path));
        ASSERT_TRUE(store);
        EXPECT_EQ(rawInt(store->handle(), "PRAGMA user_version"), HistoryStore::storeVersion);
        const QList<ClipItem> plain = fetchAll(*store, {SortOrder::descending});
        const QList<ClipItem> loaded = fetchAll(*store, {SortOrder::descending, std::nullopt, false, true});
        ASSERT_EQ(plain.size(), records.size());
        for (qsizetype i = 0; i < records.size(); ++i) {
            expectSameRecord(*store, plain[i], records[i]);
            EXPECT_FALSE(plain[i].pinned || plain[i].contentImage.has_value());
            EXPECT_EQ(loaded[i].contentImage, records[i].contentImage);
            EXPECT_FALSE(loaded[i].thumbnailData.has_value() || !loaded[i].formats.isEmpty());
        }
        EXPECT_EQ(full.byteSize, 26 + (version >= 3 ? 14 + 7 : 0)) << "UTF-8 bytes and the formatted forms count";
        EXPECT_EQ(valueOf(store->totalByteSize()), 3000 + 10 + 5 + full.byteSize);
        EXPECT_EQ(std::pair(plain[4].createdAt.time().msec(), plain[3].kind()), std::pair(5, ClipKind::text));
        EXPECT_EQ(fetchAll(*store, {SortOrder::descending, 2}).value(1).id, bare.id);
        EXPECT_EQ(fetchAll(*store, {SortOrder::ascending, 0}).size(), 0);
        EXPECT_FALSE(store->fetch({.limit = -1}).ok());
        // Only id and size, whatever else is asked.
        const ClipItem sized = fetchAll(*store, {SortOrder::ascending, 1, true, true}).value(0);
        EXPECT_EQ(std::pair(sized.id, sized.byteSize), std::pair(empty.id, qint64(0)));
        EXPECT_FALSE(sized.contentText || sized.createdAt.isValid());
        // Unknown ids read as absent, and clear what a record held before.
        EXPECT_FALSE(valueOf(store->record(QUuid::createUuid())) || valueOf(store->thumbnail(QUuid::createUuid())));
        ClipItem stranger = imageItem(QByteArray("stale"), QByteArray("t"), 1);
        expectOk(store->loadContents(stranger));
        EXPECT_FALSE(stranger.contentImage.has_value());
        const ClipItem bold = textItem(QStringLiteral("bold"), 4, true, {{QStringLiteral("text/html"), "<b>bold</b>"}});
        expectOk(store->insert(bold));
        EXPECT_TRUE(valueOf(store->setPinned(full.id, true)));
        expectOk(store->save());
        store.reset();
        auto reader = valueOf(HistoryStore::openReadOnly(path));
        EXPECT_EQ(texts(fetchAll(*reader), true), (QStringList{QStringLiteral("bold"), *full.contentText}));
        EXPECT_EQ(valueOf(reader->formatTypes(bold.id)), QStringList{QStringLiteral("text/html")});
    }
}
