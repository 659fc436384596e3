#include "history/StorageBudget.h"

#include "history/HistoryStore.h"

namespace nimbrel {

StorageBudget::StorageBudget(HistoryStore& store, std::function<qint64()> limitBytes)
    : m_store(store), m_limitBytes(std::move(limitBytes))
{
}

int StorageBudget::enforce()
{
    const qint64 limit = m_limitBytes();
    const Result<qint64> counted = m_store.totalByteSize();
    if (!counted)
        return 0;
    qint64 total = *counted;
    if (total <= limit)
        return 0;
    // Pinned records count but never go: once only they are left over the budget, nothing more is done.
    const Result<HistoryUsage> usage = m_store.usage();
    if (!usage)
        return 0;
    qint64 unpinned = usage->bytes - usage->pinnedBytes;
    FetchDescriptor oldest;
    oldest.sortByCreatedAt = SortOrder::ascending;
    oldest.limit = batchSize;
    oldest.byteSizeOnly = true;
    oldest.unpinnedOnly = true;
    int deleted = 0;
    while (total > limit && unpinned > 0) {
        const auto batch = m_store.fetch(oldest);
        if (!batch || batch->isEmpty())
            break;
        for (const ClipItem& item : *batch) {
            if (!m_store.remove(item.id))
                return deleted;  // the store refuses to delete (a full disk): try again at the next record
            total -= item.byteSize;
            unpinned -= item.byteSize;
            ++deleted;
            if (total <= limit)
                break;
        }
        // A failed save leaves the deletions pending; later fetches no longer return those records. One
        // that threw them away would have the loop walk the same records again.
        if (!m_store.save() && !m_store.hasChanges())
            break;
    }
    return deleted;
}

}  // namespace nimbrel
