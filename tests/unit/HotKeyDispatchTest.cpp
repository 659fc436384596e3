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
#include <ostream>
#include <vector>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace nimbrel::KeyboardShortcuts {

inline void PrintTo(const Shortcut& shortcut, std::ostream* os)
{
    *os << "Shortcut{" << shortcut.keyCode << ", " << shortcut.keyModifiers << "}";
}

namespace {

constexpr quint32 hkrg = 0x484B5247;
const Shortcut shiftCommandV(Key::v, modShift | modSuper);
const Shortcut controlA(Key::a, modControl);
const Shortcut optionX(Key::x, modAlt);
const Shortcut commandC(Key::c, modSuper);

class HotKeyDispatchTest : public ::testing::Test {
protected:
    HotKeyDispatchTest()
    {
        layout.texts = {{Key::v, QStringLiteral("v")},
                        {Key::a, QStringLiteral("a")},
                        {Key::x, QStringLiteral("x")},
                        {Key::c, QStringLiteral("c")}};
        shortcuts = std::make_unique<Shortcuts>(defaults, platform, layout, console);
    }

    // Actions that write what ran into `ran`.
    Shortcuts::Action record(QString what)
    {
        return [this, what] { ran.append(what); };
    }

    QList<quint32> attemptedIds() const
    {
        QList<quint32> ids;
        for (const auto& attempt : platform.attempts)
            ids.append(attempt.identifier.id);
        return ids;
    }

    fake::MemoryDefaults defaults;
    fake::FakeHotKeyPlatform platform;
    fake::FakeKeyboardLayout layout;
    fake::RecordingConsole console;
    std::unique_ptr<Shortcuts> shortcuts;
    QStringList ran;
    const Name first{QStringLiteral("first"), std::nullopt};
    const Name second{QStringLiteral("second"), std::nullopt};
};

TEST_F(HotKeyDispatchTest, IdsStartAtOneCarryTheSignatureAndAreNeverReused)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->setShortcut(optionX, first);
    shortcuts->setShortcut(commandC, first);

    EXPECT_EQ(attemptedIds(), (QList<quint32>{1, 2, 3}));
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{3}));
    for (const auto& attempt : platform.attempts)
        EXPECT_EQ(attempt.identifier.signature, hkrg);

    shortcuts->setShortcut(shiftCommandV, first);
    EXPECT_EQ(platform.attempts.last().identifier.id, 4u);
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{4}));
    EXPECT_EQ(shortcuts->hotKeyRegistry().hotKeyIdCounter(), 4u);
    // Storing the same shortcut again registers it afresh under a new id.
    shortcuts->setShortcut(shiftCommandV, first);
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{5}));
}

TEST_F(HotKeyDispatchTest, ARefusedGrabWritesTheLineAndStaysStoredAndListed)
{
    platform.refused.insert({Key::v, modShift | modSuper});

    shortcuts->declare(togglePanelName());

    EXPECT_EQ(console.lines, QStringList{QStringLiteral("Error registering hotkey Shift+Super+V: -9878")});
    EXPECT_EQ(shortcuts->getShortcut(togglePanelName()), shiftCommandV);
    EXPECT_TRUE(shortcuts->registeredShortcuts().contains(shiftCommandV));
    EXPECT_TRUE(shortcuts->hotKeyRegistry().hotKeys().empty());
    EXPECT_EQ(platform.installAttempts, 0) << "the handler comes with the first successful registration";

    // Listed, so attaching an action does not retry it; only storing anew does.
    shortcuts->onKeyUp(togglePanelName(), record(QStringLiteral("up")));
    EXPECT_EQ(platform.attempts.size(), 1);
    platform.refused.clear();
    shortcuts->setShortcut(shiftCommandV, togglePanelName());
    EXPECT_EQ(platform.attempts.size(), 2);
    EXPECT_EQ(platform.attempts.last().identifier.id, 2u);
    EXPECT_TRUE(platform.registration(Key::v, modShift | modSuper).has_value());
}

TEST_F(HotKeyDispatchTest, TheRefusalLineCarriesTheStatusAsASignedNumber)
{
    platform.refused.insert({Key::a, modControl});
    platform.refused.insert({Key::x, modAlt | modSuper});
    platform.refusalStatus = -9879;
    shortcuts->setShortcut(controlA, first);
    platform.refusalStatus = 2147483647;
    shortcuts->setShortcut(Shortcut(Key::x, modAlt | modSuper), second);

    EXPECT_EQ(console.lines, (QStringList{QStringLiteral("Error registering hotkey Ctrl+A: -9879"),
                                          QStringLiteral("Error registering hotkey Alt+Super+X: 2147483647")}));
}

TEST_F(HotKeyDispatchTest, TheEventHandlerIsInstalledWithTheFirstSuccessAndRetriedUntilItWorks)
{
    platform.failNextInstall = true;

    shortcuts->setShortcut(controlA, first);
    EXPECT_EQ(platform.installAttempts, 1);
    EXPECT_FALSE(shortcuts->hotKeyRegistry().hasEventHandler());
    EXPECT_EQ(shortcuts->hotKeyRegistry().hotKeys().size(), 1u) << "the registration stands";
    EXPECT_FALSE(platform.eventsEnabled);

    shortcuts->setShortcut(optionX, second);
    EXPECT_EQ(platform.installAttempts, 2);
    EXPECT_TRUE(shortcuts->hotKeyRegistry().hasEventHandler());
    EXPECT_TRUE(platform.eventsEnabled);

    shortcuts->setShortcut(commandC, second);
    EXPECT_EQ(platform.installAttempts, 2) << "installed once, never again";

    // Both registrations work, including the one made before the handler existed.
    shortcuts->onKeyDown(first, record(QStringLiteral("first")));
    shortcuts->onKeyDown(second, record(QStringLiteral("second")));
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(platform.press(Key::c, modSuper), 0);
    EXPECT_EQ(ran, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
}

TEST_F(HotKeyDispatchTest, KeyDownActionsRunOnPressAndKeyUpActionsOnRelease)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, record(QStringLiteral("down")));
    shortcuts->onKeyUp(first, record(QStringLiteral("up")));
    shortcuts->onKeyUp(first, record(QStringLiteral("up again")));

    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(ran, QStringList{QStringLiteral("down")});
    EXPECT_EQ(platform.release(Key::a, modControl), 0);
    EXPECT_EQ(ran, (QStringList{QStringLiteral("down"), QStringLiteral("up"), QStringLiteral("up again")}));
}

TEST_F(HotKeyDispatchTest, AttachingAnActionRegistersTheStoredShortcutOnce)
{
    defaults.setString(first.userDefaultsKey(), controlA.toJson());

    shortcuts->onKeyDown(first, record(QStringLiteral("a")));
    shortcuts->onKeyUp(first, record(QStringLiteral("b")));

    EXPECT_EQ(platform.attempts.size(), 1);
    EXPECT_EQ(shortcuts->registeredShortcuts(), QSet<Shortcut>{controlA});
    // A name with nothing stored registers nothing.
    shortcuts->onKeyDown(second, record(QStringLiteral("c")));
    EXPECT_EQ(platform.attempts.size(), 1);
}

TEST_F(HotKeyDispatchTest, TwoNamesOnOneShortcutShareOneRegistrationAndBothRunInOrder)
{
    shortcuts->onKeyDown(second, record(QStringLiteral("second")));
    shortcuts->onKeyDown(first, record(QStringLiteral("first")));
    shortcuts->onKeyDown(second, record(QStringLiteral("second again")));
    shortcuts->setShortcut(controlA, first);
    shortcuts->setShortcut(controlA, second);

    EXPECT_EQ(platform.active.size(), 1);
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(ran, (QStringList{QStringLiteral("second"), QStringLiteral("second again"), QStringLiteral("first")}));

    // Moving one name away leaves the other one's shortcut working.
    ran.clear();
    shortcuts->setShortcut(optionX, first);
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(platform.press(Key::x, modAlt), 0);
    EXPECT_EQ(ran, (QStringList{QStringLiteral("second"), QStringLiteral("second again"), QStringLiteral("first")}));
    shortcuts->setShortcut(std::nullopt, first);
    EXPECT_TRUE(platform.registration(Key::a, modControl).has_value());
    EXPECT_FALSE(platform.registration(Key::x, modAlt).has_value());
}

TEST_F(HotKeyDispatchTest, DispatchReadsTheStoredShortcutWhenTheEventArrives)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, record(QStringLiteral("first")));

    // Changed behind the module's back: the registration still fires, but the name no longer matches.
    defaults.setString(first.userDefaultsKey(), optionX.toJson());
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    defaults.setString(first.userDefaultsKey(), QStringLiteral("not json"));
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    defaults.setBool(first.userDefaultsKey(), false);
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_TRUE(ran.isEmpty());

    defaults.setString(first.userDefaultsKey(), controlA.toJson());
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(ran, QStringList{QStringLiteral("first")});
}

TEST_F(HotKeyDispatchTest, AnActionMayChangeShortcutsAndAttachActionsWhileDispatching)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, [this] {
        ran.append(QStringLiteral("first"));
        shortcuts->onKeyDown(first, record(QStringLiteral("late")));
        shortcuts->setShortcut(optionX, first);
    });
    shortcuts->onKeyDown(first, record(QStringLiteral("first 2")));

    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(ran, (QStringList{QStringLiteral("first"), QStringLiteral("first 2")}));
    EXPECT_FALSE(platform.registration(Key::a, modControl).has_value());
    EXPECT_TRUE(platform.registration(Key::x, modAlt).has_value());
}

TEST_F(HotKeyDispatchTest, WhilePausedNothingRunsAndTheKeysAreLeftToTheRecorder)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, record(QStringLiteral("down")));
    shortcuts->onKeyUp(first, record(QStringLiteral("up")));

    shortcuts->setPaused(true);
    EXPECT_TRUE(shortcuts->isPaused());
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
    EXPECT_EQ(ran, (QStringList{QStringLiteral("down"), QStringLiteral("up")}));
}

TEST_F(HotKeyDispatchTest, DisablingReleasesEveryHotKeyAndEnablingRestoresTheOldIds)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->setShortcut(optionX, second);
    shortcuts->onKeyDown(first, record(QStringLiteral("first")));
    ASSERT_EQ(platform.activeIds(), (QList<quint32>{1, 2}));

    shortcuts->setEnabled(false);
    EXPECT_FALSE(shortcuts->isEnabled());
    EXPECT_TRUE(platform.active.isEmpty());
    EXPECT_FALSE(platform.eventsEnabled);
    EXPECT_EQ(shortcuts->hotKeyRegistry().hotKeys().size(), 2u);
    EXPECT_EQ(platform.press(Key::a, modControl), std::nullopt);

    const auto attempts = platform.attempts.size();
    shortcuts->setEnabled(false);
    EXPECT_EQ(platform.attempts.size(), attempts);

    shortcuts->setEnabled(true);
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{1, 2}));
    EXPECT_TRUE(platform.eventsEnabled);
    EXPECT_EQ(platform.press(Key::a, modControl), 0);
    EXPECT_EQ(ran, QStringList{QStringLiteral("first")});
    EXPECT_EQ(shortcuts->hotKeyRegistry().hotKeyIdCounter(), 2u);
}

TEST_F(HotKeyDispatchTest, AHotKeyRefusedOnReRegistrationIsDroppedButStaysListed)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->setShortcut(optionX, second);
    shortcuts->setEnabled(false);
    platform.refused.insert({Key::a, modControl});

    shortcuts->setEnabled(true);

    EXPECT_EQ(console.lines, QStringList{QStringLiteral("Error registering hotkey Ctrl+A: -9878")});
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{2}));
    ASSERT_EQ(shortcuts->hotKeyRegistry().hotKeys().size(), 1u);
    EXPECT_EQ(shortcuts->hotKeyRegistry().hotKeys().begin()->first, 2u);
    EXPECT_TRUE(shortcuts->registeredShortcuts().contains(controlA));

    // Not retried on the next switch either.
    shortcuts->setEnabled(false);
    platform.refused.clear();
    shortcuts->setEnabled(true);
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{2}));
}

TEST_F(HotKeyDispatchTest, TheHandlerAnswersOnlyForItsOwnHotKeys)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, record(QStringLiteral("down")));
    shortcuts->onKeyUp(first, record(QStringLiteral("up")));
    const HotKeyRegistry& constRegistry = shortcuts->hotKeyRegistry();
    auto& registry = const_cast<HotKeyRegistry&>(constRegistry);

    using Event = HotKeyRegistry::Event;
    struct Case {
        const char* what;
        std::optional<Event> event;
        int status;
        QStringList ran;
    };
    const std::vector<Case> cases{
        {"no event", std::nullopt, hotKeyNotHandled, {}},
        {"pressed", Event{5, HotKeyIdentifier{hkrg, 1}, {}, {}}, 0, {QStringLiteral("down")}},
        {"released", Event{6, HotKeyIdentifier{hkrg, 1}, {}, {}}, 0, {QStringLiteral("up")}},
        {"other signature", Event{5, HotKeyIdentifier{0x41424344, 1}, {}, {}}, hotKeyNotHandled, {}},
        {"unknown id", Event{5, HotKeyIdentifier{hkrg, 7}, {}, {}}, hotKeyNotHandled, {}},
        {"hot key without id", Event{6, std::nullopt, {}, {}}, -9870, {}},
        {"raw down", Event{1, {}, Key::a, modControl}, 0, {QStringLiteral("down")}},
        {"raw up", Event{3, {}, Key::a, modControl}, 0, {QStringLiteral("up")}},
        // Caps lock (0x400) and the right-hand bits are not modifiers of a shortcut.
        {"raw with lock bits", Event{1, {}, Key::a, modControl | 0x400 | 0x8000}, 0, {QStringLiteral("down")}},
        {"raw other modifiers", Event{1, {}, Key::a, modControl | modShift}, hotKeyNotHandled, {}},
        {"raw other key", Event{1, {}, Key::x, modControl}, hotKeyNotHandled, {}},
        {"raw without modifiers", Event{3, {}, Key::a, std::nullopt}, -9870, {}},
        {"raw without key", Event{3, {}, std::nullopt, modControl}, -9870, {}},
        {"other kind", Event{2, HotKeyIdentifier{hkrg, 1}, Key::a, modControl}, hotKeyNotHandled, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ran.clear();
        EXPECT_EQ(registry.handleEvent(c.event ? &*c.event : nullptr), c.status);
        EXPECT_EQ(ran, c.ran);
    }
    EXPECT_EQ(platform.deliver(HotKeyEventKind::released, {hkrg, 1}), 0);
}

TEST_F(HotKeyDispatchTest, DestroyingTheModuleReleasesItsGrabsAndSilencesItsHandler)
{
    shortcuts->setShortcut(controlA, first);
    shortcuts->onKeyDown(first, record(QStringLiteral("down")));
    const auto handler = platform.handler;

    shortcuts.reset();

    EXPECT_TRUE(platform.active.isEmpty());
    EXPECT_EQ(handler(HotKeyEventKind::pressed, {hkrg, 1}), hotKeyNotHandled);
    EXPECT_TRUE(ran.isEmpty());
}

TEST_F(HotKeyDispatchTest, TheManagerTogglesOnReleaseOnly)
{
    HotkeyManager manager(*shortcuts);
    int triggered = 0;

    // First launch: the default is stored and registered by the manager's declaration.
    EXPECT_EQ(defaults.values.value(QStringLiteral("KeyboardShortcuts_togglePanel")).toString(),
              QStringLiteral("{\"carbonKeyCode\":9,\"carbonModifiers\":768}"));
    EXPECT_EQ(platform.press(Key::v, 768), 0);
    EXPECT_EQ(platform.release(Key::v, 768), 0) << "no trigger set yet: nothing happens";

    manager.setOnTrigger([&triggered] { ++triggered; });
    EXPECT_EQ(platform.press(Key::v, 768), 0);
    EXPECT_EQ(triggered, 0) << "holding the shortcut does nothing";
    EXPECT_EQ(platform.release(Key::v, 768), 0);
    EXPECT_EQ(triggered, 1);
    EXPECT_EQ(platform.press(Key::v, 768), 0);
    EXPECT_EQ(platform.release(Key::v, 768), 0);
    EXPECT_EQ(triggered, 2);

    // A recorded replacement is followed without touching the manager.
    shortcuts->setShortcut(Shortcut(Key::x, modControl), togglePanelName());
    EXPECT_EQ(platform.release(Key::x, modControl), 0);
    EXPECT_EQ(triggered, 3);
    // Cleared: nothing fires.
    shortcuts->setShortcut(std::nullopt, togglePanelName());
    EXPECT_EQ(platform.release(Key::x, modControl), std::nullopt);
    shortcuts->handleOnKeyUp(Shortcut(Key::x, modControl));
    EXPECT_EQ(triggered, 3);
}

TEST_F(HotKeyDispatchTest, ADestroyedManagersActionDoesNothing)
{
    int triggered = 0;
    auto manager = std::make_unique<HotkeyManager>(*shortcuts);
    manager->setOnTrigger([&triggered] { ++triggered; });
    manager.reset();

    EXPECT_EQ(platform.press(Key::v, 768), 0);
    EXPECT_EQ(platform.release(Key::v, 768), 0);
    EXPECT_EQ(triggered, 0);

    // A new manager attaches its own action; the old one stays attached and inert.
    HotkeyManager next(*shortcuts);
    next.setOnTrigger([&triggered] { ++triggered; });
    EXPECT_EQ(platform.release(Key::v, 768), 0);
    EXPECT_EQ(triggered, 1);
}

// Records the key events that reach it.
class KeyRecorder final : public QWidget {
public:
    struct Seen {
        QEvent::Type type;
        quint32 scanCode;
        bool autoRepeat;
        friend bool operator==(const Seen&, const Seen&) = default;
    };
    QList<Seen> seen;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
            const auto* key = static_cast<QKeyEvent*>(e);
            seen.append({e->type(), key->nativeScanCode(), key->isAutoRepeat()});
            return true;
        }
        return QWidget::event(e);
    }
};

class MenuTrackingTest : public HotKeyDispatchTest {
protected:
    void SetUp() override
    {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            GTEST_SKIP() << "needs a widget application (NIMBREL_TEST_GUI=1)";
        widget = std::make_unique<KeyRecorder>();
        shortcuts->setShortcut(shiftCommandV, first);
        shortcuts->onKeyDown(first, record(QStringLiteral("down")));
        shortcuts->onKeyUp(first, record(QStringLiteral("up")));
    }

    static quint32 x11Key(int keyCode) { return quint32(*x11KeycodeFromKeyCode(keyCode)); }

    // Sends a key event with X11 native data; true when it was consumed before reaching the widget.
    bool send(QEvent::Type type, int keyCode, int keyModifiers, bool autoRepeat = false)
    {
        QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, x11Key(keyCode), 0,
                        x11StateFromModifiers(keyModifiers), QString(), autoRepeat);
        const auto before = widget->seen.size();
        QCoreApplication::sendEvent(widget.get(), &event);
        return widget->seen.size() == before;
    }

    std::unique_ptr<KeyRecorder> widget;
};

TEST_F(MenuTrackingTest, HotKeysAreReleasedWhileTrackingAndComeBackUnderTheSameIds)
{
    ASSERT_EQ(platform.activeIds(), (QList<quint32>{1}));

    shortcuts->menuDidBeginTracking();
    EXPECT_TRUE(shortcuts->isMenuOpen());
    EXPECT_TRUE(platform.active.isEmpty());
    EXPECT_FALSE(platform.eventsEnabled);
    EXPECT_TRUE(shortcuts->hotKeyRegistry().isWatchingApplicationKeys());

    shortcuts->menuDidEndTracking();
    EXPECT_FALSE(shortcuts->isMenuOpen());
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{1}));
    EXPECT_TRUE(platform.eventsEnabled);
    EXPECT_FALSE(shortcuts->hotKeyRegistry().isWatchingApplicationKeys());
    // Once tracking ended, the shortcut's key events reach the application untouched.
    EXPECT_FALSE(send(QEvent::KeyPress, Key::v, 768));
    EXPECT_TRUE(ran.isEmpty());
}

TEST_F(MenuTrackingTest, TheShortcutIsTakenFromTheMenusKeyEventsAndOtherKeysPassInOrder)
{
    shortcuts->menuDidBeginTracking();

    EXPECT_FALSE(send(QEvent::KeyPress, Key::a, 0));
    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768));
    EXPECT_EQ(ran, QStringList{QStringLiteral("down")});
    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768, true)) << "auto-repeat is taken but dispatches nothing";
    EXPECT_EQ(ran, QStringList{QStringLiteral("down")});
    EXPECT_FALSE(send(QEvent::KeyRelease, Key::a, 0));
    EXPECT_FALSE(send(QEvent::KeyPress, Key::v, modShift));
    EXPECT_FALSE(send(QEvent::KeyRelease, Key::v, modShift)) << "V with other modifiers is not the shortcut";
    EXPECT_TRUE(send(QEvent::KeyRelease, Key::v, 768));
    EXPECT_EQ(ran, (QStringList{QStringLiteral("down"), QStringLiteral("up")}));
    EXPECT_FALSE(send(QEvent::KeyPress, Key::returnKey, 0));

    using Seen = KeyRecorder::Seen;
    EXPECT_EQ(widget->seen, (QList<Seen>{{QEvent::KeyPress, x11Key(Key::a), false},
                                         {QEvent::KeyRelease, x11Key(Key::a), false},
                                         {QEvent::KeyPress, x11Key(Key::v), false},
                                         {QEvent::KeyRelease, x11Key(Key::v), false},
                                         {QEvent::KeyPress, x11Key(Key::returnKey), false}}));
    shortcuts->menuDidEndTracking();
}

TEST_F(MenuTrackingTest, TheReleaseCountsWhenAModifierWasLetGoFirst)
{
    shortcuts->menuDidBeginTracking();

    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768));
    EXPECT_TRUE(send(QEvent::KeyRelease, Key::v, modShift));
    EXPECT_EQ(ran, (QStringList{QStringLiteral("down"), QStringLiteral("up")}));
    // Only that one release: a later bare V release is the menu's.
    EXPECT_FALSE(send(QEvent::KeyRelease, Key::v, 0));
    shortcuts->menuDidEndTracking();
}

TEST_F(MenuTrackingTest, AShortcutOverrideForTheShortcutIsClaimed)
{
    shortcuts->menuDidBeginTracking();

    QKeyEvent ours(QEvent::ShortcutOverride, Qt::Key_V, Qt::ShiftModifier | Qt::MetaModifier, x11Key(Key::v), 0,
                   x11StateFromModifiers(768));
    ours.ignore();
    EXPECT_TRUE(QCoreApplication::sendEvent(widget.get(), &ours));
    EXPECT_TRUE(ours.isAccepted());
    QKeyEvent other(QEvent::ShortcutOverride, Qt::Key_A, Qt::NoModifier, x11Key(Key::a), 0, 0);
    other.ignore();
    QCoreApplication::sendEvent(widget.get(), &other);
    EXPECT_FALSE(other.isAccepted());
    EXPECT_TRUE(ran.isEmpty()) << "the override only claims the key; the press dispatches";
    shortcuts->menuDidEndTracking();
}

TEST_F(MenuTrackingTest, NestedTrackingEndsWithTheOutermostAndExtraEndsAreIgnored)
{
    shortcuts->menuDidBeginTracking();
    shortcuts->menuDidBeginTracking();  // a submenu, or the panel over the menu
    shortcuts->menuDidEndTracking();
    EXPECT_TRUE(shortcuts->isMenuOpen());
    EXPECT_TRUE(platform.active.isEmpty());
    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768));

    shortcuts->menuDidEndTracking();
    shortcuts->menuDidEndTracking();
    EXPECT_FALSE(shortcuts->isMenuOpen());
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{1}));
    shortcuts->menuDidBeginTracking();
    EXPECT_TRUE(shortcuts->isMenuOpen()) << "a stray end does not leave tracking one behind";
    shortcuts->menuDidEndTracking();
}

TEST_F(MenuTrackingTest, DisabledWhileTrackingWatchesNothing)
{
    shortcuts->menuDidBeginTracking();
    shortcuts->setEnabled(false);
    EXPECT_FALSE(shortcuts->hotKeyRegistry().isWatchingApplicationKeys());
    EXPECT_FALSE(send(QEvent::KeyPress, Key::v, 768));
    EXPECT_TRUE(ran.isEmpty());

    shortcuts->setEnabled(true);
    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768));
    shortcuts->menuDidEndTracking();
    EXPECT_EQ(platform.activeIds(), (QList<quint32>{1}));
}

TEST_F(MenuTrackingTest, TheManagerTogglesFromTheMenuOnRelease)
{
    HotkeyManager manager(*shortcuts);
    int triggered = 0;
    manager.setOnTrigger([&triggered] { ++triggered; });
    shortcuts->setShortcut(shiftCommandV, togglePanelName());

    shortcuts->menuDidBeginTracking();
    EXPECT_TRUE(send(QEvent::KeyPress, Key::v, 768));
    EXPECT_EQ(triggered, 0);
    EXPECT_TRUE(send(QEvent::KeyRelease, Key::v, 768));
    EXPECT_EQ(triggered, 1);
    shortcuts->menuDidEndTracking();
}

}  // namespace
}  // namespace nimbrel::KeyboardShortcuts
