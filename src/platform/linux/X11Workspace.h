#pragma once

#include "platform/Workspace.h"
#include "platform/linux/DesktopEntries.h"

#include <QElapsedTimer>
#include <QMutex>

#include <memory>

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
    // The installed applications, read at first use and again after a miss once a minute has passed,
    // so an application installed while Nimbrel runs is found.
    const DesktopEntries& entries(bool afterMiss) const;
    // Looks an entry up, reading the installed applications again after a miss; callable from any
    // thread (capture asks for the application in front on the clipboard monitor's thread).
    template <typename Lookup>
    auto find(const Lookup& lookup) const
    {
        const QMutexLocker locked(&m_entriesLock);
        auto entry = lookup(entries(false));
        if (!entry)
            entry = lookup(entries(true));
        return entry;
    }

    bool m_x11 = false;
    mutable std::unique_ptr<DesktopEntries> m_entries;
    mutable QElapsedTimer m_scanned;
    mutable QMutex m_entriesLock;
};

}  // namespace nimbrel::native
