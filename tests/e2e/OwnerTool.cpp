// Test helper: nimbrel-owner serve|frozen|targets-only|slow:MS [TYPE=FILE …] owns the X11 clipboard with these
// representations together, as real applications offer them (xclip offers one), and answers every type (INCR
// beyond one request), never, only TARGETS and TIMESTAMP, or every request MS ms late.
// Prints "ready" once it owns CLIPBOARD, then "types" when a client asks which types it offers and "data TYPE"
// when one asks for a type's bytes; exits when another client takes the clipboard, or after a minute.

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

xcb_connection_t* c = nullptr;

xcb_atom_t atom(const std::string& name)
{
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.c_str()), nullptr);
    const xcb_atom_t value = reply->atom;
    return std::free(reply), value;
}

void say(const std::string& line)
{
    std::puts(line.c_str());
    std::fflush(stdout);
}

// Puts the value on the requestor's property (unless it is None) and tells it.
void answer(const xcb_selection_request_event_t& request, xcb_atom_t property, xcb_atom_t type = XCB_ATOM_NONE,
            uint8_t format = 8, uint32_t length = 0, const void* data = nullptr)
{
    if (property != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, type, format, length, data);
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string mode = args.empty() ? std::string() : args[0];
    const int delayMs = mode.rfind("slow:", 0) == 0 ? std::atoi(mode.c_str() + 5) : 0;
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return std::fputs("nimbrel-owner: no X11 display\n", stderr), 1;
    struct Offered {
        std::string name;
        xcb_atom_t type;
        std::string data;
    };
    std::vector<Offered> offered;
    for (size_t i = 1, eq; i < args.size() && (eq = args[i].find('=')) != std::string::npos; ++i) {
        std::ifstream file(args[i].substr(eq + 1), std::ios::binary);
        const std::string name = args[i].substr(0, eq);
        offered.push_back({name, atom(name), std::string(std::istreambuf_iterator<char>(file), {})});
    }
    const xcb_atom_t clipboard = atom("CLIPBOARD"), targets = atom("TARGETS"), timestamp = atom("TIMESTAMP"),
                     incr = atom("INCR");
    // What one core request can carry (BIG-REQUESTS aside): anything larger goes in chunks.
    const size_t oneRequest = xcb_get_setup(c)->maximum_request_length * 4u - 64, chunk = 64 * 1024;

    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t propertyChanges = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 1,
                      1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &propertyChanges);
    // The clipboard is taken at a real server time (an empty append to the own window tells it), which
    // TIMESTAMP reports and requests are compared with.
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c);
    xcb_timestamp_t ownedAt = XCB_CURRENT_TIME;
    while (ownedAt == XCB_CURRENT_TIME) {
        xcb_generic_event_t* event = xcb_wait_for_event(c);
        if (!event)
            return 1;
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
            ownedAt = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
        std::free(event);
    }
    xcb_set_selection_owner(c, window, clipboard, ownedAt);
    std::free(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));  // a round trip
    say("ready");

    // INCR transfers under way: the next chunk goes out each time the requestor deletes the property.
    struct Transfer {
        xcb_window_t requestor;
        xcb_atom_t property;
        const Offered* value;
        size_t sent;
    };
    std::vector<Transfer> transfers;
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (;;) {
        xcb_flush(c);
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (xcb_connection_has_error(c) || left.count() <= 0)
                return 0;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&fd, 1, int(left.count()));
            continue;
        }
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR)
            return 0;
        const auto* error = reinterpret_cast<xcb_generic_error_t*>(event);
        const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
        const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
        const xcb_atom_t property = request.property ? request.property : request.target;
        const Offered* value = nullptr;
        for (const Offered& o : offered)
            value = o.type == request.target ? &o : value;
        if (type == 0 && error->error_code == XCB_WINDOW) {
            // A requestor gone in the middle of a transfer.
            std::erase_if(transfers, [&](const Transfer& t) { return t.requestor == error->resource_id; });
        } else if (type == XCB_PROPERTY_NOTIFY && change->state == XCB_PROPERTY_DELETE) {
            const auto t = std::find_if(transfers.begin(), transfers.end(), [&](const Transfer& t) {
                return change->window == t.requestor && change->atom == t.property;
            });
            if (t != transfers.end()) {
                const size_t n = std::min(chunk, t->value->data.size() - t->sent);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, t->requestor, t->property, t->value->type, 8, uint32_t(n),
                                    t->value->data.data() + t->sent);
                t->sent += n;
                if (n == 0)  // the empty chunk ends the transfer
                    transfers.erase(t);
            }
        } else if (type != XCB_SELECTION_REQUEST || mode == "frozen") {
        } else if (std::this_thread::sleep_for(std::chrono::milliseconds(delayMs)); request.target == targets) {
            say("types");
            std::vector<xcb_atom_t> list = {targets, timestamp};
            for (const Offered& o : offered)
                list.push_back(o.type);
            answer(request, property, XCB_ATOM_ATOM, 32, uint32_t(list.size()), list.data());
        } else if (request.target == timestamp) {
            answer(request, property, XCB_ATOM_INTEGER, 32, 1, &ownedAt);
        } else if (mode == "targets-only") {
        } else if (!value) {
            answer(request, XCB_ATOM_NONE);
        } else if (say("data " + value->name); value->data.size() > oneRequest) {
            xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &propertyChanges);
            // The size announced is only a lower bound, as the protocol allows: the requestor learns the whole
            // only as the chunks come.
            const auto atLeast = uint32_t(chunk);
            answer(request, property, incr, 32, 1, &atLeast);
            transfers.push_back({request.requestor, property, value, 0});
        } else {
            answer(request, property, value->type, 8, uint32_t(value->data.size()), value->data.data());
        }
        std::free(event);
    }
}
