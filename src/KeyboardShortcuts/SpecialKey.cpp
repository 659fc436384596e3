#include "KeyboardShortcuts/SpecialKey.h"

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyText.h"

#include <QHash>

namespace nimbrel::KeyboardShortcuts {

namespace {

struct Entry {
    SpecialKey key;
    int code;
    const char16_t* display;  // nullptr: looked up (space)
    const char16_t* menuKey;  // nullptr: none
};

// The 53 special keys in case order. Function keys use the platform's private-use function-key
// characters (F1 = U+F704 … F20 = U+F717) as menu key equivalents.
constexpr Entry entries[specialKeyCount] = {
    {SpecialKey::returnKey, Key::returnKey, u"\u21A9", u"\u21A9"},
    {SpecialKey::deleteKey, Key::deleteKey, u"\u232B", u"\u232B"},
    {SpecialKey::deleteForward, Key::deleteForward, u"\u2326", u"\u2326"},
    {SpecialKey::end, Key::end, u"\u2198", u"\u2198"},
    {SpecialKey::escape, Key::escape, u"\u238B", u"\u238B"},
    {SpecialKey::help, Key::help, u"?\u20DD", u"?\u20DD"},
    {SpecialKey::home, Key::home, u"\u2196", u"\u2196"},
    {SpecialKey::space, Key::space, nullptr, u" "},
    {SpecialKey::tab, Key::tab, u"\u21E5", u"\u21E5"},
    {SpecialKey::pageUp, Key::pageUp, u"\u21DE", u"\u21DE"},
    {SpecialKey::pageDown, Key::pageDown, u"\u21DF", u"\u21DF"},
    {SpecialKey::upArrow, Key::upArrow, u"\u2191", u"\u2191"},
    {SpecialKey::rightArrow, Key::rightArrow, u"\u2192", u"\u2192"},
    {SpecialKey::downArrow, Key::downArrow, u"\u2193", u"\u2193"},
    {SpecialKey::leftArrow, Key::leftArrow, u"\u2190", u"\u2190"},
    {SpecialKey::f1, Key::f1, u"F1", u"\uF704"},
    {SpecialKey::f2, Key::f2, u"F2", u"\uF705"},
    {SpecialKey::f3, Key::f3, u"F3", u"\uF706"},
    {SpecialKey::f4, Key::f4, u"F4", u"\uF707"},
    {SpecialKey::f5, Key::f5, u"F5", u"\uF708"},
    {SpecialKey::f6, Key::f6, u"F6", u"\uF709"},
    {SpecialKey::f7, Key::f7, u"F7", u"\uF70A"},
    {SpecialKey::f8, Key::f8, u"F8", u"\uF70B"},
    {SpecialKey::f9, Key::f9, u"F9", u"\uF70C"},
    {SpecialKey::f10, Key::f10, u"F10", u"\uF70D"},
    {SpecialKey::f11, Key::f11, u"F11", u"\uF70E"},
    {SpecialKey::f12, Key::f12, u"F12", u"\uF70F"},
    {SpecialKey::f13, Key::f13, u"F13", u"\uF710"},
    {SpecialKey::f14, Key::f14, u"F14", u"\uF711"},
    {SpecialKey::f15, Key::f15, u"F15", u"\uF712"},
    {SpecialKey::f16, Key::f16, u"F16", u"\uF713"},
    {SpecialKey::f17, Key::f17, u"F17", u"\uF714"},
    {SpecialKey::f18, Key::f18, u"F18", u"\uF715"},
    {SpecialKey::f19, Key::f19, u"F19", u"\uF716"},
    {SpecialKey::f20, Key::f20, u"F20", u"\uF717"},
    {SpecialKey::keypad0, Key::keypad0, u"0\u20E3", nullptr},
    {SpecialKey::keypad1, Key::keypad1, u"1\u20E3", nullptr},
    {SpecialKey::keypad2, Key::keypad2, u"2\u20E3", nullptr},
    {SpecialKey::keypad3, Key::keypad3, u"3\u20E3", nullptr},
    {SpecialKey::keypad4, Key::keypad4, u"4\u20E3", nullptr},
    {SpecialKey::keypad5, Key::keypad5, u"5\u20E3", nullptr},
    {SpecialKey::keypad6, Key::keypad6, u"6\u20E3", nullptr},
    {SpecialKey::keypad7, Key::keypad7, u"7\u20E3", nullptr},
    {SpecialKey::keypad8, Key::keypad8, u"8\u20E3", nullptr},
    {SpecialKey::keypad9, Key::keypad9, u"9\u20E3", nullptr},
    {SpecialKey::keypadClear, Key::keypadClear, u"\u2612\u20E3", nullptr},
    {SpecialKey::keypadDecimal, Key::keypadDecimal, u".\u20E3", nullptr},
    {SpecialKey::keypadDivide, Key::keypadDivide, u"/\u20E3", nullptr},
    {SpecialKey::keypadEnter, Key::keypadEnter, u"\u21A9\u20E3", nullptr},
    {SpecialKey::keypadEquals, Key::keypadEquals, u"=\u20E3", nullptr},
    {SpecialKey::keypadMinus, Key::keypadMinus, u"-\u20E3", nullptr},
    {SpecialKey::keypadMultiply, Key::keypadMultiply, u"*\u20E3", nullptr},
    {SpecialKey::keypadPlus, Key::keypadPlus, u"+\u20E3", nullptr},
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

std::optional<SpecialKey> specialKey(int carbonKeyCode)
{
    // Built once, on first use; immutable afterwards.
    static const QHash<int, SpecialKey> byCode = [] {
        QHash<int, SpecialKey> table;
        for (const Entry& e : entries)
            table.insert(e.code, e.key);
        return table;
    }();
    const auto found = byCode.constFind(carbonKeyCode);
    if (found == byCode.cend())
        return std::nullopt;
    return *found;
}

QString presentableDescription(SpecialKey key, const Strings& strings)
{
    const Entry& e = entry(key);
    if (!e.display)
        return capitalized(localizedString(strings, QStringLiteral("space_key")));
    return QString::fromUtf16(e.display);
}

std::optional<QString> menuKeyEquivalent(SpecialKey key)
{
    const Entry& e = entry(key);
    if (!e.menuKey)
        return std::nullopt;
    return QString::fromUtf16(e.menuKey);
}

}  // namespace nimbrel::KeyboardShortcuts
