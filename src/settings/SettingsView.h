#pragma once

#include "KeyboardShortcuts/Recorder.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class QSlider;
class QTimer;

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
};

// The content of the settings window: one scrolling page of cards under a header. Every control writes
// straight into the settings store and follows it, and every text follows the interface language at once.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    SettingsView(SettingsViewServices services, bool accessibilityTrusted, QWidget* parent = nullptr);
    ~SettingsView() override;

    bool accessibilityTrusted() const { return m_accessibilityTrusted; }
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

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildAccessibilityCard();
    QWidget* buildLaunchAtLoginCard();
    QWidget* buildPrimarySelectionCard();
    QWidget* buildLanguageCard();
    QWidget* buildShortcutCard();
    QWidget* buildPanelModeCard();
    QWidget* buildStorageCard();
    QWidget* buildSupportCard();
    QWidget* buildLaunchReportCard();
    QWidget* buildUpdateCheckCard();
    QWidget* withCaption(QWidget* card, const QString& captionKey);
    // A caption whose text the card's show function sets, since it follows the card's state.
    QWidget* withStateCaption(QWidget* card, QLabel*& caption);
    QLabel* text(const QString& key, int pixelSize, QFont::Weight weight, bool secondary, QWidget* parent);

    void retranslate();
    void updateRestartButton();
    void showLaunchAtLogin();
    void showPrimarySelection();
    void showLaunchReport();
    void showUpdateCheck();
    void showLanguage();
    void showPanelMode();
    void showStorage();

    SettingsViewServices m_services;
    bool m_accessibilityTrusted;
    // Texts to redraw when the language changes, by key.
    std::vector<std::pair<QPointer<QLabel>, QString>> m_texts;
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
};

}  // namespace nimbrel
