#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace nimbrel::native {

// Which applications have windows in a Wayland session and which one is in front, from the compositor's list
// of toplevel windows
// (zwlr_foreign_toplevel_manager_v1: each window's app id and whether it is activated), kept current
// on a connection and a thread of its own.
class WaylandToplevels {
public:
    // `display` as WAYLAND_DISPLAY takes it; empty: the session's.
    explicit WaylandToplevels(QByteArray display = {});
    ~WaylandToplevels();
    WaylandToplevels(const WaylandToplevels&) = delete;
    WaylandToplevels& operator=(const WaylandToplevels&) = delete;

    // An error line when the compositor does not list its windows (then the front application stays unknown).
    std::optional<QString> start();
    void stop();
    // The app id of the activated window ("org.gnome.TextEditor", "foot"); absent when no window is active
    // or it has none. Any thread.
    std::optional<QString> activeAppId() const;
    // The app ids of all the windows, each once, in no particular order; windows without one are left out.
    // Any thread.
    QStringList appIds() const;

    struct Session;

private:
    void run();

    QByteArray m_display;
    std::unique_ptr<Session> m_session;
    std::thread m_thread;
};

}  // namespace nimbrel::native
