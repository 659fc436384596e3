#include "platform/linux/WaylandWorkspace.h"

#include <QDesktopServices>

namespace nimbrel::native {

std::optional<RunningApplication> WaylandWorkspace::frontmostApplication() const
{
    const std::optional<QString> appId = m_toplevels ? m_toplevels->activeAppId() : std::nullopt;
    if (!appId)
        return std::nullopt;
    // Qt names its windows by the desktop file name: Nimbrel's own windows carry its desktop id.
    if (*appId == ownDesktopId)
        return RunningApplication{ownDesktopId, QStringLiteral("Nimbrel")};
    // An app id is the desktop id by convention; older toolkits give a window-class-like name instead,
    // which the entries' StartupWMClass and id components match as on X11.
    return m_applications.describe(*appId, *appId, {});
}

QList<RunningApplication> WaylandWorkspace::runningApplications() const
{
    if (!m_toplevels)
        return {};
    QList<WindowNames> windows;
    for (const QString& appId : m_toplevels->appIds())
        windows.append({appId, appId, {}});
    return m_applications.describeAll(windows);
}

bool WaylandWorkspace::openURL(const QUrl& url) const
{
    return url.isValid() && QDesktopServices::openUrl(url);
}

}  // namespace nimbrel::native
