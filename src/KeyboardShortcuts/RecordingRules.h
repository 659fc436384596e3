#pragma once

#include "KeyboardShortcuts/Shortcut.h"

#include <QString>

#include <functional>
#include <optional>

class QKeyEvent;

namespace nimbrel::KeyboardShortcuts {

// Any modifier that makes a key press more than a plain key: shift, control, option, command, function
// and help. Caps lock and the numeric-pad bit do not count.
inline constexpr quint32 anyModifierMask = 0xFFDE0000;
// The modifiers a shortcut needs unless its key is a function key: control, option, command and help.
// Shift, function, caps lock and the numeric-pad bit do not count.
inline constexpr quint32 commandModifierMask = 0xFF5C0000;
inline constexpr quint32 eventKeypad = 0x200000;

// What the recorder does with one key press while it records.
struct RecorderDecision {
    enum class Kind {
        ignore,          // not a key press (a modifier going down): swallowed, recording goes on
        passOnAndEnd,    // Tab: recording ends and focus moves on as usual
        endKeeping,      // Escape: recording ends, the shortcut stays as it was
        clear,           // Delete or Backspace: the shortcut is cleared, recording goes on
        beep,            // a plain key that cannot be a shortcut on its own
        menuConflict,    // one of Nimbrel's own menu items has this key equivalent
        systemConflict,  // the desktop uses this combination itself
        accept,
    };
    Kind kind = Kind::ignore;
    std::optional<Shortcut> shortcut;
    QString menuItemTitle;  // for menuConflict
};

// Looks the shortcut up among Nimbrel's menus: the title of the first item with that key equivalent.
using MenuLookup = std::function<std::optional<QString>(const Shortcut&)>;
// Whether the desktop's own bindings contain the shortcut (read afresh on every call).
using SystemLookup = std::function<bool(const Shortcut&)>;

// The recording rules for one key press, in order: Tab, Escape and Delete without modifiers; the beep for
// keys without a command modifier unless they are F1…F20; the menu conflict; the desktop conflict (never
// for a plain F12); otherwise the shortcut is accepted.
RecorderDecision decideRecording(const KeyEvent& event, const MenuLookup& menus, const SystemLookup& system);

// True for F1…F20, the function keys a shortcut may use without a modifier.
bool isFunctionKey(int keyCode);

// A Qt key press as the recorder sees it. On X11 the physical key and the modifier state come from the
// native event (so the layout does not matter, as for the global hot keys); elsewhere (and in tests on the
// offscreen platform) the Qt key and modifiers stand in. Presses of modifier keys and keys without a
// stored key code come back as Type::other.
KeyEvent keyEventFromQt(const QKeyEvent& event);
// The stored key code of a Qt key, by the key's ANSI position; nothing when there is none.
std::optional<int> keyCodeFromQtKey(int qtKey);
// Event-flag modifiers from Qt's: Control → control, Alt → option, Shift → shift, Meta (Super) → command.
quint32 eventFlagsFromQt(Qt::KeyboardModifiers modifiers);

// Whether a menu item's key equivalent (its key string and event-flag modifiers) is the shortcut's
// (`shortcutKey`, the shortcut's menu key string). An upper-case item string stands for its lower-case
// key with shift, as menus write it.
bool menuItemMatches(QString itemKey, quint32 itemModifiers, const QString& shortcutKey, quint32 shortcutModifiers);

}  // namespace nimbrel::KeyboardShortcuts
