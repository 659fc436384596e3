// sway key bindings made over IPC, proven by pressing the keys on a headless sway of its own
// (tests/support/private-sway).

#include "platform/linux/SwayHotKeys.h"
#include "platform/linux/WaylandVirtualKeyboard.h"
#include "support/fake/FakePlatform.h"

#include "KeyboardShortcuts/KeyCodes.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace nimbrel;
using namespace nimbrel::KeyboardShortcuts;

namespace {

constexpr int keyCodeV = 9;
constexpr int keyCodeC = 8;

// The hot-key events a handler was given, in order.
struct Events {
    QList<std::pair<HotKeyEventKind, quint32>> seen;
    HotKeyPlatform::Handler handler()
    {
        return [this](HotKeyEventKind kind, HotKeyIdentifier identifier) {
            seen.append({kind, identifier.id});
            return hotKeyNoError;
        };
    }
};

// Presses the chord until the handler hears it once more; a binding made in reply to a reload may land a
// moment after the reload itself. False when it never does.
bool pressUntilHeard(native::WaylandVirtualKeyboard& keyboard, const KeyChord& chord, const Events& events)
{
    const qsizetype before = events.seen.size();
    for (int attempt = 0; attempt < 5; ++attempt) {
        keyboard.post(chord.transitions());
        if (QTest::qWaitFor([&] { return events.seen.size() > before; }, 2000))
            return true;
    }
    return false;
}

TEST(SwayHotKeys, TheKeyReachesTheHandlerSurvivesAReloadAndGoesWhenUnregistered)
{
    if (const char* reason = std::getenv("NIMBREL_SWAY_UNAVAILABLE"))
        GTEST_SKIP() << "no headless sway here: " << reason;
    fake::RecordingConsole console;
    native::WaylandVirtualKeyboard keyboard;
    ASSERT_TRUE(keyboard.isAvailable());
    Events events, controlEvents;
    native::SwayHotKeys hotKeys(qEnvironmentVariable("SWAYSOCK"), console);
    native::SwayHotKeys controlKeys(qEnvironmentVariable("SWAYSOCK"), console);
    ASSERT_TRUE(hotKeys.installEventHandler(events.handler()));
    ASSERT_TRUE(controlKeys.installEventHandler(controlEvents.handler()));
    hotKeys.setHotKeyEventsEnabled(true);
    controlKeys.setHotKeyEventsEnabled(true);

    HotKeyRef ref = 0, controlRef = 0;
    ASSERT_EQ(hotKeys.registerHotKey(keyCodeV, modSuper | modShift, {1, 1}, ref), hotKeyNoError)
        << console.lines.join(u'\n').toStdString();
    ASSERT_EQ(controlKeys.registerHotKey(keyCodeC, modControl | modAlt, {1, 2}, controlRef), hotKeyNoError);
    const KeyChord chord{KeyChord::super | KeyChord::shift, keysym::v};
    const KeyChord controlChord{KeyChord::control | KeyChord::alt, 0x63};

    using Kind = HotKeyEventKind;
    ASSERT_TRUE(pressUntilHeard(keyboard, chord, events)) << "the binding reaches the handler";
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.seen.size() == 2; }, 2000));
    EXPECT_EQ(events.seen, (QList<std::pair<Kind, quint32>>{{Kind::pressed, 1}, {Kind::released, 1}}))
        << "the release follows at once";

    QProcess swaymsg;
    swaymsg.start("swaymsg", {"-s", qEnvironmentVariable("SWAYSOCK"), "reload"});
    ASSERT_TRUE(swaymsg.waitForFinished(5000));
    EXPECT_EQ(swaymsg.readAllStandardOutput().count("\"success\": true"), 1);
    EXPECT_TRUE(pressUntilHeard(keyboard, chord, events)) << "made again after sway's reload";

    // sway handles keys in order: when the control's second press is heard, the chord's would have been.
    hotKeys.unregisterHotKey(ref);
    const qsizetype before = events.seen.size();
    keyboard.post(chord.transitions());
    ASSERT_TRUE(pressUntilHeard(keyboard, controlChord, controlEvents));
    ASSERT_TRUE(pressUntilHeard(keyboard, controlChord, controlEvents));
    EXPECT_EQ(events.seen.size(), before) << "unbound";
    EXPECT_TRUE(console.lines.isEmpty()) << console.lines.join(u'\n').toStdString();
}

// A socket that takes the connection and never answers: the class waits for replies synchronously.
TEST(SwayHotKeys, ASilentServerIsAStatusAndOneLineNeverAHang)
{
    QTemporaryDir dir;
    QLocalServer server;
    ASSERT_TRUE(server.listen(dir.filePath("ipc.sock")));
    fake::RecordingConsole console;
    QElapsedTimer clock;
    clock.start();
    {
        native::SwayHotKeys hotKeys(dir.filePath("ipc.sock"), console, 300);
        HotKeyRef ref = 0;
        EXPECT_EQ(hotKeys.registerHotKey(keyCodeV, modSuper | modShift, {1, 1}, ref), hotKeyInvalid);
        EXPECT_LT(clock.elapsed(), 1500);
    }
    ASSERT_EQ(console.lines.size(), 1) << "nothing bound, nothing to remove: "
                                       << console.lines.join(u'\n').toStdString();
    EXPECT_TRUE(console.lines.first().contains("did not answer within 300 ms")) << console.lines.first().toStdString();
}

}  // namespace
