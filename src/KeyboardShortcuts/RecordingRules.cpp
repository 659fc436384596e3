#include "KeyboardShortcuts/RecordingRules.h"

#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/SpecialKey.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <utility>

namespace nimbrel::KeyboardShortcuts {

namespace {

// Qt keys by the physical key that types them on an ANSI keyboard.
constexpr std::pair<int, int> qtKeyTable[] = {
    {Qt::Key_A, Key::a},
    {Qt::Key_B, Key::b},
    {Qt::Key_C, Key::c},
    {Qt::Key_D, Key::d},
    {Qt::Key_E, Key::e},
    {Qt::Key_F, Key::f},
    {Qt::Key_G, Key::g},
    {Qt::Key_H, Key::h},
    {Qt::Key_I, Key::i},
    {Qt::Key_J, Key::j},
    {Qt::Key_K, Key::k},
    {Qt::Key_L, Key::l},
    {Qt::Key_M, Key::m},
    {Qt::Key_N, Key::n},
    {Qt::Key_O, Key::o},
    {Qt::Key_P, Key::p},
    {Qt::Key_Q, Key::q},
    {Qt::Key_R, Key::r},
    {Qt::Key_S, Key::s},
    {Qt::Key_T, Key::t},
    {Qt::Key_U, Key::u},
    {Qt::Key_V, Key::v},
    {Qt::Key_W, Key::w},
    {Qt::Key_X, Key::x},
    {Qt::Key_Y, Key::y},
    {Qt::Key_Z, Key::z},
    {Qt::Key_0, Key::zero},
    {Qt::Key_1, Key::one},
    {Qt::Key_2, Key::two},
    {Qt::Key_3, Key::three},
    {Qt::Key_4, Key::four},
    {Qt::Key_5, Key::five},
    {Qt::Key_6, Key::six},
    {Qt::Key_7, Key::seven},
    {Qt::Key_8, Key::eight},
    {Qt::Key_9, Key::nine},
    {Qt::Key_Comma, Key::comma},
    {Qt::Key_Period, Key::period},
    {Qt::Key_Slash, Key::slash},
    {Qt::Key_Semicolon, Key::semicolon},
    {Qt::Key_Apostrophe, Key::quote},
    {Qt::Key_Backslash, Key::backslash},
    {Qt::Key_QuoteLeft, Key::backtick},
    {Qt::Key_BracketLeft, Key::leftBracket},
    {Qt::Key_BracketRight, Key::rightBracket},
    {Qt::Key_Minus, Key::minus},
    {Qt::Key_Equal, Key::equal},
    {Qt::Key_F1, Key::f1},
    {Qt::Key_F2, Key::f2},
    {Qt::Key_F3, Key::f3},
    {Qt::Key_F4, Key::f4},
    {Qt::Key_F5, Key::f5},
    {Qt::Key_F6, Key::f6},
    {Qt::Key_F7, Key::f7},
    {Qt::Key_F8, Key::f8},
    {Qt::Key_F9, Key::f9},
    {Qt::Key_F10, Key::f10},
    {Qt::Key_F11, Key::f11},
    {Qt::Key_F12, Key::f12},
    {Qt::Key_F13, Key::f13},
    {Qt::Key_F14, Key::f14},
    {Qt::Key_F15, Key::f15},
    {Qt::Key_F16, Key::f16},
    {Qt::Key_F17, Key::f17},
    {Qt::Key_F18, Key::f18},
    {Qt::Key_F19, Key::f19},
    {Qt::Key_F20, Key::f20},
    {Qt::Key_Escape, Key::escape},
    {Qt::Key_Tab, Key::tab},
    {Qt::Key_Backtab, Key::tab},
    {Qt::Key_Backspace, Key::deleteKey},
    {Qt::Key_Delete, Key::deleteForward},
    {Qt::Key_Return, Key::returnKey},
    {Qt::Key_Enter, Key::keypadEnter},
    {Qt::Key_Space, Key::space},
    {Qt::Key_Home, Key::home},
    {Qt::Key_End, Key::end},
    {Qt::Key_PageUp, Key::pageUp},
    {Qt::Key_PageDown, Key::pageDown},
    {Qt::Key_Up, Key::upArrow},
    {Qt::Key_Down, Key::downArrow},
    {Qt::Key_Left, Key::leftArrow},
    {Qt::Key_Right, Key::rightArrow},
    {Qt::Key_Help, Key::help},
};

bool isModifierKey(int qtKey)
{
    switch (qtKey) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Meta:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Mode_switch:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_Hyper_L:
        case Qt::Key_Hyper_R:
        case Qt::Key_CapsLock:
        case Qt::Key_NumLock:
        case Qt::Key_ScrollLock:
            return true;
        default:
            return false;
    }
}

bool isDeleteKey(int keyCode)
{
    return keyCode == Key::deleteKey || keyCode == Key::deleteForward;
}

}  // namespace

bool isFunctionKey(int keyCode)
{
    const auto special = specialKey(keyCode);
    return special && *special >= SpecialKey::f1 && *special <= SpecialKey::f20;
}

RecorderDecision decideRecording(const KeyEvent& event, const MenuLookup& menus, const SystemLookup& system)
{
    using Kind = RecorderDecision::Kind;
    if (event.type != KeyEvent::Type::keyDown)
        return {Kind::ignore, std::nullopt, {}};

    const quint32 flags = event.eventFlags;
    if ((flags & anyModifierMask) == 0) {
        if (event.keyCode == Key::tab)
            return {Kind::passOnAndEnd, std::nullopt, {}};
        if (event.keyCode == Key::escape)
            return {Kind::endKeeping, std::nullopt, {}};
        if (isDeleteKey(event.keyCode))
            return {Kind::clear, std::nullopt, {}};
    }
    if ((flags & commandModifierMask) == 0 && !isFunctionKey(event.keyCode))
        return {Kind::beep, std::nullopt, {}};

    const auto shortcut = Shortcut::fromEvent(event);
    if (!shortcut)
        return {Kind::ignore, std::nullopt, {}};
    if (menus) {
        if (const auto title = menus(*shortcut))
            return {Kind::menuConflict, shortcut, *title};
    }
    const bool plainF12 = shortcut->keyCode == Key::f12 && shortcut->keyModifiers == 0;
    if (!plainF12 && system && system(*shortcut))
        return {Kind::systemConflict, shortcut, {}};
    return {Kind::accept, shortcut, {}};
}

std::optional<int> keyCodeFromQtKey(int qtKey)
{
    for (const auto& [qt, code] : qtKeyTable)
        if (qt == qtKey)
            return code;
    return std::nullopt;
}

quint32 eventFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    quint32 flags = 0;
    if (modifiers & Qt::ControlModifier)
        flags |= eventControl;
    if (modifiers & Qt::AltModifier)
        flags |= eventAlt;
    if (modifiers & Qt::ShiftModifier)
        flags |= eventShift;
    if (modifiers & Qt::MetaModifier)
        flags |= eventSuper;
    if (modifiers & Qt::KeypadModifier)
        flags |= eventKeypad;
    return flags;
}

KeyEvent keyEventFromQt(const QKeyEvent& event)
{
    KeyEvent result;
    if (event.type() == QEvent::KeyPress)
        result.type = KeyEvent::Type::keyDown;
    else if (event.type() == QEvent::KeyRelease)
        result.type = KeyEvent::Type::keyUp;
    if (isModifierKey(event.key())) {
        // Modifiers going down are part of a combination, not one of their own.
        result.type = KeyEvent::Type::other;
        return result;
    }

    std::optional<int> keyCode;
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb") && event.nativeScanCode() != 0;
    if (x11) {
        keyCode = keyCodeFromX11Keycode(static_cast<int>(event.nativeScanCode()));
        result.eventFlags = eventFlagsFromModifiers(modifiersFromX11State(event.nativeModifiers()));
    } else {
        keyCode = keyCodeFromQtKey(event.key());
        result.eventFlags = eventFlagsFromQt(event.modifiers());
    }
    if (!keyCode) {
        result.type = KeyEvent::Type::other;
        return result;
    }
    result.keyCode = *keyCode;
    return result;
}

bool menuItemMatches(QString itemKey, quint32 itemModifiers, const QString& shortcutKey, quint32 shortcutModifiers)
{
    if ((shortcutModifiers & eventShift) && itemKey.toLower() != itemKey) {
        itemKey = itemKey.toLower();
        itemModifiers |= eventShift;
    }
    return !shortcutKey.isEmpty() && itemKey == shortcutKey && itemModifiers == shortcutModifiers;
}

}  // namespace nimbrel::KeyboardShortcuts
