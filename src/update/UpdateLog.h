#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace nimbrel {

class SystemLog;

// The outcome of one apply-update run, kept in "apply.json" in the update folder until the next normal
// start reads it: {"result":"…","note":"…","timestamp":…}, the note left out when there is none and the
// timestamp in seconds since the Unix epoch. Records written by older builds counted from 2001; the
// time is only kept for whoever reads the file, so both are accepted.
struct UpdateLog {
    QString result;  // "success", "timeoutWaitingForExit", "signatureInvalid", "replaceFailed", "missingOptions"
    std::optional<QString> note;
    double timestamp = 0;

    bool operator==(const UpdateLog&) const = default;
};

inline constexpr char updateLogFileName[] = "apply.json";

// Seconds since 1970-01-01 00:00:00 UTC, with the milliseconds.
double secondsSinceEpoch(const QDateTime& moment);

// Compact JSON with the keys in the order result, note, timestamp.
QByteArray encodeUpdateLog(const UpdateLog& record);
// Any key order; "result" must be a string, "timestamp" a number and "note", when present, a string
// or null. Other keys are ignored. Absent when the bytes are not such a record.
std::optional<UpdateLog> decodeUpdateLog(const QByteArray& bytes);

// Writes "apply.json" in the update folder (created if needed) atomically: the record is written aside
// and renamed into place, so a reader sees the old record or the new one, never a part. True when it
// was written.
bool writeUpdateLog(const QString& updateDirectory, const UpdateLog& record);

// The start-up step: reads and deletes "apply.json" and, unless it records a success, writes
// "[Nimbrel] 上次自动更新未生效（<result>）：<note>" to the system log. A record that cannot be read or
// decoded is left in place and nothing is logged.
void reportLastApplyResult(const QString& updateDirectory, SystemLog& log);

}  // namespace nimbrel
