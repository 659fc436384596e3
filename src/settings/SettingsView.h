#pragma once

#include "KeyboardShortcuts/Recorder.h"
#include "history/HistoryEdits.h"
#include "platform/DesktopSupport.h"

#include <QList>
#include <QPointer>
#include <QUrl>

#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;
class QMenu;
class QPropertyAnimation;
class QPushButton;
class QScrollArea;
class QSlider;
class QTimer;
class QVBoxLayout;

namespace nimbrel {

class PanelModeTile;
class SettingsStore;
class ToggleSwitch;
class UpdaterService;
class Workspace;

// What the settings page works with.
struct SettingsViewServices {
    SettingsStore& settings;
    UpdaterService& updater;
    const Workspace& workspace;
    KeyboardShortcuts::RecorderEnvironment recorder;
    // Whether chosen entries can be pasted into the application in front (keys can be synthesized).
    std::function<bool()> isPasteAllowed;
    // Helps the user make paste possible (opens the help page on a desktop without key synthesis).
    std::function<void()> requestPasteAccess;
    QUrl donationURL;
    // Where the history and settings are kept, as the storage card names it.
    QString dataDirectory;
    // Without a tray the page says how to reach Nimbrel and offers the way out (unset: there is one).
    std::function<bool()> isTrayAvailable;
    std::function<void()> quit;
    // What this desktop does not let Nimbrel do (empty on a desktop that lets it do everything: no card).
    QList<Limit> desktopLimits;
    // Where the shortcut is a desktop setting Nimbrel may change only with the user's consent: whether it
    // has it, and how to give it. Unset elsewhere.
    std::function<bool()> isDesktopShortcutAllowed;
    std::function<void()> allowDesktopShortcut;
    // What the history holds now, for the clearing button and the note on the budget (unset: nothing).
    std::function<HistoryUsage()> historyUsage;
    // Clears the history, the pinned records too when asked; called once the user has confirmed.
    std::function<void(bool includePinned)> clearHistory;
};

// How to reach Nimbrel without a tray: its shortcut (when one is set) and the two commands, in the
// interface language.
QString waysIn(const SettingsStore& settings, const KeyboardShortcuts::Shortcuts& shortcuts);

// The content of the settings window: one scrolling page of cards under a header. Every control writes
// straight into the settings store and follows it, and every text follows the interface language at once.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    SettingsView(SettingsViewServices services, bool accessibilityTrusted, QWidget* parent = nullptr);
    ~SettingsView() override;

    bool accessibilityTrusted() const { return m_accessibilityTrusted; }
    // The height the page needs at this width to show every card without scrolling.
    int naturalHeight(int width) const;
    // Recomputes whether paste is possible; the warning card follows.
    void recheckAccessibility();

    // The controls, for tests and for the window's focus handling.
    QWidget* accessibilityCard() const { return m_accessibilityCard; }
    QPushButton* restartButton() const { return m_restart; }
    ToggleSwitch* launchAtLoginSwitch() const { return m_launchAtLogin; }
    ToggleSwitch* primarySelectionSwitch() const { return m_primarySelection; }
    ToggleSwitch* launchReportSwitch() const { return m_launchReport; }
    QLabel* launchReportCaption() const { return m_launchReportCaption; }
    ToggleSwitch* updateCheckSwitch() const { return m_updateCheck; }
    QLabel* updateCheckCaption() const { return m_updateCheckCaption; }
    QComboBox* languagePicker() const { return m_language; }
    KeyboardShortcuts::Recorder* shortcutRecorder() const { return m_recorder; }
    QComboBox* panelModePicker() const { return m_panelMode; }
    const std::vector<PanelModeTile*>& panelModeTiles() const { return m_tiles; }
    QSlider* storageSlider() const { return m_storage; }
    QLabel* storageValue() const { return m_storageValue; }
    QPushButton* supportButton() const { return m_support; }
    QTimer* trustTimer() const { return m_trustTimer; }
    QScrollArea* scrollArea() const { return m_scroll; }
    // The cards of the scrolling page, top to bottom (hidden ones included).
    QList<QWidget*> cards() const;
    QWidget* noTrayCard() const { return m_noTrayCard; }
    QPushButton* allowDesktopShortcutButton() const { return m_allowDesktopShortcut; }
    QLabel* noTrayText() const { return m_noTrayText; }
    QPushButton* quitButton() const { return m_quit; }
    QWidget* excludedApplicationsCard() const { return m_excludedCard; }
    // Offers the running applications and a field to type an identifier, from its menu.
    QPushButton* addExcludedButton() const { return m_addExcluded; }
    QMenu* addExcludedMenu() const { return m_addExcludedMenu; }
    QPushButton* clearHistoryButton() const { return m_clearHistory; }
    QLabel* budgetNote() const { return m_budgetNote; }

public Q_SLOTS:
    // Records came or went: the clearing button and the note on the budget follow (at once while the page
    // shows, else when it shows next).
    void historyChanged();

Q_SIGNALS:
    // A card came or went: the page needs another height.
    void naturalHeightChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildNoTrayCard();
    QWidget* buildAccessibilityCard();
    QWidget* buildDesktopSupportCard();
    void showDesktopShortcutConsent();
    QWidget* buildLaunchAtLoginCard();
    QWidget* buildPrimarySelectionCard();
    QWidget* buildExcludedApplicationsCard();
    QWidget* buildLanguageCard();
    QWidget* buildShortcutCard();
    QWidget* buildPanelModeCard();
    QWidget* buildStorageCard();
    QWidget* buildSupportCard();
    QWidget* buildLaunchReportCard();
    QWidget* buildUpdateCheckCard();
    // The card over its caption; with an empty key the caption's text is the caller's to set.
    QWidget* withCaption(QWidget* card, const QString& captionKey, QLabel** captionOut = nullptr);
    // A label that follows the language under `key`; label() alone is one whose text the caller sets.
    QLabel* text(const QString& key, int pixelSize, QFont::Weight weight, bool secondary, QWidget* parent);
    static QLabel* label(int pixelSize, QFont::Weight weight, bool secondary, QWidget* parent);

    void retranslate();
    void updateRestartButton();
    void showLaunchAtLogin();
    void showPrimarySelection();
    void showLaunchReport();
    void showUpdateCheck();
    void showLanguage();
    void showPanelMode();
    void showStorage();
    void showWaysIn();
    void showTrayState();
    void showExcludedApplications();
    void fillAddExcludedMenu();
    void exclude(const QString& entry);
    void askForExcludedEntry();
    void showHistoryUsage();
    void confirmClearHistory();

    SettingsViewServices m_services;
    bool m_accessibilityTrusted;
    // Texts to redraw when the language changes, by key.
    std::vector<std::pair<QPointer<QLabel>, QString>> m_texts;
    QWidget* m_header = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_page = nullptr;
    QWidget* m_noTrayCard = nullptr;
    QPushButton* m_allowDesktopShortcut = nullptr;
    QLabel* m_desktopShortcutAdded = nullptr;
    QLabel* m_noTrayText = nullptr;
    QPushButton* m_quit = nullptr;
    QLabel* m_storageCaption = nullptr;
    QWidget* m_accessibilityCard = nullptr;
    QPushButton* m_openSettings = nullptr;
    QPushButton* m_restart = nullptr;
    QPropertyAnimation* m_fade = nullptr;
    ToggleSwitch* m_launchAtLogin = nullptr;
    ToggleSwitch* m_primarySelection = nullptr;
    ToggleSwitch* m_launchReport = nullptr;
    QLabel* m_launchReportCaption = nullptr;
    ToggleSwitch* m_updateCheck = nullptr;
    QLabel* m_updateCheckCaption = nullptr;
    QComboBox* m_language = nullptr;
    KeyboardShortcuts::Recorder* m_recorder = nullptr;
    QComboBox* m_panelMode = nullptr;
    std::vector<PanelModeTile*> m_tiles;
    QSlider* m_storage = nullptr;
    QLabel* m_storageValue = nullptr;
    QPushButton* m_support = nullptr;
    QTimer* m_trustTimer = nullptr;
    QWidget* m_excludedCard = nullptr;
    QVBoxLayout* m_excludedRows = nullptr;
    QLabel* m_noExcluded = nullptr;
    QPushButton* m_addExcluded = nullptr;
    QMenu* m_addExcludedMenu = nullptr;
    QPushButton* m_clearHistory = nullptr;
    QLabel* m_budgetNote = nullptr;
};

}  // namespace nimbrel
