#include "support/fake/FakePlatform.h"
#include "platform/linux/DesktopProbing.h"
#include "platform/linux/X11ClipboardMonitor.h"
#include "platform/linux/X11HotKeys.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyboard.h"
#include "platform/linux/XdgAutostart.h"
#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// Sets (or, for nullptr, unsets) an environment variable while it lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : m_name(name), m_saved(qgetenv(name)), m_was(qEnvironmentVariableIsSet(name))
    {
        value ? qputenv(name, value) : qunsetenv(name);
    }
    ~ScopedVariable() { m_was ? qputenv(m_name, m_saved) : qunsetenv(m_name); }

private:
    const char* m_name;
    QByteArray m_saved;
    bool m_was;
};

}  // namespace

TEST(XdgAutostart, EntryIsWrittenReadBackAndRemoved)
{
    const QString dir = test::freshDirectory() + QStringLiteral("/autostart");
    native::XdgAutostart autostart(dir, QStringLiteral("/home/a b/100%/nimbrel"));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(autostart.registerItem().ok());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
    QFile entry(autostart.entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/home/a b/100%%/nimbrel\"\n")) << text.constData();
    ASSERT_TRUE(autostart.unregisterItem().ok());
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(autostart.unregisterItem().ok()) << "removing an absent entry is not a failure";

    // An entry the user switched off in the desktop's settings is not enabled; only the main group counts.
    const std::pair<const char*, LoginItemStatus> entries[] = {
        {"[Desktop Entry]\nHidden=true\nExec=nimbrel\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nHidden=false\n", LoginItemStatus::enabled},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nExec=nimbrel\n[Desktop Action x]\nHidden=true\n", LoginItemStatus::enabled}};
    for (const auto& [written, status] : entries) {
        SCOPED_TRACE(written);
        writeFile(autostart.entryPath(), written);
        EXPECT_EQ(autostart.status(), status);
    }

    const std::pair<const char*, const char*> execs[] = {
        {"/usr/bin/nimbrel", "/usr/bin/nimbrel"}, {"/x/$HOME/n", "\"/x/\\\\$HOME/n\""}, {"/x/a\"b", "\"/x/a\\\\\"b\""}};
    for (const auto& [path, exec] : execs)
        EXPECT_EQ(native::XdgAutostart::execValue(QString::fromUtf8(path)), QString::fromUtf8(exec)) << path;

    // A file where the folder should be: the failure says why.
    native::XdgAutostart blocked(autostart.entryPath(), QStringLiteral("nimbrel"));
    const auto result = blocked.registerItem();
    ASSERT_FALSE(result.ok());
    EXPECT_FALSE(result.error().description.isEmpty());
}

// Without an X11 display the X11 services say they cannot work, and the start says why, instead of failing.
TEST(X11Services, WithoutADisplayEachReportsItselfUnavailable)
{
    const ScopedVariable noWayland("WAYLAND_DISPLAY", nullptr);
    const ScopedVariable noSession("XDG_SESSION_TYPE", nullptr);
    for (const char* display : {static_cast<const char*>(nullptr), "", ":4242"}) {
        SCOPED_TRACE(display ? display : "(unset)");
        const ScopedVariable variable("DISPLAY", display);

        const DesktopProbe probe = native::probeDisplays();
        EXPECT_FALSE(probe.x11Display);
        const QStringList described = describeDesktopServices(probe, chooseDesktopServices(probe));
        EXPECT_TRUE(described.contains(QStringLiteral("Desktop: no graphical session")));
        EXPECT_TRUE(described.contains(QStringLiteral("  - ") + limitText(Limit::noDisplay)));

        native::X11ClipboardMonitor monitor;
        const auto error = monitor.start([](ClipboardOffer&) {}, 1000);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(*error, QStringLiteral("the clipboard cannot be watched: no X11 display"));

        fake::RecordingConsole console;
        native::XTestKeyboard keyboard(console);
        EXPECT_FALSE(keyboard.isAvailable());
        EXPECT_FALSE(keyboard.modifiersHeld());
        keyboard.post(KeyChord{KeyChord::control, keysym::v}.transitions());

        native::X11HotKeys hotKeys;
        HotKeyRef ref = 0;
        EXPECT_NE(hotKeys.registerHotKey(9, 768, HotKeyIdentifier{1, 1}, ref), hotKeyNoError);
        EXPECT_FALSE(hotKeys.installEventHandler([](HotKeyEventKind, HotKeyIdentifier) { return hotKeyNoError; }));

        const native::X11Workspace workspace;
        EXPECT_FALSE(workspace.frontmostApplication().has_value());
        EXPECT_TRUE(workspace.runningApplications().isEmpty());
        EXPECT_FALSE(workspace.activeWindowFrame().has_value());
    }
}
