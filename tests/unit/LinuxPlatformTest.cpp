#include "platform/linux/DesktopProbing.h"
#include "platform/linux/X11ClipboardMonitor.h"
#include "platform/linux/X11HotKeys.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyboard.h"
#include "platform/linux/XdgAutostart.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakePlatform.h"

#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

// Sets (nullptr: unsets) an environment variable until the returned guard goes.
auto scopedVariable(const char* name, const char* value)
{
    const bool was = qEnvironmentVariableIsSet(name);
    const QByteArray saved = qgetenv(name);
    value ? qputenv(name, value) : qunsetenv(name);
    return qScopeGuard([=] { was ? qputenv(name, saved) : qunsetenv(name); });
}

}  // namespace

TEST(XdgAutostart, EntryIsWrittenReadBackAndRemoved)
{
    const QString dir = test::freshDirectory() + QStringLiteral("/autostart");
    native::XdgAutostart autostart(dir, QStringLiteral("/home/a b/100%/nimbrel"));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(autostart.registerItem().ok());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
    const QByteArray text = test::readFile(autostart.entryPath());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n") && text.contains("\nExec=\"/home/a b/100%%/nimbrel\"\n"))
        << text.constData();
    ASSERT_TRUE(autostart.unregisterItem().ok());
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(autostart.unregisterItem().ok()) << "removing an absent entry is not a failure";

    // An entry the user switched off in the desktop's settings is not enabled; only the main group counts.
    const std::pair<QByteArray, bool> entries[] = {{"Hidden=true\nExec=nimbrel\n", false},
                                                   {"Hidden=false\n", true},
                                                   {"X-GNOME-Autostart-enabled=false\n", false},
                                                   {"Exec=nimbrel\n[Desktop Action x]\nHidden=true\n", true}};
    for (const auto& [written, enabled] : entries) {
        QFile file(autostart.entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[Desktop Entry]\n" + written) > 0 && file.flush());
        EXPECT_EQ(autostart.status() == LoginItemStatus::enabled, enabled) << written.constData();
    }

    const std::pair<const char*, const char*> execs[] = {
        {"/usr/bin/nimbrel", "/usr/bin/nimbrel"}, {"/x/$HOME/n", "\"/x/\\\\$HOME/n\""}, {"/x/a\"b", "\"/x/a\\\\\"b\""}};
    for (const auto& [path, exec] : execs)
        EXPECT_EQ(native::XdgAutostart::execValue(QString::fromUtf8(path)), QString::fromUtf8(exec)) << path;

    // A file where the folder should be: the failure says why.
    const auto result = native::XdgAutostart(autostart.entryPath(), QStringLiteral("nimbrel")).registerItem();
    ASSERT_FALSE(result.ok());
    EXPECT_FALSE(result.error().description.isEmpty());
}

// Without an X11 display the X11 services say they cannot work, and the start says why, instead of failing.
TEST(X11Services, WithoutADisplayEachReportsItselfUnavailable)
{
    const auto noWayland = scopedVariable("WAYLAND_DISPLAY", nullptr);
    const auto noSession = scopedVariable("XDG_SESSION_TYPE", nullptr);
    for (const char* display : {static_cast<const char*>(nullptr), "", ":4242"}) {
        SCOPED_TRACE(display ? display : "(unset)");
        const auto variable = scopedVariable("DISPLAY", display);

        const DesktopProbe probe = native::probeDisplays();
        EXPECT_FALSE(probe.x11Display);
        const QStringList described = describeDesktopServices(probe, chooseDesktopServices(probe));
        EXPECT_TRUE(described.contains(QStringLiteral("Desktop: no graphical session")));
        EXPECT_TRUE(described.contains(QStringLiteral("  - ") + limitText(Limit::noDisplay)));

        native::X11ClipboardMonitor monitor;
        EXPECT_EQ(monitor.start([](ClipboardOffer&) {}, 1000),
                  std::optional<QString>(QStringLiteral("the clipboard cannot be watched: no X11 display")));

        fake::RecordingConsole console;
        native::XTestKeyboard keyboard(console);
        EXPECT_FALSE(keyboard.isAvailable() || keyboard.modifiersHeld());
        keyboard.post(KeyChord{KeyChord::control, keysym::v}.transitions());

        native::X11HotKeys hotKeys;
        HotKeyRef ref = 0;
        EXPECT_NE(hotKeys.registerHotKey(9, 768, HotKeyIdentifier{1, 1}, ref), hotKeyNoError);
        EXPECT_FALSE(hotKeys.installEventHandler([](HotKeyEventKind, HotKeyIdentifier) { return hotKeyNoError; }));

        const native::X11Workspace workspace;
        EXPECT_FALSE(workspace.frontmostApplication() || workspace.activeWindowFrame());
        EXPECT_TRUE(workspace.runningApplications().isEmpty());
    }
}
