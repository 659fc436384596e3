#include "platform/DesktopSupport.h"

namespace nimbrel {

namespace {

bool has(const DesktopProbe& probe, const char* interface)
{
    return probe.globals.contains(QLatin1String(interface));
}

bool isDesktop(const DesktopProbe& probe, const char* name)
{
    return probe.desktops.contains(QLatin1String(name), Qt::CaseInsensitive);
}

bool isWaylandSession(const DesktopProbe& probe)
{
    if (probe.sessionType == QLatin1String("wayland"))
        return probe.waylandDisplay;
    // A session manager that sets no type: a reachable compositor and no X server of its own.
    return probe.sessionType.isEmpty() && probe.waylandDisplay;
}

ShortcutService waylandShortcut(const DesktopProbe& probe)
{
    if (isDesktop(probe, "KDE") && probe.busNames.contains(QStringLiteral("org.kde.kglobalaccel")))
        return ShortcutService::kglobalaccel;
    if (probe.globalShortcutsPortal > 0)
        return ShortcutService::globalShortcutsPortal;
    if (isDesktop(probe, "sway") && probe.swayIpc)
        return ShortcutService::swayIpc;
    if (isDesktop(probe, "GNOME"))
        return ShortcutService::gnomeCustomKeybinding;
    return ShortcutService::none;
}

}  // namespace

DesktopServices chooseDesktopServices(const DesktopProbe& probe)
{
    DesktopServices chosen;
    if (!isWaylandSession(probe)) {
        if (!probe.x11Display) {
            chosen.degraded.append(Limit::noDisplay);
            return chosen;
        }
        chosen.x11 = true;
        chosen.capture = CaptureService::x11;
        chosen.sourceApp = SourceAppService::x11;
        chosen.paste = PasteService::xtest;
        chosen.shortcut = ShortcutService::x11Grab;
        chosen.panel = PanelService::x11;
        return chosen;
    }

    // The newer ext_data_control (KDE Plasma 6.5 offers only that one) is not in Debian 12's protocols and
    // has no compositor here to be tested against: such a desktop is treated as one without clipboard control.
    if (has(probe, "zwlr_data_control_manager_v1"))
        chosen.capture = CaptureService::wlrDataControl;
    else if (probe.x11Display) {
        // No clipboard control for Wayland clients (GNOME): an X11 client under XWayland still sees every
        // change, so Nimbrel runs as one. Its X11 view of windows and keys covers only other X11 clients.
        chosen.x11 = true;
        chosen.capture = CaptureService::x11;
    }

    if (chosen.x11)
        chosen.sourceApp = SourceAppService::none;
    else if (has(probe, "zwlr_foreign_toplevel_manager_v1"))
        chosen.sourceApp = SourceAppService::foreignToplevel;

    if (!chosen.x11 && has(probe, "zwp_virtual_keyboard_manager_v1"))
        chosen.paste = PasteService::virtualKeyboard;
    else if (probe.remoteDesktopPortal > 0)
        chosen.paste = PasteService::remoteDesktopPortal;

    chosen.shortcut = waylandShortcut(probe);
    chosen.panel =
        !chosen.x11 && has(probe, "zwlr_layer_shell_v1") ? PanelService::layerShell : PanelService::ordinaryWindow;

    if (chosen.capture == CaptureService::none)
        chosen.degraded.append(Limit::noCapture);
    if (chosen.sourceApp == SourceAppService::none)
        chosen.degraded.append(Limit::noSourceApp);
    if (chosen.paste == PasteService::none)
        chosen.degraded.append(Limit::noPaste);
    else if (chosen.paste == PasteService::remoteDesktopPortal)
        chosen.degraded.append(Limit::pasteAsksPermission);
    if (chosen.shortcut == ShortcutService::none)
        chosen.degraded.append(Limit::noShortcut);
    else if (chosen.shortcut == ShortcutService::swayIpc)
        chosen.degraded.append(Limit::shortcutIsSwayBinding);
    else if (chosen.shortcut == ShortcutService::gnomeCustomKeybinding)
        chosen.degraded.append(Limit::shortcutIsGnomeBinding);
    if (chosen.panel == PanelService::ordinaryWindow)
        chosen.degraded.append(Limit::panelIsOrdinaryWindow);
    return chosen;
}

QString serviceName(CaptureService service)
{
    switch (service) {
        case CaptureService::x11:
            return QStringLiteral("X11 selections (XFixes)");
        case CaptureService::wlrDataControl:
            return QStringLiteral("Wayland data control (wlr)");
        case CaptureService::none:
            break;
    }
    return QStringLiteral("none");
}

QString serviceName(SourceAppService service)
{
    switch (service) {
        case SourceAppService::x11:
            return QStringLiteral("X11 active window");
        case SourceAppService::foreignToplevel:
            return QStringLiteral("Wayland foreign toplevels (wlr)");
        case SourceAppService::none:
            break;
    }
    return QStringLiteral("none");
}

QString serviceName(PasteService service)
{
    switch (service) {
        case PasteService::xtest:
            return QStringLiteral("X11 XTest");
        case PasteService::virtualKeyboard:
            return QStringLiteral("Wayland virtual keyboard");
        case PasteService::remoteDesktopPortal:
            return QStringLiteral("RemoteDesktop portal");
        case PasteService::none:
            break;
    }
    return QStringLiteral("none");
}

QString serviceName(ShortcutService service)
{
    switch (service) {
        case ShortcutService::x11Grab:
            return QStringLiteral("X11 key grab");
        case ShortcutService::kglobalaccel:
            return QStringLiteral("KDE global shortcuts (kglobalaccel)");
        case ShortcutService::globalShortcutsPortal:
            return QStringLiteral("GlobalShortcuts portal");
        case ShortcutService::swayIpc:
            return QStringLiteral("sway key binding (IPC)");
        case ShortcutService::gnomeCustomKeybinding:
            return QStringLiteral("GNOME custom key binding");
        case ShortcutService::none:
            break;
    }
    return QStringLiteral("none");
}

QString serviceName(PanelService service)
{
    switch (service) {
        case PanelService::x11:
            return QStringLiteral("X11 tool window");
        case PanelService::layerShell:
            return QStringLiteral("Wayland layer shell (overlay)");
        case PanelService::ordinaryWindow:
            break;
    }
    return QStringLiteral("ordinary window");
}

QString limitText(Limit limit)
{
    switch (limit) {
        case Limit::noDisplay:
            return QStringLiteral(
                "No display server could be reached: Nimbrel can neither record copies nor show its "
                "panel.");
        case Limit::noCapture:
            return QStringLiteral("This desktop lets no application watch the clipboard: copies are not recorded.");
        case Limit::noSourceApp:
            return QStringLiteral(
                "This desktop does not tell which application is in front: records show no source "
                "application, and excluded applications cannot be recognised (pause recording instead).");
        case Limit::noPaste:
            return QStringLiteral(
                "This desktop lets no application type keys: a chosen record is put on the "
                "clipboard; press Ctrl+V to paste it.");
        case Limit::pasteAsksPermission:
            return QStringLiteral(
                "Pasting asks once for the desktop's permission to control the keyboard (remote "
                "desktop).");
        case Limit::noShortcut:
            return QStringLiteral(
                "This desktop offers no global shortcut to applications: bind `nimbrel --toggle` to a "
                "key in its keyboard settings.");
        case Limit::shortcutIsSwayBinding:
            return QStringLiteral(
                "The shortcut is a sway key binding that Nimbrel makes; it acts as soon as the key goes down, and "
                "Nimbrel cannot see which other bindings use the same key.");
        case Limit::shortcutIsGnomeBinding:
            return QStringLiteral(
                "The shortcut is a GNOME custom shortcut that runs `nimbrel --toggle`, added once you "
                "allow it in the settings window; it acts when the key goes down.");
        case Limit::panelIsOrdinaryWindow:
            return QStringLiteral("The panel opens as an ordinary window and takes the keyboard while it is open.");
    }
    return {};
}

QStringList describeDesktopServices(const DesktopProbe& probe, const DesktopServices& services)
{
    QString session = isWaylandSession(probe) ? QStringLiteral("Wayland session")
                      : probe.x11Display      ? QStringLiteral("X11 session")
                                              : QStringLiteral("no graphical session");
    if (!probe.desktops.isEmpty())
        session += QStringLiteral(" (%1)").arg(probe.desktops.join(QStringLiteral(", ")));
    if (isWaylandSession(probe) && services.x11)
        session += QStringLiteral(", Nimbrel running as an X11 client under XWayland");
    QStringList lines{
        QStringLiteral("Desktop: %1").arg(session),
        QStringLiteral("Recording copies: %1").arg(serviceName(services.capture)),
        QStringLiteral("Application in front: %1").arg(serviceName(services.sourceApp)),
        QStringLiteral("Pasting: %1").arg(serviceName(services.paste)),
        QStringLiteral("Shortcut: %1").arg(serviceName(services.shortcut)),
        QStringLiteral("Panel: %1").arg(serviceName(services.panel)),
    };
    if (services.degraded.isEmpty()) {
        lines.append(QStringLiteral("Everything Nimbrel does works on this desktop."));
        return lines;
    }
    lines.append(QStringLiteral("Limits on this desktop:"));
    for (const Limit limit : services.degraded)
        lines.append(QStringLiteral("  - ") + limitText(limit));
    return lines;
}

}  // namespace nimbrel
