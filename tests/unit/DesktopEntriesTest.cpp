#include "KeyboardShortcuts/KeyCodes.h"
#include "platform/linux/DesktopEntries.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <array>

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
    const QByteArray app = "[Desktop Entry]\nType=Application\n";
    write(system + "/org.gnome.TextEditor.desktop",
          app +
              "Name=Text Editor\nName[ja]=テキストエディター\nName[de_AT]=Texteditor AT\nName[de]=Texteditor\n"
              "Icon=org.gnome.TextEditor\nExec=gnome-text-editor %U\n");
    write(system + "/kde/org.kde.kate.desktop",
          app + "Name=Kate\nStartupWMClass=kate-editor\nExec=\"/usr/bin/kate\" -b %U\n");
    write(system + "/firefox-esr.desktop", app + "Name=System Firefox\nExec=/usr/lib/firefox-esr/firefox-esr %u\n");
    write(user + "/firefox-esr.desktop", app + "Name=My Firefox\nExec=firefox-esr %u\n");
    write(system + "/gone.desktop", app + "Name=Gone\nHidden=true\nExec=gone\n");
    write(system + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Web\nURL=https://example.org\n");
    const DesktopEntries entries({user, system});

    // {window class, instance, program, the entry found (empty: none)}
    // clang-format off
    const std::array<const char*, 4> cases[] = {
        {"TextEditor", "", "", "org.gnome.TextEditor"},          // the id's last component names the class
        {"ORG.GNOME.TEXTEDITOR", "", "", "org.gnome.TextEditor"}, // the full id, any case
        {"Kate-Editor", "", "", "kde-org.kde.kate"},             // StartupWMClass, in a subfolder
        {"Unknown", "firefox-esr", "", "firefox-esr"},           // the instance when the class is unknown
        {"Zzz", "zzz", "kate", "kde-org.kde.kate"},              // the program when nothing else fits
        {"gone", "", "gone", ""}, {"link", "", "", ""}, {"", "", "", ""}};  // hidden entries and links are no applications
    // clang-format on
    for (const auto& [windowClass, instance, executable, id] : cases) {
        const auto entry = entries.forWindow(windowClass, instance, executable);
        EXPECT_EQ(entry ? entry->id : QString(), QString::fromUtf8(id)) << windowClass;
    }

    const auto editor = entries.byId(QStringLiteral("org.gnome.TextEditor"));
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->icon, QStringLiteral("org.gnome.TextEditor"));
    // The closest language of the user's, in their order: ja, then de_AT over de, then the plain name.
    EXPECT_EQ(editor->localizedName({"fr", "ja-JP"}), QStringLiteral("テキストエディター"));
    EXPECT_EQ(editor->localizedName({"de_AT.UTF-8"}), QStringLiteral("Texteditor AT"));
    EXPECT_EQ(editor->localizedName({"de-CH"}), QStringLiteral("Texteditor"));
    EXPECT_EQ(entries.byId(QStringLiteral("firefox-esr"))->localizedName({}), QStringLiteral("My Firefox"))
        << "the user's folder overrides the system's";
}

TEST(DesktopEntries, CategoriesAreReadAsAList)
{
    const std::pair<QByteArray, QStringList> cases[] = {
        {"Categories=System;TerminalEmulator;\n", {"System", "TerminalEmulator"}},
        {"Categories=Utility;TextEditor\n", {"Utility", "TextEditor"}},
        {"Categories = ;GTK;;Development;\n", {"GTK", "Development"}},
        {"Name=Plain\n", {}},
        {"Categories=Office;\n[Desktop Action new]\nCategories=TerminalEmulator;\n", {"Office"}}};
    for (const auto& [text, categories] : cases) {
        const auto entry = DesktopEntries::parse(QStringLiteral("app"), "[Desktop Entry]\nType=Application\n" + text);
        ASSERT_TRUE(entry) << text.constData();
        EXPECT_EQ(entry->categories, categories) << text.constData();
    }
}

TEST(KeyCodes, KeysAndModifiersMapBothWays)
{
    using namespace KeyboardShortcuts;
    // {key code, evdev code}: V, Return, F12, F13, keypad Enter, forward delete, ISO section, right option.
    const std::pair<int, int> keys[] = {{9, 47},  {36, 28},   {111, 88}, {105, 183},
                                        {76, 96}, {117, 111}, {10, 86},  {61, 100}};
    for (const auto& [code, evdev] : keys) {
        EXPECT_EQ(evdevFromKeyCode(code), evdev) << code;
        EXPECT_EQ(keyCodeFromEvdev(evdev), code) << evdev;
        EXPECT_EQ(keyCodeFromX11Keycode(evdev + 8), code) << evdev;
    }
    EXPECT_FALSE(evdevFromKeyCode(52).has_value() || keyCodeFromEvdev(0).has_value());
    for (int code = 0; code < 128; ++code)
        if (const auto evdev = evdevFromKeyCode(code)) {
            EXPECT_EQ(keyCodeFromEvdev(*evdev), code) << "every key that maps one way maps back: " << code;
        }

    // Shift+Super is shift and command; CapsLock, NumLock and Mod5 are no modifiers.
    EXPECT_EQ(modifiersFromX11State(0x01 | 0x40 | 0x02 | 0x10 | 0x80), 768);
    EXPECT_EQ(modifiersFromX11State(0x04 | 0x08), modControl | modAlt);
    EXPECT_EQ(x11StateFromModifiers(768 | modFunction), 0x41u);
    for (int bits : {0, 0x100, 0x200, 0x800, 0x1000, 0x1b00})
        EXPECT_EQ(modifiersFromX11State(x11StateFromModifiers(bits)), bits);
}
