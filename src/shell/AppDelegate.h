#pragma once

#include "history/ClipboardWatcher.h"
#include "history/HistoryStore.h"
#include "history/SearchIndexBuilder.h"
#include "history/Thumbnail.h"
#include "hotkey/HotkeyManager.h"
#include "panel/PanelCoordinator.h"
#include "panel/PasteBack.h"
#include "platform/DesktopSupport.h"
#include "shell/AuxiliaryWindows.h"
#include "shell/HistoryEditCommand.h"
#include "shell/StoreOpening.h"
#include "shell/RecordingPause.h"
#include "shell/TrayMenu.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace nimbrel {

class TaskbarPresence;
class ClickMonitor;
class KeyboardSynthesizer;
class Clock;
class Console;
class FileLocations;
class LoginItemService;
class Notifier;
class ClipboardWriter;
class ClipboardMonitor;
class SettingsStore;
class TrayItem;
class LaunchReporter;
class SystemShortcuts;
class UpdaterService;
class Workspace;
namespace KeyboardShortcuts {
class Shortcuts;
}

// The platform services the shell is built on; main passes the Linux ones, tests the fakes.
// What the desktop does not let Nimbrel do, and the consent a desktop-setting shortcut waits for (unset
// where the shortcut needs none), as the settings window shows them.
struct DesktopSupportServices {
    QList<Limit> limits;
    std::function<bool()> isShortcutAllowed;
    std::function<void()> allowShortcut;
};

struct ShellServices {
    Console& console;
    const FileLocations& locations;
    TaskbarPresence& taskbar;
    TrayItem& tray;
    LoginItemService& loginItems;
    ClipboardWriter& clipboardWriter;
    ClipboardMonitor& clipboardMonitor;
    const Workspace& workspace;
    const Clock& clock;
    KeyboardShortcuts::Shortcuts& shortcuts;
    KeyboardSynthesizer& keyboard;
    ClickMonitor& clicks;
    UpdaterService& updater;
    LaunchReporter& launchReporter;
    const SystemShortcuts& systemShortcuts;
    Notifier& notifier;
    DesktopSupportServices desktop = {};
    // The desktop's layers, where the panel is placed on Wayland; null elsewhere.
    LayerShell* layerShell = nullptr;
};

// The composition root: owns the history store and the long-lived objects, runs the launch sequence
// and decides whether a termination request is honoured.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    // How long an ending process waits for the history writer to finish the record in hand.
    static constexpr int terminationWaitMs = 700;
    // A tray that starts with the session may come up after Nimbrel; only then is it missing.
    static constexpr int trayGraceMs = 2000;

    AppDelegate(ShellServices services, SettingsStore& settingsStore, const StoreOpeners& openers = {},
                QObject* parent = nullptr);
    ~AppDelegate() override;

    // Before the event loop: tray only, and the tray item shows.
    void prepareStart();
    // The launch sequence, once the event loop runs.
    void start();

    // Whether a termination request may proceed now; a refusal hides Nimbrel's windows and returns to
    // the tray-only policy.
    bool shouldTerminate();
    // The tray menu's quit entry: the one user request that is always honoured.
    void quit();
    // A quit request from anywhere else in the user interface; honoured only by the termination rule.
    bool requestTermination();
    // The system ends the process (signal, end of the session): not refusable, ends cleanly.
    void terminateForSystem();

    HistoryStore* modelContainer() const { return m_modelContainer.get(); }
    ClipboardWatcher* clipboardWatcher() const { return m_clipboardWatcher.get(); }
    HotkeyManager* hotkeyManager() const { return m_hotkeyManager.get(); }
    PasteBack& pasteBack() { return m_pasteBack; }
    PanelCoordinator* panelCoordinator() const { return m_panelCoordinator.get(); }

    // Shows the clip panel, or hides it when it is visible; nothing without a history store.
    void togglePanel();
    // Shows the settings window (made at the first call, then reused) in front, with a taskbar entry
    // while it is open.
    void openSettings();
    // Shows the about window in front; the taskbar presence stays as it is.
    void openAbout();
    SettingsWindow* settingsWindow() const { return m_settingsWindow; }
    AboutWindow* aboutWindow() const { return m_aboutWindow; }
    bool allowsTermination() const { return m_allowsTermination; }
    TrayMenu& trayMenu() { return m_trayMenu; }
    RecordingPause& recordingPause() { return m_pause; }

    // A change asked from the command line; `answer` gets the one line the asker reports from.
    void perform(const EditCommand& command, std::function<void(const QString&)> answer);
    // Deletes every record (or every unpinned one) and gives the space back; `reply` hears how it went.
    void clearHistory(bool includePinned, EditReply reply = {});
    // What the history holds now; empty without a store.
    HistoryUsage historyUsage() const;

Q_SIGNALS:
    // Everything is wound down; the event loop should end with status 0.
    void terminationApproved();
    // The tray was looked for again after the grace a starting session gets.
    void trayChecked(bool available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void willTerminate();
    // Keeps the search index up to date in the background: indexes the records of a store written before
    // it existed, and takes deleted records out.
    void maintainSearchIndex();
    // Nimbrel's own menus, where a new shortcut must not clash with a key equivalent.
    QList<QMenu*> ownMenus();
    // Without a tray: a line every start; a notification and the settings window the first time.
    void explainMissingTray();
    // A change of the history through the writer, or through the UI thread's connection when the writer
    // is not running.
    void edit(const EditCommand& command, EditReply reply);
    // The tray's entry: asks first.
    void askToClearHistory();
    // Recording paused or resumed: capture, the tray and a line follow.
    void applyPause();

    ShellServices m_services;
    std::unique_ptr<HistoryStore> m_modelContainer;
    SettingsStore& m_settingsStore;
    ThumbnailCache m_thumbnails;
    AppIconCache m_icons;
    PasteBack m_pasteBack;
    bool m_toldManualPaste = false;
    std::unique_ptr<PanelCoordinator> m_panelCoordinator;
    std::unique_ptr<ClipboardWatcher> m_clipboardWatcher;
    std::unique_ptr<HotkeyManager> m_hotkeyManager;
    std::unique_ptr<SearchIndexMaintenance> m_searchIndex;
    TrayMenu m_trayMenu;
    RecordingPause m_pause;
    // Top-level windows; owned here and deleted with the delegate.
    QPointer<SettingsWindow> m_settingsWindow;
    QPointer<AboutWindow> m_aboutWindow;
    bool m_allowsTermination = false;
    bool m_terminating = false;
    bool m_sessionEnding = false;
};

}  // namespace nimbrel
