#include "KeyboardShortcuts/Shortcuts.h"
#include "hotkey/HotkeyManager.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "support/TestEnvironment.h"

#include <QDebug>
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
    // The package turns nothing off unless a test says so, whatever this
    // process's environment holds.
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
        cases.emplace_back(QStringLiteral("Nimbrel.language"), QString::fromUtf8(languages[i]),
                           [i](SettingsStore& s, Shortcuts&) { s.setLanguage(allAppLanguages[i]); });
    const char* modes[] = {"bottom", "left", "right"};
    for (int i = 0; i < 3; ++i)
        cases.emplace_back(QStringLiteral("Nimbrel.panelMode"), QString::fromUtf8(modes[i]),
                           [i](SettingsStore& s, Shortcuts&) { s.setPanelMode(allPanelModes[i]); });
    const QStringList excluded{QStringLiteral("org.example.Mail"), QStringLiteral("XTerm")};
    // clang-format off
    cases.insert(cases.end(), {
        {QStringLiteral("AppleLanguages"), QStringList{QStringLiteral("ja")},
         [](SettingsStore& s, Shortcuts&) { s.setLanguage(AppLanguage::ja); }},
        {QStringLiteral("Nimbrel.maxStorageMB"), QVariant::fromValue<qint64>(700),
         [](SettingsStore& s, Shortcuts&) { s.setMaxStorageMB(700); }},
        // Only a whole number of hundreds within 100..1000 is ever stored.
        {QStringLiteral("Nimbrel.maxStorageMB"), QVariant::fromValue<qint64>(400),
         [](SettingsStore& s, Shortcuts&) { s.setMaxStorageMB(450); }},
        {QStringLiteral("Nimbrel.maxStorageMB"), QVariant::fromValue<qint64>(1000),
         [](SettingsStore& s, Shortcuts&) { s.setMaxStorageMB(5000); }},
        {QStringLiteral("Nimbrel.maxStorageMB"), QVariant::fromValue<qint64>(100),
         [](SettingsStore& s, Shortcuts&) { s.setMaxStorageMB(-1); }},
        {QStringLiteral("Nimbrel.excludedApplications"), excluded,
         [&](SettingsStore& s, Shortcuts&) { s.setExcludedApplications(excluded); }},
        {QStringLiteral("Nimbrel.sendLaunchReport"), false,
         [](SettingsStore& s, Shortcuts&) { s.setSendsLaunchReport(false); }},
        {QStringLiteral("Nimbrel.checkForUpdates"), false,
         [](SettingsStore& s, Shortcuts&) { s.setChecksForUpdates(false); }},
        {QStringLiteral("Nimbrel.recordPrimarySelection"), true,
         [](SettingsStore& s, Shortcuts&) { s.setRecordPrimarySelection(true); }},
        {QStringLiteral("Nimbrel.recordingPaused"), true,
         [](SettingsStore& s, Shortcuts&) { s.setRecordingPaused(true); }},
        {QStringLiteral("Nimbrel.noTrayExplained"), true,
         [](SettingsStore& s, Shortcuts&) { s.setNoTrayExplained(); }},
        // The default a first start declares (Shift+Super+V), and a recorded one.
        {QStringLiteral("KeyboardShortcuts_togglePanel"), QStringLiteral("{\"carbonKeyCode\":9,\"carbonModifiers\":768}"),
         [](SettingsStore&, Shortcuts& s) { s.declare(KeyboardShortcuts::togglePanelName()); }},
        {QStringLiteral("KeyboardShortcuts_togglePanel"), QStringLiteral("{\"carbonKeyCode\":0,\"carbonModifiers\":512}"),
         [](SettingsStore&, Shortcuts& s) { s.setShortcut(KeyboardShortcuts::Shortcut(0, 512), KeyboardShortcuts::togglePanelName()); }}});
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
    const auto setting = [](const SettingsStore& s, const QString& key) -> QVariant {
        if (key == SettingsStore::maxStorageMBKey)
            return s.maxStorageMB();
        if (key == SettingsStore::panelModeKey)
            return rawValue(s.panelMode());
        if (key == SettingsStore::languageKey)
            return rawValue(s.language());
        if (key == SettingsStore::sendLaunchReportKey)
            return s.sendsLaunchReport() && s.launchReportAllowed() && s.checksForUpdates();
        return s.checksForUpdates() && s.updateCheckAllowed() && s.sendsLaunchReport();
    };
    const QString budget = SettingsStore::maxStorageMBKey, mode = SettingsStore::panelModeKey,
                  language = SettingsStore::languageKey, report = SettingsStore::sendLaunchReportKey,
                  check = SettingsStore::checkForUpdatesKey;
    struct Case {
        QString key;
        QVariant stored;
        QVariant expected;
        bool reported = false;
    };
    // A hand-written "false" or "no" for a network switch means off: reading it as the default would send what
    // was refused.
    // clang-format off
    const Case cases[] = {
        {budget, {}, qint64(200)}, {budget, QVariant::fromValue<qint64>(0), qint64(100)},
        {budget, QVariant::fromValue<qint64>(150), qint64(100)}, {budget, QVariant::fromValue<qint64>(999), qint64(900)},
        {budget, QVariant::fromValue<qint64>(1001), qint64(1000)},
        {budget, QVariant::fromValue(std::numeric_limits<qint64>::max()), qint64(1000)},
        {budget, QVariant::fromValue(std::numeric_limits<qint64>::min()), qint64(100)},
        {budget, QVariant(700), qint64(700)}, {budget, QStringLiteral("300"), qint64(200)}, {budget, true, qint64(200)},
        {mode, {}, "bottom"}, {mode, QStringLiteral("Left"), "bottom"}, {mode, QStringLiteral("left "), "bottom"},
        {mode, QVariant(1), "bottom"}, {mode, QStringList{QStringLiteral("left")}, "bottom"},
        {language, {}, "system"}, {language, QStringLiteral("zh_Hant"), "system"},
        {language, QStringLiteral("zh-hant"), "system"}, {language, QStringLiteral(" ja"), "system"},
        {language, QVariant(2), "system"},
        {report, {}, true}, {report, QVariant::fromValue<qint64>(1), true}, {check, QVariant::fromValue<qint64>(1), true},
        {report, QVariant::fromValue<qint64>(0), false}, {check, QVariant::fromValue<qint64>(0), false},
        {report, QStringLiteral("false"), false, true}, {check, QStringLiteral("true"), false, true},
        {report, QStringList{QStringLiteral("on")}, false, true}, {check, QStringList{QStringLiteral("on")}, false, true}};
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
        const char* report;
        const char* check;
        bool reportOff;
        bool checkOff;
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

TEST_F(SettingsStoreTest, TheLanguageOverrideFollowsTheLanguageAndIsWrittenAtOnce)
{
    // Corrected at construction, before any window: {stored language, override before, override after}.
    const std::tuple<QVariant, QVariant, std::optional<QStringList>> stored[] = {
        {QVariant(), QStringList{QStringLiteral("ja")}, std::nullopt},
        {QStringLiteral("fr"), QStringList{QStringLiteral("fr")}, std::nullopt},
        {QStringLiteral("zh-Hant"), QVariant(), QStringList{QStringLiteral("zh-Hant")}},
        {QStringLiteral("ko"), QStringList{QStringLiteral("en"), QStringLiteral("ko")},
         QStringList{QStringLiteral("ko")}}};
    for (const auto& [language, before, after] : stored) {
        SCOPED_TRACE(language.toString().toStdString());
        defaults.values.clear();
        if (language.isValid())
            defaults.values.insert(SettingsStore::languageKey, language);
        if (before.isValid())
            defaults.values.insert(SettingsStore::appleLanguagesKey, before);
        makeStore();
        EXPECT_EQ(defaults.stringList(SettingsStore::appleLanguagesKey), after);
    }

    // Switched: the next start's first window reads the override, so the file is written at once, and only for
    // the language.
    defaults.values.clear();
    defaults.synchronizations = 0;
    const auto store = makeStore();
    store->setPanelMode(PanelMode::left);
    store->setMaxStorageMB(300);
    EXPECT_EQ(defaults.synchronizations, 0);
    const std::tuple<AppLanguage, QLocale::Language, QLocale::Script> locales[] = {
        {AppLanguage::zhHans, QLocale::Chinese, QLocale::SimplifiedChineseScript},
        {AppLanguage::zhHant, QLocale::Chinese, QLocale::TraditionalChineseScript},
        {AppLanguage::en, QLocale::English, QLocale::LatinScript},
        {AppLanguage::ja, QLocale::Japanese, QLocale::JapaneseScript},
        {AppLanguage::ko, QLocale::Korean, QLocale::KoreanScript}};
    int synchronizations = 0;
    for (const auto& [language, localeLanguage, script] : locales) {
        SCOPED_TRACE(rawValue(language).toStdString());
        store->setLanguage(language);
        EXPECT_EQ(defaults.synchronizations, ++synchronizations);
        EXPECT_EQ(store->locale().language(), localeLanguage);
        EXPECT_EQ(store->locale().script(), script);
    }
    store->setLanguage(AppLanguage::system);
    EXPECT_FALSE(defaults.values.contains(SettingsStore::appleLanguagesKey));
    EXPECT_EQ(store->locale(), QLocale::system());
}

TEST_F(SettingsStoreTest, LocalizedUsesTheChosenLanguageElseTheMainOne)
{
    const QString key = QStringLiteral("退出 Nimbrel");
    struct Case {
        QString mainLanguage;
        AppLanguage language;
        QString expected;
    };
    const Case cases[] = {{QStringLiteral("zh-Hans"), AppLanguage::en, QStringLiteral("Quit Nimbrel")},
                          {QStringLiteral("en"), AppLanguage::ja, QStringLiteral("Nimbrel を終了")},
                          {QStringLiteral("en"), AppLanguage::ko, QStringLiteral("Nimbrel 종료")},
                          {QStringLiteral("en"), AppLanguage::zhHant, QStringLiteral("結束 Nimbrel")},
                          // The keys are the Simplified Chinese texts: that language shows them as they are.
                          {QStringLiteral("en"), AppLanguage::zhHans, key},
                          {QStringLiteral("ja"), AppLanguage::system, QStringLiteral("Nimbrel を終了")},
                          {QStringLiteral("zh-Hans"), AppLanguage::system, key}};
    for (const Case& c : cases) {
        SCOPED_TRACE(QString(c.mainLanguage + u'/' + rawValue(c.language)).toStdString());
        ASSERT_EQ(translations.selectMainLanguage({c.mainLanguage}), c.mainLanguage);
        const auto store = makeStore();
        store->setLanguage(c.language);
        EXPECT_EQ(store->localized(key), c.expected);
        EXPECT_EQ(store->localized(QStringLiteral("没有这个键")), QStringLiteral("没有这个键"));
    }

    // A chosen language without a table falls back to the main language.
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
