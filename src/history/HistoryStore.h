#pragma once

#include "history/ClipItem.h"
#include "history/HistoryEdits.h"
#include "platform/Result.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <limits>
#include <memory>
#include <optional>

struct sqlite3;

namespace nimbrel {

class SqliteStatement;

enum class SortOrder { none, ascending, descending };

// What a fetch returns: the records that pass the filters, in createdAt order (ties unbroken), at most
// `limit` of them.
struct FetchDescriptor {
    SortOrder sortByCreatedAt = SortOrder::none;
    // Absent: no limit. Negative limits are refused.
    std::optional<int> limit;
    // Only id and byteSize are loaded (the budget's scans); the other fields keep their defaults.
    bool byteSizeOnly = false;
    // Also load contentImage. thumbnailData is never loaded by a fetch: HistoryStore::thumbnail reads it.
    bool includeImages = false;
    // Leave out pinned records (what the budget may prune).
    bool unpinnedOnly = false;
};

// The persistent container of ClipItem records on SQLite: a file store (WAL journal, owner-only
// permissions) or an in-memory store. Inserts and deletes take effect in later fetches at once and are
// written by save(); `changed` is emitted after every save that wrote something. Unsaved changes are
// discarded when the store is destroyed. Main thread only.
class HistoryStore final : public QObject {
    Q_OBJECT
public:
    // The meta table's version; the previous release checks it, so it stays while the layout only grows.
    static inline const QString schemaVersion = QStringLiteral("1.0.0");
    // The layout's version (PRAGMA user_version): 0 for the first release, 2 since the search index, 3
    // since formatted text, 4 since pins. An earlier store is upgraded when opened for writing (and read
    // as it is when opened read-only, every record unpinned); a newer one is refused.
    static constexpr int storeVersion = 4;
    // search_state.indexedAbove once every record is in the search index.
    static constexpr qint64 searchIndexCompleteMark = std::numeric_limits<qint64>::min();

    ~HistoryStore() override;

    // Opens (creating if needed) the store file; its folder must exist. A file that is not a store of
    // this schema version is refused with an error and left exactly as it was.
    static Result<std::unique_ptr<HistoryStore>> openFile(const QString& path);
    static Result<std::unique_ptr<HistoryStore>> openInMemory();
    // Opens an existing store file read-only (for the command line while Nimbrel runs). Never creates or
    // changes the store file; SQLite may add its -wal and -shm files beside it.
    static Result<std::unique_ptr<HistoryStore>> openReadOnly(const QString& path);

    // One more writing connection to the same store (for a worker thread); read-only for a read-only store.
    Result<std::unique_ptr<HistoryStore>> openAnotherConnection() const;

    // Gives the space of deleted records back to the file system and drops their earlier images from the
    // WAL, through any writing connection to a store. False when a reader kept the WAL from being cut back,
    // or the connection is inside a transaction: try again later.
    static Result<bool> reclaimSpace(sqlite3* db);
    // Rewrites a store made without incremental auto-vacuum once (VACUUM); false when there was nothing
    // to do.
    static Result<bool> convertToIncrementalVacuum(sqlite3* db);

    // Refuses a record without an id or a valid createdAt, and a second record with the same id.
    Result<void> insert(const ClipItem& item);
    // Removing an id that is not in the store does nothing.
    Result<void> remove(const QUuid& id);
    // Pins or unpins a record; false when there is no such record. Pending until save(), like insert.
    Result<bool> setPinned(const QUuid& id, bool pinned);
    // Deletes every record (every unpinned one, unless `includePinned`) and takes their entries out of
    // the search index at once, so that nothing of their texts stays queued in the file. Pending until
    // save(); then reclaimSpace() gives their space back. The outcome says how many records and bytes
    // went.
    Result<EditOutcome> clear(bool includePinned);
    // What the history holds (pending changes included), without a scan of the records.
    Result<HistoryUsage> usage() const;
    // Writes pending inserts and deletes. If the write fails and SQLite has kept the changes, they stay
    // pending for the next save; if SQLite has rolled them back, the error says so.
    Result<void> save();
    bool hasChanges() const { return m_hasWrites; }
    // Records come back with createdAt in UTC, at millisecond precision.
    Result<QList<ClipItem>> fetch(const FetchDescriptor& descriptor) const;
    // The record with this id (without its image and formatted forms); none when there is no such record.
    Result<std::optional<ClipItem>> record(const QUuid& id) const;
    // Fills contentImage and formats of the given record from the store (absent or empty if the store has
    // none for it).
    Result<void> loadContents(ClipItem& item) const;
    // The MIME types of the record's formatted forms, without their bytes.
    Result<QStringList> formatTypes(const QUuid& id) const;
    // The thumbnail of the record with this id; absent for an unknown record or one without a thumbnail.
    Result<std::optional<QByteArray>> thumbnail(const QUuid& id) const;
    // The sum of byteSize over all records (pending changes included), kept by the store itself so it
    // costs no scan.
    Result<qint64> totalByteSize() const;
    // The number of records (pending changes included), also kept without a scan.
    Result<qint64> count() const;

    // Whether every record is in the search index (false while the background build runs, and for a
    // store of the version before opened read-only).
    Result<bool> searchIndexComplete() const;
    // The same, read through any connection to a store.
    static Result<bool> searchIndexComplete(sqlite3* db);

    // The file of a file store; empty for an in-memory store.
    QString path() const { return m_path; }
    // What another connection to this store opens (an SQLite URI for an in-memory store).
    QString connectionName() const { return m_connectionName; }
    bool isReadOnly() const { return m_readOnly; }
    sqlite3* handle() const { return m_db; }

    // Tells the listeners of this connection that another connection (the writer's) changed the store.
    void announceChange() { Q_EMIT changed(); }

Q_SIGNALS:
    void changed();

private:
    struct Statements;

    HistoryStore(sqlite3* db, std::unique_ptr<Statements> statements, QString path, bool readOnly);
    static Result<std::unique_ptr<HistoryStore>> finishOpening(sqlite3* db, QString path, bool readOnly);
    // A connection to the in-memory store of that URI; `create` makes the store and its schema.
    static Result<std::unique_ptr<HistoryStore>> openMemory(const QString& name, bool create);
    Result<void> beginIfNeeded();
    void endIfIdle();
    Result<void> checkWritable() const;
    // Makes our idea of the transaction agree with SQLite's after a failed statement; returns the error,
    // saying so when SQLite has rolled back the unsaved changes.
    Error afterFailure(Error error) const;
    // The image row and the formatted forms of a record just inserted as `clipPk`.
    Result<void> insertContentRows(const ClipItem& item, qint64 clipPk);

    sqlite3* m_db = nullptr;
    std::unique_ptr<Statements> m_statements;
    QString m_path;
    QString m_connectionName;
    bool m_readOnly = false;
    // Mutable because a failed read can also end SQLite's transaction (an I/O error rolls it back).
    mutable bool m_inTransaction = false;
    mutable bool m_hasWrites = false;
};

}  // namespace nimbrel
