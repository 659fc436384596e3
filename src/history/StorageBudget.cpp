#include "history/StorageBudget.h"

#include "history/HistoryStore.h"
#include "settings/SettingsStore.h"

namespace nimbrel {

StorageBudget::StorageBudget(HistoryStore& store, const SettingsStore& settings) : m_store(store), m_settings(settings)
{
}

qint64 StorageBudget::currentTotalBytes()
{
    if (m_cachedTotalBytes)
        return *m_cachedTotalBytes;
    // The store keeps the sum of byteSize itself, so the recount is one read, not a scan.
    const auto total = m_store.totalByteSize();
    m_cachedTotalBytes = total ? *total : 0;
    return *m_cachedTotalBytes;
}

void StorageBudget::enforce(qint64 byteSize)
{
    if (++m_ingestsSinceCalibration >= runsBetweenRecounts) {
        m_ingestsSinceCalibration = 0;
        m_cachedTotalBytes.reset();
    }
    const qint64 limit = m_settings.maxStorageMB() * bytesPerMegabyte;
    // A recount already includes the new record, which is stored by now.
    qint64 total = m_cachedTotalBytes ? *m_cachedTotalBytes + byteSize : currentTotalBytes();
    m_cachedTotalBytes = total;
    if (total <= limit)
        return;

    FetchDescriptor oldest;
    oldest.sortByCreatedAt = SortOrder::ascending;
    oldest.limit = batchSize;
    oldest.byteSizeOnly = true;
    while (total > limit) {
        const auto batch = m_store.fetch(oldest);
        if (!batch || batch->isEmpty())
            break;
        bool removed = true;
        for (const ClipItem& item : *batch) {
            if (!m_store.remove(item.id)) {
                removed = false;
                break;
            }
            total -= item.byteSize;
            if (total <= limit)
                break;
        }
        // A failed save leaves the deletions pending; later fetches no longer return those records.
        const bool saved = m_store.save().ok();
        if (!removed || (!saved && !m_store.hasChanges())) {
            // The store refuses to delete (a full disk) or threw the deletions away: stop rather than walk
            // the same records again, and count afresh at the next run.
            m_cachedTotalBytes.reset();
            return;
        }
    }
    m_cachedTotalBytes = total;
}

}  // namespace nimbrel
