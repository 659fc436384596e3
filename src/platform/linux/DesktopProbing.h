#pragma once

#include "platform/DesktopSupport.h"

namespace nimbrel::native {

// The Wayland compositor's globals (interface → version), from one short-lived connection; empty when no
// compositor can be reached. `display` as WAYLAND_DISPLAY takes it (a name or a path); null: the default.
QMap<QString, quint32> waylandGlobals(const char* display = nullptr);

// Looks at the session's environment and the X server and Wayland compositor it can reach: all that the
// choice of Qt's platform plugin needs, so it works before any Qt application exists.
DesktopProbe probeDisplays();
// Adds what the session bus tells (global-shortcut daemon, portal versions); needs a Qt application.
// At most a second or two, when the portal does not answer; done once at start-up.
void probeSessionBus(DesktopProbe& probe);

inline DesktopProbe probeDesktop()
{
    DesktopProbe probe = probeDisplays();
    probeSessionBus(probe);
    return probe;
}

}  // namespace nimbrel::native
