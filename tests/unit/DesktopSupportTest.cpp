#include "platform/DesktopSupport.h"

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

// The globals each compositor offers an ordinary client, as measured on Debian 12 (KDE 6.5 from its
// release notes: only the ext data control).
// clang-format off
const QMap<QString, quint32> sway17{{"zwlr_data_control_manager_v1", 2}, {"zwlr_foreign_toplevel_manager_v1", 3},
                                    {"zwp_virtual_keyboard_manager_v1", 1}, {"zwlr_layer_shell_v1", 4}};
// clang-format on
const QMap<QString, quint32> kwin527{{"zwlr_data_control_manager_v1", 2}, {"zwlr_layer_shell_v1", 3}};
const QMap<QString, quint32> kwin65{{"ext_data_control_manager_v1", 1}, {"zwlr_layer_shell_v1", 5}};

DesktopProbe wayland(const char* desktop, QMap<QString, quint32> globals, bool xwayland = false)
{
    DesktopProbe probe;
    probe.sessionType = QStringLiteral("wayland");
    probe.waylandDisplay = true;
    probe.x11Display = xwayland;
    probe.desktops = QString::fromLatin1(desktop).split(u':');
    probe.globals = std::move(globals);
    return probe;
}

}  // namespace

TEST(DesktopSupport, EachDesktopGetsItsServicesAndHearsWhatItGoesWithout)
{
    DesktopProbe x11 = wayland("XFCE", {}, true);
    x11.sessionType = QStringLiteral("x11");  // a nested compositor does not make the session a Wayland one
    DesktopProbe sway = wayland("sway", sway17);
    sway.swayIpc = true;
    DesktopProbe plasma5 = wayland("KDE", kwin527);
    plasma5.busNames = {"org.kde.kglobalaccel"};
    plasma5.remoteDesktopPortal = 2;
    plasma5.globalShortcutsPortal = 1;
    DesktopProbe plasma6 = plasma5;
    plasma6.globals = kwin65;
    plasma6.x11Display = true;  // XWayland
    DesktopProbe gnome = wayland("ubuntu:GNOME", {{"wl_seat", 8}}, true);
    gnome.remoteDesktopPortal = 2;
    DesktopProbe gnomeWithoutXWayland = gnome;
    gnomeWithoutXWayland.x11Display = false;
    DesktopProbe hyprland = wayland("Hyprland", sway17);
    hyprland.globalShortcutsPortal = 1;
    DesktopProbe untyped = wayland("", {});
    untyped.sessionType.clear();

    using C = CaptureService;
    using S = SourceAppService;
    using P = PasteService;
    using K = ShortcutService;
    using W = PanelService;
    using L = Limit;
    // clang-format off
    struct Case { const char* name; DesktopProbe probe; bool x11; C capture; S sourceApp; P paste; K shortcut; W panel;
                  QList<Limit> degraded; };
    const Case cases[] = {
        {"X11", x11, true, C::x11, S::x11, P::xtest, K::x11Grab, W::x11, {}},
        {"no display", {}, false, C::none, S::none, P::none, K::none, W::ordinaryWindow, {L::noDisplay}},
        {"sway", sway, false, C::wlrDataControl, S::foreignToplevel, P::virtualKeyboard, K::swayIpc, W::layerShell,
         {L::shortcutIsSwayBinding}},
        {"sway without its socket", wayland("sway", sway17), false, C::wlrDataControl, S::foreignToplevel,
         P::virtualKeyboard, K::none, W::layerShell, {L::noShortcut}},
        {"KDE Plasma 5.27", plasma5, false, C::wlrDataControl, S::none, P::remoteDesktopPortal, K::kglobalaccel,
         W::layerShell, {L::noSourceApp, L::pasteAsksPermission}},
        {"KDE Plasma 6.5 (ext data control only)", plasma6, true, C::x11, S::none, P::remoteDesktopPortal,
         K::kglobalaccel, W::ordinaryWindow, {L::noSourceApp, L::pasteAsksPermission, L::panelIsOrdinaryWindow}},
        {"GNOME 43", gnome, true, C::x11, S::none, P::remoteDesktopPortal, K::gnomeCustomKeybinding, W::ordinaryWindow,
         {L::noSourceApp, L::pasteAsksPermission, L::shortcutIsGnomeBinding, L::panelIsOrdinaryWindow}},
        {"GNOME without XWayland", gnomeWithoutXWayland, false, C::none, S::none, P::remoteDesktopPortal,
         K::gnomeCustomKeybinding, W::ordinaryWindow,
         {L::noCapture, L::noSourceApp, L::pasteAsksPermission, L::shortcutIsGnomeBinding, L::panelIsOrdinaryWindow}},
        {"Hyprland", hyprland, false, C::wlrDataControl, S::foreignToplevel, P::virtualKeyboard,
         K::globalShortcutsPortal, W::layerShell, {}},
        {"a compositor that names nothing", untyped, false, C::none, S::none, P::none, K::none, W::ordinaryWindow,
         {L::noCapture, L::noSourceApp, L::noPaste, L::noShortcut, L::panelIsOrdinaryWindow}}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DesktopServices chosen = chooseDesktopServices(c.probe);
        const auto names = [](auto x11, auto capture, auto sourceApp, auto paste, auto shortcut, auto panel) {
            return QStringList{x11 ? "x11" : "-",  serviceName(capture),  serviceName(sourceApp),
                               serviceName(paste), serviceName(shortcut), serviceName(panel)};
        };
        EXPECT_EQ(names(chosen.x11, chosen.capture, chosen.sourceApp, chosen.paste, chosen.shortcut, chosen.panel),
                  names(c.x11, c.capture, c.sourceApp, c.paste, c.shortcut, c.panel));
        EXPECT_EQ(chosen.degraded, c.degraded);
    }
}
