#pragma once

#include "platform/HotKeyPlatform.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

class QLocalSocket;

namespace nimbrel {
class Console;
}

namespace nimbrel::native {

// System-wide hot keys on sway, as runtime key bindings made over its IPC socket. A binding names the
// physical key (bindcode, as the X11 grab does, whatever the layout) and runs nothing (`nop`); sway reports
// it as a binding event on Nimbrel's own event connection, so the key reaches this very process whatever
// environment sway runs commands in. It fires when the key goes down: a release binding would let the press
// through to the application in front, which would type the letter; press and release are reported together.
// sway drops runtime bindings when its configuration is reloaded; they are made again on its reload event.
// Bindings left at destruction are removed.
class SwayHotKeys final : public QObject, public HotKeyPlatform {
public:
    // `socketPath`: SWAYSOCK. A sway that does not answer a command within `replyTimeoutMs` fails it.
    SwayHotKeys(QString socketPath, Console& console, int replyTimeoutMs = 1000);
    ~SwayHotKeys() override;

    int registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) override;
    void unregisterHotKey(HotKeyRef ref) override;
    bool installEventHandler(Handler handler) override
    {
        m_handler = std::move(handler);
        return true;
    }
    void setHotKeyEventsEnabled(bool enabled) override { m_eventsEnabled = enabled; }

private:
    // One command over the IPC socket; sway's error when it fails or does not answer.
    std::optional<QString> run(const QString& command);
    bool bind(const QString& combination);
    std::optional<QString> watchEvents();
    bool contains(const QString& combination) const;
    QSet<QString> combinations() const;
    void readEvents();

    QString m_socketPath;
    Console& m_console;
    int m_replyTimeoutMs;
    QLocalSocket* m_commands = nullptr;
    QLocalSocket* m_events = nullptr;
    QByteArray m_eventBuffer;
    HotKeyRef m_nextRef = 1;
    // Each registration's combination ("Mod4+Shift+55"); one binding serves them all.
    struct Binding {
        QString combination;
        HotKeyIdentifier identifier;
    };
    QHash<HotKeyRef, Binding> m_bindings;
    Handler m_handler;
    bool m_eventsEnabled = false;
};

}  // namespace nimbrel::native
