#pragma once

#include "KeyboardShortcuts/Shortcut.h"
#include "platform/HotKeyPlatform.h"

#include <QObject>

#include <functional>
#include <map>
#include <optional>

namespace nimbrel {
class Console;
}

namespace nimbrel::KeyboardShortcuts {

// The registration layer: shortcuts registered with the desktop's hot-key service under ids that are
// never reused, the one event handler, and the switch between platform hot keys and watching the
// application's own key events while one of its menus (or the panel) holds the keyboard.
// Main thread only.
class HotKeyRegistry final : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void(const Shortcut&)>;

    // "HKRG", first character in the most significant byte.
    static constexpr quint32 signature = 0x484B5247;

    // Event kinds the handler procedure understands.
    static constexpr int rawKeyDown = 1;
    static constexpr int rawKeyUp = 3;
    static constexpr int hotKeyPressed = 5;
    static constexpr int hotKeyReleased = 6;
    // A required event parameter is missing.
    static constexpr int eventParameterNotFoundErr = -9870;

    struct HotKey {
        Shortcut shortcut;
        quint32 registeredHotKeyId = 0;
        std::optional<HotKeyRef> registeredHotKey;  // absent while released (menu open, paused or disabled)
        Action onKeyDown;
        Action onKeyUp;
    };

    // One event as the handler procedure receives it; a parameter the event does not carry is absent.
    struct Event {
        int kind = 0;
        std::optional<HotKeyIdentifier> hotKeyId;  // hot-key kinds
        std::optional<quint32> keyCode;            // raw-key kinds: stored key code
        std::optional<quint32> modifiers;          // raw-key kinds: stored modifier bits
    };

    // `describe` gives the display text used in the error line of a refused registration.
    HotKeyRegistry(HotKeyPlatform& platform, Console& console, std::function<QString(const Shortcut&)> describe,
                   QObject* parent = nullptr);
    ~HotKeyRegistry() override;

    // Registers under the next id. A refusal writes "Error registering hotkey <description>: <status>"
    // and keeps nothing; the caller is not told. The first success installs the event handler (retried
    // with each later registration until it succeeds).
    void registerShortcut(const Shortcut& shortcut, Action onKeyDown, Action onKeyUp);
    // Releases and forgets every entry with this shortcut.
    void unregisterShortcut(const Shortcut& shortcut);
    // Releases every platform hot key; the entries and their ids stay.
    void unregisterAll();
    // Registers every released entry again under its own id; an entry the platform refuses is dropped.
    void registerAll();
    // Brings registrations, hot-key events and menu key watching in line with the state.
    void updateEventHandler();

    bool isEnabled() const { return m_isEnabled; }
    void setEnabled(bool enabled);
    bool isPaused() const { return m_isPaused; }
    void setPaused(bool paused);
    bool isMenuOpen() const { return m_menuDepth > 0; }
    // A menu or the panel took the keyboard / gave it back. Nested calls count: tracking ends with the
    // outermost one.
    void menuDidBeginTracking();
    void menuDidEndTracking();

    // The handler procedure: 0 when the event was a hot key of ours and its action ran, hotKeyNotHandled
    // when it was not ours, eventParameterNotFoundErr when a needed parameter is missing.
    int handleEvent(const Event* event);

    const std::map<quint32, HotKey>& hotKeys() const { return m_hotKeys; }
    quint32 hotKeyIdCounter() const { return m_hotKeyIdCounter; }
    bool hasEventHandler() const { return m_hasEventHandler; }
    // True while the application's key events are watched for our shortcuts.
    bool isWatchingApplicationKeys() const { return m_isWatchingApplicationKeys; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void logRefusal(const Shortcut& shortcut, int status);
    const HotKey* findHotKey(int keyCode, int keyModifiers) const;
    void setWatchingApplicationKeys(bool watching);

    HotKeyPlatform& m_platform;
    Console& m_console;
    std::function<QString(const Shortcut&)> m_describe;
    std::map<quint32, HotKey> m_hotKeys;
    quint32 m_hotKeyIdCounter = 0;
    bool m_hasEventHandler = false;
    bool m_isEnabled = true;
    bool m_isPaused = false;
    int m_menuDepth = 0;
    bool m_isWatchingApplicationKeys = false;
    // The shortcut whose press was taken from the application's key events, so that its release is
    // recognised by the key alone even when a modifier was let go first.
    std::optional<Shortcut> m_pressedWhileWatching;
};

}  // namespace nimbrel::KeyboardShortcuts
