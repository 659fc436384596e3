#include "platform/linux/X11ClipboardMonitor.h"
#include "platform/linux/X11Connection.h"

#include <QHash>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xfixes.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace nimbrel::native {

namespace {

using Clock = std::chrono::steady_clock;
using Status = ClipboardOffer::Status;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using EventPtr = std::unique_ptr<xcb_generic_event_t, FreeDeleter>;
template <typename T>
using ReplyPtr = std::unique_ptr<T, FreeDeleter>;

// The selection protocol's own targets: they are never contents.
const QStringList protocolTargets = {QStringLiteral("TARGETS"),        QStringLiteral("MULTIPLE"),
                                     QStringLiteral("TIMESTAMP"),      QStringLiteral("SAVE_TARGETS"),
                                     QStringLiteral("DELETE"),         QStringLiteral("INSERT_SELECTION"),
                                     QStringLiteral("INSERT_PROPERTY")};

// Properties are read 256 KiB at a time (GetProperty counts in 32-bit units), so the cap is checked
// before a large value is held in full.
constexpr uint32_t pieceUnits = 64 * 1024;
// No real list of types comes near this.
constexpr qint64 targetsCap = 1 << 20;

// The ids a connection gives its resources: base | (n & mask).
struct IdRange {
    uint32_t base = 0;
    uint32_t mask = 0;
    bool holds(uint32_t id) const { return mask != 0 && (id & ~mask) == base; }
};

IdRange idRange(xcb_connection_t* c)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    return {setup->resource_id_base, setup->resource_id_mask};
}

// One XFixes report that a selection changed hands.
struct Change {
    xcb_window_t owner = XCB_WINDOW_NONE;
    xcb_timestamp_t time = XCB_CURRENT_TIME;
    Clock::time_point seen;
    // The owner went away without handing the selection to anyone, and its change had been handed over.
    bool emptiedAfterHandOver = false;
};

// A primary selection is read once it has been left alone this long with no mouse button held, so a
// selection being dragged out is read once, not at every extension.
constexpr std::chrono::milliseconds primarySettle{300};
constexpr std::chrono::milliseconds buttonPoll{50};
constexpr uint16_t buttonsMask = XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3;
constexpr uint32_t ownerEvents = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                 XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                 XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE;

constexpr int indexOf(Selection selection)
{
    return selection == Selection::clipboard ? 0 : 1;
}

enum class Wake { ready, timedOut, stopped, lost };

uint8_t eventType(const xcb_generic_event_t* event)
{
    return event->response_type & 0x7f;
}

}  // namespace

// Everything the monitor's thread owns. Only that thread touches it once it runs, except `stopping` and the
// eventfd, which stop() uses to wake it.
class X11ClipboardMonitor::Loop {
public:
    class Offer;

    ~Loop()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
        if (c)
            xcb_disconnect(c);
    }

    std::optional<QString> open()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c))
            return QStringLiteral("the clipboard cannot be watched: no X11 display");
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
        // The version must be asked before any other XFixes request; selection events came with version 1.
        ReplyPtr<xcb_xfixes_query_version_reply_t> version(
            xfixes && xfixes->present
                ? xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, 0), nullptr)
                : nullptr);
        if (!version)
            return QStringLiteral("the clipboard cannot be watched: the X server has no XFixes extension");
        xfixesEvent = xfixes->first_event;
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0)
            return QStringLiteral("the clipboard cannot be watched: %1")
                .arg(QString::fromLocal8Bit(std::strerror(errno)));
        root = x11RootWindow(c);
        for (const char* name :
             {"CLIPBOARD", "TARGETS", "INCR", "NIMBREL_CLIPBOARD", "CLIPBOARD_MANAGER", "SAVE_TARGETS", "MANAGER"})
            atoms.insert(name, x11Atom(c, name));
        clipboard = atoms.value("CLIPBOARD");
        targets = atoms.value("TARGETS");
        incr = atoms.value("INCR");
        property = atoms.value("NIMBREL_CLIPBOARD");
        ownIds = idRange(c);
        becomeClipboardManager();
        // A new owner, and an owner gone (its window destroyed or its client closed): each replaces what
        // was there. The present contents bring no event, so they are never handed over.
        xcb_xfixes_select_selection_input(c, root, clipboard, ownerEvents);
        // A round trip, so that a change made once start() has returned is one the server reports.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        if (xcb_connection_has_error(c))
            return QStringLiteral("the clipboard cannot be watched: the X11 connection failed");
        return std::nullopt;
    }

    void run();

    // Takes the CLIPBOARD_MANAGER selection when no other clipboard manager holds it, so applications that
    // exit hand their clipboard over (SAVE_TARGETS) before they go, as the freedesktop convention asks. A
    // manager selection is taken with a real timestamp, got from a property change on the window.
    void becomeClipboardManager()
    {
        const xcb_atom_t selection = atoms.value("CLIPBOARD_MANAGER");
        const ReplyPtr<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
        if (!owner || owner->owner != XCB_WINDOW_NONE)
            return;
        const xcb_window_t window = newWindow();
        xcb_change_property(c, XCB_PROP_MODE_APPEND, window, property, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(c);
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        while (xcb_generic_event_t* raw = xcb_wait_for_event(c)) {
            EventPtr event(raw);
            if (eventType(raw) == XCB_PROPERTY_NOTIFY &&
                reinterpret_cast<const xcb_property_notify_event_t*>(raw)->window == window) {
                time = reinterpret_cast<const xcb_property_notify_event_t*>(raw)->time;
                break;
            }
        }
        xcb_set_selection_owner(c, window, selection, time);
        const ReplyPtr<xcb_get_selection_owner_reply_t> now(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
        if (!now || now->owner != window) {
            xcb_destroy_window(c, window);
            return;
        }
        managerWindow = window;
        xcb_client_message_event_t announce{};
        announce.response_type = XCB_CLIENT_MESSAGE;
        announce.format = 32;
        announce.window = root;
        announce.type = atoms.value("MANAGER");
        announce.data.data32[0] = time;
        announce.data.data32[1] = selection;
        announce.data.data32[2] = window;
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&announce));
    }

    void answer(const xcb_selection_request_event_t& request, bool success)
    {
        xcb_selection_notify_event_t answer{};
        answer.response_type = XCB_SELECTION_NOTIFY;
        answer.time = request.time;
        answer.requestor = request.requestor;
        answer.selection = request.selection;
        answer.target = request.target;
        // A requestor of the oldest kind names no property and means the target's name.
        answer.property = !success                            ? xcb_atom_t(XCB_ATOM_NONE)
                          : request.property != XCB_ATOM_NONE ? request.property
                                                              : request.target;
        xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&answer));
    }

    // What is asked of the manager selection: its targets at once; a SAVE_TARGETS once the clipboard change
    // the application made has been read (run() answers it); anything else is refused.
    void answerManagerRequest(const xcb_selection_request_event_t& request)
    {
        if (request.owner != managerWindow || request.selection != atoms.value("CLIPBOARD_MANAGER")) {
            answer(request, false);
        } else if (request.target == atoms.value("SAVE_TARGETS")) {
            saveRequests.push_back(request);
        } else if (request.target == targets && request.property != XCB_ATOM_NONE) {
            const xcb_atom_t offered[] = {targets, atoms.value("SAVE_TARGETS")};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, XCB_ATOM_ATOM, 32, 2,
                                offered);
            answer(request, true);
        } else {
            answer(request, false);
        }
    }

    // Watches the primary selection, or stops, as asked from the UI thread.
    void applyPrimaryWatch()
    {
        const bool wanted = wantPrimary.load();
        if (wanted == primaryWatched)
            return;
        xcb_xfixes_select_selection_input(c, root, XCB_ATOM_PRIMARY, wanted ? ownerEvents : 0);
        primaryWatched = wanted;
        if (!wanted)
            primaryNewest.reset();
    }

    bool buttonHeld()
    {
        const ReplyPtr<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr));
        return pointer && (pointer->mask & buttonsMask) != 0;
    }

    // Takes in what the server has sent: a clipboard change becomes the newest (the ones before it are
    // gone with their owners), the events of transfers are kept for the reads that wait on them.
    void drain()
    {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            EventPtr event(raw);
            const uint8_t type = eventType(raw);
            if (type == xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(raw);
                Change change{notify->owner, notify->selection_timestamp, Clock::now()};
                if (notify->selection == clipboard) {
                    // Gone: the owner's window or connection closed. An owner that clears the clipboard on
                    // purpose sets no owner, and that is respected.
                    if (notify->owner == XCB_WINDOW_NONE &&
                        notify->subtype != XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER)
                        change.emptiedAfterHandOver =
                            handed && handed->owner == lastOwner.owner && handed->time == lastOwner.time;
                    else
                        lastOwner = change;
                    newest = change;
                    ++changes[indexOf(Selection::clipboard)];
                } else if (notify->selection == XCB_ATOM_PRIMARY && primaryWatched) {
                    if (notify->owner == XCB_WINDOW_NONE)
                        primaryNewest.reset();
                    else
                        primaryNewest = change;
                    primaryQuietUntil = change.seen + primarySettle;
                    ++changes[indexOf(Selection::primary)];
                }
            } else if (type == XCB_SELECTION_NOTIFY || type == XCB_PROPERTY_NOTIFY) {
                events.push_back(std::move(event));
            } else if (type == XCB_SELECTION_REQUEST) {
                answerManagerRequest(*reinterpret_cast<const xcb_selection_request_event_t*>(raw));
            } else if (type == XCB_SELECTION_CLEAR &&
                       reinterpret_cast<const xcb_selection_clear_event_t*>(raw)->owner == managerWindow) {
                // Another manager took over; it answers the applications from now on.
                managerWindow = XCB_WINDOW_NONE;
                saveRequests.clear();
            }
            // X errors need no handling here: they can only come from a window or owner gone meanwhile, and
            // the read concerned finds its data missing or runs into the deadline.
        }
    }

    // Sleeps until the server sends something, stop() is called, or `until` passes.
    Wake sleep(Clock::time_point until)
    {
        for (;;) {
            if (stopping.load())
                return Wake::stopped;
            if (xcb_connection_has_error(c))
                return Wake::lost;
            int timeout = -1;
            if (until != Clock::time_point::max()) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
                if (left <= 0)
                    return Wake::timedOut;
                timeout = static_cast<int>(std::min<long long>(left, INT_MAX));
            }
            pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int n = ::poll(fds, 2, timeout);
            if (n < 0 && errno != EINTR)
                return Wake::lost;
            if (fds[1].revents) {
                // Woken to stop, or to watch the primary selection or not.
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
                if (stopping.load())
                    return Wake::stopped;
                return Wake::ready;
            }
            if (n > 0)
                return Wake::ready;
        }
    }

    xcb_window_t newWindow()
    {
        const xcb_window_t window = xcb_generate_id(c);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        return window;
    }

    xcb_connection_t* c = nullptr;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    xcb_window_t root = XCB_WINDOW_NONE;
    uint8_t xfixesEvent = 0;
    xcb_atom_t clipboard = XCB_ATOM_NONE;
    xcb_atom_t targets = XCB_ATOM_NONE;
    xcb_atom_t incr = XCB_ATOM_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    // Atoms are interned once per name, and named once per atom, for the life of the connection.
    QHash<QByteArray, xcb_atom_t> atoms;
    QHash<xcb_atom_t, QString> names;
    IdRange qtIds;
    IdRange ownIds;
    Handler handler;
    EmptiedHandler emptied;
    std::chrono::milliseconds deadline{0};
    LostHandler onLost;
    std::atomic<bool> wantPrimary{false};
    bool primaryWatched = false;
    xcb_window_t managerWindow = XCB_WINDOW_NONE;
    std::vector<xcb_selection_request_event_t> saveRequests;

    std::optional<Change> newest;
    std::optional<Change> primaryNewest;
    Clock::time_point primaryQuietUntil;
    // The clipboard's last owner, and the last clipboard change handed to the handler.
    Change lastOwner;
    std::optional<Change> handed;
    // Counts the changes seen per selection, so a read learns that a newer one came while it waited.
    quint64 changes[2] = {0, 0};
    std::deque<EventPtr> events;
};

class X11ClipboardMonitor::Loop::Offer final : public ClipboardOffer {
public:
    Offer(Loop& loop, const Change& change, Selection selection)
        : m_loop(loop),
          m_c(loop.c),
          m_change(change),
          m_selection(selection),
          m_atom(selection == Selection::clipboard ? loop.clipboard : xcb_atom_t(XCB_ATOM_PRIMARY)),
          m_deadline(change.seen + loop.deadline),
          m_generation(loop.changes[indexOf(selection)]),
          m_window(loop.newWindow())
    {
    }

    // Nothing written to this window after the change is over can reach a later change's reads.
    ~Offer() override
    {
        xcb_destroy_window(m_c, m_window);
        xcb_flush(m_c);
    }

    TypeList types() override
    {
        if (ended())
            return {*m_ended, {}};
        if (m_types)
            return *m_types;
        TypeList list;
        const Fetched fetched = fetch(m_loop.targets, targetsCap);
        list.status = fetched.status;
        if (fetched.status == Status::ok && fetched.format != 32)
            list.status = Status::missing;
        if (list.status == Status::ok) {
            std::vector<xcb_atom_t> offered(static_cast<size_t>(fetched.bytes.size()) / 4);
            std::memcpy(offered.data(), fetched.bytes.constData(), offered.size() * 4);
            if (const auto failed = name(offered))
                return {*failed, {}};
            for (const xcb_atom_t atom : offered) {
                const QString type = m_loop.names.value(atom);
                if (!type.isEmpty() && !protocolTargets.contains(type) && !list.types.contains(type))
                    list.types.append(type);
            }
        }
        m_types = list;
        return list;
    }

    bool isOwnContent() const override
    {
        return m_loop.qtIds.holds(m_change.owner) || m_loop.ownIds.holds(m_change.owner);
    }

    Selection selection() const override { return m_selection; }

    Read read(const QString& type, qint64 cap) override
    {
        if (ended())
            return {*m_ended, {}};
        const auto target = intern(type.toLatin1());
        if (!target)
            return {m_ended.value_or(Status::missing), {}};
        Fetched fetched = fetch(*target, cap);
        return {fetched.status, std::move(fetched.bytes)};
    }

private:
    struct Fetched {
        Status status = Status::missing;
        QByteArray bytes;
        uint8_t format = 0;
    };

    // What ends every read of this change early: a newer change, or watching stopped.
    std::optional<Status> ended()
    {
        if (!m_ended && (m_loop.changes[indexOf(m_selection)] != m_generation || m_loop.stopping.load()))
            m_ended = Status::superseded;
        return m_ended;
    }

    // Waits for the server; false (with the change ended) at the deadline or when watching ends.
    bool pause()
    {
        switch (m_loop.sleep(m_deadline)) {
            case Wake::ready:
                return true;
            case Wake::timedOut:
                m_ended = Status::timedOut;
                return false;
            case Wake::stopped:
            case Wake::lost:
                m_ended = Status::superseded;
                return false;
        }
        return false;
    }

    // The first event `match` accepts; the events before it belong to steps already done and are dropped.
    // Null when the change ended first.
    template <typename Match>
    EventPtr awaitEvent(Match match)
    {
        for (;;) {
            xcb_flush(m_c);
            m_loop.drain();
            if (ended())
                return nullptr;
            auto& events = m_loop.events;
            const auto found =
                std::find_if(events.begin(), events.end(), [&](const EventPtr& e) { return match(e.get()); });
            if (found != events.end()) {
                EventPtr event = std::move(*found);
                events.erase(events.begin(), found + 1);
                return event;
            }
            if (!pause())
                return nullptr;
        }
    }

    // The reply to a request; null when the change ended first (m_ended says how) or on an X error.
    template <typename Reply>
    ReplyPtr<Reply> awaitReply(unsigned int sequence)
    {
        for (;;) {
            xcb_flush(m_c);
            m_loop.drain();
            if (ended())
                break;
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (xcb_poll_for_reply(m_c, sequence, &reply, &error)) {
                std::free(error);
                if (!reply && xcb_connection_has_error(m_c))
                    m_ended = Status::superseded;
                return ReplyPtr<Reply>(static_cast<Reply*>(reply));
            }
            if (!pause())
                break;
        }
        xcb_discard_reply(m_c, sequence);
        return nullptr;
    }

    std::optional<xcb_atom_t> intern(const QByteArray& name)
    {
        if (const auto known = m_loop.atoms.constFind(name); known != m_loop.atoms.constEnd())
            return *known;
        const auto reply = awaitReply<xcb_intern_atom_reply_t>(
            xcb_intern_atom(m_c, 0, static_cast<uint16_t>(name.size()), name.constData()).sequence);
        if (!reply)
            return std::nullopt;
        m_loop.atoms.insert(name, reply->atom);
        m_loop.names.insert(reply->atom, QString::fromLatin1(name));
        return reply->atom;
    }

    // Learns the names of the atoms not known yet, asking for all of them at once. An atom the server does
    // not know stays unnamed.
    std::optional<Status> name(const std::vector<xcb_atom_t>& atoms)
    {
        std::vector<std::pair<xcb_atom_t, unsigned int>> asked;
        for (const xcb_atom_t atom : atoms) {
            if (atom == XCB_ATOM_NONE || m_loop.names.contains(atom) ||
                std::any_of(asked.begin(), asked.end(), [atom](const auto& a) { return a.first == atom; }))
                continue;
            asked.emplace_back(atom, xcb_get_atom_name(m_c, atom).sequence);
        }
        for (size_t i = 0; i < asked.size(); ++i) {
            const auto reply = awaitReply<xcb_get_atom_name_reply_t>(asked[i].second);
            if (m_ended) {
                for (size_t j = i + 1; j < asked.size(); ++j)
                    xcb_discard_reply(m_c, asked[j].second);
                return m_ended;
            }
            if (!reply)
                continue;
            const QByteArray text(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
            m_loop.names.insert(asked[i].first, QString::fromLatin1(text));
            m_loop.atoms.insert(text, asked[i].first);
        }
        return std::nullopt;
    }

    // Asks the owner for `target` and reads the answer, at most `cap` bytes of it.
    Fetched fetch(xcb_atom_t target, qint64 cap)
    {
        // The owner is asked as of the moment it took the clipboard, as the protocol wants.
        xcb_convert_selection(m_c, m_window, m_atom, target, m_loop.property, m_change.time);
        const EventPtr event = awaitEvent([&](const xcb_generic_event_t* e) {
            if (eventType(e) != XCB_SELECTION_NOTIFY)
                return false;
            const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(e);
            return notify->requestor == m_window && notify->selection == m_atom && notify->target == target;
        });
        if (!event)
            return {*m_ended};
        const xcb_atom_t property = reinterpret_cast<const xcb_selection_notify_event_t*>(event.get())->property;
        if (property == XCB_ATOM_NONE)
            return {Status::missing};

        Fetched fetched;
        xcb_atom_t type = XCB_ATOM_NONE;
        fetched.status = take(property, cap, fetched.bytes, type, fetched.format);
        if (fetched.status == Status::ok && type == m_loop.incr) {
            // The owner's size is a lower bound of the whole: past the cap the transfer is not started.
            quint32 atLeast = 0;
            std::memcpy(&atLeast, fetched.bytes.constData(), std::min<size_t>(4, fetched.bytes.size()));
            fetched.bytes.clear();
            fetched.status =
                atLeast > cap ? Status::tooLarge : takeIncrementally(property, cap, fetched.bytes, fetched.format);
        }
        if (fetched.status == Status::tooLarge && type == m_loop.incr) {
            // The owner may go on writing chunks to this window: the reads after this one use a new one.
            xcb_destroy_window(m_c, m_window);
            m_window = m_loop.newWindow();
        }
        if (fetched.status != Status::ok)
            fetched.bytes.clear();
        return fetched;
    }

    // Reads `property` off the requestor window in pieces, adding it to `into`; the last piece deletes it.
    // tooLarge as soon as `into` would pass `cap`.
    Status take(xcb_atom_t property, qint64 cap, QByteArray& into, xcb_atom_t& type, uint8_t& format)
    {
        for (uint32_t offset = 0;;) {
            const auto reply = awaitReply<xcb_get_property_reply_t>(
                xcb_get_property(m_c, 1, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, offset, pieceUnits).sequence);
            if (!reply)
                return m_ended.value_or(Status::missing);
            if (reply->type == XCB_ATOM_NONE)
                return Status::missing;
            type = reply->type;
            format = reply->format;
            const int length = xcb_get_property_value_length(reply.get());
            if (into.size() + length + static_cast<qint64>(reply->bytes_after) > cap) {
                xcb_delete_property(m_c, m_window, property);
                return Status::tooLarge;
            }
            into.append(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
            if (reply->bytes_after == 0)
                return Status::ok;
            offset += static_cast<uint32_t>(length) / 4;
        }
    }

    // The INCR transfer, started by deleting the INCR property (reading it did): each chunk is announced by a
    // new value of the property and read with deletion, which asks for the next; an empty chunk ends it.
    Status takeIncrementally(xcb_atom_t property, qint64 cap, QByteArray& into, uint8_t& format)
    {
        for (;;) {
            const EventPtr event = awaitEvent([&](const xcb_generic_event_t* e) {
                if (eventType(e) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                return notify->window == m_window && notify->atom == property &&
                       notify->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!event)
                return *m_ended;
            const qsizetype before = into.size();
            xcb_atom_t type = XCB_ATOM_NONE;
            const Status status = take(property, cap, into, type, format);
            // Missing: the notice of a chunk the owner appended to, already read whole with the one before.
            if (status == Status::missing)
                continue;
            if (status != Status::ok || into.size() == before)
                return status;
        }
    }

    Loop& m_loop;
    xcb_connection_t* m_c;
    const Change m_change;
    const Selection m_selection;
    const xcb_atom_t m_atom;
    const Clock::time_point m_deadline;
    const quint64 m_generation;
    xcb_window_t m_window;
    std::optional<Status> m_ended;
    std::optional<TypeList> m_types;
};

void X11ClipboardMonitor::Loop::run()
{
    for (;;) {
        xcb_flush(c);
        drain();
        if (stopping.load())
            return;
        if (xcb_connection_has_error(c)) {
            if (onLost)
                onLost(QStringLiteral("the clipboard is no longer watched: the X11 connection was lost"));
            return;
        }
        applyPrimaryWatch();
        // Whatever the reads of earlier changes left behind is of no use any more.
        events.clear();
        if (const std::optional<Change> change = std::exchange(newest, std::nullopt)) {
            // An owner gone leaves nothing to read.
            if (change->owner != XCB_WINDOW_NONE) {
                handed = *change;
                Offer offer(*this, *change, Selection::clipboard);
                if (handler)
                    handler(offer);
            } else if (change->emptiedAfterHandOver && emptied) {
                emptied();
            }
            continue;
        }
        // The clipboard's contents have been read: the applications waiting to exit may go.
        for (const xcb_selection_request_event_t& request : std::exchange(saveRequests, {}))
            answer(request, true);

        Clock::time_point wakeAt = Clock::time_point::max();
        if (primaryNewest) {
            const Clock::time_point now = Clock::now();
            if (now < primaryQuietUntil) {
                wakeAt = primaryQuietUntil;
            } else if (buttonHeld()) {
                wakeAt = now + buttonPoll;
            } else {
                Change change = *std::exchange(primaryNewest, std::nullopt);
                change.seen = now;
                Offer offer(*this, change, Selection::primary);
                if (handler)
                    handler(offer);
                continue;
            }
        }
        // What was asked or answered since the last flush must reach the server before the loop waits.
        xcb_flush(c);
        if (sleep(wakeAt) == Wake::stopped)
            return;
    }
}

X11ClipboardMonitor::X11ClipboardMonitor(LostHandler onLost) : m_onLost(std::move(onLost))
{
}

X11ClipboardMonitor::~X11ClipboardMonitor()
{
    stop();
}

std::optional<QString> X11ClipboardMonitor::start(Handler handler, int deadlineMs)
{
    stop();
    auto loop = std::make_unique<Loop>();
    if (auto error = loop->open())
        return error;
    // Qt's connection belongs to the UI thread: its id range is taken here, once, and never asked again.
    if (xcb_connection_t* qt = x11Connection())
        loop->qtIds = idRange(qt);
    loop->handler = std::move(handler);
    loop->emptied = m_emptied;
    loop->wantPrimary = m_watchPrimary;
    loop->deadline = std::chrono::milliseconds(std::max(deadlineMs, 0));
    loop->onLost = m_onLost;
    m_loop = std::move(loop);
    m_thread = std::thread([loop = m_loop.get()] { loop->run(); });
    return std::nullopt;
}

void X11ClipboardMonitor::setEmptiedHandler(EmptiedHandler handler)
{
    m_emptied = std::move(handler);
}

void X11ClipboardMonitor::watchPrimary(bool on)
{
    m_watchPrimary = on;
    if (!m_loop)
        return;
    m_loop->wantPrimary.store(on);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_loop->wakeFd, &one, sizeof one);
}

void X11ClipboardMonitor::stop()
{
    if (!m_loop)
        return;
    m_loop->stopping.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_loop->wakeFd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    m_loop.reset();
}

}  // namespace nimbrel::native
