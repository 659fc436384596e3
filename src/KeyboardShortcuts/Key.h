#pragma once

namespace nimbrel::KeyboardShortcuts {

// A physical key by its stored key code. Any code is allowed; the named ones are the keys of the
// stored format (letters and punctuation by their position on an ANSI keyboard).
struct Key {
    // clang-format off
    enum Code : int {
        a = 0x00, b = 0x0B, c = 0x08, d = 0x02, e = 0x0E, f = 0x03, g = 0x05, h = 0x04, i = 0x22,
        j = 0x26, k = 0x28, l = 0x25, m = 0x2E, n = 0x2D, o = 0x1F, p = 0x23, q = 0x0C, r = 0x0F,
        s = 0x01, t = 0x11, u = 0x20, v = 0x09, w = 0x0D, x = 0x07, y = 0x10, z = 0x06,

        zero = 0x1D, one = 0x12, two = 0x13, three = 0x14, four = 0x15,
        five = 0x17, six = 0x16, seven = 0x1A, eight = 0x1C, nine = 0x19,

        comma = 0x2B, period = 0x2F, slash = 0x2C, semicolon = 0x29, quote = 0x27, backslash = 0x2A,
        backtick = 0x32, leftBracket = 0x21, rightBracket = 0x1E, minus = 0x1B, equal = 0x18,
        isoSection = 0x0A, jisYen = 0x5D, jisUnderscore = 0x5E, jisKeypadComma = 0x5F, jisEisu = 0x66,
        jisKana = 0x68,

        f1 = 0x7A, f2 = 0x78, f3 = 0x63, f4 = 0x76, f5 = 0x60, f6 = 0x61, f7 = 0x62, f8 = 0x64, f9 = 0x65,
        f10 = 0x6D, f11 = 0x67, f12 = 0x6F, f13 = 0x69, f14 = 0x6B, f15 = 0x71, f16 = 0x6A, f17 = 0x40,
        f18 = 0x4F, f19 = 0x50, f20 = 0x5A,

        keypad0 = 0x52, keypad1 = 0x53, keypad2 = 0x54, keypad3 = 0x55, keypad4 = 0x56,
        keypad5 = 0x57, keypad6 = 0x58, keypad7 = 0x59, keypad8 = 0x5B, keypad9 = 0x5C,
        keypadClear = 0x47, keypadDecimal = 0x41, keypadDivide = 0x4B, keypadEnter = 0x4C,
        keypadEquals = 0x51, keypadMinus = 0x4E, keypadMultiply = 0x43, keypadPlus = 0x45,

        upArrow = 0x7E, rightArrow = 0x7C, downArrow = 0x7D, leftArrow = 0x7B,

        returnKey = 0x24, tab = 0x30, space = 0x31, deleteKey = 0x33, escape = 0x35, deleteForward = 0x75,
        help = 0x72, home = 0x73, end = 0x77, pageUp = 0x74, pageDown = 0x79, contextualMenu = 0x6E,

        command = 0x37, rightCommand = 0x36, shift = 0x38, rightShift = 0x3C, option = 0x3A,
        rightOption = 0x3D, control = 0x3B, rightControl = 0x3E, capsLock = 0x39, function = 0x3F,

        volumeUp = 0x48, volumeDown = 0x49, mute = 0x4A,
    };
    // clang-format on

    constexpr Key(int code) : rawValue(code) {}  // NOLINT: a key converts from its code on purpose
    int rawValue;

    friend constexpr bool operator==(Key, Key) = default;
};

}  // namespace nimbrel::KeyboardShortcuts
