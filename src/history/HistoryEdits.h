#pragma once

#include <QString>

#include <functional>

namespace nimbrel {

// What the history holds, as the clear confirmation and the budget note show it.
struct HistoryUsage {
    qint64 records = 0;
    qint64 bytes = 0;  // the sum of byteSize, as the budget counts it
    qint64 pinnedRecords = 0;
    qint64 pinnedBytes = 0;
};

// What became of a change asked of the history writer (by the panel or the command line).
struct EditOutcome {
    enum class Status { done, unknownRecord, failed };
    Status status = Status::done;
    // Why it failed, for `failed`.
    QString error;
    // For a clear: how many records went, and their byteSize.
    qint64 records = 0;
    qint64 bytes = 0;
};

// Called once on the thread that asked, when the change is made or refused.
using EditReply = std::function<void(const EditOutcome&)>;

}  // namespace nimbrel
