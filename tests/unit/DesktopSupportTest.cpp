#include "platform/DesktopSupport.h"

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

// The globals each compositor offers an ordinary client, as measured on Debian 12 (KDE 6.5 from its
// release notes: only the ext data control).
const QMap<QString, quint32> sway17{{QStringLiteral("zwlr_data_control_manager_v1"), 2},
                                    {QStringLiteral("zwlr_foreign_toplevel_manager_v1"), 3},
                                    {QStringLiteral("zwp_virtual_keyboard_manager_v1"), 1},
                                    {QStringLiteral("zwlr_layer_shell_v1"), 4}};
const QMap<QString, quint32> kwin527{{QStringLiteral("zwlr_data_control_manager_v1"), 2},
                                     {QStringLiteral("zwlr_layer_shell_v1"), 3}};
const QMap<QString, quint32> kwin65{{QStringLiteral("ext_data_control_manager_v1"), 1},
                                    {QStringLiteral("zwlr_layer_shell_v1"), 5}};
const QMap<QString, quint32> mutter43{{QStringLiteral("wl_seat"), 8}};

DesktopProbe wayland(const char* desktop, QMap<QString, quint32> globals)
{
    DesktopProbe probe;
    probe.sessionType = QStringLiteral("wayland");
    probe.waylandDisplay = true;
    probe.desktops = QString::fromLatin1(desktop).split(u':');
    probe.globals = std::move(globals);
    return probe;
}

}  // namespace

TEST(DesktopSupport, EachDesktopGetsItsServicesAndHearsWhatItGoesWithout)
{
    DesktopProbe x11;
    x11.sessionType = QStringLiteral("x11");
    x11.x11Display = true;
    x11.waylandDisplay = true;  // a nested compositor does not make the session a Wayland one
    x11.desktops = {QStringLiteral("XFCE")};

    DesktopProbe sway = wayland("sway", sway17);
    sway.swayIpc = true;
    DesktopProbe swayWithoutIpc = wayland("sway", sway17);

    DesktopProbe plasma5 = wayland("KDE", kwin527);
    plasma5.busNames = {QStringLiteral("org.kde.kglobalaccel")};
    plasma5.remoteDesktopPortal = 2;
    plasma5.globalShortcutsPortal = 1;
    DesktopProbe plasma6 = plasma5;
    plasma6.globals = kwin65;
    plasma6.x11Display = true;  // XWayland
    DesktopProbe plasma6WithoutXWayland = plasma6;
    plasma6WithoutXWayland.x11Display = false;

    DesktopProbe gnome = wayland("ubuntu:GNOME", mutter43);
    gnome.x11Display = true;  // XWayland
    gnome.remoteDesktopPortal = 2;
    DesktopProbe gnomeWithoutXWayland = gnome;
    gnomeWithoutXWayland.x11Display = false;

    DesktopProbe hyprland = wayland("Hyprland", sway17);
    hyprland.globalShortcutsPortal = 1;

    DesktopProbe untyped = wayland("", {});
    untyped.sessionType.clear();

    struct Case {
        const char* name;
        DesktopProbe probe;
        bool x11;
        CaptureService capture;
        SourceAppService sourceApp;
        PasteService paste;
        ShortcutService shortcut;
        PanelService panel;
        QList<Limit> degraded;
    };
    const Case cases[] = {
        {"X11",
         x11,
         true,
         CaptureService::x11,
         SourceAppService::x11,
         PasteService::xtest,
         ShortcutService::x11Grab,
         PanelService::x11,
         {}},
        {"no display",
         DesktopProbe{},
         false,
         CaptureService::none,
         SourceAppService::none,
         PasteService::none,
         ShortcutService::none,
         PanelService::ordinaryWindow,
         {Limit::noDisplay}},
        {"sway",
         sway,
         false,
         CaptureService::wlrDataControl,
         SourceAppService::foreignToplevel,
         PasteService::virtualKeyboard,
         ShortcutService::swayIpc,
         PanelService::layerShell,
         {Limit::shortcutIsSwayBinding}},
        {"sway without its socket",
         swayWithoutIpc,
         false,
         CaptureService::wlrDataControl,
         SourceAppService::foreignToplevel,
         PasteService::virtualKeyboard,
         ShortcutService::none,
         PanelService::layerShell,
         {Limit::noShortcut}},
        {"KDE Plasma 5.27",
         plasma5,
         false,
         CaptureService::wlrDataControl,
         SourceAppService::none,
         PasteService::remoteDesktopPortal,
         ShortcutService::kglobalaccel,
         PanelService::layerShell,
         {Limit::noSourceApp, Limit::pasteAsksPermission}},
        {"KDE Plasma 6.5 (ext data control only)",
         plasma6,
         true,
         CaptureService::x11,
         SourceAppService::none,
         PasteService::remoteDesktopPortal,
         ShortcutService::kglobalaccel,
         PanelService::ordinaryWindow,
         {Limit::noSourceApp, Limit::pasteAsksPermission, Limit::panelIsOrdinaryWindow}},
        {"KDE Plasma 6.5 without XWayland",
         plasma6WithoutXWayland,
         false,
         CaptureService::none,
         SourceAppService::none,
         PasteService::remoteDesktopPortal,
         ShortcutService::kglobalaccel,
         PanelService::layerShell,
         {Limit::noCapture, Limit::noSourceApp, Limit::pasteAsksPermission}},
        {"GNOME 43",
         gnome,
         true,
         CaptureService::x11,
         SourceAppService::none,
         PasteService::remoteDesktopPortal,
         ShortcutService::gnomeCustomKeybinding,
         PanelService::ordinaryWindow,
         {Limit::noSourceApp, Limit::pasteAsksPermission, Limit::shortcutIsGnomeBinding, Limit::panelIsOrdinaryWindow}},
        {"GNOME without XWayland",
         gnomeWithoutXWayland,
         false,
         CaptureService::none,
         SourceAppService::none,
         PasteService::remoteDesktopPortal,
         ShortcutService::gnomeCustomKeybinding,
         PanelService::ordinaryWindow,
         {Limit::noCapture, Limit::noSourceApp, Limit::pasteAsksPermission, Limit::shortcutIsGnomeBinding,
          Limit::panelIsOrdinaryWindow}},
        {"Hyprland",
         hyprland,
         false,
         CaptureService::wlrDataControl,
         SourceAppService::foreignToplevel,
         PasteService::virtualKeyboard,
         ShortcutService::globalShortcutsPortal,
         PanelService::layerShell,
         {}},
        {"a compositor that names nothing",
         untyped,
         false,
         CaptureService::none,
         SourceAppService::none,
         PasteService::none,
         ShortcutService::none,
         PanelService::ordinaryWindow,
         {Limit::noCapture, Limit::noSourceApp, Limit::noPaste, Limit::noShortcut, Limit::panelIsOrdinaryWindow}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DesktopServices chosen = chooseDesktopServices(c.probe);
        EXPECT_EQ(chosen.x11, c.x11);
        EXPECT_EQ(serviceName(chosen.capture), serviceName(c.capture));
        EXPECT_EQ(serviceName(chosen.sourceApp), serviceName(c.sourceApp));
        EXPECT_EQ(serviceName(chosen.paste), serviceName(c.paste));
        EXPECT_EQ(serviceName(chosen.shortcut), serviceName(c.shortcut));
        EXPECT_EQ(serviceName(chosen.panel), serviceName(c.panel));
        EXPECT_EQ(chosen.degraded, c.degraded);
        EXPECT_EQ(chooseDesktopServices(c.probe), chosen) << "the same probe, the same choice";
    }
}
