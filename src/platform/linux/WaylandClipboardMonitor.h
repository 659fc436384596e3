#pragma once

#include "platform/ClipboardMonitor.h"
#include "platform/ClipboardWriter.h"

#include <QByteArray>

#include <atomic>
#include <memory>
#include <thread>

namespace nimbrel::native {

// Watches the clipboard of a Wayland session through the compositor's clipboard-control protocol
// (zwlr_data_control_manager_v1), on a connection and a thread of its own, so it sees every copy
// whether or not Nimbrel has the focus. The offered types come with each change; the bytes are read
// through a pipe only when asked, within the change's deadline. Idle, the thread sleeps in poll().
class WaylandClipboardMonitor final : public ClipboardMonitor {
public:
    // `display` as WAYLAND_DISPLAY takes it; empty: the session's.
    explicit WaylandClipboardMonitor(QByteArray display = {});
    ~WaylandClipboardMonitor() override;

    std::optional<QString> start(Handler handler, int deadlineMs) override;
    void stop() override;
    void setEmptiedHandler(EmptiedHandler handler) override;
    void watchPrimary(bool on) override;

    // Puts these representations on the clipboard (and the primary selection) through the same
    // connection; the monitor's thread answers the applications that paste them. Any thread.
    void write(const QList<std::pair<QString, QByteArray>>& representations, bool primaryToo);
    // Whether any application (Nimbrel included) holds the clipboard, as the compositor last said.
    bool hasOwner() const { return m_hasOwner.load(); }

    // How long a primary selection must stay as it is before it is handed over (no pointer state to
    // read on Wayland: time alone says the drag is over).
    static constexpr int primarySettleMs = 300;

    struct Session;

private:
    void run();

    QByteArray m_display;
    std::unique_ptr<Session> m_session;
    EmptiedHandler m_emptied;
    std::thread m_thread;
    std::atomic<bool> m_watchPrimary{false};
    std::atomic<bool> m_hasOwner{false};
};

// The clipboard as Nimbrel writes it in a Wayland session: through the monitor's connection.
class WaylandClipboardWriter final : public ClipboardWriter {
public:
    explicit WaylandClipboardWriter(WaylandClipboardMonitor& monitor) : m_monitor(monitor) {}
    void write(const QList<std::pair<QString, QByteArray>>& representations,
               Selections selections = Selections::clipboard) override
    {
        m_monitor.write(representations, selections == Selections::clipboardAndPrimary);
    }
    bool hasOwner() const override { return m_monitor.hasOwner(); }

private:
    WaylandClipboardMonitor& m_monitor;
};

}  // namespace nimbrel::native
