#pragma once

#include "platform/HotKeyPlatform.h"
#include "support/PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QList>

#include <utility>

namespace nimbrel::test {

// A fake D-Bus service (`Service`, a QDBusVirtualObject) on a private bus, answering from a thread of its own so
// that a blocking call from the test's thread is still answered; `client` is the connection for the class tested.
template <typename Service>
class FakeBusService {
public:
    bool connected() const { return !bus.address().isEmpty() && service.isConnected() && client.isConnected(); }

    void start(const QString& name, const QString& path, bool subPaths = false)
    {
        fake = new Service;
        service.registerVirtualObject(path, fake, subPaths ? QDBusConnection::SubPath : QDBusConnection::SingleNode);
        fake->moveToThread(m_thread.thread());
        service.registerService(name);
        m_name = name;
        m_path = path;
    }
    void stop()
    {
        if (!fake)
            return;
        service.unregisterObject(m_path);
        service.unregisterService(m_name);
        Service* gone = std::exchange(fake, nullptr);
        QMetaObject::invokeMethod(
            gone, [gone] { delete gone; }, Qt::BlockingQueuedConnection);
    }
    ~FakeBusService() { stop(); }

    PrivateSessionBus bus;
    QDBusConnection service = bus.connect();
    QDBusConnection client = bus.connect();
    Service* fake = nullptr;

private:
    ServiceThread m_thread;
    QString m_name;
    QString m_path;
};

// The hot-key events a handler was given, in order.
struct HotKeyEvents {
    struct Event {
        HotKeyEventKind kind;
        quint32 id;
        friend bool operator==(const Event&, const Event&) = default;
    };
    QList<Event> seen;

    HotKeyPlatform::Handler handler()
    {
        return [this](HotKeyEventKind kind, HotKeyIdentifier identifier) {
            seen.append({kind, identifier.id});
            return hotKeyNoError;
        };
    }
};

}  // namespace nimbrel::test
