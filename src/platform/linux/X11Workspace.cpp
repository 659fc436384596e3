#include "platform/linux/X11Workspace.h"
#include "platform/linux/X11Connection.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace nimbrel::native {

namespace {

QByteArray property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type, uint32_t length)
{
    if (name == XCB_ATOM_NONE)
        return {};
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, length), nullptr);
    if (!reply)
        return {};
    QByteArray bytes(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
    return bytes;
}

// The value of a property asked for earlier; empty when the window has gone (the error is taken here, so it
// is not reported as a fault) or lacks the property.
QByteArray propertyValue(xcb_connection_t* c, xcb_get_property_cookie_t cookie)
{
    xcb_generic_error_t* error = nullptr;
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, cookie, &error), &std::free);
    std::free(error);
    if (!reply)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<uint32_t> cardinal(const QByteArray& bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    uint32_t value = 0;
    std::memcpy(&value, bytes.constData(), 4);
    return value;
}

// The window the window manager names active; none when it names none.
std::optional<xcb_window_t> activeWindow(xcb_connection_t* c)
{
    const auto active = cardinal(property(c, x11RootWindow(c), x11Atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1));
    if (!active || *active == XCB_WINDOW_NONE)
        return std::nullopt;
    return *active;
}

// WM_CLASS holds the instance and the class, each ending in a NUL.
WindowNames classOf(const QByteArray& wmClass)
{
    const QList<QByteArray> parts = wmClass.split('\0');
    WindowNames names;
    names.instance = parts.size() > 0 ? QString::fromLocal8Bit(parts[0]) : QString();
    names.windowClass = parts.size() > 1 ? QString::fromLocal8Bit(parts[1]) : QString();
    return names;
}

QString executableOf(uint32_t pid)
{
    const QString target = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    return QFileInfo(target).fileName();
}

}  // namespace

X11Workspace::X11Workspace() : m_x11(QGuiApplication::platformName() == QLatin1String("xcb"))
{
}

X11Workspace::~X11Workspace() = default;

QString X11Workspace::ownApplicationId() const
{
    return ownDesktopId;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() const
{
    xcb_connection_t* c = m_x11 ? x11Connection() : nullptr;
    if (!c)
        return std::nullopt;
    const auto active = activeWindow(c);
    if (!active)
        return std::nullopt;

    const auto pid = cardinal(property(c, *active, x11Atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 1));
    if (pid && *pid == static_cast<uint32_t>(::getpid()))
        return RunningApplication{ownDesktopId, QStringLiteral("Nimbrel")};

    const WindowNames names = classOf(property(c, *active, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256));
    const QString executable = pid ? executableOf(*pid) : QString();
    return m_applications.describe(names.windowClass, names.instance, executable);
}

QList<RunningApplication> X11Workspace::runningApplications() const
{
    xcb_connection_t* c = m_x11 ? x11Connection() : nullptr;
    if (!c)
        return {};
    // The window manager lists the windows it manages; without one nothing is known to run.
    const QByteArray list = property(c, x11RootWindow(c), x11Atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 1 << 16);
    std::vector<xcb_window_t> windows(static_cast<size_t>(list.size()) / sizeof(xcb_window_t));
    if (windows.empty())
        return {};
    std::memcpy(windows.data(), list.constData(), windows.size() * sizeof(xcb_window_t));

    // Every question first, then the answers: one round trip however many windows there are.
    const xcb_atom_t pidAtom = x11Atom(c, "_NET_WM_PID");
    struct Questions {
        xcb_get_property_cookie_t pid;
        xcb_get_property_cookie_t wmClass;
    };
    std::vector<Questions> questions;
    questions.reserve(windows.size());
    for (const xcb_window_t window : windows)
        questions.push_back({xcb_get_property(c, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                             xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256)});
    const auto ownPid = static_cast<uint32_t>(::getpid());
    QList<WindowNames> named;
    for (const Questions& asked : questions) {
        const auto pid = cardinal(propertyValue(c, asked.pid));
        WindowNames names = classOf(propertyValue(c, asked.wmClass));
        if (pid && *pid == ownPid)
            continue;
        names.executable = pid ? executableOf(*pid) : QString();
        named.append(names);
    }
    return m_applications.describeAll(named);
}

std::optional<QRect> X11Workspace::activeWindowFrame() const
{
    xcb_connection_t* c = m_x11 ? x11Connection() : nullptr;
    if (!c)
        return std::nullopt;
    const auto active = activeWindow(c);
    if (!active)
        return std::nullopt;
    const xcb_window_t root = x11RootWindow(c);

    // The window's own area, its origin taken through the window manager's frame to the root. Only a
    // window on screen counts: the window manager may leave the name of one that has gone. Errors for a
    // window that went away are taken here, so they are not reported as faults.
    const auto attributesCookie = xcb_get_window_attributes(c, *active);
    const auto geometryCookie = xcb_get_geometry(c, *active);
    const auto originCookie = xcb_translate_coordinates(c, *active, root, 0, 0);
    xcb_generic_error_t* errors[3] = {};
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(c, attributesCookie, &errors[0]), &std::free);
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(c, geometryCookie, &errors[1]), &std::free);
    const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> origin(
        xcb_translate_coordinates_reply(c, originCookie, &errors[2]), &std::free);
    for (xcb_generic_error_t* error : errors)
        std::free(error);
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !origin || !origin->same_screen)
        return std::nullopt;
    const auto pid = cardinal(property(c, *active, x11Atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 1));
    if (pid && *pid == static_cast<uint32_t>(::getpid()))
        return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

std::optional<QIcon> X11Workspace::applicationIcon(const QString& applicationId) const
{
    return m_applications.icon(applicationId);
}

std::optional<QString> X11Workspace::applicationName(const QString& applicationId) const
{
    return m_applications.name(applicationId);
}

bool X11Workspace::openURL(const QUrl& url) const
{
    return url.isValid() && QDesktopServices::openUrl(url);
}

}  // namespace nimbrel::native
