#include "settings/SettingsView.h"
#include "settings/SettingsWidgets.h"
#include "support/FakeShell.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

constexpr qint64 mb = 1'048'576;
using Stored = QMap<QString, QVariant>;

// A settings page in its window over the shell's fakes, the stored values read as at a real start.
struct Page : test::FakeShell {
    explicit Page(AppLanguage language = AppLanguage::zhHans, Stored stored = {}, bool pasteAllowedAtStart = true,
                  const QList<Limit>& limits = {}, PackagerPolicy packager = {})
        : FakeShell({}, nullptr, std::move(packager), nullptr,
                    (stored.insert(SettingsStore::languageKey, rawValue(language)), stored)),
          pasteAllowed(pasteAllowedAtStart)
    {
        // The recorder's texts come from the same tables, as the application wires them.
        shortcuts.setStrings([this](const QString& key) { return settings.localized(key); });
        // clang-format off
        SettingsViewServices services{settings, updater, workspace, {shortcuts, systemShortcuts, {}},
            [this] { return pasteAllowed; }, [] {}, QUrl("https://donate.invalid/nimbrel"),
            locations.dataDirectory(), [this] { return trayAvailable; }, [] {}, limits,
            [this] { return desktopShortcutAllowed; }, [this] { desktopShortcutAllowed = ++desktopShortcutAllowances > 0; },
            [this] { return usage; }, [this](bool includePinned) { clears.append(includePinned); }};
        // clang-format on
        view = new SettingsView(services, pasteAllowedAtStart);
        window = std::make_unique<SettingsWindow>(view, settings);
    }
    void show() { EXPECT_TRUE((window->show(), QTest::qWaitForWindowExposed(window.get()))); }
    QVariant stored(const QString& key) const { return defaults.values.value(key); }

    bool pasteAllowed, trayAvailable = true, desktopShortcutAllowed = false;
    int desktopShortcutAllowances = 0;
    HistoryUsage usage;
    QList<bool> clears;  // each clearing asked for: whether it took the pinned records
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

TEST(SettingsWindow, PickingALanguageTranslatesTheWholePageAtOnce)
{
    Page page(AppLanguage::zhHans, {}, false);  // the paste warning's texts are part of the page too
    page.show();
    const QStringList keys = pageTexts(*page.view);
    ASSERT_TRUE(keys.contains(QStringLiteral("Nimbrel 设置")) && keys.contains(QStringLiteral("了解详情")));
    EXPECT_EQ(page.view->languagePicker()->itemText(2), QStringLiteral("繁體中文")) << "each language in itself";

    choose(*page.view, AppLanguage::en);
    EXPECT_EQ(page.stored(SettingsStore::languageKey), QVariant(QStringLiteral("en")));
    // No turn of the event loop in between: the page is English at once.
    const QStringList english = pageTexts(*page.view);
    EXPECT_EQ(english.size(), keys.size());
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    for (const QString& text : english)
        EXPECT_FALSE(han.match(text).hasMatch()) << text.toStdString();
    for (const char* expected : {"Launch at Login", "System Default", "This desktop has no system tray"})
        EXPECT_TRUE(english.contains(QString::fromUtf8(expected))) << expected;
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel Settings"));

    choose(*page.view, AppLanguage::zhHans);
    EXPECT_EQ(pageTexts(*page.view), keys) << "every text is its key again";
    QTest::qWait(20);
    EXPECT_EQ(page.window->windowTitle(), QStringLiteral("Nimbrel 设置")) << "a deferred update brings no old title";
}

// The one test of the launch-at-login switch: it shows what the system really did.
TEST(SettingsWindow, LaunchAtLoginSwitchShowsWhatTheSystemDid)
{
    using S = LoginItemStatus;
    // clang-format off
    struct Case { const char* name; S before, afterRegister; std::optional<QString> registerError, unregisterError; bool shown; };
    const Case cases[] = {
        {"registered", S::notRegistered, S::enabled, {}, {}, true},
        {"refused", S::notRegistered, S::enabled, QStringLiteral("not allowed"), {}, false},
        {"registered but not found afterwards", S::notRegistered, S::notRegistered, {}, {}, false},
        // Switched on already: the click turns it off, unless the entry cannot be removed.
        {"unregistered", S::enabled, S::enabled, {}, {}, false},
        {"unregister fails", S::enabled, S::enabled, {}, QStringLiteral("read-only folder"), true}};
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
        EXPECT_EQ(page.stored(SettingsStore::launchAtLoginKey), QVariant(c.shown));
        const auto error = c.registerError ? c.registerError : c.unregisterError;
        EXPECT_EQ(page.console.lines, error ? QStringList{"[Nimbrel] LaunchAtLogin error: " + *error} : QStringList());
        EXPECT_EQ(std::pair(page.loginItems.registrations, page.loginItems.unregistrations),
                  std::pair(int(!on), int(on)));
        page.settings.adoptLoginItemStatus(!c.shown);  // the state found at start-up shows too
        EXPECT_EQ(toggle->isChecked(), !c.shown);
        EXPECT_EQ(page.loginItems.registrations + page.loginItems.unregistrations, 1) << "adopting asks nothing";
    }
}

TEST(SettingsWindow, DesktopSupportCardListsTheLimitsAndAsksBeforeAddingAGnomeShortcut)
{
    const QString name = QStringLiteral("desktopSupportCard");
    EXPECT_EQ(Page().view->findChild<QWidget*>(name), nullptr) << "a desktop that allows everything shows no card";
    Page page(AppLanguage::en, {}, true, {Limit::noSourceApp, Limit::noPaste, Limit::shortcutIsGnomeBinding});
    page.show();
    QWidget* card = page.view->findChild<QWidget*>(name);
    ASSERT_NE(card, nullptr);
    const QStringList texts = labelTexts(*card);
    EXPECT_TRUE(texts.contains(
        QStringLiteral("This desktop does not tell which application is in front: records show no source application, "
                       "and excluded applications cannot be recognised (pause recording instead).")));
    EXPECT_FALSE(texts.join(u' ').contains(QLatin1String("press Ctrl+V"))) << "the paste card says that already";

    // The consent is the shell's to give and keep: the page asks for it and shows it.
    QPushButton* allow = page.view->allowDesktopShortcutButton();
    ASSERT_TRUE(allow && allow->isVisibleTo(page.view) && allow->text() == QStringLiteral("Add GNOME Shortcut"));
    EXPECT_EQ(page.desktopShortcutAllowances, 0) << "nothing is changed before the user says so";
    QTest::mouseClick(allow, Qt::LeftButton);
    EXPECT_TRUE(page.desktopShortcutAllowances == 1 && !allow->isVisibleTo(page.view));
    EXPECT_TRUE(labelTexts(*card).contains(QStringLiteral("Added to GNOME's keyboard settings.")));
}

namespace {

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

// The menu's entries as it opens, "-" for the separator, " (off)" after a disabled one; triggers `pick`.
QStringList offered(const SettingsView& view, const QString& pick = {})
{
    QMenu* menu = view.addExcludedMenu();
    Q_EMIT menu->aboutToShow();
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-")
                                        : QString(action->text() + (action->isEnabled() ? "" : " (off)")));
    if (!pick.isEmpty())
        menu->actions().at(texts.indexOf(pick))->trigger();
    return texts;
}

// Types an entry into the dialog the menu's last entry opens; accepted unless `cancel`.
void typeEntry(SettingsView& view, const QString& typed, bool cancel = false)
{
    offered(view, QStringLiteral("Enter a Desktop ID or Window Class…"));
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
    Page page(AppLanguage::en, {{SettingsStore::excludedApplicationsKey, QStringList{"org.example.Viewer"}}});
    // Running: an installed editor, a mail program, a terminal no entry names. Installed too: a viewer, not running.
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    // clang-format off
    page.workspace.running = {{"org.example.Mail", "Mail", "Mail"}, {"org.example.Editor", "Example Editor", "ExampleEditor"},
                              {"XTerm", std::nullopt, "XTerm"}};
    page.workspace.installedApplications = {{"org.example.Editor", QIcon(pixmap)}, {"org.example.Viewer", QIcon(pixmap)}};
    page.workspace.applicationNames = {{"org.example.Editor", "Example Editor"}, {"org.example.Viewer", "Viewer"}};
    // clang-format on
    page.show();
    const QString type = QStringLiteral("Enter a Desktop ID or Window Class…"),
                  viewer = "Viewer (org.example.Viewer)+icon", mail = "Mail (org.example.Mail)",
                  editor = "Example Editor (ExampleEditor)+icon";
    // clang-format off
    struct Step { const char* name; std::function<void(Page&)> act; QStringList stored, rows, menu; };
    const Step steps[] = {
        {"as stored", [](Page&) {}, {"org.example.Viewer"}, {viewer}, {"Example Editor", "Mail", "XTerm", "-", type}},
        {"a running application picked", [](Page& p) { offered(*p.view, "Mail"); },
         {"org.example.Viewer", "org.example.Mail"}, {viewer, mail}, {"Example Editor", "XTerm", "-", type}},
        {"typed: a window class with blanks around it, an identifier nothing knows, blanks, a cancelled one",
         [](Page& p) { for (const char* typed : {"  ExampleEditor ", "unknown.App", "   "}) typeEntry(*p.view, typed);
                       typeEntry(*p.view, "Cancelled", true); },
         {"org.example.Viewer", "org.example.Mail", "ExampleEditor", "unknown.App"}, {viewer, mail, editor, "unknown.App"},
         {"XTerm", "-", type}},
        {"one removed", [](Page& p) {
             auto* remove = excludedRows(*p.view).at(1)->findChild<QToolButton*>(QStringLiteral("removeExcluded"));
             ASSERT_EQ(remove->accessibleName(), QStringLiteral("Remove Mail"));
             QTest::mouseClick(remove, Qt::LeftButton); },
         {"org.example.Viewer", "ExampleEditor", "unknown.App"}, {viewer, editor, "unknown.App"},
         {"Mail", "XTerm", "-", type}},
        {"every running application excluded", [](Page& p) { offered(*p.view, "Mail"); offered(*p.view, "XTerm"); },
         {"org.example.Viewer", "ExampleEditor", "unknown.App", "org.example.Mail", "XTerm"},
         {viewer, editor, "unknown.App", mail, "XTerm"}, {"No Other Applications Running (off)", "-", type}},
        {"none left, changed elsewhere", [](Page& p) { p.settings.setExcludedApplications({}); }, {}, {},
         {"Example Editor", "Mail", "XTerm", "-", type}}};
    // clang-format on
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(page);
        EXPECT_EQ(page.stored(SettingsStore::excludedApplicationsKey).toStringList(), step.stored);
        EXPECT_EQ(shownRows(*page.view), step.rows);
        EXPECT_EQ(labelTexts(*page.view->excludedApplicationsCard()).contains("No applications are excluded."),
                  step.stored.isEmpty());
        EXPECT_EQ(offered(*page.view), step.menu);
    }
}

TEST(SettingsWindow, ClearingAsksWithTheCountsAndPassesThePinnedChoice)
{
    enum class Button { clear, cancel, escape };
    // clang-format off
    struct Case { AppLanguage language; HistoryUsage usage; Button button; bool tick; QString informative, pinnedBox; QList<bool> clears; };
    const Case cases[] = {
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
                box->findChild<QPushButton*>(c.button == Button::clear ? "clear" : "cancel")->click();
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
    EXPECT_TRUE(!button->isEnabled() && button->toolTip() == QStringLiteral("The history is empty."));
    page.usage = {3, 1000, 0, 0};
    page.view->historyChanged();
    EXPECT_TRUE(button->isEnabled() && button->toolTip().isEmpty());
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
        {[](Page&) {}, {}}, {pinned(200 * mb), {}}, {pinned(200 * mb + 1), over.arg("200.0 MB", "200 MB")},
        {pinned(250 * mb), over.arg("250.0 MB", "200 MB")}, {[](Page& p) { p.settings.setMaxStorageMB(300); }, {}},
        {[](Page& p) { p.settings.setMaxStorageMB(100); }, over.arg("250.0 MB", "100 MB")},
        // Unpinned while the window was away, then shown again.
        {[](Page& p) { p.window->close(); p.usage.pinnedBytes = 0; p.show(); }, {}}};
    // clang-format on
    int flips = 0;
    bool wasShown = false;
    for (const auto& [act, shown] : steps) {
        SCOPED_TRACE(shown.toStdString());
        act(page);
        EXPECT_EQ(note->isVisibleTo(page.view) ? note->text() : QString(), shown);
        flips += !shown.isEmpty() != wasShown ? 1 : 0;
        wasShown = !shown.isEmpty();
        EXPECT_GE(heights.count(), flips) << "the window takes the new height";
    }
}

// Runs on several screens and scalings (tests/widget/CMakeLists.txt): the window is never taller than the
// screen, every card can be scrolled into full view, no text is cut, and where the screen has room there is
// nothing to scroll. Every card shows, in the languages with the longest texts.
TEST(SettingsWindowFits, EveryCardReachableAndNoTextCut)
{
    for (const AppLanguage language : {AppLanguage::zhHans, AppLanguage::en, AppLanguage::ja}) {
        SCOPED_TRACE(rawValue(language).toStdString());
        Page page(language, {{SettingsStore::excludedApplicationsKey, QStringList{"org.gnome.TextEditor", "XTerm"}}},
                  false,
                  {Limit::noCapture, Limit::noSourceApp, Limit::noPaste, Limit::pasteAsksPermission,
                   Limit::shortcutIsGnomeBinding, Limit::panelIsOrdinaryWindow});
        page.workspace.applicationNames = {{"org.gnome.TextEditor", "Text Editor"}};
        page.usage = {900, 300 * mb, 800, 250 * mb};
        page.trayAvailable = false;
        page.show();
        ASSERT_TRUE(excludedRows(*page.view).size() == 2 && page.view->budgetNote()->isVisibleTo(page.view) &&
                    !page.view->noTrayCard()->isHidden() && !page.view->accessibilityCard()->isHidden());
        SettingsWindow& window = *page.window;
        QScrollArea* scroll = page.view->scrollArea();
        const int natural =
            page.view->naturalHeight(SettingsWindow::contentWidth) + window.menuWidget()->sizeHint().height();
        // The cards that came with the showing are taken in by a queued refit.
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.maximumHeight() == natural; }, 2000));
        QCoreApplication::processEvents();

        const QRect room = window.screen()->availableGeometry();
        EXPECT_LE(window.width(), room.width());
        if (natural + window.frameGeometry().height() - window.height() <= room.height()) {
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
            if (label->isVisibleTo(page.view) && !label->text().isEmpty()) {
                EXPECT_GE(label->wordWrap() ? label->height() - label->heightForWidth(label->width())
                                            : label->width() - label->sizeHint().width(),
                          0)
                    << label->text().toStdString();
            }
        }
        for (const QAbstractButton* button : page.view->findChildren<QAbstractButton*>()) {
            if (button->isVisibleTo(page.view)) {
                EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
            }
        }
    }
}
