#include "KeyboardShortcuts/Shortcuts.h"
#include "support/fake/FakeClickMonitor.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakeKeyboard.h"
#include "support/fake/FakeClipboardWriter.h"
#include "support/fake/FakePlatform.h"
#include "support/fake/FakeSystemShortcuts.h"
#include "support/fake/FakeUpdate.h"
#include "report/LaunchReporter.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "shell/AppDelegate.h"
#include "support/FakeShell.h"
#include "support/TestEnvironment.h"
#include "update/UpdaterService.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

// QTRY_COMPARE for GoogleTest: lets queued work run until the value arrives or a second has passed.
#define QTRY_COMPARE_WITH_TIMEOUT_GTEST(actual, expected)          \
    do {                                                           \
        for (int i_ = 0; i_ < 100 && (actual) != (expected); ++i_) \
            QTest::qWait(10);                                      \
        ASSERT_EQ((actual), (expected));                           \
    } while (false)

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

using Shell = test::FakeShell;

Result<std::unique_ptr<HistoryStore>> failing(const QString& why)
{
    return Error{why};
}

}  // namespace

TEST(AppDelegate, StoreFallsBackToMemoryThenToNone)
{
    struct Case {
        const char* name;
        bool fileFails;
        bool memoryFails;
        QStringList lines;
        bool hasStore;
    };
    const Case cases[] = {
        {"file store", false, false, {}, true},
        {"memory fallback",
         true,
         false,
         {QStringLiteral("[Nimbrel] StoreOpening init failed, using in-memory store: disk on fire")},
         true},
        {"no store",
         true,
         true,
         {QStringLiteral("[Nimbrel] StoreOpening init failed, using in-memory store: disk on fire"),
          QStringLiteral("[Nimbrel] In-memory StoreOpening init failed: no memory"),
          QStringLiteral("[Nimbrel] Clipboard watcher disabled because StoreOpening is unavailable.")},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StoreOpeners openers;
        if (c.fileFails)
            openers.openFile = [](const QString&) { return failing(QStringLiteral("disk on fire")); };
        if (c.memoryFails)
            openers.openInMemory = [] { return failing(QStringLiteral("no memory")); };
        Shell shell(openers);
        shell.delegate.prepareStart();
        shell.delegate.start();
        EXPECT_EQ(shell.console.lines, c.lines);
        EXPECT_EQ(shell.delegate.modelContainer() != nullptr, c.hasStore);
    }
}

TEST(AppDelegate, FileStoreLivesInTheDataFolder)
{
    Shell shell;
    ASSERT_NE(shell.delegate.modelContainer(), nullptr);
    EXPECT_EQ(shell.delegate.modelContainer()->path(), shell.locations.storeFile());
    EXPECT_TRUE(QFile::exists(shell.locations.storeFile()));
}

TEST(AppDelegate, LaunchIsTrayOnlyAndShowsTheTrayItem)
{
    Shell shell;
    shell.delegate.prepareStart();
    EXPECT_EQ(shell.taskbar.history, QList<TaskbarEntry>{TaskbarEntry::hidden});
    EXPECT_TRUE(shell.tray.shown);
    ASSERT_NE(shell.tray.menu, nullptr);
    EXPECT_EQ(shell.tray.menu->actions().last()->text(), QStringLiteral("退出 Nimbrel"));
    EXPECT_EQ(shell.tray.menu->actions().first()->text(), QStringLiteral("弹出剪切板"));
}

TEST(AppDelegate, TheTrayEntryTogglesThePanelAndARefusedQuitHidesIt)
{
    Shell shell;
    shell.delegate.prepareStart();
    shell.delegate.start();
    shell.tray.menu->actions().first()->trigger();
    ASSERT_TRUE(shell.delegate.panelCoordinator()->isVisible());
    EXPECT_FALSE(shell.delegate.requestTermination());
    EXPECT_FALSE(shell.delegate.panelCoordinator()->isVisible());
    shell.tray.menu->actions().first()->trigger();
    EXPECT_TRUE(shell.delegate.panelCoordinator()->isVisible());
    shell.tray.menu->actions().first()->trigger();
    EXPECT_FALSE(shell.delegate.panelCoordinator()->isVisible());
}

TEST(AppDelegate, OnTheDesktopsLayersThePanelIsAnchoredToItsEdgeAndAClickElsewhereClosesIt)
{
    fake::RecordingLayerShell layers;
    Shell shell({}, nullptr, {}, &layers);
    shell.delegate.start();
    PanelCoordinator* panel = shell.delegate.panelCoordinator();
    using Edge = LayerShell::Edge;
    const std::pair<PanelMode, quint8> cases[] = {
        {PanelMode::bottom, Edge::bottom}, {PanelMode::left, Edge::left}, {PanelMode::right, Edge::right}};
    for (const auto& [mode, edge] : cases) {
        SCOPED_TRACE(rawValue(mode).toStdString());
        shell.settings.setPanelMode(mode);
        layers.attached.clear();
        layers.detached.clear();
        shell.delegate.togglePanel();
        ASSERT_TRUE(panel->isVisible());
        ASSERT_EQ(layers.attached.size(), 2);
        // Under the panel, over the whole output, without the keyboard: the catcher of clicks elsewhere.
        const auto& catcher = layers.attached.at(0);
        EXPECT_EQ(catcher.window, panel->clickCatcher()->windowHandle());
        EXPECT_EQ(catcher.placement.edges, Edge::top | Edge::bottom | Edge::left | Edge::right);
        EXPECT_FALSE(catcher.placement.overlay);
        EXPECT_FALSE(catcher.placement.keyboard);
        // The panel: over everything, on its placement's edge, with the keyboard to itself.
        const auto& placed = layers.attached.at(1);
        EXPECT_EQ(placed.window, panel->panel()->windowHandle());
        EXPECT_EQ(placed.placement.edges, edge);
        EXPECT_TRUE(placed.placement.overlay);
        EXPECT_TRUE(placed.placement.keyboard);
        // The inset from that edge only (the shadow around the panel may reach past the edge, as on X11).
        const QMargins& margins = placed.placement.margins;
        const int inset = edge == Edge::bottom ? margins.bottom()
                          : edge == Edge::left ? margins.left()
                                               : margins.right();
        EXPECT_EQ(margins.top() + margins.bottom() + margins.left() + margins.right(), inset);

        // A click elsewhere lands on the catcher: the panel closes, each layer going before its window.
        QTest::mouseClick(panel->clickCatcher(), Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, 2000));
        // (A new placement builds a new panel: the old one's layer went first.)
        ASSERT_GE(layers.detached.size(), 2);
        const qsizetype last = layers.detached.size() - 1;
        EXPECT_EQ(layers.detached.at(last - 1), std::make_pair(panel->panel()->windowHandle(), true));
        EXPECT_EQ(layers.detached.at(last), std::make_pair(panel->clickCatcher()->windowHandle(), true));
    }

    // The desktop taking the panel's place away (its output went) closes it too.
    shell.delegate.togglePanel();
    ASSERT_TRUE(panel->isVisible());
    layers.attached.last().closed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, 2000));
}

TEST(AppDelegate, LaunchReappliesTheLoginItemAndAdoptsItsRealState)
{
    struct Case {
        const char* name;
        bool stored;
        LoginItemStatus status;
        int registrations;
        int unregistrations;
        bool adopted;
    };
    const Case cases[] = {
        {"on and already enabled", true, LoginItemStatus::enabled, 0, 0, true},
        {"on but not registered", true, LoginItemStatus::notRegistered, 1, 0, true},
        {"off but enabled", false, LoginItemStatus::enabled, 0, 1, false},
        {"on but awaiting approval", true, LoginItemStatus::requiresApproval, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::LoginItems items;
        items.currentStatus = c.status;
        // The settings read the stored flag at construction, so it is stored before the shell is built.
        struct Prepared : Shell {
            Prepared(fake::LoginItems* i, bool stored) : Shell({}, i) { settings.adoptLoginItemStatus(stored); }
        } shell(&items, c.stored);
        shell.delegate.start();
        EXPECT_EQ(items.registrations, c.registrations);
        EXPECT_EQ(items.unregistrations, c.unregistrations);
        EXPECT_EQ(shell.settings.launchAtLogin(), c.adopted);
        EXPECT_EQ(shell.defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(c.adopted));
    }
}

TEST(AppDelegate, OnlyTheQuitEntryOrTheSystemEndsTheProcess)
{
    Shell shell;
    QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);

    EXPECT_FALSE(shell.delegate.requestTermination());
    EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::hidden) << "a refusal returns to tray only";
    shell.taskbar.setTaskbarEntry(TaskbarEntry::shown);
    QEvent quitEvent(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quitEvent);
    EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::hidden) << "Qt's own quit request is refused too";
    EXPECT_EQ(approved.count(), 0);

    shell.tray.menu->actions().last()->trigger();
    EXPECT_TRUE(shell.delegate.allowsTermination());
    EXPECT_EQ(approved.count(), 1);
    shell.delegate.terminateForSystem();
    EXPECT_EQ(approved.count(), 1) << "the process winds down once";
}

TEST(AppDelegate, SystemTerminationIsNeverRefused)
{
    Shell shell;
    QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);
    shell.delegate.terminateForSystem();
    EXPECT_EQ(approved.count(), 1);
    EXPECT_FALSE(shell.delegate.allowsTermination());
}

TEST(AppDelegate, TrayMenuFollowsTheLanguage)
{
    Shell shell;
    shell.settings.setLanguage(AppLanguage::en);
    EXPECT_EQ(shell.tray.menu->actions().last()->text(), QStringLiteral("Quit Nimbrel"));
    shell.settings.setLanguage(AppLanguage::zhHans);
    EXPECT_EQ(shell.tray.menu->actions().last()->text(), QStringLiteral("退出 Nimbrel"));
}

TEST(AppDelegate, LaunchChecksForUpdatesThenReportsThenWiresTheShortcut)
{
    Shell shell;
    shell.delegate.prepareStart();
    shell.delegate.start();
    QTRY_COMPARE_WITH_TIMEOUT_GTEST(shell.http.requests.size(), 2);
    // The feed check runs as a task of its own, so the two requests may leave in either order.
    EXPECT_EQ(shell.http.requests.filter(QStringLiteral("GET ")).size(), 1);
    EXPECT_EQ(shell.http.requests.filter(QStringLiteral("POST https://report.invalid/api/launch")).size(), 1);
    ASSERT_NE(shell.updater.timer(), nullptr);
    EXPECT_EQ(shell.updater.timer()->interval(), 21'600'000);

    EXPECT_EQ(shell.defaults.values.value(QStringLiteral("KeyboardShortcuts_togglePanel")).toString(),
              QStringLiteral("{\"carbonKeyCode\":9,\"carbonModifiers\":768}"));
    ASSERT_NE(shell.delegate.hotkeyManager(), nullptr);
    PanelCoordinator* panel = shell.delegate.panelCoordinator();
    ASSERT_NE(panel, nullptr);
    shell.hotKeys.press(9, 768);
    EXPECT_FALSE(panel->isVisible()) << "nothing happens on the press";
    shell.hotKeys.release(9, 768);
    EXPECT_TRUE(panel->isVisible());
    // Offscreen there is no keyboard to grab, so the desktop keeps delivering the shortcut (on X11 the
    // panel's own key events carry it, proven end to end).
    EXPECT_FALSE(shell.shortcuts.isMenuOpen());
    shell.hotKeys.press(9, 768);
    shell.hotKeys.release(9, 768);
    EXPECT_FALSE(panel->isVisible());
}

TEST(AppDelegate, NothingGoesOutWhenTheSettingsOrThePackageSayNoAndTheCheckFollowsTheSwitch)
{
    struct Case {
        const char* name;
        bool switchedOff;  // by the user, before this start
        PackagerPolicy packager;
        bool checkFollowsTheSwitch;
    };
    const Case cases[] = {
        {"switched off in the settings", true, {}, true},
        {"turned off by the package", false, {.launchReportOff = true, .updateCheckOff = true}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell shell({}, nullptr, c.packager);
        if (c.switchedOff) {
            shell.settings.setSendsLaunchReport(false);
            shell.settings.setChecksForUpdates(false);
        }
        QSignalSpy reportStatus(&shell.settings, &SettingsStore::launchReportStatusChanged);
        shell.delegate.prepareStart();
        shell.delegate.start();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        EXPECT_TRUE(shell.http.requests.isEmpty()) << shell.http.requests.join(u'\n').toStdString();
        ASSERT_NE(shell.updater.timer(), nullptr);
        EXPECT_FALSE(shell.updater.timer()->isActive());
        EXPECT_EQ(shell.settings.launchReportStatus(), LaunchReportStatus::declined);
        EXPECT_EQ(reportStatus.count(), 1) << "the settings window hears of the decline";

        // Switched on: the package's word still stands; else the check runs at once and then every six hours.
        shell.settings.setChecksForUpdates(false);
        shell.settings.setChecksForUpdates(true);
        shell.settings.setSendsLaunchReport(true);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        EXPECT_EQ(shell.updater.timer()->isActive(), c.checkFollowsTheSwitch);
        EXPECT_EQ(shell.http.requests, c.checkFollowsTheSwitch
                                           ? QStringList{QStringLiteral("GET ") + shell.updater.appcastURL().toString()}
                                           : QStringList());
        // Switched off again: the repeating check stops at once.
        shell.settings.setChecksForUpdates(false);
        EXPECT_FALSE(shell.updater.timer()->isActive());
    }
}

TEST(AppDelegate, WithoutKeySynthesisTheUserIsToldOnceARunToPasteByHand)
{
    Shell shell;
    shell.keyboard.available = false;
    shell.delegate.start();
    for (int choice = 0; choice < 2; ++choice)
        shell.delegate.pasteBack().paste(ClipItem::make(ClipKind::text, QStringLiteral("chosen"), std::nullopt,
                                                        std::nullopt, std::nullopt, std::nullopt,
                                                        QDateTime::currentDateTimeUtc()));
    ASSERT_EQ(shell.notifier.shown.size(), 1);
    EXPECT_TRUE(shell.notifier.shown.first().second.contains(QLatin1String("Ctrl+V")));
    EXPECT_EQ(shell.console.lines.filter(QStringLiteral("Ctrl+V")).size(), 1);
    EXPECT_TRUE(shell.keyboard.posted.isEmpty());
}

TEST(AppDelegate, WithoutAStoreThereIsNoCaptureAndNoShortcut)
{
    StoreOpeners openers;
    openers.openFile = [](const QString&) { return failing(QStringLiteral("x")); };
    openers.openInMemory = [] { return failing(QStringLiteral("y")); };
    Shell shell(openers);
    shell.delegate.start();
    EXPECT_EQ(shell.delegate.clipboardWatcher(), nullptr);
    EXPECT_EQ(shell.delegate.hotkeyManager(), nullptr);
    EXPECT_EQ(shell.delegate.panelCoordinator(), nullptr);
    EXPECT_TRUE(shell.hotKeys.attempts.isEmpty());
    shell.delegate.togglePanel();
    shell.tray.menu->actions().first()->trigger();  // the show-clipboard entry does nothing
}

TEST(AppDelegate, TheTrayMenuKeepsTheShortcutWorking)
{
    Shell shell;
    shell.delegate.start();
    EXPECT_FALSE(shell.shortcuts.isMenuOpen());
    Q_EMIT shell.tray.menu->aboutToShow();
    EXPECT_TRUE(shell.shortcuts.isMenuOpen());
    Q_EMIT shell.tray.menu->aboutToHide();
    EXPECT_FALSE(shell.shortcuts.isMenuOpen());
}

// The tray's pause entry holds every change back before it is read, shows it, and lasts across a restart.
TEST(AppDelegate, TheTrayPauseHoldsCopiesBackAndShowsIt)
{
    Shell shell;
    shell.delegate.start();
    QAction* pause = shell.delegate.trayMenu().pauseAction();
    const QImage recording = shell.tray.icon.pixmap(32, 32).toImage();
    pause->trigger();
    EXPECT_TRUE(pause->isChecked());
    EXPECT_TRUE(shell.delegate.clipboardWatcher()->gate().isPaused());
    EXPECT_NE(shell.tray.icon.pixmap(32, 32).toImage(), recording);
    const QString pausedTip = shell.tray.toolTip;
    EXPECT_NE(pausedTip, QStringLiteral("Nimbrel"));
    fake::FakeOffer offer = fake::FakeOffer::text(QStringLiteral("copied while paused"));
    ASSERT_TRUE(shell.clipboard.change(offer));
    EXPECT_EQ(offer.typeReads, 0);
    EXPECT_TRUE(shell.settings.recordingPaused());

    shell.delegate.perform(EditCommand{EditCommand::Verb::pause, {}, false, 5}, [](const QString&) {});
    EXPECT_FALSE(shell.settings.recordingPaused()) << "a pause with an end is not kept";
    EXPECT_NE(shell.tray.toolTip, pausedTip) << "the tip says when the pause ends";
    EXPECT_NE(shell.tray.toolTip, QStringLiteral("Nimbrel"));
    pause->trigger();
    EXPECT_FALSE(shell.delegate.clipboardWatcher()->gate().isPaused());
    EXPECT_EQ(shell.tray.icon.pixmap(32, 32).toImage(), recording);
    EXPECT_EQ(shell.tray.toolTip, QStringLiteral("Nimbrel"));
    EXPECT_EQ(shell.console.lines.filter(QStringLiteral("Recording")).size(), 3);
}

// The command line's requests reach the writer and are answered with what became of them.
TEST(AppDelegate, RequestsFromTheCommandLineAreAnswered)
{
    Shell shell;
    shell.delegate.start();
    const ClipItem record = ClipItem::make(ClipKind::text, QStringLiteral("kept"), std::nullopt, std::nullopt,
                                           std::nullopt, std::nullopt, QDateTime::currentDateTimeUtc());
    ASSERT_TRUE(shell.delegate.modelContainer()->insert(record).ok());
    ASSERT_TRUE(shell.delegate.modelContainer()->save().ok());
    struct Case {
        EditCommand command;
        QString answer;
    };
    const Case cases[] = {
        {{EditCommand::Verb::pin, record.id}, QStringLiteral("done")},
        {{EditCommand::Verb::pin, QUuid::createUuid()}, QStringLiteral("unknown")},
        {{EditCommand::Verb::copy, record.id}, QStringLiteral("done")},
        {{EditCommand::Verb::copy, QUuid::createUuid()}, QStringLiteral("unknown")},
        {{EditCommand::Verb::clear}, QStringLiteral("done")},
        {{EditCommand::Verb::clear, {}, true}, QStringLiteral("done 1 4")},
        {{EditCommand::Verb::remove, record.id}, QStringLiteral("unknown")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(requestLine(c.command).toStdString());
        std::optional<QString> answer;
        shell.delegate.perform(c.command, [&answer](const QString& line) { answer = line; });
        ASSERT_TRUE(QTest::qWaitFor([&answer] { return answer.has_value(); }, 5000));
        EXPECT_EQ(*answer, c.answer);
    }
    ASSERT_EQ(shell.clipboardWriter.writes.size(), 1);
    EXPECT_EQ(shell.clipboardWriter.data(QStringLiteral("text/plain")), QByteArray("kept"));
}
