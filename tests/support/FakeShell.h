#pragma once

// The whole shell over fakes, built the way main builds it from the Linux services.

#include "KeyboardShortcuts/Shortcuts.h"
#include "report/LaunchReporter.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "shell/AppDelegate.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakeClickMonitor.h"
#include "support/fake/FakeClipboardMonitor.h"
#include "support/fake/FakeClipboardWriter.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakeKeyboard.h"
#include "support/fake/FakePlatform.h"
#include "support/fake/FakeSystemShortcuts.h"
#include "support/fake/FakeUpdate.h"
#include "update/UpdaterService.h"

namespace nimbrel::test {

struct FakeShell {
    // `items` replaces the shell's own login items (tests that prepare their state first); `packager` is
    // what the package turned off (nothing, whatever this process's environment says).
    // `layers`: the desktop's layers the panel is placed on (Wayland); none: an X11 panel.
    // `stored`: the settings file's values at the start.
    explicit FakeShell(const StoreOpeners& openers = {}, fake::LoginItems* items = nullptr,
                       PackagerPolicy packager = {}, LayerShell* layers = nullptr,
                       const QMap<QString, QVariant>& stored = {})
        : locations(freshDirectory()),
          loginItems(items ? *items : ownLoginItems),
          translations(Translations::defaultDirectory()),
          settings(withValues(defaults, stored), loginItems, console, translations, std::move(packager)),
          shortcuts(defaults, hotKeys, keyboardLayout, console),
          updater(UpdaterEnvironment{http, systemLog, locations, QString()}),
          launchReporter(http, defaults, systemLog, QUrl(QStringLiteral("https://report.invalid/api/launch"))),
          delegate(ShellServices{console,
                                 locations,
                                 taskbar,
                                 tray,
                                 loginItems,
                                 clipboardWriter,
                                 clipboard,
                                 workspace,
                                 clock,
                                 shortcuts,
                                 keyboard,
                                 clicks,
                                 updater,
                                 launchReporter,
                                 systemShortcuts,
                                 notifier,
                                 {},
                                 layers},
                   settings, openers)
    {
    }

    // The stored values are in the defaults before the store reads them, as a start finds its file.
    static fake::MemoryDefaults& withValues(fake::MemoryDefaults& defaults, const QMap<QString, QVariant>& stored)
    {
        defaults.values = stored;
        return defaults;
    }

    fake::RecordingConsole console;
    fake::SystemShortcutList systemShortcuts;
    fake::Locations locations;
    fake::Taskbar taskbar;
    fake::Tray tray;
    fake::RecordingNotifier notifier;
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeClipboardMonitor clipboard;
    fake::FakeWorkspace workspace;
    fake::ManualClock clock;
    fake::LoginItems ownLoginItems;
    fake::LoginItems& loginItems;
    fake::MemoryDefaults defaults;
    Translations translations;
    SettingsStore settings;
    fake::FakeHotKeyPlatform hotKeys;
    fake::FakeKeyboardLayout keyboardLayout;
    KeyboardShortcuts::Shortcuts shortcuts;
    fake::FakeKeyboard keyboard;
    fake::FakeClickMonitor clicks;
    fake::UnreachableHttpClient http;
    fake::RecordingSystemLog systemLog;
    UpdaterService updater;
    LaunchReporter launchReporter;
    AppDelegate delegate;
};

}  // namespace nimbrel::test
