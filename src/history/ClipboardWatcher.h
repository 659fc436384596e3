#pragma once

#include "history/CaptureGate.h"
#include "history/ClipItem.h"
#include "history/HistoryEdits.h"

#include <QObject>
#include <QThread>
#include <QUuid>

#include <atomic>

namespace nimbrel {

class ClipboardMonitor;
class Clock;
class Console;
class HistoryStore;
class HistoryWriter;
class SettingsStore;
class Workspace;

// Turns clipboard changes into history records without the UI thread: the monitor's thread reads each
// change (one deadline, a size cap per representation), the writer's thread makes and stores the record
// and keeps the budget. The UI thread hears of committed changes and relays the writer's lines.
class ClipboardWatcher final : public QObject {
    Q_OBJECT
public:
    // The most one change may take to be read, whatever its owner does.
    static constexpr int readDeadlineMs = 1000;

    ClipboardWatcher(ClipboardMonitor& monitor, const Workspace& workspace, HistoryStore& store,
                     const SettingsStore& settings, Console& console, const Clock& clock, QObject* parent = nullptr);
    ~ClipboardWatcher() override;

    // Opens the writer's connection to the store and starts watching; false (with a line) when either
    // cannot be had.
    bool start();
    // Stops reading at once and lets the writer finish what it is doing, waiting at most `waitMs` (-1: as
    // long as it takes); false
    // when the writer is still busy then (what it has committed stays committed).
    bool stop(int waitMs = 800);
    bool isRunning() const { return m_running; }

    // The history's edits, made on the writer's thread in the order asked, behind the captures before
    // them. Each reply is called once on this (the UI) thread; at once, failed, when recording is not
    // running. See HistoryWriter for what each does.
    // Deletes a record; `removeFailed` too if it could not be deleted.
    void remove(const QUuid& id, bool keepForUndo = false, EditReply reply = {});
    void setPinned(const QUuid& id, bool pinned, EditReply reply = {});
    void clear(bool includePinned, EditReply reply);
    void undoRemove();
    void forgetRemoved();
    HistoryWriter* writer() const { return m_writer; }
    // Pausing and the excluded applications hold changes back before anything of them is read.
    CaptureGate& gate() { return m_gate; }

Q_SIGNALS:
    // The writer changed the store (records stored or deleted); emitted on the UI thread.
    void storeChanged();
    void changeHandled();
    void removeFailed(const QUuid& id);
    // The application that held the clipboard went away and left it empty; this record, with its
    // contents loaded, is what it held.
    void offerAgain(const nimbrel::ClipItem& item);

private:
    void offerAgainById(const QUuid& id);
    // The writer, or none after the reply has been told that recording is not running.
    HistoryWriter* runningWriter(const EditReply& reply) const;
    // The reply, called on this thread whatever thread calls it.
    EditReply onThisThread(EditReply reply);

    ClipboardMonitor& m_monitor;
    const Workspace& m_workspace;
    HistoryStore& m_store;
    const SettingsStore& m_settings;
    Console& m_console;
    const Clock& m_clock;
    std::atomic<qint64> m_limitBytes;
    CaptureGate m_gate;
    QThread m_thread;
    HistoryWriter* m_writer = nullptr;
    bool m_running = false;
};

}  // namespace nimbrel
