#pragma once

#include "history/ClipItem.h"
#include "platform/Result.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

struct sqlite3;

namespace nimbrel {

enum class SortOrder { none, ascending, descending };

// What a fetch returns: all records, in createdAt order (ties unbroken), at most `limit` of them.
struct FetchDescriptor {
    SortOrder sortByCreatedAt = SortOrder::none;
    std::optional<int> limit;
    // Only id and byteSize are loaded (the budget's scans).
    bool byteSizeOnly = false;
    // Also load contentImage (thumbnailData is always loaded for full fetches).
    bool includeImages = false;
};

// The persistent container of ClipItem records on SQLite: a file store (WAL journal, owner-only
// permissions) or an in-memory store. Inserts and deletes take effect in later fetches at once and are
// written by save(); `changed` is emitted after every save that wrote something. Main thread only.
class HistoryStore final : public QObject {
    Q_OBJECT
public:
    ~HistoryStore() override;

    // Opens (creating if needed) the store file. Never deletes or overwrites a file it cannot read.
    static Result<std::unique_ptr<HistoryStore>> openFile(const QString& path);
    static Result<std::unique_ptr<HistoryStore>> openInMemory();
    // Opens an existing store file read-only (for the command line while Nimbrel runs).
    static Result<std::unique_ptr<HistoryStore>> openReadOnly(const QString& path);

    Result<void> insert(const ClipItem& item);
    Result<void> remove(const QUuid& id);
    // Writes pending inserts and deletes.
    Result<void> save();
    bool hasChanges() const;
    Result<QList<ClipItem>> fetch(const FetchDescriptor& descriptor) const;
    // Fills contentImage of the given record from the store.
    Result<void> loadImages(ClipItem& item) const;
    // The sum of byteSize over all records (pending changes included), kept by the store itself so it
    // costs no scan.
    Result<qint64> totalByteSize() const;
    qint64 count() const;

    QString path() const { return m_path; }
    sqlite3* handle() const { return m_db; }

Q_SIGNALS:
    void changed();

private:
    HistoryStore(sqlite3* db, QString path, bool readOnly);
    Result<void> beginIfNeeded();

    sqlite3* m_db = nullptr;
    QString m_path;
    bool m_readOnly = false;
    bool m_inTransaction = false;
};

}  // namespace nimbrel
