#pragma once

#include "platform/Workspace.h"
#include "platform/linux/DesktopEntries.h"

#include <QElapsedTimer>
#include <QMutex>

#include <memory>

namespace nimbrel::native {

// One window's names as the display system gives them: its class (X11's WM_CLASS class or a Wayland app id),
// its instance name and its program; any may be empty.
struct WindowNames {
    QString windowClass;
    QString instance;
    QString executable;
};

// The installed applications as the workspaces of both display systems look them up: read at first use and
// again after a miss once a minute has passed, so an application installed while Nimbrel runs is found.
// Callable from any thread (capture asks for the application in front on the clipboard monitor's thread).
class InstalledApplications {
public:
    // The application that owns a window of this class (X11's WM_CLASS or a Wayland app id), its instance
    // name and program; the class stands in for the identifier when no installed entry matches it.
    RunningApplication describe(const QString& windowClass, const QString& instance, const QString& executable) const;
    // The applications these windows belong to, one entry each, in the order first seen. Windows that name
    // no application are left out, and so are Nimbrel's own.
    QList<RunningApplication> describeAll(const QList<WindowNames>& windows) const;
    std::optional<QIcon> icon(const QString& id) const;
    // The installed application's name in the user's language.
    std::optional<QString> name(const QString& id) const;

private:
    const DesktopEntries& entries(bool afterMiss) const;
    template <typename Lookup>
    auto find(const Lookup& lookup) const
    {
        const QMutexLocker locked(&m_lock);
        auto entry = lookup(entries(false));
        if (!entry)
            entry = lookup(entries(true));
        return entry;
    }

    mutable std::unique_ptr<DesktopEntries> m_entries;
    mutable QElapsedTimer m_scanned;
    mutable QMutex m_lock;
};

// Nimbrel's own desktop id: what its windows are known by.
inline const QString ownDesktopId = QStringLiteral("org.nimbrel.Nimbrel");

}  // namespace nimbrel::native
