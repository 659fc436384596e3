#pragma once

#include "platform/HotKeyPlatform.h"

#include <QAbstractNativeEventFilter>
#include <QHash>

#include <optional>

namespace nimbrel::native {

// System-wide hot keys as passive key grabs on the root window, one for each combination of the lock
// keys (CapsLock, NumLock), so a shortcut works whatever lock is on. A grab another client holds is
// refused synchronously (BadAccess) and reported as "already taken". Press and release come back
// through Qt's native event filter; a release is matched by its key alone, so letting go of the
// modifiers first still releases the shortcut.
class X11HotKeys final : public HotKeyPlatform, public QAbstractNativeEventFilter {
public:
    X11HotKeys();
    ~X11HotKeys() override;

    int registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) override;
    void unregisterHotKey(HotKeyRef ref) override;
    bool installEventHandler(Handler handler) override;
    void setHotKeyEventsEnabled(bool enabled) override { m_eventsEnabled = enabled; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        quint8 keycode = 0;
        quint16 modifiers = 0;
        HotKeyIdentifier identifier;
    };
    void ungrab(const Grab& grab) const;

    bool m_x11 = false;
    bool m_filterInstalled = false;
    bool m_eventsEnabled = false;
    Handler m_handler;
    HotKeyRef m_nextRef = 1;
    QHash<HotKeyRef, Grab> m_grabs;
    // The hot key whose key is down, released by that key's release whatever modifiers are still held.
    std::optional<Grab> m_pressed;
};

// The unshifted character of a physical key in the current XKB layout and group (without X11: the
// session's default keymap).
class XkbKeyboardLayout final : public KeyboardLayout {
public:
    QString unshiftedText(int keyCode) const override;
};

}  // namespace nimbrel::native
