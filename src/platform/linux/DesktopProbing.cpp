#include "platform/linux/DesktopProbing.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFileInfo>

#include <wayland-client.h>
#include <xcb/xcb.h>

namespace nimbrel::native {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString globalShortcutDaemon = QStringLiteral("org.kde.kglobalaccel");
// A portal that does not answer within this long counts as absent: the probe must not hold up a start.
constexpr int portalTimeoutMs = 1000;

void announceGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t version)
{
    static_cast<QMap<QString, quint32>*>(data)->insert(QString::fromLatin1(interface), version);
}

void forgetGlobal(void*, wl_registry*, uint32_t)
{
}

const wl_registry_listener registryListener{announceGlobal, forgetGlobal};

bool x11Reachable()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

quint32 portalVersion(QDBusConnection& bus, const QString& interface)
{
    QDBusMessage get =
        QDBusMessage::createMethodCall(portalService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, portalTimeoutMs);
    return reply.isValid() ? reply.value().variant().toUInt() : 0;
}

}  // namespace

QMap<QString, quint32> waylandGlobals(const char* display)
{
    QMap<QString, quint32> globals;
    wl_display* connection = wl_display_connect(display);
    if (!connection)
        return globals;
    wl_registry* registry = wl_display_get_registry(connection);
    wl_registry_add_listener(registry, &registryListener, &globals);
    if (wl_display_roundtrip(connection) < 0)
        globals.clear();
    wl_registry_destroy(registry);
    wl_display_disconnect(connection);
    return globals;
}

DesktopProbe probeDisplays()
{
    DesktopProbe probe;
    probe.sessionType = qEnvironmentVariable("XDG_SESSION_TYPE").toLower();
    probe.desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    probe.x11Display = x11Reachable();
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        probe.globals = waylandGlobals();
        probe.waylandDisplay = !probe.globals.isEmpty();
    }
    const QString swaySocket = qEnvironmentVariable("SWAYSOCK");
    probe.swayIpc = !swaySocket.isEmpty() && QFileInfo(swaySocket).exists();
    return probe;
}

void probeSessionBus(DesktopProbe& probe)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusConnectionInterface* names = bus.interface();
        for (const QString& name : {globalShortcutDaemon, portalService}) {
            if (names->isServiceRegistered(name).value())
                probe.busNames.insert(name);
        }
        // The portal is usually started on demand: asking it for a property starts it.
        probe.remoteDesktopPortal = portalVersion(bus, QStringLiteral("org.freedesktop.portal.RemoteDesktop"));
        probe.globalShortcutsPortal = portalVersion(bus, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"));
        if (probe.remoteDesktopPortal > 0 || probe.globalShortcutsPortal > 0)
            probe.busNames.insert(portalService);
    }
}

}  // namespace nimbrel::native
