#pragma once

#include "platform/Workspace.h"
#include "platform/linux/InstalledApplications.h"
#include "platform/linux/WaylandToplevels.h"

namespace nimbrel::native {

// The application in front in a Wayland session: the activated window's app id from the compositor's
// window list, matched to an installed desktop entry. Where the compositor keeps its list to itself
// (KWin, GNOME) nothing is known to be in front. Wayland tells no client where other windows lie.
class WaylandWorkspace final : public Workspace {
public:
    // `toplevels` null: the compositor lists no windows.
    explicit WaylandWorkspace(const WaylandToplevels* toplevels) : m_toplevels(toplevels) {}

    std::optional<RunningApplication> frontmostApplication() const override;
    std::optional<QRect> activeWindowFrame() const override { return std::nullopt; }
    QString ownBundleIdentifier() const override { return ownDesktopId; }
    std::optional<QIcon> applicationIcon(const QString& bundleIdentifier) const override
    {
        return m_applications.icon(bundleIdentifier);
    }
    bool openURL(const QUrl& url) const override;

private:
    const WaylandToplevels* m_toplevels;
    InstalledApplications m_applications;
};

}  // namespace nimbrel::native
