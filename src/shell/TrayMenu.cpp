#include "shell/TrayMenu.h"

#include "platform/TrayItem.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsWidgets.h"
#include "shell/AppIcon.h"

#include <QApplication>

namespace nimbrel {

namespace {
QIcon menuIcon(Symbol symbol)
{
    return symbolIcon(symbol, QApplication::palette().color(QPalette::WindowText));
}

const QString panelKey = QStringLiteral("弹出剪切板");
const QString settingsKey = QStringLiteral("设置");
const QString quitKey = QStringLiteral("退出 Nimbrel");
}  // namespace

TrayMenu::TrayMenu(TrayItem& tray, const SettingsStore& settings, QObject* parent)
    : QObject(parent), m_tray(tray), m_settings(settings)
{
    m_panel = m_menu.addAction(menuIcon(Symbol::clipboard), panelKey);
    connect(m_panel, &QAction::triggered, this, &TrayMenu::panelRequested);
    m_menu.addSeparator();
    m_settingsEntry = m_menu.addAction(menuIcon(Symbol::gear), settingsKey);
    m_settingsEntry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_settingsEntry->setShortcutVisibleInContextMenu(true);
    connect(m_settingsEntry, &QAction::triggered, this, &TrayMenu::settingsRequested);
    m_menu.addSeparator();
    m_quit = m_menu.addAction(menuIcon(Symbol::power), quitKey);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setShortcutVisibleInContextMenu(true);
    connect(m_quit, &QAction::triggered, this, &TrayMenu::quitRequested);
    connect(&m_settings, &SettingsStore::languageChanged, this, &TrayMenu::retranslate);
    retranslate();

    m_tray.setIcon(appIcon());
    m_tray.setMenu(&m_menu);
}

void TrayMenu::retranslate()
{
    m_panel->setText(m_settings.localized(panelKey));
    m_settingsEntry->setText(m_settings.localized(settingsKey));
    m_quit->setText(m_settings.localized(quitKey));
    m_tray.setToolTip(QStringLiteral("Nimbrel"));
}

}  // namespace nimbrel
