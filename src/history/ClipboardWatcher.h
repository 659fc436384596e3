#pragma once

#include "history/ClipItem.h"
#include "history/StorageBudget.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace nimbrel {

class Clock;
class Console;
class HistoryStore;
class Pasteboard;
class SettingsStore;
class Workspace;

// Turns clipboard changes into history records: polls the change counter twice a second, skips
// Nimbrel's own writes, changes made while Nimbrel is in front and contents marked secret, reads the
// contents in the order image, address, text, rich text, drops a repeat of the newest record, stores
// the rest and keeps the history within its budget. Main thread only.
class ClipboardWatcher final : public QObject {
    Q_OBJECT
public:
    // The type Nimbrel adds to its own clipboard writes.
    static inline const QString markerType = QStringLiteral("org.nimbrel.internal");
    static constexpr int pollIntervalMs = 500;
    static constexpr int maxGenericImageSide = 1024;

    ClipboardWatcher(Pasteboard& pasteboard, const Workspace& workspace, HistoryStore& store,
                     const SettingsStore& settings, Console& console, const Clock& clock, QObject* parent = nullptr);

    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }

    // One tick: ingest the contents if the counter moved.
    void poll();
    std::optional<ClipItem> makeItem();
    std::optional<QByteArray> readImageData();
    bool isDuplicateOfLatest(const ClipItem& item);

    qint64 lastChangeCount() const { return m_lastChangeCount; }
    StorageBudget& budget() { return m_budget; }

    // Contents a password manager marks as secret or transient, which are never recorded.
    static bool isConcealed(const QStringList& types, const Pasteboard& pasteboard);

private:
    void ingest();

    Pasteboard& m_pasteboard;
    const Workspace& m_workspace;
    HistoryStore& m_store;
    Console& m_console;
    const Clock& m_clock;
    qint64 m_lastChangeCount;
    QTimer m_timer;
    StorageBudget m_budget;
};

// The image as PNG bytes, reduced first so its longer side is at most `maxSide` pixels (sizes rounded
// half away from zero). None when it cannot be encoded.
std::optional<QByteArray> pngData(const QImage& image, std::optional<int> maxSide);

}  // namespace nimbrel
