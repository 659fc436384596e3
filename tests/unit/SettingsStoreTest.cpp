#include "KeyboardShortcuts/Shortcuts.h"
#include "hotkey/HotkeyManager.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakePlatform.h"

#include <QDebug>

#include <gtest/gtest.h>

#include <functional>

namespace nimbrel {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
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

// The keys and values of users' settings files, spelled out: what each setting writes, and what a start reads.
TEST_F(SettingsStoreTest, StoredValuesRoundTripInTheirRawForm)
{
    using KeyboardShortcuts::Shortcuts;
    fake::FakeHotKeyPlatform hotKeys;
    fake::FakeKeyboardLayout layout;
    // Every setting as the program sees it.
    const auto seen = [](const SettingsStore& s, const Shortcuts& shortcuts) {
        const auto shortcut = shortcuts.getShortcut(KeyboardShortcuts::togglePanelName());
        QString text;
        QDebug(&text) << rawValue(s.language()) << rawValue(s.panelMode()) << s.maxStorageMB()
                      << s.excludedApplications() << s.sendsLaunchReport() << s.checksForUpdates()
                      << s.recordPrimarySelection() << s.recordingPaused() << s.noTrayExplained()
                      << (shortcut ? QVariantList{shortcut->keyCode, shortcut->keyModifiers} : QVariantList());
        return text.toStdString();
    };
    using Write = std::function<void(SettingsStore&, Shortcuts&)>;
    std::vector<std::tuple<QString, QVariant, Write>> cases;
    const char* languages[] = {"system", "zh-Hans", "zh-Hant", "en", "ja", "ko"};  // in the picker's order
    for (int i = 0; i < 6; ++i)
        cases.emplace_back("Nimbrel.language", QString(languages[i]),
                           [i](auto& s, auto&) { s.setLanguage(allAppLanguages[i]); });
    const char* modes[] = {"bottom", "left", "right"};
    for (int i = 0; i < 3; ++i)
        cases.emplace_back("Nimbrel.panelMode", QString(modes[i]),
                           [i](auto& s, auto&) { s.setPanelMode(allPanelModes[i]); });
    const QStringList excluded{"org.example.Mail", "XTerm"};
    // clang-format off
    cases.insert(cases.end(), {
        {"AppleLanguages", QStringList{"ja"}, [](auto& s, auto&) { s.setLanguage(AppLanguage::ja); }},
        // Only a whole number of hundreds within 100..1000 is ever stored.
        {"Nimbrel.maxStorageMB", qint64(700), [](auto& s, auto&) { s.setMaxStorageMB(700); }},
        {"Nimbrel.maxStorageMB", qint64(400), [](auto& s, auto&) { s.setMaxStorageMB(450); }},
        {"Nimbrel.maxStorageMB", qint64(1000), [](auto& s, auto&) { s.setMaxStorageMB(5000); }},
        {"Nimbrel.maxStorageMB", qint64(100), [](auto& s, auto&) { s.setMaxStorageMB(-1); }},
        {"Nimbrel.excludedApplications", excluded, [&](auto& s, auto&) { s.setExcludedApplications(excluded); }},
        {"Nimbrel.sendLaunchReport", false, [](auto& s, auto&) { s.setSendsLaunchReport(false); }},
        {"Nimbrel.checkForUpdates", false, [](auto& s, auto&) { s.setChecksForUpdates(false); }},
        {"Nimbrel.recordPrimarySelection", true, [](auto& s, auto&) { s.setRecordPrimarySelection(true); }},
        {"Nimbrel.recordingPaused", true, [](auto& s, auto&) { s.setRecordingPaused(true); }},
        {"Nimbrel.noTrayExplained", true, [](auto& s, auto&) { s.setNoTrayExplained(); }},
        // The default a first start declares (Shift+Super+V), and a recorded one.
        {"KeyboardShortcuts_togglePanel", QString(R"({"carbonKeyCode":9,"carbonModifiers":768})"),
         [](auto&, auto& k) { k.declare(KeyboardShortcuts::togglePanelName()); }},
        {"KeyboardShortcuts_togglePanel", QString(R"({"carbonKeyCode":0,"carbonModifiers":512})"),
         [](auto&, auto& k) { k.setShortcut(KeyboardShortcuts::Shortcut(0, 512), KeyboardShortcuts::togglePanelName()); }}});
    // clang-format on
    for (const auto& [key, raw, write] : cases) {
        SCOPED_TRACE(QString(key + u' ' + raw.toString()).toStdString());
        defaults.values.clear();
        const auto writer = makeStore();
        Shortcuts written(defaults, hotKeys, layout, console);
        write(*writer, written);
        EXPECT_EQ(defaults.values.value(key), raw);
        EXPECT_EQ(defaults.values.value(key).typeId(), raw.typeId());

        if (key == SettingsStore::appleLanguagesKey)
            continue;  // read by the toolkit at the next start, not by Nimbrel
        defaults.values = {{key, raw}};
        const Shortcuts read(defaults, hotKeys, layout, console);
        EXPECT_EQ(seen(*makeStore(), read), seen(*writer, written));
    }
}

TEST_F(SettingsStoreTest, StoredValuesLoadWithoutBeingWrittenBackAndOddOnesGiveTheDefault)
{
    const QString budget = SettingsStore::maxStorageMBKey, mode = SettingsStore::panelModeKey,
                  language = SettingsStore::languageKey, report = SettingsStore::sendLaunchReportKey,
                  check = SettingsStore::checkForUpdatesKey;
    const auto setting = [&](const SettingsStore& s, const QString& key) {
        return QVariantMap{{budget, s.maxStorageMB()},
                           {mode, rawValue(s.panelMode())},
                           {language, rawValue(s.language())},
                           {report, s.sendsLaunchReport() && s.launchReportAllowed() && s.checksForUpdates()},
                           {check, s.checksForUpdates() && s.updateCheckAllowed() && s.sendsLaunchReport()}}
            .value(key);
    };
    struct Case {
        QString key;
        QVariant stored, expected;
        bool reported = false;
    };
    // A hand-written "false" or "no" for a network switch means off: reading it as the default would send what
    // was refused.
    using I = qint64;
    const QStringList on{"on"};
    // clang-format off
    const Case cases[] = {
        {budget, {}, I(200)}, {budget, I(0), I(100)}, {budget, I(150), I(100)}, {budget, I(999), I(900)},
        {budget, I(1001), I(1000)}, {budget, std::numeric_limits<I>::max(), I(1000)},
        {budget, std::numeric_limits<I>::min(), I(100)}, {budget, 700, I(700)}, {budget, "300", I(200)},
        {budget, true, I(200)}, {mode, {}, "bottom"}, {mode, "Left", "bottom"}, {mode, "left ", "bottom"},
        {mode, 1, "bottom"}, {mode, QStringList{"left"}, "bottom"}, {language, {}, "system"},
        {language, "zh_Hant", "system"}, {language, "zh-hant", "system"}, {language, " ja", "system"},
        {language, 2, "system"}, {report, {}, true}, {report, I(1), true}, {check, I(1), true}, {report, I(0), false},
        {check, I(0), false}, {report, "false", false, true}, {check, "true", false, true}, {report, on, false, true},
        {check, on, false, true}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.toStdString() + " = " + c.stored.toString().toStdString() + " of type " +
                     (c.stored.typeName() ? c.stored.typeName() : "none"));
        defaults.values.clear();
        console.lines.clear();
        if (c.stored.isValid())
            defaults.values.insert(c.key, c.stored);
        const auto store = makeStore();
        EXPECT_EQ(setting(*store, c.key), c.expected);
        EXPECT_EQ(defaults.values.value(c.key), c.stored) << "loading writes nothing back";
        EXPECT_EQ(defaults.values.size(), c.stored.isValid() ? 1 : 0);
        EXPECT_EQ(loginItems.statusReads, 0) << "loading does not ask the login service";
        const QString line =
            QStringLiteral("[Nimbrel] %1 in the settings is not true or false; %2 is off")
                .arg(c.key, c.key == report ? QStringLiteral("the launch report") : QStringLiteral("the update check"));
        EXPECT_EQ(console.lines, c.reported ? QStringList{line} : QStringList());
    }

    // An unknown value stays until the setting is assigned, even to the value in use.
    defaults.values = {{mode, QStringLiteral("floating")}};
    makeStore()->setPanelMode(PanelMode::bottom);
    EXPECT_EQ(defaults.values.value(mode), QVariant(QStringLiteral("bottom")));
}

TEST(PackagerPolicy, OneTurnsOffZeroOrNothingLeavesItToTheSettingsAnythingElseTurnsOffAndIsReported)
{
    struct Case {
        const char *report, *check;
        bool reportOff, checkOff;
        QStringList problems;
    };
    const QString odd = QStringLiteral("[Nimbrel] %1=\"%2\" is neither 1 nor 0; it is taken as 1");
    // clang-format off
    const Case cases[] = {
        {nullptr, nullptr, false, false, {}}, {"", "0", false, false, {}}, {" 1\n", "0 ", true, false, {}},
        {"yes", "false", true, true, {odd.arg("NIMBREL_NO_LAUNCH_REPORT", "yes"), odd.arg("NIMBREL_NO_UPDATE_CHECK", "false")}},
        {"2", "1", true, true, {odd.arg("NIMBREL_NO_LAUNCH_REPORT", "2")}}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.report ? c.report : "-") << " / " << (c.check ? c.check : "-"));
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
}

}  // namespace
}  // namespace nimbrel
