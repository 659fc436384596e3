#pragma once

#include <QDateTime>
#include <QMenu>
#include <QObject>

#include <optional>

namespace nimbrel {

class SettingsStore;
class TrayItem;

// The tray item's menu. Texts are interface keys shown in the chosen language and redrawn when the
// language changes.
class TrayMenu final : public QObject {
    Q_OBJECT
public:
    TrayMenu(TrayItem& tray, const SettingsStore& settings, QObject* parent = nullptr);

    QMenu* menu() { return &m_menu; }
    QAction* panelAction() const { return m_panel; }
    QAction* settingsAction() const { return m_settingsEntry; }
    QAction* quitAction() const { return m_quit; }
    QAction* pauseAction() const { return m_pause; }
    QAction* clearAction() const { return m_clear; }

    // Shows whether recording is paused: the entry's check mark, the icon and its tool tip (with the
    // time a pause ends, when it has one).
    void showPaused(bool paused, const std::optional<QDateTime>& endsAt = std::nullopt);

Q_SIGNALS:
    void panelRequested();
    void settingsRequested();
    void pauseToggled(bool paused);
    void clearRequested();
    void quitRequested();

private:
    void retranslate();

    TrayItem& m_tray;
    const SettingsStore& m_settings;
    QMenu m_menu;
    QAction* m_panel = nullptr;
    QAction* m_settingsEntry = nullptr;
    QAction* m_quit = nullptr;
    QAction* m_pause = nullptr;
    QAction* m_clear = nullptr;
    std::optional<QDateTime> m_pausedUntil;
};

}  // namespace nimbrel
