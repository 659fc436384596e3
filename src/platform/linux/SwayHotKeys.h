#pragma once

#include "platform/HotKeyPlatform.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

class QLocalSocket;

namespace nimbrel {
class Console;
}

namespace nimbrel::native {

// The sway command that runs `program --toggle`, the path quoted for the shell sway hands it to; nothing for a
// path sway's own command parser would take apart (one with ' " \ $ or a control character).
std::optional<QString> swayToggleCommand(const QString& program);

// System-wide hot keys on sway, as runtime key bindings made over its IPC socket. A binding names the
// physical key (bindcode, as the X11 grab does, whatever the layout) and fires on release, like Nimbrel's
// shortcut; it runs `program --toggle`, which reaches the running Nimbrel. So the handler is never called:
// installEventHandler accepts one only so the shortcut machinery stays the same on every desktop.
// sway drops runtime bindings when its configuration is reloaded; they are made again on its reload event.
// Bindings left at destruction are removed, so a quit Nimbrel leaves no key that silently starts it again.
class SwayHotKeys final : public QObject, public HotKeyPlatform {
public:
    // `socketPath`: SWAYSOCK. `program`: what the bindings run, QCoreApplication::applicationFilePath() in the
    // program. A sway that does not answer a command within `replyTimeoutMs` fails it.
    SwayHotKeys(QString socketPath, QString program, Console& console, int replyTimeoutMs = 1000);
    ~SwayHotKeys() override;

    int registerHotKey(int carbonKeyCode, int carbonModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) override;
    void unregisterHotKey(HotKeyRef ref) override;
    bool installEventHandler(Handler) override { return true; }
    void setHotKeyEventsEnabled(bool) override {}

private:
    // One command over the IPC socket; sway's error when it fails or does not answer.
    std::optional<QString> run(const QString& command);
    bool bind(const QString& combination);
    std::optional<QString> watchReloads();
    void readEvents();

    QString m_socketPath;
    QString m_program;
    Console& m_console;
    int m_replyTimeoutMs;
    QLocalSocket* m_commands = nullptr;
    QLocalSocket* m_events = nullptr;
    QByteArray m_eventBuffer;
    HotKeyRef m_nextRef = 1;
    // Each registration's combination ("Mod4+Shift+55"); one binding serves them all.
    QHash<HotKeyRef, QString> m_bindings;
};

}  // namespace nimbrel::native
