#include "KeyboardShortcuts/KeyCodes.h"
#include "platform/linux/DesktopEntries.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace nimbrel;
using native::DesktopEntries;

namespace {

void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

}  // namespace

TEST(DesktopEntries, WindowsAreMatchedToInstalledApplications)
{
    const QString user = test::freshDirectory();
    const QString system = test::freshDirectory();
    write(
        system + "/org.gnome.TextEditor.desktop",
        "[Desktop Entry]\nType=Application\nName=Text Editor\nName[ja]=テキストエディター\nName[de_AT]=Texteditor AT\n"
        "Name[de]=Texteditor\nIcon=org.gnome.TextEditor\nExec=gnome-text-editor %U\n");
    write(system + "/kde/org.kde.kate.desktop",
          "[Desktop Entry]\nType=Application\nName=Kate\nStartupWMClass=kate-editor\nExec=\"/usr/bin/kate\" -b %U\n");
    write(system + "/firefox-esr.desktop",
          "[Desktop Entry]\nType=Application\nName=System Firefox\nExec=/usr/lib/firefox-esr/firefox-esr %u\n");
    write(user + "/firefox-esr.desktop", "[Desktop Entry]\nType=Application\nName=My Firefox\nExec=firefox-esr %u\n");
    write(system + "/gone.desktop", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\nExec=gone\n");
    write(system + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Web\nURL=https://example.org\n");
    const DesktopEntries entries({user, system});

    struct Case {
        const char* name;
        QString windowClass;
        QString instance;
        QString executable;
        QString id;  // empty: no entry
    };
    const Case cases[] = {
        {"the id's last component names the class", "TextEditor", "", "", "org.gnome.TextEditor"},
        {"the full id, any case", "ORG.GNOME.TEXTEDITOR", "", "", "org.gnome.TextEditor"},
        {"StartupWMClass, in a subfolder", "Kate-Editor", "", "", "kde-org.kde.kate"},
        {"the instance when the class is unknown", "Unknown", "firefox-esr", "", "firefox-esr"},
        {"the program when nothing else fits", "Zzz", "zzz", "kate", "kde-org.kde.kate"},
        {"hidden entries are not applications", "gone", "", "gone", ""},
        {"links are not applications", "link", "", "", ""},
        {"nothing at all", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto entry = entries.forWindow(c.windowClass, c.instance, c.executable);
        EXPECT_EQ(entry ? entry->id : QString(), c.id);
    }

    const auto editor = entries.byId(QStringLiteral("org.gnome.TextEditor"));
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->icon, QStringLiteral("org.gnome.TextEditor"));
    // clang-format off
    const std::pair<QStringList, const char*> names[] = {{{"ja-JP"}, "テキストエディター"}, {{"de_AT.UTF-8"}, "Texteditor AT"},
        {{"de-CH"}, "Texteditor"}, {{"fr", "ja"}, "テキストエディター"}, {{"ko"}, "Text Editor"}};
    // clang-format on
    for (const auto& [languages, name] : names)
        EXPECT_EQ(editor->localizedName(languages), QString::fromUtf8(name)) << languages.join(u',').toStdString();
    EXPECT_EQ(entries.byId(QStringLiteral("firefox-esr"))->localizedName({}), QStringLiteral("My Firefox"))
        << "the user's folder overrides the system's";
}

TEST(DesktopEntries, CategoriesAreReadAsAList)
{
    // clang-format off
    const std::pair<QByteArray, QStringList> cases[] = {
        {"[Desktop Entry]\nType=Application\nCategories=System;TerminalEmulator;\n", {"System", "TerminalEmulator"}},
        {"[Desktop Entry]\nType=Application\nCategories=Utility;TextEditor\n", {"Utility", "TextEditor"}},
        {"[Desktop Entry]\nType=Application\nCategories = ;GTK;;Development;\n", {"GTK", "Development"}},
        {"[Desktop Entry]\nType=Application\nName=Plain\n", {}},
        {"[Desktop Entry]\nType=Application\nCategories=Office;\n[Desktop Action new]\nCategories=TerminalEmulator;\n",
         {"Office"}}};
    // clang-format on
    for (const auto& [text, categories] : cases) {
        SCOPED_TRACE(text.constData());
        const auto entry = DesktopEntries::parse(QStringLiteral("app"), text);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->categories, categories);
    }
}

TEST(KeyCodes, KeysMapByPhysicalPositionBothWays)
{
    struct Case {
        const char* name;
        int code;
        int evdev;
    };
    // clang-format off
    const Case cases[] = {
        {"V", 9, 47}, {"1", 18, 2}, {"Return", 36, 28}, {"Escape", 53, 1}, {"F12", 111, 88}, {"F13", 105, 183},
        {"F20", 90, 190}, {"keypad 7", 89, 71}, {"keypad Enter", 76, 96}, {"forward delete", 117, 111},
        {"Left", 123, 105}, {"ISO section", 10, 86}, {"command", 55, 125}, {"right option", 61, 100}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KeyboardShortcuts::evdevFromKeyCode(c.code), c.evdev);
        EXPECT_EQ(KeyboardShortcuts::keyCodeFromEvdev(c.evdev), c.code);
        EXPECT_EQ(KeyboardShortcuts::keyCodeFromX11Keycode(c.evdev + 8), c.code);
    }
    EXPECT_FALSE(KeyboardShortcuts::evdevFromKeyCode(52).has_value());
    EXPECT_FALSE(KeyboardShortcuts::keyCodeFromEvdev(0).has_value());
    // Every key that maps one way maps back to itself.
    for (int code = 0; code < 128; ++code)
        if (const auto evdev = KeyboardShortcuts::evdevFromKeyCode(code))
            EXPECT_EQ(KeyboardShortcuts::keyCodeFromEvdev(*evdev), code) << code;
}

TEST(KeyCodes, ModifiersMapAndLockKeysAreDropped)
{
    using namespace KeyboardShortcuts;
    EXPECT_EQ(modifiersFromX11State(0x01 | 0x40), 768) << "Shift+Super is shift and command";
    EXPECT_EQ(modifiersFromX11State(0x04 | 0x08), modControl | modAlt);
    EXPECT_EQ(modifiersFromX11State(0x02 | 0x10 | 0x80), 0) << "CapsLock, NumLock and Mod5 are not modifiers";
    EXPECT_EQ(x11StateFromModifiers(768), 0x41u);
    EXPECT_EQ(x11StateFromModifiers(modFunction), 0u);
    for (int bits : {0, 0x100, 0x200, 0x800, 0x1000, 0x1b00})
        EXPECT_EQ(modifiersFromX11State(x11StateFromModifiers(bits)), bits);
}
