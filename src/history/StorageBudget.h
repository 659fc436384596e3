#pragma once

#include <QtGlobal>

#include <functional>

namespace nimbrel {

class HistoryStore;

// Keeps the history within its budget: after a record is stored, the store's exact total of byteSize
// (kept by the store itself, so deletions made anywhere are counted) is compared with the budget, and
// the oldest unpinned records are deleted in batches of 32 until it fits. Pinned records count in the
// total but are never deleted: when they alone exceed the budget, every unpinned record goes and the
// history stays over it. Used on the writer's thread.
class StorageBudget final {
public:
    static constexpr qint64 bytesPerMegabyte = 1'048'576;
    static constexpr int batchSize = 32;

    // `limitBytes` is asked at every run, so a change of the setting applies from the next record on.
    StorageBudget(HistoryStore& store, std::function<qint64()> limitBytes);

    // Deletes the oldest unpinned records while the total is over the budget; the number deleted.
    int enforce();
    // The largest record that is stored at all: a quarter of the budget, so that one copy can never
    // push the rest of the history out.
    qint64 largestRecord() const { return m_limitBytes() / 4; }

private:
    HistoryStore& m_store;
    std::function<qint64()> m_limitBytes;
};

}  // namespace nimbrel
