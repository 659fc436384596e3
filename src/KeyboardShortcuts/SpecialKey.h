#pragma once

#include <QKeyCombination>
#include <QString>

#include <array>
#include <optional>

namespace nimbrel::KeyboardShortcuts {

// The keys that show by their name rather than as the character the layout gives them.
// clang-format off
enum class SpecialKey {
    returnKey, deleteKey, deleteForward, end, escape, help, home, space, tab, pageUp, pageDown,
    upArrow, rightArrow, downArrow, leftArrow,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20,
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    keypadClear, keypadDecimal, keypadDivide, keypadEnter, keypadEquals, keypadMinus, keypadMultiply, keypadPlus,
};
// clang-format on

inline constexpr int specialKeyCount = 53;

// Every case, in declaration order.
const std::array<SpecialKey, specialKeyCount>& allSpecialKeys();

// The stored key code of the key.
int keyCode(SpecialKey key);
// The special key with this stored key code, if any.
std::optional<SpecialKey> specialKey(int keyCode);

// The key as Qt names it, with the keypad modifier for a key of the keypad.
QKeyCombination qtKeyCombination(SpecialKey key);
// How the key shows in a shortcut's display text: Qt's native name of the key ("Space", "PgUp", "Num+5"),
// in the language of the Qt translations the application has installed.
QString presentableDescription(SpecialKey key);
// The key string a menu item carries for this key; std::nullopt for the keypad keys.
std::optional<QString> menuKeyEquivalent(SpecialKey key);

}  // namespace nimbrel::KeyboardShortcuts
