#include "KeyboardShortcuts/KeyCodes.h"
#include "platform/linux/DesktopKeyBindings.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

using namespace nimbrel;
using namespace nimbrel::native;
using namespace nimbrel::KeyboardShortcuts;

namespace nimbrel {
void PrintTo(const SystemHotKey& hotKey, std::ostream* os)
{
    *os << "{key " << hotKey.keyCode << ", modifiers 0x" << std::hex << hotKey.keyModifiers << std::dec << "}";
}
}  // namespace nimbrel

namespace {

using Bindings = QList<SystemHotKey>;
// A keyboard with the keys the samples use; Print, F6, h, m and Escape are missing on purpose.
KeysymToKeyCode tableLookup()
{
    const QHash<quint32, int> keys = {{XKB_KEY_v, 9},      {XKB_KEY_t, 17},
                                      {XKB_KEY_comma, 43}, {XKB_KEY_Tab, 48},
                                      {XKB_KEY_Up, 126},   {XKB_KEY_Prior, 116},
                                      {XKB_KEY_F4, 118},   {XKB_KEY_Delete, 117},
                                      {XKB_KEY_KP_5, 87},  {XKB_KEY_XF86AudioMute, 74}};
    return [keys](quint32 keysym) { return keys.contains(keysym) ? std::optional(keys[keysym]) : std::nullopt; };
}

TEST(DesktopKeyBindings, GnomeAndKdeNotationsBecomeStoredBindings)
{
    const std::pair<const char*, std::optional<SystemHotKey>> gnome[] = {
        {"<Super>V", SystemHotKey{9, modSuper}},
        {"<Shift><Super>Page_Up", SystemHotKey{116, modShift | modSuper}},
        {"<Super>page_up", SystemHotKey{116, modSuper}},
        {"<Primary><Alt>t", SystemHotKey{17, modControl | modAlt}},
        {"<ctrl><mod1>T", SystemHotKey{17, modControl | modAlt}},
        {"<Meta>v", SystemHotKey{9, modSuper}},
        {"<Mod4><Shft>v", SystemHotKey{9, modSuper | modShift}},
        {"XF86AudioMute", SystemHotKey{74, 0}},
        {" <Super>Above_Tab ", SystemHotKey{50, modSuper}},
    };
    for (const auto& [accelerator, expected] : gnome)
        EXPECT_EQ(parseGnomeAccelerator(accelerator, tableLookup()), expected) << accelerator;
    // Print has no stored key code, and F6 is not on this keyboard.
    for (const char* accelerator :
         {"<Hyper>v", "<Mod3>v", "<Release><Super>v", "disabled", "<Super>", "<Super", "<Super>Print", "<Super>F6"})
        EXPECT_EQ(parseGnomeAccelerator(accelerator, tableLookup()), std::nullopt) << accelerator;

    const std::pair<const char*, std::optional<SystemHotKey>> kde[] = {
        {"Meta+Shift+V", SystemHotKey{9, modSuper | modShift}},
        {"Ctrl+Alt+Del", SystemHotKey{117, modControl | modAlt}},
        {"Meta+PgUp", SystemHotKey{116, modSuper}},
        {"Ctrl+,", SystemHotKey{43, modControl}},
        {"Meta+Num+5", SystemHotKey{87, modSuper}},
        {"Volume Mute", SystemHotKey{74, 0}},
        {" Alt+Tab ", SystemHotKey{48, modAlt}},
    };
    for (const auto& [shortcut, expected] : kde)
        EXPECT_EQ(parseKdeShortcut(shortcut, tableLookup()), expected) << shortcut;
    for (const char* shortcut : {"none", "Meta", "Ctrl+T, Ctrl+V", "Meta+Bogus", "Meta+F6"})
        EXPECT_EQ(parseKdeShortcut(shortcut, tableLookup()), std::nullopt) << shortcut;
}

TEST(DesktopKeyBindings, ListingsAndShortcutFilesOfTheSessionsDesktopGiveTheEnabledBindingsOnce)
{
    const QString listing = QStringLiteral(R"(org.gnome.desktop.wm.keybindings begin-move ['disabled']
org.gnome.desktop.wm.keybindings always-on-top @as []
org.gnome.desktop.wm.keybindings switch-group ['<Super>Above_Tab', '<Alt>F4']
org.gnome.shell.keybindings toggle-message-tray ['<Super>v', '<Super>m']
org.gnome.shell.keybindings toggle-quick-settings ['<Alt>F4']
org.gnome.settings-daemon.plugins.media-keys volume-step 6
org.gnome.settings-daemon.plugins.media-keys.custom-keybinding binding '<Primary><Alt>t'
malformed-line
)");
    EXPECT_EQ(parseGsettingsListing(listing, tableLookup()),
              (Bindings{{50, modSuper}, {118, modAlt}, {9, modSuper}, {17, modControl | modAlt}}));
    EXPECT_EQ(customKeybindingPaths("org.gnome.settings-daemon.plugins.media-keys custom-keybindings ['/org/c0/', "
                                    "'/org/c1/', 'not-a-path', '/org/c0/', '/no-trailing-slash']\n"
                                    "org.other.schema custom-keybindings ['/elsewhere/']\n"),
              QStringList({"/org/c0/", "/org/c1/"}));

    // The active keys come first; "none", empty, inverse actions and comments count for nothing.
    const QByteArray file = R"([kwin]
_k_friendly_name=KWin
Window Close=Alt+F4,Alt+F4,Close Window
Show Desktop=none,Meta+D,Peek at Desktop
Expose=,Ctrl+F9,Toggle Present Windows
Window Quick Tile Top=Meta+Up\tMeta+Num+5,Meta+Up,Quick Tile Window to the Top
[kwin][$InverseAction]
Window Close=Meta+T
# a comment=Meta+E,Meta+E,Comment
[plasmashell]
zoom shortcut=Ctrl+Alt+\\,,none,Zoom\\, then reset
again[$i]=Alt+F4,none,The same as Window Close
)";
    EXPECT_EQ(parseKdeShortcutFile(file, tableLookup()),
              (Bindings{{118, modAlt}, {126, modSuper}, {87, modSuper}, {43, modControl | modAlt}}));
    EXPECT_TRUE(parseKdeShortcutFile("Window Close=Alt+F4,Alt+F4,Close Window\n", tableLookup()).isEmpty());

    // The session's desktop chooses the sources.
    const std::pair<const char*, BindingSources> desktops[] = {
        {"", {true, true}},     {"ubuntu:GNOME", {true, false}}, {"gnome", {true, false}},    {"Unity", {true, false}},
        {"KDE", {false, true}}, {"X-Cinnamon", {false, false}},  {"GNOMEISH", {false, false}}};
    for (const auto& [desktop, sources] : desktops)
        EXPECT_EQ(bindingSourcesFor(desktop), sources) << desktop;

    // The default keymap (also read by the gsettings test below): the shifted level, the unshifted ISO key first.
    for (const auto& [keysym, code] : {std::pair<quint32, std::optional<int>>{XKB_KEY_V, 9},
                                       {XKB_KEY_less, 10},
                                       {XKB_KEY_Print, {}},
                                       {XKB_KEY_Cyrillic_a, {}}})
        EXPECT_EQ(defaultKeymapLookup()(keysym), code) << keysym;
    EXPECT_EQ(keysymLookup(nullptr)(XKB_KEY_v), std::nullopt);
}

void write(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

// A gsettings on PATH that hangs on one schema and would answer for any asked after it.
TEST(DesktopKeyBindings, AHungGsettingsIsAbandonedAndTheSchemasBeforeItAndKdesFileStillCount)
{
    const QString bin = test::freshDirectory(),
                  kdeFile = qEnvironmentVariable("XDG_CONFIG_HOME") + "/kglobalshortcutsrc";
    write(bin + "/gsettings", R"(#!/bin/sh
case "$2" in
org.gnome.desktop.wm.keybindings) echo "org.gnome.desktop.wm.keybindings close ['<Alt>F4', '<Shift><Super>Page_Up']" ;;
org.gnome.shell.keybindings) echo "org.gnome.shell.keybindings toggle-message-tray ['<Super>v', '<Super>Print']" ;;
org.gnome.mutter.keybindings) exec /bin/sleep 10 ;;
*) echo "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding binding '<Primary><Alt>t'" ;;
esac
)");
    QFile::setPermissions(bin + "/gsettings", QFile::ReadOwner | QFile::ExeOwner);
    QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME"));
    write(kdeFile, "[kwin]\nWindow Close=Alt+F4,Alt+F4,Close\nOverview=Meta+W,Meta+W,O\n");
    const QByteArray path = qgetenv("PATH"), desktop = qgetenv("XDG_CURRENT_DESKTOP");
    qputenv("PATH", bin.toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(DesktopKeyBindings().enabledHotKeys(),
              (Bindings{{118, modAlt}, {116, modShift | modSuper}, {9, modSuper}, {13, modSuper}}));
    EXPECT_LT(elapsed.elapsed(), 2500);
    qputenv("PATH", path);
    if (!desktop.isNull())
        qputenv("XDG_CURRENT_DESKTOP", desktop);
    QFile::remove(kdeFile);
}

}  // namespace
