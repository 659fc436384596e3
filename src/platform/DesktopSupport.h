#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

namespace nimbrel {

// What start-up learns about the desktop session before any platform service is made.
struct DesktopProbe {
    // XDG_SESSION_TYPE: "x11", "wayland", "tty" or empty.
    QString sessionType;
    // An X server (or XWayland) can be reached through DISPLAY.
    bool x11Display = false;
    // A Wayland compositor can be reached through WAYLAND_DISPLAY.
    bool waylandDisplay = false;
    // XDG_CURRENT_DESKTOP, split at ':' ("KDE", "GNOME", "sway", "Hyprland").
    QStringList desktops;
    // The compositor's globals: interface name → version.
    QMap<QString, quint32> globals;
    // The session bus names that matter here (the global-shortcut daemon, the portal).
    QSet<QString> busNames;
    // Versions of the portal interfaces; 0 where the portal lacks them.
    quint32 remoteDesktopPortal = 0;
    quint32 globalShortcutsPortal = 0;
    // sway's IPC socket (SWAYSOCK) can be reached.
    bool swayIpc = false;
};

enum class CaptureService { x11, wlrDataControl, none };
enum class SourceAppService { x11, foreignToplevel, none };
enum class PasteService { xtest, virtualKeyboard, remoteDesktopPortal, none };
enum class ShortcutService { x11Grab, kglobalaccel, globalShortcutsPortal, swayIpc, gnomeCustomKeybinding, none };
enum class PanelService { x11, layerShell, ordinaryWindow };

// What the user goes without, or must do differently, on a desktop.
enum class Limit {
    noDisplay,
    noCapture,
    noSourceApp,
    noPaste,
    pasteAsksPermission,
    noShortcut,
    shortcutIsSwayBinding,
    shortcutIsGnomeBinding,
    panelIsOrdinaryWindow,
};

// The platform services Nimbrel runs with, chosen once at start-up, and what the user goes without.
struct DesktopServices {
    // The process talks X11 (a Wayland session without clipboard control runs it under XWayland).
    bool x11 = false;
    CaptureService capture = CaptureService::none;
    SourceAppService sourceApp = SourceAppService::none;
    PasteService paste = PasteService::none;
    ShortcutService shortcut = ShortcutService::none;
    PanelService panel = PanelService::ordinaryWindow;
    QList<Limit> degraded;

    bool operator==(const DesktopServices&) const = default;
};

// The same probe always gives the same choice; the tests cover the desktops people run.
DesktopServices chooseDesktopServices(const DesktopProbe& probe);

// The names of the services, for `nimbrel --diagnose` and the settings window ("Wayland data control (wlr)").
QString serviceName(CaptureService service);
QString serviceName(SourceAppService service);
QString serviceName(PasteService service);
QString serviceName(ShortcutService service);
QString serviceName(PanelService service);

// One sentence, in words a user understands (English: the command line's language).
QString limitText(Limit limit);

// What `nimbrel --diagnose` prints: the session, each service chosen, then each degradation.
QStringList describeDesktopServices(const DesktopProbe& probe, const DesktopServices& services);

}  // namespace nimbrel
