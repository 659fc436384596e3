// Test helper: a plain xcb owner of the X11 clipboard that answers the way a healthy, a slow or a hung
// application does. Usage: nimbrel-owner [--seconds N] MODE [TYPE=FILE …], where MODE is
//   serve         answers TARGETS and every type; a value larger than one request can carry goes INCR
//   frozen        takes the clipboard and never answers
//   targets-only  answers TARGETS (and TIMESTAMP), never the data
//   slow:MS       answers every request MS milliseconds late
// Prints "ready" once it owns CLIPBOARD; exits when another client takes it, or after N seconds (60).

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

xcb_connection_t* c = nullptr;

xcb_atom_t atom(const std::string& name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

struct Offered {
    xcb_atom_t type;
    std::string data;
};

// An INCR transfer under way: the next chunk goes out each time the requestor deletes the property.
struct Transfer {
    xcb_window_t requestor;
    xcb_atom_t property;
    xcb_atom_t type;
    const std::string* data;
    size_t sent;
};

void notify(const xcb_selection_request_event_t& request, xcb_atom_t property)
{
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
}

int usage()
{
    std::fputs("usage: nimbrel-owner [--seconds N] serve|frozen|targets-only|slow:MS [TYPE=FILE ...]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int seconds = 60;
    if (args.size() >= 2 && args[0] == "--seconds") {
        seconds = std::atoi(args[1].c_str());
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return usage();
    const std::string mode = args[0];
    int delayMs = 0;
    if (mode.rfind("slow:", 0) == 0)
        delayMs = std::atoi(mode.c_str() + 5);
    else if (mode != "serve" && mode != "frozen" && mode != "targets-only")
        return usage();

    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fputs("nimbrel-owner: no X11 display\n", stderr);
        return 1;
    }
    std::vector<Offered> offered;
    for (size_t i = 1; i < args.size(); ++i) {
        const size_t eq = args[i].find('=');
        std::ifstream file(eq == std::string::npos ? std::string() : args[i].substr(eq + 1), std::ios::binary);
        if (eq == 0 || eq == std::string::npos || !file)
            return usage();
        offered.push_back({atom(args[i].substr(0, eq)), std::string(std::istreambuf_iterator<char>(file), {})});
    }
    const xcb_atom_t clipboard = atom("CLIPBOARD");
    const xcb_atom_t targets = atom("TARGETS");
    const xcb_atom_t timestamp = atom("TIMESTAMP");
    const xcb_atom_t incr = atom("INCR");
    // What one core request can carry (BIG-REQUESTS aside): anything larger goes in chunks.
    const size_t oneRequest = xcb_get_setup(c)->maximum_request_length * 4u - 64;
    const size_t chunk = 64 * 1024;

    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    // The clipboard is taken at a real server time (an empty append to the own window tells it), which
    // TIMESTAMP reports and requests are compared with.
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c);
    xcb_timestamp_t ownedAt = XCB_CURRENT_TIME;
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const bool stamp = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
        if (stamp)
            ownedAt = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
        std::free(event);
        if (stamp)
            break;
    }
    xcb_set_selection_owner(c, window, clipboard, ownedAt);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
    const bool owns = owner && owner->owner == window;
    std::free(owner);
    if (!owns) {
        std::fputs("nimbrel-owner: could not take the clipboard\n", stderr);
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);

    std::vector<Transfer> transfers;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        xcb_flush(c);
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            if (xcb_connection_has_error(c))
                return 0;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return 0;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
            continue;
        }
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) {
            std::free(event);
            return 0;
        }
        if (type == 0 && reinterpret_cast<xcb_generic_error_t*>(event)->error_code == XCB_WINDOW) {
            // A requestor gone in the middle of a transfer.
            const uint32_t gone = reinterpret_cast<xcb_generic_error_t*>(event)->resource_id;
            std::erase_if(transfers, [gone](const Transfer& t) { return t.requestor == gone; });
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
            for (auto t = transfers.begin(); t != transfers.end(); ++t) {
                if (change->state != XCB_PROPERTY_DELETE || change->window != t->requestor ||
                    change->atom != t->property)
                    continue;
                const size_t n = std::min(chunk, t->data->size() - t->sent);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, t->requestor, t->property, t->type, 8,
                                    static_cast<uint32_t>(n), t->data->data() + t->sent);
                t->sent += n;
                // The empty chunk ends the transfer.
                if (n == 0)
                    transfers.erase(t);
                break;
            }
        } else if (type == XCB_SELECTION_REQUEST && mode != "frozen") {
            const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
            if (delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            const xcb_atom_t property = request.property ? request.property : request.target;
            const Offered* value = nullptr;
            for (const Offered& o : offered)
                value = o.type == request.target ? &o : value;
            // A request made for an earlier owner of the clipboard is refused, as the protocol wants.
            if (request.time != XCB_CURRENT_TIME && request.time < ownedAt) {
                notify(request, XCB_ATOM_NONE);
            } else if (request.target == targets) {
                std::vector<xcb_atom_t> list = {targets, timestamp};
                for (const Offered& o : offered)
                    list.push_back(o.type);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                                    static_cast<uint32_t>(list.size()), list.data());
                notify(request, property);
            } else if (request.target == timestamp) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_INTEGER, 32, 1,
                                    &ownedAt);
                notify(request, property);
            } else if (mode == "targets-only") {
                // Never answered.
            } else if (!value) {
                notify(request, XCB_ATOM_NONE);
            } else if (value->data.size() > oneRequest) {
                const uint32_t watch = XCB_EVENT_MASK_PROPERTY_CHANGE;
                xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &watch);
                // The size announced is only a lower bound, as the protocol allows: the requestor learns the
                // whole only as the chunks come.
                const uint32_t atLeast = static_cast<uint32_t>(chunk);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, incr, 32, 1, &atLeast);
                transfers.push_back({request.requestor, property, value->type, &value->data, 0});
                notify(request, property);
            } else {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, value->type, 8,
                                    static_cast<uint32_t>(value->data.size()), value->data.data());
                notify(request, property);
            }
        }
        std::free(event);
    }
}
