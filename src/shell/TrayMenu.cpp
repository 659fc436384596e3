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
const QString pauseKey = QStringLiteral("暂停记录");
const QString clearKey = QStringLiteral("清除历史记录…");
const QString pausedKey = QStringLiteral("Nimbrel：记录已暂停");
const QString pausedUntilKey = QStringLiteral("Nimbrel：记录已暂停，直到 %1");
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
    m_pause = m_menu.addAction(pauseKey);
    m_pause->setCheckable(true);
    connect(m_pause, &QAction::triggered, this, &TrayMenu::pauseToggled);
    m_clear = m_menu.addAction(clearKey);
    connect(m_clear, &QAction::triggered, this, &TrayMenu::clearRequested);
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
    m_pause->setText(m_settings.localized(pauseKey));
    m_clear->setText(m_settings.localized(clearKey));
    if (!m_pause->isChecked())
        m_tray.setToolTip(QStringLiteral("Nimbrel"));
    else if (m_pausedUntil)
        m_tray.setToolTip(
            m_settings.localized(pausedUntilKey)
                .arg(m_settings.locale().toString(m_pausedUntil->toLocalTime().time(), QLocale::ShortFormat)));
    else
        m_tray.setToolTip(m_settings.localized(pausedKey));
}

void TrayMenu::showPaused(bool paused, const std::optional<QDateTime>& endsAt)
{
    m_pause->setChecked(paused);
    m_pausedUntil = paused ? endsAt : std::nullopt;
    m_tray.setIcon(appIcon(paused));
    retranslate();
}

}  // namespace nimbrel
