#pragma once

#include <QList>

namespace nimbrel {

// One synthesized key transition. Only the paste chord is ever typed.
struct SyntheticKey {
    enum class Key { control, v };
    Key key;
    bool down;
    friend bool operator==(const SyntheticKey&, const SyntheticKey&) = default;
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
    // Posts the transitions in order.
    virtual void post(const QList<SyntheticKey>& keys) = 0;
};

}  // namespace nimbrel
