#include "KeyboardShortcuts/SpecialKey.h"

#include "KeyboardShortcuts/Key.h"

#include <QHash>
#include <QKeySequence>

namespace nimbrel::KeyboardShortcuts {

namespace {

struct Entry {
    SpecialKey key;
    int code;
    Qt::Key qtKey;            // the key as Qt names it
    bool keypad;              // named with Qt's keypad prefix ("Num+5")
    const char16_t* menuKey;  // nullptr: none
};

// The 53 special keys in case order. Function keys use the platform's private-use function-key
// characters (F1 = U+F704 … F20 = U+F717) as menu key equivalents. Names follow the physical key a
// hot key grabs (see KeyCodes): on a PC keyboard "help" is Insert and the keypad's "clear" is Num Lock.
constexpr Entry entries[specialKeyCount] = {
    {SpecialKey::returnKey, Key::returnKey, Qt::Key_Return, false, u"\u21A9"},
    {SpecialKey::deleteKey, Key::deleteKey, Qt::Key_Backspace, false, u"\u232B"},
    {SpecialKey::deleteForward, Key::deleteForward, Qt::Key_Delete, false, u"\u2326"},
    {SpecialKey::end, Key::end, Qt::Key_End, false, u"\u2198"},
    {SpecialKey::escape, Key::escape, Qt::Key_Escape, false, u"\u238B"},
    {SpecialKey::help, Key::help, Qt::Key_Insert, false, u"?\u20DD"},
    {SpecialKey::home, Key::home, Qt::Key_Home, false, u"\u2196"},
    {SpecialKey::space, Key::space, Qt::Key_Space, false, u" "},
    {SpecialKey::tab, Key::tab, Qt::Key_Tab, false, u"\u21E5"},
    {SpecialKey::pageUp, Key::pageUp, Qt::Key_PageUp, false, u"\u21DE"},
    {SpecialKey::pageDown, Key::pageDown, Qt::Key_PageDown, false, u"\u21DF"},
    {SpecialKey::upArrow, Key::upArrow, Qt::Key_Up, false, u"\u2191"},
    {SpecialKey::rightArrow, Key::rightArrow, Qt::Key_Right, false, u"\u2192"},
    {SpecialKey::downArrow, Key::downArrow, Qt::Key_Down, false, u"\u2193"},
    {SpecialKey::leftArrow, Key::leftArrow, Qt::Key_Left, false, u"\u2190"},
    {SpecialKey::f1, Key::f1, Qt::Key_F1, false, u"\uF704"},
    {SpecialKey::f2, Key::f2, Qt::Key_F2, false, u"\uF705"},
    {SpecialKey::f3, Key::f3, Qt::Key_F3, false, u"\uF706"},
    {SpecialKey::f4, Key::f4, Qt::Key_F4, false, u"\uF707"},
    {SpecialKey::f5, Key::f5, Qt::Key_F5, false, u"\uF708"},
    {SpecialKey::f6, Key::f6, Qt::Key_F6, false, u"\uF709"},
    {SpecialKey::f7, Key::f7, Qt::Key_F7, false, u"\uF70A"},
    {SpecialKey::f8, Key::f8, Qt::Key_F8, false, u"\uF70B"},
    {SpecialKey::f9, Key::f9, Qt::Key_F9, false, u"\uF70C"},
    {SpecialKey::f10, Key::f10, Qt::Key_F10, false, u"\uF70D"},
    {SpecialKey::f11, Key::f11, Qt::Key_F11, false, u"\uF70E"},
    {SpecialKey::f12, Key::f12, Qt::Key_F12, false, u"\uF70F"},
    {SpecialKey::f13, Key::f13, Qt::Key_F13, false, u"\uF710"},
    {SpecialKey::f14, Key::f14, Qt::Key_F14, false, u"\uF711"},
    {SpecialKey::f15, Key::f15, Qt::Key_F15, false, u"\uF712"},
    {SpecialKey::f16, Key::f16, Qt::Key_F16, false, u"\uF713"},
    {SpecialKey::f17, Key::f17, Qt::Key_F17, false, u"\uF714"},
    {SpecialKey::f18, Key::f18, Qt::Key_F18, false, u"\uF715"},
    {SpecialKey::f19, Key::f19, Qt::Key_F19, false, u"\uF716"},
    {SpecialKey::f20, Key::f20, Qt::Key_F20, false, u"\uF717"},
    {SpecialKey::keypad0, Key::keypad0, Qt::Key_0, true, nullptr},
    {SpecialKey::keypad1, Key::keypad1, Qt::Key_1, true, nullptr},
    {SpecialKey::keypad2, Key::keypad2, Qt::Key_2, true, nullptr},
    {SpecialKey::keypad3, Key::keypad3, Qt::Key_3, true, nullptr},
    {SpecialKey::keypad4, Key::keypad4, Qt::Key_4, true, nullptr},
    {SpecialKey::keypad5, Key::keypad5, Qt::Key_5, true, nullptr},
    {SpecialKey::keypad6, Key::keypad6, Qt::Key_6, true, nullptr},
    {SpecialKey::keypad7, Key::keypad7, Qt::Key_7, true, nullptr},
    {SpecialKey::keypad8, Key::keypad8, Qt::Key_8, true, nullptr},
    {SpecialKey::keypad9, Key::keypad9, Qt::Key_9, true, nullptr},
    {SpecialKey::keypadClear, Key::keypadClear, Qt::Key_NumLock, false, nullptr},
    {SpecialKey::keypadDecimal, Key::keypadDecimal, Qt::Key_Period, true, nullptr},
    {SpecialKey::keypadDivide, Key::keypadDivide, Qt::Key_Slash, true, nullptr},
    {SpecialKey::keypadEnter, Key::keypadEnter, Qt::Key_Enter, true, nullptr},
    {SpecialKey::keypadEquals, Key::keypadEquals, Qt::Key_Equal, true, nullptr},
    {SpecialKey::keypadMinus, Key::keypadMinus, Qt::Key_Minus, true, nullptr},
    {SpecialKey::keypadMultiply, Key::keypadMultiply, Qt::Key_Asterisk, true, nullptr},
    {SpecialKey::keypadPlus, Key::keypadPlus, Qt::Key_Plus, true, nullptr},
};

constexpr bool entriesFollowCaseOrder()
{
    for (int i = 0; i < specialKeyCount; ++i)
        if (static_cast<int>(entries[i].key) != i)
            return false;
    return true;
}
static_assert(entriesFollowCaseOrder(), "one entry per case, in case order");

const Entry& entry(SpecialKey key)
{
    return entries[static_cast<int>(key)];
}

}  // namespace

const std::array<SpecialKey, specialKeyCount>& allSpecialKeys()
{
    static const std::array<SpecialKey, specialKeyCount> keys = [] {
        std::array<SpecialKey, specialKeyCount> all{};
        for (int i = 0; i < specialKeyCount; ++i)
            all[i] = entries[i].key;
        return all;
    }();
    return keys;
}

int keyCode(SpecialKey key)
{
    return entry(key).code;
}

std::optional<SpecialKey> specialKey(int keyCode)
{
    // Built once, on first use; immutable afterwards.
    static const QHash<int, SpecialKey> byCode = [] {
        QHash<int, SpecialKey> table;
        for (const Entry& e : entries)
            table.insert(e.code, e.key);
        return table;
    }();
    const auto found = byCode.constFind(keyCode);
    if (found == byCode.cend())
        return std::nullopt;
    return *found;
}

QKeyCombination qtKeyCombination(SpecialKey key)
{
    const Entry& e = entry(key);
    return QKeyCombination(e.keypad ? Qt::KeypadModifier : Qt::NoModifier, e.qtKey);
}

QString presentableDescription(SpecialKey key)
{
    return QKeySequence(qtKeyCombination(key)).toString(QKeySequence::NativeText);
}

std::optional<QString> menuKeyEquivalent(SpecialKey key)
{
    const Entry& e = entry(key);
    if (!e.menuKey)
        return std::nullopt;
    return QString::fromUtf16(e.menuKey);
}

}  // namespace nimbrel::KeyboardShortcuts
