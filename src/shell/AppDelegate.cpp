#include "shell/AppDelegate.h"

#include "nimbrel/Version.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "platform/TaskbarPresence.h"
#include "platform/Console.h"
#include "platform/FileLocations.h"
#include "platform/LoginItemService.h"
#include "platform/Notifier.h"
#include "platform/TrayItem.h"
#include "platform/Workspace.h"
#include "report/LaunchReporter.h"
#include "settings/AboutView.h"
#include "settings/ClearHistoryDialog.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsView.h"
#include "shell/AuxiliaryWindows.h"
#include "update/UpdaterService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QSessionManager>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace nimbrel {

AppDelegate::AppDelegate(ShellServices services, SettingsStore& settingsStore, const StoreOpeners& openers,
                         QObject* parent)
    : QObject(parent),
      m_services(services),
      m_modelContainer(openHistoryStore(services.locations, services.console, openers)),
      m_settingsStore(settingsStore),
      m_icons(services.workspace),
      m_pasteBack(services.clipboardWriter, services.keyboard, services.workspace, services.console,
                  [&settingsStore] { return settingsStore.pasteKeys(); }),
      m_trayMenu(services.tray, settingsStore),
      m_pause(settingsStore, services.clock)
{
    // Said once a run: where no key can be typed, a chosen record only lands on the clipboard.
    connect(&m_pasteBack, &PasteBack::leftForManualPaste, this, [this] {
        if (m_toldManualPaste)
            return;
        m_toldManualPaste = true;
        const QString words = m_settingsStore.localized(
            QStringLiteral("此桌面不允许模拟按键：选中的条目会放到剪贴板上，请按 Ctrl+V 粘贴。"));
        m_services.console.line(QStringLiteral("[Nimbrel] ") + words);
        m_services.notifier.notify(m_settingsStore.localized(QStringLiteral("无法自动粘贴")), words);
    });
    if (m_modelContainer) {
        auto& shortcuts = m_services.shortcuts;
        m_panelCoordinator = std::make_unique<PanelCoordinator>(
            PanelServices{*m_modelContainer, m_settingsStore, m_thumbnails, m_icons, m_services.clock, m_pasteBack,
                          m_services.clicks, m_services.workspace,
                          [&shortcuts](bool held) {
                              // While the panel holds the keyboard the desktop delivers no hot key: the shortcut is
                              // then recognised among the panel's own key events, as while a menu is open.
                              if (held)
                                  shortcuts.menuDidBeginTracking();
                              else
                                  shortcuts.menuDidEndTracking();
                          },
                          [this](const QUuid& id) {
                              // Kept by the writer while the panel is open, so Ctrl+Z can bring it back.
                              if (m_clipboardWatcher && m_clipboardWatcher->isRunning())
                                  m_clipboardWatcher->remove(id, true);
                              else
                                  edit(EditCommand{EditCommand::Verb::remove, id}, {});
                          },
                          m_services.layerShell,
                          [this](const QUuid& id, bool pinned) {
                              edit(EditCommand{pinned ? EditCommand::Verb::pin : EditCommand::Verb::unpin, id}, {});
                          },
                          [this] {
                              if (m_clipboardWatcher && m_clipboardWatcher->isRunning())
                                  m_clipboardWatcher->undoRemove();
                          },
                          [this] {
                              if (m_clipboardWatcher && m_clipboardWatcher->isRunning())
                                  m_clipboardWatcher->forgetRemoved();
                          }});
    }
    connect(&m_trayMenu, &TrayMenu::panelRequested, this, &AppDelegate::togglePanel);
    connect(&m_trayMenu, &TrayMenu::settingsRequested, this, &AppDelegate::openSettings);
    connect(&m_trayMenu, &TrayMenu::quitRequested, this, &AppDelegate::quit);
    connect(&m_trayMenu, &TrayMenu::pauseToggled, this, [this](bool paused) {
        if (paused)
            m_pause.pause();
        else
            m_pause.resume();
    });
    // Asked once the menu has closed, not in a loop of the dialog's own inside the menu's handler.
    connect(&m_trayMenu, &TrayMenu::clearRequested, this, &AppDelegate::askToClearHistory, Qt::QueuedConnection);
    connect(&m_pause, &RecordingPause::changed, this, &AppDelegate::applyPause);
    m_trayMenu.showPaused(m_pause.isPaused());
    // The shortcut keeps working while the tray menu holds the keyboard.
    connect(m_trayMenu.menu(), &QMenu::aboutToShow, this, [this] { m_services.shortcuts.menuDidBeginTracking(); });
    connect(m_trayMenu.menu(), &QMenu::aboutToHide, this, [this] { m_services.shortcuts.menuDidEndTracking(); });
    // The relaunch into a staged update is the one other termination that is honoured.
    connect(&m_services.updater, &UpdaterService::terminationRequested, this, &AppDelegate::requestTermination);
    // The settings window shows where the launch report stands.
    connect(&m_services.launchReporter, &LaunchReporter::statusChanged, &m_settingsStore,
            &SettingsStore::launchReportStatusChanged);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The end of the desktop session is announced here before Qt asks the application to quit;
        // that quit must not be refused, or logout would wait on Nimbrel.
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { m_sessionEnding = true; });
    }
}

AppDelegate::~AppDelegate()
{
    delete m_settingsWindow.data();
    delete m_aboutWindow.data();
    // The tray item outlives the delegate; it must not keep pointing at the menu that goes with it.
    m_services.tray.setMenu(nullptr);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void AppDelegate::prepareStart()
{
    m_services.taskbar.setTaskbarEntry(TaskbarEntry::hidden);
    m_services.tray.show();
}

void AppDelegate::start()
{
    // 1. The stored preference is applied to the system again, then the setting shows what it really did.
    applyLoginItem(m_services.loginItems, m_services.console, m_settingsStore.launchAtLogin());
    m_settingsStore.adoptLoginItemStatus(m_services.loginItems.status() == LoginItemStatus::enabled);

    // 2. The outcome of the last update attempt, a check now and one every six hours, while the user and
    // the package allow checks; switched off or on later, checks stop or resume at once.
    UpdaterService& updater = m_services.updater;
    updater.reportLastApplyResult();
    updater.setChecksEnabled(m_settingsStore.updateCheckAllowed());
    updater.checkForUpdates();
    updater.scheduleCheckTimer(this);
    connect(&m_settingsStore, &SettingsStore::checksForUpdatesChanged, this,
            [this] { m_services.updater.setChecksEnabled(m_settingsStore.updateCheckAllowed()); });

    // 3. The launch report, until one is accepted; declined for good when not allowed at this start.
    m_services.launchReporter.report(m_settingsStore.launchReportAllowed());

    // A desktop without a tray would leave Nimbrel invisible, with no way to its settings or to quit.
    if (!m_services.tray.isAvailable()) {
        QTimer::singleShot(trayGraceMs, this, [this] {
            const bool available = m_services.tray.isAvailable();
            if (!available)
                explainMissingTray();
            Q_EMIT trayChecked(available);
        });
    }

    // 4. Capture and the global shortcut exist only with a history store.
    if (m_modelContainer) {
        auto watcher =
            std::make_unique<ClipboardWatcher>(m_services.clipboardMonitor, m_services.workspace, *m_modelContainer,
                                               m_settingsStore, m_services.console, m_services.clock);
        // The writer's commits reach the panel's query and the index maintenance as the store's own do; a
        // deletion that failed brings its card back the same way.
        HistoryStore* store = m_modelContainer.get();
        connect(watcher.get(), &ClipboardWatcher::storeChanged, store, &HistoryStore::announceChange);
        connect(watcher.get(), &ClipboardWatcher::removeFailed, store, &HistoryStore::announceChange);
        // What an application that exited had on the clipboard stays pasteable.
        connect(watcher.get(), &ClipboardWatcher::offerAgain, &m_pasteBack, &PasteBack::keepAlive);
        auto hotkeys = std::make_unique<HotkeyManager>(m_services.shortcuts);
        hotkeys->setOnTrigger([self = QPointer<AppDelegate>(this)] {
            if (self)
                self->togglePanel();
        });
        m_clipboardWatcher = std::move(watcher);
        // A pause kept from the last run holds from the first change on.
        m_clipboardWatcher->gate().setPaused(m_pause.isPaused());
        if (m_pause.isPaused())
            m_services.console.line(
                QStringLiteral("[Nimbrel] Recording is paused; the tray menu or `nimbrel --resume` resumes it"));
        m_clipboardWatcher->start();
        m_hotkeyManager = std::move(hotkeys);
        maintainSearchIndex();
    } else {
        m_services.console.line(
            QStringLiteral("[Nimbrel] Clipboard watcher disabled because the history store is unavailable."));
    }
}

void AppDelegate::explainMissingTray()
{
    const auto shortcut = m_services.shortcuts.getShortcut(KeyboardShortcuts::togglePanelName());
    const QString way =
        shortcut ? QStringLiteral("press %1 or run `nimbrel --toggle`").arg(m_services.shortcuts.description(*shortcut))
                 : QStringLiteral("run `nimbrel --toggle`");
    m_services.console.line(
        QStringLiteral("[Nimbrel] This desktop has no system tray: to open the panel, %1; for the settings, run "
                       "`nimbrel --settings`")
            .arg(way));
    if (m_settingsStore.noTrayExplained())
        return;
    m_settingsStore.setNoTrayExplained();
    m_services.notifier.notify(m_settingsStore.localized(QStringLiteral("此桌面没有系统托盘")),
                               waysIn(m_settingsStore, m_services.shortcuts));
    openSettings();
}

void AppDelegate::applyPause()
{
    if (m_clipboardWatcher)
        m_clipboardWatcher->gate().setPaused(m_pause.isPaused());
    m_trayMenu.showPaused(m_pause.isPaused(), m_pause.endsAt());
    if (!m_pause.isPaused())
        m_services.console.line(QStringLiteral("[Nimbrel] Recording resumed"));
    else if (const std::optional<QDateTime> end = m_pause.endsAt())
        m_services.console.line(QStringLiteral("[Nimbrel] Recording paused until %1")
                                    .arg(end->toLocalTime().time().toString(QStringLiteral("HH:mm"))));
    else
        m_services.console.line(QStringLiteral("[Nimbrel] Recording paused"));
}

void AppDelegate::edit(const EditCommand& command, EditReply reply)
{
    const auto answer = [&reply](const EditOutcome& outcome) {
        if (reply)
            reply(outcome);
    };
    if (!m_modelContainer)
        return answer(EditOutcome{EditOutcome::Status::failed, QStringLiteral("Nimbrel has no history store")});
    if (m_clipboardWatcher && m_clipboardWatcher->isRunning()) {
        switch (command.verb) {
            case EditCommand::Verb::remove:
                return m_clipboardWatcher->remove(command.id, false, std::move(reply));
            case EditCommand::Verb::pin:
            case EditCommand::Verb::unpin:
                return m_clipboardWatcher->setPinned(command.id, command.verb == EditCommand::Verb::pin,
                                                     std::move(reply));
            case EditCommand::Verb::clear:
                return m_clipboardWatcher->clear(command.includePinned, std::move(reply));
            default:
                break;
        }
    }
    const EditOutcome outcome = applyToStore(*m_modelContainer, command);
    if (outcome.status == EditOutcome::Status::done)
        m_modelContainer->announceChange();
    answer(outcome);
}

void AppDelegate::perform(const EditCommand& command, std::function<void(const QString&)> answer)
{
    switch (command.verb) {
        case EditCommand::Verb::copy: {
            Result<std::optional<ClipItem>> record =
                m_modelContainer
                    ? m_modelContainer->record(command.id)
                    : Result<std::optional<ClipItem>>(Error{QStringLiteral("Nimbrel has no history store")});
            if (record && *record) {
                if (const Result<void> loaded = m_modelContainer->loadContents(**record); !loaded)
                    record = loaded.error();
            }
            if (!record)
                return answer(answerLine(EditOutcome{EditOutcome::Status::failed, record.error().description}));
            if (!*record)
                return answer(answerLine(EditOutcome{EditOutcome::Status::unknownRecord}));
            // As a choice from the panel, without the paste.
            m_pasteBack.writeToClipboard(**record);
            return answer(answerLine({}));
        }
        case EditCommand::Verb::pause:
            if (command.minutes)
                m_pause.pause(std::chrono::minutes(*command.minutes));
            else
                m_pause.pause();
            return answer(answerLine({}));
        case EditCommand::Verb::resume:
            m_pause.resume();
            return answer(answerLine({}));
        default:
            return edit(command, [answer](const EditOutcome& outcome) { answer(answerLine(outcome)); });
    }
}

void AppDelegate::clearHistory(bool includePinned, EditReply reply)
{
    Console& console = m_services.console;
    edit(EditCommand{EditCommand::Verb::clear, {}, includePinned},
         [&console, reply = std::move(reply)](const EditOutcome& outcome) {
             if (outcome.status == EditOutcome::Status::done)
                 console.line(QStringLiteral("[Nimbrel] History cleared: %1 records deleted").arg(outcome.records));
             else
                 console.line(QStringLiteral("[Nimbrel] The history could not be cleared: ") + outcome.error);
             if (reply)
                 reply(outcome);
         });
}

void AppDelegate::askToClearHistory()
{
    if (const std::optional<bool> includePinned = nimbrel::askToClearHistory(nullptr, m_settingsStore, historyUsage()))
        clearHistory(*includePinned);
}

HistoryUsage AppDelegate::historyUsage() const
{
    if (!m_modelContainer)
        return {};
    const Result<HistoryUsage> usage = m_modelContainer->usage();
    return usage ? *usage : HistoryUsage{};
}

void AppDelegate::maintainSearchIndex()
{
    const Result<bool> complete = m_modelContainer->searchIndexComplete();
    Console& console = m_services.console;
    if (!complete)
        console.line(QStringLiteral("[Nimbrel] The state of the search index could not be read: %1")
                         .arg(complete.error().description));
    const Result<qint64> records = m_modelContainer->count();
    const qint64 pending = !complete || *complete || !records ? 0 : *records;
    // Search reads the records until the index is ready; only a build that takes a while is reported.
    constexpr qint64 reportedFrom = 20000;
    if (pending >= reportedFrom)
        console.line(
            QStringLiteral("[Nimbrel] Building the search index for %1 records in the background").arg(pending));
    m_searchIndex = std::make_unique<SearchIndexMaintenance>(m_modelContainer->connectionName(), pending);
    connect(m_searchIndex.get(), &SearchIndexMaintenance::progressed, this, [&console](qint64 indexed, qint64 total) {
        if (total >= reportedFrom)
            console.line(QStringLiteral("[Nimbrel] Search index: %1 of %2 records").arg(indexed).arg(total));
    });
    QElapsedTimer started;
    started.start();
    connect(m_searchIndex.get(), &SearchIndexMaintenance::buildFinished, this,
            [&console, pending, started](bool done, const QString& error) {
                if (!done) {
                    console.line(QStringLiteral("[Nimbrel] The search index could not be built: %1 (search reads the "
                                                "records meanwhile; the build goes on at the next start)")
                                     .arg(error));
                } else if (pending >= reportedFrom) {
                    console.line(QStringLiteral("[Nimbrel] The search index is ready (%1 records in %2 s)")
                                     .arg(pending)
                                     .arg(started.elapsed() / 1000));
                }
            });
    connect(m_searchIndex.get(), &SearchIndexMaintenance::purgeFailed, this, [&console](const QString& error) {
        console.line(
            QStringLiteral("[Nimbrel] Deleted records could not be taken out of the search index yet: %1").arg(error));
    });
    connect(m_searchIndex.get(), &SearchIndexMaintenance::storeRewritten, this,
            [&console](bool converted, const QString& error) {
                if (converted)
                    console.line(
                        QStringLiteral("[Nimbrel] The history store was rewritten once so that deleted "
                                       "records give their space back"));
                else
                    console.line(QStringLiteral("[Nimbrel] The history store could not be rewritten to give space "
                                                "back: %1")
                                     .arg(error));
            });
    connect(m_modelContainer.get(), &HistoryStore::changed, m_searchIndex.get(), &SearchIndexMaintenance::storeChanged);
    m_searchIndex->start();
}

void AppDelegate::togglePanel()
{
    if (m_panelCoordinator)
        m_panelCoordinator->toggle();
}

void AppDelegate::openSettings()
{
    if (!m_settingsWindow) {
        const bool trusted = m_pasteBack.isPasteAllowed();
        const Workspace& workspace = m_services.workspace;
        auto* view = new SettingsView(
            SettingsViewServices{m_settingsStore, m_services.updater, workspace,
                                 KeyboardShortcuts::RecorderEnvironment{
                                     m_services.shortcuts, m_services.systemShortcuts, [this] { return ownMenus(); }},
                                 [this] { return m_pasteBack.isPasteAllowed(); },
                                 // No desktop setting grants key synthesis; the help page explains pasting by hand.
                                 [&workspace] { workspace.openURL(QUrl(QStringLiteral(NIMBREL_HELP_URL))); },
                                 QUrl(QStringLiteral(NIMBREL_DONATION_URL)), m_services.locations.dataDirectory(),
                                 [this] { return m_services.tray.isAvailable(); }, [this] { quit(); },
                                 m_services.desktop.limits, m_services.desktop.isShortcutAllowed,
                                 m_services.desktop.allowShortcut, [this] { return historyUsage(); },
                                 [this](bool includePinned) { clearHistory(includePinned); }},
            trusted);
        m_settingsWindow = new SettingsWindow(view, m_settingsStore);
        // The storage card's counts and its note on pinned records follow the history.
        if (m_modelContainer)
            connect(m_modelContainer.get(), &HistoryStore::changed, view, &SettingsView::historyChanged);
        connect(m_settingsWindow, &SettingsWindow::closing, this,
                [this] { m_services.taskbar.setTaskbarEntry(TaskbarEntry::hidden); });
        connect(m_settingsWindow, &SettingsWindow::aboutRequested, this, &AppDelegate::openAbout);
        connect(m_settingsWindow, &SettingsWindow::contactRequested, this,
                [&workspace] { workspace.openURL(QUrl(QStringLiteral(NIMBREL_CONTACT_URL))); });
        // With no tray menu to quit from, the window's own quit is honoured.
        connect(m_settingsWindow, &SettingsWindow::quitRequested, this, [this] {
            if (m_services.tray.isAvailable())
                requestTermination();
            else
                quit();
        });
        centerOnScreen(*m_settingsWindow);
    }
    m_services.taskbar.setTaskbarEntry(TaskbarEntry::shown);
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void AppDelegate::openAbout()
{
    if (!m_aboutWindow) {
        m_aboutWindow = new AboutWindow(new AboutView(m_settingsStore.translations(), QString::fromLatin1(build::version)));
        centerOnScreen(*m_aboutWindow);
    }
    m_aboutWindow->show();
    m_aboutWindow->raise();
    m_aboutWindow->activateWindow();
}

QList<QMenu*> AppDelegate::ownMenus()
{
    QList<QMenu*> menus{m_trayMenu.menu()};
    if (m_settingsWindow)
        menus.append(m_settingsWindow->applicationMenu());
    return menus;
}

bool AppDelegate::shouldTerminate()
{
    if (m_allowsTermination || m_services.updater.isRelaunching())
        return true;
    if (m_settingsWindow)
        m_settingsWindow->hide();
    if (m_panelCoordinator)
        m_panelCoordinator->hide();
    m_services.taskbar.setTaskbarEntry(TaskbarEntry::hidden);
    return false;
}

void AppDelegate::quit()
{
    m_allowsTermination = true;
    requestTermination();
}

bool AppDelegate::requestTermination()
{
    if (m_terminating)
        return true;
    if (!shouldTerminate())
        return false;
    willTerminate();
    return true;
}

void AppDelegate::terminateForSystem()
{
    if (!m_terminating)
        willTerminate();
}

void AppDelegate::willTerminate()
{
    m_terminating = true;
    // Reading stops at once; the writer finishes the record in hand. Should it not within the time a
    // system end allows, the process ends without waiting: what is committed is safe in the store.
    if (m_clipboardWatcher && !m_clipboardWatcher->stop(terminationWaitMs)) {
        m_services.console.line(QStringLiteral("[Nimbrel] Ending without waiting for the history writer"));
        m_settingsStore.synchronize();
        std::fflush(stdout);
        std::_Exit(0);
    }
    Q_EMIT terminationApproved();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    // Qt's own quit requests (a quit shortcut, the session) pass through the termination rule; the
    // approved path ends the loop itself, so the event never reaches Qt either way.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        if (m_sessionEnding)
            terminateForSystem();
        else
            requestTermination();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace nimbrel
