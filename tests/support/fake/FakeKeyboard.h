#pragma once

#include "platform/KeyboardSynthesizer.h"

namespace nimbrel::fake {

// Records what it is asked to type; the test says whether modifiers are held.
class FakeKeyboard final : public KeyboardSynthesizer {
public:
    bool isAvailable() const override { return available; }
    bool modifiersHeld() const override { return ++m_modifierChecks <= heldForChecks; }
    void post(const QList<SyntheticKey>& keys) override { posted.append(keys); }

    bool available = true;
    // modifiersHeld() answers true for this many checks, then false.
    int heldForChecks = 0;
    QList<SyntheticKey> posted;

private:
    mutable int m_modifierChecks = 0;
};

}  // namespace nimbrel::fake
