#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/KeyNameTranslations.h"
#include "KeyboardShortcuts/KeyText.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "KeyboardShortcuts/SpecialKey.h"
#include "hotkey/HotkeyManager.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakePlatform.h"

#include <QKeySequence>
#include <QSignalSpy>

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

std::string text(const QString& s)
{
    return s.toStdString();
}
std::string text(const std::optional<QString>& s)
{
    return s ? "\"" + s->toStdString() + "\"" : "<none>";
}

const QString toggleKey = QStringLiteral("KeyboardShortcuts_togglePanel");
const QString storedShiftCommandV = QStringLiteral("{\"carbonKeyCode\":9,\"carbonModifiers\":768}");

class ShortcutModelTest : public ::testing::Test {
protected:
    ShortcutModelTest() { layout.texts = {{Key::v, QStringLiteral("v")}, {Key::a, QStringLiteral("a")}}; }

    std::unique_ptr<Shortcuts> makeShortcuts()
    {
        return std::make_unique<Shortcuts>(defaults, platform, layout, console);
    }

    fake::MemoryDefaults defaults;
    fake::FakeHotKeyPlatform platform;
    fake::FakeKeyboardLayout layout;
    fake::RecordingConsole console;
};

TEST(ShortcutStoredForm, WritesTheCompactFormAndReadsEitherMemberOrder)
{
    EXPECT_EQ(text(Shortcut(9, 768).toJson()), text(storedShiftCommandV));
    EXPECT_EQ(text(Shortcut(-1, 0).toJson()), "{\"carbonKeyCode\":-1,\"carbonModifiers\":0}");

    struct Case {
        const char* json;
        std::optional<Shortcut> expected;
    };
    const std::vector<Case> cases{
        {R"({"carbonKeyCode":9,"carbonModifiers":768})", Shortcut(9, 768)},
        {R"({"carbonModifiers":768,"carbonKeyCode":9})", Shortcut(9, 768)},
        {R"( { "carbonModifiers" : 4352 , "carbonKeyCode" : 111 } )", Shortcut(111, 4352)},
        {R"({"carbonKeyCode":0,"carbonModifiers":0})", Shortcut(0, 0)},
        {R"({"carbonKeyCode":9,"carbonModifiers":768,"note":"x"})", Shortcut(9, 768)},
        {R"({"carbonKeyCode":9.0,"carbonModifiers":768})", Shortcut(9, 768)},
        // Unreadable: missing members, wrong types, fractions, out of range, not an object, not JSON.
        {R"({"carbonKeyCode":9})", std::nullopt},
        {R"({"carbonModifiers":768})", std::nullopt},
        {R"({"carbonKeyCode":"9","carbonModifiers":768})", std::nullopt},
        {R"({"carbonKeyCode":9,"carbonModifiers":"768"})", std::nullopt},
        {R"({"carbonKeyCode":true,"carbonModifiers":768})", std::nullopt},
        {R"({"carbonKeyCode":null,"carbonModifiers":768})", std::nullopt},
        {R"({"carbonKeyCode":9.5,"carbonModifiers":768})", std::nullopt},
        {R"({"carbonKeyCode":9,"carbonModifiers":1e20})", std::nullopt},
        {R"({"carbonKeyCode":4294967305,"carbonModifiers":768})", std::nullopt},
        {R"([9,768])", std::nullopt},
        {R"(9)", std::nullopt},
        {R"("{\"carbonKeyCode\":9,\"carbonModifiers\":768}")", std::nullopt},
        {R"({"carbonKeyCode":9,"carbonModifiers":768)", std::nullopt},
        {"", std::nullopt},
        {"false", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(Shortcut::fromJson(QString::fromUtf8(c.json)), c.expected);
    }
}

TEST_F(ShortcutModelTest, ReadingAcceptsOnlyAReadableStringAndNeverTouchesTheValue)
{
    const Name name{QStringLiteral("sample"), std::nullopt};
    const QString key = QStringLiteral("KeyboardShortcuts_sample");
    struct Case {
        QVariant stored;
        std::optional<Shortcut> expected;
    };
    const std::vector<Case> cases{
        {QVariant(), std::nullopt},
        {QVariant(storedShiftCommandV), Shortcut(9, 768)},
        {QVariant(QStringLiteral("{\"carbonModifiers\":256,\"carbonKeyCode\":0}")), Shortcut(0, 256)},
        {QVariant(false), std::nullopt},
        {QVariant(true), std::nullopt},
        {QVariant::fromValue<qint64>(9), std::nullopt},
        {QVariant(QStringList{storedShiftCommandV}), std::nullopt},
        {QVariant(QStringLiteral("Shift+Super+V")), std::nullopt},
    };
    const auto shortcuts = makeShortcuts();
    for (const Case& c : cases) {
        SCOPED_TRACE(text(c.stored.toString()));
        defaults.values.clear();
        if (c.stored.isValid())
            defaults.values.insert(key, c.stored);
        const int writes = defaults.writes;

        EXPECT_EQ(shortcuts->getShortcut(name), c.expected);
        EXPECT_EQ(defaults.writes, writes);
        EXPECT_EQ(defaults.values.value(key), c.stored);
    }
}

TEST_F(ShortcutModelTest, FirstLaunchStoresTheDefaultOnceWithOneNotification)
{
    const auto shortcuts = makeShortcuts();
    QSignalSpy changes(shortcuts.get(), &Shortcuts::shortcutByNameDidChange);

    shortcuts->declare(togglePanelName());

    const QVariant stored = defaults.values.value(toggleKey);
    EXPECT_EQ(stored.typeId(), QMetaType::QString);
    EXPECT_EQ(text(stored.toString()), text(storedShiftCommandV));
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toString(), QStringLiteral("togglePanel"));
    EXPECT_EQ(shortcuts->getShortcut(togglePanelName()), Shortcut(9, 768));
    EXPECT_TRUE(platform.registration(9, 768).has_value());

    // A second declaration (the settings window's) finds the value and changes nothing.
    const int writes = defaults.writes;
    shortcuts->declare(togglePanelName());
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(defaults.writes, writes);
    EXPECT_EQ(platform.attempts.size(), 1);
}

TEST_F(ShortcutModelTest, ClearedDefaultStaysClearedOnTheNextLaunch)
{
    {
        const auto shortcuts = makeShortcuts();
        shortcuts->declare(togglePanelName());
        QSignalSpy changes(shortcuts.get(), &Shortcuts::shortcutByNameDidChange);

        shortcuts->setShortcut(std::nullopt, togglePanelName());

        EXPECT_EQ(changes.count(), 1);
        EXPECT_FALSE(platform.registration(9, 768).has_value());
        EXPECT_TRUE(shortcuts->registeredShortcuts().isEmpty());
    }
    const QVariant stored = defaults.values.value(toggleKey);
    EXPECT_EQ(stored.typeId(), QMetaType::Bool);
    EXPECT_FALSE(stored.toBool());

    fake::FakeHotKeyPlatform nextLaunch;
    Shortcuts shortcuts(defaults, nextLaunch, layout, console);
    QSignalSpy changes(&shortcuts, &Shortcuts::shortcutByNameDidChange);
    shortcuts.declare(togglePanelName());

    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(shortcuts.getShortcut(togglePanelName()), std::nullopt);
    EXPECT_EQ(defaults.values.value(toggleKey), QVariant(false));
    EXPECT_TRUE(nextLaunch.attempts.isEmpty());
}

TEST_F(ShortcutModelTest, AnUnreadableValueBlocksTheDefaultUntilTheNextStoreOverwritesIt)
{
    defaults.values.insert(toggleKey, QStringLiteral("{broken"));
    const auto shortcuts = makeShortcuts();
    QSignalSpy changes(shortcuts.get(), &Shortcuts::shortcutByNameDidChange);

    shortcuts->declare(togglePanelName());
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(defaults.values.value(toggleKey).toString(), QStringLiteral("{broken"));

    shortcuts->setShortcut(Shortcut(Key::a, modSuper), togglePanelName());
    EXPECT_EQ(defaults.values.value(toggleKey).toString(),
              QStringLiteral("{\"carbonKeyCode\":0,\"carbonModifiers\":256}"));
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(ShortcutModelTest, ClearingANameWithoutAShortcutWritesAndPostsNothing)
{
    const Name withDefault{QStringLiteral("withDefault"), Shortcut(Key::a, modSuper)};
    const Name withoutDefault{QStringLiteral("withoutDefault"), std::nullopt};
    const std::vector<QVariant> storedValues{QVariant(), QVariant(false), QVariant(QStringLiteral("garbage"))};
    const auto shortcuts = makeShortcuts();
    QSignalSpy changes(shortcuts.get(), &Shortcuts::shortcutByNameDidChange);

    for (const Name& name : {withDefault, withoutDefault}) {
        for (const QVariant& stored : storedValues) {
            SCOPED_TRACE(text(QString(name.rawValue + QStringLiteral(" / ") + stored.toString())));
            defaults.values.clear();
            if (stored.isValid())
                defaults.values.insert(name.userDefaultsKey(), stored);
            const int writes = defaults.writes;

            shortcuts->setShortcut(std::nullopt, name);

            EXPECT_EQ(defaults.writes, writes);
            EXPECT_EQ(defaults.values.value(name.userDefaultsKey()), stored);
        }
    }
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(platform.released.isEmpty());
}

TEST_F(ShortcutModelTest, ClearingANameWithoutADefaultRemovesItsKey)
{
    const Name name{QStringLiteral("plain"), std::nullopt};
    const auto shortcuts = makeShortcuts();
    shortcuts->setShortcut(Shortcut(Key::a, modControl), name);
    ASSERT_TRUE(defaults.values.contains(name.userDefaultsKey()));
    QSignalSpy changes(shortcuts.get(), &Shortcuts::shortcutByNameDidChange);

    shortcuts->setShortcut(std::nullopt, name);

    EXPECT_FALSE(defaults.values.contains(name.userDefaultsKey()));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(platform.active.isEmpty());

    // Declaring it again gives no default, since it has none.
    shortcuts->declare(name);
    EXPECT_FALSE(defaults.values.contains(name.userDefaultsKey()));
}

TEST_F(ShortcutModelTest, StoringReplacesTheOldRegistrationAndNotifiesEachTime)
{
    const Name name{QStringLiteral("plain"), std::nullopt};
    const auto shortcuts = makeShortcuts();
    QSignalSpy changes(shortcuts.get(), &Shortcuts::shortcutByNameDidChange);

    shortcuts->setShortcut(Shortcut(Key::a, modControl), name);
    shortcuts->setShortcut(Shortcut(Key::v, modAlt), name);

    EXPECT_EQ(changes.count(), 2);
    EXPECT_FALSE(platform.registration(Key::a, modControl).has_value());
    EXPECT_TRUE(platform.registration(Key::v, modAlt).has_value());
    EXPECT_EQ(shortcuts->registeredShortcuts(), QSet<Shortcut>{Shortcut(Key::v, modAlt)});
    EXPECT_EQ(shortcuts->getShortcut(name), Shortcut(Key::v, modAlt));
}

TEST(ShortcutModifiers, ConvertBetweenUnitsKeepingOnlyTheFiveModifiers)
{
    struct Case {
        quint32 ns;
        int carbon;
    };
    const std::vector<Case> cases{
        {0, 0},
        {eventControl, 0x1000},
        {eventAlt, 0x800},
        {eventShift, 0x200},
        {eventSuper, 0x100},
        {eventFunction, 0x20000},
        {eventSuper | eventShift, 768},
        {eventControl | eventAlt | eventShift | eventSuper | eventFunction, 0x1000 | 0x800 | 0x200 | 0x100 | 0x20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ns);
        EXPECT_EQ(modifiersFromEventFlags(c.ns), c.carbon);
        EXPECT_EQ(eventFlagsFromModifiers(c.carbon), c.ns);
    }
    // Caps lock, numeric pad, help and device bits go; so do the stored form's lock and right-hand bits.
    EXPECT_EQ(modifiersFromEventFlags(eventSuper | 0x10000 | 0x200000 | 0x400000 | 0x1 | 0x8), 0x100);
    EXPECT_EQ(eventFlagsFromModifiers(0x100 | 0x400 | 0x80 | 0x2000 | 0x4000 | 0x8000), eventSuper);
    EXPECT_EQ(Shortcut(9, 768 | 0x400).modifiers(), eventSuper | eventShift);
}

TEST(ShortcutConstruction, FromAKeyAndFromKeyEvents)
{
    EXPECT_EQ(Shortcut::fromKey(Key::v, eventSuper | eventShift), Shortcut(9, 768));
    EXPECT_EQ(Shortcut::fromKey(Key::f12, 0x10000), Shortcut(111, 0));
    EXPECT_EQ(togglePanelName().defaultShortcut, Shortcut(9, 768));
    EXPECT_EQ(togglePanelName().rawValue, QStringLiteral("togglePanel"));

    struct Case {
        KeyEvent event;
        std::optional<Shortcut> expected;
    };
    const std::vector<Case> cases{
        {{KeyEvent::Type::keyDown, Key::v, eventSuper | eventShift}, Shortcut(9, 768)},
        {{KeyEvent::Type::keyUp, Key::v, eventSuper | eventShift}, Shortcut(9, 768)},
        {{KeyEvent::Type::other, Key::v, eventSuper | eventShift}, std::nullopt},
        // The function key is dropped, along with every bit that is not a modifier.
        {{KeyEvent::Type::keyDown, Key::f6, eventFunction}, Shortcut(Key::f6, 0)},
        {{KeyEvent::Type::keyDown, Key::upArrow, eventFunction | eventControl | 0x200000}, Shortcut(Key::upArrow, 0x1000)},
        {{KeyEvent::Type::keyDown, Key::a, eventAlt | 0x10000}, Shortcut(Key::a, 0x800)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event.keyCode);
        EXPECT_EQ(Shortcut::fromEvent(c.event), c.expected);
    }
}

TEST(SpecialKeys, EveryCaseHasItsCodeQtNameAndMenuEquivalent)
{
    struct Row {
        SpecialKey key;
        int code;
        const char* name;       // Qt's untranslated name
        QKeyCombination qtKey;  // the key as Qt knows it
        const char16_t* menu;   // nullptr: none
    };
    const auto keypad = [](Qt::Key key) { return QKeyCombination(Qt::KeypadModifier, key); };
    const std::vector<Row> rows{
        {SpecialKey::returnKey, 36, "Return", Qt::Key_Return, u"↩"},
        {SpecialKey::deleteKey, 51, "Backspace", Qt::Key_Backspace, u"⌫"},
        {SpecialKey::deleteForward, 117, "Del", Qt::Key_Delete, u"⌦"},
        {SpecialKey::end, 119, "End", Qt::Key_End, u"↘"},
        {SpecialKey::escape, 53, "Esc", Qt::Key_Escape, u"⎋"},
        // The key a hot key on this code grabs is Insert (evdev KEY_INSERT).
        {SpecialKey::help, 114, "Ins", Qt::Key_Insert, u"?\u20DD"},
        {SpecialKey::home, 115, "Home", Qt::Key_Home, u"↖"},
        {SpecialKey::space, 49, "Space", Qt::Key_Space, u" "},
        {SpecialKey::tab, 48, "Tab", Qt::Key_Tab, u"⇥"},
        {SpecialKey::pageUp, 116, "PgUp", Qt::Key_PageUp, u"⇞"},
        {SpecialKey::pageDown, 121, "PgDown", Qt::Key_PageDown, u"⇟"},
        {SpecialKey::upArrow, 126, "Up", Qt::Key_Up, u"↑"},
        {SpecialKey::rightArrow, 124, "Right", Qt::Key_Right, u"→"},
        {SpecialKey::downArrow, 125, "Down", Qt::Key_Down, u"↓"},
        {SpecialKey::leftArrow, 123, "Left", Qt::Key_Left, u"←"},
        {SpecialKey::f1, 122, "F1", Qt::Key_F1, u"\uF704"},
        {SpecialKey::f2, 120, "F2", Qt::Key_F2, u"\uF705"},
        {SpecialKey::f3, 99, "F3", Qt::Key_F3, u"\uF706"},
        {SpecialKey::f4, 118, "F4", Qt::Key_F4, u"\uF707"},
        {SpecialKey::f5, 96, "F5", Qt::Key_F5, u"\uF708"},
        {SpecialKey::f6, 97, "F6", Qt::Key_F6, u"\uF709"},
        {SpecialKey::f7, 98, "F7", Qt::Key_F7, u"\uF70A"},
        {SpecialKey::f8, 100, "F8", Qt::Key_F8, u"\uF70B"},
        {SpecialKey::f9, 101, "F9", Qt::Key_F9, u"\uF70C"},
        {SpecialKey::f10, 109, "F10", Qt::Key_F10, u"\uF70D"},
        {SpecialKey::f11, 103, "F11", Qt::Key_F11, u"\uF70E"},
        {SpecialKey::f12, 111, "F12", Qt::Key_F12, u"\uF70F"},
        {SpecialKey::f13, 105, "F13", Qt::Key_F13, u"\uF710"},
        {SpecialKey::f14, 107, "F14", Qt::Key_F14, u"\uF711"},
        {SpecialKey::f15, 113, "F15", Qt::Key_F15, u"\uF712"},
        {SpecialKey::f16, 106, "F16", Qt::Key_F16, u"\uF713"},
        {SpecialKey::f17, 64, "F17", Qt::Key_F17, u"\uF714"},
        {SpecialKey::f18, 79, "F18", Qt::Key_F18, u"\uF715"},
        {SpecialKey::f19, 80, "F19", Qt::Key_F19, u"\uF716"},
        {SpecialKey::f20, 90, "F20", Qt::Key_F20, u"\uF717"},
        {SpecialKey::keypad0, 82, "Num+0", keypad(Qt::Key_0), nullptr},
        {SpecialKey::keypad1, 83, "Num+1", keypad(Qt::Key_1), nullptr},
        {SpecialKey::keypad2, 84, "Num+2", keypad(Qt::Key_2), nullptr},
        {SpecialKey::keypad3, 85, "Num+3", keypad(Qt::Key_3), nullptr},
        {SpecialKey::keypad4, 86, "Num+4", keypad(Qt::Key_4), nullptr},
        {SpecialKey::keypad5, 87, "Num+5", keypad(Qt::Key_5), nullptr},
        {SpecialKey::keypad6, 88, "Num+6", keypad(Qt::Key_6), nullptr},
        {SpecialKey::keypad7, 89, "Num+7", keypad(Qt::Key_7), nullptr},
        {SpecialKey::keypad8, 91, "Num+8", keypad(Qt::Key_8), nullptr},
        {SpecialKey::keypad9, 92, "Num+9", keypad(Qt::Key_9), nullptr},
        // A PC keyboard has Num Lock where this key is (evdev KEY_NUMLOCK).
        {SpecialKey::keypadClear, 71, "NumLock", Qt::Key_NumLock, nullptr},
        {SpecialKey::keypadDecimal, 65, "Num+.", keypad(Qt::Key_Period), nullptr},
        {SpecialKey::keypadDivide, 75, "Num+/", keypad(Qt::Key_Slash), nullptr},
        {SpecialKey::keypadEnter, 76, "Num+Enter", keypad(Qt::Key_Enter), nullptr},
        {SpecialKey::keypadEquals, 81, "Num+=", keypad(Qt::Key_Equal), nullptr},
        {SpecialKey::keypadMinus, 78, "Num+-", keypad(Qt::Key_Minus), nullptr},
        {SpecialKey::keypadMultiply, 67, "Num+*", keypad(Qt::Key_Asterisk), nullptr},
        {SpecialKey::keypadPlus, 69, "Num++", keypad(Qt::Key_Plus), nullptr},
    };
    ASSERT_EQ(rows.size(), 53u);
    // The layout types something on every key; special keys must ignore it.
    fake::FakeKeyboardLayout layout;
    for (const Row& row : rows)
        layout.texts.insert(row.code, QStringLiteral("x"));

    // KDE's notation is Qt's native text of the whole combination, in Qt's own language as well.
    const auto expectQtsNativeText = [&](const Row& row) {
        const std::pair<int, Qt::KeyboardModifiers> combinations[] = {
            {0, {}},
            {modSuper | modShift, Qt::MetaModifier | Qt::ShiftModifier},
            {modControl | modAlt, Qt::ControlModifier | Qt::AltModifier},
            {modSuper | modControl | modAlt | modShift,
             Qt::MetaModifier | Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier},
        };
        for (const auto& [carbon, qt] : combinations) {
            const QKeyCombination combination(row.qtKey.keyboardModifiers() | qt, row.qtKey.key());
            EXPECT_EQ(text(description(Shortcut(row.code, carbon), layout, ShortcutNotation::kde)),
                      text(QKeySequence(combination).toString(QKeySequence::NativeText)));
        }
    };

    const auto& all = allSpecialKeys();
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.code);
        EXPECT_EQ(all[i], row.key) << "case order";
        EXPECT_EQ(keyCode(row.key), row.code);
        EXPECT_EQ(specialKey(row.code), row.key);
        EXPECT_EQ(text(presentableDescription(row.key)), row.name);
        EXPECT_EQ(text(menuKeyEquivalent(row.key)),
                  text(row.menu ? std::optional<QString>(QString::fromUtf16(row.menu)) : std::nullopt));
        EXPECT_EQ(keyToCharacter(row.code, layout), std::nullopt);
        for (const ShortcutNotation notation : {ShortcutNotation::gtk, ShortcutNotation::kde})
            EXPECT_EQ(text(description(Shortcut(row.code, 0), layout, notation)), row.name);
        EXPECT_EQ(text(menuItemKeyText(Shortcut(row.code, 0), layout)), text(menuKeyEquivalent(row.key)));
        expectQtsNativeText(row);
    }
    // Qt translates some names ("Num" is "數字鍵" in Traditional Chinese); the notation follows it.
    KeyNameTranslations traditionalChinese;
    ASSERT_TRUE(traditionalChinese.use(QStringLiteral("zh-Hant"))) << "Qt's translations (qt6-translations-l10n)";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        expectQtsNativeText(row);
    }
    EXPECT_EQ(text(presentableDescription(SpecialKey::keypad5)), "數字鍵+5");

    // Ordinary keys are not special.
    for (const int code : {int(Key::a), int(Key::v), int(Key::zero), int(Key::command), int(Key::isoSection), 52, 200})
        EXPECT_EQ(specialKey(code), std::nullopt) << code;
}

TEST(KeyText, OnlyASingleUserPerceivedCharacterCounts)
{
    fake::FakeKeyboardLayout layout;
    layout.texts = {
        {Key::v, QStringLiteral("v")},
        {Key::quote, QStringLiteral("e\u0301")},                       // e + combining acute: one character
        {Key::backtick, QString::fromUtf16(u"\U0001F1EF\U0001F1F5")},  // a flag: one character
        {Key::semicolon, QStringLiteral("ab")},
        {Key::comma, QString::fromUtf16(u"\U0001D11E")},  // outside the BMP, still one
        {Key::space, QStringLiteral(" ")},
    };
    struct Case {
        int code;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases{
        {Key::v, QStringLiteral("v")},
        {Key::quote, QStringLiteral("e\u0301")},
        {Key::backtick, QString::fromUtf16(u"\U0001F1EF\U0001F1F5")},
        {Key::semicolon, std::nullopt},
        {Key::comma, QString::fromUtf16(u"\U0001D11E")},
        {Key::space, std::nullopt},
        {Key::b, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(text(keyToCharacter(c.code, layout)), text(c.expected));
    }
}

TEST(KeyText, EachNotationOrdersTheModifiersAndNamesTheKeyAsItsDesktopDoes)
{
    fake::FakeKeyboardLayout layout;
    layout.texts = {{Key::v, QStringLiteral("v")},          {Key::a, QStringLiteral("ä")},
                    {Key::seven, QStringLiteral("7")},      {Key::slash, QStringLiteral("/")},
                    {Key::semicolon, QStringLiteral("ab")}, {Key::l, QStringLiteral("ǆ")},
                    {Key::equal, QStringLiteral("+")}};
    constexpr int all = modControl | modAlt | modShift | modSuper;
    struct Case {
        Shortcut shortcut;
        const char* gtk;
        const char* kde;
    };
    const std::vector<Case> cases{
        {Shortcut(Key::v, modShift | modSuper), "Shift+Super+V", "Meta+Shift+V"},
        {Shortcut(Key::v, all), "Shift+Ctrl+Alt+Super+V", "Meta+Ctrl+Alt+Shift+V"},
        {Shortcut(Key::v, modControl | modAlt), "Ctrl+Alt+V", "Ctrl+Alt+V"},
        {Shortcut(Key::v, modShift | modAlt), "Shift+Alt+V", "Alt+Shift+V"},
        {Shortcut(Key::v, 0), "V", "V"},
        // The layout's character, in title case (not upper case).
        {Shortcut(Key::a, modSuper), "Super+Ä", "Meta+Ä"},
        {Shortcut(Key::l, modSuper), "Super+ǅ", "Meta+ǅ"},
        {Shortcut(Key::seven, modAlt), "Alt+7", "Alt+7"},
        {Shortcut(Key::slash, modSuper), "Super+/", "Meta+/"},
        {Shortcut(Key::equal, modControl), "Ctrl++", "Ctrl++"},
        // A key that types more than one character, or nothing at all.
        {Shortcut(Key::semicolon, modSuper), "Super+\uFFFD", "Meta+\uFFFD"},
        {Shortcut(Key::b, modControl), "Ctrl+\uFFFD", "Ctrl+\uFFFD"},
        // Special keys by Qt's names; keypad keys with Qt's keypad prefix.
        {Shortcut(Key::f5, 0), "F5", "F5"},
        {Shortcut(Key::f5, modShift), "Shift+F5", "Shift+F5"},
        {Shortcut(Key::space, modControl), "Ctrl+Space", "Ctrl+Space"},
        {Shortcut(Key::upArrow, modAlt | modSuper), "Alt+Super+Up", "Meta+Alt+Up"},
        {Shortcut(Key::deleteForward, modControl | modAlt), "Ctrl+Alt+Del", "Ctrl+Alt+Del"},
        {Shortcut(Key::escape, modShift | modSuper), "Shift+Super+Esc", "Meta+Shift+Esc"},
        {Shortcut(Key::pageUp, modControl), "Ctrl+PgUp", "Ctrl+PgUp"},
        {Shortcut(Key::keypad7, modSuper), "Super+Num+7", "Meta+Num+7"},
        {Shortcut(Key::keypadEnter, modControl | modShift), "Shift+Ctrl+Num+Enter", "Ctrl+Shift+Num+Enter"},
        // Only a stored shortcut can carry the function modifier; it comes after the others.
        {Shortcut(Key::v, modFunction), "Fn+V", "Fn+V"},
        {Shortcut(Key::v, modFunction | modShift | modSuper), "Shift+Super+Fn+V", "Meta+Shift+Fn+V"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gtk);
        EXPECT_EQ(text(description(c.shortcut, layout, ShortcutNotation::gtk)), c.gtk);
        EXPECT_EQ(text(description(c.shortcut, layout, ShortcutNotation::kde)), c.kde);
    }
    EXPECT_EQ(text(capitalized(QStringLiteral("space bar"))), "Space Bar");
    EXPECT_EQ(text(capitalized(QStringLiteral("leerTaste"))), "LeerTaste");
}

TEST(KeyText, TheDesktopChoosesTheNotation)
{
    struct Case {
        const char* currentDesktop;
        ShortcutNotation expected;
    };
    const std::vector<Case> cases{
        {"KDE", ShortcutNotation::kde},          {"kde", ShortcutNotation::kde},
        {"foo:KDE", ShortcutNotation::kde},      {"GNOME", ShortcutNotation::gtk},
        {"ubuntu:GNOME", ShortcutNotation::gtk}, {"X-Cinnamon", ShortcutNotation::gtk},
        {"XFCE", ShortcutNotation::gtk},         {"MATE", ShortcutNotation::gtk},
        {"sway", ShortcutNotation::gtk},         {"", ShortcutNotation::gtk},
        {"NotKDE", ShortcutNotation::gtk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.currentDesktop);
        EXPECT_EQ(notationForDesktop(QString::fromUtf8(c.currentDesktop)), c.expected);
    }
}

TEST(KeyText, KeyNamesReadInTheLanguageOfQtsInstalledTranslations)
{
    const fake::FakeKeyboardLayout layout;
    const Shortcut controlSpace(Key::space, modControl);
    const Shortcut metaKeypadFive(Key::keypad5, modSuper);
    const Shortcut controlLeft(Key::leftArrow, modControl);
    struct Case {
        const char* language;
        bool found;
        const char* controlSpace;
        const char* metaKeypadFive;  // in KDE's notation
        const char* controlLeft;
    };
    const std::vector<Case> cases{
        {"zh-Hans", true, "Ctrl+空格", "Meta+Num+5", "Ctrl+左方向"},
        {"zh-Hant", true, "Ctrl+空白鍵", "Meta+數字鍵+5", "Ctrl+左鍵"},
        {"ja", true, "Ctrl+Space", "Meta+Num+5", "Ctrl+←"},
        {"ko", true, "Ctrl+Space", "Meta+Num+5", "Ctrl+왼쪽"},
        {"en", true, "Ctrl+Space", "Meta+Num+5", "Ctrl+Left"},
        // No catalogue: the one installed before is gone, and Qt's English names apply.
        {"xx", false, "Ctrl+Space", "Meta+Num+5", "Ctrl+Left"},
        {"zh-Hant", true, "Ctrl+空白鍵", "Meta+數字鍵+5", "Ctrl+左鍵"},
        {"", false, "Ctrl+Space", "Meta+Num+5", "Ctrl+Left"},
    };
    {
        KeyNameTranslations translations;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.language);
            EXPECT_EQ(translations.use(QString::fromUtf8(c.language)), c.found);
            EXPECT_EQ(translations.filePath().isEmpty(), !c.found);
            EXPECT_EQ(text(description(controlSpace, layout, ShortcutNotation::gtk)), c.controlSpace);
            EXPECT_EQ(text(description(metaKeypadFive, layout, ShortcutNotation::kde)), c.metaKeypadFive);
            EXPECT_EQ(text(description(controlLeft, layout, ShortcutNotation::gtk)), c.controlLeft);
        }
        ASSERT_TRUE(translations.use(QStringLiteral("zh-Hans")));
        ASSERT_EQ(text(description(controlSpace, layout, ShortcutNotation::gtk)), "Ctrl+空格");
    }
    // Gone with its owner.
    EXPECT_EQ(text(description(controlSpace, layout, ShortcutNotation::gtk)), "Ctrl+Space");
}

TEST(ModuleStrings, AMissingTextFallsBackToTheModuleTextThenToTheKey)
{
    const Strings english = [](const QString& key) {
        return key == QStringLiteral("record_shortcut") ? QStringLiteral("Record Shortcut") : key;
    };
    EXPECT_EQ(text(localizedString(english, QStringLiteral("record_shortcut"))), "Record Shortcut");
    EXPECT_EQ(text(localizedString(english, QStringLiteral("press_shortcut"))), "按下快捷键");
    EXPECT_EQ(text(localizedString(english, QStringLiteral("unknown_key"))), "unknown_key");
    EXPECT_EQ(text(localizedString(Strings(), QStringLiteral("unknown_key"))), "unknown_key");
    // Every key the recorder uses has a module text, and the menu-item one keeps its argument.
    for (const char* key :
         {"record_shortcut", "press_shortcut", "keyboard_shortcut_used_by_menu_item", "keyboard_shortcut_disallowed",
          "keyboard_shortcut_used_by_system", "keyboard_shortcuts_can_be_changed", "ok", "force_use_shortcut"})
        EXPECT_TRUE(builtInText(QString::fromUtf8(key)).has_value()) << key;
    EXPECT_TRUE(builtInText(QStringLiteral("keyboard_shortcut_used_by_menu_item"))->contains(QStringLiteral("%1")));
}

TEST_F(ShortcutModelTest, TheModuleDescribesInItsNotationThroughItsLayout)
{
    const auto shortcuts = makeShortcuts();
    EXPECT_EQ(shortcuts->notation(), ShortcutNotation::gtk);
    EXPECT_EQ(text(shortcuts->description(Shortcut(9, 768))), "Shift+Super+V");
    EXPECT_EQ(text(shortcuts->description(Shortcut(Key::space, 0x1000))), "Ctrl+Space");
    EXPECT_EQ(text(shortcuts->menuItemKeyText(Shortcut(9, 768))), "\"v\"");
    EXPECT_EQ(text(shortcuts->menuItemKeyText(Shortcut(Key::keypad1, 0x100))), "<none>");
    EXPECT_EQ(text(shortcuts->keyToCharacter(Key::a)), "\"a\"");
    EXPECT_EQ(text(shortcuts->localized(QStringLiteral("ok"))), "好");

    Shortcuts onKde(defaults, platform, layout, console, ShortcutNotation::kde);
    EXPECT_EQ(onKde.notation(), ShortcutNotation::kde);
    EXPECT_EQ(text(onKde.description(Shortcut(9, 768))), "Meta+Shift+V");

    // The layout is read at the time of asking, so a layout switch shows at once.
    layout.texts.insert(Key::v, QStringLiteral("ж"));
    EXPECT_EQ(text(shortcuts->description(Shortcut(9, 768))), "Shift+Super+Ж");
    EXPECT_EQ(text(onKde.description(Shortcut(9, 768))), "Meta+Shift+Ж");
}

}  // namespace
}  // namespace nimbrel::KeyboardShortcuts
