#pragma once

#include "platform/TrayItem.h"

#include <QSystemTrayIcon>

namespace nimbrel::native {

// The tray icon through Qt (StatusNotifierItem where the desktop offers it, the XEmbed tray otherwise).
class SystemTrayItem final : public TrayItem {
public:
    SystemTrayItem();

    void setIcon(const QIcon& icon) override { m_icon.setIcon(icon); }
    void setToolTip(const QString& text) override { m_icon.setToolTip(text); }
    void setMenu(QMenu* menu) override { m_icon.setContextMenu(menu); }
    void show() override { m_icon.show(); }
    bool isAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

private:
    QSystemTrayIcon m_icon;
};

}  // namespace nimbrel::native
