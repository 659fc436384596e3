#include "platform/KeyboardSynthesizer.h"

#include <QKeySequence>

namespace nimbrel {

namespace {

struct ModifierKey {
    KeyChord::Modifier modifier;
    Qt::KeyboardModifier qt;
    quint32 keysym;  // the left-hand key
};
// In the order they go down.
constexpr ModifierKey modifierKeys[] = {
    {KeyChord::control, Qt::ControlModifier, 0xffe3},
    {KeyChord::shift, Qt::ShiftModifier, 0xffe1},
    {KeyChord::alt, Qt::AltModifier, 0xffe9},
    {KeyChord::super, Qt::MetaModifier, 0xffeb},
};

std::optional<quint32> keysymOf(Qt::Key key)
{
    // Letters by their lower-case symbol, the one the unshifted key carries.
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 0x61 + (key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return 0x30 + (key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return 0xffbe + (key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Space:
            return 0x0020;
        case Qt::Key_Return:
            return 0xff0d;
        case Qt::Key_Tab:
            return 0xff09;
        case Qt::Key_Insert:
            return keysym::insert;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<KeyChord> KeyChord::fromText(const QString& text)
{
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    if (sequence.count() != 1)
        return std::nullopt;
    const QKeyCombination combination = sequence[0];
    const auto symbol = keysymOf(combination.key());
    if (!symbol)
        return std::nullopt;
    KeyChord chord{0, *symbol};
    Qt::KeyboardModifiers rest = combination.keyboardModifiers();
    for (const ModifierKey& key : modifierKeys) {
        if (rest.testFlag(key.qt))
            chord.modifiers |= key.modifier;
        rest.setFlag(key.qt, false);
    }
    if (rest != Qt::NoModifier)
        return std::nullopt;  // the keypad or group switch: not a key of its own
    return chord;
}

QList<SyntheticKey> KeyChord::transitions() const
{
    QList<SyntheticKey> keys;
    for (const ModifierKey& key : modifierKeys)
        if (modifiers & key.modifier)
            keys.append({key.keysym, true});
    const qsizetype held = keys.size();
    keys.append({keysym, true});
    keys.append({keysym, false});
    for (qsizetype i = held - 1; i >= 0; --i)
        keys.append({keys[i].keysym, false});
    return keys;
}

}  // namespace nimbrel
