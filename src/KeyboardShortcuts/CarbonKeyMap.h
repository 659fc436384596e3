#pragma once

#include <QtGlobal>

#include <optional>

namespace nimbrel::KeyboardShortcuts {

// Shortcuts are stored in Carbon virtual key codes and modifier bits. On Linux a key is the physical key
// at that position: Carbon code ↔ evdev code (the X keycode is the evdev code + 8), whatever the layout.
std::optional<int> evdevFromCarbon(int carbonKeyCode);
std::optional<int> carbonFromEvdev(int evdevCode);
inline std::optional<int> x11KeycodeFromCarbon(int carbonKeyCode)
{
    const auto evdev = evdevFromCarbon(carbonKeyCode);
    return evdev ? std::optional<int>(*evdev + 8) : std::nullopt;
}
inline std::optional<int> carbonFromX11Keycode(int keycode) { return carbonFromEvdev(keycode - 8); }

// Carbon modifier bits.
inline constexpr int carbonCommand = 0x100;
inline constexpr int carbonShift = 0x200;
inline constexpr int carbonOption = 0x800;
inline constexpr int carbonControl = 0x1000;
inline constexpr int carbonFunction = 0x20000;

// X11 modifier state ↔ Carbon bits: Shift ↔ shift, Control ↔ control, Mod1 (Alt) ↔ option, Mod4 (Super)
// ↔ command. Lock keys and the other modifiers are dropped; function has no X11 counterpart.
int carbonModifiersFromX11State(quint32 state);
quint32 x11StateFromCarbonModifiers(int carbonModifiers);

}  // namespace nimbrel::KeyboardShortcuts
