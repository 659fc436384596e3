#pragma once

struct wl_display;

namespace nimbrel::native {

// Waits up to `timeoutMs` (-1: no limit) for the compositor's events, the eventfd `wake` (drained) or
// `extraFd`, then runs the events that came, following libwayland's prepare/read protocol so that it
// never races another reader. `extraReady` tells whether `extraFd` can be read. False when the
// connection is gone.
bool waitAndDispatch(wl_display* display, int wake, int timeoutMs, int extraFd = -1, bool* extraReady = nullptr);

// Wakes a thread waiting in waitAndDispatch.
void wakeUp(int wake);

}  // namespace nimbrel::native
