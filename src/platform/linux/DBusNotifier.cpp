#include "platform/linux/DBusNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace nimbrel::native {

void DBusNotifier::notify(const QString& title, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.nimbrel.Nimbrel"));
    // Application name, nothing replaced, icon by name, summary, body, no actions, hints, the server's timeout.
    call << QStringLiteral("Nimbrel") << 0u << QStringLiteral("org.nimbrel.Nimbrel") << title << body << QStringList()
         << hints << -1;
    // Sent without waiting for the answer: a busy or absent service must not hold up the start.
    bus.send(call);
}

}  // namespace nimbrel::native
