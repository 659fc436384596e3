#pragma once

#include "platform/KeyboardSynthesizer.h"

namespace nimbrel::native {

// Key synthesis through the X server's XTest extension. The V is found by its symbol in the current
// keymap, so Ctrl+V means paste on any keyboard layout.
class XTestKeyboard final : public KeyboardSynthesizer {
public:
    XTestKeyboard();

    bool isAvailable() const override { return m_available; }
    bool modifiersHeld() const override;
    void post(const QList<SyntheticKey>& keys) override;

private:
    bool m_available = false;
};

}  // namespace nimbrel::native
