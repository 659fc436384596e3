#pragma once

#include "history/ClipItem.h"
#include "history/SqliteStatement.h"

namespace nimbrel {

// The columns a fetch or a search reads of a record (the clip table named "c"), without its image bytes.
inline constexpr char recordColumns[] =
    "c.id, c.byteSize, c.kindRaw, c.contentText, c.sourceBundleID, c.sourceName, c.createdAt,"
    " EXISTS (SELECT 1 FROM clip_pin AS p WHERE p.clipPk = c.pk)";
inline constexpr int recordColumnCount = 8;

// The record in the current row, its columns starting at `first`.
ClipItem readRecord(const SqliteStatement::Cursor& cursor, int first = 0);

// Lets a read-only connection read a store of a version before pins as it reads one of this version:
// an empty table of pins of its own (TEMP, so the store file stays untouched) stands in for the
// store's. Does nothing for a store that has pins.
Result<void> providePinTable(sqlite3* db);

}  // namespace nimbrel
