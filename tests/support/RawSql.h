#pragma once

// SQL on a store's connection behind the store's back, the way a foreign program (or a fault) would.

#include <QString>

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace nimbrel::test {

inline void rawExecute(sqlite3* db, const QString& sql)
{
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    const std::string why = message ? message : "";
    sqlite3_free(message);
    ASSERT_EQ(rc, SQLITE_OK) << why << ": " << sql.toStdString();
}

// The first column of the first row; -1 when there is none.
inline qint64 rawInt(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    const qint64 value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return value;
}

}  // namespace nimbrel::test
