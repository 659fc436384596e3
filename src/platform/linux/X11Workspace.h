#pragma once

#include "platform/Workspace.h"
#include "platform/linux/InstalledApplications.h"

namespace nimbrel::native {

// The application in front from the window manager's _NET_ACTIVE_WINDOW (its _NET_WM_PID and WM_CLASS),
// matched to an installed desktop entry. Not X11: nothing is in front.
class X11Workspace final : public Workspace {
public:
    X11Workspace();
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() const override;
    std::optional<QRect> activeWindowFrame() const override;
    QString ownBundleIdentifier() const override;
    std::optional<QIcon> applicationIcon(const QString& bundleIdentifier) const override;
    bool openURL(const QUrl& url) const override;

private:
    bool m_x11 = false;
    InstalledApplications m_applications;
};

}  // namespace nimbrel::native
