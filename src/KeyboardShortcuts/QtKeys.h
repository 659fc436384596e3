#pragma once

#include <QKeyCombination>

#include <optional>

namespace nimbrel::KeyboardShortcuts {

// The Qt modifiers of stored modifier bits: command ↔ Meta (the Super/Windows key), option ↔ Alt. The
// function modifier has no Qt counterpart and is dropped.
Qt::KeyboardModifiers qtModifiersFromKeyModifiers(int keyModifiers);

// A stored shortcut as Qt names it, for desktop services that take Qt key codes. A key that types a
// character is named by what the US layout types there (the key left of 1 is `, whatever the user's layout
// says); special keys by their function, keypad keys with the keypad modifier. Nothing for a key Qt has no
// name for at that position (the ISO and JIS extra keys) and for a shortcut with the function modifier.
std::optional<QKeyCombination> qtKeyCombination(int keyCode, int keyModifiers);

}  // namespace nimbrel::KeyboardShortcuts
