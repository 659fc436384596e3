#include "history/SqliteStatement.h"

#include <QByteArrayView>

#include <QFile>

#include <sqlite3.h>

namespace nimbrel {

namespace {
// A non-null pointer for empty values: SQLite binds NULL for a null pointer.
constexpr char emptyData[] = "";
}  // namespace

Result<sqlite3*> openStoreConnection(const QString& name, int flags)
{
    // Store files are absolute paths; only the in-memory stores' names are URIs.
    flags |= SQLITE_OPEN_NOMUTEX | (name.startsWith(QLatin1String("file:")) ? SQLITE_OPEN_URI : SQLITE_OPEN_NOFOLLOW);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(name).constData(), &db, flags, nullptr) != SQLITE_OK) {
        Error error = sqliteError(db, QStringLiteral("Could not open the history store %1").arg(name));
        sqlite3_close_v2(db);
        return error;
    }
    sqlite3_busy_timeout(db, 2000);
    // What a writer deletes (queued index entries hold deleted texts) is overwritten in the file.
    if ((flags & SQLITE_OPEN_READWRITE) != 0)
        sqlite3_exec(db, "PRAGMA secure_delete = ON", nullptr, nullptr, nullptr);
    return db;
}

Error sqliteError(sqlite3* db, const QString& what)
{
    const char* message = db ? sqlite3_errmsg(db) : "out of memory";
    return Error{what + QStringLiteral(": ") + QString::fromUtf8(message), db ? sqlite3_errcode(db) : SQLITE_NOMEM};
}

bool isBusy(const Error& error)
{
    const int primary = error.code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Result<std::unique_ptr<SqliteStatement>> SqliteStatement::prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement);
        return sqliteError(db, QStringLiteral("Could not prepare \"%1\"").arg(QString::fromUtf8(sql)));
    }
    return std::unique_ptr<SqliteStatement>(new SqliteStatement(db, statement));
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

void SqliteStatement::bindInt64(int index, qint64 value)
{
    const int rc = sqlite3_bind_int64(m_statement, index, value);
    if (rc != SQLITE_OK && m_bindResult == SQLITE_OK)
        m_bindResult = rc;
}

void SqliteStatement::bindText(int index, const std::optional<QString>& value)
{
    int rc = SQLITE_OK;
    if (!value) {
        rc = sqlite3_bind_null(m_statement, index);
    } else {
        m_boundData.append(value->toUtf8());
        const QByteArray& utf8 = m_boundData.constLast();
        rc = sqlite3_bind_text64(m_statement, index, utf8.isEmpty() ? emptyData : utf8.constData(),
                                 static_cast<sqlite3_uint64>(utf8.size()), SQLITE_STATIC, SQLITE_UTF8);
    }
    if (rc != SQLITE_OK && m_bindResult == SQLITE_OK)
        m_bindResult = rc;
}

void SqliteStatement::bindBlob(int index, const std::optional<QByteArray>& value)
{
    int rc = SQLITE_OK;
    if (!value) {
        rc = sqlite3_bind_null(m_statement, index);
    } else if (value->isEmpty()) {
        rc = sqlite3_bind_zeroblob(m_statement, index, 0);
    } else {
        m_boundData.append(*value);
        const QByteArray& bytes = m_boundData.constLast();
        rc = sqlite3_bind_blob64(m_statement, index, bytes.constData(), static_cast<sqlite3_uint64>(bytes.size()),
                                 SQLITE_STATIC);
    }
    if (rc != SQLITE_OK && m_bindResult == SQLITE_OK)
        m_bindResult = rc;
}

Result<void> SqliteStatement::run(const QString& what)
{
    Cursor cursor(*this);
    while (true) {
        Result<bool> row = cursor.next(what);
        if (!row)
            return row.error();
        if (!*row)
            return {};
    }
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_boundData.clear();
    m_bindResult = SQLITE_OK;
}

Result<bool> SqliteStatement::Cursor::next(const QString& what)
{
    if (m_statement.m_bindResult != SQLITE_OK)
        return Error{what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errstr(m_statement.m_bindResult)),
                     m_statement.m_bindResult & 0xff};
    const int rc = sqlite3_step(m_statement.m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    return sqliteError(m_statement.m_db, what);
}

Result<void> SqliteStatement::Cursor::forEach(const QString& what, const std::function<void(const Cursor&)>& read)
{
    while (true) {
        Result<bool> row = next(what);
        if (!row)
            return row.error();
        if (!*row)
            return {};
        read(*this);
    }
}

qint64 SqliteStatement::Cursor::int64(int column) const
{
    return sqlite3_column_int64(m_statement.m_statement, column);
}

std::optional<QString> SqliteStatement::Cursor::text(int column) const
{
    sqlite3_stmt* statement = m_statement.m_statement;
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    return QString::fromUtf8(data, size);
}

std::optional<QByteArray> SqliteStatement::Cursor::blob(int column) const
{
    sqlite3_stmt* statement = m_statement.m_statement;
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    return size > 0 ? QByteArray(data, size) : QByteArray();
}

QUuid SqliteStatement::Cursor::uuid(int column) const
{
    sqlite3_stmt* statement = m_statement.m_statement;
    if (sqlite3_column_type(statement, column) != SQLITE_BLOB || sqlite3_column_bytes(statement, column) != 16)
        return QUuid();
    return QUuid::fromRfc4122(QByteArrayView(static_cast<const char*>(sqlite3_column_blob(statement, column)), 16));
}

}  // namespace nimbrel
