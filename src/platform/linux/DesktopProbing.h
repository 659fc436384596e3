#pragma once

#include "platform/DesktopSupport.h"

namespace nimbrel::native {

// The Wayland compositor's globals (interface → version), from one short-lived connection; empty when no
// compositor can be reached. `display` as WAYLAND_DISPLAY takes it (a name or a path); null: the default.
QMap<QString, quint32> waylandGlobals(const char* display = nullptr);

// Looks at the session: its environment, the X server and the Wayland compositor it can reach, and the
// session bus (global-shortcut daemon, portal versions). Well under a second; done once at start-up.
DesktopProbe probeDesktop();

}  // namespace nimbrel::native
