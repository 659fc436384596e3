#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/Recorder.h"
#include "KeyboardShortcuts/RecordingRules.h"
#include "KeyboardShortcuts/ShortcutField.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakePlatform.h"
#include "support/fake/FakeSystemShortcuts.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace nimbrel::KeyboardShortcuts {

namespace {

using Kind = RecorderDecision::Kind;
using Changes = QList<std::optional<Shortcut>>;

const Shortcut shiftCommandV(Key::v, modShift | modSuper), optionX(Key::x, modAlt);
const QString shiftCommandVJson = QStringLiteral(R"({"carbonKeyCode":9,"carbonModifiers":768})");

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest()
    {
        layout.texts = {{Key::v, "v"}, {Key::b, "b"}, {Key::q, "q"}, {Key::w, "w"}, {Key::comma, ","}};
        // Each text in brackets, so every expectation names exactly what the user reads.
        shortcuts.setStrings([](const QString& key) {
            return key == "keyboard_shortcut_used_by_menu_item" ? QString("<menu item %1>") : QString("<" + key + ">");
        });
        shortcuts.declare(name);
        QObject::connect(&shortcuts, &Shortcuts::recorderActiveStatusDidChange, &shortcuts,
                         [this](bool isActive) { statuses.append(isActive); });

        // An item without a shortcut, one a submenu down, one with an alternate combination.
        trayMenu.addAction("关于 Nimbrel");
        trayMenu.addAction("退出 Nimbrel")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        trayMenu.addMenu("更多")->addAction("&Settings…")->setShortcut(QKeySequence(Qt::META | Qt::Key_Comma));
        windowMenu.addAction("关闭窗口")
            ->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});

        const auto alert = [this](QWidget* w, const QString& message, const QString& informative,
                                  const QStringList& buttons) {
            // Asked over the window, never while recording or paused.
            EXPECT_EQ(w, &window);
            EXPECT_FALSE(recording() || shortcuts.isPaused());
            alerts.append(QStringList{message, informative} + buttons);
            if (alertRun)
                alertRun();
            return alertResponse;
        };
        const auto menus = [this] { return QList<QMenu*>{nullptr, &trayMenu, &windowMenu}; };
        row = new Recorder(
            name, {shortcuts, systemShortcuts, menus, alert, [this] { ++beeps; }},
            [this](const std::optional<Shortcut>& s) { changes.append(s); }, new QLabel("Shortcut"), &window);
        next = new QLineEdit(&window);
        elsewhere = new QPushButton("Elsewhere", &window);
        window.resize(420, 240);
        row->setGeometry(20, 60, 380, 40);
        next->setGeometry(20, 180, 150, 24);
        elsewhere->setFocusPolicy(Qt::NoFocus);
        elsewhere->setGeometry(220, 180, 150, 30);
    }

    ShortcutField* recorder() const { return row->control(); }

    void open()
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        // The offscreen platform does not report a window it already had as activated again after a hide.
        QApplication::setActiveWindow(&window);
    }

    // Clicks the field, after showing the shortcut anew and forgetting what was reported.
    void startRecording(bool restore = false)
    {
        if (!window.isVisible() || !window.isActiveWindow())
            open();
        if (restore)
            shortcuts.setShortcut(shiftCommandV, name);
        alerts.clear();
        changes.clear();
        statuses.clear();
        QTest::mouseClick(recorder(), Qt::LeftButton);
        ASSERT_TRUE(recording());
    }

    void press(QKeyCombination key) { QTest::keyClick(recorder(), key.key(), key.keyboardModifiers()); }

    // Whether the recorder records; the global shortcuts are paused exactly then.
    bool recording() const
    {
        EXPECT_EQ(shortcuts.isPaused(), recorder()->isRecording());
        return recorder()->isRecording();
    }

    // What the defaults hold under the name's key: the JSON text or "false".
    QString stored() const { return defaults.values.value(name.userDefaultsKey()).toString(); }

    fake::MemoryDefaults defaults;
    fake::FakeHotKeyPlatform platform;
    fake::FakeKeyboardLayout layout;
    fake::RecordingConsole console;
    fake::SystemShortcutList systemShortcuts;
    Shortcuts shortcuts{defaults, platform, layout, console};
    const Name name{"togglePanel", shiftCommandV};
    QMenu trayMenu, windowMenu;

    // Declared before the window: a recorder that goes away while recording still reports to them.
    QList<bool> statuses;
    Changes changes;
    QList<QStringList> alerts;  // the message, the informative text, then the buttons
    int alertResponse = 1000, beeps = 0;
    std::function<void()> alertRun;  // what else happens while the alert is up

    QWidget window;
    Recorder* row = nullptr;
    QLineEdit* next = nullptr;
    QPushButton* elsewhere = nullptr;
};

TEST_F(RecorderTest, AClickRecordsAClickElsewhereOrLeavingTheWindowEndsItAndTheWindowComingBackDoesNotRestart)
{
    int clicks = 0;
    QObject::connect(elsewhere, &QPushButton::clicked, elsewhere, [&clicks] { ++clicks; });
    open();
    EXPECT_FALSE(recording());
    EXPECT_EQ(recorder()->text(), "Shift+Super+V");
    QTest::mouseClick(recorder(), Qt::LeftButton);
    QTest::mouseClick(recorder(), Qt::LeftButton);  // a second click keeps the one recording going
    EXPECT_TRUE(recording());
    QTest::mouseClick(elsewhere, Qt::LeftButton);
    EXPECT_EQ(clicks, 1) << "the click reaches its target";
    EXPECT_FALSE(recording());
    EXPECT_EQ(stored(), shiftCommandVJson);
    QTest::mouseClick(recorder(), Qt::LeftButton);
    EXPECT_EQ(statuses, (QList<bool>{true, false, true}));

    // Leaving the window ends recording; coming back, or closing and reopening it, does not restart it.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(recording());
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.hide();
    open();
    EXPECT_FALSE(recording());
    EXPECT_EQ(statuses, (QList<bool>{true, false, true, false}));
}

// Nothing would end the recording of a recorder off screen: it must never leave the global shortcuts paused.
TEST_F(RecorderTest, ARecorderThatIsNotShownOrIsDeletedNeverKeepsTheShortcutsPaused)
{
    recorder()->cancelButton()->trigger();  // clears, and does not record
    EXPECT_EQ(stored(), "false");
    EXPECT_FALSE(recording());
    shortcuts.setShortcut(shiftCommandV, name);

    // The window goes away while an alert is up: there is nothing to go back to.
    alertRun = [this] { window.hide(); };
    startRecording();
    press(Qt::CTRL | Qt::Key_Q);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_FALSE(recording());

    // Recording again after the alert while the window has not got the focus back yet, and then the window
    // closes: no focus leaves it, yet recording must end.
    QWidget other;
    alertRun = [&other] {
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    };
    startRecording();
    press(Qt::CTRL | Qt::Key_Q);
    ASSERT_TRUE(recording()) << "another try after the refusal";
    window.hide();
    QApplication::processEvents();
    EXPECT_FALSE(recording());

    alertRun = nullptr;
    startRecording();
    delete row;
    row = nullptr;
    EXPECT_FALSE(shortcuts.isPaused());
    EXPECT_EQ(statuses.count(true), statuses.count(false));
    QTest::keyClick(&window, Qt::Key_F6);  // nobody's business but the window's now
    EXPECT_EQ(stored(), shiftCommandVJson);
}

TEST_F(RecorderTest, EachKeyDoesWhatTheRulesDecide)
{
    const std::tuple<QKeyCombination, const char*, bool, const char*> cases[] = {
        // key, what is stored (null: unchanged), recording afterwards, the text shown
        {Qt::SHIFT | Qt::Key_A, nullptr, true, "Shift+Super+V"},  // no command modifier: a beep
        {QKeyCombination(Qt::Key_Escape), nullptr, false, "Shift+Super+V"},
        {QKeyCombination(Qt::Key_Tab), nullptr, false, "Shift+Super+V"},  // the focus moves on
        {QKeyCombination(Qt::Key_Backspace), "false", true, ""},
        {QKeyCombination(Qt::Key_Delete), "false", true, ""},
        {QKeyCombination(Qt::Key_F6), R"({"carbonKeyCode":97,"carbonModifiers":0})", false, "F6"},
        {Qt::ALT | Qt::Key_Comma, R"({"carbonKeyCode":43,"carbonModifiers":2048})", false, "Alt+,"},
        // The menu's quit item is Ctrl+Q; with shift it is another combination.
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Q, R"({"carbonKeyCode":12,"carbonModifiers":4608})", false, "Shift+Ctrl+Q"},
    };
    int expectedBeeps = 0;
    for (const auto& [combination, json, recordingAfter, text] : cases) {
        SCOPED_TRACE(QKeySequence(combination).toString().toStdString());
        startRecording(true);
        press(combination);
        EXPECT_EQ(recording(), recordingAfter);
        EXPECT_EQ(stored(), json ? QString::fromUtf8(json) : shiftCommandVJson);
        const auto now = shortcuts.getShortcut(name);
        EXPECT_EQ(changes, json ? Changes{now} : Changes{});
        EXPECT_EQ(recorder()->text(), QString::fromUtf8(text));
        EXPECT_EQ(recorder()->cancelButton()->isVisible(), *text != 0);
        EXPECT_TRUE(!now || recordingAfter || platform.registration(now->keyCode, now->keyModifiers));
        EXPECT_EQ(beeps, expectedBeeps += recordingAfter && !json);
        EXPECT_EQ(recorder()->hasFocus(), recordingAfter);
        EXPECT_EQ(next->hasFocus(), combination.key() == Qt::Key_Tab);
        EXPECT_EQ(statuses, (recordingAfter ? QList<bool>{true} : QList<bool>{true, false}));
        if (recording())
            press(QKeyCombination(Qt::Key_Escape));
    }
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(RecorderTest, TheClearButtonClearsAndKeepsRecordingAndTheFieldFollowsItsName)
{
    // Clicked with the mouse while recording: the click inside the field still reaches the button.
    startRecording();
    QToolButton* clear = recorder()->findChild<QToolButton*>();
    ASSERT_TRUE(clear && clear->isVisibleTo(recorder()));
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(stored(), "false");  // the name has a default: false keeps it from coming back
    EXPECT_EQ(changes, Changes{std::nullopt});
    EXPECT_TRUE(recording());
    EXPECT_FALSE(clear->isVisibleTo(recorder()));
    press(QKeyCombination(Qt::Key_Backspace));  // nothing more to clear
    EXPECT_EQ(changes.size(), 1);
    // The field follows its own name's changes only; onChange is for the user's own edits.
    shortcuts.setShortcut(shiftCommandV, name);
    shortcuts.setShortcut(optionX, Name{"other", std::nullopt});
    EXPECT_EQ(recorder()->text(), "Shift+Super+V");
    EXPECT_TRUE(clear->isVisibleTo(recorder()));
    EXPECT_EQ(changes.size(), 1);
}

TEST_F(RecorderTest, AMenuItemsOrTheDesktopsCombinationIsRefusedOrForcedAndRecordingGoesOn)
{
    systemShortcuts.hotKeys = {{Key::b, modControl | modAlt}};
    const QStringList asked{"<keyboard_shortcut_used_by_system>", "<keyboard_shortcuts_can_be_changed>", "<ok>",
                            "<force_use_shortcut>"};
    const std::tuple<QKeyCombination, int, QStringList, const char*> cases[] = {
        // The title without its mnemonic marker, one submenu down, in the second menu, and by the item's alternate.
        {Qt::CTRL | Qt::Key_Q, 1000, {"<menu item 退出 Nimbrel>", ""}, nullptr},
        {Qt::META | Qt::Key_Comma, 1000, {"<menu item Settings…>", ""}, nullptr},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_W, 1000, {"<menu item 关闭窗口>", ""}, nullptr},
        {Qt::CTRL | Qt::Key_F4, 1001, {"<menu item 关闭窗口>", ""}, nullptr},
        // The desktop's: asked, and forced with the second button.
        {Qt::CTRL | Qt::ALT | Qt::Key_B, 1000, asked, nullptr},
        {Qt::CTRL | Qt::ALT | Qt::Key_B, 1001, asked, R"({"carbonKeyCode":11,"carbonModifiers":6144})"},
    };
    for (const auto& [combination, response, texts, forced] : cases) {
        SCOPED_TRACE(QKeySequence(combination).toString().toStdString() + " answered " + std::to_string(response));
        alertResponse = response;
        const int reads = systemShortcuts.reads;
        startRecording(true);
        press(combination);
        ASSERT_EQ(alerts.size(), 1);
        EXPECT_EQ(alerts[0], texts);
        EXPECT_EQ(systemShortcuts.reads > reads, texts == asked) << "the desktop's list is read for every check";
        EXPECT_EQ(stored(), forced ? QString::fromUtf8(forced) : shiftCommandVJson);
        EXPECT_EQ(changes.size(), forced ? 1 : 0);
        // Refused: recording again for another try.
        EXPECT_EQ(recording(), !forced);
        EXPECT_EQ(recorder()->hasFocus(), !forced);
        EXPECT_EQ(statuses, (forced ? QList<bool>{true, false, true, false} : QList<bool>{true, false, true}));
        if (!forced)
            press(QKeyCombination(Qt::Key_Escape));
    }
    EXPECT_EQ(beeps, 0);
}

// The rules alone, for what the widget cannot send on this platform (the function and caps-lock bits, key
// releases), for their order, and for the desktop's F12; matching a menu item is the widget test's.
TEST(RecordingRulesTest, DecidesEachKeyPressInOrder)
{
    const Shortcut controlQ(Key::q, modControl);
    const auto menus = [&](const Shortcut& s) { return s == controlQ ? std::optional<QString>("Quit") : std::nullopt; };
    const QList<Shortcut> desktop{controlQ, {Key::f12, 0}, {Key::f12, modShift}};
    const auto system = [&](const Shortcut& s) { return desktop.contains(s); };

    constexpr quint32 capsLock = 0x10000;
    constexpr auto down = KeyEvent::Type::keyDown, up = KeyEvent::Type::keyUp, other = KeyEvent::Type::other;
    const std::tuple<const char*, KeyEvent, Kind, std::optional<Shortcut>> cases[] = {
        {"release", {up, Key::f6, 0}, Kind::ignore, {}},
        {"modifier key", {other, 0, eventSuper}, Kind::ignore, {}},
        {"tab with caps lock", {down, Key::tab, capsLock}, Kind::passOnAndEnd, {}},
        {"escape on the numeric pad bit", {down, Key::escape, eventKeypad}, Kind::endKeeping, {}},
        {"command escape", {down, Key::escape, eventSuper}, Kind::accept, Shortcut(Key::escape, modSuper)},
        {"control backspace", {down, Key::deleteKey, eventControl}, Kind::accept, Shortcut(Key::deleteKey, 0x1000)},
        {"shift tab", {down, Key::tab, eventShift}, Kind::beep, {}},
        {"letter with caps lock", {down, Key::a, capsLock}, Kind::beep, {}},
        {"letter with function", {down, Key::a, eventFunction}, Kind::beep, {}},
        {"keypad digit", {down, Key::keypad5, eventKeypad}, Kind::beep, {}},
        {"help counts as a command modifier", {down, Key::a, 0x400000}, Kind::accept, Shortcut(Key::a, 0)},
        {"F20 alone", {down, Key::f20, 0}, Kind::accept, Shortcut(Key::f20, 0)},
        {"function bit dropped", {down, Key::f6, eventFunction | eventShift}, Kind::accept, Shortcut(Key::f6, 0x200)},
        {"menu before desktop", {down, Key::q, eventControl}, Kind::menuConflict, controlQ},
        {"plain F12 never asks", {down, Key::f12, eventFunction}, Kind::accept, Shortcut(Key::f12, 0)},
        {"shift F12 asks", {down, Key::f12, eventShift}, Kind::systemConflict, Shortcut(Key::f12, modShift)},
    };
    for (const auto& [what, event, kind, shortcut] : cases) {
        const RecorderDecision decision = decideRecording(event, menus, system);
        EXPECT_EQ(decision.kind, kind) << what;
        EXPECT_EQ(decision.shortcut, shortcut) << what;
        EXPECT_EQ(decision.menuItemTitle, kind == Kind::menuConflict ? "Quit" : "") << what;
    }
    EXPECT_EQ(decideRecording({down, Key::q, eventControl}, {}, {}).kind, Kind::accept) << "no lookups";
}

}  // namespace

}  // namespace nimbrel::KeyboardShortcuts
