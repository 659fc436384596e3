#include "platform/linux/InstalledApplications.h"

#include <QFileInfo>
#include <QLocale>
#include <QSet>

namespace nimbrel::native {

const DesktopEntries& InstalledApplications::entries(bool afterMiss) const
{
    if (!m_entries || (afterMiss && m_scanned.hasExpired(60'000))) {
        m_entries = std::make_unique<DesktopEntries>(DesktopEntries::standardFolders());
        m_scanned.start();
    }
    return *m_entries;
}

RunningApplication InstalledApplications::describe(const QString& windowClass, const QString& instance,
                                                   const QString& executable) const
{
    const auto entry =
        find([&](const DesktopEntries& installed) { return installed.forWindow(windowClass, instance, executable); });
    RunningApplication application;
    if (!windowClass.isEmpty())
        application.windowClass = windowClass;
    if (!entry) {
        application.applicationId = application.windowClass;
        return application;
    }
    application.applicationId = entry->id;
    application.localizedName = entry->localizedName(QLocale().uiLanguages());
    application.isTerminalEmulator = entry->categories.contains(QLatin1String("TerminalEmulator"));
    return application;
}

QList<RunningApplication> InstalledApplications::describeAll(const QList<WindowNames>& windows) const
{
    QList<RunningApplication> applications;
    QSet<QString> seen{ownDesktopId.toLower()};
    for (const WindowNames& window : windows) {
        RunningApplication application = describe(window.windowClass, window.instance, window.executable);
        if (!application.applicationId || application.applicationId->isEmpty())
            continue;
        // Several windows of one application (or of one class without an entry) count once.
        const QString key = application.applicationId->toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        applications.append(std::move(application));
    }
    return applications;
}

std::optional<QString> InstalledApplications::name(const QString& id) const
{
    const auto entry = find([&](const DesktopEntries& installed) { return installed.byId(id); });
    if (!entry)
        return std::nullopt;
    return entry->localizedName(QLocale().uiLanguages());
}

std::optional<QIcon> InstalledApplications::icon(const QString& id) const
{
    const auto entry = find([&](const DesktopEntries& installed) { return installed.byId(id); });
    if (!entry || entry->icon.isEmpty())
        return std::nullopt;
    QIcon icon = QFileInfo(entry->icon).isAbsolute() ? QIcon(entry->icon) : QIcon::fromTheme(entry->icon);
    if (icon.isNull())
        return std::nullopt;
    return icon;
}

}  // namespace nimbrel::native
