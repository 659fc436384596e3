#pragma once

#include "platform/Workspace.h"
#include "platform/linux/InstalledApplications.h"

namespace nimbrel::native {

// The application in front from the window manager's _NET_ACTIVE_WINDOW, and the running ones from its
// _NET_CLIENT_LIST (each window's _NET_WM_PID and WM_CLASS), matched to installed desktop entries. Not X11:
// nothing runs and nothing is in front.
class X11Workspace final : public Workspace {
public:
    X11Workspace();
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() const override;
    QList<RunningApplication> runningApplications() const override;
    std::optional<QRect> activeWindowFrame() const override;
    QString ownApplicationId() const override;
    std::optional<QIcon> applicationIcon(const QString& applicationId) const override;
    std::optional<QString> applicationName(const QString& applicationId) const override;
    bool openURL(const QUrl& url) const override;

private:
    bool m_x11 = false;
    InstalledApplications m_applications;
};

}  // namespace nimbrel::native
