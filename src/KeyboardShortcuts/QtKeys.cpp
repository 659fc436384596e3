#include "KeyboardShortcuts/QtKeys.h"

#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/SpecialKey.h"

#include <utility>

namespace nimbrel::KeyboardShortcuts {

namespace {

// The keys that are not special keys, by what they type on a US keyboard (unshifted), and the few keys
// that type nothing but have a Qt name.
// clang-format off
constexpr std::pair<int, Qt::Key> characterKeys[] = {
    {Key::a, Qt::Key_A}, {Key::b, Qt::Key_B}, {Key::c, Qt::Key_C}, {Key::d, Qt::Key_D}, {Key::e, Qt::Key_E},
    {Key::f, Qt::Key_F}, {Key::g, Qt::Key_G}, {Key::h, Qt::Key_H}, {Key::i, Qt::Key_I}, {Key::j, Qt::Key_J},
    {Key::k, Qt::Key_K}, {Key::l, Qt::Key_L}, {Key::m, Qt::Key_M}, {Key::n, Qt::Key_N}, {Key::o, Qt::Key_O},
    {Key::p, Qt::Key_P}, {Key::q, Qt::Key_Q}, {Key::r, Qt::Key_R}, {Key::s, Qt::Key_S}, {Key::t, Qt::Key_T},
    {Key::u, Qt::Key_U}, {Key::v, Qt::Key_V}, {Key::w, Qt::Key_W}, {Key::x, Qt::Key_X}, {Key::y, Qt::Key_Y},
    {Key::z, Qt::Key_Z}, {Key::zero, Qt::Key_0}, {Key::one, Qt::Key_1}, {Key::two, Qt::Key_2},
    {Key::three, Qt::Key_3}, {Key::four, Qt::Key_4}, {Key::five, Qt::Key_5}, {Key::six, Qt::Key_6},
    {Key::seven, Qt::Key_7}, {Key::eight, Qt::Key_8}, {Key::nine, Qt::Key_9}, {Key::comma, Qt::Key_Comma},
    {Key::period, Qt::Key_Period}, {Key::slash, Qt::Key_Slash}, {Key::semicolon, Qt::Key_Semicolon},
    {Key::quote, Qt::Key_Apostrophe}, {Key::backslash, Qt::Key_Backslash}, {Key::backtick, Qt::Key_QuoteLeft},
    {Key::leftBracket, Qt::Key_BracketLeft}, {Key::rightBracket, Qt::Key_BracketRight}, {Key::minus, Qt::Key_Minus},
    {Key::equal, Qt::Key_Equal}, {Key::contextualMenu, Qt::Key_Menu}, {Key::volumeUp, Qt::Key_VolumeUp},
    {Key::volumeDown, Qt::Key_VolumeDown}, {Key::mute, Qt::Key_VolumeMute},
};
// clang-format on

}  // namespace

Qt::KeyboardModifiers qtModifiersFromKeyModifiers(int keyModifiers)
{
    Qt::KeyboardModifiers modifiers;
    if (keyModifiers & modShift)
        modifiers |= Qt::ShiftModifier;
    if (keyModifiers & modControl)
        modifiers |= Qt::ControlModifier;
    if (keyModifiers & modAlt)
        modifiers |= Qt::AltModifier;
    if (keyModifiers & modSuper)
        modifiers |= Qt::MetaModifier;
    return modifiers;
}

std::optional<QKeyCombination> qtKeyCombination(int keyCode, int keyModifiers)
{
    if (keyModifiers & modFunction)
        return std::nullopt;
    const Qt::KeyboardModifiers modifiers = qtModifiersFromKeyModifiers(keyModifiers);
    if (const auto special = specialKey(keyCode)) {
        const QKeyCombination key = qtKeyCombination(*special);
        return QKeyCombination(key.keyboardModifiers() | modifiers, key.key());
    }
    for (const auto& [code, key] : characterKeys)
        if (code == keyCode)
            return QKeyCombination(modifiers, key);
    return std::nullopt;
}

}  // namespace nimbrel::KeyboardShortcuts
