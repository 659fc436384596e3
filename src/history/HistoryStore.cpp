#include "history/HistoryStore.h"

#include "history/RecordColumns.h"
#include "history/SearchFolding.h"
#include "history/SqliteStatement.h"

#include <QByteArrayView>
#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nimbrel {

namespace {

// Marks the database file as ours ("NMBR"), so a foreign SQLite file is recognised even before its
// tables are read.
constexpr int applicationId = 0x4E4D4252;
constexpr int busyTimeoutMilliseconds = 2000;
constexpr mode_t ownerOnly = S_IRUSR | S_IWUSR;

// Records, an index for the time-ordered scans, the image bytes apart so that scanning records never
// reads them (the thumbnail first, so reading it does not walk the image's pages), and one row of
// bookkeeping whose totals the triggers keep exact. searchText is the folded contentText and sourceName
// joined by a line feed; searchSource repeats the folded sourceName so that a query holding a line feed
// can be matched against each part alone.
constexpr const char* recordStatements[] = {
    "PRAGMA application_id = 1313686098",
    "CREATE TABLE meta ("
    " singleton INTEGER PRIMARY KEY CHECK (singleton = 1),"
    " schemaVersion TEXT NOT NULL,"
    " totalByteSize INTEGER NOT NULL DEFAULT 0,"
    " recordCount INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE clip ("
    " pk INTEGER PRIMARY KEY,"
    " id BLOB NOT NULL UNIQUE,"
    " kindRaw TEXT NOT NULL,"
    " contentText TEXT,"
    " sourceBundleID TEXT,"
    " sourceName TEXT,"
    " createdAt INTEGER NOT NULL,"
    " byteSize INTEGER NOT NULL,"
    " searchText TEXT NOT NULL,"
    " searchSource TEXT NOT NULL)",
    "CREATE INDEX clip_createdAt ON clip (createdAt)",
    "CREATE TABLE clip_image ("
    " clipPk INTEGER PRIMARY KEY REFERENCES clip (pk) ON DELETE CASCADE,"
    " thumbnailData BLOB,"
    " contentImage BLOB)",
    "CREATE TRIGGER clip_inserted AFTER INSERT ON clip BEGIN"
    " UPDATE meta SET totalByteSize = totalByteSize + NEW.byteSize, recordCount = recordCount + 1; END",
    "CREATE TRIGGER clip_deleted AFTER DELETE ON clip BEGIN"
    " UPDATE meta SET totalByteSize = totalByteSize - OLD.byteSize, recordCount = recordCount - 1; END",
    "CREATE TRIGGER clip_resized AFTER UPDATE OF byteSize ON clip BEGIN"
    " UPDATE meta SET totalByteSize = totalByteSize - OLD.byteSize + NEW.byteSize; END",
};

// The search index (store version 2). A trigram index over searchText, holding no copy of the text,
// and a kind mark (one trigram: char(1, 2) and the kind's first letter); records with pk above
// search_state.indexedAbove are in it, the others still wait for the background build
// (searchIndexComplete). Taking a record out of the index costs as much as putting it in, so a deletion
// only queues its entries in search_pending, which the background maintenance works off; until then
// they are candidates that match no record. A pk used again (SQLite reuses the highest) first has its
// queued entries taken out. clip_order keeps the newest createdAt of every 1024 consecutive pks, so that
// a search walking the index newest pk first knows when no older pk can hold a newer record. Triggers
// keep all of it exact, also for writers that know nothing of them.
constexpr const char* searchIndexStatements[] = {
    "CREATE VIRTUAL TABLE clip_search USING fts5(searchText, kindMark, content='',"
    " tokenize='trigram case_sensitive 1', detail='none', columnsize=0)",
    "CREATE TABLE search_state ("
    " singleton INTEGER PRIMARY KEY CHECK (singleton = 1),"
    " indexedAbove INTEGER NOT NULL)",
    "CREATE TABLE clip_order (block INTEGER PRIMARY KEY, newest INTEGER NOT NULL)",
    "CREATE TABLE search_pending (pk INTEGER PRIMARY KEY, searchText TEXT NOT NULL, kindMark TEXT NOT NULL)",
    "CREATE TRIGGER clip_search_inserted AFTER INSERT ON clip"
    " WHEN NEW.pk > (SELECT indexedAbove FROM search_state) BEGIN"
    " INSERT INTO clip_search (clip_search, rowid, searchText, kindMark)"
    " SELECT 'delete', pk, searchText, kindMark FROM search_pending WHERE pk = NEW.pk;"
    " DELETE FROM search_pending WHERE pk = NEW.pk;"
    " INSERT INTO clip_search (rowid, searchText, kindMark)"
    " VALUES (NEW.pk, NEW.searchText, char(1, 2) || substr(NEW.kindRaw, 1, 1));"
    " END",
    "CREATE TRIGGER clip_search_deleted AFTER DELETE ON clip"
    " WHEN OLD.pk > (SELECT indexedAbove FROM search_state) BEGIN"
    " INSERT OR REPLACE INTO search_pending (pk, searchText, kindMark)"
    " VALUES (OLD.pk, OLD.searchText, char(1, 2) || substr(OLD.kindRaw, 1, 1));"
    " END",
    "CREATE TRIGGER clip_order_inserted AFTER INSERT ON clip BEGIN"
    " INSERT INTO clip_order (block, newest) VALUES (NEW.pk >> 10, NEW.createdAt)"
    " ON CONFLICT (block) DO UPDATE SET newest = max(newest, excluded.newest);"
    " END",
    // Only when the newest of its block goes; pruning takes the oldest, so this stays rare.
    "CREATE TRIGGER clip_order_deleted AFTER DELETE ON clip"
    " WHEN OLD.createdAt >= (SELECT newest FROM clip_order WHERE block = OLD.pk >> 10) BEGIN"
    " UPDATE clip_order SET newest = coalesce((SELECT max(createdAt) FROM clip"
    " WHERE pk >= (OLD.pk >> 10) << 10 AND pk < ((OLD.pk >> 10) + 1) << 10), -9223372036854775808)"
    " WHERE block = OLD.pk >> 10;"
    " DELETE FROM clip_order WHERE block = OLD.pk >> 10 AND newest = -9223372036854775808;"
    " END",
};
// The formatted forms of text records (store version 3), in the order they are offered back. A trigger
// rather than a foreign key deletes them with their record, so a writer that does not enable foreign keys
// cannot leave them behind.
constexpr const char* formatStatements[] = {
    "CREATE TABLE clip_format ("
    " clipPk INTEGER NOT NULL,"
    " type TEXT NOT NULL,"
    " data BLOB NOT NULL)",
    "CREATE INDEX clip_format_clipPk ON clip_format (clipPk)",
    "CREATE TRIGGER clip_format_deleted AFTER DELETE ON clip BEGIN"
    " DELETE FROM clip_format WHERE clipPk = OLD.pk; END",
};
// Records the user keeps (store version 4): never pruned by the budget, kept by a clear that spares them.
// A table of its own rather than a column, so that pinning rewrites no record row; a trigger takes a
// record's pin with it, whatever the writer.
constexpr const char* pinStatements[] = {
    "CREATE TABLE clip_pin (clipPk INTEGER PRIMARY KEY, pinnedAt INTEGER NOT NULL)",
    "CREATE TRIGGER clip_pin_deleted AFTER DELETE ON clip BEGIN"
    " DELETE FROM clip_pin WHERE clipPk = OLD.pk; END",
};
static_assert(applicationId == 1313686098);

struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

Result<Connection> openConnection(const QString& name, int flags)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(name).constData(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK)
        return sqliteError(db.get(), QStringLiteral("Could not open the history store %1").arg(name));
    sqlite3_busy_timeout(db.get(), busyTimeoutMilliseconds);
    return db;
}

Result<void> execute(sqlite3* db, const char* sql, const QString& what)
{
    Result<std::unique_ptr<SqliteStatement>> statement = SqliteStatement::prepare(db, sql);
    if (!statement)
        return statement.error();
    return (*statement)->run(what);
}

// The value of a pragma that answers with one row.
Result<QString> pragmaValue(sqlite3* db, const char* sql, const QString& what)
{
    Result<std::unique_ptr<SqliteStatement>> statement = SqliteStatement::prepare(db, sql);
    if (!statement)
        return statement.error();
    SqliteStatement::Cursor cursor(**statement);
    Result<bool> row = cursor.next(what);
    if (!row)
        return row.error();
    return *row ? cursor.text(0).value_or(QString()) : QString();
}

// The layouts a store can have: nothing yet, the first release's (version 0), with the search index
// (version 2), with the formatted forms as well (version 3), and with pins (version 4, the current one).
enum class SchemaState { empty, firstRelease, withSearchIndex, withFormats, current };

// Whether the database may be used as a store: it is of this version or of an earlier one, or it holds
// nothing at all yet. Only reads.
Result<SchemaState> inspectSchema(sqlite3* db, const QString& path)
{
    const auto refuse = [&path](const QString& why) {
        return Error{QStringLiteral("The file %1 is not a Nimbrel history store: %2").arg(path, why)};
    };
    const auto unreadable = [&](const Result<QString>& failed) {
        if (sqlite3_errcode(db) == SQLITE_NOTADB)
            return refuse(QStringLiteral("it is not a SQLite database"));
        return refuse(QStringLiteral("it cannot be read (%1)").arg(failed.error().description));
    };

    const Result<QString> application = pragmaValue(db, "PRAGMA application_id", QStringLiteral("reading its header"));
    if (!application)
        return unreadable(application);
    const Result<QString> objects =
        pragmaValue(db, "SELECT count(*) FROM sqlite_schema", QStringLiteral("reading its schema"));
    if (!objects)
        return unreadable(objects);

    const int owner = application->toInt();
    if (objects->toLongLong() == 0 && (owner == 0 || owner == applicationId))
        return SchemaState::empty;
    if (owner != applicationId)
        return refuse(QStringLiteral("it is a SQLite database of another application"));
    const Result<QString> storeVersion =
        pragmaValue(db, "PRAGMA user_version", QStringLiteral("reading its store version"));
    if (!storeVersion)
        return unreadable(storeVersion);
    if (storeVersion->toLongLong() > HistoryStore::storeVersion) {
        return refuse(QStringLiteral("it was written by a newer Nimbrel (store version %1; this one knows versions up "
                                     "to %2), so it is left untouched")
                          .arg(*storeVersion)
                          .arg(HistoryStore::storeVersion));
    }

    const Result<QString> version =
        pragmaValue(db, "SELECT schemaVersion FROM meta WHERE singleton = 1", QStringLiteral("reading its version"));
    if (!version || version->isEmpty())
        return refuse(QStringLiteral("it has no schema version"));
    if (*version != HistoryStore::schemaVersion) {
        return refuse(QStringLiteral("it has schema version %1, and this Nimbrel reads only version %2")
                          .arg(*version, HistoryStore::schemaVersion));
    }
    static_assert(HistoryStore::storeVersion == 4);
    switch (storeVersion->toLongLong()) {
        case 4:
            return SchemaState::current;
        case 3:
            return SchemaState::withFormats;
        case 2:
            return SchemaState::withSearchIndex;
        default:
            return SchemaState::firstRelease;
    }
}

Result<void> executeAll(sqlite3* db, const auto& statements, const QString& what)
{
    for (const char* sql : statements) {
        if (Result<void> done = execute(db, sql, what); !done)
            return done;
    }
    return {};
}

// Adds the search index to a store of the first release, records untouched: every record present now
// waits for the background build, every later one is indexed as it is inserted.
Result<void> addSearchIndex(sqlite3* db, const QString& what)
{
    if (Result<void> made = executeAll(db, searchIndexStatements, what); !made)
        return made;
    Result<std::unique_ptr<SqliteStatement>> state = SqliteStatement::prepare(
        db, "INSERT INTO search_state (singleton, indexedAbove) VALUES (1, coalesce((SELECT max(pk) FROM clip), ?))");
    if (!state)
        return state.error();
    (*state)->bindInt64(1, HistoryStore::searchIndexCompleteMark);
    return (*state)->run(what);
}

// Creates the schema in an empty database, or checks the one it has, in one write transaction so that
// two processes opening a new file at once cannot both create it.
Result<void> prepareSchema(sqlite3* db, const QString& path)
{
    if (Result<void> begun = execute(db, "BEGIN IMMEDIATE", QStringLiteral("Could not lock the history store")); !begun)
        return begun;
    const auto abandon = [db](Error error) {
        (void)execute(db, "ROLLBACK", QString());
        return error;
    };
    const Result<SchemaState> state = inspectSchema(db, path);
    if (!state)
        return abandon(state.error());
    // Each layout grows into the next, records untouched.
    if (*state == SchemaState::firstRelease) {
        if (Result<void> made =
                addSearchIndex(db, QStringLiteral("Could not add the search index to the history store"));
            !made)
            return abandon(made.error());
    }
    if (*state == SchemaState::firstRelease || *state == SchemaState::withSearchIndex) {
        if (Result<void> made = executeAll(db, formatStatements, QStringLiteral("Could not upgrade the history store"));
            !made)
            return abandon(made.error());
    }
    if (*state == SchemaState::firstRelease || *state == SchemaState::withSearchIndex ||
        *state == SchemaState::withFormats) {
        if (Result<void> made = executeAll(db, pinStatements, QStringLiteral("Could not upgrade the history store"));
            !made)
            return abandon(made.error());
    }
    if (*state == SchemaState::empty) {
        const QString what = QStringLiteral("Could not create the history store");
        if (Result<void> made = executeAll(db, recordStatements, what); !made)
            return abandon(made.error());
        if (Result<void> made = addSearchIndex(db, what); !made)
            return abandon(made.error());
        if (Result<void> made = executeAll(db, formatStatements, what); !made)
            return abandon(made.error());
        if (Result<void> made = executeAll(db, pinStatements, what); !made)
            return abandon(made.error());
        Result<std::unique_ptr<SqliteStatement>> meta =
            SqliteStatement::prepare(db, "INSERT INTO meta (singleton, schemaVersion) VALUES (1, ?)");
        if (!meta)
            return abandon(meta.error());
        (*meta)->bindText(1, HistoryStore::schemaVersion);
        if (Result<void> made = (*meta)->run(QStringLiteral("Could not create the history store")); !made)
            return abandon(made.error());
    }
    if (*state != SchemaState::current) {
        if (Result<void> set =
                execute(db, "PRAGMA user_version = 4", QStringLiteral("Could not upgrade the history store"));
            !set)
            return abandon(set.error());
    }
    if (Result<void> done = execute(db, "COMMIT", QStringLiteral("Could not create the history store")); !done)
        return abandon(done.error());
    return {};
}

QString systemError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

// Whether a store file is there, refusing anything but a regular file: a link would make its target the
// store, a pipe would block the opening, a device is no store. Judged without following a link and
// without opening the file; SQLite then opens it with SQLITE_OPEN_NOFOLLOW.
Result<bool> regularFileExists(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno == ENOENT)
            return false;
        return Error{systemError(QStringLiteral("Could not read"), path)};
    }
    if (S_ISLNK(info.st_mode))
        return Error{QStringLiteral("The history store %1 is a symbolic link; it is left untouched").arg(path)};
    if (!S_ISREG(info.st_mode)) {
        return Error{QStringLiteral(
                         "The history store %1 is not a regular file (a folder, pipe or device); it is left untouched")
                         .arg(path)};
    }
    return true;
}

// Makes a new store file owner-only before SQLite ever sees it; reports whether the file already existed.
Result<bool> createOwnerOnlyFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly);
    if (fd < 0) {
        if (errno == EEXIST)
            return true;
        return Error{systemError(QStringLiteral("Could not create the history store"), path)};
    }
    // The mode given to open(2) is filtered by the umask; this one is not.
    const int changed = ::fchmod(fd, ownerOnly);
    ::close(fd);
    if (changed != 0)
        return Error{systemError(QStringLiteral("Could not restrict the permissions of"), path)};
    return false;
}

// SQLite gives new -wal and -shm files the database file's mode, but files left from earlier keep theirs.
Result<void> restrictToOwner(const QString& path)
{
    for (const QString& file : QStringList{path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
        const QByteArray name = QFile::encodeName(file);
        struct stat info {};
        if (::stat(name.constData(), &info) != 0) {
            if (file == path)
                return Error{systemError(QStringLiteral("Could not read"), file)};
            continue;
        }
        if ((info.st_mode & 07777) != ownerOnly && ::chmod(name.constData(), ownerOnly) != 0)
            return Error{systemError(QStringLiteral("Could not restrict the permissions of"), file)};
    }
    return {};
}

constexpr int fetchShapes = 3;  // id and byteSize only; full records; full records with images
constexpr int fetchStatementCount = 3 * fetchShapes * 2;  // each order, each shape, all or unpinned only

int fetchIndex(SortOrder order, int shape, bool unpinnedOnly)
{
    return (static_cast<int>(order) * fetchShapes + shape) * 2 + (unpinnedOnly ? 1 : 0);
}

QByteArray fetchSql(SortOrder order, int shape, bool unpinnedOnly)
{
    QByteArray sql =
        shape == 0 ? QByteArray("SELECT c.id, c.byteSize FROM clip AS c") : QByteArray("SELECT ") + recordColumns;
    if (shape == 1)
        sql += " FROM clip AS c";
    if (shape == 2)
        sql += ", i.contentImage FROM clip AS c LEFT JOIN clip_image AS i ON i.clipPk = c.pk";
    if (unpinnedOnly)
        sql += " WHERE NOT EXISTS (SELECT 1 FROM clip_pin AS p WHERE p.clipPk = c.pk)";
    if (order == SortOrder::ascending)
        sql += " ORDER BY c.createdAt ASC";
    if (order == SortOrder::descending)
        sql += " ORDER BY c.createdAt DESC";
    return sql + " LIMIT ?1";
}

}  // namespace

ClipItem readRecord(const SqliteStatement::Cursor& cursor, int first)
{
    ClipItem item;
    item.id = cursor.uuid(first);
    item.byteSize = cursor.int64(first + 1);
    item.kindRaw = cursor.text(first + 2).value_or(QString());
    item.contentText = cursor.text(first + 3);
    item.sourceAppId = cursor.text(first + 4);
    item.sourceName = cursor.text(first + 5);
    item.createdAt = QDateTime::fromMSecsSinceEpoch(cursor.int64(first + 6), Qt::UTC);
    item.pinned = cursor.int64(first + 7) != 0;
    return item;
}

Result<void> providePinTable(sqlite3* db)
{
    const QString what = QStringLiteral("Could not read the history store's layout");
    const Result<QString> pins =
        pragmaValue(db, "SELECT count(*) FROM main.sqlite_schema WHERE type = 'table' AND name = 'clip_pin'", what);
    if (!pins)
        return pins.error();
    if (*pins != QLatin1String("0"))
        return {};
    return execute(
        db, "CREATE TEMP TABLE IF NOT EXISTS clip_pin (clipPk INTEGER PRIMARY KEY, pinnedAt INTEGER NOT NULL)", what);
}

struct HistoryStore::Statements {
    std::unique_ptr<SqliteStatement> begin;
    std::unique_ptr<SqliteStatement> commit;
    std::unique_ptr<SqliteStatement> rollback;
    std::unique_ptr<SqliteStatement> savepoint;
    std::unique_ptr<SqliteStatement> release;
    std::unique_ptr<SqliteStatement> rollbackToSavepoint;
    std::unique_ptr<SqliteStatement> insertClip;
    std::unique_ptr<SqliteStatement> insertImage;
    std::unique_ptr<SqliteStatement> removeClip;
    std::unique_ptr<SqliteStatement> totals;
    std::unique_ptr<SqliteStatement> thumbnail;
    std::unique_ptr<SqliteStatement> image;
    std::unique_ptr<SqliteStatement> record;
    // Absent for a store of an earlier version opened read-only: it has no formatted forms.
    std::unique_ptr<SqliteStatement> insertFormat;
    std::unique_ptr<SqliteStatement> formats;
    std::unique_ptr<SqliteStatement> formatTypes;
    std::unique_ptr<SqliteStatement> pkOf;
    std::unique_ptr<SqliteStatement> pin;
    std::unique_ptr<SqliteStatement> unpin;
    std::unique_ptr<SqliteStatement> pinnedTotals;
    std::array<std::unique_ptr<SqliteStatement>, fetchStatementCount> fetch;

    static Result<std::unique_ptr<Statements>> prepare(sqlite3* db)
    {
        auto statements = std::make_unique<Statements>();
        std::optional<Error> failure;
        const auto make = [&](std::unique_ptr<SqliteStatement>& slot, const char* sql) {
            if (failure)
                return;
            Result<std::unique_ptr<SqliteStatement>> prepared = SqliteStatement::prepare(db, sql);
            if (prepared)
                slot = std::move(prepared).value();
            else
                failure = prepared.error();
        };
        make(statements->begin, "BEGIN IMMEDIATE");
        make(statements->commit, "COMMIT");
        make(statements->rollback, "ROLLBACK");
        make(statements->savepoint, "SAVEPOINT whole_change");
        make(statements->release, "RELEASE whole_change");
        make(statements->rollbackToSavepoint, "ROLLBACK TO whole_change");
        make(statements->insertClip,
             "INSERT INTO clip (id, kindRaw, contentText, sourceBundleID, sourceName, createdAt, byteSize, searchText,"
             " searchSource) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        make(statements->insertImage, "INSERT INTO clip_image (clipPk, thumbnailData, contentImage) VALUES (?, ?, ?)");
        make(statements->removeClip, "DELETE FROM clip WHERE id = ?");
        const QByteArray byId = QByteArray("SELECT ") + recordColumns + " FROM clip AS c WHERE c.id = ?";
        make(statements->record, byId.constData());
        make(statements->totals, "SELECT totalByteSize, recordCount FROM meta WHERE singleton = 1");
        make(statements->thumbnail,
             "SELECT i.thumbnailData FROM clip AS c JOIN clip_image AS i ON i.clipPk = c.pk WHERE c.id = ?");
        make(statements->image,
             "SELECT i.contentImage FROM clip AS c JOIN clip_image AS i ON i.clipPk = c.pk WHERE c.id = ?");
        make(statements->pkOf, "SELECT pk FROM clip WHERE id = ?");
        make(statements->pin, "INSERT OR IGNORE INTO clip_pin (clipPk, pinnedAt) VALUES (?, ?)");
        make(statements->unpin, "DELETE FROM clip_pin WHERE clipPk = ?");
        make(statements->pinnedTotals,
             "SELECT count(*), coalesce(sum(c.byteSize), 0) FROM clip_pin AS p JOIN clip AS c ON c.pk = p.clipPk");
        for (const SortOrder order : {SortOrder::none, SortOrder::ascending, SortOrder::descending}) {
            for (int shape = 0; shape < fetchShapes; ++shape) {
                for (const bool unpinnedOnly : {false, true}) {
                    make(statements->fetch[fetchIndex(order, shape, unpinnedOnly)],
                         fetchSql(order, shape, unpinnedOnly).constData());
                }
            }
        }
        const Result<QString> formatTable =
            pragmaValue(db, "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'clip_format'",
                        QStringLiteral("Could not read the history store's layout"));
        if (!formatTable)
            return formatTable.error();
        if (*formatTable != QLatin1String("0")) {
            make(statements->insertFormat, "INSERT INTO clip_format (clipPk, type, data) VALUES (?, ?, ?)");
            make(statements->formats,
                 "SELECT f.type, f.data FROM clip AS c JOIN clip_format AS f ON f.clipPk = c.pk"
                 " WHERE c.id = ? ORDER BY f.rowid");
            make(statements->formatTypes,
                 "SELECT f.type FROM clip AS c JOIN clip_format AS f ON f.clipPk = c.pk"
                 " WHERE c.id = ? ORDER BY f.rowid");
        }
        if (failure)
            return *failure;
        return statements;
    }
};

HistoryStore::HistoryStore(sqlite3* db, std::unique_ptr<Statements> statements, QString path, bool readOnly)
    : m_db(db), m_statements(std::move(statements)), m_path(std::move(path)), m_readOnly(readOnly)
{
}

HistoryStore::~HistoryStore()
{
    // Statements first: a connection closes only when none is left. Unsaved changes are rolled back.
    m_statements.reset();
    sqlite3_close_v2(m_db);
}

Result<std::unique_ptr<HistoryStore>> HistoryStore::finishOpening(sqlite3* db, QString path, bool readOnly)
{
    Connection connection(db);
    Result<std::unique_ptr<Statements>> statements = Statements::prepare(db);
    if (!statements)
        return statements.error();
    auto* store = new HistoryStore(connection.release(), std::move(statements).value(), path, readOnly);
    store->m_connectionName = std::move(path);
    return std::unique_ptr<HistoryStore>(store);
}

Result<std::unique_ptr<HistoryStore>> HistoryStore::openFile(const QString& path)
{
    if (path.isEmpty())
        return Error{QStringLiteral("No file was given for the history store")};
    if (const Result<bool> regular = regularFileExists(path); !regular)
        return regular.error();
    const Result<bool> existed = createOwnerOnlyFile(path);
    if (!existed)
        return existed.error();
    if (*existed) {
        // Judge an existing file through a read-only connection first: opening a foreign database for
        // writing could already change it (journal mode, recovery of its journal, a checkpoint at close).
        Result<Connection> probe = openConnection(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW);
        if (!probe)
            return probe.error();
        if (const Result<SchemaState> state = inspectSchema(probe->get(), path); !state)
            return state.error();
        probe.value().reset();
        if (Result<void> restricted = restrictToOwner(path); !restricted)
            return restricted.error();
    }

    Result<Connection> db = openConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW);
    if (!db)
        return db.error();
    sqlite3* raw = db->get();
    // Only a store without tables takes it directly; set before the journal mode, as SQLite asks.
    if (Result<void> set = execute(raw, "PRAGMA auto_vacuum = INCREMENTAL", QStringLiteral("Could not configure"));
        !set)
        return set.error();
    // Without WAL (a file system without shared memory) the store still works; readers then wait for
    // writers instead of reading beside them.
    if (Result<QString> mode =
            pragmaValue(raw, "PRAGMA journal_mode = WAL", QStringLiteral("Could not set the journal"));
        !mode)
        return mode.error();
    // Deleted records are overwritten in the file, and the WAL is cut back after checkpoints rather than
    // left at its largest size.
    for (const char* pragma : {"PRAGMA synchronous = NORMAL", "PRAGMA foreign_keys = ON", "PRAGMA secure_delete = ON",
                               "PRAGMA journal_size_limit = 67108864"}) {
        if (Result<void> set = execute(raw, pragma, QStringLiteral("Could not configure the history store")); !set)
            return set.error();
    }
    if (Result<void> schema = prepareSchema(raw, path); !schema)
        return schema.error();
    return finishOpening(db.value().release(), path, false);
}

Result<std::unique_ptr<HistoryStore>> HistoryStore::openInMemory()
{
    // A named database of SQLite's memdb file system rather than ":memory:", so that the search worker
    // can open a connection of its own to it. It lives as long as one connection to it is open.
    static std::atomic<int> stores = 0;
    const QString name = QStringLiteral("file:/nimbrel-memory-%1-%2?vfs=memdb").arg(::getpid()).arg(++stores);
    return openMemory(name, true);
}

Result<std::unique_ptr<HistoryStore>> HistoryStore::openMemory(const QString& name, bool create)
{
    Result<Connection> db =
        openConnection(name, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | (create ? SQLITE_OPEN_CREATE : 0));
    if (!db)
        return db.error();
    for (const char* pragma : {"PRAGMA auto_vacuum = INCREMENTAL", "PRAGMA foreign_keys = ON"}) {
        if (Result<void> set = execute(db->get(), pragma, QStringLiteral("Could not configure")); !set)
            return set.error();
    }
    if (create) {
        if (Result<void> schema = prepareSchema(db->get(), QStringLiteral(":memory:")); !schema)
            return schema.error();
    }
    Result<std::unique_ptr<HistoryStore>> store = finishOpening(db.value().release(), QString(), false);
    if (store)
        (*store)->m_connectionName = name;
    return store;
}

Result<std::unique_ptr<HistoryStore>> HistoryStore::openAnotherConnection() const
{
    if (m_readOnly)
        return openReadOnly(m_path);
    if (!m_path.isEmpty())
        return openFile(m_path);
    return openMemory(m_connectionName, false);
}

Result<bool> HistoryStore::reclaimSpace(sqlite3* db)
{
    if (!sqlite3_get_autocommit(db))
        return false;
    // Free pages go back to the file system (they were zeroed when freed: secure_delete).
    if (Result<void> vacuumed = execute(db, "PRAGMA incremental_vacuum", QStringLiteral("Could not give space back"));
        !vacuumed)
        return vacuumed.error();
    // The WAL still holds earlier images of the freed pages: a truncating checkpoint drops them. It must not
    // wait on a reader here, so it is tried without waiting and the caller tries again later.
    sqlite3_busy_timeout(db, 0);
    const int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(db, busyTimeoutMilliseconds);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        return false;
    if (rc != SQLITE_OK)
        return sqliteError(db, QStringLiteral("Could not checkpoint the history store"));
    return true;
}

Result<bool> HistoryStore::convertToIncrementalVacuum(sqlite3* db)
{
    const Result<QString> mode =
        pragmaValue(db, "PRAGMA auto_vacuum", QStringLiteral("Could not read the vacuum mode"));
    if (!mode)
        return mode.error();
    if (*mode != QLatin1String("0"))
        return false;
    // A store made before incremental vacuum: VACUUM rewrites it once in the new mode (holding the write
    // lock meanwhile; writers wait and retry).
    if (Result<void> set = execute(db, "PRAGMA auto_vacuum = INCREMENTAL", QStringLiteral("Could not configure")); !set)
        return set.error();
    if (Result<void> vacuumed = execute(db, "VACUUM", QStringLiteral("Could not rewrite the history store")); !vacuumed)
        return vacuumed.error();
    return true;
}

Result<std::unique_ptr<HistoryStore>> HistoryStore::openReadOnly(const QString& path)
{
    const Result<bool> regular = path.isEmpty() ? Result<bool>(false) : regularFileExists(path);
    if (!regular)
        return regular.error();
    if (!*regular)
        return Error{QStringLiteral("There is no history store at %1").arg(path)};
    Result<Connection> db = openConnection(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW);
    if (!db)
        return db.error();
    const Result<SchemaState> state = inspectSchema(db->get(), path);
    if (!state)
        return state.error();
    if (*state == SchemaState::empty)
        return Error{QStringLiteral("The file %1 is not a Nimbrel history store: it is empty").arg(path)};
    if (Result<void> pins = providePinTable(db->get()); !pins)
        return pins.error();
    return finishOpening(db.value().release(), path, true);
}

Result<void> HistoryStore::checkWritable() const
{
    if (m_readOnly)
        return Error{QStringLiteral("The history store %1 is open read-only").arg(m_path)};
    return {};
}

Error HistoryStore::afterFailure(Error error) const
{
    if (m_inTransaction && sqlite3_get_autocommit(m_db)) {
        m_inTransaction = false;
        m_hasWrites = false;
        error.description += QStringLiteral(" (SQLite rolled back the unsaved changes)");
    }
    return error;
}

Result<void> HistoryStore::beginIfNeeded()
{
    if (m_inTransaction)
        return {};
    if (Result<void> begun = m_statements->begin->run(QStringLiteral("Could not lock the history store")); !begun)
        return begun;
    m_inTransaction = true;
    return {};
}

void HistoryStore::endIfIdle()
{
    // A transaction without changes would only hold the write lock until the next save.
    if (m_inTransaction && !m_hasWrites && m_statements->rollback->run(QString()))
        m_inTransaction = false;
}

Result<void> HistoryStore::insertContentRows(const ClipItem& item, qint64 clipPk)
{
    if (item.pinned) {
        SqliteStatement& pin = *m_statements->pin;
        pin.bindInt64(1, clipPk);
        pin.bindInt64(2, QDateTime::currentMSecsSinceEpoch());
        if (Result<void> pinned = pin.run(QStringLiteral("Could not pin the record")); !pinned)
            return pinned;
    }
    if (item.contentImage || item.thumbnailData) {
        SqliteStatement& insert = *m_statements->insertImage;
        insert.bindInt64(1, clipPk);
        insert.bindBlob(2, item.thumbnailData);
        insert.bindBlob(3, item.contentImage);
        if (Result<void> inserted = insert.run(QStringLiteral("Could not insert the image of the record")); !inserted)
            return inserted;
    }
    for (const auto& [type, bytes] : item.formats) {
        SqliteStatement& insert = *m_statements->insertFormat;
        insert.bindInt64(1, clipPk);
        insert.bindText(2, type);
        insert.bindBlob(3, bytes);
        if (Result<void> inserted = insert.run(QStringLiteral("Could not insert a formatted form of the record"));
            !inserted)
            return inserted;
    }
    return {};
}

Result<void> HistoryStore::insert(const ClipItem& item)
{
    if (Result<void> writable = checkWritable(); !writable)
        return writable;
    if (item.id.isNull())
        return Error{QStringLiteral("Could not insert the record: it has no id")};
    if (!item.createdAt.isValid())
        return Error{QStringLiteral("Could not insert the record: it has no valid creation time")};

    if (!item.formats.isEmpty() && !m_statements->insertFormat)
        return Error{QStringLiteral("Could not insert the record: the store has no place for formatted text")};
    if (Result<void> begun = beginIfNeeded(); !begun)
        return begun;

    Statements& statements = *m_statements;
    // A record with image bytes, formatted forms or a pin takes several rows; a savepoint keeps them whole.
    const bool hasImageRow =
        item.contentImage.has_value() || item.thumbnailData.has_value() || !item.formats.isEmpty() || item.pinned;
    if (hasImageRow) {
        if (Result<void> saved = statements.savepoint->run(QStringLiteral("Could not insert the record")); !saved)
            return afterFailure(saved.error());
    }
    SqliteStatement& insert = *statements.insertClip;
    insert.bindBlob(1, item.id.toRfc4122());
    insert.bindText(2, item.kindRaw);
    insert.bindText(3, item.contentText);
    insert.bindText(4, item.sourceAppId);
    insert.bindText(5, item.sourceName);
    insert.bindInt64(6, item.createdAt.toMSecsSinceEpoch());
    insert.bindInt64(7, item.byteSize);
    const QString foldedSource = foldForSearch(item.sourceName.value_or(QString()));
    insert.bindText(8, foldedSearchText(item.contentText.value_or(QString())) + QLatin1Char('\n') + foldedSource);
    insert.bindText(9, foldedSource);
    Result<void> inserted = insert.run(QStringLiteral("Could not insert the record"));
    if (inserted && hasImageRow)
        inserted = insertContentRows(item, sqlite3_last_insert_rowid(m_db));
    if (hasImageRow) {
        if (inserted) {
            inserted = statements.release->run(QStringLiteral("Could not insert the record"));
        } else {
            (void)statements.rollbackToSavepoint->run(QString());
            (void)statements.release->run(QString());
        }
    }
    if (!inserted) {
        Error error = afterFailure(inserted.error());
        endIfIdle();
        return error;
    }
    m_hasWrites = true;
    return {};
}

Result<void> HistoryStore::remove(const QUuid& id)
{
    if (Result<void> writable = checkWritable(); !writable)
        return writable;
    if (Result<void> begun = beginIfNeeded(); !begun)
        return begun;
    SqliteStatement& remove = *m_statements->removeClip;
    remove.bindBlob(1, id.toRfc4122());
    if (Result<void> removed = remove.run(QStringLiteral("Could not delete the record")); !removed) {
        Error error = afterFailure(removed.error());
        endIfIdle();
        return error;
    }
    if (sqlite3_changes(m_db) > 0)
        m_hasWrites = true;
    endIfIdle();
    return {};
}

Result<bool> HistoryStore::setPinned(const QUuid& id, bool pinned)
{
    if (Result<void> writable = checkWritable(); !writable)
        return writable.error();
    if (Result<void> begun = beginIfNeeded(); !begun)
        return begun.error();
    const QString what =
        pinned ? QStringLiteral("Could not pin the record") : QStringLiteral("Could not unpin the record");
    const auto fail = [this](const Error& error) {
        Error failure = afterFailure(error);
        endIfIdle();
        return failure;
    };
    std::optional<qint64> pk;
    {
        SqliteStatement& lookup = *m_statements->pkOf;
        lookup.bindBlob(1, id.toRfc4122());
        SqliteStatement::Cursor cursor(lookup);
        Result<bool> row = cursor.next(what);
        if (!row)
            return fail(row.error());
        if (*row)
            pk = cursor.int64(0);
    }
    if (!pk) {
        endIfIdle();
        return false;
    }
    SqliteStatement& change = pinned ? *m_statements->pin : *m_statements->unpin;
    change.bindInt64(1, *pk);
    if (pinned)
        change.bindInt64(2, QDateTime::currentMSecsSinceEpoch());
    if (Result<void> changed = change.run(what); !changed)
        return fail(changed.error());
    if (sqlite3_changes(m_db) > 0)
        m_hasWrites = true;
    endIfIdle();
    return true;
}

Result<EditOutcome> HistoryStore::clear(bool includePinned)
{
    if (Result<void> writable = checkWritable(); !writable)
        return writable.error();
    if (Result<void> begun = beginIfNeeded(); !begun)
        return begun.error();
    const QString what = QStringLiteral("Could not clear the history");
    const auto fail = [this](const Error& error) {
        Error failure = afterFailure(error);
        endIfIdle();
        return failure;
    };
    const Result<HistoryUsage> before = usage();
    if (!before)
        return fail(before.error());
    Statements& statements = *m_statements;
    if (Result<void> saved = statements.savepoint->run(what); !saved)
        return fail(saved.error());

    const auto run = [this, &what](const char* sql, std::optional<qint64> first = std::nullopt,
                                   std::optional<qint64> second = std::nullopt) -> Result<void> {
        Result<std::unique_ptr<SqliteStatement>> statement = SqliteStatement::prepare(m_db, sql);
        if (!statement)
            return statement.error();
        if (first)
            (*statement)->bindInt64(1, *first);
        if (second)
            (*statement)->bindInt64(2, *second);
        return (*statement)->run(what);
    };
    const auto clearAll = [&]() -> Result<void> {
        const Result<QString> state =
            pragmaValue(m_db, "SELECT indexedAbove FROM search_state WHERE singleton = 1", what);
        if (!state)
            return state.error();
        const qint64 indexedAbove = state->toLongLong();
        // Taking each record out of the contentless index one by one would only mark its entries deleted
        // (they stay in the index's pages until a merge) and queue its text in search_pending meanwhile.
        // Instead no deletion queues anything, the whole index is emptied at once, and the entries of the
        // records that stay are put back: only those above indexedAbove, as the index always holds.
        if (Result<void> done = run("UPDATE search_state SET indexedAbove = 9223372036854775807"); !done)
            return done;
        if (Result<void> done =
                run(includePinned
                        ? "DELETE FROM clip"
                        : "DELETE FROM clip WHERE NOT EXISTS (SELECT 1 FROM clip_pin AS p WHERE p.clipPk = clip.pk)");
            !done)
            return done;
        if (Result<void> done = run("INSERT INTO clip_search (clip_search) VALUES ('delete-all')"); !done)
            return done;
        if (Result<void> done = run("DELETE FROM search_pending"); !done)
            return done;
        if (Result<void> done =
                run("INSERT INTO clip_search (rowid, searchText, kindMark)"
                    " SELECT pk, searchText, char(1, 2) || substr(kindRaw, 1, 1) FROM clip WHERE pk > ?1",
                    indexedAbove);
            !done)
            return done;
        // With no record left for the background build, the index is complete.
        return run(
            "UPDATE search_state SET indexedAbove ="
            " CASE WHEN EXISTS (SELECT 1 FROM clip WHERE pk <= ?1) THEN ?1 ELSE ?2 END",
            indexedAbove, searchIndexCompleteMark);
    };
    Result<void> cleared = clearAll();
    Result<HistoryUsage> after = cleared ? usage() : Result<HistoryUsage>(cleared.error());
    if (after)
        cleared = statements.release->run(what);
    if (!cleared || !after) {
        (void)statements.rollbackToSavepoint->run(QString());
        (void)statements.release->run(QString());
        return fail(!cleared ? cleared.error() : after.error());
    }
    m_hasWrites = true;
    EditOutcome outcome;
    outcome.records = before->records - after->records;
    outcome.bytes = before->bytes - after->bytes;
    return outcome;
}

Result<HistoryUsage> HistoryStore::usage() const
{
    const QString what = QStringLiteral("Could not read the size of the history");
    HistoryUsage usage;
    {
        SqliteStatement::Cursor cursor(*m_statements->totals);
        Result<bool> row = cursor.next(what);
        if (!row)
            return afterFailure(row.error());
        if (*row) {
            usage.bytes = cursor.int64(0);
            usage.records = cursor.int64(1);
        }
    }
    SqliteStatement::Cursor cursor(*m_statements->pinnedTotals);
    Result<bool> row = cursor.next(what);
    if (!row)
        return afterFailure(row.error());
    if (*row) {
        usage.pinnedRecords = cursor.int64(0);
        usage.pinnedBytes = cursor.int64(1);
    }
    return usage;
}

Result<void> HistoryStore::save()
{
    if (!m_inTransaction)
        return {};
    if (Result<void> committed = m_statements->commit->run(QStringLiteral("Could not save the history")); !committed)
        return afterFailure(committed.error());
    m_inTransaction = false;
    if (std::exchange(m_hasWrites, false))
        Q_EMIT changed();
    return {};
}

Result<QList<ClipItem>> HistoryStore::fetch(const FetchDescriptor& descriptor) const
{
    if (descriptor.limit && *descriptor.limit < 0)
        return Error{QStringLiteral("Could not read the history: the limit %1 is negative").arg(*descriptor.limit)};
    const int shape = descriptor.byteSizeOnly ? 0 : (descriptor.includeImages ? 2 : 1);
    SqliteStatement& statement =
        *m_statements->fetch[fetchIndex(descriptor.sortByCreatedAt, shape, descriptor.unpinnedOnly)];
    statement.bindInt64(1, descriptor.limit.value_or(-1));

    const QString what = QStringLiteral("Could not read the history");
    QList<ClipItem> items;
    if (descriptor.limit) {
        items.reserve(std::min(*descriptor.limit, 4096));
    } else if (const Result<qint64> records = count(); records) {
        items.reserve(*records);  // growing a list of a million records costs more than reading them
    }
    SqliteStatement::Cursor cursor(statement);
    while (true) {
        Result<bool> row = cursor.next(what);
        if (!row)
            return afterFailure(row.error());
        if (!*row)
            break;
        if (shape == 0) {
            ClipItem& item = items.emplace_back();
            item.id = cursor.uuid(0);
            item.byteSize = cursor.int64(1);
            continue;
        }
        ClipItem& item = items.emplace_back(readRecord(cursor));
        if (shape == 2)
            item.contentImage = cursor.blob(recordColumnCount);
    }
    return items;
}

Result<bool> HistoryStore::searchIndexComplete(sqlite3* db)
{
    // Prepared afresh: the state changes while the background build runs, and a store of the version
    // before, opened read-only, has no search_state to prepare it on.
    Result<std::unique_ptr<SqliteStatement>> state =
        SqliteStatement::prepare(db, "SELECT indexedAbove FROM search_state WHERE singleton = 1");
    if (!state)
        return sqlite3_errcode(db) == SQLITE_ERROR ? Result<bool>(false) : Result<bool>(state.error());
    SqliteStatement::Cursor cursor(**state);
    Result<bool> row = cursor.next(QStringLiteral("Could not read the state of the search index"));
    if (!row)
        return row.error();
    return *row && cursor.int64(0) == searchIndexCompleteMark;
}

Result<bool> HistoryStore::searchIndexComplete() const
{
    Result<bool> complete = searchIndexComplete(m_db);
    return complete ? complete : Result<bool>(afterFailure(complete.error()));
}

Result<void> HistoryStore::loadContents(ClipItem& item) const
{
    {
        SqliteStatement& statement = *m_statements->image;
        statement.bindBlob(1, item.id.toRfc4122());
        SqliteStatement::Cursor cursor(statement);
        Result<bool> row = cursor.next(QStringLiteral("Could not read the image of the record"));
        if (!row)
            return afterFailure(row.error());
        item.contentImage = *row ? cursor.blob(0) : std::nullopt;
    }
    item.formats.clear();
    if (!m_statements->formats)
        return {};
    SqliteStatement& statement = *m_statements->formats;
    statement.bindBlob(1, item.id.toRfc4122());
    SqliteStatement::Cursor cursor(statement);
    for (;;) {
        Result<bool> row = cursor.next(QStringLiteral("Could not read the formatted text of the record"));
        if (!row) {
            item.formats.clear();
            return afterFailure(row.error());
        }
        if (!*row)
            return {};
        item.formats.append({cursor.text(0).value_or(QString()), cursor.blob(1).value_or(QByteArray())});
    }
}

Result<std::optional<ClipItem>> HistoryStore::record(const QUuid& id) const
{
    SqliteStatement& statement = *m_statements->record;
    statement.bindBlob(1, id.toRfc4122());
    SqliteStatement::Cursor cursor(statement);
    Result<bool> row = cursor.next(QStringLiteral("Could not read the record"));
    if (!row)
        return afterFailure(row.error());
    if (!*row)
        return std::optional<ClipItem>();
    return std::optional<ClipItem>(readRecord(cursor));
}

Result<QStringList> HistoryStore::formatTypes(const QUuid& id) const
{
    QStringList types;
    if (!m_statements->formatTypes)
        return types;
    SqliteStatement& statement = *m_statements->formatTypes;
    statement.bindBlob(1, id.toRfc4122());
    SqliteStatement::Cursor cursor(statement);
    for (;;) {
        Result<bool> row = cursor.next(QStringLiteral("Could not read the formatted text of the record"));
        if (!row)
            return afterFailure(row.error());
        if (!*row)
            return types;
        types.append(cursor.text(0).value_or(QString()));
    }
}

Result<std::optional<QByteArray>> HistoryStore::thumbnail(const QUuid& id) const
{
    SqliteStatement& statement = *m_statements->thumbnail;
    statement.bindBlob(1, id.toRfc4122());
    SqliteStatement::Cursor cursor(statement);
    Result<bool> row = cursor.next(QStringLiteral("Could not read the thumbnail of the record"));
    if (!row)
        return afterFailure(row.error());
    return *row ? cursor.blob(0) : std::nullopt;
}

Result<qint64> HistoryStore::totalByteSize() const
{
    SqliteStatement::Cursor cursor(*m_statements->totals);
    Result<bool> row = cursor.next(QStringLiteral("Could not read the size of the history"));
    if (!row)
        return afterFailure(row.error());
    return *row ? cursor.int64(0) : 0;
}

Result<qint64> HistoryStore::count() const
{
    SqliteStatement::Cursor cursor(*m_statements->totals);
    Result<bool> row = cursor.next(QStringLiteral("Could not count the history"));
    if (!row)
        return afterFailure(row.error());
    return *row ? cursor.int64(1) : 0;
}

}  // namespace nimbrel
