#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace nimbrel {

// An error value made of what was being done and SQLite's own message for the connection.
Error sqliteError(sqlite3* db, const QString& what);
// Whether the error is another connection holding the store longer than this one waits: worth a later try.
bool isBusy(const Error& error);

// Opens one more connection to a store, by HistoryStore::connectionName() (a file, or the SQLite URI of
// an in-memory store), for use on one thread; it waits up to two seconds for another writer's lock.
Result<sqlite3*> openStoreConnection(const QString& name, int flags);

// One prepared statement, finalized with its owner. Parameters are 1-based and columns 0-based, as in
// SQLite. Use `run` for a statement without rows and `Cursor` to read rows; both leave the statement
// reset and its parameters cleared, so no read transaction outlives the call.
class SqliteStatement final {
public:
    static Result<std::unique_ptr<SqliteStatement>> prepare(sqlite3* db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void bindInt64(int index, qint64 value);
    // An absent value binds NULL; a present empty one binds an empty text or blob, never NULL.
    void bindText(int index, const std::optional<QString>& value);
    void bindBlob(int index, const std::optional<QByteArray>& value);

    // Steps the statement to completion, then resets it. `what` names the action in the error.
    Result<void> run(const QString& what);

    // Reads the rows of the statement; resets it when destroyed.
    class Cursor final {
    public:
        explicit Cursor(SqliteStatement& statement) : m_statement(statement) {}
        ~Cursor() { m_statement.reset(); }
        Cursor(const Cursor&) = delete;
        Cursor& operator=(const Cursor&) = delete;

        // The next row: true if there is one, false at the end; an error if stepping failed.
        Result<bool> next(const QString& what);
        // Calls `read` for every remaining row.
        Result<void> forEach(const QString& what, const std::function<void(const Cursor&)>& read);

        qint64 int64(int column) const;
        std::optional<QString> text(int column) const;
        std::optional<QByteArray> blob(int column) const;
        // A UUID stored as its 16 bytes (RFC 4122 order); null if the column holds anything else.
        QUuid uuid(int column) const;

    private:
        SqliteStatement& m_statement;
    };

private:
    SqliteStatement(sqlite3* db, sqlite3_stmt* statement) : m_db(db), m_statement(statement) {}
    void reset();

    sqlite3* m_db;
    sqlite3_stmt* m_statement;
    // The first failed bind, reported by the next step.
    int m_bindResult = 0;
    // Bound texts and blobs stay alive until the statement is reset, so SQLite need not copy them.
    QList<QByteArray> m_boundData;
};

}  // namespace nimbrel
