#include "shell/SingleInstance.h"
#include "support/FakeShell.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

using namespace nimbrel;

namespace {

using Shell = test::FakeShell;

Result<std::unique_ptr<HistoryStore>> failing(const QString& why)
{
    return Error{why};
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

}  // namespace

TEST(AppDelegate, StoreFallsBackToMemoryThenToNone)
{
    const QString fileFailed =
        QStringLiteral("[Nimbrel] StoreOpening init failed, using in-memory store: disk on fire");
    struct Case {
        bool fileFails;
        bool memoryFails;
        QStringList lines;
    };
    const Case cases[] = {
        {false, false, {}},
        {true, false, {fileFailed}},
        {true,
         true,
         {fileFailed, QStringLiteral("[Nimbrel] In-memory StoreOpening init failed: no memory"),
          QStringLiteral("[Nimbrel] Clipboard watcher disabled because StoreOpening is unavailable.")}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.size());
        StoreOpeners openers;
        if (c.fileFails)
            openers.openFile = [](const QString&) { return failing(QStringLiteral("disk on fire")); };
        if (c.memoryFails)
            openers.openInMemory = [] { return failing(QStringLiteral("no memory")); };
        Shell shell(openers);
        shell.delegate.prepareStart();
        shell.delegate.start();
        EXPECT_EQ(shell.console.lines, c.lines);
        HistoryStore* store = shell.delegate.modelContainer();
        EXPECT_EQ(store != nullptr, !c.memoryFails);
        if (!c.fileFails) {
            EXPECT_EQ(store->path(), shell.locations.storeFile());
            EXPECT_TRUE(QFile::exists(shell.locations.storeFile()));
        }
        if (c.memoryFails) {
            // Without a store there is no capture and no shortcut, and the panel's entries do nothing.
            EXPECT_EQ(shell.delegate.clipboardWatcher(), nullptr);
            EXPECT_EQ(shell.delegate.hotkeyManager(), nullptr);
            EXPECT_EQ(shell.delegate.panelCoordinator(), nullptr);
            EXPECT_TRUE(shell.hotKeys.attempts.isEmpty());
            shell.delegate.togglePanel();
            shell.tray.menu->actions().first()->trigger();
        }
    }
}

TEST(AppDelegate, LaunchChecksForUpdatesReportsAndWiresTheShortcutAndTheTrayEntry)
{
    Shell shell;
    shell.delegate.prepareStart();
    shell.delegate.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.http.requests.size() == 2; }, 1000));
    // The feed check runs as a task of its own, so the two requests may leave in either order.
    EXPECT_EQ(shell.http.requests.filter(QStringLiteral("GET ")).size(), 1);
    EXPECT_EQ(shell.http.requests.filter(QStringLiteral("POST https://report.invalid/api/launch")).size(), 1);

    PanelCoordinator* panel = shell.delegate.panelCoordinator();
    ASSERT_NE(panel, nullptr);
    shell.hotKeys.press(9, 768);
    EXPECT_FALSE(panel->isVisible()) << "nothing happens on the press";
    shell.hotKeys.release(9, 768);
    EXPECT_TRUE(panel->isVisible());
    shell.hotKeys.press(9, 768);
    shell.hotKeys.release(9, 768);
    EXPECT_FALSE(panel->isVisible());
    shell.tray.menu->actions().first()->trigger();
    EXPECT_TRUE(panel->isVisible());
    shell.tray.menu->actions().first()->trigger();
    EXPECT_FALSE(panel->isVisible());

    // The tray menu being open keeps the shortcut working.
    Q_EMIT shell.tray.menu->aboutToShow();
    EXPECT_TRUE(shell.shortcuts.isMenuOpen());
    Q_EMIT shell.tray.menu->aboutToHide();
    EXPECT_FALSE(shell.shortcuts.isMenuOpen());
}

TEST(AppDelegate, NothingGoesOutWhenTheSettingsOrThePackageSayNoAndTheCheckFollowsTheSwitch)
{
    for (const bool byPackage : {false, true}) {
        SCOPED_TRACE(byPackage ? "turned off by the package" : "switched off in the settings");
        Shell shell({}, nullptr,
                    byPackage ? PackagerPolicy{.launchReportOff = true, .updateCheckOff = true} : PackagerPolicy{});
        if (!byPackage) {
            shell.settings.setSendsLaunchReport(false);
            shell.settings.setChecksForUpdates(false);
        }
        QSignalSpy reportStatus(&shell.settings, &SettingsStore::launchReportStatusChanged);
        shell.delegate.prepareStart();
        shell.delegate.start();
        settle();
        EXPECT_TRUE(shell.http.requests.isEmpty()) << shell.http.requests.join(u'\n').toStdString();
        ASSERT_NE(shell.updater.timer(), nullptr);
        EXPECT_FALSE(shell.updater.timer()->isActive());
        EXPECT_EQ(shell.settings.launchReportStatus(), LaunchReportStatus::declined);
        EXPECT_EQ(reportStatus.count(), 1) << "the settings window hears of the decline";

        // Switched on: the package's word still stands; else the check runs at once and then repeats.
        shell.settings.setChecksForUpdates(false);
        shell.settings.setChecksForUpdates(true);
        shell.settings.setSendsLaunchReport(true);
        settle();
        EXPECT_EQ(shell.updater.timer()->isActive(), !byPackage);
        EXPECT_EQ(
            shell.http.requests,
            byPackage ? QStringList() : QStringList{QStringLiteral("GET ") + shell.updater.appcastURL().toString()});
        shell.settings.setChecksForUpdates(false);
        EXPECT_FALSE(shell.updater.timer()->isActive()) << "switched off again, the repeating check stops at once";
    }
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
        EXPECT_FALSE(catcher.placement.overlay || catcher.placement.keyboard);
        // The panel: over everything, on its placement's edge, with the keyboard to itself.
        const auto& placed = layers.attached.at(1);
        EXPECT_EQ(placed.window, panel->panel()->windowHandle());
        EXPECT_EQ(placed.placement.edges, edge);
        EXPECT_TRUE(placed.placement.overlay && placed.placement.keyboard);
        // The inset from that edge only (the shadow around the panel may reach past the edge, as on X11).
        const QMargins& margins = placed.placement.margins;
        const int inset = edge == Edge::bottom ? margins.bottom()
                          : edge == Edge::left ? margins.left()
                                               : margins.right();
        EXPECT_EQ(margins.top() + margins.bottom() + margins.left() + margins.right(), inset);

        // A click elsewhere lands on the catcher: the panel closes, each layer going before its window.
        QTest::mouseClick(panel->clickCatcher(), Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, 2000));
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

// A lock left by a process that died (kill -9) is taken over by the next start; a live holder's is respected.
TEST(SingleInstance, TheLockOfADeadHolderIsTakenOverAndALiveHoldersIsRespected)
{
    const QString runtime = test::freshDirectory();
    const QString data = test::freshDirectory();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        SingleInstance instance(runtime, data);
        const char locked = instance.tryLock() ? '1' : '0';
        (void)!::write(ready[1], &locked, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char locked = 0;
    ASSERT_EQ(::read(ready[0], &locked, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(locked, '1');

    SingleInstance next(runtime, data);
    EXPECT_FALSE(next.tryLock()) << "the holder still runs";
    EXPECT_TRUE(SingleInstance(runtime, test::freshDirectory()).tryLock()) << "another data folder, another instance";
    ::kill(holder, SIGKILL);
    ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
    EXPECT_TRUE(next.tryLock()) << "the lock of a killed process is taken over";
}
