#pragma once

#include <QIcon>
#include <QList>
#include <QRect>
#include <QString>
#include <QUrl>

#include <optional>

namespace nimbrel {

// An application with a window: its desktop id ("org.gnome.TextEditor", else its
// window class) and its name in the user's language. Either may be absent.
struct RunningApplication {
    std::optional<QString> applicationId;
    std::optional<QString> localizedName;
    // The class of its window (WM_CLASS), e.g. "XTerm"; absent for Nimbrel's own windows.
    std::optional<QString> windowClass;
    // Whether its desktop entry files it under TerminalEmulator.
    bool isTerminalEmulator = false;
};

// The desktop's applications: which ones have windows, which one is in front, and their names and icons.
class Workspace {
public:
    Workspace() = default;
    virtual ~Workspace() = default;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // The application in front; absent when there is no window manager or no active window. A window
    // of Nimbrel's own process reports Nimbrel's own identifier. Callable from any thread.
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;
    // The applications with a window now, one entry each and Nimbrel left out, for the user to pick from.
    // Empty when the desktop does not tell. Main thread only.
    virtual QList<RunningApplication> runningApplications() const = 0;
    // Where the window with the keyboard focus lies, in native pixels of the virtual desktop (the root
    // window's coordinates, before any scaling of Qt's). Absent when there is no active window or it is
    // one of Nimbrel's own, which tells nothing of where the user works. Main thread only.
    virtual std::optional<QRect> activeWindowFrame() const = 0;
    // Nimbrel's own identifier, "org.nimbrel.Nimbrel".
    virtual QString ownApplicationId() const = 0;
    // The icon of the installed application with that identifier; absent when none is installed.
    virtual std::optional<QIcon> applicationIcon(const QString& applicationId) const = 0;
    // The name, in the user's language, of the installed application with that identifier; absent when none
    // is installed.
    virtual std::optional<QString> applicationName(const QString& applicationId) const = 0;
    // Opens a web address in the user's default browser; false when nothing could open it.
    virtual bool openURL(const QUrl& url) const = 0;
};

}  // namespace nimbrel
