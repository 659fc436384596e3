#include "history/ClipboardWatcher.h"

#include "history/ClipboardCapture.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "history/StorageBudget.h"
#include "platform/ClipboardMonitor.h"
#include "platform/Console.h"
#include "settings/SettingsStore.h"

#include <QDeadlineTimer>

#include <memory>

namespace nimbrel {

ClipboardWatcher::ClipboardWatcher(ClipboardMonitor& monitor, const Workspace& workspace, HistoryStore& store,
                                   const SettingsStore& settings, Console& console, const Clock& clock, QObject* parent)
    : QObject(parent),
      m_monitor(monitor),
      m_workspace(workspace),
      m_store(store),
      m_settings(settings),
      m_console(console),
      m_clock(clock),
      m_limitBytes(settings.maxStorageMB() * StorageBudget::bytesPerMegabyte)
{
    m_thread.setObjectName(QStringLiteral("history writer"));
    connect(&settings, &SettingsStore::maxStorageMBChanged, this,
            [this, &settings] { m_limitBytes = settings.maxStorageMB() * StorageBudget::bytesPerMegabyte; });
    m_gate.setExcludedApplications(settings.excludedApplications());
    connect(&settings, &SettingsStore::excludedApplicationsChanged, this,
            [this, &settings] { m_gate.setExcludedApplications(settings.excludedApplications()); });
    connect(&settings, &SettingsStore::recordPrimarySelectionChanged, this,
            [this, &settings] { m_monitor.watchPrimary(settings.recordPrimarySelection()); });
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
    connect(m_writer, &HistoryWriter::offerAgain, this, &ClipboardWatcher::offerAgainById);
    m_thread.start();

    HistoryWriter* writer = m_writer;
    const std::atomic<qint64>& limit = m_limitBytes;
    const Workspace& workspace = m_workspace;
    const Clock& clock = m_clock;
    const CaptureGate& gate = m_gate;
    // Whether the clipboard holds a password manager's secret now; only the monitor's thread uses it.
    auto secretOnClipboard = std::make_shared<bool>(false);
    const auto handler = [writer, &limit, &workspace, &clock, &gate, secretOnClipboard](ClipboardOffer& offer) {
        // A mouse selection made while a secret is on the clipboard is never read: it may well be the
        // secret shown in the password manager's window.
        if (offer.selection() == Selection::primary && *secretOnClipboard)
            return;
        CapturedChange change = readChange(offer, workspace, clock, limit.load() / 4, &gate);
        if (change.selection == Selection::clipboard)
            *secretOnClipboard = change.secret || change.heldBack;
        QMetaObject::invokeMethod(
            writer, [writer, change = std::move(change)] { writer->ingest(change); }, Qt::QueuedConnection);
    };
    m_monitor.setEmptiedHandler([writer, secretOnClipboard] {
        *secretOnClipboard = false;
        QMetaObject::invokeMethod(writer, &HistoryWriter::clipboardOwnerGone, Qt::QueuedConnection);
    });
    m_monitor.watchPrimary(m_settings.recordPrimarySelection());
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

void ClipboardWatcher::offerAgainById(const QUuid& id)
{
    // Read through the UI thread's connection: the record may be gone (deleted, pruned) by now.
    Result<std::optional<ClipItem>> record = m_store.record(id);
    if (!record || !*record || !m_store.loadContents(**record))
        return;
    Q_EMIT offerAgain(**record);
}

HistoryWriter* ClipboardWatcher::runningWriter(const EditReply& reply) const
{
    if (m_writer && !m_writer->isStopping())
        return m_writer;
    if (reply) {
        EditOutcome outcome;
        outcome.status = EditOutcome::Status::failed;
        outcome.error = QStringLiteral("recording is not running");
        reply(outcome);
    }
    return nullptr;
}

EditReply ClipboardWatcher::onThisThread(EditReply reply)
{
    if (!reply)
        return {};
    // Posted to this object: dropped with it if it is gone by then.
    return [this, reply = std::move(reply)](const EditOutcome& outcome) {
        QMetaObject::invokeMethod(
            this, [reply, outcome] { reply(outcome); }, Qt::QueuedConnection);
    };
}

void ClipboardWatcher::remove(const QUuid& id, bool keepForUndo, EditReply reply)
{
    HistoryWriter* writer = runningWriter(reply);
    if (!writer)
        return;
    QMetaObject::invokeMethod(
        writer,
        [writer, id, keepForUndo, reply = onThisThread(std::move(reply))] { writer->remove(id, keepForUndo, reply); },
        Qt::QueuedConnection);
}

void ClipboardWatcher::setPinned(const QUuid& id, bool pinned, EditReply reply)
{
    HistoryWriter* writer = runningWriter(reply);
    if (!writer)
        return;
    QMetaObject::invokeMethod(
        writer, [writer, id, pinned, reply = onThisThread(std::move(reply))] { writer->setPinned(id, pinned, reply); },
        Qt::QueuedConnection);
}

void ClipboardWatcher::clear(bool includePinned, EditReply reply)
{
    HistoryWriter* writer = runningWriter(reply);
    if (!writer)
        return;
    QMetaObject::invokeMethod(
        writer,
        [writer, includePinned, reply = onThisThread(std::move(reply))] { writer->clear(includePinned, reply); },
        Qt::QueuedConnection);
}

void ClipboardWatcher::undoRemove()
{
    if (HistoryWriter* writer = runningWriter({}))
        QMetaObject::invokeMethod(writer, &HistoryWriter::undoRemove, Qt::QueuedConnection);
}

void ClipboardWatcher::forgetRemoved()
{
    if (HistoryWriter* writer = runningWriter({}))
        QMetaObject::invokeMethod(writer, &HistoryWriter::forgetRemoved, Qt::QueuedConnection);
}

}  // namespace nimbrel
