#pragma once

#include "history/ClipItem.h"
#include "history/SqliteStatement.h"

namespace nimbrel {

// The columns a fetch or a search reads of a record (the clip table named "c"), without its image bytes.
inline constexpr char recordColumns[] =
    "c.id, c.byteSize, c.kindRaw, c.contentText, c.sourceBundleID, c.sourceName, c.createdAt";
inline constexpr int recordColumnCount = 7;

// The record in the current row, its columns starting at `first`.
ClipItem readRecord(const SqliteStatement::Cursor& cursor, int first = 0);

}  // namespace nimbrel
