#include "platform/linux/WaylandEvents.h"

#include <wayland-client.h>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace nimbrel::native {

bool waitAndDispatch(wl_display* display, int wake, int timeoutMs, int extraFd, bool* extraReady)
{
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd fds[3] = {{wl_display_get_fd(display), POLLIN, 0}, {wake, POLLIN, 0}, {extraFd, POLLIN, 0}};
    const int ready = ::poll(fds, extraFd >= 0 ? 3 : 2, timeoutMs);
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
    }
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        (void)!::read(wake, &count, sizeof count);
    }
    if (extraReady)
        *extraReady = extraFd >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR));
    return wl_display_dispatch_pending(display) >= 0;
}

void wakeUp(int wake)
{
    if (wake < 0)
        return;
    const uint64_t one = 1;
    (void)!::write(wake, &one, sizeof one);
}

wl_registry* listGlobals(wl_display* display, const wl_registry_listener& listener, void* data)
{
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, data);
    wl_display_roundtrip(display);
    return registry;
}

void closeConnection(wl_display* display, wl_registry* registry, int wake)
{
    if (registry)
        wl_registry_destroy(registry);
    if (display)
        wl_display_disconnect(display);
    if (wake >= 0)
        ::close(wake);
}

}  // namespace nimbrel::native
