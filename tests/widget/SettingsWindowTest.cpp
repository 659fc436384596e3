#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/ShortcutField.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "support/fake/FakeClickMonitor.h"
#include "support/fake/FakeHotKeys.h"
#include "support/fake/FakeKeyboard.h"
#include "support/fake/FakeClipboardWriter.h"
#include "support/fake/FakePlatform.h"
#include "support/fake/FakeSystemShortcuts.h"
#include "support/fake/FakeUpdate.h"
#include "report/LaunchReporter.h"
#include "settings/AboutView.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWidgets.h"
#include "settings/Translations.h"
#include "shell/AppDelegate.h"
#include "shell/AuxiliaryWindows.h"
#include "support/FakeShell.h"
#include "support/TestEnvironment.h"
#include "update/UpdaterService.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace nimbrel;

namespace {

const QUrl donationURL(QStringLiteral("https://donate.invalid/nimbrel"));

// The platform side of a settings page: fakes, the string tables and an idle update service.
struct Platform {
    Platform()
        : translations(Translations::defaultDirectory()),
          shortcuts(defaults, hotKeys, keyboardLayout, console),
          locations(test::freshDirectory()),
          updater(UpdaterEnvironment{http, systemLog, locations, QString()})
    {
    }

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    Translations translations;
    fake::FakeHotKeyPlatform hotKeys;
    fake::FakeKeyboardLayout keyboardLayout;
    KeyboardShortcuts::Shortcuts shortcuts;
    fake::SystemShortcutList systemShortcuts;
    fake::UnreachableHttpClient http;
    fake::RecordingSystemLog systemLog;
    fake::Locations locations;
    UpdaterService updater;
    fake::FakeWorkspace workspace;
    bool pasteAllowed = true;
    int accessRequests = 0;
    bool trayAvailable = true;
    int quits = 0;
    bool desktopShortcutAllowed = false;
    int desktopShortcutAllowances = 0;
    // What the history holds, and each clearing asked for (whether it took the pinned records).
    HistoryUsage usage;
    QList<bool> clears;
};

// A settings page in its window over the fakes. The stored values are in the defaults before the store
// reads them, as at a real start.
struct Page : Platform {
    // `limits`: what the desktop does not allow; with GNOME's custom shortcut among them the page offers to add it.
    explicit Page(bool pasteAllowedAtStart = true, const QMap<QString, QVariant>& stored = {},
                  AppLanguage language = AppLanguage::zhHans, const QList<Limit>& limits = {})
    {
        pasteAllowed = pasteAllowedAtStart;
        defaults.values = stored;
        defaults.values.insert(SettingsStore::languageKey, rawValue(language));
        settings = std::make_unique<SettingsStore>(defaults, loginItems, console, translations);
        // The recorder's texts come from the same tables, as the application wires them.
        shortcuts.setStrings([this](const QString& key) { return settings->localized(key); });
        SettingsViewServices services{*settings,
                                      updater,
                                      workspace,
                                      KeyboardShortcuts::RecorderEnvironment{shortcuts, systemShortcuts, {}},
                                      [this] { return pasteAllowed; },
                                      [this] { ++accessRequests; },
                                      donationURL,
                                      locations.dataDirectory(),
                                      [this] { return trayAvailable; },
                                      [this] { ++quits; },
                                      limits};
        services.historyUsage = [this] { return usage; };
        services.clearHistory = [this](bool includePinned) { clears.append(includePinned); };
        view = new SettingsView(services, pasteAllowedAtStart);
        window = std::make_unique<SettingsWindow>(view, *settings);
    }

    void show()
    {
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<SettingsWindow> window;
    SettingsView* view = nullptr;
};

// Picks an entry the way the user's choice arrives: the combo box shows it and reports the activation.
void choose(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

int languageIndex(const SettingsView& view, AppLanguage language)
{
    return view.languagePicker()->findData(rawValue(language));
}

bool containsHan(const QString& text)
{
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    return han.match(text).hasMatch();
}

// Every text the page shows or announces, except the language picker's native names.
QStringList pageTexts(const SettingsView& view)
{
    QStringList texts;
    for (const QLabel* label : view.findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts.append(label->text());
    for (const QAbstractButton* button : view.findChildren<QAbstractButton*>()) {
        if (!button->text().isEmpty())
            texts.append(button->text());
        if (!button->toolTip().isEmpty())
            texts.append(button->toolTip());
    }
    for (const QComboBox* combo : view.findChildren<QComboBox*>()) {
        for (int i = 0; i < combo->count(); ++i)
            if (combo != view.languagePicker() || i == languageIndex(view, AppLanguage::system))
                texts.append(combo->itemText(i));
    }
    for (const QWidget* widget : view.findChildren<QWidget*>())
        if (!widget->accessibleName().isEmpty())
            texts.append(widget->accessibleName());
    texts.append(view.shortcutRecorder()->control()->placeholderText());
    return texts;
}

// Sets an environment variable (unsets it for nullptr) while it lives, as a package's launcher would.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : m_name(name), m_saved(qgetenv(name)), m_was(qEnvironmentVariableIsSet(name))
    {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~ScopedVariable()
    {
        if (m_was)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    QByteArray m_saved;
    bool m_was;
};

}  // namespace

TEST(SettingsWindow, StorageSliderStoresWholeHundreds)
{
    Page page;
    page.show();
    QSlider* slider = page.view->storageSlider();
    struct Step {
        const char* name;
        Qt::Key key;
        qint64 stored;
    };
    // From the default 200 MB.
    const Step steps[] = {
        {"to the top end", Qt::Key_End, 1000},    {"one step down", Qt::Key_Left, 900},
        {"to the bottom end", Qt::Key_Home, 100}, {"one step up", Qt::Key_Right, 200},
        {"page up", Qt::Key_PageUp, 300},         {"one more", Qt::Key_Right, 400},
        {"page down", Qt::Key_PageDown, 300},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        QTest::keyClick(slider, step.key);
        EXPECT_EQ(page.settings->maxStorageMB(), step.stored);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::maxStorageMBKey).toLongLong(), step.stored);
        EXPECT_EQ(page.view->storageValue()->text(), QStringLiteral("%1 MB").arg(step.stored));
    }

    // Every position of the slider is a whole number of hundreds within the budget's range.
    QTest::keyClick(slider, Qt::Key_Home);
    QList<qint64> walked{page.settings->maxStorageMB()};
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(slider, Qt::Key_Right);
        if (page.settings->maxStorageMB() != walked.last())
            walked.append(page.settings->maxStorageMB());
    }
    EXPECT_EQ(walked, (QList<qint64>{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}));
}

TEST(SettingsWindow, StorageValueShowsWhatTheStoreHoldsWithoutWritingBack)
{
    struct Case {
        const char* name;
        QVariant stored;
        AppLanguage language;
        QString text;
        int position;
    };
    // The store rounds a budget down to whole hundreds as it reads it, so a stored 250 is never shown.
    const Case cases[] = {
        {"absent", QVariant(), AppLanguage::zhHans, QStringLiteral("200 MB"), 2},
        {"between steps", QVariant(qint64(250)), AppLanguage::zhHans, QStringLiteral("200 MB"), 2},
        {"top", QVariant(qint64(1000)), AppLanguage::en, QStringLiteral("1000 MB"), 10},
        {"bottom", QVariant(qint64(100)), AppLanguage::ja, QStringLiteral("100 MB"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QMap<QString, QVariant> stored;
        if (c.stored.isValid())
            stored.insert(SettingsStore::maxStorageMBKey, c.stored);
        Page page(true, stored, c.language);
        EXPECT_EQ(page.view->storageValue()->text(), c.text);
        EXPECT_EQ(page.view->storageSlider()->value(), c.position);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::maxStorageMBKey), c.stored)
            << "showing a value stores nothing";

        // A change made elsewhere moves the slider and the text, and is stored once, by the store alone.
        const int writes = page.defaults.writes;
        page.settings->setMaxStorageMB(700);
        EXPECT_EQ(page.view->storageSlider()->value(), 7);
        EXPECT_EQ(page.view->storageValue()->text(), QStringLiteral("700 MB"));
        EXPECT_EQ(page.defaults.writes, writes + 1);
    }
}

TEST(SettingsWindow, PlacementPickerAndTilesStayInStep)
{
    struct Case {
        const char* name;
        std::function<void(Page&)> chooseLeft;
    };
    const Case cases[] = {
        {"picker",
         [](Page& page) {
             QComboBox* picker = page.view->panelModePicker();
             picker->setFocus();
             QTest::keyClick(picker, Qt::Key_Down);  // bottom → left, as a keyboard user picks it
         }},
        {"tile", [](Page& page) { QTest::mouseClick(page.view->panelModeTiles().at(1), Qt::LeftButton); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        page.show();
        QComboBox* picker = page.view->panelModePicker();
        const auto& tiles = page.view->panelModeTiles();
        ASSERT_EQ(tiles.size(), 3u);
        ASSERT_EQ(picker->count(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(picker->itemText(i), tiles[i]->text());
            EXPECT_EQ(tiles[i]->mode(), allPanelModes[i]);
        }
        EXPECT_EQ(picker->itemText(1), QStringLiteral("左侧竖排"));
        EXPECT_EQ(picker->currentText(), QStringLiteral("底部"));
        EXPECT_TRUE(tiles[0]->isSelected());

        c.chooseLeft(page);
        EXPECT_EQ(page.settings->panelMode(), PanelMode::left);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::panelModeKey), QVariant(QStringLiteral("left")));
        EXPECT_EQ(picker->currentText(), QStringLiteral("左侧竖排"));
        EXPECT_EQ((std::vector<bool>{tiles[0]->isSelected(), tiles[1]->isSelected(), tiles[2]->isSelected()}),
                  (std::vector<bool>{false, true, false}));

        // Both follow a change made through the store.
        page.settings->setPanelMode(PanelMode::right);
        EXPECT_EQ(picker->currentText(), QStringLiteral("右侧竖排"));
        EXPECT_EQ((std::vector<bool>{tiles[0]->isSelected(), tiles[1]->isSelected(), tiles[2]->isSelected()}),
                  (std::vector<bool>{false, false, true}));
    }
}

TEST(SettingsWindow, LanguagePickerTranslatesOnlyTheSystemEntry)
{
    struct Case {
        AppLanguage language;
        QString followSystem;
    };
    const Case cases[] = {
        {AppLanguage::zhHans, QStringLiteral("跟随系统")},
        {AppLanguage::zhHant, QStringLiteral("跟隨系統")},
        {AppLanguage::en, QStringLiteral("System Default")},
        {AppLanguage::ja, QStringLiteral("システムに従う")},
        {AppLanguage::ko, QStringLiteral("시스템 설정 따르기")},
        // The tests start in the key language, which "system" then follows.
        {AppLanguage::system, QStringLiteral("跟随系统")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.language).toStdString());
        Page page(true, {}, c.language);
        QComboBox* picker = page.view->languagePicker();
        QStringList names;
        for (int i = 0; i < picker->count(); ++i)
            names.append(picker->itemText(i));
        EXPECT_EQ(names, (QStringList{c.followSystem, QStringLiteral("简体中文"), QStringLiteral("繁體中文"),
                                      QStringLiteral("English"), QStringLiteral("日本語"), QStringLiteral("한국어")}));
        EXPECT_EQ(picker->currentIndex(), languageIndex(*page.view, c.language));
    }
}

TEST(SettingsWindow, PickingALanguageTranslatesTheWholePageAtOnce)
{
    Page page;
    page.pasteAllowed = false;  // the warning card's texts are part of the page too
    page.show();
    const QStringList keys = pageTexts(*page.view);
    ASSERT_TRUE(keys.contains(QStringLiteral("Nimbrel 设置")));
    ASSERT_TRUE(keys.contains(QStringLiteral("了解详情")));
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel 设置"));

    choose(page.view->languagePicker(), languageIndex(*page.view, AppLanguage::en));
    EXPECT_EQ(page.settings->language(), AppLanguage::en);
    EXPECT_EQ(page.defaults.values.value(SettingsStore::languageKey), QVariant(QStringLiteral("en")));
    // No turn of the event loop in between: the page is English at once.
    const QStringList english = pageTexts(*page.view);
    EXPECT_EQ(english.size(), keys.size());
    for (const QString& text : english)
        EXPECT_FALSE(containsHan(text)) << text.toStdString();
    for (const char* expected : {"Nimbrel Settings", "Launch at Login", "Language", "Changes take effect immediately.",
                                 "Panel Shortcut", "Panel Position", "Left Side", "Maximum Storage", "Support Nimbrel",
                                 "Automatic Paste Unavailable", "Learn More", "Restart to Update", "System Default",
                                 "200 MB", "Buy me a coffee", "Quit Nimbrel", "This desktop has no system tray"})
        EXPECT_TRUE(english.contains(QString::fromUtf8(expected))) << expected;
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel Settings"));
    EXPECT_EQ(page.window->aboutAction()->text(), QStringLiteral("About Nimbrel"));
    EXPECT_EQ(page.window->contactAction()->text(), QStringLiteral("Contact the Developer"));
    EXPECT_EQ(page.view->languagePicker()->currentText(), QStringLiteral("English"));

    // Back to the key language: every text is its key again.
    choose(page.view->languagePicker(), languageIndex(*page.view, AppLanguage::zhHans));
    EXPECT_EQ(pageTexts(*page.view), keys);
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel 设置"));
    EXPECT_EQ(page.window->aboutAction()->text(), QStringLiteral("关于 Nimbrel"));
    // The page's own deferred title update must not bring an old language back.
    QTest::qWait(20);
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel 设置"));
}

TEST(SettingsWindow, ThePageKeepsTheTitleOfAnyWindowItSitsInCurrent)
{
    Platform platform;
    platform.defaults.values.insert(SettingsStore::languageKey, QStringLiteral("zh-Hans"));
    SettingsStore settings(platform.defaults, platform.loginItems, platform.console, platform.translations);
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* view = new SettingsView(
        SettingsViewServices{settings, platform.updater, platform.workspace,
                             KeyboardShortcuts::RecorderEnvironment{platform.shortcuts, platform.systemShortcuts, {}},
                             [] { return true; }, [] {}, donationURL},
        true);
    layout->addWidget(view);
    host.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.windowTitle() == QStringLiteral("Nimbrel 设置"); }, 1000));

    struct Case {
        AppLanguage language;
        QString title;
    };
    const Case cases[] = {
        {AppLanguage::en, QStringLiteral("Nimbrel Settings")},
        {AppLanguage::ko, QStringLiteral("Nimbrel 설정")},
        {AppLanguage::zhHans, QStringLiteral("Nimbrel 设置")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.language).toStdString());
        choose(view->languagePicker(), languageIndex(*view, c.language));
        EXPECT_TRUE(QTest::qWaitFor([&] { return host.windowTitle() == c.title; }, 1000))
            << host.windowTitle().toStdString();
    }
}

TEST(SettingsWindow, LaunchAtLoginSwitchShowsWhatTheSystemDid)
{
    struct Case {
        const char* name;
        LoginItemStatus before;
        LoginItemStatus afterRegister;
        std::optional<QString> registerError;
        bool shown;
        QStringList lines;
    };
    const Case cases[] = {
        {"registered", LoginItemStatus::notRegistered, LoginItemStatus::enabled, std::nullopt, true, {}},
        {"refused",
         LoginItemStatus::notRegistered,
         LoginItemStatus::enabled,
         QStringLiteral("not allowed"),
         false,
         {QStringLiteral("[Nimbrel] LaunchAtLogin error: not allowed")}},
        {"awaiting approval",
         LoginItemStatus::notRegistered,
         LoginItemStatus::requiresApproval,
         std::nullopt,
         false,
         {}},
        {"approval pending before",
         LoginItemStatus::requiresApproval,
         LoginItemStatus::enabled,
         std::nullopt,
         false,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        page.loginItems.currentStatus = c.before;
        page.loginItems.statusAfterRegister = c.afterRegister;
        page.loginItems.registerError = c.registerError;
        page.show();
        ToggleSwitch* toggle = page.view->launchAtLoginSwitch();
        ASSERT_FALSE(toggle->isChecked());
        QTest::mouseClick(toggle, Qt::LeftButton);
        EXPECT_EQ(toggle->isChecked(), c.shown);
        EXPECT_EQ(page.settings->launchAtLogin(), c.shown);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(c.shown));
        EXPECT_EQ(page.console.lines, c.lines);
    }

    // Turning it off again unregisters, and a state adopted from the system shows on the switch.
    Page page;
    page.show();
    ToggleSwitch* toggle = page.view->launchAtLoginSwitch();
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(page.loginItems.unregistrations, 1);
    EXPECT_EQ(page.defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(false));
    page.settings->adoptLoginItemStatus(true);
    EXPECT_TRUE(toggle->isChecked());
}

TEST(SettingsWindow, NetworkSwitchesShowAndWriteTheSettings)
{
    const ScopedVariable noReport("NIMBREL_NO_LAUNCH_REPORT", nullptr);
    const ScopedVariable noCheck("NIMBREL_NO_UPDATE_CHECK", nullptr);
    const QString pending =
        QStringLiteral("首次启动时发送一次：随机安装标识、系统语言和内核版本。启动时若已关闭，则永不发送。");
    const QString checkCaption =
        QStringLiteral("启动时及每 6 小时向更新服务器查询最新版本，不附带任何标识。关闭后立即停止查询。");

    // Both on by default; a click writes the setting and the switch follows it.
    {
        Page page;
        page.show();
        ToggleSwitch* report = page.view->launchReportSwitch();
        ToggleSwitch* check = page.view->updateCheckSwitch();
        EXPECT_TRUE(report->isChecked());
        EXPECT_TRUE(report->isEnabled());
        EXPECT_EQ(page.view->launchReportCaption()->text(), pending);
        EXPECT_TRUE(check->isChecked());
        EXPECT_TRUE(check->isEnabled());
        EXPECT_EQ(page.view->updateCheckCaption()->text(), checkCaption);
        EXPECT_EQ(report->accessibleName(), QStringLiteral("发送首次启动报告"));
        EXPECT_EQ(check->accessibleName(), QStringLiteral("自动检查更新"));

        QTest::mouseClick(report, Qt::LeftButton);
        EXPECT_FALSE(report->isChecked());
        EXPECT_FALSE(page.settings->sendsLaunchReport());
        EXPECT_EQ(page.defaults.values.value(SettingsStore::sendLaunchReportKey), QVariant(false));
        EXPECT_TRUE(report->isEnabled())
            << "off within a session, it can still be turned back on before the next start";

        QTest::mouseClick(check, Qt::LeftButton);
        EXPECT_FALSE(check->isChecked());
        EXPECT_FALSE(page.settings->checksForUpdates());
        EXPECT_EQ(page.defaults.values.value(SettingsStore::checkForUpdatesKey), QVariant(false));
        QTest::mouseClick(check, Qt::LeftButton);
        EXPECT_TRUE(check->isChecked());
        EXPECT_EQ(page.defaults.values.value(SettingsStore::checkForUpdatesKey), QVariant(true));

        // A change made elsewhere shows on the switch.
        page.settings->setSendsLaunchReport(true);
        EXPECT_TRUE(report->isChecked());
    }

    // Where the report stands decides what its card shows, also when it changes while the page is open.
    struct Case {
        const char* name;
        QMap<QString, QVariant> stored;
        bool reportShown;
        bool reportEnabled;
        QString caption;
        bool checkShown;
    };
    const Case cases[] = {
        {"switched off before this start",
         {{SettingsStore::sendLaunchReportKey, false}, {SettingsStore::checkForUpdatesKey, false}},
         false,
         true,
         pending,
         false},
        {"sent",
         {{LaunchReporter::didReportLaunchKey, true}},
         true,
         false,
         QStringLiteral("已在首次启动时发送一次，此后不再发送任何内容。"),
         true},
        {"declined",
         {{LaunchReporter::didDeclineLaunchReportKey, true}, {SettingsStore::sendLaunchReportKey, true}},
         false,
         false,
         QStringLiteral("已拒绝：启动报告永不发送。"),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool whileOpen : {false, true}) {
            SCOPED_TRACE(whileOpen ? "while open" : "at opening");
            Page page(true, whileOpen ? QMap<QString, QVariant>{} : c.stored);
            page.show();
            if (whileOpen) {
                for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
                    page.defaults.values.insert(it.key(), it.value());
                if (c.stored.contains(SettingsStore::sendLaunchReportKey))
                    page.settings->setSendsLaunchReport(c.stored.value(SettingsStore::sendLaunchReportKey).toBool());
                if (c.stored.contains(SettingsStore::checkForUpdatesKey))
                    page.settings->setChecksForUpdates(c.stored.value(SettingsStore::checkForUpdatesKey).toBool());
                Q_EMIT page.settings->launchReportStatusChanged();
            }
            ToggleSwitch* report = page.view->launchReportSwitch();
            EXPECT_EQ(report->isChecked(), c.reportShown);
            EXPECT_EQ(report->isEnabled(), c.reportEnabled);
            EXPECT_EQ(page.view->launchReportCaption()->text(), c.caption);
            EXPECT_EQ(page.view->updateCheckSwitch()->isChecked(), c.checkShown);
            EXPECT_TRUE(page.view->updateCheckSwitch()->isEnabled());
            // A settled report's switch takes no clicks.
            const int writes = page.defaults.writes;
            QTest::mouseClick(report, Qt::LeftButton);
            EXPECT_EQ(report->isChecked(), c.reportEnabled ? !c.reportShown : c.reportShown);
            EXPECT_EQ(page.defaults.writes - writes, c.reportEnabled ? 1 : 0);
        }
    }
}

TEST(SettingsWindow, WhatThePackageTurnedOffShowsOffAndCannotBeTurnedOn)
{
    const ScopedVariable noReport("NIMBREL_NO_LAUNCH_REPORT", "1");
    const ScopedVariable noCheck("NIMBREL_NO_UPDATE_CHECK", "1");
    struct Case {
        AppLanguage language;
        QString reportCaption;
        QString checkCaption;
    };
    const Case cases[] = {
        {AppLanguage::zhHans, QStringLiteral("此项已被软件包关闭（NIMBREL_NO_LAUNCH_REPORT）。"),
         QStringLiteral("此项已被软件包关闭（NIMBREL_NO_UPDATE_CHECK）。")},
        {AppLanguage::en, QStringLiteral("Turned off by the package (NIMBREL_NO_LAUNCH_REPORT)."),
         QStringLiteral("Turned off by the package (NIMBREL_NO_UPDATE_CHECK).")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.language).toStdString());
        // The user's settings say yes; the package's word is what shows. A report sent before changes nothing.
        Page page(true,
                  {{SettingsStore::sendLaunchReportKey, true},
                   {SettingsStore::checkForUpdatesKey, true},
                   {LaunchReporter::didReportLaunchKey, true}},
                  c.language);
        page.show();
        EXPECT_TRUE(page.console.lines.contains(
            QStringLiteral("[Nimbrel] NIMBREL_NO_UPDATE_CHECK is set: no update check is made")));
        for (ToggleSwitch* toggle : {page.view->launchReportSwitch(), page.view->updateCheckSwitch()}) {
            EXPECT_FALSE(toggle->isChecked());
            EXPECT_FALSE(toggle->isEnabled());
            QTest::mouseClick(toggle, Qt::LeftButton);
            EXPECT_FALSE(toggle->isChecked());
        }
        EXPECT_EQ(page.view->launchReportCaption()->text(), c.reportCaption);
        EXPECT_EQ(page.view->updateCheckCaption()->text(), c.checkCaption);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::sendLaunchReportKey), QVariant(true));
        EXPECT_EQ(page.defaults.values.value(SettingsStore::checkForUpdatesKey), QVariant(true));
        EXPECT_FALSE(page.settings->updateCheckAllowed());
        EXPECT_FALSE(page.settings->launchReportAllowed());
    }
}

TEST(SettingsWindow, AccessibilityCardShowsOnlyWhilePasteIsNotAllowed)
{
    {
        Page page(true);
        page.show();
        EXPECT_TRUE(page.view->accessibilityCard()->isHidden());
    }

    Page page(false);
    page.show();
    QWidget* card = page.view->accessibilityCard();
    ASSERT_FALSE(card->isHidden());
    // It is the first card of the page.
    EXPECT_LT(card->mapTo(page.view, QPoint(0, 0)).y(),
              page.view->launchAtLoginSwitch()->mapTo(page.view, QPoint(0, 0)).y());

    // Its button asks for access.
    auto* button = card->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("了解详情"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(page.accessRequests, 1);
    QTest::qWait(1200);
    EXPECT_FALSE(card->isHidden()) << "still not allowed";

    // Granted elsewhere: the card goes within about a second, the window staying open.
    page.pasteAllowed = true;
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return card->isHidden(); }, 2000));
    EXPECT_LE(elapsed.elapsed(), 1500);
    EXPECT_TRUE(page.window->isVisible());
    EXPECT_TRUE(page.view->accessibilityTrusted());

    // Revoked: the page learns it at the next activation, not from the timer.
    page.pasteAllowed = false;
    QTest::qWait(1200);
    EXPECT_TRUE(card->isHidden());
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(card->isHidden());

    // Or when the window is opened again.
    page.pasteAllowed = true;
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    ASSERT_TRUE(card->isHidden());
    page.window->close();
    page.pasteAllowed = false;
    page.show();
    EXPECT_FALSE(card->isHidden());
}

TEST(SettingsWindow, DesktopSupportCardListsTheLimitsAndAsksBeforeAddingAGnomeShortcut)
{
    {
        Page page;
        page.show();
        EXPECT_EQ(page.view->findChild<QWidget*>(QStringLiteral("desktopSupportCard")), nullptr)
            << "a desktop that allows everything shows no card";
    }
    Page page(true, {}, AppLanguage::en);
    QPushButton* allow = nullptr;
    {
        // The consent is the shell's to give and keep: the page asks for it and shows it.
        SettingsViewServices services{
            *page.settings,      page.updater,
            page.workspace,      KeyboardShortcuts::RecorderEnvironment{page.shortcuts, page.systemShortcuts, {}},
            [] { return true; }, [] {},
            donationURL};
        services.desktopLimits = {Limit::noSourceApp, Limit::noPaste, Limit::shortcutIsGnomeBinding};
        services.isDesktopShortcutAllowed = [&page] { return page.desktopShortcutAllowed; };
        services.allowDesktopShortcut = [&page] {
            ++page.desktopShortcutAllowances;
            page.desktopShortcutAllowed = true;
        };
        auto* view = new SettingsView(services, true);
        page.window = std::make_unique<SettingsWindow>(view, *page.settings);
        page.view = view;
        page.show();
        allow = view->allowDesktopShortcutButton();
    }
    QWidget* card = page.view->findChild<QWidget*>(QStringLiteral("desktopSupportCard"));
    ASSERT_NE(card, nullptr);
    QStringList texts;
    for (const QLabel* label : card->findChildren<QLabel*>())
        if (label->isVisibleTo(card) && !label->text().isEmpty())
            texts.append(label->text());
    EXPECT_TRUE(texts.contains(QStringLiteral("Desktop Support")));
    EXPECT_TRUE(texts.contains(
        QStringLiteral("This desktop does not tell which application is in front: records show no source application, "
                       "and excluded applications cannot be recognised (pause recording instead).")));
    EXPECT_FALSE(texts.join(u' ').contains(QLatin1String("press Ctrl+V"))) << "the paste card says that already";

    ASSERT_NE(allow, nullptr);
    EXPECT_TRUE(allow->isVisibleTo(page.view));
    EXPECT_EQ(allow->text(), QStringLiteral("Add GNOME Shortcut"));
    EXPECT_EQ(page.desktopShortcutAllowances, 0) << "nothing is changed before the user says so";
    QTest::mouseClick(allow, Qt::LeftButton);
    EXPECT_EQ(page.desktopShortcutAllowances, 1);
    EXPECT_FALSE(allow->isVisibleTo(page.view));
    bool added = false;
    for (const QLabel* label : card->findChildren<QLabel*>())
        added = added ||
                (label->isVisibleTo(card) && label->text() == QStringLiteral("Added to GNOME's keyboard settings."));
    EXPECT_TRUE(added);
}

TEST(SettingsWindow, SupportButtonOpensTheDonationPage)
{
    Page page;
    page.show();
    EXPECT_EQ(page.view->supportButton()->accessibleName(), QStringLiteral("请我喝杯咖啡"));
    QTest::mouseClick(page.view->supportButton(), Qt::LeftButton);
    EXPECT_EQ(page.workspace.openedURLs, QList<QUrl>{donationURL});
    EXPECT_EQ(page.accessRequests, 0);
}

namespace {

RunningApplication application(const QString& id, std::optional<QString> name, const QString& windowClass)
{
    RunningApplication running;
    running.applicationId = id;
    running.localizedName = std::move(name);
    running.windowClass = windowClass;
    return running;
}

QIcon squareIcon(const QColor& color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// An excluded entry as its row shows it.
struct Row {
    QString name;
    QString entry;  // shown beside a name found for it; empty when the name is the entry itself
    bool icon = false;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << "{" << row.name.toStdString() << ", " << row.entry.toStdString() << ", " << (row.icon ? "icon" : "-")
         << "}";
}

QList<QWidget*> excludedRows(const SettingsView& view)
{
    return view.excludedApplicationsCard()->findChildren<QWidget*>(QStringLiteral("excludedApplication"));
}

std::vector<Row> shownRows(const SettingsView& view)
{
    std::vector<Row> rows;
    for (QWidget* widget : excludedRows(view)) {
        Row row;
        row.name = widget->findChild<QLabel*>(QStringLiteral("name"))->text();
        if (const auto* entry = widget->findChild<QLabel*>(QStringLiteral("entry")))
            row.entry = entry->text();
        const QLabel* icon = widget->findChild<QLabel*>(QStringLiteral("icon"));
        row.icon = !icon->pixmap().isNull();
        rows.push_back(row);
    }
    return rows;
}

// The menu's entries as it opens: the offered applications' names, "-" for the separator.
QStringList offered(const SettingsView& view)
{
    QMenu* menu = view.addExcludedMenu();
    Q_EMIT menu->aboutToShow();
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts.append(action->isSeparator()
                         ? QStringLiteral("-")
                         : action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)")));
    return texts;
}

QAction* menuEntry(const SettingsView& view, const QString& text)
{
    QMenu* menu = view.addExcludedMenu();
    Q_EMIT menu->aboutToShow();
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// Types an entry into the dialog the menu's last entry opens; accepted unless `cancel`.
void typeEntry(SettingsView& view, const QString& typed, bool cancel = false)
{
    QMenu* menu = view.addExcludedMenu();
    Q_EMIT menu->aboutToShow();
    menu->actions().constLast()->trigger();
    QPointer<QInputDialog> dialog = view.findChild<QInputDialog*>(QStringLiteral("excludedEntryDialog"));
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal()) << "it waits for an answer without stopping the page";
    dialog->setTextValue(typed);
    if (cancel)
        dialog->reject();
    else
        dialog->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 2000)) << "the dialog goes once answered";
}

}  // namespace

TEST(SettingsWindow, ExcludedApplicationsCardAddsRemovesAndFollowsTheSetting)
{
    Page page(true, {{SettingsStore::excludedApplicationsKey, QStringList{QStringLiteral("org.example.Viewer")}}},
              AppLanguage::en);
    // Running: an installed editor, a mail program, and a terminal no desktop entry names. Installed too: a
    // viewer that does not run.
    page.workspace.running = {
        application(QStringLiteral("org.example.Mail"), QStringLiteral("Mail"), QStringLiteral("Mail")),
        application(QStringLiteral("org.example.Editor"), QStringLiteral("Example Editor"),
                    QStringLiteral("ExampleEditor")),
        application(QStringLiteral("XTerm"), std::nullopt, QStringLiteral("XTerm")),
    };
    page.workspace.installedApplications = {{QStringLiteral("org.example.Editor"), squareIcon(Qt::red)},
                                            {QStringLiteral("org.example.Viewer"), squareIcon(Qt::blue)}};
    page.workspace.applicationNames = {{QStringLiteral("org.example.Editor"), QStringLiteral("Example Editor")},
                                       {QStringLiteral("org.example.Viewer"), QStringLiteral("Viewer")}};
    page.show();
    const QString typeOne = QStringLiteral("Enter a Desktop ID or Window Class…");
    const Row viewer{QStringLiteral("Viewer"), QStringLiteral("org.example.Viewer"), true};
    const Row mail{QStringLiteral("Mail"), QStringLiteral("org.example.Mail"), false};
    const Row editorByClass{QStringLiteral("Example Editor"), QStringLiteral("ExampleEditor"), true};
    const Row unknown{QStringLiteral("unknown.App"), QString(), false};
    const Row terminal{QStringLiteral("XTerm"), QString(), false};

    struct Step {
        const char* name;
        std::function<void(Page&)> act;
        QStringList stored;
        std::vector<Row> rows;
        QStringList menu;
    };
    const Step steps[] = {
        {"as stored",
         [](Page&) {},
         {QStringLiteral("org.example.Viewer")},
         {viewer},
         {QStringLiteral("Example Editor"), QStringLiteral("Mail"), QStringLiteral("XTerm"), QStringLiteral("-"),
          typeOne}},
        {"a running application picked",
         [](Page& page) {
             QAction* mailEntry = menuEntry(*page.view, QStringLiteral("Mail"));
             ASSERT_NE(mailEntry, nullptr);
             mailEntry->trigger();
         },
         {QStringLiteral("org.example.Viewer"), QStringLiteral("org.example.Mail")},
         {viewer, mail},
         {QStringLiteral("Example Editor"), QStringLiteral("XTerm"), QStringLiteral("-"), typeOne}},
        {"a window class typed, blanks around it",
         [](Page& page) { typeEntry(*page.view, QStringLiteral("  ExampleEditor ")); },
         {QStringLiteral("org.example.Viewer"), QStringLiteral("org.example.Mail"), QStringLiteral("ExampleEditor")},
         {viewer, mail, editorByClass},
         {QStringLiteral("XTerm"), QStringLiteral("-"), typeOne}},
        {"an identifier nothing knows typed",
         [](Page& page) { typeEntry(*page.view, QStringLiteral("unknown.App")); },
         {QStringLiteral("org.example.Viewer"), QStringLiteral("org.example.Mail"), QStringLiteral("ExampleEditor"),
          QStringLiteral("unknown.App")},
         {viewer, mail, editorByClass, unknown},
         {QStringLiteral("XTerm"), QStringLiteral("-"), typeOne}},
        {"blanks typed, and a typing cancelled",
         [](Page& page) {
             typeEntry(*page.view, QStringLiteral("   "));
             typeEntry(*page.view, QStringLiteral("Cancelled"), true);
         },
         {QStringLiteral("org.example.Viewer"), QStringLiteral("org.example.Mail"), QStringLiteral("ExampleEditor"),
          QStringLiteral("unknown.App")},
         {viewer, mail, editorByClass, unknown},
         {QStringLiteral("XTerm"), QStringLiteral("-"), typeOne}},
        {"one removed",
         [](Page& page) {
             const QList<QWidget*> rows = excludedRows(*page.view);
             ASSERT_GE(rows.size(), 2);
             auto* remove = rows[1]->findChild<QToolButton*>(QStringLiteral("removeExcluded"));
             ASSERT_NE(remove, nullptr);
             EXPECT_EQ(remove->accessibleName(), QStringLiteral("Remove Mail"));
             QTest::mouseClick(remove, Qt::LeftButton);
         },
         {QStringLiteral("org.example.Viewer"), QStringLiteral("ExampleEditor"), QStringLiteral("unknown.App")},
         {viewer, editorByClass, unknown},
         {QStringLiteral("Mail"), QStringLiteral("XTerm"), QStringLiteral("-"), typeOne}},
        {"changed elsewhere",
         [](Page& page) {
             page.settings->setExcludedApplications({QStringLiteral("XTerm"), QStringLiteral("org.example.Mail")});
         },
         {QStringLiteral("XTerm"), QStringLiteral("org.example.Mail")},
         {terminal, mail},
         {QStringLiteral("Example Editor"), QStringLiteral("-"), typeOne}},
        {"every running application excluded",
         [](Page& page) {
             QAction* editorEntry = menuEntry(*page.view, QStringLiteral("Example Editor"));
             ASSERT_NE(editorEntry, nullptr);
             editorEntry->trigger();
         },
         {QStringLiteral("XTerm"), QStringLiteral("org.example.Mail"), QStringLiteral("org.example.Editor")},
         {terminal, mail, Row{QStringLiteral("Example Editor"), QStringLiteral("org.example.Editor"), true}},
         {QStringLiteral("No Other Applications Running (off)"), QStringLiteral("-"), typeOne}},
        {"none left",
         [](Page& page) { page.settings->setExcludedApplications({}); },
         {},
         {},
         {QStringLiteral("Example Editor"), QStringLiteral("Mail"), QStringLiteral("XTerm"), QStringLiteral("-"),
          typeOne}},
    };
    QLabel* none = nullptr;
    for (QLabel* label : page.view->excludedApplicationsCard()->findChildren<QLabel*>())
        if (label->text() == QStringLiteral("No applications are excluded."))
            none = label;
    ASSERT_NE(none, nullptr);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(page);
        EXPECT_EQ(page.settings->excludedApplications(), step.stored);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::excludedApplicationsKey).toStringList(), step.stored);
        EXPECT_EQ(shownRows(*page.view), step.rows);
        EXPECT_EQ(none->isVisibleTo(page.view), step.stored.isEmpty());
        EXPECT_EQ(offered(*page.view), step.menu);
    }
}

namespace {

// What the clearing dialog showed, and how it was answered.
struct ClearAnswer {
    enum class Button { clear, cancel, escape };
    Button button = Button::clear;
    bool tick = false;

    bool seen = false;
    QString title;
    QString text;
    QString informative;
    std::optional<QString> pinnedBox;
    bool pinnedBoxTicked = false;
};

// Clicks the page's clearing button and answers the dialog it opens from inside its own loop.
void clearThrough(Page& page, ClearAnswer& answer)
{
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->objectName() != QStringLiteral("clearHistoryDialog"))
            return;
        poll.stop();
        answer.seen = true;
        answer.title = box->windowTitle();
        answer.text = box->text();
        answer.informative = box->informativeText();
        if (QCheckBox* pinned = box->checkBox()) {
            answer.pinnedBox = pinned->text();
            answer.pinnedBoxTicked = pinned->isChecked();
            pinned->setChecked(answer.tick);
        }
        switch (answer.button) {
            case ClearAnswer::Button::clear:
                box->findChild<QPushButton*>(QStringLiteral("clear"))->click();
                break;
            case ClearAnswer::Button::cancel:
                box->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
                break;
            case ClearAnswer::Button::escape:
                QTest::keyClick(box, Qt::Key_Escape);
                break;
        }
    });
    poll.start();
    QTest::mouseClick(page.view->clearHistoryButton(), Qt::LeftButton);
}

}  // namespace

TEST(SettingsWindow, ClearingAsksWithTheCountsAndPassesThePinnedChoice)
{
    constexpr qint64 mb = 1'048'576;
    using Button = ClearAnswer::Button;
    struct Case {
        const char* name;
        AppLanguage language;
        HistoryUsage usage;
        Button button;
        bool tick;
        QString informative;
        std::optional<QString> pinnedBox;
        QList<bool> clears;
    };
    const Case cases[] = {
        {"nothing pinned",
         AppLanguage::en,
         {12, 7 * mb / 2, 0, 0},
         Button::clear,
         false,
         QStringLiteral("The history holds 12 records, taking 3.5 MB.\nThis cannot be undone."),
         std::nullopt,
         {false}},
        {"pinned kept",
         AppLanguage::en,
         {1234, 5 * mb, 3, 6 * mb / 5},
         Button::clear,
         false,
         QStringLiteral("The history holds 1,234 records, taking 5.0 MB.\nThis cannot be undone."),
         QStringLiteral("Also delete the 3 pinned records (1.2 MB)"),
         {false}},
        {"pinned too",
         AppLanguage::en,
         {1234, 5 * mb, 3, 6 * mb / 5},
         Button::clear,
         true,
         QStringLiteral("The history holds 1,234 records, taking 5.0 MB.\nThis cannot be undone."),
         QStringLiteral("Also delete the 3 pinned records (1.2 MB)"),
         {true}},
        {"one record, pinned",
         AppLanguage::en,
         {1, 2 * mb, 1, 2 * mb},
         Button::clear,
         true,
         QStringLiteral("The history holds 1 record, taking 2.0 MB.\nThis cannot be undone."),
         QStringLiteral("Also delete the 1 pinned record (2.0 MB)"),
         {true}},
        {"cancelled with the box ticked",
         AppLanguage::en,
         {12, mb, 2, mb / 2},
         Button::cancel,
         true,
         QStringLiteral("The history holds 12 records, taking 1.0 MB.\nThis cannot be undone."),
         QStringLiteral("Also delete the 2 pinned records (512.0 kB)"),
         {}},
        {"escaped",
         AppLanguage::en,
         {12, mb, 0, 0},
         Button::escape,
         false,
         QStringLiteral("The history holds 12 records, taking 1.0 MB.\nThis cannot be undone."),
         std::nullopt,
         {}},
        {"in the key language",
         AppLanguage::zhHans,
         {12, 7 * mb / 2, 3, 6 * mb / 5},
         Button::clear,
         false,
         QStringLiteral("历史中有 12 条记录，占用 3.5 MB。\n此操作无法撤销。"),
         QStringLiteral("同时删除 3 条置顶记录（1.2 MB）"),
         {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page(true, {}, c.language);
        page.usage = c.usage;
        page.show();
        ASSERT_TRUE(page.view->clearHistoryButton()->isEnabled());
        ClearAnswer answer;
        answer.button = c.button;
        answer.tick = c.tick;
        clearThrough(page, answer);
        ASSERT_TRUE(answer.seen);
        EXPECT_EQ(answer.informative.toStdString(), c.informative.toStdString());
        EXPECT_EQ(answer.pinnedBox.value_or(QStringLiteral("(none)")).toStdString(),
                  c.pinnedBox.value_or(QStringLiteral("(none)")).toStdString());
        EXPECT_FALSE(answer.pinnedBoxTicked) << "pinned records are kept unless the user says otherwise";
        EXPECT_EQ(page.clears, c.clears);
        if (c.language == AppLanguage::en) {
            EXPECT_EQ(answer.title, QStringLiteral("Clear History"));
            EXPECT_EQ(answer.text, QStringLiteral("Clear the clipboard history?"));
        }
    }

    // An empty history has nothing to clear: the button says so and asks nothing.
    Page page(true, {}, AppLanguage::en);
    page.show();
    QPushButton* button = page.view->clearHistoryButton();
    EXPECT_EQ(button->text(), QStringLiteral("Clear History…"));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->toolTip(), QStringLiteral("The history is empty."));
    // Records arriving while the page shows bring it back.
    page.usage = {3, 1000, 0, 0};
    page.view->historyChanged();
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(button->toolTip().isEmpty());
}

TEST(SettingsWindow, BudgetNoteShowsWhilePinnedRecordsAlonePassTheBudget)
{
    constexpr qint64 mb = 1'048'576;
    Page page(true, {}, AppLanguage::en);
    page.usage = {500, 150 * mb, 40, 150 * mb};
    page.show();
    QLabel* note = page.view->budgetNote();
    QSignalSpy heights(page.view, &SettingsView::naturalHeightChanged);
    const QString over = QStringLiteral(
        "Pinned records take %1, more than the maximum storage of %2. Pinned records "
        "are all kept, so no other records are kept.");
    struct Step {
        const char* name;
        std::function<void(Page&)> act;
        std::optional<QString> shown;
    };
    const Step steps[] = {
        {"within the budget", [](Page&) {}, std::nullopt},
        {"exactly the budget",
         [](Page& page) {
             page.usage.pinnedBytes = 200 * mb;
             page.view->historyChanged();
         },
         std::nullopt},
        {"a byte over",
         [](Page& page) {
             page.usage.pinnedBytes = 200 * mb + 1;
             page.view->historyChanged();
         },
         over.arg(QStringLiteral("200.0 MB"), QStringLiteral("200 MB"))},
        {"more pinned",
         [](Page& page) {
             page.usage.pinnedBytes = 250 * mb;
             page.view->historyChanged();
         },
         over.arg(QStringLiteral("250.0 MB"), QStringLiteral("200 MB"))},
        {"a larger budget", [](Page& page) { page.settings->setMaxStorageMB(300); }, std::nullopt},
        {"a smaller budget", [](Page& page) { page.settings->setMaxStorageMB(100); },
         over.arg(QStringLiteral("250.0 MB"), QStringLiteral("100 MB"))},
        {"in another language", [](Page& page) { page.settings->setLanguage(AppLanguage::zhHans); },
         QStringLiteral(
             "置顶记录占用 250.0 MB，已超过最大占用空间 100 MB。置顶记录会全部保留，因此其他记录都不会保留。")},
        {"unpinned while the window was away, shown again",
         [](Page& page) {
             page.window->close();
             page.usage.pinnedBytes = 0;
             page.show();
         },
         std::nullopt},
    };
    int flips = 0;
    bool wasShown = false;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(page);
        EXPECT_EQ(note->isVisibleTo(page.view), step.shown.has_value());
        if (step.shown)
            EXPECT_EQ(note->text(), *step.shown);
        flips += step.shown.has_value() != wasShown ? 1 : 0;
        wasShown = step.shown.has_value();
        EXPECT_GE(heights.count(), flips) << "the window takes the new height";
    }
}

TEST(SettingsWindow, RestartButtonOpensAtFullOpacity)
{
    // A window opened while an update is staged shows the button at once, without its fade.
    Page page;
    QPushButton* restart = page.view->restartButton();
    restart->setVisible(true);
    page.show();
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(restart->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 1.0);
}

// Runs on several screens and scalings (tests/widget/CMakeLists.txt): the window is never taller than the
// screen, every card can be scrolled into full view, no text is cut, and where the screen has room there is
// nothing to scroll. Every card shows, in the languages with the longest texts.
TEST(SettingsWindowFits, EveryCardReachableAndNoTextCut)
{
    for (const AppLanguage language : {AppLanguage::zhHans, AppLanguage::en, AppLanguage::ja}) {
        SCOPED_TRACE(rawValue(language).toStdString());
        // Every card at once, the desktop's limits included, with excluded applications and the note on the
        // budget.
        Page page(false,
                  {{SettingsStore::excludedApplicationsKey,
                    QStringList{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("XTerm")}}},
                  language,
                  {Limit::noCapture, Limit::noSourceApp, Limit::noPaste, Limit::pasteAsksPermission,
                   Limit::shortcutIsGnomeBinding, Limit::panelIsOrdinaryWindow});
        page.workspace.applicationNames = {{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor")}};
        page.usage = {900, 300 * 1'048'576LL, 800, 250 * 1'048'576LL};
        page.trayAvailable = false;
        page.show();
        ASSERT_EQ(excludedRows(*page.view).size(), 2);
        ASSERT_TRUE(page.view->budgetNote()->isVisibleTo(page.view));
        SettingsWindow& window = *page.window;
        QScrollArea* scroll = page.view->scrollArea();
        ASSERT_FALSE(page.view->noTrayCard()->isHidden());
        ASSERT_FALSE(page.view->accessibilityCard()->isHidden());
        const int menu = window.menuWidget()->sizeHint().height();
        const int natural = page.view->naturalHeight(SettingsWindow::contentWidth) + menu;
        // The cards that came with the showing are taken in by a queued refit.
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.maximumHeight() == natural; }, 2000));
        QCoreApplication::processEvents();

        const QRect room = window.screen()->availableGeometry();
        const int titleBar = window.frameGeometry().height() - window.height();
        const bool hasRoom = natural + titleBar <= room.height();
        EXPECT_LE(window.width(), room.width());
        if (hasRoom) {
            EXPECT_EQ(window.height(), natural);
            EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0) << "nothing to scroll where there is room";
        } else {
            EXPECT_LE(window.frameGeometry().height(), room.height());
            EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
        }
        EXPECT_GE(window.frameGeometry().top(), room.top()) << "the title bar stays on the screen";

        const QList<QWidget*> cards = page.view->cards();
        ASSERT_GE(cards.size(), 9);
        for (QWidget* card : cards) {
            if (card->isHidden())
                continue;
            scroll->ensureWidgetVisible(card, 0, 0);
            QCoreApplication::processEvents();
            const QRect shown(card->mapTo(scroll->viewport(), QPoint(0, 0)), card->size());
            EXPECT_TRUE(scroll->viewport()->rect().contains(shown))
                << "card " << cards.indexOf(card) << " at " << shown.y() << "+" << shown.height() << " in a "
                << scroll->viewport()->height() << " px view";
        }
        for (const QLabel* label : page.view->findChildren<QLabel*>()) {
            if (!label->isVisibleTo(page.view) || label->text().isEmpty())
                continue;
            if (label->wordWrap())
                EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
            else
                EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        }
        for (const QAbstractButton* button : page.view->findChildren<QAbstractButton*>())
            if (button->isVisibleTo(page.view))
                EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    }
}

TEST(AboutWindow, ShowsTheVersionInTheStartUpLanguage)
{
    struct Case {
        const char* name;
        QString mainLanguage;
        QString version;
        QString text;
    };
    const Case cases[] = {
        {"no version", QStringLiteral("zh-Hans"), QString(), QStringLiteral("版本 1.0")},
        {"version", QStringLiteral("zh-Hans"), QStringLiteral("2.4.1"), QStringLiteral("版本 2.4.1")},
        {"english start", QStringLiteral("en"), QStringLiteral("2.4.1"), QStringLiteral("Version 2.4.1")},
        {"japanese start", QStringLiteral("ja"), QString(), QStringLiteral("バージョン 1.0")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Platform platform;
        ASSERT_EQ(platform.translations.selectMainLanguage({c.mainLanguage}), c.mainLanguage);
        SettingsStore settings(platform.defaults, platform.loginItems, platform.console, platform.translations);
        AboutView view(settings.translations(), c.version);
        auto* line = view.findChild<QLabel*>(QStringLiteral("version"));
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->text(), c.text);
        EXPECT_EQ(view.versionText(), c.text);

        // The interface language chosen later shows here only from the next start.
        settings.setLanguage(AppLanguage::ko);
        EXPECT_EQ(line->text(), c.text);
    }
}

namespace {

// The whole shell over fakes, with the module's texts wired to the settings as main wires them.
struct Shell : test::FakeShell {
    Shell()
    {
        shortcuts.setStrings([this](const QString& key) { return settings.localized(key); });
        delegate.prepareStart();
    }
};

// Answers the next message box that comes up, keeping its text.
class AlertCatcher final : public QObject {
public:
    AlertCatcher()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box && box->isVisible()) {
                    texts.append(box->text());
                    box->done(0);
                }
            }
        });
        m_timer.start();
    }
    QStringList texts;

private:
    QTimer m_timer;
};

}  // namespace

TEST(SettingsShell, SettingsWindowIsMadeOnceAndSwitchesTheTaskbarPresence)
{
    Shell shell;
    ASSERT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::hidden);
    ASSERT_EQ(shell.delegate.settingsWindow(), nullptr);

    shell.delegate.openSettings();
    SettingsWindow* window = shell.delegate.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::shown);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Nimbrel 设置"));
    EXPECT_TRUE(window->view()->restartButton()->isHidden()) << "no update is staged";
    EXPECT_EQ(window->width(), SettingsWindow::contentWidth);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);

    shell.delegate.openSettings();
    EXPECT_EQ(shell.delegate.settingsWindow(), window) << "the second opening only brings it forward";
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(windows.cbegin(), windows.cend(),
                            [](QWidget* w) { return qobject_cast<SettingsWindow*>(w) != nullptr; }),
              1);

    // Closing keeps the window, with the page's state, for the next opening.
    shell.settings.setPanelMode(PanelMode::right);
    window->close();  // refused on purpose: the window is only put away
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::hidden);
    ASSERT_EQ(shell.delegate.settingsWindow(), window);
    shell.delegate.openSettings();
    EXPECT_EQ(shell.delegate.settingsWindow(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::shown);
    EXPECT_TRUE(window->view()->panelModeTiles().at(2)->isSelected());
    EXPECT_EQ(shell.taskbar.history,
              (QList<TaskbarEntry>{TaskbarEntry::hidden, TaskbarEntry::shown, TaskbarEntry::shown, TaskbarEntry::hidden, TaskbarEntry::shown}));
}

TEST(SettingsShell, AboutWindowLeavesThePresenceAlone)
{
    Shell shell;
    shell.delegate.openAbout();
    AboutWindow* about = shell.delegate.aboutWindow();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(about));
    EXPECT_EQ(about->size(), QSize(240, 200));
    EXPECT_EQ(about->view()->versionText(), QStringLiteral("版本 ") + QStringLiteral(NIMBREL_VERSION));
    EXPECT_EQ(shell.taskbar.history, QList<TaskbarEntry>{TaskbarEntry::hidden});

    about->close();
    EXPECT_EQ(shell.taskbar.history, QList<TaskbarEntry>{TaskbarEntry::hidden});
    shell.delegate.openAbout();
    EXPECT_EQ(shell.delegate.aboutWindow(), about);
    EXPECT_TRUE(about->isVisible());

    // Opened while the settings window is open, it leaves the presence as the settings window set it.
    shell.delegate.openSettings();
    about->close();
    shell.delegate.openAbout();
    EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::shown);
}

TEST(SettingsShell, QuitIsRefusedExceptFromTheTrayMenu)
{
    struct Case {
        const char* name;
        std::function<void(Shell&)> request;
    };
    const Case cases[] = {
        {"a quit request", [](Shell& shell) { EXPECT_FALSE(shell.delegate.requestTermination()); }},
        {"Ctrl+Q in the settings window",
         [](Shell& shell) {
             SettingsWindow* window = shell.delegate.settingsWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(window));
             QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
         }},
        {"Qt's quit",
         [](Shell&) {
             QEvent quit(QEvent::Quit);
             QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell shell;
        QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);
        shell.delegate.openSettings();
        SettingsWindow* window = shell.delegate.settingsWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        c.request(shell);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::hidden);
        EXPECT_EQ(approved.count(), 0);
        EXPECT_EQ(shell.delegate.settingsWindow(), window);

        // The tray menu's quit ends Nimbrel even with the settings window open.
        shell.delegate.openSettings();
        shell.delegate.trayMenu().quitAction()->trigger();
        EXPECT_EQ(approved.count(), 1);
        EXPECT_TRUE(shell.delegate.allowsTermination());
    }
}

TEST(SettingsShell, WithoutATrayNimbrelSaysHowToReachItOnceAndCanBeQuit)
{
    struct Case {
        const char* name;
        bool toldBefore;
        bool trayComesUp;  // within the grace a starting session gets
        bool told;         // notification and the settings window
        bool line;
    };
    const Case cases[] = {
        {"first start without a tray", false, false, true, true},
        {"a later start without a tray", true, false, false, true},
        {"a tray that comes up late", false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell shell;
        shell.tray.available = false;
        if (c.toldBefore)
            shell.settings.setNoTrayExplained();
        QSignalSpy checked(&shell.delegate, &AppDelegate::trayChecked);
        shell.delegate.start();
        if (c.trayComesUp)
            shell.tray.available = true;
        ASSERT_TRUE(checked.wait(AppDelegate::trayGraceMs + 3000));

        const bool line = std::any_of(shell.console.lines.cbegin(), shell.console.lines.cend(), [](const QString& l) {
            return l.contains(QStringLiteral("no system tray")) && l.contains(QStringLiteral("nimbrel --toggle")) &&
                   l.contains(QStringLiteral("nimbrel --settings"));
        });
        EXPECT_EQ(line, c.line) << shell.console.lines.join(u'\n').toStdString();
        SettingsWindow* window = shell.delegate.settingsWindow();
        EXPECT_EQ(window != nullptr && window->isVisible(), c.told);
        ASSERT_EQ(shell.notifier.shown.size(), c.told ? 1 : 0);
        EXPECT_TRUE(shell.settings.noTrayExplained() || c.trayComesUp);
        if (!c.told)
            continue;

        // The notification and the window say the same: the shortcut and both commands.
        const QString shortcut =
            shell.shortcuts.description(*shell.shortcuts.getShortcut(KeyboardShortcuts::togglePanelName()));
        EXPECT_EQ(shell.notifier.shown[0].first, QStringLiteral("此桌面没有系统托盘"));
        const QString body = shell.notifier.shown[0].second;
        EXPECT_TRUE(body.contains(shortcut) && body.contains(QStringLiteral("nimbrel --toggle")) &&
                    body.contains(QStringLiteral("nimbrel --settings")))
            << body.toStdString();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        EXPECT_FALSE(window->view()->noTrayCard()->isHidden());
        EXPECT_EQ(window->view()->noTrayText()->text(), body);

        // Its quit button, the one way out without a tray menu, ends Nimbrel.
        QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);
        QTest::mouseClick(window->view()->quitButton(), Qt::LeftButton);
        EXPECT_EQ(approved.count(), 1);
        EXPECT_TRUE(shell.delegate.allowsTermination());
    }
}

TEST(SettingsShell, WithoutATrayTheWindowsQuitEntryIsHonoured)
{
    Shell shell;
    shell.tray.available = false;
    shell.delegate.openSettings();
    SettingsWindow* window = shell.delegate.settingsWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_FALSE(window->view()->noTrayCard()->isHidden());
    QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(approved.count(), 1);
}

TEST(SettingsShell, TrayMenuEntriesInOrder)
{
    Shell shell;
    ASSERT_EQ(shell.tray.menu, shell.delegate.trayMenu().menu());
    const QList<QAction*> actions = shell.tray.menu->actions();
    ASSERT_EQ(actions.size(), 8);
    struct Entry {
        bool separator;
        QString text;
        QKeySequence shortcut;
    };
    const Entry entries[] = {
        {false, QStringLiteral("弹出剪切板"), QKeySequence()},
        {true, QString(), QKeySequence()},
        {false, QStringLiteral("设置"), QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        {true, QString(), QKeySequence()},
        {false, QStringLiteral("暂停记录"), QKeySequence()},
        {false, QStringLiteral("清除历史记录…"), QKeySequence()},
        {true, QString(), QKeySequence()},
        {false, QStringLiteral("退出 Nimbrel"), QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(actions[i]->isSeparator(), entries[i].separator);
        EXPECT_EQ(actions[i]->text(), entries[i].text);
        EXPECT_EQ(actions[i]->shortcut(), entries[i].shortcut);
    }
    EXPECT_EQ(actions[0], shell.delegate.trayMenu().panelAction());
    EXPECT_EQ(actions[2], shell.delegate.trayMenu().settingsAction());
    EXPECT_EQ(actions[4], shell.delegate.trayMenu().pauseAction());
    EXPECT_TRUE(actions[4]->isCheckable());
    EXPECT_EQ(actions[5], shell.delegate.trayMenu().clearAction());
    EXPECT_EQ(actions[7], shell.delegate.trayMenu().quitAction());

    actions[2]->trigger();
    ASSERT_NE(shell.delegate.settingsWindow(), nullptr);
    EXPECT_TRUE(shell.delegate.settingsWindow()->isVisible());
    EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::shown);
}

TEST(SettingsShell, SettingsWindowMenuOpensAboutAndContact)
{
    Shell shell;
    shell.delegate.openSettings();
    SettingsWindow* window = shell.delegate.settingsWindow();
    const QList<QAction*> actions = window->applicationMenu()->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0], window->aboutAction());
    EXPECT_EQ(actions[1], window->contactAction());
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3], window->closeAction());
    EXPECT_EQ(actions[4], window->quitAction());
    EXPECT_EQ(window->aboutAction()->text(), QStringLiteral("关于 Nimbrel"));
    EXPECT_EQ(window->contactAction()->text(), QStringLiteral("联系作者"));
    EXPECT_EQ(window->closeAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
    EXPECT_EQ(window->quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    window->contactAction()->trigger();
    ASSERT_EQ(shell.workspace.openedURLs.size(), 1);
    const QUrl contact = shell.workspace.openedURLs.first();
    EXPECT_TRUE(contact.isValid());
    EXPECT_TRUE(contact.scheme() == QStringLiteral("https") || contact.scheme() == QStringLiteral("http"));
    EXPECT_FALSE(contact.host().isEmpty());
    EXPECT_EQ(shell.delegate.aboutWindow(), nullptr);

    window->aboutAction()->trigger();
    ASSERT_NE(shell.delegate.aboutWindow(), nullptr);
    EXPECT_TRUE(shell.delegate.aboutWindow()->isVisible());
    EXPECT_EQ(shell.workspace.openedURLs.size(), 1);

    // The support page is another page than the contact page.
    QTest::mouseClick(window->view()->supportButton(), Qt::LeftButton);
    ASSERT_EQ(shell.workspace.openedURLs.size(), 2);
    EXPECT_NE(shell.workspace.openedURLs.last(), contact);
}

TEST(SettingsShell, LanguageChosenInTheSettingsRetranslatesTheMenus)
{
    struct Case {
        AppLanguage language;
        QStringList tray;
        QStringList window;
    };
    const Case cases[] = {
        {AppLanguage::en,
         {QStringLiteral("Show Clipboard"), QStringLiteral("Settings"), QStringLiteral("Quit Nimbrel")},
         {QStringLiteral("About Nimbrel"), QStringLiteral("Contact the Developer"), QStringLiteral("Close Window"),
          QStringLiteral("Quit Nimbrel")}},
        {AppLanguage::zhHans,
         {QStringLiteral("弹出剪切板"), QStringLiteral("设置"), QStringLiteral("退出 Nimbrel")},
         {QStringLiteral("关于 Nimbrel"), QStringLiteral("联系作者"), QStringLiteral("关闭窗口"),
          QStringLiteral("退出 Nimbrel")}},
    };
    Shell shell;
    shell.delegate.openSettings();
    SettingsWindow* window = shell.delegate.settingsWindow();
    TrayMenu& tray = shell.delegate.trayMenu();
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.language).toStdString());
        choose(window->view()->languagePicker(), languageIndex(*window->view(), c.language));
        EXPECT_EQ((QStringList{tray.panelAction()->text(), tray.settingsAction()->text(), tray.quitAction()->text()}),
                  c.tray);
        EXPECT_EQ((QStringList{window->aboutAction()->text(), window->contactAction()->text(),
                               window->closeAction()->text(), window->quitAction()->text()}),
                  c.window);
    }
}

TEST(SettingsShell, TheShortcutRecorderRefusesTheMenusKeyEquivalents)
{
    using namespace KeyboardShortcuts;
    Shell shell;
    // A US layout for the keys involved, so the recorder can compare them with the menus' key equivalents.
    shell.keyboardLayout.texts = {{Key::comma, QStringLiteral(",")},
                                  {Key::q, QStringLiteral("q")},
                                  {Key::v, QStringLiteral("v")},
                                  {Key::w, QStringLiteral("w")}};
    shell.delegate.openSettings();
    ShortcutField* recorder = shell.delegate.settingsWindow()->view()->shortcutRecorder()->control();
    const QString before = recorder->text();
    struct Case {
        int key;
        QString entry;
    };
    const Case cases[] = {
        {Key::comma, QStringLiteral("设置")},
        {Key::q, QStringLiteral("退出 Nimbrel")},
        // Only the settings window's own menu has this one.
        {Key::w, QStringLiteral("关闭窗口")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        AlertCatcher alerts;
        EXPECT_TRUE(recorder->handleRecordingKey(KeyEvent{KeyEvent::Type::keyDown, c.key, eventControl}));
        ASSERT_EQ(alerts.texts.size(), 1);
        EXPECT_TRUE(alerts.texts.first().contains(c.entry)) << alerts.texts.first().toStdString();
        EXPECT_EQ(recorder->text(), before) << "the shortcut stays as it was";
    }
}
