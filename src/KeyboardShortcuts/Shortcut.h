#pragma once

#include "KeyboardShortcuts/Key.h"

#include <QHashFunctions>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace nimbrel::KeyboardShortcuts {

// Modifier bits in the event-flag units a key event carries (the recorder and menus speak these).
inline constexpr quint32 eventControl = 0x40000;
inline constexpr quint32 eventAlt = 0x80000;
inline constexpr quint32 eventShift = 0x20000;
inline constexpr quint32 eventSuper = 0x100000;
inline constexpr quint32 eventFunction = 0x800000;

// The five modifiers a shortcut keeps; both conversions drop every other bit.
int modifiersFromEventFlags(quint32 eventFlags);
quint32 eventFlagsFromModifiers(int keyModifiers);

// A key event as the recorder sees it: what happened, which key, and the modifiers held.
struct KeyEvent {
    enum class Type { keyDown, keyUp, other };
    Type type = Type::other;
    int keyCode = 0;
    quint32 eventFlags = 0;
};

// One key combination in stored units, the form it is stored and registered in.
struct Shortcut {
    int keyCode = 0;
    int keyModifiers = 0;

    Shortcut() = default;
    Shortcut(int keyCode, int modifiers) : keyCode(keyCode), keyModifiers(modifiers) {}
    // A key with modifiers in event-flag units.
    static Shortcut fromKey(Key key, quint32 eventFlags);
    // Only key-down and key-up events make a shortcut. The function modifier is dropped, so a recorded
    // shortcut never carries it.
    static std::optional<Shortcut> fromEvent(const KeyEvent& event);

    // The modifiers in event-flag units (five bits at most).
    quint32 modifiers() const { return eventFlagsFromModifiers(keyModifiers); }

    // The stored form: {"carbonKeyCode":9,"carbonModifiers":768}.
    QString toJson() const;
    // Reads the stored form in either member order. Both members must be integers within the range of
    // `int`; other members are ignored. Anything else gives no shortcut.
    static std::optional<Shortcut> fromJson(const QString& json);

    friend bool operator==(const Shortcut&, const Shortcut&) = default;
};

inline size_t qHash(const Shortcut& shortcut, size_t seed = 0) noexcept
{
    return qHashMulti(seed, shortcut.keyCode, shortcut.keyModifiers);
}

}  // namespace nimbrel::KeyboardShortcuts
