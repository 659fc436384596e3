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
using Shell = test::FakeShell;

TEST(AppDelegate, StoreFallsBackToMemoryThenToNone)
{
    const QString fileFailed =
        QStringLiteral("[Nimbrel] History store init failed, using in-memory store: disk on fire");
    const QStringList lines[] = {
        {},
        {fileFailed},
        {fileFailed, QStringLiteral("[Nimbrel] In-memory history store init failed: no memory"),
         QStringLiteral("[Nimbrel] Clipboard watcher disabled because the history store is unavailable.")}};
    for (const QStringList& expected : lines) {
        SCOPED_TRACE(expected.size());
        const bool fileFails = !expected.isEmpty(), memoryFails = expected.size() > 1;
        StoreOpeners openers;
        using Opened = Result<std::unique_ptr<HistoryStore>>;
        if (fileFails)
            openers.openFile = [](const QString&) -> Opened { return Error{QStringLiteral("disk on fire")}; };
        if (memoryFails)
            openers.openInMemory = []() -> Opened { return Error{QStringLiteral("no memory")}; };
        Shell shell(openers);
        shell.delegate.prepareStart();
        shell.delegate.start();
        EXPECT_EQ(shell.console.lines, expected);
        HistoryStore* store = shell.delegate.modelContainer();
        EXPECT_EQ(store != nullptr, !memoryFails);
        if (!fileFails) {
            EXPECT_EQ(store->path(), shell.locations.storeFile());
            EXPECT_TRUE(QFile::exists(shell.locations.storeFile()));
        }
        if (memoryFails) {
            // Without a store there is no capture and no shortcut, and the panel's entries do nothing.
            EXPECT_TRUE(!shell.delegate.clipboardWatcher() && !shell.delegate.hotkeyManager() &&
                        !shell.delegate.panelCoordinator() && shell.hotKeys.attempts.isEmpty());
            shell.delegate.togglePanel();
            shell.tray.menu->actions().first()->trigger();
        }
    }
}

TEST(AppDelegate, NothingGoesOutWhenTheSettingsOrThePackageSayNoAndTheCheckFollowsTheSwitch)
{
    const auto settle = [] {
        QCoreApplication::processEvents(), QCoreApplication::processEvents(), QCoreApplication::processEvents();
    };
    for (const bool byPackage : {false, true}) {
        SCOPED_TRACE(byPackage ? "turned off by the package" : "switched off in the settings");
        const QMap<QString, QVariant> off{{SettingsStore::sendLaunchReportKey, false},
                                          {SettingsStore::checkForUpdatesKey, false}};
        Shell shell({}, nullptr,
                    byPackage ? PackagerPolicy{.launchReportOff = true, .updateCheckOff = true} : PackagerPolicy{},
                    nullptr, byPackage ? QMap<QString, QVariant>() : off);
        QSignalSpy reportStatus(&shell.settings, &SettingsStore::launchReportStatusChanged);
        shell.delegate.prepareStart();
        shell.delegate.start();
        settle();
        EXPECT_TRUE(shell.http.requests.isEmpty()) << shell.http.requests.join(u'\n').toStdString();
        ASSERT_TRUE(shell.updater.timer() && !shell.updater.timer()->isActive());
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

// (The launch's update check and report are proven end to end, tests/e2e/test_update_check.py.)
TEST(AppDelegate, WithoutKeySynthesisTheUserIsToldOnceARunToPasteByHandAndAnOpenTrayMenuKeepsTheShortcut)
{
    Shell shell;
    shell.keyboard.available = false;
    shell.delegate.start();
    Q_EMIT shell.tray.menu->aboutToShow();
    EXPECT_TRUE(shell.shortcuts.isMenuOpen());
    Q_EMIT shell.tray.menu->aboutToHide();
    EXPECT_FALSE(shell.shortcuts.isMenuOpen());
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
    const QString runtime = test::freshDirectory(), data = test::freshDirectory();
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
