#include "platform/linux/WaylandToplevels.h"

#include "platform/linux/WaylandEvents.h"

#include <QHash>

#include <wayland-client.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client-protocol.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace nimbrel::native {

namespace {

using Handle = zwlr_foreign_toplevel_handle_v1;

// A window as the compositor describes it; changes count from its next "done".
struct Toplevel {
    QString appId;
    bool activated = false;
    QString pendingAppId;
    bool pendingActivated = false;
};

}  // namespace

struct WaylandToplevels::Session {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    int wake = -1;
    std::atomic<bool> stopping{false};
    QHash<Handle*, Toplevel> toplevels;
    Handle* active = nullptr;

    mutable std::mutex mutex;
    std::optional<QString> activeAppId;
    QStringList appIds;

    void publish()
    {
        QStringList ids;
        for (const Toplevel& toplevel : std::as_const(toplevels))
            if (!toplevel.appId.isEmpty() && !ids.contains(toplevel.appId))
                ids.append(toplevel.appId);
        const std::lock_guard lock(mutex);
        const auto found = toplevels.constFind(active);
        activeAppId = found != toplevels.cend() && !found->appId.isEmpty() ? std::optional(found->appId) : std::nullopt;
        appIds = std::move(ids);
    }
};

namespace {

using Session = WaylandToplevels::Session;

void title(void*, Handle*, const char*)
{
}

void appId(void* data, Handle* handle, const char* id)
{
    static_cast<Session*>(data)->toplevels[handle].pendingAppId = QString::fromUtf8(id);
}

void outputEnter(void*, Handle*, wl_output*)
{
}
void outputLeave(void*, Handle*, wl_output*)
{
}

void state(void* data, Handle* handle, wl_array* states)
{
    bool activated = false;
    const auto* begin = static_cast<const uint32_t*>(states->data);
    const auto* end = begin + states->size / sizeof(uint32_t);
    activated = std::find(begin, end, ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) != end;
    static_cast<Session*>(data)->toplevels[handle].pendingActivated = activated;
}

void done(void* data, Handle* handle)
{
    auto* session = static_cast<Session*>(data);
    Toplevel& toplevel = session->toplevels[handle];
    toplevel.appId = toplevel.pendingAppId;
    toplevel.activated = toplevel.pendingActivated;
    if (toplevel.activated)
        session->active = handle;
    else if (session->active == handle)
        session->active = nullptr;
    session->publish();
}

void closed(void* data, Handle* handle)
{
    auto* session = static_cast<Session*>(data);
    session->toplevels.remove(handle);
    if (session->active == handle)
        session->active = nullptr;
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    session->publish();
}

void parent(void*, Handle*, Handle*)
{
}

const zwlr_foreign_toplevel_handle_v1_listener handleListener{title, appId, outputEnter, outputLeave,
                                                              state, done,  closed,      parent};

void newToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, Handle* handle)
{
    auto* session = static_cast<Session*>(data);
    session->toplevels.insert(handle, {});
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, session);
}

void managerFinished(void* data, zwlr_foreign_toplevel_manager_v1*)
{
    static_cast<Session*>(data)->stopping = true;
}

const zwlr_foreign_toplevel_manager_v1_listener managerListener{newToplevel, managerFinished};

void announceGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* session = static_cast<Session*>(data);
    if (QByteArray(interface) == zwlr_foreign_toplevel_manager_v1_interface.name && !session->manager)
        session->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, 3u)));
}

void forgetGlobal(void*, wl_registry*, uint32_t)
{
}

const wl_registry_listener registryListener{announceGlobal, forgetGlobal};

}  // namespace

WaylandToplevels::WaylandToplevels(QByteArray display) : m_display(std::move(display))
{
}

WaylandToplevels::~WaylandToplevels()
{
    stop();
}

std::optional<QString> WaylandToplevels::start()
{
    stop();
    auto session = std::make_unique<Session>();
    session->display = wl_display_connect(m_display.isEmpty() ? nullptr : m_display.constData());
    if (!session->display)
        return QStringLiteral("[Nimbrel] No Wayland compositor could be reached: the application in front is unknown");
    m_session = std::move(session);
    Session& s = *m_session;
    s.registry = listGlobals(s.display, registryListener, &s);
    if (!s.manager) {
        stop();
        return QStringLiteral(
            "[Nimbrel] This compositor does not list its windows (no zwlr_foreign_toplevel_manager_v1): records "
            "show no source application");
    }
    zwlr_foreign_toplevel_manager_v1_add_listener(s.manager, &managerListener, &s);
    wl_display_roundtrip(s.display);
    s.wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
    return std::nullopt;
}

void WaylandToplevels::run()
{
    Session& s = *m_session;
    while (!s.stopping.load()) {
        if (!waitAndDispatch(s.display, s.wake, -1))
            return;
    }
}

std::optional<QString> WaylandToplevels::activeAppId() const
{
    if (!m_session)
        return std::nullopt;
    const std::lock_guard lock(m_session->mutex);
    return m_session->activeAppId;
}

QStringList WaylandToplevels::appIds() const
{
    if (!m_session)
        return {};
    const std::lock_guard lock(m_session->mutex);
    return m_session->appIds;
}

void WaylandToplevels::stop()
{
    if (!m_session)
        return;
    Session& s = *m_session;
    s.stopping = true;
    wakeUp(s.wake);
    if (m_thread.joinable())
        m_thread.join();
    for (Handle* handle : s.toplevels.keys())
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    if (s.manager)
        zwlr_foreign_toplevel_manager_v1_destroy(s.manager);
    closeConnection(s.display, s.registry, s.wake);
    m_session.reset();
}

}  // namespace nimbrel::native
