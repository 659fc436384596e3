#pragma once

#include "platform/HotKeyPlatform.h"
#include "platform/linux/PortalRequests.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QKeyCombination>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QVariantMap>

#include <optional>

namespace nimbrel {
class Console;
}

namespace nimbrel::native {

// One shortcut as BindShortcuts takes them and its Response gives them back (a(sa{sv})): the id and its
// properties (description, preferred_trigger; trigger_description in the answer). Register it with
// qDBusRegisterMetaType, as a list too, before a message carries it.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

}  // namespace nimbrel::native

Q_DECLARE_METATYPE(nimbrel::native::PortalShortcut)

namespace nimbrel::native {

// System-wide hot keys through the desktop portal's global shortcuts (org.freedesktop.portal.GlobalShortcuts),
// for Wayland desktops that offer no other way. The desktop decides: it may show the user a dialog, assign
// another trigger than the one asked for, or none. So registration only sends the request; a console line
// later reports the trigger the desktop assigned, or that it assigned none. A shortcut is bound once per
// session and the portal binds a session only once: a combination the session lacks closes it and binds
// everything wanted on a new one. Unregistering binds nothing: the binding stays with the session (the desktop
// would ask the user again for a new one), and its events reach no one until the combination is registered
// again.
class PortalGlobalShortcuts final : public QObject, public HotKeyPlatform {
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 5000;

    explicit PortalGlobalShortcuts(Console& console, QDBusConnection bus = QDBusConnection::sessionBus(),
                                   int timeoutMs = defaultTimeoutMs);
    ~PortalGlobalShortcuts() override;

    int registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) override;
    void unregisterHotKey(HotKeyRef ref) override;
    bool installEventHandler(Handler handler) override;
    void setHotKeyEventsEnabled(bool enabled) override { m_eventsEnabled = enabled; }

    // A combination as the XDG shortcuts format writes it: LOGO, CTRL, ALT, SHIFT, then the key's unshifted
    // keysym name ("LOGO+SHIFT+v", "CTRL+KP_5"). Empty for a key without a keysym.
    static QString trigger(QKeyCombination combination);

private Q_SLOTS:
    void requestAnswered(uint response, const QVariantMap& results, const QDBusMessage& message);
    void shortcutActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                           const QVariantMap& options);
    void shortcutDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                             const QVariantMap& options);
    void sessionClosed(const QVariantMap& details, const QDBusMessage& message);

private:
    struct Registration {
        QString id;       // named after the trigger, so a changed shortcut is new to the desktop
        QString trigger;  // the one asked for
        QString text;     // the combination for console lines ("Meta+Shift+V")
        HotKeyIdentifier identifier;
    };
    enum class Pending { nothing, session, bind };

    bool watchRequest(const QString& path);
    void forgetRequest();
    bool openSession(QString& error);
    void closeSession();
    void bind();
    void sessionCreated(uint response, const QVariantMap& results);
    void shortcutsBound(uint response, const QVariantMap& results);
    void deliver(HotKeyEventKind kind, const QDBusObjectPath& session, const QString& id) const;

    Console& m_console;
    QDBusConnection m_bus;
    int m_timeoutMs;
    Handler m_handler;
    bool m_eventsEnabled = false;
    bool m_listening = false;
    HotKeyRef m_nextRef = 1;
    // Ordered by ref: when two registrations share a combination, the first one gets its events.
    QMap<HotKeyRef, Registration> m_registrations;

    int m_sessions = 0;
    int m_requests = 0;
    portal::Object m_session;
    // The shortcut ids sent with the session's bind, or to be sent once the session exists.
    QSet<QString> m_sessionIds;
    Pending m_pending = Pending::nothing;
    portal::Object m_request;
    QTimer m_sessionTimeout;
};

}  // namespace nimbrel::native
