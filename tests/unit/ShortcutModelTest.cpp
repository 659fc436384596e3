#include "KeyboardShortcuts/CarbonKeyMap.h"
#include "KeyboardShortcuts/KeyText.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "KeyboardShortcuts/SpecialKey.h"
#include "hotkey/HotkeyManager.h"
#include "platform/fake/FakeHotKeys.h"
#include "platform/fake/FakePlatform.h"

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
    *os << "Shortcut{" << shortcut.carbonKeyCode << ", " << shortcut.carbonModifiers << "}";
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
        {QVariant(QStringLiteral("⇧⌘V")), std::nullopt},
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

    shortcuts->setShortcut(Shortcut(Key::a, carbonCommand), togglePanelName());
    EXPECT_EQ(defaults.values.value(toggleKey).toString(),
              QStringLiteral("{\"carbonKeyCode\":0,\"carbonModifiers\":256}"));
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(ShortcutModelTest, ClearingANameWithoutAShortcutWritesAndPostsNothing)
{
    const Name withDefault{QStringLiteral("withDefault"), Shortcut(Key::a, carbonCommand)};
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
    shortcuts->setShortcut(Shortcut(Key::a, carbonControl), name);
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

    shortcuts->setShortcut(Shortcut(Key::a, carbonControl), name);
    shortcuts->setShortcut(Shortcut(Key::v, carbonOption), name);

    EXPECT_EQ(changes.count(), 2);
    EXPECT_FALSE(platform.registration(Key::a, carbonControl).has_value());
    EXPECT_TRUE(platform.registration(Key::v, carbonOption).has_value());
    EXPECT_EQ(shortcuts->registeredShortcuts(), QSet<Shortcut>{Shortcut(Key::v, carbonOption)});
    EXPECT_EQ(shortcuts->getShortcut(name), Shortcut(Key::v, carbonOption));
}

TEST(ShortcutModifiers, ConvertBetweenUnitsKeepingOnlyTheFiveModifiers)
{
    struct Case {
        quint32 ns;
        int carbon;
    };
    const std::vector<Case> cases{
        {0, 0},
        {nsControl, 0x1000},
        {nsOption, 0x800},
        {nsShift, 0x200},
        {nsCommand, 0x100},
        {nsFunction, 0x20000},
        {nsCommand | nsShift, 768},
        {nsControl | nsOption | nsShift | nsCommand | nsFunction, 0x1000 | 0x800 | 0x200 | 0x100 | 0x20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ns);
        EXPECT_EQ(carbonModifiersFromNS(c.ns), c.carbon);
        EXPECT_EQ(nsModifiersFromCarbon(c.carbon), c.ns);
    }
    // Caps lock, numeric pad, help and device bits go; so do Carbon's lock and right-hand bits.
    EXPECT_EQ(carbonModifiersFromNS(nsCommand | 0x10000 | 0x200000 | 0x400000 | 0x1 | 0x8), 0x100);
    EXPECT_EQ(nsModifiersFromCarbon(0x100 | 0x400 | 0x80 | 0x2000 | 0x4000 | 0x8000), nsCommand);
    EXPECT_EQ(Shortcut(9, 768 | 0x400).modifiers(), nsCommand | nsShift);
}

TEST(ShortcutModifiers, SymbolsAlwaysReadControlOptionShiftCommandThenGlobe)
{
    const QString globe = QString::fromUtf16(u"\U0001F310\uFE0E");
    struct Case {
        quint32 ns;
        QString expected;
    };
    const std::vector<Case> cases{
        {0, QString()},
        {nsShift | nsCommand, QStringLiteral("⇧⌘")},
        {nsCommand | nsControl, QStringLiteral("⌃⌘")},
        {nsFunction | nsOption, QStringLiteral("⌥") + globe},
        {nsFunction | nsCommand | nsShift | nsOption | nsControl, QStringLiteral("⌃⌥⇧⌘") + globe},
        {0x10000 | 0x200000, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ns);
        EXPECT_EQ(text(ks_symbolicRepresentation(c.ns)), text(c.expected));
    }
    EXPECT_EQ(globe.size(), 3);  // a surrogate pair and the text-presentation selector
}

TEST(ShortcutConstruction, FromAKeyAndFromKeyEvents)
{
    EXPECT_EQ(Shortcut::fromKey(Key::v, nsCommand | nsShift), Shortcut(9, 768));
    EXPECT_EQ(Shortcut::fromKey(Key::f12, 0x10000), Shortcut(111, 0));
    EXPECT_EQ(togglePanelName().defaultShortcut, Shortcut(9, 768));
    EXPECT_EQ(togglePanelName().rawValue, QStringLiteral("togglePanel"));

    struct Case {
        KeyEvent event;
        std::optional<Shortcut> expected;
    };
    const std::vector<Case> cases{
        {{KeyEvent::Type::keyDown, Key::v, nsCommand | nsShift}, Shortcut(9, 768)},
        {{KeyEvent::Type::keyUp, Key::v, nsCommand | nsShift}, Shortcut(9, 768)},
        {{KeyEvent::Type::other, Key::v, nsCommand | nsShift}, std::nullopt},
        // The function key is dropped, along with every bit that is not a modifier.
        {{KeyEvent::Type::keyDown, Key::f6, nsFunction}, Shortcut(Key::f6, 0)},
        {{KeyEvent::Type::keyDown, Key::upArrow, nsFunction | nsControl | 0x200000}, Shortcut(Key::upArrow, 0x1000)},
        {{KeyEvent::Type::keyDown, Key::a, nsOption | 0x10000}, Shortcut(Key::a, 0x800)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event.carbonKeyCode);
        EXPECT_EQ(Shortcut::fromEvent(c.event), c.expected);
    }
}

TEST(SpecialKeys, EveryCaseHasItsCodeDisplayTextAndMenuEquivalent)
{
    struct Row {
        SpecialKey key;
        int code;
        const char16_t* display;
        const char16_t* menu;  // nullptr: none
    };
    // Space is looked up; its row holds the text with a lookup that answers "space".
    const std::vector<Row> rows{
        {SpecialKey::returnKey, 36, u"↩", u"↩"},
        {SpecialKey::deleteKey, 51, u"⌫", u"⌫"},
        {SpecialKey::deleteForward, 117, u"⌦", u"⌦"},
        {SpecialKey::end, 119, u"↘", u"↘"},
        {SpecialKey::escape, 53, u"⎋", u"⎋"},
        {SpecialKey::help, 114, u"?\u20DD", u"?\u20DD"},
        {SpecialKey::home, 115, u"↖", u"↖"},
        {SpecialKey::space, 49, u"Space", u" "},
        {SpecialKey::tab, 48, u"⇥", u"⇥"},
        {SpecialKey::pageUp, 116, u"⇞", u"⇞"},
        {SpecialKey::pageDown, 121, u"⇟", u"⇟"},
        {SpecialKey::upArrow, 126, u"↑", u"↑"},
        {SpecialKey::rightArrow, 124, u"→", u"→"},
        {SpecialKey::downArrow, 125, u"↓", u"↓"},
        {SpecialKey::leftArrow, 123, u"←", u"←"},
        {SpecialKey::f1, 122, u"F1", u"\uF704"},
        {SpecialKey::f2, 120, u"F2", u"\uF705"},
        {SpecialKey::f3, 99, u"F3", u"\uF706"},
        {SpecialKey::f4, 118, u"F4", u"\uF707"},
        {SpecialKey::f5, 96, u"F5", u"\uF708"},
        {SpecialKey::f6, 97, u"F6", u"\uF709"},
        {SpecialKey::f7, 98, u"F7", u"\uF70A"},
        {SpecialKey::f8, 100, u"F8", u"\uF70B"},
        {SpecialKey::f9, 101, u"F9", u"\uF70C"},
        {SpecialKey::f10, 109, u"F10", u"\uF70D"},
        {SpecialKey::f11, 103, u"F11", u"\uF70E"},
        {SpecialKey::f12, 111, u"F12", u"\uF70F"},
        {SpecialKey::f13, 105, u"F13", u"\uF710"},
        {SpecialKey::f14, 107, u"F14", u"\uF711"},
        {SpecialKey::f15, 113, u"F15", u"\uF712"},
        {SpecialKey::f16, 106, u"F16", u"\uF713"},
        {SpecialKey::f17, 64, u"F17", u"\uF714"},
        {SpecialKey::f18, 79, u"F18", u"\uF715"},
        {SpecialKey::f19, 80, u"F19", u"\uF716"},
        {SpecialKey::f20, 90, u"F20", u"\uF717"},
        {SpecialKey::keypad0, 82, u"0\u20E3", nullptr},
        {SpecialKey::keypad1, 83, u"1\u20E3", nullptr},
        {SpecialKey::keypad2, 84, u"2\u20E3", nullptr},
        {SpecialKey::keypad3, 85, u"3\u20E3", nullptr},
        {SpecialKey::keypad4, 86, u"4\u20E3", nullptr},
        {SpecialKey::keypad5, 87, u"5\u20E3", nullptr},
        {SpecialKey::keypad6, 88, u"6\u20E3", nullptr},
        {SpecialKey::keypad7, 89, u"7\u20E3", nullptr},
        {SpecialKey::keypad8, 91, u"8\u20E3", nullptr},
        {SpecialKey::keypad9, 92, u"9\u20E3", nullptr},
        {SpecialKey::keypadClear, 71, u"☒\u20E3", nullptr},
        {SpecialKey::keypadDecimal, 65, u".\u20E3", nullptr},
        {SpecialKey::keypadDivide, 75, u"/\u20E3", nullptr},
        {SpecialKey::keypadEnter, 76, u"↩\u20E3", nullptr},
        {SpecialKey::keypadEquals, 81, u"=\u20E3", nullptr},
        {SpecialKey::keypadMinus, 78, u"-\u20E3", nullptr},
        {SpecialKey::keypadMultiply, 67, u"*\u20E3", nullptr},
        {SpecialKey::keypadPlus, 69, u"+\u20E3", nullptr},
    };
    ASSERT_EQ(rows.size(), 53u);
    const Strings english = [](const QString& key) {
        return key == QStringLiteral("space_key") ? QStringLiteral("space") : key;
    };
    // The layout types something on every key; special keys must ignore it.
    fake::FakeKeyboardLayout layout;
    for (const Row& row : rows)
        layout.texts.insert(row.code, QStringLiteral("x"));

    const auto& all = allSpecialKeys();
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.code);
        EXPECT_EQ(all[i], row.key) << "case order";
        EXPECT_EQ(keyCode(row.key), row.code);
        EXPECT_EQ(specialKey(row.code), row.key);
        EXPECT_EQ(text(presentableDescription(row.key, english)), text(QString::fromUtf16(row.display)));
        EXPECT_EQ(text(menuKeyEquivalent(row.key)),
                  text(row.menu ? std::optional<QString>(QString::fromUtf16(row.menu)) : std::nullopt));
        EXPECT_EQ(keyToCharacter(row.code, layout), std::nullopt);
        EXPECT_EQ(text(description(Shortcut(row.code, 0), layout, english)), text(QString::fromUtf16(row.display)));
        EXPECT_EQ(text(nsMenuItemKeyEquivalent(Shortcut(row.code, 0), layout)), text(menuKeyEquivalent(row.key)));
    }
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

TEST(KeyText, DisplayTextCapitalizesAndFallsBackToTheReplacementCharacter)
{
    fake::FakeKeyboardLayout layout;
    layout.texts = {{Key::v, QStringLiteral("v")},          {Key::a, QStringLiteral("ä")},
                    {Key::seven, QStringLiteral("7")},      {Key::slash, QStringLiteral("/")},
                    {Key::semicolon, QStringLiteral("ab")}, {Key::l, QStringLiteral("ǆ")}};
    const Strings keys = [](const QString& key) { return key; };
    struct Case {
        Shortcut shortcut;
        QString expected;
    };
    const std::vector<Case> cases{
        {Shortcut(Key::v, 768), QStringLiteral("⇧⌘V")},
        {Shortcut(Key::v, 0x1000 | 0x100 | 0x800 | 0x200), QStringLiteral("⌃⌥⇧⌘V")},
        {Shortcut(Key::a, 0x100), QStringLiteral("⌘Ä")},
        {Shortcut(Key::seven, 0x800), QStringLiteral("⌥7")},
        {Shortcut(Key::slash, 0x100), QStringLiteral("⌘/")},
        {Shortcut(Key::l, 0x100), QStringLiteral("⌘ǅ")},  // title case, not upper case
        {Shortcut(Key::semicolon, 0x100), QStringLiteral("⌘\uFFFD")},
        {Shortcut(Key::b, 0x1000), QStringLiteral("⌃\uFFFD")},
        {Shortcut(Key::f5, 0), QStringLiteral("F5")},
        {Shortcut(Key::keypad7, 0x100), QStringLiteral("⌘7\u20E3")},
        {Shortcut(Key::v, 0x20000), QString::fromUtf16(u"\U0001F310\uFE0EV")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(text(c.expected));
        EXPECT_EQ(text(description(c.shortcut, layout, keys)), text(c.expected));
    }
    EXPECT_EQ(text(capitalized(QStringLiteral("space bar"))), "Space Bar");
    EXPECT_EQ(text(capitalized(QStringLiteral("leerTaste"))), "LeerTaste");
}

TEST(KeyText, SpaceShowsTheLocalizedWordCapitalized)
{
    const fake::FakeKeyboardLayout layout;
    struct Case {
        const char* language;
        Strings strings;
        QString expected;
    };
    const auto table = [](QString word) {
        return Strings([word](const QString& key) { return key == QStringLiteral("space_key") ? word : key; });
    };
    const std::vector<Case> cases{
        {"en", table(QStringLiteral("space")), QStringLiteral("⌘Space")},
        {"ja", table(QStringLiteral("スペース")), QStringLiteral("⌘スペース")},
        {"zh-Hant", table(QStringLiteral("空白鍵")), QStringLiteral("⌘空白鍵")},
        // The key language has no table: the lookup answers the key, and the module's own text is shown.
        {"zh-Hans", [](const QString& key) { return key; }, QStringLiteral("⌘空格")},
        {"empty entry", [](const QString&) { return QString(); }, QStringLiteral("⌘空格")},
        {"no lookup", Strings(), QStringLiteral("⌘空格")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        EXPECT_EQ(text(description(Shortcut(Key::space, 0x100), layout, c.strings)), text(c.expected));
    }
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
    // Every key the recorder and the display use has a module text, and the menu-item one keeps its argument.
    for (const char* key : {"space_key", "record_shortcut", "press_shortcut", "keyboard_shortcut_used_by_menu_item",
                            "keyboard_shortcut_disallowed", "keyboard_shortcut_used_by_system",
                            "keyboard_shortcuts_can_be_changed", "ok", "force_use_shortcut"})
        EXPECT_TRUE(builtInText(QString::fromUtf8(key)).has_value()) << key;
    EXPECT_TRUE(builtInText(QStringLiteral("keyboard_shortcut_used_by_menu_item"))->contains(QStringLiteral("%@")));
}

TEST_F(ShortcutModelTest, TheModuleDescribesThroughItsLayoutAndLookup)
{
    const auto shortcuts = makeShortcuts();
    shortcuts->setStrings(
        [](const QString& key) { return key == QStringLiteral("space_key") ? QStringLiteral("space") : key; });
    EXPECT_EQ(text(shortcuts->description(Shortcut(9, 768))), "⇧⌘V");
    EXPECT_EQ(text(shortcuts->description(Shortcut(Key::space, 0x1000))), "⌃Space");
    EXPECT_EQ(text(shortcuts->nsMenuItemKeyEquivalent(Shortcut(9, 768))), "\"v\"");
    EXPECT_EQ(text(shortcuts->nsMenuItemKeyEquivalent(Shortcut(Key::keypad1, 0x100))), "<none>");
    EXPECT_EQ(text(shortcuts->keyToCharacter(Key::a)), "\"a\"");
    EXPECT_EQ(text(shortcuts->localized(QStringLiteral("ok"))), "好");

    // The layout is read at the time of asking, so a layout switch shows at once.
    layout.texts.insert(Key::v, QStringLiteral("ж"));
    EXPECT_EQ(text(shortcuts->description(Shortcut(9, 768))), "⇧⌘Ж");
}

}  // namespace
}  // namespace nimbrel::KeyboardShortcuts
