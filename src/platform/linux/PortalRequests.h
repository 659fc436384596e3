#pragma once

#include <QDBusConnection>
#include <QString>

class QObject;

namespace nimbrel::native::portal {

// The desktop portal's bus name and its one object, and the interfaces of the request and session objects it
// makes for a client.
inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
inline const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// The request the portal makes for a call whose handle_token is `token`. Known before the call, so its
// Response can be subscribed to before the portal can send it.
QString requestPath(const QDBusConnection& bus, const QString& token);

// A request or a session of the portal, followed through its one signal (Request.Response, Session.Closed) while
// it is this client's business.
class Object {
public:
    Object(QDBusConnection bus, QString interface, QString signal, QObject* receiver, const char* slot);
    ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Empty while no object is followed.
    const QString& path() const { return m_path; }
    // Follows the object at `objectPath` instead of the one before. False when the bus will not deliver its
    // signal; path() names the object all the same, so that it can still be used and closed.
    bool follow(const QString& objectPath);
    // Stops following the object; the portal keeps it.
    void forget();
    // Asks the portal to close the object, then forgets it. Not waited for: the object may be gone already, and
    // nothing depends on the answer.
    void close();

private:
    QDBusConnection m_bus;
    QString m_interface;
    QString m_signal;
    QObject* m_receiver;
    const char* m_slot;
    QString m_path;
    bool m_subscribed = false;
};

}  // namespace nimbrel::native::portal
