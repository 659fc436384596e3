#include "KeyboardShortcuts/KeyCodes.h"
#include "platform/linux/DesktopKeyBindings.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

using namespace nimbrel;
using namespace nimbrel::native;
using KeyboardShortcuts::modSuper;
using KeyboardShortcuts::modControl;
using KeyboardShortcuts::modAlt;
using KeyboardShortcuts::modShift;

namespace nimbrel {
void PrintTo(const SystemHotKey& hotKey, std::ostream* os)
{
    *os << "{key " << hotKey.keyCode << ", modifiers 0x" << std::hex << hotKey.keyModifiers << std::dec << "}";
}
}  // namespace nimbrel

namespace {

using Expected = std::optional<SystemHotKey>;
constexpr auto none = std::nullopt;

// A keyboard with the keys the samples use; Print, F6, h, m and Escape are missing on purpose.
KeysymToKeyCode tableLookup()
{
    const QHash<quint32, int> keys = {
        {XKB_KEY_v, 9},      {XKB_KEY_t, 17},
        {XKB_KEY_e, 14},     {XKB_KEY_q, 12},
        {XKB_KEY_1, 18},     {XKB_KEY_comma, 43},
        {XKB_KEY_space, 49}, {XKB_KEY_Tab, 48},
        {XKB_KEY_Up, 126},   {XKB_KEY_Prior, 116},
        {XKB_KEY_F4, 118},   {XKB_KEY_Delete, 117},
        {XKB_KEY_KP_5, 87},  {XKB_KEY_XF86AudioMute, 74},
    };
    return [keys](quint32 keysym) -> std::optional<int> {
        const auto it = keys.constFind(keysym);
        return it == keys.cend() ? std::nullopt : std::optional<int>(*it);
    };
}

// Sets environment variables for one test and puts the old values back.
class EnvironmentOverride {
public:
    ~EnvironmentOverride()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
            if (it->has_value())
                qputenv(it.key().constData(), **it);
            else
                qunsetenv(it.key().constData());
        }
    }
    void set(const char* name, const QByteArray& value)
    {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char* name)
    {
        remember(name);
        qunsetenv(name);
    }

private:
    void remember(const char* name)
    {
        if (!m_saved.contains(name))
            m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    }
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};

void write(const QString& path, const QByteArray& contents, bool executable = false)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
    file.close();
    if (executable)
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

TEST(DesktopKeyBindings, GnomeAcceleratorsBecomeStoredBindings)
{
    struct Case {
        const char* accelerator;
        Expected expected;
    };
    const Case cases[] = {
        {"<Super>v", SystemHotKey{9, modSuper}},
        {"<Super>V", SystemHotKey{9, modSuper}},
        {"<Shift><Super>Page_Up", SystemHotKey{116, modShift | modSuper}},
        {"<Super>page_up", SystemHotKey{116, modSuper}},
        {"<Primary><Alt>t", SystemHotKey{17, modControl | modAlt}},
        {"<Control><Alt>Delete", SystemHotKey{117, modControl | modAlt}},
        {"<ctrl><mod1>T", SystemHotKey{17, modControl | modAlt}},
        {"<Meta>v", SystemHotKey{9, modSuper}},
        {"<Mod4><Shft>v", SystemHotKey{9, modSuper | modShift}},
        {"<Alt>F4", SystemHotKey{118, modAlt}},
        {"XF86AudioMute", SystemHotKey{74, 0}},
        {" <Super>Above_Tab ", SystemHotKey{50, modSuper}},
        {"<Hyper>v", none},
        {"<Mod3>v", none},
        {"<Release><Super>v", none},
        {"", none},
        {"disabled", none},
        {"<Super>", none},
        {"<Super", none},
        {"<Super>NoSuchKey", none},
        {"<Super>Print", none},  // no stored key code for it
        {"<Super>F6", none},     // not on this keyboard
    };
    const KeysymToKeyCode lookup = tableLookup();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accelerator);
        EXPECT_EQ(parseGnomeAccelerator(QString::fromUtf8(c.accelerator), lookup), c.expected);
    }
}

TEST(DesktopKeyBindings, GsettingsValuesYieldTheirStrings)
{
    struct Case {
        const char* value;
        QStringList strings;
    };
    const Case cases[] = {
        {"['<Super>v', '<Shift><Super>Page_Up']", {"<Super>v", "<Shift><Super>Page_Up"}},
        {"@as []", {}},
        {"[]", {}},
        {"['']", {""}},
        {"'<Primary><Alt>t'", {"<Primary><Alt>t"}},
        {"''", {""}},
        {R"(["<Super>apostrophe's"])", {"<Super>apostrophe's"}},
        {R"(['a\'b', 'c\\d'])", {"a'b", R"(c\d)"}},
        {"6", {}},
        {"true", {}},
        {"uint32 5", {}},
        {"['<Super>v'", {}},
        {"['<Super>v", {}},
        {"['a' 'b']", {}},
        {"'a' 'b'", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(parseGvariantStrings(QString::fromUtf8(c.value)), c.strings);
    }
}

TEST(DesktopKeyBindings, GsettingsListingGivesEnabledBindingsOnce)
{
    const QString listing = QStringLiteral(R"(org.gnome.desktop.wm.keybindings activate-window-menu ['<Alt>space']
org.gnome.desktop.wm.keybindings always-on-top @as []
org.gnome.desktop.wm.keybindings begin-move ['disabled']
org.gnome.desktop.wm.keybindings close ['<Alt>F4']
org.gnome.desktop.wm.keybindings cycle-group ['<Alt>F6']
org.gnome.desktop.wm.keybindings maximize ['<Super>Up']
org.gnome.desktop.wm.keybindings minimize ['<Super>h']
org.gnome.desktop.wm.keybindings move-to-workspace-up ['<Control><Shift><Alt>Up']
org.gnome.desktop.wm.keybindings switch-group ['<Super>Above_Tab', '<Alt>Above_Tab']
org.gnome.desktop.wm.keybindings switch-to-workspace-up ['<Super>Page_Up', '<Primary><Alt>Up']
org.gnome.desktop.wm.keybindings toggle-fullscreen ['']
org.gnome.shell.keybindings toggle-message-tray ['<Super>v', '<Super>m']
org.gnome.shell.keybindings show-screenshot-ui ['Print']
org.gnome.shell.keybindings toggle-quick-settings ['<Super>V']
org.gnome.mutter.wayland.keybindings restore-shortcuts ['<Super>Escape']
org.gnome.settings-daemon.plugins.media-keys custom-keybindings ['/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/']
org.gnome.settings-daemon.plugins.media-keys help ''
org.gnome.settings-daemon.plugins.media-keys terminal '<Primary><Alt>t'
org.gnome.settings-daemon.plugins.media-keys volume-mute ['XF86AudioMute']
org.gnome.settings-daemon.plugins.media-keys volume-step 6
org.gnome.settings-daemon.plugins.media-keys.custom-keybinding name 'v'
org.gnome.settings-daemon.plugins.media-keys.custom-keybinding command 'q'
org.gnome.settings-daemon.plugins.media-keys.custom-keybinding binding '<Super>e'
malformed-line
)");
    const QList<SystemHotKey> expected = {
        {49, modAlt},
        {118, modAlt},
        {126, modSuper},
        {126, modControl | modShift | modAlt},
        {50, modSuper},
        {50, modAlt},
        {116, modSuper},
        {126, modControl | modAlt},
        {9, modSuper},
        {17, modControl | modAlt},
        {74, 0},
        {14, modSuper},
    };
    EXPECT_EQ(parseGsettingsListing(listing, tableLookup()), expected);
}

TEST(DesktopKeyBindings, CustomKeybindingPathsComeFromTheMediaKeysSchema)
{
    const QString listing = QStringLiteral(
        "org.gnome.settings-daemon.plugins.media-keys custom-keybindings ['/org/custom0/', '/org/custom1/', "
        "'not-a-path', '/org/custom0/', '/no-trailing-slash']\n"
        "org.other.schema custom-keybindings ['/elsewhere/']\n"
        "org.gnome.settings-daemon.plugins.media-keys terminal '<Primary><Alt>t'\n");
    EXPECT_EQ(customKeybindingPaths(listing), QStringList({"/org/custom0/", "/org/custom1/"}));
    EXPECT_TRUE(customKeybindingPaths(
                    QStringLiteral("org.gnome.settings-daemon.plugins.media-keys custom-keybindings @as []\n"))
                    .isEmpty());
}

TEST(DesktopKeyBindings, KdeShortcutsBecomeStoredBindings)
{
    struct Case {
        const char* shortcut;
        Expected expected;
    };
    const Case cases[] = {
        {"Meta+Shift+V", SystemHotKey{9, modSuper | modShift}},
        {"Ctrl+Alt+T", SystemHotKey{17, modControl | modAlt}},
        {"Alt+F4", SystemHotKey{118, modAlt}},
        {"Meta+PgUp", SystemHotKey{116, modSuper}},
        {"Ctrl+Alt+Del", SystemHotKey{117, modControl | modAlt}},
        {"Meta+1", SystemHotKey{18, modSuper}},
        {"Ctrl+,", SystemHotKey{43, modControl}},
        {"Meta+Num+5", SystemHotKey{87, modSuper}},
        {"Volume Mute", SystemHotKey{74, 0}},
        {" Alt+Tab ", SystemHotKey{48, modAlt}},
        {"Meta+Print", none},
        {"none", none},
        {"", none},
        {"Meta", none},
        {"Ctrl+T, Ctrl+V", none},
        {"Meta+Bogus", none},
        {"Meta+F6", none},
    };
    const KeysymToKeyCode lookup = tableLookup();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shortcut);
        EXPECT_EQ(parseKdeShortcut(QString::fromUtf8(c.shortcut), lookup), c.expected);
    }
}

TEST(DesktopKeyBindings, KdeShortcutFileGivesActiveBindingsOnce)
{
    const QByteArray file = R"([$Version]
update_info=kded.upd:kde3.0,kglobalaccel.upd:kde4.0

[kwin]
_k_friendly_name=KWin
Window Close=Alt+F4,Alt+F4,Close Window
Walk Through Windows=Alt+Tab,Alt+Tab,Walk Through Windows
Window Maximize=Meta+PgUp,Meta+PgUp,Maximize Window
Show Desktop=none,Meta+D,Peek at Desktop
Expose=,Ctrl+F9,Toggle Present Windows
Window Quick Tile Top=Meta+Up\tMeta+Num+5,Meta+Up,Quick Tile Window to the Top
Zoom Reset=Meta+Print,Meta+0,Zoom Reset
Kill Window=Meta+Ctrl+Esc,Meta+Ctrl+Esc,Kill Window

[kwin][$InverseAction]
Window Close=Meta+T

[kwin][$Triggers][Window Close]
Gesture_current=Meta+E

# a comment=Meta+E,Meta+E,Comment
[plasmashell]
_k_friendly_name=Plasma
activate task manager entry 1=Meta+1,Meta+1,Activate Task Manager Entry 1
manage activities=Meta+Q,Meta+Q,Show Activity Switcher
zoom shortcut=Ctrl+Alt+\\,,none,Zoom\\, then reset
hand written=Meta+\,,none,Written\, by hand
several[$i]=Meta+Shift+V\tCtrl+Alt+V,Meta+Shift+V,Several
again=Alt+F4,none,The same as Window Close

[services][org.kde.konsole.desktop]
_launch=Ctrl+Alt+T

[services][org.kde.screenshot.desktop][$i]
RectangularRegion=Ctrl+Shift+,
)";
    const QList<SystemHotKey> expected = {
        {118, modAlt},
        {48, modAlt},
        {116, modSuper},
        {126, modSuper},
        {87, modSuper},
        {18, modSuper},
        {12, modSuper},
        {43, modControl | modAlt},
        {43, modSuper},
        {9, modSuper | modShift},
        {9, modControl | modAlt},
        {17, modControl | modAlt},
        {43, modControl | modShift},
    };
    EXPECT_EQ(parseKdeShortcutFile(file, tableLookup()), expected);
    EXPECT_TRUE(parseKdeShortcutFile("Window Close=Alt+F4,Alt+F4,Close Window\n", tableLookup()).isEmpty());
}

TEST(DesktopKeyBindings, TheSessionsDesktopChoosesTheSources)
{
    struct Case {
        const char* desktop;
        BindingSources expected;
    };
    const Case cases[] = {
        {"", {true, true}},           {"GNOME", {true, false}},        {"ubuntu:GNOME", {true, false}},
        {"gnome", {true, false}},     {"Budgie:GNOME", {true, false}}, {"Unity", {true, false}},
        {"KDE", {false, true}},       {"XFCE", {false, false}},        {"X-Cinnamon", {false, false}},
        {"GNOMEISH", {false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.desktop);
        const BindingSources sources = bindingSourcesFor(QString::fromUtf8(c.desktop));
        EXPECT_EQ(sources.gnome, c.expected.gnome);
        EXPECT_EQ(sources.kde, c.expected.kde);
    }
}

TEST(DesktopKeyBindings, KeysymsAreFoundOnTheDefaultKeymap)
{
    struct Case {
        quint32 keysym;
        std::optional<int> carbon;
    };
    const Case cases[] = {
        {XKB_KEY_v, 9},
        {XKB_KEY_V, 9},  // the shifted level of the same key
        {XKB_KEY_t, 0x11},
        {XKB_KEY_Prior, 0x74},
        {XKB_KEY_F4, 0x76},
        {XKB_KEY_Return, 36},
        {XKB_KEY_less, 10},  // unshifted on the ISO key before shifted on the comma key
        {XKB_KEY_Print, std::nullopt},
        {XKB_KEY_Cyrillic_a, std::nullopt},
    };
    const KeysymToKeyCode lookup = defaultKeymapLookup();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keysym);
        EXPECT_EQ(lookup(c.keysym), c.carbon);
    }
    EXPECT_EQ(keysymLookup(nullptr)(XKB_KEY_v), std::nullopt);
}

namespace {

const QByteArray fakeGsettings = R"(#!/bin/sh
[ "$1" = list-recursively ] || exit 1
case "$2" in
org.gnome.desktop.wm.keybindings)
    printf '%s\n' "org.gnome.desktop.wm.keybindings close ['<Alt>F4']" \
        "org.gnome.desktop.wm.keybindings switch-to-workspace-up ['<Super>Page_Up', '<Shift><Super>Page_Up']" ;;
org.gnome.shell.keybindings)
    printf '%s\n' "org.gnome.shell.keybindings toggle-message-tray ['<Super>v', '<Super>Print']" ;;
org.gnome.mutter.keybindings)
    @MUTTER@ ;;
org.gnome.settings-daemon.plugins.media-keys)
    printf '%s\n' "org.gnome.settings-daemon.plugins.media-keys custom-keybindings ['/custom0/']" ;;
org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:/custom0/)
    printf '%s\n' "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding binding '<Primary><Alt>t'" ;;
*)
    echo "No such schema" >&2; exit 1 ;;
esac
)";

const QByteArray kdeShortcuts =
    "[kwin]\nWindow Close=Alt+F4,Alt+F4,Close Window\nOverview=Meta+W,Meta+W,Overview\n"
    "Zoom=Meta+Print,none,Zoom\n";

struct Desktop {
    QString bin = test::freshDirectory();
    QString config = test::freshDirectory();
    EnvironmentOverride environment;

    explicit Desktop(const QByteArray& mutterAnswer = "exit 1")
    {
        QByteArray script = fakeGsettings;
        write(bin + "/gsettings", script.replace("@MUTTER@", mutterAnswer), true);
        write(config + "/kglobalshortcutsrc", kdeShortcuts);
        environment.set("PATH", bin.toUtf8());
        environment.set("XDG_CONFIG_HOME", config.toUtf8());
        environment.unset("XDG_CURRENT_DESKTOP");
    }
};

const QList<SystemHotKey> gnomeBindings = {
    {0x76, modAlt},
    {0x74, modSuper},
    {0x74, modShift | modSuper},
    {9, modSuper},
    {0x11, modControl | modAlt},
};
const QList<SystemHotKey> kdeBindings = {{0x76, modAlt}, {13, modSuper}};

}  // namespace

TEST(DesktopKeyBindings, TheDesktopsBindingsAreReadAfreshEachTime)
{
    const QByteArray savedPath = qgetenv("PATH");
    {
        Desktop desktop;
        const DesktopKeyBindings bindings;
        EXPECT_EQ(bindings.enabledHotKeys(), gnomeBindings + QList<SystemHotKey>({{13, modSuper}}));

        desktop.environment.set("XDG_CURRENT_DESKTOP", "KDE");
        EXPECT_EQ(bindings.enabledHotKeys(), kdeBindings);
        desktop.environment.set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        EXPECT_EQ(bindings.enabledHotKeys(), gnomeBindings);
        desktop.environment.set("XDG_CURRENT_DESKTOP", "XFCE");
        EXPECT_TRUE(bindings.enabledHotKeys().isEmpty());

        // A binding changed in the desktop's settings counts at the next check.
        desktop.environment.set("XDG_CURRENT_DESKTOP", "KDE");
        write(desktop.config + "/kglobalshortcutsrc", "[kwin]\nOverview=Meta+Shift+W,Meta+W,Overview\n");
        EXPECT_EQ(bindings.enabledHotKeys(), QList<SystemHotKey>({{13, modSuper | modShift}}));

        // Without gsettings only KDE's bindings are left.
        desktop.environment.unset("XDG_CURRENT_DESKTOP");
        desktop.environment.set("PATH", test::freshDirectory().toUtf8());
        EXPECT_EQ(bindings.enabledHotKeys(), QList<SystemHotKey>({{13, modSuper | modShift}}));
    }
    EXPECT_EQ(qgetenv("PATH"), savedPath);
}

TEST(DesktopKeyBindings, AHungGsettingsIsAbandoned)
{
    Desktop desktop("exec /bin/sleep 10");
    QElapsedTimer elapsed;
    elapsed.start();
    const QList<SystemHotKey> hotKeys = DesktopKeyBindings().enabledHotKeys();
    EXPECT_LT(elapsed.elapsed(), 2500);
    // The schemas before the hung one count; nothing after it is asked; KDE's file is still read.
    const QList<SystemHotKey> expected = {
        {0x76, modAlt}, {0x74, modSuper}, {0x74, modShift | modSuper},
        {9, modSuper},   {13, modSuper},
    };
    EXPECT_EQ(hotKeys, expected);
}
