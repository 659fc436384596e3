#pragma once

#include "platform/HotKeyPlatform.h"
#include "support/PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>

#include <functional>
#include <utility>

namespace nimbrel::test {

// Counts the signals whose second argument ends in "marker" that the client sees.
class MarkerProbe final : public QObject {
    Q_OBJECT
public:
    int seen = 0;
public Q_SLOTS:
    void signal(const QDBusMessage& message) { seen += message.arguments().value(1).toString().endsWith("marker"); }
};

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
    ~FakeBusService()
    {
        if (!fake)
            return;
        service.unregisterObject(m_path);
        service.unregisterService(m_name);
        Service* gone = std::exchange(fake, nullptr);
        QMetaObject::invokeMethod(
            gone, [gone] { delete gone; }, Qt::BlockingQueuedConnection);
    }

    // Sends the signal made of each item, then of "marker", and waits until the client has seen the marker and
    // so everything before it; `watch(signal("marker"))` first.
    bool watch(const QDBusMessage& marker)
    {
        return client.connect({}, marker.path(), marker.interface(), marker.member(), &m_probe,
                              SLOT(signal(QDBusMessage)));
    }
    bool sendInOrder(const QStringList& items, const std::function<QDBusMessage(const QString&)>& signal)
    {
        const int before = m_probe.seen;
        for (const QString& item : items + QStringList{"marker"})
            if (!service.send(signal(item)))
                return false;
        return waitUntil([&] { return m_probe.seen > before; });
    }

    PrivateSessionBus bus;
    QDBusConnection service = bus.connect();
    QDBusConnection client = bus.connect();
    Service* fake = nullptr;

private:
    ServiceThread m_thread;
    MarkerProbe m_probe;
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
