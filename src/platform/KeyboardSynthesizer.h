#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace nimbrel {

// The X keysyms of the keys the built-in paste chords use.
namespace keysym {
inline constexpr quint32 v = 0x0076;
inline constexpr quint32 insert = 0xff63;
}  // namespace keysym

// One synthesized key transition, the key named by its X keysym.
struct SyntheticKey {
    quint32 keysym;
    bool down;
    friend bool operator==(const SyntheticKey&, const SyntheticKey&) = default;
};

// A key combination: the modifiers held while one key is pressed.
struct KeyChord {
    enum Modifier : quint8 { control = 1, shift = 2, alt = 4, super = 8 };
    quint8 modifiers = 0;
    quint32 keysym = 0;

    // The chord in Qt's portable text ("Ctrl+Shift+V", "Shift+Insert", "Meta+F5"): Ctrl, Shift, Alt and
    // Meta (Super) with one letter, digit, Space, Return, Tab, Insert or F1–F12. Absent for anything else.
    static std::optional<KeyChord> fromText(const QString& text);
    // The modifiers down (Control, Shift, Alt, Super), the key down and up, the modifiers up in reverse.
    QList<SyntheticKey> transitions() const;

    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

// Types keys into whatever application has the keyboard focus.
class KeyboardSynthesizer {
public:
    KeyboardSynthesizer() = default;
    virtual ~KeyboardSynthesizer() = default;
    KeyboardSynthesizer(const KeyboardSynthesizer&) = delete;
    KeyboardSynthesizer& operator=(const KeyboardSynthesizer&) = delete;

    // Whether keys can be synthesized at all on this desktop (the X server's XTest extension).
    virtual bool isAvailable() const = 0;
    // Whether Shift, Control, Alt or Super is physically held down right now.
    virtual bool modifiersHeld() const = 0;
    // A fixed wait before typing where the held modifiers cannot be read and the keyboard comes back to the
    // application only after Nimbrel's panel has gone (Wayland); 0 where the modifiers are watched instead.
    virtual int settleMs() const { return 0; }
    // Posts the transitions in order; none of them when the keyboard lacks one of their keys.
    virtual void post(const QList<SyntheticKey>& keys) = 0;
};

}  // namespace nimbrel
