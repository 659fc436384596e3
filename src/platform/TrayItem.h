#pragma once

#include <QString>

class QIcon;
class QMenu;

namespace nimbrel {

// Nimbrel's permanent presence on screen: an icon in the system tray with a pull-down menu.
class TrayItem {
public:
    TrayItem() = default;
    virtual ~TrayItem() = default;
    TrayItem(const TrayItem&) = delete;
    TrayItem& operator=(const TrayItem&) = delete;

    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& text) = 0;
    // The menu stays owned by the caller.
    virtual void setMenu(QMenu* menu) = 0;
    virtual void show() = 0;
    // False when the desktop has no tray to show the icon in.
    virtual bool isAvailable() const = 0;
};

}  // namespace nimbrel
