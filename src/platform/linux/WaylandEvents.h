#pragma once

struct wl_display;
struct wl_registry;
struct wl_registry_listener;

namespace nimbrel::native {

// Waits up to `timeoutMs` (-1: no limit) for the compositor's events, the eventfd `wake` (drained) or
// `extraFd`, then runs the events that came, following libwayland's prepare/read protocol so that it
// never races another reader. `extraReady` tells whether `extraFd` can be read. False when the
// connection is gone.
bool waitAndDispatch(wl_display* display, int wake, int timeoutMs, int extraFd = -1, bool* extraReady = nullptr);

// Wakes a thread waiting in waitAndDispatch.
void wakeUp(int wake);

// Asks the compositor for its globals and returns once each has been announced to `listener`.
wl_registry* listGlobals(wl_display* display, const wl_registry_listener& listener, void* data);
// Ends a connection of Nimbrel's own: its registry, the connection, and the eventfd that wakes its thread
// (any of them may be absent). The objects bound from the registry go first, by their owner.
void closeConnection(wl_display* display, wl_registry* registry, int wake = -1);

}  // namespace nimbrel::native
