#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/KeyText.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "hotkey/HotkeyManager.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakePlatform.h"

#include <QKeySequence>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <iterator>
#include <tuple>

namespace nimbrel::KeyboardShortcuts {

namespace {

using namespace Qt::StringLiterals;

const QString toggleKey = u"KeyboardShortcuts_togglePanel"_s;
const QString storedShiftCommandV = uR"({"carbonKeyCode":9,"carbonModifiers":768})"_s;

// Users' settings files hold this form: what is written must read back, and older spellings must still read.
TEST(ShortcutStoredForm, RoundTripsAndRefusesWhatItCannotRead)
{
    const std::pair<const char*, std::optional<Shortcut>> cases[] = {
        {R"({"carbonKeyCode":9,"carbonModifiers":768})", Shortcut(9, 768)},
        {R"({"carbonKeyCode":-1,"carbonModifiers":0})", Shortcut(-1, 0)},
        {R"({"carbonKeyCode":111,"carbonModifiers":4352})", Shortcut(111, 4352)},
        // Read, though never written so: another member order, spaces, other members, an integral double.
        {R"( { "carbonModifiers" : 768 , "carbonKeyCode" : 9, "note": 1 } )", Shortcut(9, 768)},
        {R"({"carbonKeyCode":9.0,"carbonModifiers":768})", Shortcut(9, 768)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [json, expected] = cases[i];
        SCOPED_TRACE(json);
        EXPECT_EQ(Shortcut::fromJson(QString::fromUtf8(json)), expected);
        if (i < 3) {  // the form written
            EXPECT_EQ(expected->toJson(), QString::fromUtf8(json));
        }
    }
    // Missing members, wrong types, fractions, out of range, not an object, not JSON.
    for (const char* json :
         {R"({"carbonKeyCode":9})", R"({"carbonKeyCode":"9","carbonModifiers":768})",
          R"({"carbonKeyCode":9,"carbonModifiers":true})", R"({"carbonKeyCode":9.5,"carbonModifiers":768})",
          R"({"carbonKeyCode":9,"carbonModifiers":1e20})", R"({"carbonKeyCode":4294967305,"carbonModifiers":768})",
          R"([9,768])", R"({"carbonKeyCode":9,"carbonModifiers":768)"})
        EXPECT_EQ(Shortcut::fromJson(QString::fromUtf8(json)), std::nullopt) << json;
}

class ShortcutModelTest : public ::testing::Test {
protected:
    ShortcutModelTest() { layout.texts = {{Key::v, u"v"_s}, {Key::a, u"a"_s}}; }

    fake::MemoryDefaults defaults;
    fake::FakeHotKeyPlatform platform;
    fake::FakeKeyboardLayout layout;
    fake::RecordingConsole console;
};

// Only a key that holds nothing gets the default: a cleared (false) or unreadable value blocks it for good,
// and reading never rewrites what is there.
TEST_F(ShortcutModelTest, DeclaringStoresTheDefaultOnlyWhenNothingIsStored)
{
    const QVariant cases[] = {{}, false, u"{broken"_s, u"Shift+Super+V"_s, qint64(9), QStringList{storedShiftCommandV}};
    for (const QVariant& before : cases) {
        SCOPED_TRACE(before.toString().toStdString());
        defaults.values.clear();
        if (before.isValid())
            defaults.values.insert(toggleKey, before);
        fake::FakeHotKeyPlatform launch;
        Shortcuts shortcuts(defaults, launch, layout, console);
        QSignalSpy changes(&shortcuts, &Shortcuts::shortcutByNameDidChange);

        shortcuts.declare(togglePanelName());
        shortcuts.declare(togglePanelName());  // the settings window's declaration finds the value

        const bool stores = !before.isValid();
        EXPECT_EQ(defaults.values.value(toggleKey), stores ? QVariant(storedShiftCommandV) : before);
        EXPECT_EQ(changes.count(), stores ? 1 : 0);
        EXPECT_EQ(launch.attempts.size(), stores ? 1 : 0);
        EXPECT_EQ(shortcuts.getShortcut(togglePanelName()), stores ? std::optional(Shortcut(9, 768)) : std::nullopt);
    }
}

TEST_F(ShortcutModelTest, StoringReplacesAndClearingMarksANameWithADefaultOrRemovesItsKey)
{
    Shortcuts shortcuts(defaults, platform, layout, console);
    QSignalSpy changes(&shortcuts, &Shortcuts::shortcutByNameDidChange);
    for (const Name& name : {Name{u"withDefault"_s, Shortcut(Key::a, modSuper)}, Name{u"plain"_s, {}}}) {
        SCOPED_TRACE(name.rawValue.toStdString());
        changes.clear();
        defaults.values.insert(name.userDefaultsKey(), u"{broken"_s);  // overwritten by the next store
        shortcuts.setShortcut(Shortcut(Key::a, modControl), name);
        EXPECT_EQ(defaults.values.value(name.userDefaultsKey()),
                  QVariant(uR"({"carbonKeyCode":0,"carbonModifiers":4096})"_s));
        shortcuts.setShortcut(Shortcut(Key::v, modAlt), name);
        EXPECT_EQ(platform.activeIds().size(), 1);
        EXPECT_EQ(shortcuts.registeredShortcuts(), QSet<Shortcut>{Shortcut(Key::v, modAlt)});

        shortcuts.setShortcut(std::nullopt, name);
        EXPECT_EQ(changes.count(), 3);
        EXPECT_EQ(defaults.values.value(name.userDefaultsKey()), name.defaultShortcut ? QVariant(false) : QVariant());
        EXPECT_TRUE(platform.active.isEmpty());
        EXPECT_TRUE(shortcuts.registeredShortcuts().isEmpty());

        // Nothing to clear, whatever unreadable value is there: nothing written, nothing posted.
        for (const QVariant& stored : {QVariant(), QVariant(false), QVariant(u"garbage"_s)}) {
            defaults.values.remove(name.userDefaultsKey());
            if (stored.isValid())
                defaults.values.insert(name.userDefaultsKey(), stored);
            const int writes = defaults.writes;
            shortcuts.setShortcut(std::nullopt, name);
            EXPECT_EQ(defaults.writes, writes);
            EXPECT_EQ(defaults.values.value(name.userDefaultsKey()), stored);
        }
        EXPECT_EQ(changes.count(), 3);
    }
}

TEST(KeyText, EachNotationOrdersTheModifiersAndNamesTheKeyAsItsDesktopDoes)
{
    fake::FakeKeyboardLayout layout;
    layout.texts = {{Key::v, u"v"_s},
                    {Key::l, u"ǆ"_s},
                    {Key::semicolon, u"ab"_s},
                    {Key::quote, u"e\u0301"_s},
                    {Key::comma, u"\U0001D11E"_s},
                    {Key::backtick, u"\U0001F1EF\U0001F1F5"_s},
                    {Key::space, u" "_s}};
    // One user-perceived character or none: e + combining acute, a flag, a character outside the BMP count.
    for (const int code : {Key::quote, Key::comma, Key::backtick})
        EXPECT_EQ(keyToCharacter(code, layout), layout.texts.value(code)) << code;
    for (const int code : {Key::semicolon, Key::space, Key::b})
        EXPECT_EQ(keyToCharacter(code, layout), std::nullopt) << code;

    constexpr int all = modControl | modAlt | modShift | modSuper;
    const std::tuple<Shortcut, const char*, const char*> cases[] = {
        {Shortcut(Key::v, all), "Shift+Ctrl+Alt+Super+V", "Meta+Ctrl+Alt+Shift+V"},
        {Shortcut(Key::l, 0), "ǅ", "ǅ"},  // the layout's character in title case, not upper case
        {Shortcut(Key::semicolon, modSuper), "Super+\uFFFD", "Meta+\uFFFD"},  // more than one character
        // Only a stored shortcut can carry the function modifier; it comes after the others.
        {Shortcut(Key::v, modFunction | modShift | modSuper), "Shift+Super+Fn+V", "Meta+Shift+Fn+V"},
    };
    for (const auto& [shortcut, gtk, kde] : cases) {
        EXPECT_EQ(description(shortcut, layout, ShortcutNotation::gtk), QString::fromUtf8(gtk));
        EXPECT_EQ(description(shortcut, layout, ShortcutNotation::kde), QString::fromUtf8(kde));
    }
    for (const char* desktop : {"KDE", "kde", "foo:KDE"})
        EXPECT_EQ(notationForDesktop(QString::fromUtf8(desktop)), ShortcutNotation::kde) << desktop;
    for (const char* desktop : {"GNOME", "ubuntu:GNOME", "X-Cinnamon", "sway", "", "NotKDE"})
        EXPECT_EQ(notationForDesktop(QString::fromUtf8(desktop)), ShortcutNotation::gtk) << desktop;
}

TEST_F(ShortcutModelTest, TheModuleDescribesInItsNotationThroughItsLayoutAndLanguage)
{
    Shortcuts shortcuts(defaults, platform, layout, console);
    Shortcuts onKde(defaults, platform, layout, console, ShortcutNotation::kde);
    EXPECT_EQ(shortcuts.menuItemKeyText(Shortcut(9, 768)), u"v"_s);
    // The layout is read at the time of asking, so a layout switch shows at once.
    layout.texts.insert(Key::v, u"ж"_s);
    EXPECT_EQ(shortcuts.description(Shortcut(9, 768)), u"Shift+Super+Ж"_s);
    EXPECT_EQ(onKde.description(Shortcut(9, 768)), u"Meta+Shift+Ж"_s);

    // A missing text falls back to the module's own, then to the key.
    const Strings english = [](const QString& key) { return key == u"ok"_s ? u"OK"_s : key; };
    EXPECT_EQ(localizedString(english, u"ok"_s), u"OK"_s);
    EXPECT_EQ(localizedString(english, u"press_shortcut"_s), u"按下快捷键"_s);
    EXPECT_EQ(localizedString(Strings(), u"unknown_key"_s), u"unknown_key"_s);
}

}  // namespace
}  // namespace nimbrel::KeyboardShortcuts
