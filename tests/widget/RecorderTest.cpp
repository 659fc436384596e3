#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/Recorder.h"
#include "KeyboardShortcuts/ShortcutField.h"
#include "KeyboardShortcuts/RecordingRules.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakePlatform.h"
#include "support/fake/FakeSystemShortcuts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

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

using Kind = RecorderDecision::Kind;

const Shortcut shiftCommandV(Key::v, modShift | modSuper);
const QString shiftCommandVJson = QStringLiteral(R"({"carbonKeyCode":9,"carbonModifiers":768})");

// The module's texts in the test's own wording, so every expectation names exactly what the user reads.
QString testText(const QString& key)
{
    static const QHash<QString, QString> texts{
        {QStringLiteral("record_shortcut"), QStringLiteral("Record Shortcut")},
        {QStringLiteral("press_shortcut"), QStringLiteral("Press Shortcut")},
        {QStringLiteral("keyboard_shortcut_used_by_menu_item"), QStringLiteral("Taken by the menu item “%1”.")},
        {QStringLiteral("keyboard_shortcut_used_by_system"), QStringLiteral("Taken by the desktop.")},
        {QStringLiteral("keyboard_shortcuts_can_be_changed"), QStringLiteral("Change it in the desktop settings.")},
        {QStringLiteral("ok"), QStringLiteral("OK")},
        {QStringLiteral("force_use_shortcut"), QStringLiteral("Use Anyway")},
    };
    return texts.value(key, key);
}

// What the recorder asked the user, and the state it was in while asking.
struct AlertCall {
    QWidget* window = nullptr;
    QString message;
    QString informativeText;
    QStringList buttons;
    bool recordingDuring = false;
    bool pausedDuring = false;
};

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest()
    {
        layout.texts = {{Key::v, QStringLiteral("v")},
                        {Key::b, QStringLiteral("b")},
                        {Key::q, QStringLiteral("q")},
                        {Key::w, QStringLiteral("w")},
                        {Key::comma, QStringLiteral(",")}};
        shortcuts = std::make_unique<Shortcuts>(defaults, platform, layout, console);
        shortcuts->setStrings(testText);
        shortcuts->declare(name);
        QObject::connect(shortcuts.get(), &Shortcuts::recorderActiveStatusDidChange, shortcuts.get(),
                         [this](bool isActive) { statuses.append(isActive); });

        // The tray menu: an item without a shortcut, the quit item, an item on a function key, and a settings
        // item one submenu down.
        trayMenu.addAction(QStringLiteral("关于 Nimbrel"));
        trayMenu.addAction(QStringLiteral("退出 Nimbrel"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        trayMenu.addAction(QStringLiteral("刷新"))->setShortcut(QKeySequence(Qt::Key_F5));
        QMenu* more = trayMenu.addMenu(QStringLiteral("更多"));
        more->addAction(QStringLiteral("&Settings…"))->setShortcut(QKeySequence(Qt::META | Qt::Key_Comma));
        // A second menu whose item has shift, and an alternate combination that triggers it as well.
        windowMenu.addAction(QStringLiteral("关闭窗口"))
            ->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});

        window = std::make_unique<QWidget>();
        window->resize(420, 240);
        row = new Recorder(
            name, environment(), [this](const std::optional<Shortcut>& s) { changes.append(s); },
            new QLabel(QStringLiteral("Shortcut")), window.get());
        row->setGeometry(20, 60, 380, 40);
        next = new QLineEdit(window.get());
        next->setGeometry(20, 180, 150, 24);
        elsewhere = new QPushButton(QStringLiteral("Elsewhere"), window.get());
        elsewhere->setFocusPolicy(Qt::NoFocus);
        elsewhere->setGeometry(220, 180, 150, 30);
        QObject::connect(elsewhere, &QPushButton::clicked, elsewhere, [this] { ++elsewhereClicks; });
    }

    RecorderEnvironment environment()
    {
        return RecorderEnvironment{
            *shortcuts, systemShortcuts,
            [this] {
                return QList<QMenu*>{nullptr, &trayMenu, &windowMenu};
            },
            [this](QWidget* w, const QString& message, const QString& informative, const QStringList& buttons) {
                alerts.append({w, message, informative, buttons, recorder()->isRecording(), shortcuts->isPaused()});
                if (alertRun)
                    alertRun();
                return alertResponse;
            },
            [this] { ++beeps; }};
    }

    ShortcutField* recorder() const { return row->control(); }

    void open()
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // The offscreen platform does not report a window it already had as activated again after a hide.
        if (!window->isActiveWindow())
            QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(window->isActiveWindow());
    }

    void startRecording()
    {
        if (!window->isVisible() || !window->isActiveWindow())
            open();
        QTest::mouseClick(recorder(), Qt::LeftButton);
        ASSERT_TRUE(recorder()->isRecording());
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(recorder(), key, modifiers); }

    // What the defaults hold under the name's key: the JSON text, "false", or "<absent>".
    QString stored(const Name& n) const
    {
        const QVariant value = defaults.values.value(n.userDefaultsKey());
        if (!value.isValid())
            return QStringLiteral("<absent>");
        if (value.typeId() == QMetaType::Bool)
            return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        return value.toString();
    }
    QString stored() const { return stored(name); }

    // The widget that shows the clear button inside the field.
    QToolButton* clearButtonWidget() const
    {
        const auto buttons = recorder()->findChildren<QToolButton*>();
        return buttons.size() == 1 ? buttons.first() : nullptr;
    }

    fake::MemoryDefaults defaults;
    fake::FakeHotKeyPlatform platform;
    fake::FakeKeyboardLayout layout;
    fake::RecordingConsole console;
    fake::SystemShortcutList systemShortcuts;
    std::unique_ptr<Shortcuts> shortcuts;
    const Name name{QStringLiteral("togglePanel"), shiftCommandV};
    QMenu trayMenu;
    QMenu windowMenu;

    // Declared before the window: a recorder that goes away while recording still reports to them.
    QList<bool> statuses;
    QList<std::optional<Shortcut>> changes;
    QList<AlertCall> alerts;
    int alertResponse = 1000;
    std::function<void()> alertRun;  // what else happens while the alert is up
    int beeps = 0;
    int elsewhereClicks = 0;

    std::unique_ptr<QWidget> window;
    Recorder* row = nullptr;
    QLineEdit* next = nullptr;
    QPushButton* elsewhere = nullptr;
};

TEST_F(RecorderTest, ActivatingTheWindowDoesNotRecordAClickDoes)
{
    open();
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_EQ(recorder()->text(), QStringLiteral("Shift+Super+V"));
    EXPECT_EQ(recorder()->placeholderText(), QStringLiteral("Record Shortcut"));

    QTest::mouseClick(recorder(), Qt::LeftButton);
    EXPECT_TRUE(recorder()->isRecording());
    EXPECT_TRUE(shortcuts->isPaused());
    EXPECT_EQ(recorder()->placeholderText(), QStringLiteral("Press Shortcut"));
    EXPECT_EQ(statuses, QList<bool>{true});
    // A second click inside keeps the one recording going.
    QTest::mouseClick(recorder(), Qt::LeftButton);
    EXPECT_TRUE(recorder()->isRecording());
    EXPECT_EQ(statuses, QList<bool>{true});

    press(Qt::Key_F6);
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_EQ(recorder()->placeholderText(), QStringLiteral("Record Shortcut"));
    EXPECT_EQ(statuses, (QList<bool>{true, false}));
}

TEST_F(RecorderTest, LeavingTheWindowEndsRecordingAndComingBackDoesNotRestartIt)
{
    startRecording();
    QWidget other;
    other.resize(100, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_FALSE(recorder()->isRecording());

    // Nor does closing and reopening the window.
    window->hide();
    open();
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_EQ(statuses, (QList<bool>{true, false}));
}

TEST_F(RecorderTest, HidingTheRowEndsRecordingAndShowingItDoesNotRestartIt)
{
    startRecording();
    row->hide();
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    row->show();
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());

    // Nor when it had the focus without recording, as after the window came up.
    QTest::mouseClick(recorder(), Qt::LeftButton);
    press(Qt::Key_Escape);
    recorder()->setFocus(Qt::ActiveWindowFocusReason);
    ASSERT_TRUE(recorder()->hasFocus());
    ASSERT_FALSE(recorder()->isRecording());
    row->hide();
    row->show();
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
}

TEST_F(RecorderTest, ARecorderThatIsNotShownNeverKeepsTheShortcutsPaused)
{
    // The clear button pressed on a recorder that is not on screen clears, and does not record.
    recorder()->cancelButton()->trigger();
    EXPECT_EQ(stored(), QStringLiteral("false"));
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    shortcuts->setShortcut(shiftCommandV, name);

    // The window goes away while an alert is up: there is nothing to go back to.
    alertRun = [this] { window->hide(); };
    startRecording();
    press(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());

    // Recording again after the alert while the window has not got the focus back yet, and then the window
    // closes: no focus leaves it, yet recording must end.
    QWidget other;
    other.resize(100, 100);
    alertRun = [&other] {
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    };
    startRecording();
    press(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(alerts.size(), 2);
    ASSERT_TRUE(recorder()->isRecording()) << "another try after the refusal";
    window->hide();
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    QApplication::processEvents();
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_EQ(statuses.count(true), statuses.count(false));
}

TEST_F(RecorderTest, KeysWithoutACommandModifierBeepAndKeepRecording)
{
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    const Case cases[] = {
        {Qt::Key_A, Qt::NoModifier},     {Qt::Key_A, Qt::ShiftModifier},      {Qt::Key_5, Qt::NoModifier},
        {Qt::Key_Up, Qt::NoModifier},    {Qt::Key_Left, Qt::ShiftModifier},   {Qt::Key_Return, Qt::NoModifier},
        {Qt::Key_Space, Qt::NoModifier}, {Qt::Key_Escape, Qt::ShiftModifier},
    };
    startRecording();
    int expectedBeeps = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(QKeySequence(c.modifiers | c.key).toString().toStdString());
        press(c.key, c.modifiers);
        EXPECT_EQ(beeps, ++expectedBeeps);
        EXPECT_TRUE(recorder()->isRecording());
        EXPECT_TRUE(shortcuts->isPaused());
        EXPECT_EQ(stored(), shiftCommandVJson);
        EXPECT_EQ(recorder()->text(), QStringLiteral("Shift+Super+V"));
    }
    EXPECT_TRUE(changes.isEmpty());
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_EQ(statuses, QList<bool>{true});
}

TEST_F(RecorderTest, AcceptedCombinationsAreStoredAndEndRecording)
{
    // Listed by the desktop, yet a plain F12 is never reported.
    systemShortcuts.hotKeys = {{Key::f12, 0}};
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* json;
        Shortcut shortcut;
        const char* text;
    };
    const Case cases[] = {
        {Qt::Key_F6, Qt::NoModifier, R"({"carbonKeyCode":97,"carbonModifiers":0})", {Key::f6, 0}, "F6"},
        {Qt::Key_F6,
         Qt::ShiftModifier,
         R"({"carbonKeyCode":97,"carbonModifiers":512})",
         {Key::f6, modShift},
         "Shift+F6"},
        {Qt::Key_B,
         Qt::ControlModifier | Qt::AltModifier,
         R"({"carbonKeyCode":11,"carbonModifiers":6144})",
         {Key::b, modControl | modAlt},
         "Ctrl+Alt+B"},
        {Qt::Key_Comma,
         Qt::AltModifier,
         R"({"carbonKeyCode":43,"carbonModifiers":2048})",
         {Key::comma, modAlt},
         "Alt+,"},
        // The menu's quit item is Ctrl+Q; with shift it is another combination.
        {Qt::Key_Q,
         Qt::ControlModifier | Qt::ShiftModifier,
         R"({"carbonKeyCode":12,"carbonModifiers":4608})",
         {Key::q, modControl | modShift},
         "Shift+Ctrl+Q"},
        {Qt::Key_F12, Qt::NoModifier, R"({"carbonKeyCode":111,"carbonModifiers":0})", {Key::f12, 0}, "F12"},
        {Qt::Key_V, Qt::MetaModifier | Qt::ShiftModifier, R"({"carbonKeyCode":9,"carbonModifiers":768})", shiftCommandV,
         "Shift+Super+V"},
    };
    open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        changes.clear();
        statuses.clear();
        QTest::mouseClick(recorder(), Qt::LeftButton);
        ASSERT_TRUE(recorder()->isRecording());
        press(c.key, c.modifiers);
        EXPECT_EQ(stored(), QString::fromUtf8(c.json));
        EXPECT_EQ(recorder()->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(changes, (QList<std::optional<Shortcut>>{c.shortcut}));
        EXPECT_FALSE(recorder()->isRecording());
        EXPECT_FALSE(shortcuts->isPaused());
        EXPECT_EQ(statuses, (QList<bool>{true, false}));
        EXPECT_TRUE(platform.registration(c.shortcut.keyCode, c.shortcut.keyModifiers).has_value());
        EXPECT_TRUE(recorder()->cancelButton()->isVisible());
    }
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(RecorderTest, TheCurrentShortcutIsRecordedAgainInsteadOfFiring)
{
    int fired = 0;
    shortcuts->onKeyDown(name, [&fired] { ++fired; });
    ASSERT_TRUE(platform.press(Key::v, modShift | modSuper).has_value());
    ASSERT_EQ(fired, 1);

    startRecording();
    platform.press(Key::v, modShift | modSuper);
    EXPECT_EQ(fired, 1) << "dispatch is paused while recording";
    press(Qt::Key_V, Qt::MetaModifier | Qt::ShiftModifier);
    EXPECT_EQ(changes, (QList<std::optional<Shortcut>>{shiftCommandV}));
    EXPECT_EQ(stored(), shiftCommandVJson);

    platform.press(Key::v, modShift | modSuper);
    EXPECT_EQ(fired, 2);
}

TEST_F(RecorderTest, WhileRecordingTheWindowsOwnShortcutsDoNotFire)
{
    int triggered = 0;
    auto* action = new QAction(window.get());
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    window->addAction(action);
    QObject::connect(action, &QAction::triggered, action, [&triggered] { ++triggered; });

    startRecording();
    press(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(triggered, 0);
    EXPECT_EQ(stored(), QStringLiteral(R"({"carbonKeyCode":11,"carbonModifiers":4096})"));

    // Not recording, the same keys reach the action: the recorder was what held them back.
    QTest::keyClick(window.get(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(triggered, 1);
}

TEST_F(RecorderTest, EscapeEndsRecordingAndKeepsTheShortcut)
{
    startRecording();
    press(Qt::Key_Escape);
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(recorder()->hasFocus());
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_EQ(stored(), shiftCommandVJson);
    EXPECT_EQ(recorder()->text(), QStringLiteral("Shift+Super+V"));
    EXPECT_TRUE(changes.isEmpty());
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(statuses, (QList<bool>{true, false}));
}

TEST_F(RecorderTest, TabEndsRecordingAndMovesTheFocusOn)
{
    startRecording();
    press(Qt::Key_Tab);
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_TRUE(next->hasFocus());
    EXPECT_EQ(stored(), shiftCommandVJson);
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderTest, DeleteAndBackspaceClearTheShortcutAndKeepRecording)
{
    open();
    for (const Qt::Key key : {Qt::Key_Backspace, Qt::Key_Delete}) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        shortcuts->setShortcut(shiftCommandV, name);
        changes.clear();
        QTest::mouseClick(recorder(), Qt::LeftButton);
        ASSERT_TRUE(recorder()->isRecording());

        press(key);
        // The name has a default, so the key keeps false: the default does not come back.
        EXPECT_EQ(stored(), QStringLiteral("false"));
        EXPECT_EQ(recorder()->text(), QString());
        EXPECT_FALSE(recorder()->cancelButton()->isVisible());
        EXPECT_EQ(changes, (QList<std::optional<Shortcut>>{std::nullopt}));
        EXPECT_FALSE(platform.registration(Key::v, modShift | modSuper).has_value());
        EXPECT_TRUE(recorder()->isRecording());
        EXPECT_TRUE(shortcuts->isPaused());

        // Pressed again on the empty field: nothing more to clear.
        press(key);
        EXPECT_EQ(changes.size(), 1);
        EXPECT_TRUE(recorder()->isRecording());

        press(Qt::Key_Escape);
        ASSERT_FALSE(recorder()->isRecording());
    }
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderTest, TheClearButtonClearsAndRecords)
{
    open();
    ASSERT_FALSE(recorder()->isRecording());
    recorder()->cancelButton()->trigger();
    EXPECT_EQ(stored(), QStringLiteral("false"));
    EXPECT_EQ(changes, (QList<std::optional<Shortcut>>{std::nullopt}));
    EXPECT_TRUE(recorder()->isRecording());
    EXPECT_TRUE(shortcuts->isPaused());
    press(Qt::Key_F6);
    EXPECT_EQ(stored(), QStringLiteral(R"({"carbonKeyCode":97,"carbonModifiers":0})"));

    // Clicked with the mouse while recording: the click inside the field still reaches the button.
    startRecording();
    QToolButton* button = clearButtonWidget();
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(stored(), QStringLiteral("false"));
    EXPECT_EQ(recorder()->text(), QString());
    EXPECT_TRUE(recorder()->isRecording());
    EXPECT_EQ(changes.last(), std::nullopt);
}

TEST_F(RecorderTest, TheClearButtonIsHiddenExactlyWhenTheFieldIsEmpty)
{
    open();
    QToolButton* button = clearButtonWidget();
    ASSERT_NE(button, nullptr);
    const auto expectShown = [&](bool shown) {
        EXPECT_EQ(recorder()->text().isEmpty(), !shown);
        EXPECT_EQ(recorder()->cancelButton()->isVisible(), shown);
        EXPECT_EQ(button->isVisibleTo(recorder()), shown);
    };
    SCOPED_TRACE("stored default");
    expectShown(true);
    startRecording();
    expectShown(true);
    press(Qt::Key_Backspace);
    expectShown(false);
    press(Qt::Key_Escape);
    expectShown(false);
    startRecording();
    expectShown(false);
    press(Qt::Key_F6);
    expectShown(true);
    shortcuts->setShortcut(std::nullopt, name);
    expectShown(false);
    shortcuts->setShortcut(shiftCommandV, name);
    expectShown(true);
}

TEST_F(RecorderTest, AMenuItemsCombinationIsRefusedWithItsTitle)
{
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* title;
    };
    const Case cases[] = {
        {Qt::Key_Q, Qt::ControlModifier, "退出 Nimbrel"},
        // One submenu down; the mnemonic marker is not part of the title.
        {Qt::Key_Comma, Qt::MetaModifier, "Settings…"},
        // A function key: compared by its menu key string, not by a character.
        {Qt::Key_F5, Qt::NoModifier, "刷新"},
        // In the second menu; the item has shift as well.
        {Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier, "关闭窗口"},
        // The item's alternate combination triggers it just the same.
        {Qt::Key_F4, Qt::ControlModifier, "关闭窗口"},
    };
    open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        alerts.clear();
        statuses.clear();
        QTest::mouseClick(recorder(), Qt::LeftButton);
        press(c.key, c.modifiers);
        ASSERT_EQ(alerts.size(), 1);
        const AlertCall& alert = alerts.first();
        EXPECT_EQ(alert.message, QStringLiteral("Taken by the menu item “%1”.").arg(QString::fromUtf8(c.title)));
        EXPECT_TRUE(alert.message.contains(QString::fromUtf8(c.title)));
        EXPECT_EQ(alert.informativeText, QString());
        EXPECT_EQ(alert.buttons, QStringList());
        EXPECT_EQ(alert.window, window.get());
        EXPECT_FALSE(alert.recordingDuring);
        EXPECT_FALSE(alert.pausedDuring);

        EXPECT_EQ(stored(), shiftCommandVJson);
        EXPECT_EQ(recorder()->text(), QStringLiteral("Shift+Super+V"));
        EXPECT_TRUE(changes.isEmpty());
        // Recording again for another try.
        EXPECT_TRUE(recorder()->isRecording());
        EXPECT_TRUE(recorder()->hasFocus());
        EXPECT_TRUE(shortcuts->isPaused());
        EXPECT_EQ(statuses, (QList<bool>{true, false, true}));
        press(Qt::Key_Escape);
    }
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderTest, ADesktopCombinationAsksAndTheSecondButtonForcesIt)
{
    systemShortcuts.hotKeys = {{Key::b, modControl | modAlt}, {Key::f12, modShift}};
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int response;
        const char* expectedStored;
    };
    const Case cases[] = {
        {Qt::Key_B, Qt::ControlModifier | Qt::AltModifier, 1000, nullptr},
        {Qt::Key_F12, Qt::ShiftModifier, 1000, nullptr},
        {Qt::Key_B, Qt::ControlModifier | Qt::AltModifier, 1001, R"({"carbonKeyCode":11,"carbonModifiers":6144})"},
        {Qt::Key_F12, Qt::ShiftModifier, 1001, R"({"carbonKeyCode":111,"carbonModifiers":512})"},
    };
    open();
    for (const Case& c : cases) {
        SCOPED_TRACE(QKeySequence(c.modifiers | c.key).toString().toStdString() + " answered " +
                     std::to_string(c.response));
        shortcuts->setShortcut(shiftCommandV, name);
        alerts.clear();
        changes.clear();
        alertResponse = c.response;
        QTest::mouseClick(recorder(), Qt::LeftButton);
        ASSERT_TRUE(recorder()->isRecording());
        press(c.key, c.modifiers);

        ASSERT_EQ(alerts.size(), 1);
        EXPECT_EQ(alerts[0].message, QStringLiteral("Taken by the desktop."));
        EXPECT_EQ(alerts[0].informativeText, QStringLiteral("Change it in the desktop settings."));
        EXPECT_EQ(alerts[0].buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Use Anyway")}));
        EXPECT_FALSE(alerts[0].recordingDuring);
        if (c.expectedStored) {
            EXPECT_EQ(stored(), QString::fromUtf8(c.expectedStored));
            ASSERT_EQ(changes.size(), 1);
            EXPECT_TRUE(changes[0].has_value());
            EXPECT_FALSE(recorder()->isRecording());
            EXPECT_FALSE(shortcuts->isPaused());
        } else {
            EXPECT_EQ(stored(), shiftCommandVJson);
            EXPECT_TRUE(changes.isEmpty());
            EXPECT_TRUE(recorder()->isRecording());
            EXPECT_TRUE(shortcuts->isPaused());
            press(Qt::Key_Escape);
        }
    }
    EXPECT_GE(systemShortcuts.reads, 4) << "the desktop's list is read for every check";
}

TEST_F(RecorderTest, AMouseReleaseFartherThanThreePixelsOutsideEndsRecording)
{
    open();
    const QSize size = recorder()->size();
    const int midX = size.width() / 2;
    const int midY = size.height() / 2;
    struct Case {
        const char* what;
        Qt::MouseButton button;
        QPoint local;  // in the field's coordinates
        bool ends;
    };
    const Case cases[] = {
        {"inside", Qt::LeftButton, {midX, midY}, false},
        {"3 px left", Qt::LeftButton, {-3, midY}, false},
        {"4 px left", Qt::LeftButton, {-4, midY}, true},
        {"3 px right", Qt::LeftButton, {size.width() + 2, midY}, false},
        {"4 px right", Qt::LeftButton, {size.width() + 3, midY}, true},
        {"3 px above", Qt::LeftButton, {midX, -3}, false},
        {"4 px above", Qt::LeftButton, {midX, -4}, true},
        {"3 px below", Qt::LeftButton, {midX, size.height() + 2}, false},
        {"4 px below", Qt::LeftButton, {midX, size.height() + 3}, true},
        {"right button far away", Qt::RightButton, {-40, -40}, true},
        {"middle button far away", Qt::MiddleButton, {-40, -40}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTest::mouseClick(recorder(), Qt::LeftButton);
        ASSERT_TRUE(recorder()->isRecording());
        QTest::mouseRelease(window.get(), c.button, {}, recorder()->mapTo(window.get(), c.local));
        EXPECT_EQ(recorder()->isRecording(), !c.ends);
        EXPECT_EQ(shortcuts->isPaused(), !c.ends);
        if (!c.ends)
            press(Qt::Key_Escape);
    }
    EXPECT_EQ(stored(), shiftCommandVJson);
}

TEST_F(RecorderTest, AClickElsewhereEndsRecordingAndReachesItsTarget)
{
    startRecording();
    QTest::mouseClick(elsewhere, Qt::LeftButton);
    EXPECT_EQ(elsewhereClicks, 1);
    EXPECT_FALSE(recorder()->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_EQ(stored(), shiftCommandVJson);
}

TEST_F(RecorderTest, AChangedShortcutOfItsNameIsShown)
{
    open();
    shortcuts->setShortcut(Shortcut(Key::b, modSuper), name);
    EXPECT_EQ(recorder()->text(), QStringLiteral("Super+B"));

    // A change of another name's shortcut leaves the field as it is.
    defaults.setString(name.userDefaultsKey(), Shortcut(Key::q, modControl).toJson());
    Q_EMIT shortcuts->shortcutByNameDidChange(QStringLiteral("somethingElse"));
    EXPECT_EQ(recorder()->text(), QStringLiteral("Super+B"));
    Q_EMIT shortcuts->shortcutByNameDidChange(name.rawValue);
    EXPECT_EQ(recorder()->text(), QStringLiteral("Ctrl+Q"));

    shortcuts->setShortcut(std::nullopt, name);
    EXPECT_EQ(recorder()->text(), QString());
    EXPECT_TRUE(changes.isEmpty()) << "onChange is for the user's own edits";
}

TEST_F(RecorderTest, AnotherNameRetargetsTheRow)
{
    const Name other{QStringLiteral("other"), std::nullopt};
    shortcuts->setShortcut(Shortcut(Key::b, modControl | modAlt), other);
    EXPECT_TRUE(row->hasLabel());
    ASSERT_NE(row->label(), nullptr);
    EXPECT_EQ(row->label()->parentWidget(), row);
    ShortcutField* const control = recorder();

    row->setName(other);
    EXPECT_EQ(recorder(), control) << "the row keeps its one control";
    EXPECT_EQ(recorder()->shortcutName(), other);
    EXPECT_EQ(recorder()->text(), QStringLiteral("Ctrl+Alt+B"));

    startRecording();
    press(Qt::Key_F6);
    EXPECT_EQ(stored(other), QStringLiteral(R"({"carbonKeyCode":97,"carbonModifiers":0})"));
    EXPECT_EQ(stored(), shiftCommandVJson);

    // Changes of the old name no longer show.
    shortcuts->setShortcut(Shortcut(Key::q, modControl), name);
    EXPECT_EQ(recorder()->text(), QStringLiteral("F6"));
    shortcuts->setShortcut(std::nullopt, other);
    EXPECT_EQ(recorder()->text(), QString());
    EXPECT_EQ(stored(other), QStringLiteral("<absent>"));
}

TEST_F(RecorderTest, ARowWithoutALabelIsTheControlAlone)
{
    Recorder bare(name, environment());
    EXPECT_FALSE(bare.hasLabel());
    EXPECT_EQ(bare.label(), nullptr);
    EXPECT_EQ(bare.control()->parentWidget(), &bare);
    EXPECT_EQ(bare.control()->text(), QStringLiteral("Shift+Super+V"));
    EXPECT_EQ(bare.sizeHint().width(), ShortcutField::minimumWidth);
}

// The bounding box of the pixels in which two pictures of the same size differ; null when none does.
QRect differingPixels(const QImage& a, const QImage& b)
{
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

TEST_F(RecorderTest, AnEmptyFieldShowsItsPlaceholderWhileRecordingWhereQtDrawsItOtherwise)
{
    shortcuts->setShortcut(std::nullopt, name);
    startRecording();
    ASSERT_TRUE(recorder()->hasFocus());
    ASSERT_EQ(recorder()->text(), QString());
    ASSERT_EQ(recorder()->placeholderText(), QStringLiteral("Press Shortcut"));
    const auto grabWith = [this](const QString& placeholder) {
        recorder()->setPlaceholderText(placeholder);
        return recorder()->grab().toImage();
    };

    const QImage recording = grabWith(QStringLiteral("Press Shortcut"));
    const QRect drawn = differingPixels(recording, grabWith(QString()));
    ASSERT_FALSE(drawn.isNull()) << "no placeholder drawn while recording";

    // The same text in the field without the focus, drawn by QLineEdit itself: same place, same pixels.
    press(Qt::Key_Escape);
    ASSERT_FALSE(recorder()->hasFocus());
    const QImage idle = grabWith(QStringLiteral("Press Shortcut"));
    const QRect drawnByQt = differingPixels(idle, grabWith(QString()));
    ASSERT_FALSE(drawnByQt.isNull());
    EXPECT_EQ(drawn, drawnByQt);
    EXPECT_EQ(recording.copy(drawn), idle.copy(drawnByQt)) << "the placeholder's colour and font";
    // Centred in the field, as the shortcut's text is.
    const int centre = recorder()->width() / 2;
    EXPECT_LE(std::abs((drawn.left() + drawn.right()) / 2 - centre), 3);

    // A field that shows a shortcut has no placeholder to draw.
    startRecording();
    press(Qt::Key_F6);
    startRecording();
    ASSERT_EQ(recorder()->text(), QStringLiteral("F6"));
    EXPECT_EQ(differingPixels(grabWith(QStringLiteral("Press Shortcut")), grabWith(QString())), QRect());
}

TEST_F(RecorderTest, ALongCombinationWidensTheFieldAndShowsWhole)
{
    open();
    const auto shownTextWidth = [this] {
        const QImage withText = recorder()->grab().toImage();
        const QString shown = recorder()->text();
        recorder()->setText(QString());
        const QImage without = recorder()->grab().toImage();
        recorder()->setText(shown);
        // The clear button goes with the text; only what lies left of it is the text.
        QRect drawn = differingPixels(withText, without);
        if (QToolButton* button = clearButtonWidget())
            drawn &= QRect(0, 0, button->x(), recorder()->height());
        return drawn.width();
    };
    struct Case {
        Shortcut shortcut;
        const char* text;
        bool wider;
    };
    const Case cases[] = {
        {shiftCommandV, "Shift+Super+V", false},
        {Shortcut(Key::keypadEnter, modControl | modAlt | modShift | modSuper),
         "Shift+Ctrl+Alt+Super+Num+Enter", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        shortcuts->setShortcut(c.shortcut, name);
        QApplication::processEvents();  // the row lays the field out anew
        ASSERT_EQ(recorder()->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(recorder()->sizeHint().width() > ShortcutField::minimumWidth, c.wider);
        EXPECT_EQ(recorder()->width(), recorder()->sizeHint().width());
        const int advance = recorder()->fontMetrics().horizontalAdvance(recorder()->text());
        EXPECT_GE(shownTextWidth(), advance - 3) << "the text is cut off";
    }
}

TEST_F(RecorderTest, ARecorderDeletedWhileRecordingResumesTheGlobalShortcuts)
{
    startRecording();
    ASSERT_TRUE(shortcuts->isPaused());
    delete row;
    row = nullptr;
    EXPECT_FALSE(shortcuts->isPaused());
    EXPECT_EQ(statuses, (QList<bool>{true, false}));
    // Keys after that are nobody's business but the window's.
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_EQ(stored(), shiftCommandVJson);
}

// Answers the next alert the way a user would, as soon as it shows. Should it never show or never close,
// it is closed after five seconds so the test ends, and `timedOut` says so.
class AlertAnswerer {
public:
    explicit AlertAnswerer(std::function<void(QMessageBox&)> act) : m_act(std::move(act))
    {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { poll(); });
        m_poll.start();
        m_guard.setSingleShot(true);
        QObject::connect(&m_guard, &QTimer::timeout, &m_guard, [this] {
            timedOut = true;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                    box->done(0);
        });
        m_guard.start(5000);
    }

    static QAbstractButton* buttonTitled(QMessageBox& box, const QString& title)
    {
        for (QAbstractButton* b : box.buttons())
            if (b->text() == title)
                return b;
        return nullptr;
    }

    QString message;
    QString informativeText;
    QStringList buttonTexts;
    QWidget* parent = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool found = false;
    bool timedOut = false;

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* candidate = qobject_cast<QMessageBox*>(w); candidate && candidate->isVisible())
                    box = candidate;
        }
        if (!box || !box->isVisible())
            return;
        m_poll.stop();
        found = true;
        message = box->text();
        informativeText = box->informativeText();
        parent = box->parentWidget();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            buttonTexts.append(b->text());
        m_act(*box);
    }

    std::function<void(QMessageBox&)> m_act;
    QTimer m_poll;
    QTimer m_guard;
};

TEST_F(RecorderTest, WithTheRealAlertRecordingResumesAfterARefusal)
{
    ShortcutField* control = new ShortcutField(
        name, RecorderEnvironment{*shortcuts, systemShortcuts, [this] { return QList<QMenu*>{&trayMenu}; }}, {},
        window.get());
    control->move(20, 120);
    open();
    QTest::mouseClick(control, Qt::LeftButton);
    ASSERT_TRUE(control->isRecording());
    {
        AlertAnswerer answerer([](QMessageBox& box) { box.buttons().first()->click(); });
        QTest::keyClick(control, Qt::Key_Q, Qt::ControlModifier);
        ASSERT_TRUE(answerer.found);
        EXPECT_FALSE(answerer.timedOut);
        EXPECT_EQ(answerer.message, QStringLiteral("Taken by the menu item “退出 Nimbrel”."));
        EXPECT_EQ(answerer.parent, window.get());
    }
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QApplication::processEvents();
    EXPECT_TRUE(control->isRecording());
    EXPECT_TRUE(shortcuts->isPaused());
    EXPECT_EQ(stored(), shiftCommandVJson);

    // The desktop's combination, forced with the second button.
    systemShortcuts.hotKeys = {{Key::b, modControl | modAlt}};
    {
        AlertAnswerer answerer(
            [](QMessageBox& box) { AlertAnswerer::buttonTitled(box, QStringLiteral("Use Anyway"))->click(); });
        QTest::keyClick(control, Qt::Key_B, Qt::ControlModifier | Qt::AltModifier);
        ASSERT_TRUE(answerer.found);
        EXPECT_FALSE(answerer.timedOut);
    }
    EXPECT_EQ(stored(), QStringLiteral(R"({"carbonKeyCode":11,"carbonModifiers":6144})"));
    QApplication::processEvents();
    EXPECT_FALSE(control->isRecording());
    EXPECT_FALSE(shortcuts->isPaused());
}

TEST(RunAlertTest, AnswersByButtonOrderEscapeAndClosingAnswerTheFirst)
{
    const QStringList twoButtons{QStringLiteral("OK"), QStringLiteral("Use Anyway")};
    struct Case {
        const char* what;
        std::function<void(QMessageBox&)> act;
        int response;
    };
    const Case cases[] = {
        {"second button",
         [](QMessageBox& box) { AlertAnswerer::buttonTitled(box, QStringLiteral("Use Anyway"))->click(); }, 1001},
        {"first button", [](QMessageBox& box) { AlertAnswerer::buttonTitled(box, QStringLiteral("OK"))->click(); },
         1000},
        {"escape", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, 1000},
        {"closed", [](QMessageBox& box) { box.close(); }, 1000},
    };
    QWidget parent;
    parent.resize(300, 200);
    parent.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AlertAnswerer answerer(c.act);
        EXPECT_EQ(runAlert(&parent, QStringLiteral("Taken by the desktop."), QStringLiteral("Change it."), twoButtons),
                  c.response);
        ASSERT_TRUE(answerer.found);
        EXPECT_FALSE(answerer.timedOut);
        EXPECT_EQ(answerer.message, QStringLiteral("Taken by the desktop."));
        EXPECT_EQ(answerer.informativeText, QStringLiteral("Change it."));
        EXPECT_EQ(answerer.parent, &parent);
        EXPECT_EQ(answerer.icon, QMessageBox::Warning);
        EXPECT_EQ(answerer.buttonTexts.size(), 2);
        EXPECT_TRUE(answerer.buttonTexts.contains(QStringLiteral("OK")));
        EXPECT_TRUE(answerer.buttonTexts.contains(QStringLiteral("Use Anyway")));
    }
}

TEST(RunAlertTest, WithoutButtonsThereIsOneAndNoWindowIsNeeded)
{
    AlertAnswerer answerer([](QMessageBox& box) { box.buttons().first()->click(); });
    EXPECT_EQ(runAlert(nullptr, QStringLiteral("Taken."), QString(), {}), 1000);
    ASSERT_TRUE(answerer.found);
    EXPECT_FALSE(answerer.timedOut);
    EXPECT_EQ(answerer.buttonTexts.size(), 1);
    EXPECT_EQ(answerer.parent, nullptr);
}

// The rules alone, for what the widget cannot send on this platform (the function and caps-lock bits,
// key releases) and for their order.
TEST(RecordingRulesTest, DecidesEachKeyPressInOrder)
{
    const Shortcut controlQ(Key::q, modControl);
    const auto menus = [&](const Shortcut& s) -> std::optional<QString> {
        if (s == controlQ)
            return QStringLiteral("Quit");
        return std::nullopt;
    };
    const QList<Shortcut> desktop{controlQ, {Key::f12, 0}, {Key::f12, modShift}, {Key::b, modSuper}};
    const auto system = [&](const Shortcut& s) { return desktop.contains(s); };

    constexpr quint32 capsLock = 0x10000;
    constexpr quint32 help = 0x400000;
    using Type = KeyEvent::Type;
    struct Case {
        const char* what;
        KeyEvent event;
        Kind kind;
        std::optional<Shortcut> shortcut;
    };
    const Case cases[] = {
        {"release", {Type::keyUp, Key::f6, 0}, Kind::ignore, std::nullopt},
        {"modifier key", {Type::other, 0, eventSuper}, Kind::ignore, std::nullopt},
        {"tab", {Type::keyDown, Key::tab, 0}, Kind::passOnAndEnd, std::nullopt},
        {"tab with caps lock", {Type::keyDown, Key::tab, capsLock}, Kind::passOnAndEnd, std::nullopt},
        {"escape with caps lock", {Type::keyDown, Key::escape, capsLock}, Kind::endKeeping, std::nullopt},
        {"escape on the numeric pad bit", {Type::keyDown, Key::escape, eventKeypad}, Kind::endKeeping, std::nullopt},
        {"command escape", {Type::keyDown, Key::escape, eventSuper}, Kind::accept, Shortcut(Key::escape, modSuper)},
        {"forward delete", {Type::keyDown, Key::deleteForward, 0}, Kind::clear, std::nullopt},
        {"control backspace",
         {Type::keyDown, Key::deleteKey, eventControl},
         Kind::accept,
         Shortcut(Key::deleteKey, modControl)},
        {"shift tab", {Type::keyDown, Key::tab, eventShift}, Kind::beep, std::nullopt},
        {"letter with caps lock", {Type::keyDown, Key::a, capsLock}, Kind::beep, std::nullopt},
        {"letter with function", {Type::keyDown, Key::a, eventFunction}, Kind::beep, std::nullopt},
        {"keypad digit", {Type::keyDown, Key::keypad5, eventKeypad}, Kind::beep, std::nullopt},
        {"help counts as a command modifier", {Type::keyDown, Key::a, help}, Kind::accept, Shortcut(Key::a, 0)},
        {"F20 alone", {Type::keyDown, Key::f20, 0}, Kind::accept, Shortcut(Key::f20, 0)},
        {"function bit dropped",
         {Type::keyDown, Key::f6, eventFunction | eventShift},
         Kind::accept,
         Shortcut(Key::f6, modShift)},
        {"menu before desktop", {Type::keyDown, Key::q, eventControl}, Kind::menuConflict, controlQ},
        {"desktop", {Type::keyDown, Key::b, eventSuper}, Kind::systemConflict, Shortcut(Key::b, modSuper)},
        {"plain F12 never asks", {Type::keyDown, Key::f12, 0}, Kind::accept, Shortcut(Key::f12, 0)},
        {"plain F12 with function is still plain",
         {Type::keyDown, Key::f12, eventFunction},
         Kind::accept,
         Shortcut(Key::f12, 0)},
        {"shift F12 asks", {Type::keyDown, Key::f12, eventShift}, Kind::systemConflict, Shortcut(Key::f12, modShift)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RecorderDecision decision = decideRecording(c.event, menus, system);
        EXPECT_EQ(decision.kind, c.kind);
        EXPECT_EQ(decision.shortcut, c.shortcut);
        EXPECT_EQ(decision.menuItemTitle, c.kind == Kind::menuConflict ? QStringLiteral("Quit") : QString());
    }

    // Without lookups nothing conflicts.
    EXPECT_EQ(decideRecording({Type::keyDown, Key::q, eventControl}, {}, {}).kind, Kind::accept);
}

TEST(RecordingRulesTest, MenuItemKeyEquivalents)
{
    struct Case {
        const char* itemKey;
        quint32 itemModifiers;
        const char* shortcutKey;
        quint32 shortcutModifiers;
        bool matches;
    };
    const Case cases[] = {
        {"q", eventControl, "q", eventControl, true},
        {"q", eventControl, "q", eventControl | eventShift, false},
        {"Q", eventControl, "q", eventControl | eventShift, true},  // an upper-case item key means shift
        {"Q", eventControl, "q", eventControl, false},
        {"Q", eventControl | eventShift, "q", eventControl | eventShift, true},
        {"q", eventControl | eventSuper, "q", eventControl, false},
        {",", eventSuper, ",", eventSuper, true},
        {"<", eventSuper, ",", eventSuper | eventShift, false},
        {"", 0, "", 0, false},  // no key string never matches
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.itemKey) + " vs " + c.shortcutKey);
        EXPECT_EQ(menuItemMatches(QString::fromUtf8(c.itemKey), c.itemModifiers, QString::fromUtf8(c.shortcutKey),
                                  c.shortcutModifiers),
                  c.matches);
    }
}

TEST(RecordingRulesTest, QtKeyEventsWithoutANativeKey)
{
    using Type = KeyEvent::Type;
    struct Case {
        const char* what;
        QEvent::Type type;
        int key;
        Qt::KeyboardModifiers modifiers;
        Type expectedType;
        int keyCode;
        quint32 flags;
    };
    const Case cases[] = {
        {"super is command", QEvent::KeyPress, Qt::Key_V, Qt::MetaModifier | Qt::ShiftModifier, Type::keyDown, Key::v,
         eventSuper | eventShift},
        {"alt is option", QEvent::KeyPress, Qt::Key_Comma, Qt::AltModifier | Qt::ControlModifier, Type::keyDown,
         Key::comma, eventAlt | eventControl},
        {"release", QEvent::KeyRelease, Qt::Key_F6, Qt::NoModifier, Type::keyUp, Key::f6, 0},
        {"backspace", QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, Type::keyDown, Key::deleteKey, 0},
        {"keypad enter", QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier, Type::keyDown, Key::keypadEnter,
         eventKeypad},
        {"a modifier going down", QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, Type::other, 0, 0},
        {"super going down", QEvent::KeyPress, Qt::Key_Meta, Qt::MetaModifier, Type::other, 0, 0},
        {"a key without an ANSI position", QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, Type::other, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QKeyEvent event(c.type, c.key, c.modifiers);
        const KeyEvent result = keyEventFromQt(event);
        EXPECT_EQ(result.type, c.expectedType);
        if (c.expectedType == Type::other)
            continue;
        EXPECT_EQ(result.keyCode, c.keyCode);
        EXPECT_EQ(result.eventFlags, c.flags);
    }
}

}  // namespace

}  // namespace nimbrel::KeyboardShortcuts
