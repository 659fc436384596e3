#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "hotkey/HotkeyManager.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakePlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace nimbrel::KeyboardShortcuts {

namespace {

constexpr quint32 hkrg = 0x484B5247;
const Shortcut shiftCommandV(Key::v, modShift | modSuper);
const Shortcut controlA(Key::a, modControl);
const Shortcut optionX(Key::x, modAlt);

class HotKeyDispatchTest : public ::testing::Test {
protected:
    HotKeyDispatchTest() { layout.texts = {{Key::v, "v"}, {Key::a, "a"}, {Key::x, "x"}}; }

    Shortcuts::Action record(QString what)
    {
        return [this, what] { ran.append(what); };
    }

    fake::MemoryDefaults defaults;
    fake::FakeHotKeyPlatform platform;
    fake::FakeKeyboardLayout layout;
    fake::RecordingConsole console;
    std::unique_ptr<Shortcuts> shortcuts = std::make_unique<Shortcuts>(defaults, platform, layout, console);
    QStringList ran;
    const Name first{QStringLiteral("first"), std::nullopt};
    const Name second{QStringLiteral("second"), std::nullopt};
};

TEST_F(HotKeyDispatchTest, EachRegistrationGetsANewIdAndARefusalIsLoggedKeptAndRetriedOnlyWhenStoredAnew)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->setShortcut(optionX, first);
    shortcuts->setShortcut(optionX, first);  // the same shortcut again is registered afresh
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{3}));

    platform.refused.insert({Key::v, modShift | modSuper});
    platform.refusalStatus = -9879;
    shortcuts->declare(togglePanelName());
    EXPECT_EQ(console.lines, QStringList{"Error registering hotkey Shift+Super+V: -9879"});
    EXPECT_EQ(shortcuts->getShortcut(togglePanelName()), shiftCommandV);
    EXPECT_TRUE(shortcuts->registeredShortcuts().contains(shiftCommandV));
    EXPECT_EQ(shortcuts->hotKeyRegistry().hotKeys().size(), 1u);

    // Listed, so attaching an action does not retry it; only storing anew does.
    shortcuts->onKeyUp(togglePanelName(), record("up"));
    EXPECT_EQ(platform.attempts.size(), 4);
    platform.refused.clear();
    shortcuts->setShortcut(shiftCommandV, togglePanelName());
    EXPECT_EQ(platform.attempts.size(), 5);
    EXPECT_EQ(platform.registration(Key::v, modShift | modSuper)->identifier.id, 5u);
}

TEST_F(HotKeyDispatchTest, TwoNamesShareOneRegistrationRunInOrderAndDispatchReadsTheStoredShortcut)
{
    defaults.setString(first.userDefaultsKey(), controlA.toJson());
    shortcuts->onKeyDown(second, record("second"));  // nothing stored: nothing registered
    shortcuts->onKeyDown(first, record("first"));    // registers the stored shortcut, once
    shortcuts->onKeyDown(second, record("second again"));
    shortcuts->onKeyUp(first, record("up"));
    shortcuts->setShortcut(controlA, second);
    EXPECT_EQ(platform.attempts.size(), 1);

    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(ran, (QStringList{"second", "second again", "first"}));
    EXPECT_EQ(platform.release(Key::a, modControl), 0);
    EXPECT_EQ(ran.last(), "up");

    // Moving one name away leaves the other one's shortcut working.
    ran.clear();
    shortcuts->setShortcut(optionX, first);
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(platform.press(Key::x, modAlt), 0);
    EXPECT_EQ(ran, (QStringList{"second", "second again", "first"}));
    shortcuts->setShortcut(std::nullopt, first);
    EXPECT_TRUE(platform.registration(Key::a, modControl).has_value());
    EXPECT_FALSE(platform.registration(Key::x, modAlt).has_value());

    // The stored shortcut is read when the event arrives, and an action may change shortcuts and attach actions.
    ran.clear();
    shortcuts->setShortcut(std::nullopt, second);
    shortcuts->setShortcut(controlA, first);
    // Changed behind the module's back: the registration still fires, but the name no longer matches.
    for (const QVariant& changed : {QVariant(optionX.toJson()), QVariant("not json"), QVariant(false)}) {
        defaults.values.insert(first.userDefaultsKey(), changed);
        EXPECT_EQ(platform.press(Key::a, modControl), 0);
    }
    EXPECT_TRUE(ran.isEmpty());
    defaults.setString(first.userDefaultsKey(), controlA.toJson());
    shortcuts->onKeyDown(first, [this] {
        shortcuts->onKeyDown(first, record("late"));
        shortcuts->setShortcut(optionX, first);
    });
    shortcuts->onKeyDown(first, record("third"));
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(ran, (QStringList{"first", "third"}));
    EXPECT_FALSE(platform.registration(Key::a, modControl).has_value());
    EXPECT_TRUE(platform.registration(Key::x, modAlt).has_value());
}

TEST_F(HotKeyDispatchTest, WhilePausedNothingRunsAndTheKeysAreLeftToTheRecorder)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, record("down"));
    shortcuts->onKeyUp(first, record("up"));

    shortcuts->setPaused(true);
    EXPECT_TRUE(platform.active.isEmpty()) << "a grabbed key would never reach the recorder";
    EXPECT_EQ(platform.press(Key::a, modControl), std::nullopt);
    // An event already on its way, or a direct dispatch, runs nothing either.
    EXPECT_EQ(platform.deliver(HotKeyEventKind::pressed, {hkrg, 1}), 0);
    shortcuts->handleOnKeyUp(controlA);
    EXPECT_TRUE(ran.isEmpty());

    shortcuts->setPaused(false);
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{1}));
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(platform.release(Key::a, modControl), 0);
    EXPECT_EQ(ran, (QStringList{"down", "up"}));
}

TEST_F(HotKeyDispatchTest, TheHandlerAnswersOnlyForItsOwnHotKeysAndNotAtAllOnceTheModuleIsGone)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, record("down"));
    shortcuts->onKeyUp(first, record("up"));
    auto& registry = const_cast<HotKeyRegistry&>(shortcuts->hotKeyRegistry());

    using Event = HotKeyRegistry::Event;
    constexpr int notHandled = hotKeyNotHandled;
    const std::tuple<const char*, std::optional<Event>, int, QStringList> cases[] = {
        {"no event", std::nullopt, notHandled, {}},
        {"pressed", Event{5, HotKeyIdentifier{hkrg, 1}, {}, {}}, 0, {"down"}},
        {"released", Event{6, HotKeyIdentifier{hkrg, 1}, {}, {}}, 0, {"up"}},
        {"other signature", Event{5, HotKeyIdentifier{0x41424344, 1}, {}, {}}, notHandled, {}},
        {"unknown id", Event{5, HotKeyIdentifier{hkrg, 7}, {}, {}}, notHandled, {}},
        {"raw down", Event{1, {}, Key::a, modControl}, 0, {"down"}},
        // Caps lock (0x400) and the right-hand bits are not modifiers of a shortcut.
        {"raw with lock bits", Event{1, {}, Key::a, modControl | 0x400 | 0x8000}, 0, {"down"}},
        {"raw other modifiers", Event{1, {}, Key::a, modControl | modShift}, notHandled, {}},
        {"raw other key", Event{1, {}, Key::x, modControl}, notHandled, {}},
        {"other kind", Event{2, HotKeyIdentifier{hkrg, 1}, Key::a, modControl}, notHandled, {}},
    };
    for (const auto& [what, event, status, expected] : cases) {
        SCOPED_TRACE(what);
        ran.clear();
        EXPECT_EQ(registry.handleEvent(event ? &*event : nullptr), status);
        EXPECT_EQ(ran, expected);
    }
    // Destroyed, the module releases its grabs and its handler answers for nothing.
    const auto handler = platform.handler;
    shortcuts.reset();
    EXPECT_TRUE(platform.active.isEmpty());
    EXPECT_EQ(handler(HotKeyEventKind::pressed, {hkrg, 1}), hotKeyNotHandled);
    EXPECT_TRUE(ran.isEmpty());
}

class KeyCounter final : public QWidget {
public:
    int keys = 0;

protected:
    bool event(QEvent* e) override
    {
        return e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease ? ++keys : QWidget::event(e);
    }
};

// While a menu holds the keyboard, grabs are released and the shortcut is taken from the key events.
TEST_F(HotKeyDispatchTest, TheManagerTogglesOnReleaseAndWhileAMenuTracksTakesTheShortcutFromKeyEvents)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a widget application (NIMBREL_TEST_GUI=1)";
    KeyCounter widget;
    // True when the event was claimed (an override) or taken before it reached the widget.
    const auto send = [&widget](QEvent::Type type, int keyCode, int keyModifiers, bool autoRepeat = false) {
        QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, quint32(*x11KeycodeFromKeyCode(keyCode)), 0,
                        x11StateFromModifiers(keyModifiers), QString(), autoRepeat);
        event.ignore();
        const int before = widget.keys;
        QCoreApplication::sendEvent(&widget, &event);
        return type == QEvent::ShortcutOverride ? event.isAccepted() : widget.keys == before;
    };
    int triggered = 0;
    auto gone = std::make_unique<HotkeyManager>(*shortcuts);
    gone->setOnTrigger([&triggered] { triggered += 100; });
    gone.reset();  // a destroyed manager's action does nothing
    HotkeyManager manager(*shortcuts);
    manager.setOnTrigger([&triggered] { ++triggered; });
    // The manager follows a recorded replacement, and a cleared shortcut fires nothing.
    shortcuts->setShortcut(optionX, togglePanelName());
    EXPECT_EQ(platform.release(Key::x, modAlt), 0);
    shortcuts->setShortcut(std::nullopt, togglePanelName());
    EXPECT_EQ(platform.release(Key::x, modAlt), std::nullopt);
    shortcuts->handleOnKeyUp(optionX);
    EXPECT_EQ(triggered, 1);

    shortcuts->setShortcut(shiftCommandV, first);
    shortcuts->onKeyDown(first, record("down"));
    shortcuts->onKeyUp(first, record("up"));
    shortcuts->setShortcut(shiftCommandV, togglePanelName());
    shortcuts->menuDidBeginTracking();
    shortcuts->menuDidBeginTracking();  // a submenu, or the panel over the menu
    shortcuts->menuDidEndTracking();
    EXPECT_TRUE(shortcuts->isMenuOpen());
    EXPECT_TRUE(platform.active.isEmpty());
    EXPECT_FALSE(platform.eventsEnabled);

    EXPECT_FALSE(send(QEvent::KeyPress, Key::a, 0));
    EXPECT_TRUE(send(QEvent::ShortcutOverride, Key::v, 768)) << "claimed, so no menu or application shortcut acts";
    EXPECT_FALSE(send(QEvent::ShortcutOverride, Key::a, 0));
    EXPECT_TRUE(ran.isEmpty()) << "an override only claims the key";
    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768));
    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768, true)) << "auto-repeat is taken but dispatches nothing";
    EXPECT_EQ(ran, QStringList{"down"});
    EXPECT_EQ(triggered, 1) << "only on the release";
    // Released after shift was let go: still the shortcut's release, and only that one.
    EXPECT_TRUE(send(QEvent::KeyRelease, Key::v, modShift));
    EXPECT_EQ(ran, (QStringList{"down", "up"}));
    EXPECT_EQ(triggered, 2);
    EXPECT_FALSE(send(QEvent::KeyRelease, Key::v, 0));
    EXPECT_FALSE(send(QEvent::KeyRelease, Key::v, modShift)) << "V with other modifiers is not the shortcut";

    shortcuts->menuDidEndTracking();
    shortcuts->menuDidEndTracking();
    EXPECT_FALSE(shortcuts->isMenuOpen());
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{3}));
    EXPECT_TRUE(platform.eventsEnabled);
    EXPECT_FALSE(send(QEvent::KeyPress, Key::v, 768)) << "once tracking ended, the application gets its keys";
    shortcuts->menuDidBeginTracking();
    EXPECT_TRUE(shortcuts->isMenuOpen()) << "a stray end does not leave tracking one behind";
    shortcuts->menuDidEndTracking();
}

}  // namespace
}  // namespace nimbrel::KeyboardShortcuts
