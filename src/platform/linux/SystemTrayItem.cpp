#include "platform/linux/SystemTrayItem.h"

#include <QCursor>
#include <QMenu>

namespace nimbrel::native {

SystemTrayItem::SystemTrayItem()
{
    // A left click opens the same menu as a right click: the tray item is Nimbrel's only menu.
    QObject::connect(&m_icon, &QSystemTrayIcon::activated, &m_icon, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_icon.contextMenu())
            m_icon.contextMenu()->popup(QCursor::pos());
    });
}

}  // namespace nimbrel::native
