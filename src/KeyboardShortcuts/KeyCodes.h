#pragma once

#include <QtGlobal>

#include <optional>

namespace nimbrel::KeyboardShortcuts {

// Shortcuts are stored in stored key codes and modifier bits. On Linux a key is the physical key
// at that position: stored key code ↔ evdev code (the X keycode is the evdev code + 8), whatever the layout.
std::optional<int> evdevFromKeyCode(int keyCode);
std::optional<int> keyCodeFromEvdev(int evdevCode);
inline std::optional<int> x11KeycodeFromKeyCode(int keyCode)
{
    const auto evdev = evdevFromKeyCode(keyCode);
    return evdev ? std::optional<int>(*evdev + 8) : std::nullopt;
}
inline std::optional<int> keyCodeFromX11Keycode(int keycode) { return keyCodeFromEvdev(keycode - 8); }

// stored modifier bits.
inline constexpr int modSuper = 0x100;
inline constexpr int modShift = 0x200;
inline constexpr int modAlt = 0x800;
inline constexpr int modControl = 0x1000;
inline constexpr int modFunction = 0x20000;

// X11 modifier state ↔ stored modifier bits: Shift ↔ shift, Control ↔ control, Mod1 (Alt) ↔ option, Mod4 (Super)
// ↔ command. Lock keys and the other modifiers are dropped; function has no X11 counterpart.
int modifiersFromX11State(quint32 state);
quint32 x11StateFromModifiers(int keyModifiers);

}  // namespace nimbrel::KeyboardShortcuts
