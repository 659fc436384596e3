#pragma once

#include "KeyboardShortcuts/Shortcut.h"
#include "KeyboardShortcuts/Strings.h"

#include <QString>

#include <optional>

namespace nimbrel {
class KeyboardLayout;
}

namespace nimbrel::KeyboardShortcuts {

// What a key types in the current layout without modifiers, when that is exactly one user-perceived
// character. Nothing for the special keys, for a key that types nothing, and for a longer text.
std::optional<QString> keyToCharacter(int carbonKeyCode, const KeyboardLayout& layout);

// The first letter of each word in upper (title) case; the rest is left as it is.
QString capitalized(const QString& text);

// How a key shows in a shortcut: its symbol or name for a special key, otherwise its character
// capitalized, or U+FFFD when the layout gives none.
QString keyDisplayText(int carbonKeyCode, const KeyboardLayout& layout, const Strings& strings);

// The display text of a shortcut: the modifier symbols (⌃⌥⇧⌘🌐︎ order), then the key ("⇧⌘V").
QString description(const Shortcut& shortcut, const KeyboardLayout& layout, const Strings& strings);

// The key string a menu item would carry for this shortcut's key: the special key's menu equivalent
// (none for keypad keys) or the layout's character.
std::optional<QString> nsMenuItemKeyEquivalent(const Shortcut& shortcut, const KeyboardLayout& layout);

}  // namespace nimbrel::KeyboardShortcuts
