#include "history/ClipboardWatcher.h"

#include "history/ClipboardCapture.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "history/StorageBudget.h"
#include "platform/ClipboardMonitor.h"
#include "platform/Console.h"
#include "settings/SettingsStore.h"

#include <QDeadlineTimer>

namespace nimbrel {

ClipboardWatcher::ClipboardWatcher(ClipboardMonitor& monitor, const Workspace& workspace, HistoryStore& store,
                                   const SettingsStore& settings, Console& console, const Clock& clock, QObject* parent)
    : QObject(parent),
      m_monitor(monitor),
      m_workspace(workspace),
      m_store(store),
      m_console(console),
      m_clock(clock),
      m_limitBytes(settings.maxStorageMB() * StorageBudget::bytesPerMegabyte)
{
    m_thread.setObjectName(QStringLiteral("history writer"));
    connect(&settings, &SettingsStore::maxStorageMBChanged, this,
            [this, &settings] { m_limitBytes = settings.maxStorageMB() * StorageBudget::bytesPerMegabyte; });
}

ClipboardWatcher::~ClipboardWatcher()
{
    stop(-1);
}

bool ClipboardWatcher::start()
{
    if (m_running)
        return true;
    Result<std::unique_ptr<HistoryStore>> connection = m_store.openAnotherConnection();
    if (!connection) {
        m_console.line(QStringLiteral("[Nimbrel] Clipboard watcher disabled: ") + connection.error().description);
        return false;
    }
    m_writer = new HistoryWriter(std::move(connection).value(), m_limitBytes);
    m_writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_writer, &QObject::deleteLater);
    connect(m_writer, &HistoryWriter::storeChanged, this, &ClipboardWatcher::storeChanged);
    connect(m_writer, &HistoryWriter::changeHandled, this, &ClipboardWatcher::changeHandled);
    connect(m_writer, &HistoryWriter::removeFailed, this, &ClipboardWatcher::removeFailed);
    connect(m_writer, &HistoryWriter::diagnostic, this, [this](const QString& line) { m_console.line(line); });
    m_thread.start();

    HistoryWriter* writer = m_writer;
    const std::atomic<qint64>& limit = m_limitBytes;
    const Workspace& workspace = m_workspace;
    const Clock& clock = m_clock;
    const auto handler = [writer, &limit, &workspace, &clock](ClipboardOffer& offer) {
        CapturedChange change = readChange(offer, workspace, clock, limit.load() / 4);
        QMetaObject::invokeMethod(
            writer, [writer, change = std::move(change)] { writer->ingest(change); }, Qt::QueuedConnection);
    };
    if (const std::optional<QString> error = m_monitor.start(handler, readDeadlineMs)) {
        m_console.line(QStringLiteral("[Nimbrel] ") + *error);
        stop();
        return false;
    }
    m_running = true;
    return true;
}

bool ClipboardWatcher::stop(int waitMs)
{
    m_monitor.stop();
    m_running = false;
    if (!m_writer)
        return true;
    // Changes read but not yet stored are dropped: ending within a second matters more than the last
    // copy of the session, and what is committed stays committed.
    m_writer->stopAccepting();
    m_thread.quit();
    if (!m_thread.wait(waitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(waitMs)))
        return false;
    m_writer = nullptr;
    return true;
}

void ClipboardWatcher::remove(const QUuid& id)
{
    if (!m_writer)
        return;
    HistoryWriter* writer = m_writer;
    QMetaObject::invokeMethod(
        writer, [writer, id] { writer->remove(id); }, Qt::QueuedConnection);
}

}  // namespace nimbrel
