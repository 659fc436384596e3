#include "history/CaptureGate.h"

#include <QMutexLocker>

namespace nimbrel {

namespace {
QString withoutDesktopSuffix(QString id)
{
    if (id.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive))
        id.chop(8);
    return id;
}
}  // namespace

void CaptureGate::setExcludedApplications(const QStringList& applications)
{
    const QMutexLocker locker(&m_mutex);
    m_excluded = applications;
}

bool CaptureGate::excludes(const std::optional<RunningApplication>& application) const
{
    if (!application)
        return false;
    const QMutexLocker locker(&m_mutex);
    for (const QString& entry : m_excluded)
        if (namesApplication(entry, *application))
            return true;
    return false;
}

bool namesApplication(const QString& entry, const RunningApplication& application)
{
    const QString wanted = withoutDesktopSuffix(entry.trimmed());
    if (wanted.isEmpty())
        return false;
    for (const std::optional<QString>& name : {application.applicationId, application.windowClass})
        if (name && withoutDesktopSuffix(*name).compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

}  // namespace nimbrel
