#include "platform/linux/PortalRequests.h"

#include <QDBusMessage>

#include <utility>

namespace nimbrel::native::portal {

QString requestPath(const QDBusConnection& bus, const QString& token)
{
    // The portal names its objects after the caller's unique name: ":1.42" becomes "1_42".
    QString sender = bus.baseService();
    sender.remove(0, sender.startsWith(u':') ? 1 : 0).replace(u'.', u'_');
    return path + QStringLiteral("/request/") + sender + u'/' + token;
}

Object::Object(QDBusConnection bus, QString interface, QString signal, QObject* receiver, const char* slot)
    : m_bus(std::move(bus)),
      m_interface(std::move(interface)),
      m_signal(std::move(signal)),
      m_receiver(receiver),
      m_slot(slot)
{
}

Object::~Object()
{
    forget();
}

bool Object::follow(const QString& objectPath)
{
    forget();
    m_path = objectPath;
    m_subscribed = m_bus.connect(service, m_path, m_interface, m_signal, m_receiver, m_slot);
    return m_subscribed;
}

void Object::forget()
{
    if (m_subscribed)
        m_bus.disconnect(service, m_path, m_interface, m_signal, m_receiver, m_slot);
    m_subscribed = false;
    m_path.clear();
}

void Object::close()
{
    if (!m_path.isEmpty())
        m_bus.send(QDBusMessage::createMethodCall(service, m_path, m_interface, QStringLiteral("Close")));
    forget();
}

}  // namespace nimbrel::native::portal
