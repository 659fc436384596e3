#include "KeyboardShortcuts/Key.h"
#include "nimbrel/Version.h"
#include "KeyboardShortcuts/ShortcutField.h"
#include "settings/AboutView.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWidgets.h"
#include "shell/AuxiliaryWindows.h"
#include "support/FakeShell.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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

#include <gtest/gtest.h>

#include <memory>

using namespace nimbrel;

namespace {

const QUrl donationURL(QStringLiteral("https://donate.invalid/nimbrel"));
constexpr qint64 mb = 1'048'576;

// A settings page in its window over fakes. The stored values are in the defaults before the store reads
// them, as at a real start.
struct Page {
    explicit Page(AppLanguage language = AppLanguage::zhHans, const QMap<QString, QVariant>& stored = {},
                  bool pasteAllowedAtStart = true, const QList<Limit>& limits = {}, PackagerPolicy packager = {})
        : shortcuts(defaults, hotKeys, keyboardLayout, console),
          locations(test::freshDirectory()),
          updater(UpdaterEnvironment{http, systemLog, locations, QString()}),
          pasteAllowed(pasteAllowedAtStart)
    {
        defaults.values = stored;
        defaults.values.insert(SettingsStore::languageKey, rawValue(language));
        settings = std::make_unique<SettingsStore>(defaults, loginItems, console, translations, std::move(packager));
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
                                      [] {},
                                      limits};
        services.isDesktopShortcutAllowed = [this] { return desktopShortcutAllowed; };
        services.allowDesktopShortcut = [this] { desktopShortcutAllowed = ++desktopShortcutAllowances > 0; };
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

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    Translations translations{Translations::defaultDirectory()};
    fake::FakeHotKeyPlatform hotKeys;
    fake::FakeKeyboardLayout keyboardLayout;
    KeyboardShortcuts::Shortcuts shortcuts;
    fake::SystemShortcutList systemShortcuts;
    fake::UnreachableHttpClient http;
    fake::RecordingSystemLog systemLog;
    fake::Locations locations;
    UpdaterService updater;
    fake::FakeWorkspace workspace;
    bool pasteAllowed;
    int accessRequests = 0;
    bool trayAvailable = true;
    bool desktopShortcutAllowed = false;
    int desktopShortcutAllowances = 0;
    HistoryUsage usage;
    QList<bool> clears;  // each clearing asked for: whether it took the pinned records
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<SettingsWindow> window;
    SettingsView* view = nullptr;
};

// Picks an entry the way the user's choice arrives: the combo box shows it and reports the activation.
void choose(SettingsView& view, AppLanguage language)
{
    const int index = view.languagePicker()->findData(rawValue(language));
    view.languagePicker()->setCurrentIndex(index);
    Q_EMIT view.languagePicker()->activated(index);
}

QStringList labelTexts(const QWidget& parent, bool visibleOnly = true)
{
    QStringList texts;
    for (const QLabel* label : parent.findChildren<QLabel*>())
        if ((!visibleOnly || label->isVisibleTo(&parent)) && !label->text().isEmpty())
            texts.append(label->text());
    return texts;
}

// Every text the page shows or announces, except the language picker's native names.
QStringList pageTexts(const SettingsView& view)
{
    QStringList texts = labelTexts(view, false);
    for (const QAbstractButton* button : view.findChildren<QAbstractButton*>())
        texts << button->text() << button->toolTip();
    for (const QComboBox* combo : view.findChildren<QComboBox*>())
        for (int i = 0; i < (combo == view.languagePicker() ? 1 : combo->count()); ++i)
            texts.append(combo->itemText(i));
    for (const QWidget* widget : view.findChildren<QWidget*>())
        texts.append(widget->accessibleName());
    texts.append(view.shortcutRecorder()->control()->placeholderText());
    texts.removeAll(QString());
    return texts;
}

}  // namespace

TEST(SettingsWindow, StorageSliderStoresWholeHundredsAndFollowsTheStore)
{
    // The store rounds a budget down to whole hundreds as it reads it, so a stored 250 shows as 200.
    Page page(AppLanguage::en, {{SettingsStore::maxStorageMBKey, qint64(250)}});
    page.show();
    QSlider* slider = page.view->storageSlider();
    EXPECT_EQ(page.view->storageValue()->text(), QStringLiteral("200 MB"));
    EXPECT_EQ(page.defaults.values.value(SettingsStore::maxStorageMBKey), QVariant(qint64(250))) << "shown, not stored";
    const std::pair<Qt::Key, qint64> steps[] = {{Qt::Key_End, 1000},  {Qt::Key_Left, 900},   {Qt::Key_Home, 100},
                                                {Qt::Key_Right, 200}, {Qt::Key_PageUp, 300}, {Qt::Key_PageDown, 200}};
    for (const auto& [key, stored] : steps) {
        SCOPED_TRACE(stored);
        QTest::keyClick(slider, key);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::maxStorageMBKey), QVariant(stored));
        EXPECT_EQ(page.view->storageValue()->text(), QStringLiteral("%1 MB").arg(stored));
    }
    // A change made elsewhere moves the slider and the text, and is stored once, by the store alone.
    const int writes = page.defaults.writes;
    page.settings->setMaxStorageMB(700);
    EXPECT_EQ(slider->value(), 7);
    EXPECT_EQ(page.view->storageValue()->text(), QStringLiteral("700 MB"));
    EXPECT_EQ(page.defaults.writes, writes + 1);
}

TEST(SettingsWindow, PlacementPickerAndTilesStayInStep)
{
    for (const bool byTile : {false, true}) {
        Page page;
        page.show();
        QComboBox* picker = page.view->panelModePicker();
        const auto& tiles = page.view->panelModeTiles();
        const auto shown = [&] {
            return QStringList{picker->currentText(), tiles[0]->isSelected() ? tiles[0]->text() : QString(),
                               tiles[1]->isSelected() ? tiles[1]->text() : QString(),
                               tiles[2]->isSelected() ? tiles[2]->text() : QString()};
        };
        EXPECT_EQ(shown(), (QStringList{"底部", "底部", "", ""}));
        if (byTile) {
            QTest::mouseClick(tiles[1], Qt::LeftButton);
        } else {
            picker->setFocus();
            QTest::keyClick(picker, Qt::Key_Down);  // bottom → left, as a keyboard user picks it
        }
        EXPECT_EQ(page.defaults.values.value(SettingsStore::panelModeKey), QVariant(QStringLiteral("left")));
        EXPECT_EQ(shown(), (QStringList{"左侧竖排", "", "左侧竖排", ""}));
        page.settings->setPanelMode(PanelMode::right);  // both follow a change made through the store
        EXPECT_EQ(shown(), (QStringList{"右侧竖排", "", "", "右侧竖排"}));
    }
}

TEST(SettingsWindow, PickingALanguageTranslatesTheWholePageAtOnce)
{
    Page page(AppLanguage::zhHans, {}, false);  // the paste warning's texts are part of the page too
    page.show();
    const QStringList keys = pageTexts(*page.view);
    ASSERT_TRUE(keys.contains(QStringLiteral("Nimbrel 设置")));
    ASSERT_TRUE(keys.contains(QStringLiteral("了解详情")));
    QStringList names;
    for (int i = 0; i < page.view->languagePicker()->count(); ++i)
        names.append(page.view->languagePicker()->itemText(i));
    // Only the system entry is translated; every language is named in itself.
    EXPECT_EQ(names, (QStringList{QStringLiteral("跟随系统"), QStringLiteral("简体中文"), QStringLiteral("繁體中文"),
                                  QStringLiteral("English"), QStringLiteral("日本語"), QStringLiteral("한국어")}));

    choose(*page.view, AppLanguage::en);
    EXPECT_EQ(page.defaults.values.value(SettingsStore::languageKey), QVariant(QStringLiteral("en")));
    // No turn of the event loop in between: the page is English at once.
    const QStringList english = pageTexts(*page.view);
    EXPECT_EQ(english.size(), keys.size());
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    for (const QString& text : english)
        EXPECT_FALSE(han.match(text).hasMatch()) << text.toStdString();
    for (const char* expected : {"Launch at Login", "System Default", "This desktop has no system tray"})
        EXPECT_TRUE(english.contains(QString::fromUtf8(expected))) << expected;
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel Settings"));

    // Back to the key language: every text is its key again.
    choose(*page.view, AppLanguage::zhHans);
    EXPECT_EQ(pageTexts(*page.view), keys);
    // The page's own deferred title update must not bring an old language back.
    QTest::qWait(20);
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel 设置"));
}

// The one test of the launch-at-login switch: it shows what the system really did.
TEST(SettingsWindow, LaunchAtLoginSwitchShowsWhatTheSystemDid)
{
    using S = LoginItemStatus;
    struct Case {
        const char* name;
        S before;
        S afterRegister;
        std::optional<QString> registerError;
        std::optional<QString> unregisterError;
        bool shown;
        QStringList lines;
    };
    // clang-format off
    const Case cases[] = {
        {"registered", S::notRegistered, S::enabled, {}, {}, true, {}},
        {"refused", S::notRegistered, S::enabled, QStringLiteral("not allowed"), {}, false,
         {QStringLiteral("[Nimbrel] LaunchAtLogin error: not allowed")}},
        {"registered but not found afterwards", S::notRegistered, S::notRegistered, {}, {}, false, {}},
        // Switched on already: the click turns it off, unless the entry cannot be removed.
        {"unregistered", S::enabled, S::enabled, {}, {}, false, {}},
        {"unregister fails", S::enabled, S::enabled, {}, QStringLiteral("read-only folder"), true,
         {QStringLiteral("[Nimbrel] LaunchAtLogin error: read-only folder")}}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool on = c.before == S::enabled;
        Page page(AppLanguage::zhHans, {{SettingsStore::launchAtLoginKey, on}});
        page.loginItems.currentStatus = c.before;
        page.loginItems.statusAfterRegister = c.afterRegister;
        page.loginItems.registerError = c.registerError;
        page.loginItems.unregisterError = c.unregisterError;
        page.show();
        ToggleSwitch* toggle = page.view->launchAtLoginSwitch();
        ASSERT_EQ(toggle->isChecked(), on);
        QTest::mouseClick(toggle, Qt::LeftButton);
        EXPECT_EQ(toggle->isChecked(), c.shown);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::launchAtLoginKey), QVariant(c.shown));
        EXPECT_EQ(page.console.lines, c.lines);
        EXPECT_EQ(page.loginItems.registrations, on ? 0 : 1);
        EXPECT_EQ(page.loginItems.unregistrations, on ? 1 : 0);
        page.settings->adoptLoginItemStatus(!c.shown);  // the state found at start-up shows too
        EXPECT_EQ(toggle->isChecked(), !c.shown);
        EXPECT_EQ(page.loginItems.registrations + page.loginItems.unregistrations,
                  1)
            << "adopting the system's state asks nothing of it";
    }
}

TEST(SettingsWindow, NetworkSwitchesShowAndWriteTheSettings)
{
    const QString pending =
        QStringLiteral("首次启动时发送一次：随机安装标识、系统语言和内核版本。启动时若已关闭，则永不发送。");
    const QString sent = QStringLiteral("已在首次启动时发送一次，此后不再发送任何内容。");
    const QString declined = QStringLiteral("已拒绝：启动报告永不发送。");
    const auto state = [](Page& page) {
        ToggleSwitch* report = page.view->launchReportSwitch();
        return QVariantList{report->isChecked(), report->isEnabled(), page.view->launchReportCaption()->text(),
                            page.view->updateCheckSwitch()->isChecked(), page.view->updateCheckSwitch()->isEnabled()};
    };
    {
        Page page;
        page.show();
        EXPECT_EQ(state(page), (QVariantList{true, true, pending, true, true}));
        QTest::mouseClick(page.view->launchReportSwitch(), Qt::LeftButton);
        QTest::mouseClick(page.view->updateCheckSwitch(), Qt::LeftButton);
        // Off within a session, the report can still be turned back on before the next start.
        EXPECT_EQ(state(page), (QVariantList{false, true, pending, false, true}));
        EXPECT_EQ(page.defaults.values.value(SettingsStore::sendLaunchReportKey), QVariant(false));
        EXPECT_EQ(page.defaults.values.value(SettingsStore::checkForUpdatesKey), QVariant(false));
        page.settings->setSendsLaunchReport(true);  // a change made elsewhere shows on the switch
        EXPECT_TRUE(page.view->launchReportSwitch()->isChecked());
        // The report declined while the page is open: the card says so, and the switch takes no clicks.
        page.defaults.values.insert(LaunchReporter::didDeclineLaunchReportKey, true);
        Q_EMIT page.settings->launchReportStatusChanged();
        EXPECT_EQ(state(page), (QVariantList{false, false, declined, false, true}));
    }

    // Where the report stood at the start decides what its card shows; a settled report's switch takes no clicks.
    const std::pair<QMap<QString, QVariant>, QVariantList> cases[] = {
        {{{SettingsStore::sendLaunchReportKey, false}, {SettingsStore::checkForUpdatesKey, false}},
         {false, true, pending, false, true}},
        {{{LaunchReporter::didReportLaunchKey, true}}, {true, false, sent, true, true}},
        {{{LaunchReporter::didDeclineLaunchReportKey, true}, {SettingsStore::sendLaunchReportKey, true}},
         {false, false, declined, true, true}}};
    for (const auto& [stored, shown] : cases) {
        SCOPED_TRACE(shown.at(2).toString().toStdString());
        Page page(AppLanguage::zhHans, stored);
        page.show();
        EXPECT_EQ(state(page), shown);
        const int writes = page.defaults.writes;
        QTest::mouseClick(page.view->launchReportSwitch(), Qt::LeftButton);
        EXPECT_EQ(page.defaults.writes - writes, shown.at(1).toBool() ? 1 : 0);
    }

    // What the package turned off shows off and cannot be turned on, whatever the settings say.
    Page page(AppLanguage::en, {{SettingsStore::sendLaunchReportKey, true}, {LaunchReporter::didReportLaunchKey, true}},
              true, {}, PackagerPolicy{.launchReportOff = true, .updateCheckOff = true});
    page.show();
    for (ToggleSwitch* toggle : {page.view->launchReportSwitch(), page.view->updateCheckSwitch()})
        QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_EQ(state(page),
              (QVariantList{false, false, "Turned off by the package (NIMBREL_NO_LAUNCH_REPORT).", false, false}));
    EXPECT_EQ(page.view->updateCheckCaption()->text(),
              QStringLiteral("Turned off by the package (NIMBREL_NO_UPDATE_CHECK)."));
    EXPECT_EQ(page.defaults.values.value(SettingsStore::sendLaunchReportKey), QVariant(true))
        << "the user's word is kept";
}

TEST(SettingsWindow, PasteWarningShowsOnlyWhilePasteIsNotAllowed)
{
    Page page(AppLanguage::zhHans, {}, false);
    page.show();
    QWidget* card = page.view->accessibilityCard();
    ASSERT_FALSE(card->isHidden());
    EXPECT_LT(card->mapTo(page.view, QPoint(0, 0)).y(),
              page.view->launchAtLoginSwitch()->mapTo(page.view, QPoint(0, 0)).y())
        << "it is the first card of the page";
    ASSERT_NE(card->findChild<QPushButton*>(), nullptr);
    QTest::mouseClick(card->findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_EQ(page.accessRequests, 1);

    // Granted elsewhere: the card goes within about a second, the window staying open.
    page.pasteAllowed = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return card->isHidden(); }, 1500));
    // Revoked: the page learns it at the next activation, not from the timer, or when the window opens again.
    page.pasteAllowed = false;
    QTest::qWait(1200);
    EXPECT_TRUE(card->isHidden());
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(card->isHidden());
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
        EXPECT_TRUE(page.view->accessibilityCard()->isHidden());
        EXPECT_EQ(page.view->findChild<QWidget*>(QStringLiteral("desktopSupportCard")), nullptr)
            << "a desktop that allows everything shows no card";
    }
    Page page(AppLanguage::en, {}, true, {Limit::noSourceApp, Limit::noPaste, Limit::shortcutIsGnomeBinding});
    page.show();
    QWidget* card = page.view->findChild<QWidget*>(QStringLiteral("desktopSupportCard"));
    ASSERT_NE(card, nullptr);
    const QStringList texts = labelTexts(*card);
    EXPECT_TRUE(texts.contains(
        QStringLiteral("This desktop does not tell which application is in front: records show no source application, "
                       "and excluded applications cannot be recognised (pause recording instead).")));
    EXPECT_FALSE(texts.join(u' ').contains(QLatin1String("press Ctrl+V"))) << "the paste card says that already";

    // The consent is the shell's to give and keep: the page asks for it and shows it.
    QPushButton* allow = page.view->allowDesktopShortcutButton();
    ASSERT_NE(allow, nullptr);
    EXPECT_TRUE(allow->isVisibleTo(page.view));
    EXPECT_EQ(allow->text(), QStringLiteral("Add GNOME Shortcut"));
    EXPECT_EQ(page.desktopShortcutAllowances, 0) << "nothing is changed before the user says so";
    QTest::mouseClick(allow, Qt::LeftButton);
    EXPECT_EQ(page.desktopShortcutAllowances, 1);
    EXPECT_FALSE(allow->isVisibleTo(page.view));
    EXPECT_TRUE(labelTexts(*card).contains(QStringLiteral("Added to GNOME's keyboard settings.")));
}

namespace {

QIcon squareIcon(const QColor& color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

QList<QWidget*> excludedRows(const SettingsView& view)
{
    return view.excludedApplicationsCard()->findChildren<QWidget*>(QStringLiteral("excludedApplication"));
}

// Each excluded entry as its row shows it: "name", "name (entry)" beside a name found for it, "+icon" with one.
QStringList shownRows(const SettingsView& view)
{
    QStringList rows;
    for (QWidget* widget : excludedRows(view)) {
        QString row = widget->findChild<QLabel*>(QStringLiteral("name"))->text();
        if (const auto* entry = widget->findChild<QLabel*>(QStringLiteral("entry")))
            row += QStringLiteral(" (%1)").arg(entry->text());
        if (!widget->findChild<QLabel*>(QStringLiteral("icon"))->pixmap().isNull())
            row += QStringLiteral("+icon");
        rows.append(row);
    }
    return rows;
}

// The menu's entries as it opens, "-" for the separator; or, given `pick`, triggers that entry.
QStringList offered(const SettingsView& view, const QString& pick = {})
{
    QMenu* menu = view.addExcludedMenu();
    Q_EMIT menu->aboutToShow();
    QStringList texts;
    for (QAction* action : menu->actions()) {
        if (!pick.isEmpty() && action->text() == pick)
            action->trigger();
        texts.append(action->isSeparator()
                         ? QStringLiteral("-")
                         : action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)")));
    }
    return texts;
}

// Types an entry into the dialog the menu's last entry opens; accepted unless `cancel`.
void typeEntry(SettingsView& view, const QString& typed, bool cancel = false)
{
    QMenu* menu = view.addExcludedMenu();
    Q_EMIT menu->aboutToShow();
    menu->actions().constLast()->trigger();
    QPointer<QInputDialog> dialog = view.findChild<QInputDialog*>(QStringLiteral("excludedEntryDialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible() && dialog->isModal()) << "it waits for an answer without stopping the page";
    dialog->setTextValue(typed);
    cancel ? dialog->reject() : dialog->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 2000)) << "the dialog goes once answered";
}

}  // namespace

TEST(SettingsWindow, ExcludedApplicationsCardAddsRemovesAndFollowsTheSetting)
{
    Page page(AppLanguage::en,
              {{SettingsStore::excludedApplicationsKey, QStringList{QStringLiteral("org.example.Viewer")}}});
    // Running: an installed editor, a mail program, and a terminal no desktop entry names. Installed too: a
    // viewer that does not run.
    // clang-format off
    page.workspace.running = {{"org.example.Mail", "Mail", "Mail"},
                              {"org.example.Editor", "Example Editor", "ExampleEditor"},
                              {"XTerm", std::nullopt, "XTerm"}};
    // clang-format on
    page.workspace.installedApplications = {{QStringLiteral("org.example.Editor"), squareIcon(Qt::red)},
                                            {QStringLiteral("org.example.Viewer"), squareIcon(Qt::blue)}};
    page.workspace.applicationNames = {{QStringLiteral("org.example.Editor"), QStringLiteral("Example Editor")},
                                       {QStringLiteral("org.example.Viewer"), QStringLiteral("Viewer")}};
    page.show();
    const QString type = QStringLiteral("Enter a Desktop ID or Window Class…");
    struct Step {
        const char* name;
        std::function<void(Page&)> act;
        QStringList stored;
        QStringList rows;
        QStringList menu;
    };
    // clang-format off
    const Step steps[] = {
        {"as stored", [](Page&) {}, {"org.example.Viewer"}, {"Viewer (org.example.Viewer)+icon"},
         {"Example Editor", "Mail", "XTerm", "-", type}},
        {"a running application picked", [](Page& p) { offered(*p.view, QStringLiteral("Mail")); },
         {"org.example.Viewer", "org.example.Mail"}, {"Viewer (org.example.Viewer)+icon", "Mail (org.example.Mail)"},
         {"Example Editor", "XTerm", "-", type}},
        {"a window class typed, blanks around it", [](Page& p) { typeEntry(*p.view, QStringLiteral("  ExampleEditor ")); },
         {"org.example.Viewer", "org.example.Mail", "ExampleEditor"},
         {"Viewer (org.example.Viewer)+icon", "Mail (org.example.Mail)", "Example Editor (ExampleEditor)+icon"},
         {"XTerm", "-", type}},
        {"an identifier nothing knows typed, blanks typed, a typing cancelled",
         [](Page& p) {
             typeEntry(*p.view, QStringLiteral("unknown.App"));
             typeEntry(*p.view, QStringLiteral("   "));
             typeEntry(*p.view, QStringLiteral("Cancelled"), true);
         },
         {"org.example.Viewer", "org.example.Mail", "ExampleEditor", "unknown.App"},
         {"Viewer (org.example.Viewer)+icon", "Mail (org.example.Mail)", "Example Editor (ExampleEditor)+icon", "unknown.App"},
         {"XTerm", "-", type}},
        {"one removed",
         [](Page& p) {
             auto* remove = excludedRows(*p.view).at(1)->findChild<QToolButton*>(QStringLiteral("removeExcluded"));
             ASSERT_NE(remove, nullptr);
             EXPECT_EQ(remove->accessibleName(), QStringLiteral("Remove Mail"));
             QTest::mouseClick(remove, Qt::LeftButton);
         },
         {"org.example.Viewer", "ExampleEditor", "unknown.App"},
         {"Viewer (org.example.Viewer)+icon", "Example Editor (ExampleEditor)+icon", "unknown.App"},
         {"Mail", "XTerm", "-", type}},
        {"changed elsewhere", [](Page& p) { p.settings->setExcludedApplications({"XTerm", "org.example.Mail"}); },
         {"XTerm", "org.example.Mail"}, {"XTerm", "Mail (org.example.Mail)"}, {"Example Editor", "-", type}},
        {"every running application excluded", [](Page& p) { offered(*p.view, QStringLiteral("Example Editor")); },
         {"XTerm", "org.example.Mail", "org.example.Editor"},
         {"XTerm", "Mail (org.example.Mail)", "Example Editor (org.example.Editor)+icon"},
         {"No Other Applications Running (off)", "-", type}},
        {"none left", [](Page& p) { p.settings->setExcludedApplications({}); }, {}, {},
         {"Example Editor", "Mail", "XTerm", "-", type}}};
    // clang-format on
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(page);
        EXPECT_EQ(page.defaults.values.value(SettingsStore::excludedApplicationsKey).toStringList(), step.stored);
        EXPECT_EQ(shownRows(*page.view), step.rows);
        EXPECT_EQ(labelTexts(*page.view->excludedApplicationsCard())
                      .contains(QStringLiteral("No applications are excluded.")),
                  step.stored.isEmpty());
        EXPECT_EQ(offered(*page.view), step.menu);
    }
}

TEST(SettingsWindow, ClearingAsksWithTheCountsAndPassesThePinnedChoice)
{
    enum class Button { clear, cancel, escape };
    struct Case {
        AppLanguage language;
        HistoryUsage usage;
        Button button;
        bool tick;
        QString informative;
        QString pinnedBox;
        QList<bool> clears;
    };
    // clang-format off
    const Case cases[] = {
        {AppLanguage::en, {12, 7 * mb / 2, 0, 0}, Button::clear, false,
         "The history holds 12 records, taking 3.5 MB.\nThis cannot be undone.", "(none)", {false}},
        {AppLanguage::en, {1234, 5 * mb, 3, 6 * mb / 5}, Button::clear, true,
         "The history holds 1,234 records, taking 5.0 MB.\nThis cannot be undone.",
         "Also delete the 3 pinned records (1.2 MB)", {true}},
        {AppLanguage::en, {1, mb, 1, mb / 2}, Button::cancel, true,
         "The history holds 1 record, taking 1.0 MB.\nThis cannot be undone.", "Also delete the 1 pinned record (512.0 kB)",
         {}},
        {AppLanguage::en, {12, mb, 0, 0}, Button::escape, false,
         "The history holds 12 records, taking 1.0 MB.\nThis cannot be undone.", "(none)", {}},
        {AppLanguage::zhHans, {12, 7 * mb / 2, 3, 6 * mb / 5}, Button::clear, false,
         "历史中有 12 条记录，占用 3.5 MB。\n此操作无法撤销。", "同时删除 3 条置顶记录（1.2 MB）", {false}}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.informative.toStdString());
        Page page(c.language);
        page.usage = c.usage;
        page.show();
        // The dialog is answered from inside its own loop.
        QStringList seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box->objectName() != QStringLiteral("clearHistoryDialog"))
                return;
            poll.stop();
            seen << box->informativeText() << (box->checkBox() ? box->checkBox()->text() : QStringLiteral("(none)"));
            if (QCheckBox* pinned = box->checkBox()) {
                EXPECT_FALSE(pinned->isChecked()) << "pinned records are kept unless the user says otherwise";
                pinned->setChecked(c.tick);
            }
            if (c.button == Button::escape)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->findChild<QPushButton*>(c.button == Button::clear ? QStringLiteral("clear")
                                                                       : QStringLiteral("cancel"))
                    ->click();
        });
        poll.start(10);
        QTest::mouseClick(page.view->clearHistoryButton(), Qt::LeftButton);
        EXPECT_EQ(seen, (QStringList{c.informative, c.pinnedBox}));
        EXPECT_EQ(page.clears, c.clears);
    }

    // An empty history has nothing to clear: the button says so and asks nothing, until records arrive.
    Page page(AppLanguage::en);
    page.show();
    QPushButton* button = page.view->clearHistoryButton();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->toolTip(), QStringLiteral("The history is empty."));
    page.usage = {3, 1000, 0, 0};
    page.view->historyChanged();
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(button->toolTip().isEmpty());
}

TEST(SettingsWindow, BudgetNoteShowsWhilePinnedRecordsAlonePassTheBudget)
{
    Page page(AppLanguage::en);
    page.usage = {500, 150 * mb, 40, 150 * mb};
    page.show();
    QLabel* note = page.view->budgetNote();
    QSignalSpy heights(page.view, &SettingsView::naturalHeightChanged);
    const QString over = QStringLiteral(
        "Pinned records take %1, more than the maximum storage of %2. Pinned records are all kept, so no other records "
        "are kept.");
    const auto pinned = [](qint64 bytes) {
        return [bytes](Page& p) {
            p.usage.pinnedBytes = bytes;
            p.view->historyChanged();
        };
    };
    // clang-format off
    const std::pair<std::function<void(Page&)>, QString> steps[] = {
        {[](Page&) {}, {}},
        {pinned(200 * mb), {}},
        {pinned(200 * mb + 1), over.arg("200.0 MB", "200 MB")},
        {pinned(250 * mb), over.arg("250.0 MB", "200 MB")},
        {[](Page& p) { p.settings->setMaxStorageMB(300); }, {}},
        {[](Page& p) { p.settings->setMaxStorageMB(100); }, over.arg("250.0 MB", "100 MB")},
        {[](Page& p) { p.settings->setLanguage(AppLanguage::zhHans); },
         QStringLiteral("置顶记录占用 250.0 MB，已超过最大占用空间 100 MB。置顶记录会全部保留，因此其他记录都不会保留。")},
        // Unpinned while the window was away, then shown again.
        {[](Page& p) { p.window->close(); p.usage.pinnedBytes = 0; p.show(); }, {}}};
    // clang-format on
    int flips = 0;
    bool wasShown = false;
    for (const auto& [act, shown] : steps) {
        SCOPED_TRACE(shown.toStdString());
        act(page);
        EXPECT_EQ(note->isVisibleTo(page.view), !shown.isEmpty());
        EXPECT_EQ(note->isVisibleTo(page.view) ? note->text() : QString(), shown);
        flips += !shown.isEmpty() != wasShown ? 1 : 0;
        wasShown = !shown.isEmpty();
        EXPECT_GE(heights.count(), flips) << "the window takes the new height";
    }
}

TEST(SettingsWindow, RestartButtonOpensAtFullOpacity)
{
    // A window opened while an update is staged shows the button at once, without its fade.
    Page page;
    page.view->restartButton()->setVisible(true);
    page.show();
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(page.view->restartButton()->graphicsEffect());
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
        Page page(language,
                  {{SettingsStore::excludedApplicationsKey,
                    QStringList{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("XTerm")}}},
                  false,
                  {Limit::noCapture, Limit::noSourceApp, Limit::noPaste, Limit::pasteAsksPermission,
                   Limit::shortcutIsGnomeBinding, Limit::panelIsOrdinaryWindow});
        page.workspace.applicationNames = {{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor")}};
        page.usage = {900, 300 * mb, 800, 250 * mb};
        page.trayAvailable = false;
        page.show();
        ASSERT_EQ(excludedRows(*page.view).size(), 2);
        ASSERT_TRUE(page.view->budgetNote()->isVisibleTo(page.view));
        ASSERT_FALSE(page.view->noTrayCard()->isHidden());
        ASSERT_FALSE(page.view->accessibilityCard()->isHidden());
        SettingsWindow& window = *page.window;
        QScrollArea* scroll = page.view->scrollArea();
        const int natural =
            page.view->naturalHeight(SettingsWindow::contentWidth) + window.menuWidget()->sizeHint().height();
        // The cards that came with the showing are taken in by a queued refit.
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.maximumHeight() == natural; }, 2000));
        QCoreApplication::processEvents();

        const QRect room = window.screen()->availableGeometry();
        const int titleBar = window.frameGeometry().height() - window.height();
        EXPECT_LE(window.width(), room.width());
        if (natural + titleBar <= room.height()) {
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
            EXPECT_TRUE(scroll->viewport()->rect().contains(shown)) << "card " << cards.indexOf(card);
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

namespace {

// The whole shell over fakes, with the module's texts wired to the settings as main wires them.
struct Shell : test::FakeShell {
    Shell()
    {
        shortcuts.setStrings([this](const QString& key) { return settings.localized(key); });
        delegate.prepareStart();
    }
    SettingsWindow* openSettings()
    {
        delegate.openSettings();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(delegate.settingsWindow()));
        return delegate.settingsWindow();
    }
};

}  // namespace

TEST(SettingsShell, TheSettingsWindowsMenuOpensAboutAndContactAndKeepsThePresence)
{
    Shell shell;
    SettingsWindow* window = shell.openSettings();
    EXPECT_EQ(window->width(), SettingsWindow::contentWidth);
    EXPECT_TRUE(window->view()->restartButton()->isHidden()) << "no update is staged";
    window->contactAction()->trigger();
    ASSERT_EQ(shell.workspace.openedURLs.size(), 1);
    const QUrl contact = shell.workspace.openedURLs.first();
    EXPECT_TRUE(contact.isValid() && contact.scheme().startsWith(QLatin1String("http")) && !contact.host().isEmpty());
    // The support page is another page than the contact page.
    QTest::mouseClick(window->view()->supportButton(), Qt::LeftButton);
    ASSERT_EQ(shell.workspace.openedURLs.size(), 2);
    EXPECT_NE(shell.workspace.openedURLs.last(), contact);

    // The about window, in the start-up language, leaves the presence as the settings window set it.
    const QList<TaskbarEntry> presence = shell.taskbar.history;
    window->aboutAction()->trigger();
    AboutWindow* about = shell.delegate.aboutWindow();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(about));
    shell.settings.setLanguage(AppLanguage::en);
    EXPECT_EQ(about->view()->versionText(), QStringLiteral("版本 ") + QLatin1String(build::version));
    about->close();
    shell.delegate.openAbout();
    EXPECT_EQ(shell.delegate.aboutWindow(), about) << "made once";
    EXPECT_EQ(shell.taskbar.history, presence);
}

// Only the tray menu's quit (or the system) ends Nimbrel; every other quit request puts the windows away.
TEST(SettingsShell, QuitIsRefusedExceptFromTheTrayMenu)
{
    const std::function<void(Shell&)> requests[] = {
        [](Shell& shell) { EXPECT_FALSE(shell.delegate.requestTermination()); },
        [](Shell&) {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        }};
    for (const auto& request : requests) {
        Shell shell;
        shell.delegate.start();
        QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);
        SettingsWindow* window = shell.openSettings();
        shell.delegate.togglePanel();
        ASSERT_TRUE(shell.delegate.panelCoordinator()->isVisible());
        request(shell);
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(shell.delegate.panelCoordinator()->isVisible());
        EXPECT_EQ(shell.taskbar.taskbarEntry(), TaskbarEntry::hidden);
        EXPECT_EQ(approved.count(), 0);

        shell.openSettings();
        shell.delegate.trayMenu().quitAction()->trigger();
        EXPECT_EQ(approved.count(), 1);
        EXPECT_TRUE(shell.delegate.allowsTermination());
        shell.delegate.terminateForSystem();
        EXPECT_EQ(approved.count(), 1) << "the process winds down once";
    }

    Shell shell;
    QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);
    shell.delegate.terminateForSystem();
    EXPECT_EQ(approved.count(), 1) << "the system's termination is never refused";
    EXPECT_FALSE(shell.delegate.allowsTermination());
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
    const Case cases[] = {{"first start without a tray", false, false, true, true},
                          {"a later start without a tray", true, false, false, true},
                          {"a tray that comes up late", false, true, false, false}};
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
        const QStringList lines = shell.console.lines.filter(QStringLiteral("no system tray"));
        EXPECT_EQ(
            !lines.filter(QStringLiteral("nimbrel --toggle")).filter(QStringLiteral("nimbrel --settings")).isEmpty(),
            c.line)
            << shell.console.lines.join(u'\n').toStdString();
        SettingsWindow* window = shell.delegate.settingsWindow();
        EXPECT_EQ(window != nullptr && window->isVisible(), c.told);
        ASSERT_EQ(shell.notifier.shown.size(), c.told ? 1 : 0);
        EXPECT_TRUE(shell.settings.noTrayExplained() || c.trayComesUp);
        if (c.trayComesUp)
            continue;
        QSignalSpy approved(&shell.delegate, &AppDelegate::terminationApproved);
        if (c.told) {
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
            QTest::mouseClick(window->view()->quitButton(), Qt::LeftButton);
        } else {
            window = shell.openSettings();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        }
        EXPECT_EQ(approved.count(), 1) << "without a tray menu, the page's quit button and the window's quit entry end "
                                          "Nimbrel";
    }
}

TEST(SettingsShell, TrayMenuEntriesInOrderFollowTheLanguage)
{
    Shell shell;
    EXPECT_EQ(shell.taskbar.history, QList<TaskbarEntry>{TaskbarEntry::hidden}) << "a start is tray only";
    EXPECT_TRUE(shell.tray.shown);
    ASSERT_EQ(shell.tray.menu, shell.delegate.trayMenu().menu());
    const auto entries = [&] {
        QStringList texts;
        for (const QAction* action : shell.tray.menu->actions())
            texts.append(action->isSeparator() ? QStringLiteral("-")
                                               : action->text() + u' ' + action->shortcut().toString());
        return texts;
    };
    EXPECT_EQ(entries(), (QStringList{"弹出剪切板 ", "-", "设置 Ctrl+,", "-", "暂停记录 ", "清除历史记录… ", "-",
                                      "退出 Nimbrel Ctrl+Q"}));
    const TrayMenu& tray = shell.delegate.trayMenu();

    tray.settingsAction()->trigger();
    SettingsWindow* window = shell.delegate.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    const auto menus = [&] {
        return QStringList{tray.panelAction()->text(),      tray.settingsAction()->text(),
                           tray.quitAction()->text(),       window->aboutAction()->text(),
                           window->contactAction()->text(), window->closeAction()->text()};
    };
    choose(*window->view(), AppLanguage::en);
    EXPECT_EQ(menus(), (QStringList{"Show Clipboard", "Settings", "Quit Nimbrel", "About Nimbrel",
                                    "Contact the Developer", "Close Window"}));
    choose(*window->view(), AppLanguage::zhHans);
    EXPECT_EQ(menus(), (QStringList{"弹出剪切板", "设置", "退出 Nimbrel", "关于 Nimbrel", "联系作者", "关闭窗口"}));
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
    ShortcutField* recorder = shell.openSettings()->view()->shortcutRecorder()->control();
    const QString before = recorder->text();
    // The last one only the settings window's own menu has.
    const std::pair<int, QString> cases[] = {{Key::comma, QStringLiteral("设置")},
                                             {Key::q, QStringLiteral("退出 Nimbrel")},
                                             {Key::w, QStringLiteral("关闭窗口")}};
    for (const auto& [key, entry] : cases) {
        SCOPED_TRACE(entry.toStdString());
        QStringList alerts;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    alerts.append(box->text());
                    box->done(0);
                }
        });
        answer.start(10);
        EXPECT_TRUE(recorder->handleRecordingKey(KeyEvent{KeyEvent::Type::keyDown, key, eventControl}));
        ASSERT_EQ(alerts.size(), 1);
        EXPECT_TRUE(alerts.first().contains(entry)) << alerts.first().toStdString();
        EXPECT_EQ(recorder->text(), before) << "the shortcut stays as it was";
    }
}
