#pragma once

#include <QMenu>
#include <QObject>

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

Q_SIGNALS:
    void panelRequested();
    void settingsRequested();
    void quitRequested();

private:
    void retranslate();

    TrayItem& m_tray;
    const SettingsStore& m_settings;
    QMenu m_menu;
    QAction* m_panel = nullptr;
    QAction* m_settingsEntry = nullptr;
    QAction* m_quit = nullptr;
};

}  // namespace nimbrel
