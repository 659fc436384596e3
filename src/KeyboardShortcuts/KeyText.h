#pragma once

#include "KeyboardShortcuts/Shortcut.h"

#include <QString>

#include <optional>

namespace nimbrel {
class KeyboardLayout;
}

namespace nimbrel::KeyboardShortcuts {

// How the desktop writes a key combination; chosen once, from the desktop Nimbrel runs on.
enum class ShortcutNotation {
    // GTK's accelerator labels (GNOME, XFCE, Cinnamon, MATE, sway, …): Shift, Ctrl, Alt, Super, then the key
    // ("Shift+Super+V").
    gtk,
    // Qt's native text, as KDE Plasma writes shortcuts: Meta, Ctrl, Alt, Shift, then the key ("Meta+Shift+V").
    kde,
};

// The notation of the desktop named by XDG_CURRENT_DESKTOP (a colon-separated list such as "ubuntu:GNOME"):
// KDE's when the list names KDE, GTK's otherwise.
ShortcutNotation notationForDesktop(const QString& currentDesktop);

// What a key types in the current layout without modifiers, when that is exactly one user-perceived
// character. Nothing for the special keys, for a key that types nothing, and for a longer text.
std::optional<QString> keyToCharacter(int keyCode, const KeyboardLayout& layout);

// The first letter of each word in upper (title) case; the rest is left as it is.
QString capitalized(const QString& text);

// How a key shows in a shortcut: Qt's name for a special key, otherwise its character capitalized, or
// U+FFFD when the layout gives none.
QString keyDisplayText(int keyCode, const KeyboardLayout& layout);

// The display text of a shortcut in the desktop's notation: the modifiers, then the key, joined by "+".
// The function modifier, which only a stored shortcut can carry, reads "Fn" after the others.
QString description(const Shortcut& shortcut, const KeyboardLayout& layout, ShortcutNotation notation);

// The key string a menu item would carry for this shortcut's key: the special key's menu equivalent
// (none for keypad keys) or the layout's character.
std::optional<QString> menuItemKeyText(const Shortcut& shortcut, const KeyboardLayout& layout);

}  // namespace nimbrel::KeyboardShortcuts
