#pragma once

#include "platform/HotKeyPlatform.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QKeyCombination>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantList>

#include <optional>

namespace nimbrel {
class Console;
}

namespace nimbrel::native {

// System-wide hot keys through KDE's global shortcut daemon (kglobalaccel) on the session bus, which
// KWin asks on Wayland, where no client may grab keys. Each key combination is one action of Nimbrel's
// component, named after the combination, so a run after a crash takes over its own leftover.
// Registration waits for the daemon's answers (at most the timeout for each call): a combination another
// component owns is refused as taken before Nimbrel claims it, and one the daemon will not assign is
// refused too. Keys are Qt key codes; a key is named by what the US layout types at that position.
class KGlobalAccelHotKeys final : public QObject, public HotKeyPlatform {
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 2000;
    static const QString componentUnique;

    explicit KGlobalAccelHotKeys(Console& console, QDBusConnection bus = QDBusConnection::sessionBus(),
                                 int timeoutMs = defaultTimeoutMs);
    ~KGlobalAccelHotKeys() override;

    int registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) override;
    void unregisterHotKey(HotKeyRef ref) override;
    bool installEventHandler(Handler handler) override;
    void setHotKeyEventsEnabled(bool enabled) override { m_eventsEnabled = enabled; }

    // The daemon's action id: component, action, their display names.
    static QStringList actionId(QKeyCombination combination);

private Q_SLOTS:
    void shortcutPressed(const QString& component, const QString& action, qlonglong timestamp);
    void shortcutReleased(const QString& component, const QString& action, qlonglong timestamp);

private:
    struct Registration {
        QString action;
        QStringList actionId;
        HotKeyIdentifier identifier;
    };

    QDBusMessage call(const QString& method, const QVariantList& arguments) const;
    // The owner of the key when it is another component: "<component> (<action>)".
    std::optional<QString> otherOwner(int key, QString& error) const;
    bool listenToComponent(QString& error);
    void release(const QStringList& actionId) const;
    void deliver(HotKeyEventKind kind, const QString& component, const QString& action) const;

    Console& m_console;
    QDBusConnection m_bus;
    int m_timeoutMs;
    Handler m_handler;
    bool m_eventsEnabled = false;
    HotKeyRef m_nextRef = 1;
    // Ordered by ref: when two registrations share a combination, the first one gets its events.
    QMap<HotKeyRef, Registration> m_registrations;
    QString m_componentPath;
};

}  // namespace nimbrel::native
