#pragma once

#include "platform/KeyboardSynthesizer.h"

#include <QSet>

namespace nimbrel {
class Console;
}

namespace nimbrel::native {

// Key synthesis through the X server's XTest extension. Each key is found by its symbol in the current
// keymap, so Ctrl+V means paste on any keyboard layout. A symbol the keymap lacks is reported once.
class XTestKeyboard final : public KeyboardSynthesizer {
public:
    explicit XTestKeyboard(Console& console);

    bool isAvailable() const override { return m_available; }
    bool modifiersHeld() const override;
    void post(const QList<SyntheticKey>& keys) override;

private:
    Console& m_console;
    bool m_available = false;
    QSet<quint32> m_reportedMissing;
};

}  // namespace nimbrel::native
