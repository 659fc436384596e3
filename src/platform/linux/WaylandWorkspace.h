#pragma once

#include "platform/Workspace.h"
#include "platform/linux/InstalledApplications.h"
#include "platform/linux/WaylandToplevels.h"

namespace nimbrel::native {

// The applications of a Wayland session: the app ids of the compositor's window list (the activated one's
// for the application in front), matched to installed desktop entries. Where the compositor keeps its list
// to itself (KWin, GNOME) nothing is known to run or to be in front. Wayland tells no client where other windows lie.
class WaylandWorkspace final : public Workspace {
public:
    // `toplevels` null: the compositor lists no windows.
    explicit WaylandWorkspace(const WaylandToplevels* toplevels) : m_toplevels(toplevels) {}

    std::optional<RunningApplication> frontmostApplication() const override;
    QList<RunningApplication> runningApplications() const override;
    std::optional<QRect> activeWindowFrame() const override { return std::nullopt; }
    QString ownApplicationId() const override { return ownDesktopId; }
    std::optional<QIcon> applicationIcon(const QString& applicationId) const override
    {
        return m_applications.icon(applicationId);
    }
    std::optional<QString> applicationName(const QString& applicationId) const override
    {
        return m_applications.name(applicationId);
    }
    bool openURL(const QUrl& url) const override;

private:
    const WaylandToplevels* m_toplevels;
    InstalledApplications m_applications;
};

}  // namespace nimbrel::native
