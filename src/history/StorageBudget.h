#pragma once

#include <QtGlobal>

#include <optional>

namespace nimbrel {

class HistoryStore;
class SettingsStore;

// Keeps the history within maxStorageMB: a running total of the records' byteSize, recounted from the
// store after every 50th run, and pruning of the oldest records in batches of 32 when it is exceeded.
class StorageBudget final {
public:
    static constexpr qint64 bytesPerMegabyte = 1'048'576;
    static constexpr qint64 runsBetweenRecounts = 50;
    static constexpr int batchSize = 32;

    StorageBudget(HistoryStore& store, const SettingsStore& settings);

    // Runs after a record of `byteSize` bytes has been inserted and saved.
    void enforce(qint64 byteSize);
    // The running total, recounted from the store when unknown (0 when the store cannot be read).
    qint64 currentTotalBytes();

    std::optional<qint64> cachedTotalBytes() const { return m_cachedTotalBytes; }
    qint64 ingestsSinceCalibration() const { return m_ingestsSinceCalibration; }

private:
    HistoryStore& m_store;
    const SettingsStore& m_settings;
    std::optional<qint64> m_cachedTotalBytes;
    qint64 m_ingestsSinceCalibration = 0;
};

}  // namespace nimbrel
