#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace nimbrel {

// What a hot key was registered under: a four-character signature and a number.
struct HotKeyIdentifier {
    quint32 signature = 0;
    quint32 id = 0;
    friend bool operator==(const HotKeyIdentifier&, const HotKeyIdentifier&) = default;
};

// An opaque reference to one registration.
using HotKeyRef = quint64;

// The two hot-key event kinds.
enum class HotKeyEventKind { pressed = 5, released = 6 };

// Status codes of the hot-key service; diagnostic lines show the number.
inline constexpr int hotKeyNoError = 0;
inline constexpr int hotKeyNotHandled = -9874;
inline constexpr int hotKeyTaken = -9878;
inline constexpr int hotKeyInvalid = -9879;

// The desktop's system-wide hot-key service: key combinations that reach Nimbrel whichever
// application is in front, with press and release.
class HotKeyPlatform {
public:
    HotKeyPlatform() = default;
    virtual ~HotKeyPlatform() = default;
    HotKeyPlatform(const HotKeyPlatform&) = delete;
    HotKeyPlatform& operator=(const HotKeyPlatform&) = delete;

    using Handler = std::function<int(HotKeyEventKind kind, HotKeyIdentifier identifier)>;

    // Registers the combination (stored key code and modifier bits). Returns hotKeyNoError and sets `ref`
    // on success; otherwise a status, hotKeyTaken when another client holds the combination.
    virtual int registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) = 0;
    virtual void unregisterHotKey(HotKeyRef ref) = 0;
    // Installs the one handler of hot-key events; false when this desktop cannot deliver any.
    virtual bool installEventHandler(Handler handler) = 0;
    // Whether pressed and released events reach the handler.
    virtual void setHotKeyEventsEnabled(bool enabled) = 0;
};

// The current keyboard layout.
class KeyboardLayout {
public:
    KeyboardLayout() = default;
    virtual ~KeyboardLayout() = default;
    KeyboardLayout(const KeyboardLayout&) = delete;
    KeyboardLayout& operator=(const KeyboardLayout&) = delete;

    // What the key at this stored key code types without modifiers in the current layout; empty when the
    // layout cannot be read or the key types nothing.
    virtual QString unshiftedText(int keyCode) const = 0;
};

}  // namespace nimbrel
