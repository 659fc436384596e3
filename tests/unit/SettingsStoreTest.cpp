#include "support/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace nimbrel {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void resetService(LoginItemStatus status)
    {
        loginItems.currentStatus = status;
        loginItems.statusAfterRegister = LoginItemStatus::enabled;
        loginItems.registerError.reset();
        loginItems.unregisterError.reset();
        loginItems.statusReads = 0;
        loginItems.registrations = 0;
        loginItems.unregistrations = 0;
    }

    // The package turns nothing off unless a test says so, whatever this process's environment holds.
    std::unique_ptr<SettingsStore> makeStore(PackagerPolicy packager = {})
    {
        return std::make_unique<SettingsStore>(defaults, loginItems, console, translations, std::move(packager));
    }

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    Translations translations{Translations::defaultDirectory()};
};

TEST_F(SettingsStoreTest, EmptyDefaultsGiveTheDefaultsWithoutWritingOrAskingTheService)
{
    const auto store = makeStore();

    EXPECT_EQ(store->panelMode(), PanelMode::bottom);
    EXPECT_EQ(store->maxStorageMB(), 200);
    EXPECT_FALSE(store->launchAtLogin());
    EXPECT_EQ(store->language(), AppLanguage::system);
    EXPECT_FALSE(store->isSyncingLaunchAtLogin());

    EXPECT_TRUE(defaults.values.isEmpty()) << defaults.values.keys().join(u',').toStdString();
    EXPECT_EQ(defaults.synchronizations, 0);
    EXPECT_EQ(loginItems.statusReads, 0);
    EXPECT_EQ(loginItems.registrations + loginItems.unregistrations, 0);
}

TEST_F(SettingsStoreTest, StoredBudgetLoadsClampedAndOnlyAnIntegerCounts)
{
    struct Case {
        QVariant stored;
        qint64 expected;
    };
    const std::vector<Case> cases{
        {QVariant(), 200},
        {QVariant::fromValue<qint64>(0), 100},
        {QVariant::fromValue<qint64>(100), 100},
        {QVariant::fromValue<qint64>(101), 100},
        {QVariant::fromValue<qint64>(150), 100},
        {QVariant::fromValue<qint64>(999), 900},
        {QVariant::fromValue<qint64>(1000), 1000},
        {QVariant::fromValue<qint64>(1001), 1000},
        {QVariant::fromValue<qint64>(-300), 100},
        {QVariant::fromValue<qint64>(std::numeric_limits<qint64>::max()), 1000},
        {QVariant::fromValue<qint64>(std::numeric_limits<qint64>::min()), 100},
        {QVariant(700), 700},
        {QVariant(QStringLiteral("300")), 200},
        {QVariant(true), 200},
        {QVariant(QStringList{QStringLiteral("300")}), 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString(c.stored.toString() + QStringLiteral(" of type ") + QString::fromUtf8(c.stored.typeName()))
                         .toStdString());
        defaults.values.clear();
        if (c.stored.isValid())
            defaults.values.insert(SettingsStore::maxStorageMBKey, c.stored);

        const auto store = makeStore();

        EXPECT_EQ(store->maxStorageMB(), c.expected);
        // Loading never writes the corrected value back.
        EXPECT_EQ(defaults.values.value(SettingsStore::maxStorageMBKey), c.stored);
    }
}

TEST_F(SettingsStoreTest, StoredStringsLoadByRawValueAndAnythingElseGivesTheDefault)
{
    struct Case {
        QVariant panelMode;
        QVariant language;
        PanelMode expectedMode;
        AppLanguage expectedLanguage;
    };
    const std::vector<Case> cases{
        {QStringLiteral("left"), QStringLiteral("ja"), PanelMode::left, AppLanguage::ja},
        {QStringLiteral("right"), QStringLiteral("zh-Hant"), PanelMode::right, AppLanguage::zhHant},
        {QStringLiteral("bottom"), QStringLiteral("zh-Hans"), PanelMode::bottom, AppLanguage::zhHans},
        {QStringLiteral("top"), QStringLiteral("fr"), PanelMode::bottom, AppLanguage::system},
        {QStringLiteral("Left"), QStringLiteral("zh_Hant"), PanelMode::bottom, AppLanguage::system},
        {QStringLiteral(""), QStringLiteral("EN"), PanelMode::bottom, AppLanguage::system},
        {QVariant(1), QVariant(2), PanelMode::bottom, AppLanguage::system},
        {QVariant(QStringList{QStringLiteral("left")}), QVariant(QStringList{QStringLiteral("ko")}), PanelMode::bottom,
         AppLanguage::system},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.panelMode.toString().toStdString() + " / " + c.language.toString().toStdString());
        defaults.values.clear();
        defaults.values.insert(SettingsStore::panelModeKey, c.panelMode);
        defaults.values.insert(SettingsStore::languageKey, c.language);

        const auto store = makeStore();

        EXPECT_EQ(store->panelMode(), c.expectedMode);
        EXPECT_EQ(store->language(), c.expectedLanguage);
        EXPECT_EQ(defaults.values.value(SettingsStore::panelModeKey), c.panelMode);
        EXPECT_EQ(defaults.values.value(SettingsStore::languageKey), c.language);
    }
}

TEST_F(SettingsStoreTest, UnknownPanelModeStaysStoredUntilTheSettingIsAssigned)
{
    defaults.values.insert(SettingsStore::panelModeKey, QStringLiteral("floating"));
    const auto store = makeStore();
    ASSERT_EQ(store->panelMode(), PanelMode::bottom);
    EXPECT_EQ(defaults.values.value(SettingsStore::panelModeKey).toString(), QStringLiteral("floating"));

    store->setPanelMode(PanelMode::bottom);

    EXPECT_EQ(defaults.values.value(SettingsStore::panelModeKey).toString(), QStringLiteral("bottom"));
}

TEST_F(SettingsStoreTest, StoredLaunchAtLoginReadsAsBoolean)
{
    const std::vector<std::pair<QVariant, bool>> cases{
        {QVariant(), false}, {QVariant(true), true}, {QVariant(false), false}, {QStringLiteral("maybe"), false}};
    for (const auto& [stored, expected] : cases) {
        SCOPED_TRACE(stored.toString().toStdString());
        defaults.values.clear();
        if (stored.isValid())
            defaults.values.insert(SettingsStore::launchAtLoginKey, stored);
        EXPECT_EQ(makeStore()->launchAtLogin(), expected);
        EXPECT_EQ(loginItems.registrations + loginItems.unregistrations, 0);
    }
}

TEST_F(SettingsStoreTest, NetworkSwitchesAreOnUnlessStoredOffAndAnythingOddReadsAsOff)
{
    struct Case {
        const char* name;
        QVariant stored;
        bool expected;
        bool reported;
    };
    const std::vector<Case> cases{
        {"absent", QVariant(), true, false},
        {"true", QVariant(true), true, false},
        {"false", QVariant(false), false, false},
        {"1", QVariant::fromValue<qint64>(1), true, false},
        {"0", QVariant::fromValue<qint64>(0), false, false},
        // A hand-written "false" or "no" means off: reading it as the default would send what was refused.
        {"string false", QStringLiteral("false"), false, true},
        {"string true", QStringLiteral("true"), false, true},
        {"list", QVariant(QStringList{QStringLiteral("on")}), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& key : {SettingsStore::sendLaunchReportKey, SettingsStore::checkForUpdatesKey}) {
            SCOPED_TRACE(key.toStdString());
            defaults.values.clear();
            console.lines.clear();
            if (c.stored.isValid())
                defaults.values.insert(key, c.stored);
            const auto store = makeStore();
            const bool launchReport = key == SettingsStore::sendLaunchReportKey;
            EXPECT_EQ(launchReport ? store->sendsLaunchReport() : store->checksForUpdates(), c.expected);
            EXPECT_EQ(launchReport ? store->launchReportAllowed() : store->updateCheckAllowed(), c.expected);
            // The other switch keeps its default.
            EXPECT_TRUE(launchReport ? store->checksForUpdates() : store->sendsLaunchReport());
            const QString line =
                QStringLiteral("[Nimbrel] %1 in the settings is not true or false; %2 is off")
                    .arg(key, launchReport ? QStringLiteral("the launch report") : QStringLiteral("the update check"));
            EXPECT_EQ(console.lines, c.reported ? QStringList{line} : QStringList());
            // An odd value stays in the file as it was, absent stays absent.
            EXPECT_EQ(defaults.values.value(key), c.stored);
            EXPECT_EQ(defaults.values.contains(key), c.stored.isValid());
        }
    }
}

TEST_F(SettingsStoreTest, WhatThePackageTurnedOffStaysOffWhateverTheSettingsSay)
{
    struct Case {
        const char* name;
        PackagerPolicy packager;
        bool reportAllowed;
        bool checkAllowed;
        QStringList lines;
    };
    const std::vector<Case> cases{
        {"nothing", {}, true, true, {}},
        {"launch report",
         {.launchReportOff = true},
         false,
         true,
         {QStringLiteral("[Nimbrel] NIMBREL_NO_LAUNCH_REPORT is set: no launch report is sent")}},
        {"update check",
         {.updateCheckOff = true},
         true,
         false,
         {QStringLiteral("[Nimbrel] NIMBREL_NO_UPDATE_CHECK is set: no update check is made")}},
        {"both, one of them odd",
         {.launchReportOff = true,
          .updateCheckOff = true,
          .problems = {QStringLiteral(
              "[Nimbrel] NIMBREL_NO_UPDATE_CHECK=\"yes\" is neither 1 nor 0; it is taken as 1")}},
         false,
         false,
         {QStringLiteral("[Nimbrel] NIMBREL_NO_UPDATE_CHECK=\"yes\" is neither 1 nor 0; it is taken as 1"),
          QStringLiteral("[Nimbrel] NIMBREL_NO_LAUNCH_REPORT is set: no launch report is sent"),
          QStringLiteral("[Nimbrel] NIMBREL_NO_UPDATE_CHECK is set: no update check is made")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.values.clear();
        console.lines.clear();
        const auto store = makeStore(c.packager);
        EXPECT_EQ(console.lines, c.lines);
        // Switched on by the user, the switches still give no leave where the package said no.
        store->setSendsLaunchReport(true);
        store->setChecksForUpdates(true);
        EXPECT_EQ(store->launchReportAllowed(), c.reportAllowed);
        EXPECT_EQ(store->updateCheckAllowed(), c.checkAllowed);
        EXPECT_TRUE(store->sendsLaunchReport());
        EXPECT_TRUE(store->checksForUpdates());
    }
}

TEST(PackagerPolicy, OneTurnsOffZeroOrNothingLeavesItToTheSettingsAnythingElseTurnsOffAndIsReported)
{
    struct Case {
        const char* report;
        const char* check;
        bool reportOff;
        bool checkOff;
        QStringList problems;
    };
    const std::vector<Case> cases{
        {nullptr, nullptr, false, false, {}},
        {"", "", false, false, {}},
        {"0", "0", false, false, {}},
        {"1", nullptr, true, false, {}},
        {nullptr, "1", false, true, {}},
        {" 1\n", "0 ", true, false, {}},
        {"yes",
         "false",
         true,
         true,
         {QStringLiteral("[Nimbrel] NIMBREL_NO_LAUNCH_REPORT=\"yes\" is neither 1 nor 0; it is taken as 1"),
          QStringLiteral("[Nimbrel] NIMBREL_NO_UPDATE_CHECK=\"false\" is neither 1 nor 0; it is taken as 1")}},
        {"2",
         "1",
         true,
         true,
         {QStringLiteral("[Nimbrel] NIMBREL_NO_LAUNCH_REPORT=\"2\" is neither 1 nor 0; it is taken as 1")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.report ? c.report : "(unset)") << " / "
                                        << (c.check ? c.check : "(unset)"));
        const PackagerPolicy policy = readPackagerPolicy([&c](const char* variable) {
            const char* value = QByteArray(variable) == "NIMBREL_NO_LAUNCH_REPORT"  ? c.report
                                : QByteArray(variable) == "NIMBREL_NO_UPDATE_CHECK" ? c.check
                                                                                    : "1";
            return value ? QString::fromUtf8(value) : QString();
        });
        EXPECT_EQ(policy.launchReportOff, c.reportOff);
        EXPECT_EQ(policy.updateCheckOff, c.checkOff);
        EXPECT_EQ(policy.problems, c.problems);
    }

    // The process environment is what a start reads.
    qputenv("NIMBREL_NO_UPDATE_CHECK", "1");
    qunsetenv("NIMBREL_NO_LAUNCH_REPORT");
    const PackagerPolicy fromEnvironment = packagerPolicyFromEnvironment();
    qunsetenv("NIMBREL_NO_UPDATE_CHECK");
    EXPECT_TRUE(fromEnvironment.updateCheckOff);
    EXPECT_FALSE(fromEnvironment.launchReportOff);
}

TEST_F(SettingsStoreTest, BudgetAssignmentStoresOnlyTheClampedValue)
{
    struct Case {
        qint64 assigned;
        qint64 expected;
        int notifications;
    };
    // Every case starts from the default of 200.
    const std::vector<Case> cases{
        {450, 400, 1}, {50, 100, 1}, {250, 200, 0}, {5000, 1000, 1}, {1000, 1000, 1}, {-1, 100, 1}, {299, 200, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.assigned);
        defaults.values.clear();
        const auto store = makeStore();
        QSignalSpy spy(store.get(), &SettingsStore::maxStorageMBChanged);
        const int writesBefore = defaults.writes;

        store->setMaxStorageMB(c.assigned);

        EXPECT_EQ(store->maxStorageMB(), c.expected);
        const QVariant stored = defaults.values.value(SettingsStore::maxStorageMBKey);
        EXPECT_EQ(stored.typeId(), QMetaType::LongLong);
        EXPECT_EQ(stored.toLongLong(), c.expected);
        // One write: the unclamped value never reaches the defaults.
        EXPECT_EQ(defaults.writes - writesBefore, 1);
        EXPECT_EQ(spy.count(), c.notifications);
    }
}

TEST_F(SettingsStoreTest, AssignmentAlwaysWritesButNotifiesOnlyAChange)
{
    using Signal = void (SettingsStore::*)();
    struct Case {
        const char* name;
        QString key;
        Signal signal;
        std::function<void(SettingsStore&)> assignSame;
        std::function<void(SettingsStore&)> assignOther;
        QVariant storedAfterOther;
    };
    const std::vector<Case> cases{
        {"panelMode", SettingsStore::panelModeKey, &SettingsStore::panelModeChanged,
         [](SettingsStore& s) { s.setPanelMode(PanelMode::bottom); },
         [](SettingsStore& s) { s.setPanelMode(PanelMode::right); }, QStringLiteral("right")},
        {"maxStorageMB", SettingsStore::maxStorageMBKey, &SettingsStore::maxStorageMBChanged,
         [](SettingsStore& s) { s.setMaxStorageMB(200); }, [](SettingsStore& s) { s.setMaxStorageMB(700); },
         QVariant::fromValue<qint64>(700)},
        {"launchAtLogin", SettingsStore::launchAtLoginKey, &SettingsStore::launchAtLoginChanged,
         [](SettingsStore& s) { s.setLaunchAtLogin(false); }, [](SettingsStore& s) { s.setLaunchAtLogin(true); },
         QVariant(true)},
        {"language", SettingsStore::languageKey, &SettingsStore::languageChanged,
         [](SettingsStore& s) { s.setLanguage(AppLanguage::system); },
         [](SettingsStore& s) { s.setLanguage(AppLanguage::ko); }, QStringLiteral("ko")},
        {"sendsLaunchReport", SettingsStore::sendLaunchReportKey, &SettingsStore::sendsLaunchReportChanged,
         [](SettingsStore& s) { s.setSendsLaunchReport(true); },
         [](SettingsStore& s) { s.setSendsLaunchReport(false); }, QVariant(false)},
        {"checksForUpdates", SettingsStore::checkForUpdatesKey, &SettingsStore::checksForUpdatesChanged,
         [](SettingsStore& s) { s.setChecksForUpdates(true); }, [](SettingsStore& s) { s.setChecksForUpdates(false); },
         QVariant(false)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.values.clear();
        const auto store = makeStore();
        QSignalSpy spy(store.get(), c.signal);
        const int statusReadsBefore = loginItems.statusReads;

        c.assignSame(*store);

        EXPECT_TRUE(defaults.values.contains(c.key));
        EXPECT_EQ(spy.count(), 0);
        if (c.key == SettingsStore::launchAtLoginKey) {
            EXPECT_GT(loginItems.statusReads, statusReadsBefore);
        }

        c.assignOther(*store);

        EXPECT_EQ(defaults.values.value(c.key), c.storedAfterOther);
        EXPECT_EQ(spy.count(), 1);
    }
}

TEST_F(SettingsStoreTest, OnlyTheLanguageForcesAFlush)
{
    const auto store = makeStore();
    store->setPanelMode(PanelMode::left);
    store->setMaxStorageMB(300);
    store->setLaunchAtLogin(true);
    EXPECT_EQ(defaults.synchronizations, 0);

    store->setLanguage(AppLanguage::en);
    EXPECT_EQ(defaults.synchronizations, 1);
    store->setLanguage(AppLanguage::en);
    EXPECT_EQ(defaults.synchronizations, 2);
}

TEST_F(SettingsStoreTest, LaunchAtLoginFollowsWhatTheServiceReallyDid)
{
    struct Case {
        const char* name;
        LoginItemStatus initialStatus;
        bool storedBefore;
        bool assigned;
        LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
        std::optional<QString> registerError = std::nullopt;
        std::optional<QString> unregisterError = std::nullopt;
        bool expected = false;
        int registrations = 0;
        int unregistrations = 0;
        QStringList lines = {};
    };
    const std::vector<Case> cases{
        {.name = "on, registers",
         .initialStatus = LoginItemStatus::notRegistered,
         .storedBefore = false,
         .assigned = true,
         .expected = true,
         .registrations = 1},
        {.name = "on, service not found registers",
         .initialStatus = LoginItemStatus::notFound,
         .storedBefore = false,
         .assigned = true,
         .expected = true,
         .registrations = 1},
        {.name = "on, needs approval",
         .initialStatus = LoginItemStatus::requiresApproval,
         .storedBefore = false,
         .assigned = true,
         .expected = false},
        {.name = "on, register fails",
         .initialStatus = LoginItemStatus::notRegistered,
         .storedBefore = false,
         .assigned = true,
         .registerError = QStringLiteral("permission denied"),
         .expected = false,
         .registrations = 1,
         .lines = {QStringLiteral("[Nimbrel] LaunchAtLogin error: permission denied")}},
        {.name = "on, registered but not enabled",
         .initialStatus = LoginItemStatus::notRegistered,
         .storedBefore = false,
         .assigned = true,
         .statusAfterRegister = LoginItemStatus::requiresApproval,
         .expected = false,
         .registrations = 1},
        {.name = "on, already enabled",
         .initialStatus = LoginItemStatus::enabled,
         .storedBefore = false,
         .assigned = true,
         .expected = true},
        {.name = "off, unregisters",
         .initialStatus = LoginItemStatus::enabled,
         .storedBefore = true,
         .assigned = false,
         .expected = false,
         .unregistrations = 1},
        {.name = "off, unregister fails",
         .initialStatus = LoginItemStatus::enabled,
         .storedBefore = true,
         .assigned = false,
         .unregisterError = QStringLiteral("read-only folder"),
         .expected = true,
         .unregistrations = 1,
         .lines = {QStringLiteral("[Nimbrel] LaunchAtLogin error: read-only folder")}},
        {.name = "off, needs approval",
         .initialStatus = LoginItemStatus::requiresApproval,
         .storedBefore = true,
         .assigned = false,
         .expected = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.values.clear();
        defaults.values.insert(SettingsStore::launchAtLoginKey, c.storedBefore);
        resetService(c.initialStatus);
        loginItems.statusAfterRegister = c.statusAfterRegister;
        loginItems.registerError = c.registerError;
        loginItems.unregisterError = c.unregisterError;
        console.lines.clear();
        const auto store = makeStore();
        QList<bool> observed;
        QObject::connect(store.get(), &SettingsStore::launchAtLoginChanged, store.get(),
                         [&] { observed.append(store->launchAtLogin()); });

        store->setLaunchAtLogin(c.assigned);

        EXPECT_EQ(store->launchAtLogin(), c.expected);
        EXPECT_EQ(defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(c.expected));
        EXPECT_EQ(loginItems.registrations, c.registrations);
        EXPECT_EQ(loginItems.unregistrations, c.unregistrations);
        EXPECT_EQ(console.lines, c.lines);
        EXPECT_FALSE(store->isSyncingLaunchAtLogin());
        // Whoever watches the setting ends up seeing the state the service reports.
        if (c.assigned != c.storedBefore) {
            ASSERT_FALSE(observed.isEmpty());
            EXPECT_EQ(observed.last(), c.expected);
        }
    }
}

TEST_F(SettingsStoreTest, AdoptingTheServiceStateNeverAsksTheServiceToChange)
{
    const auto store = makeStore();
    loginItems.currentStatus = LoginItemStatus::notRegistered;
    QList<bool> guardDuringNotification;
    QObject::connect(store.get(), &SettingsStore::launchAtLoginChanged, store.get(),
                     [&] { guardDuringNotification.append(store->isSyncingLaunchAtLogin()); });

    store->adoptLoginItemStatus(true);

    EXPECT_TRUE(store->launchAtLogin());
    EXPECT_EQ(defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(true));
    EXPECT_EQ(loginItems.registrations, 0);
    EXPECT_EQ(guardDuringNotification, QList<bool>{true});
    EXPECT_FALSE(store->isSyncingLaunchAtLogin());

    defaults.values.remove(SettingsStore::launchAtLoginKey);
    store->adoptLoginItemStatus(true);

    EXPECT_EQ(defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(true));
    EXPECT_EQ(guardDuringNotification.size(), 1);
    EXPECT_EQ(loginItems.registrations + loginItems.unregistrations, 0);
}

TEST_F(SettingsStoreTest, StartUpReappliesTheStoredPreferenceAndAdoptsTheResult)
{
    struct Case {
        const char* name;
        bool stored;
        LoginItemStatus status;
        std::optional<QString> registerError;
        bool applied;
        bool expected;
        int registrations;
        int unregistrations;
    };
    const std::vector<Case> cases{
        {"on and enabled", true, LoginItemStatus::enabled, std::nullopt, true, true, 0, 0},
        {"on, entry lost", true, LoginItemStatus::notRegistered, std::nullopt, true, true, 1, 0},
        {"on, register fails", true, LoginItemStatus::notRegistered, QStringLiteral("no space"), false, false, 1, 0},
        {"off but enabled", false, LoginItemStatus::enabled, std::nullopt, true, false, 0, 1},
        {"on, needs approval", true, LoginItemStatus::requiresApproval, std::nullopt, false, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.values.clear();
        defaults.values.insert(SettingsStore::launchAtLoginKey, c.stored);
        resetService(c.status);
        loginItems.registerError = c.registerError;
        console.lines.clear();
        const auto store = makeStore();

        EXPECT_EQ(applyLoginItem(loginItems, console, store->launchAtLogin()), c.applied);
        store->adoptLoginItemStatus(loginItems.status() == LoginItemStatus::enabled);

        EXPECT_EQ(store->launchAtLogin(), c.expected);
        EXPECT_EQ(defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(c.expected));
        EXPECT_EQ(loginItems.registrations, c.registrations);
        EXPECT_EQ(loginItems.unregistrations, c.unregistrations);
        EXPECT_EQ(console.lines.size(), c.registerError ? 1 : 0);
    }
}

TEST_F(SettingsStoreTest, LanguageOverrideIsCorrectedAtConstruction)
{
    struct Case {
        QVariant storedLanguage;
        QVariant overrideBefore;
        std::optional<QStringList> overrideAfter;
    };
    const std::vector<Case> cases{
        {QVariant(), QStringList{QStringLiteral("ja")}, std::nullopt},
        {QStringLiteral("system"), QStringList{QStringLiteral("en")}, std::nullopt},
        {QStringLiteral("fr"), QStringList{QStringLiteral("fr")}, std::nullopt},
        {QStringLiteral("zh-Hant"), QVariant(), QStringList{QStringLiteral("zh-Hant")}},
        {QStringLiteral("ko"), QStringList{QStringLiteral("en"), QStringLiteral("ko")},
         QStringList{QStringLiteral("ko")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.storedLanguage.toString().toStdString());
        defaults.values.clear();
        if (c.storedLanguage.isValid())
            defaults.values.insert(SettingsStore::languageKey, c.storedLanguage);
        if (c.overrideBefore.isValid())
            defaults.values.insert(SettingsStore::appleLanguagesKey, c.overrideBefore);
        defaults.synchronizations = 0;

        const auto store = makeStore();

        EXPECT_EQ(defaults.stringList(SettingsStore::appleLanguagesKey), c.overrideAfter);
        EXPECT_EQ(defaults.synchronizations, 0);
    }
}

TEST_F(SettingsStoreTest, SwitchingTheLanguageRewritesTheOverrideAndLocale)
{
    const auto store = makeStore();
    store->setLanguage(AppLanguage::en);
    EXPECT_EQ(defaults.stringList(SettingsStore::appleLanguagesKey), QStringList{QStringLiteral("en")});
    EXPECT_EQ(defaults.string(SettingsStore::languageKey), QStringLiteral("en"));
    EXPECT_EQ(store->locale().language(), QLocale::English);

    store->setLanguage(AppLanguage::system);

    EXPECT_FALSE(defaults.values.contains(SettingsStore::appleLanguagesKey));
    EXPECT_EQ(defaults.string(SettingsStore::languageKey), QStringLiteral("system"));
    EXPECT_EQ(store->locale(), QLocale::system());
    EXPECT_EQ(defaults.synchronizations, 2);
}

TEST_F(SettingsStoreTest, LocaleOfEachPinnedLanguage)
{
    struct Case {
        AppLanguage language;
        QLocale::Language expectedLanguage;
        QLocale::Script expectedScript;
    };
    const std::vector<Case> cases{
        {AppLanguage::zhHans, QLocale::Chinese, QLocale::SimplifiedChineseScript},
        {AppLanguage::zhHant, QLocale::Chinese, QLocale::TraditionalChineseScript},
        {AppLanguage::en, QLocale::English, QLocale::LatinScript},
        {AppLanguage::ja, QLocale::Japanese, QLocale::JapaneseScript},
        {AppLanguage::ko, QLocale::Korean, QLocale::KoreanScript},
    };
    const auto store = makeStore();
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.language).toStdString());
        store->setLanguage(c.language);
        EXPECT_EQ(store->locale().language(), c.expectedLanguage);
        EXPECT_EQ(store->locale().script(), c.expectedScript);
    }
}

TEST_F(SettingsStoreTest, LocalizedUsesTheChosenLanguageElseTheMainOne)
{
    const QString key = QStringLiteral("退出 Nimbrel");
    struct Case {
        QString mainLanguage;
        AppLanguage language;
        QString expected;
    };
    const std::vector<Case> cases{
        {QStringLiteral("zh-Hans"), AppLanguage::en, QStringLiteral("Quit Nimbrel")},
        {QStringLiteral("en"), AppLanguage::ja, QStringLiteral("Nimbrel を終了")},
        {QStringLiteral("en"), AppLanguage::ko, QStringLiteral("Nimbrel 종료")},
        {QStringLiteral("en"), AppLanguage::zhHant, QStringLiteral("結束 Nimbrel")},
        // The keys are the Simplified Chinese texts: choosing that language shows them as they are.
        {QStringLiteral("en"), AppLanguage::zhHans, key},
        {QStringLiteral("ja"), AppLanguage::system, QStringLiteral("Nimbrel を終了")},
        {QStringLiteral("zh-Hans"), AppLanguage::system, key},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString(c.mainLanguage + u'/' + rawValue(c.language)).toStdString());
        ASSERT_EQ(translations.selectMainLanguage({c.mainLanguage}), c.mainLanguage);
        const auto store = makeStore();
        store->setLanguage(c.language);
        EXPECT_EQ(store->localized(key), c.expected);
        EXPECT_EQ(store->localized(QStringLiteral("没有这个键")), QStringLiteral("没有这个键"));
    }
}

TEST_F(SettingsStoreTest, LocalizedFallsBackToTheMainLanguageWhenTheChosenOneHasNoTable)
{
    // A folder with the English table only.
    const QString folder = test::freshDirectory();
    ASSERT_TRUE(QFile::copy(QDir(Translations::defaultDirectory()).filePath(QStringLiteral("nimbrel_en.qm")),
                            folder + QStringLiteral("/nimbrel_en.qm")));
    Translations englishOnly(folder);
    ASSERT_EQ(englishOnly.selectMainLanguage({QStringLiteral("ja-JP"), QStringLiteral("en-GB")}), QStringLiteral("en"));
    SettingsStore store(defaults, loginItems, console, englishOnly);

    store.setLanguage(AppLanguage::ja);

    EXPECT_EQ(store.localized(QStringLiteral("Nimbrel 设置")), QStringLiteral("Nimbrel Settings"));
}

}  // namespace
}  // namespace nimbrel
