#pragma once

#include "platform/KeyboardSynthesizer.h"

namespace nimbrel::fake {

// Records what it is asked to type; the test says whether modifiers are held.
class FakeKeyboard final : public KeyboardSynthesizer {
public:
    bool isAvailable() const override { return available; }
    bool modifiersHeld() const override
    {
        ++modifierChecks;
        return heldForChecks > 0 && modifierChecks <= heldForChecks;
    }
    void post(const QList<SyntheticKey>& keys) override { posted.append(keys); }

    bool available = true;
    // modifiersHeld() answers true for this many checks, then false.
    int heldForChecks = 0;
    mutable int modifierChecks = 0;
    QList<SyntheticKey> posted;
};

}  // namespace nimbrel::fake
