#include "platform/linux/WaylandClipboardMonitor.h"

#include "platform/linux/WaylandEvents.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <memory>
#include <mutex>

#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace nimbrel::native {

namespace {

using Clock = std::chrono::steady_clock;
using Offer = zwlr_data_control_offer_v1;

int millisecondsUntil(Clock::time_point moment)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(moment - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

}  // namespace

// The thread's view of the compositor. Touched only by the monitor's thread once it runs.
struct WaylandClipboardMonitor::Session {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_device_v1* device = nullptr;
    int wake = -1;
    std::atomic<bool> stopping{false};
    const std::atomic<bool>* watchPrimary = nullptr;
    Handler handler;
    EmptiedHandler emptied;
    int deadlineMs = 0;

    QHash<Offer*, QStringList> types;
    Offer* clipboard = nullptr;
    Offer* primary = nullptr;
    // Counted per selection; a change is handed over once, and a read of an older one is superseded.
    quint64 clipboardChanges = 0;
    quint64 clipboardHandled = 0;
    quint64 primaryChanges = 0;
    quint64 primaryHandled = 0;
    Clock::time_point clipboardSeen;
    Clock::time_point primarySeen;
    // The selections present when watching starts are not changes.
    bool primed = false;
    // The current clipboard change went to the handler: its owner leaving empties the clipboard.
    bool handedClipboard = false;
    bool emptiedPending = false;
    bool lost = false;
    // The offer the handler holds; replaced meanwhile, it is destroyed only once the handler returns.
    Offer* reading = nullptr;
    std::atomic<bool>* hasOwner = nullptr;

    // Writes asked for by other threads, taken up by the monitor's thread.
    using Representations = QList<std::pair<QString, QByteArray>>;
    std::mutex writesMutex;
    std::vector<std::pair<std::shared_ptr<const Representations>, bool>> writes;
    // Nimbrel's own selections still offered.
    QSet<zwlr_data_control_source_v1*> sources;

    void forget(Offer* offer)
    {
        if (!offer || offer == reading)
            return;
        types.remove(offer);
        zwlr_data_control_offer_v1_destroy(offer);
    }

    bool dispatch(int timeoutMs, int extraFd = -1, bool* extraReady = nullptr)
    {
        return waitAndDispatch(display, wake, timeoutMs, extraFd, extraReady) && !lost;
    }
};

namespace {

using Session = WaylandClipboardMonitor::Session;

// One write of Nimbrel's, offered until another application takes the selection.
struct Source {
    Session* session;
    std::shared_ptr<const Session::Representations> representations;
};

void sendSource(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd)
{
    const auto& representations = static_cast<Source*>(data)->representations;
    const QString type = QString::fromUtf8(mimeType);
    QByteArray bytes;
    for (const auto& [offered, content] : *representations)
        if (offered == type)
            bytes = content;
    // The reader may take its time (a large image): a thread of its own writes, so the monitor never waits.
    std::thread([fd, bytes] {
        // A reader that leaves early must cost an EPIPE here, not the process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        qsizetype written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;  // the reader went away
            written += n;
        }
        ::close(fd);
    }).detach();
}

void cancelSource(void* data, zwlr_data_control_source_v1* source)
{
    auto* own = static_cast<Source*>(data);
    own->session->sources.remove(source);
    delete own;
    zwlr_data_control_source_v1_destroy(source);
}

const zwlr_data_control_source_v1_listener sourceListener{sendSource, cancelSource};

void offerWrites(Session& session)
{
    std::vector<std::pair<std::shared_ptr<const Session::Representations>, bool>> writes;
    {
        const std::lock_guard lock(session.writesMutex);
        writes.swap(session.writes);
    }
    // A source serves one selection; the primary selection needs version 2 of the protocol.
    const bool hasPrimary = zwlr_data_control_device_v1_get_version(session.device) >= 2;
    for (const auto& [representations, primaryToo] : writes) {
        for (const bool primary : {false, true}) {
            if (primary && !(primaryToo && hasPrimary))
                continue;
            zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(session.manager);
            zwlr_data_control_source_v1_add_listener(source, &sourceListener, new Source{&session, representations});
            session.sources.insert(source);
            for (const auto& [type, bytes] : *representations)
                zwlr_data_control_source_v1_offer(source, type.toUtf8().constData());
            if (primary)
                zwlr_data_control_device_v1_set_primary_selection(session.device, source);
            else
                zwlr_data_control_device_v1_set_selection(session.device, source);
        }
    }
}

void offered(void* data, Offer* offer, const char* mimeType)
{
    static_cast<Session*>(data)->types[offer].append(QString::fromUtf8(mimeType));
}

const zwlr_data_control_offer_v1_listener offerListener{offered};

void newOffer(void* data, zwlr_data_control_device_v1*, Offer* offer)
{
    auto* session = static_cast<Session*>(data);
    session->types.insert(offer, {});
    zwlr_data_control_offer_v1_add_listener(offer, &offerListener, session);
}

void clipboardChanged(void* data, zwlr_data_control_device_v1*, Offer* offer)
{
    auto* session = static_cast<Session*>(data);
    Offer* previous = session->clipboard;
    session->clipboard = offer;
    session->hasOwner->store(offer != nullptr);
    if (previous != offer)
        session->forget(previous);
    if (!session->primed)
        return;
    // An empty clipboard after a change that was handed over: its owner went away (or cleared it; the
    // protocol does not tell the two apart).
    if (!offer && session->handedClipboard)
        session->emptiedPending = true;
    session->handedClipboard = false;
    ++session->clipboardChanges;
    session->clipboardSeen = Clock::now();
}

void primaryChanged(void* data, zwlr_data_control_device_v1*, Offer* offer)
{
    auto* session = static_cast<Session*>(data);
    Offer* previous = session->primary;
    const bool watched = session->primed && session->watchPrimary->load();
    session->primary = watched ? offer : nullptr;
    if (previous != session->primary)
        session->forget(previous);
    if (!watched) {
        session->forget(offer);
        return;
    }
    ++session->primaryChanges;
    session->primarySeen = Clock::now();
}

void deviceFinished(void* data, zwlr_data_control_device_v1*)
{
    static_cast<Session*>(data)->lost = true;
}

const zwlr_data_control_device_v1_listener deviceListener{newOffer, clipboardChanged, deviceFinished, primaryChanged};

void announceGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* session = static_cast<Session*>(data);
    const QByteArray which(interface);
    if (which == wl_seat_interface.name && !session->seat) {
        session->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (which == zwlr_data_control_manager_v1_interface.name && !session->manager) {
        // Version 2 adds the primary selection.
        session->manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, std::min(version, 2u)));
    }
}

void forgetGlobal(void*, wl_registry*, uint32_t)
{
}

const wl_registry_listener registryListener{announceGlobal, forgetGlobal};

// One change, while the handler looks at it.
class DataControlOffer final : public ClipboardOffer {
public:
    DataControlOffer(Session& session, Offer* offer, Selection selection, quint64 change, Clock::time_point deadline)
        : m_session(session), m_offer(offer), m_selection(selection), m_change(change), m_deadline(deadline)
    {
    }

    TypeList types() override
    {
        if (superseded())
            return {Status::superseded, {}};
        return {Status::ok, m_session.types.value(m_offer)};
    }

    // The marker type says it: the protocol names no owner.
    bool isOwnContent() const override { return false; }
    Selection selection() const override { return m_selection; }

    Read read(const QString& type, qint64 cap) override
    {
        if (superseded())
            return {Status::superseded, {}};
        if (!m_session.types.value(m_offer).contains(type))
            return {Status::missing, {}};
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return {Status::missing, {}};
        zwlr_data_control_offer_v1_receive(m_offer, type.toUtf8().constData(), fds[1]);
        ::close(fds[1]);
        const Read result = drain(fds[0], cap);
        ::close(fds[0]);
        return result;
    }

private:
    bool superseded() const
    {
        const quint64 now = m_selection == Selection::clipboard ? m_session.clipboardChanges : m_session.primaryChanges;
        return now != m_change || m_session.stopping.load();
    }

    Read drain(int fd, qint64 cap)
    {
        QByteArray bytes;
        char chunk[65536];
        for (;;) {
            const int left = millisecondsUntil(m_deadline);
            if (left == 0)
                return {Status::timedOut, {}};
            bool readable = false;
            if (!m_session.dispatch(left, fd, &readable) || superseded())
                return {Status::superseded, {}};
            while (readable) {
                const ssize_t got = ::read(fd, chunk, sizeof chunk);
                if (got > 0) {
                    if (bytes.size() + got > cap)
                        return {Status::tooLarge, {}};
                    bytes.append(chunk, got);
                } else if (got == 0) {
                    return {Status::ok, bytes};
                } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    readable = false;
                } else if (errno != EINTR) {
                    return {Status::missing, {}};
                }
            }
        }
    }

    Session& m_session;
    Offer* m_offer;
    Selection m_selection;
    quint64 m_change;
    Clock::time_point m_deadline;
};

}  // namespace

WaylandClipboardMonitor::WaylandClipboardMonitor(QByteArray display) : m_display(std::move(display))
{
}

WaylandClipboardMonitor::~WaylandClipboardMonitor()
{
    stop();
}

void WaylandClipboardMonitor::setEmptiedHandler(EmptiedHandler handler)
{
    m_emptied = std::move(handler);
}

void WaylandClipboardMonitor::watchPrimary(bool on)
{
    m_watchPrimary = on;
    if (m_session)
        wakeUp(m_session->wake);
}

std::optional<QString> WaylandClipboardMonitor::start(Handler handler, int deadlineMs)
{
    stop();
    auto session = std::make_unique<Session>();
    session->watchPrimary = &m_watchPrimary;
    session->hasOwner = &m_hasOwner;
    session->handler = std::move(handler);
    session->emptied = m_emptied;
    session->deadlineMs = deadlineMs;
    session->display = wl_display_connect(m_display.isEmpty() ? nullptr : m_display.constData());
    if (!session->display)
        return QStringLiteral("[Nimbrel] No Wayland compositor could be reached: copies are not recorded");
    m_session = std::move(session);
    Session& s = *m_session;
    s.registry = listGlobals(s.display, registryListener, &s);
    if (!s.manager || !s.seat) {
        stop();
        return QStringLiteral(
            "[Nimbrel] This compositor lets no application watch the clipboard (no zwlr_data_control_manager_v1): "
            "copies are not recorded");
    }
    s.device = zwlr_data_control_manager_v1_get_data_device(s.manager, s.seat);
    zwlr_data_control_device_v1_add_listener(s.device, &deviceListener, &s);
    // The selections as they are now arrive first; only what follows is a change.
    wl_display_roundtrip(s.display);
    s.primed = true;
    s.wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
    return std::nullopt;
}

void WaylandClipboardMonitor::run()
{
    Session& s = *m_session;
    while (!s.stopping.load()) {
        const bool primaryWaits = s.primaryChanges != s.primaryHandled && m_watchPrimary.load();
        const auto settled = s.primarySeen + std::chrono::milliseconds(primarySettleMs);
        if (!s.dispatch(primaryWaits ? millisecondsUntil(settled) : -1))
            break;
        offerWrites(s);
        if (s.emptiedPending) {
            s.emptiedPending = false;
            if (s.emptied)
                s.emptied();
        }
        Offer* offer = nullptr;
        Selection selection = Selection::clipboard;
        quint64 change = 0;
        Clock::time_point seen;
        if (s.clipboardChanges != s.clipboardHandled) {
            s.clipboardHandled = change = s.clipboardChanges;
            offer = s.clipboard;
            seen = s.clipboardSeen;
            s.handedClipboard = offer != nullptr;
        } else if (s.primaryChanges != s.primaryHandled && Clock::now() >= settled) {
            s.primaryHandled = change = s.primaryChanges;
            offer = m_watchPrimary.load() ? s.primary : nullptr;
            selection = Selection::primary;
            seen = s.primarySeen;
        }
        if (!offer)
            continue;
        s.reading = offer;
        DataControlOffer current(s, offer, selection, change, seen + std::chrono::milliseconds(s.deadlineMs));
        s.handler(current);
        s.reading = nullptr;
        // Replaced while it was read: nothing holds it any more.
        if (offer != s.clipboard && offer != s.primary)
            s.forget(offer);
    }
}

void WaylandClipboardMonitor::write(const QList<std::pair<QString, QByteArray>>& representations, bool primaryToo)
{
    if (!m_session || m_session->wake < 0)
        return;
    {
        const std::lock_guard lock(m_session->writesMutex);
        m_session->writes.emplace_back(std::make_shared<const Session::Representations>(representations), primaryToo);
    }
    wakeUp(m_session->wake);
}

void WaylandClipboardMonitor::stop()
{
    if (!m_session)
        return;
    Session& s = *m_session;
    s.stopping = true;
    wakeUp(s.wake);
    if (m_thread.joinable())
        m_thread.join();
    for (Offer* offer : s.types.keys())
        zwlr_data_control_offer_v1_destroy(offer);
    for (zwlr_data_control_source_v1* source : s.sources) {
        delete static_cast<Source*>(zwlr_data_control_source_v1_get_user_data(source));
        zwlr_data_control_source_v1_destroy(source);
    }
    if (s.device)
        zwlr_data_control_device_v1_destroy(s.device);
    if (s.manager)
        zwlr_data_control_manager_v1_destroy(s.manager);
    if (s.seat)
        wl_seat_destroy(s.seat);
    closeConnection(s.display, s.registry, s.wake);
    m_session.reset();
}

}  // namespace nimbrel::native
